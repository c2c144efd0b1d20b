// Flate decoder for PDF streams: zlib-wrapped Deflate data decoded straight into the caller's
// buffer, which is also the history that back-references copy from. Standalone: it needs
// nothing from the rest of the library, allocates nothing, and reports outcomes only as 0 / -1.
#include "pdfcore/inflate.h"

#include "pdfcore/deflate_tables.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace {

// Canonical Huffman codes are found with a lookup on the first few bits of the input. The
// table answers every code that fits in those bits; a longer code, or a bit pattern that no
// code starts with, is finished by counting codes per length one bit at a time. The counting
// is the rule that decides what an incomplete code does: a pattern without a code reads all
// 15 bits before it is an invalid code, so damaged data run out of input (-1) or stop as a
// data error (0) at exactly the same bit whichever way the symbol was found.

constexpr int k_max_bits = 15;     // longest code in Deflate
constexpr int k_max_lcodes = 286;  // literal/length symbols a dynamic block may code
constexpr int k_max_dcodes = 30;   // distance symbols
constexpr int k_fix_lcodes = 288;  // the fixed code also covers the invalid symbols 286 and 287
constexpr int k_len_root = 10;     // lookup bits for literal/length codes
constexpr int k_dist_root = 8;     // lookup bits for distance codes
constexpr int k_clen_root = 7;     // code length codes are at most 7 bits long

const auto &lens = k_deflate_len_base;
const auto &lext = k_deflate_len_extra;
const auto &dists = k_deflate_dist_base;
const auto &dext = k_deflate_dist_extra;
const auto &order = k_deflate_clen_order;

// k_fail becomes the call's -1; k_data_error ends decoding with what was produced; k_slow is
// the fast loop handing the rest of a block to the careful one.
enum status : int { k_ok = 0, k_data_error = 1, k_fail = -1, k_slow = 2 };

// What a decoded code means, resolved when the table is built so that the decoding loop
// needs no further lookups for lengths and distances.
enum entry_kind : uint8_t {
  k_literal,     // value: the byte, or for the code length code the symbol 0 to 18
  k_length,      // value: base length, extra: its extra bits
  k_end,         // end of block
  k_bad_symbol,  // fixed code symbols 286 and 287: they have a code but no meaning
  k_distance,    // value: base distance, extra: its extra bits
  k_invalid,     // no code matches within 15 bits
  k_long,        // lookup only: no code of root length or less; value is the prefix read
};

enum alphabet : uint8_t { k_alpha_litlen, k_alpha_dist, k_alpha_clen };

struct code_entry {
  uint16_t value;
  uint8_t kind;
  uint8_t len;    // bits of the code itself
  uint8_t extra;  // extra bits that follow it
};

// One canonical code: how many codes each bit length has (count[0]: symbols without a code),
// the symbols in code order (by length, equal lengths by symbol value), and the lookup on the
// first root_bits input bits. first and index are the counting state after root_bits lengths
// have passed without a match, where the counting of a long code picks up.
struct huff_code {
  int16_t *count;
  int16_t *symbol;
  code_entry *look;
  int root_bits;
  alphabet alpha;
  int first;
  int index;
};

// Output pointers frame the caller's buffer; the input runs from the byte after the 2-byte
// header to the end of the source. The bit buffer holds bitcnt unused bits, least significant
// first; every bit above them is either 0 or the true next bit of the input.
struct inflate_state {
  uint8_t *out_begin;
  uint8_t *out;
  uint8_t *out_end;
  const uint8_t *in;
  const uint8_t *in_end;
  uint64_t bitbuf;
  unsigned bitcnt;
  bool out_full;  // the call failed because the output buffer was too small
};

// The fixed codes of RFC 1951 section 3.2.6, built by the first fixed block of the process and
// read-only afterwards. The library serves one call at a time, so the build takes no lock.
int16_t lencnt[k_max_bits + 1], lensym[k_fix_lcodes];
code_entry lenlook[1 << k_len_root];
int16_t distcnt[k_max_bits + 1], distsym[k_max_dcodes];
code_entry distlook[1 << k_dist_root];
huff_code lencode = {lencnt, lensym, lenlook, k_len_root, k_alpha_litlen, 0, 0};
huff_code distcode = {distcnt, distsym, distlook, k_dist_root, k_alpha_dist, 0, 0};
bool virgin = true;

code_entry entry_for(alphabet alpha, int sym, int len) {
  code_entry e = {static_cast<uint16_t>(sym), k_literal, static_cast<uint8_t>(len), 0};
  if (alpha == k_alpha_dist) {
    e.kind = k_distance;
    e.value = dists[sym];
    e.extra = dext[sym];
  } else if (alpha == k_alpha_litlen && sym >= 256) {
    if (sym == 256) {
      e.kind = k_end;
    } else if (sym < k_max_lcodes) {
      e.kind = k_length;
      e.value = lens[sym - 257];
      e.extra = lext[sym - 257];
    } else {
      e.kind = k_bad_symbol;
    }
  }
  return e;
}

unsigned reverse_bits(unsigned v, int n) {
  unsigned r = 0;
  for (int i = 0; i < n; ++i) {
    r = (r << 1) | (v & 1);
    v >>= 1;
  }
  return r;
}

// Builds h from n code lengths (each 0 to 15). Returns 0 for a complete code (or one without
// any code), a positive number for an incomplete code and a negative one for an
// over-subscribed code, whose tables are then left unbuilt.
int construct(huff_code &h, const int16_t *length, int n) {
  for (int len = 0; len <= k_max_bits; ++len) h.count[len] = 0;
  for (int s = 0; s < n; ++s) ++h.count[length[s]];

  int left = 1;
  for (int len = 1; len <= k_max_bits; ++len) {
    left = 2 * left - h.count[len];
    if (left < 0) return left;
  }

  int offs[k_max_bits + 1];
  offs[1] = 0;
  for (int len = 1; len < k_max_bits; ++len) offs[len + 1] = offs[len] + h.count[len];
  for (int s = 0; s < n; ++s) {
    if (length[s] != 0) h.symbol[offs[length[s]]++] = static_cast<int16_t>(s);
  }

  // The lookup: every pattern starts as "long", carrying its bits in code order (first input
  // bit most significant) for the counting to continue from; the codes that fit overwrite
  // theirs. Input bits arrive least significant first, so a code's entries sit at its
  // reversed value plus every combination of the bits above it.
  const int root = h.root_bits;
  const unsigned size = 1u << root;
  for (unsigned i = 0; i < size; ++i) {
    h.look[i] = {static_cast<uint16_t>(reverse_bits(i, root)), k_long, 0, 0};
  }
  unsigned next[k_max_bits + 1];
  next[1] = 0;
  for (int len = 2; len <= k_max_bits; ++len) next[len] = (next[len - 1] + h.count[len - 1]) << 1;
  for (int s = 0; s < n; ++s) {
    const int len = length[s];
    if (len == 0) continue;
    const unsigned code = next[len]++;
    if (len > root) continue;
    const code_entry e = entry_for(h.alpha, s, len);
    for (unsigned i = reverse_bits(code, len); i < size; i += 1u << len) h.look[i] = e;
  }
  int first = 0, index = 0;
  for (int len = 1; len <= root; ++len) {
    index += h.count[len];
    first = (first + h.count[len]) << 1;
  }
  h.first = first;
  h.index = index;

  return h.count[0] == n ? 0 : left;
}

// Finishes a code that the lookup could not: the count per length, one bit at a time from
// length root_bits + 1 on. Bits beyond the ones really held are read as whatever the buffer
// has; the caller rejects any result longer than the bits it holds.
code_entry decode_long(const huff_code &h, uint64_t bitbuf, code_entry e) {
  int code = e.value << 1;
  int first = h.first;
  int index = h.index;
  for (int len = h.root_bits + 1; len <= k_max_bits; ++len) {
    code |= static_cast<int>(bitbuf >> (len - 1)) & 1;
    const int count = h.count[len];
    if (code - count < first) return entry_for(h.alpha, h.symbol[index + (code - first)], len);
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return {0, k_invalid, k_max_bits, 0};
}

inline code_entry lookup(const huff_code &h, uint64_t bitbuf) {
  const code_entry e = h.look[bitbuf & ((1u << h.root_bits) - 1)];
  return e.kind == k_long ? decode_long(h, bitbuf, e) : e;
}

// Loads whole bytes; afterwards the buffer holds 49 to 56 bits, or all that is left of the
// input when that is less. 49 covers the longest code and the longest run of extra bits.
inline void refill(inflate_state &s) {
  while (s.bitcnt <= 48 && s.in < s.in_end) {
    s.bitbuf |= static_cast<uint64_t>(*s.in++) << s.bitcnt;
    s.bitcnt += 8;
  }
}

// n bits (0 to 32) as a non-negative value, or -1 when the input ends first.
int bits(inflate_state &s, unsigned n) {
  if (s.bitcnt < n) {
    refill(s);
    if (s.bitcnt < n) return -1;
  }
  const int v = static_cast<int>(s.bitbuf & ((uint64_t{1} << n) - 1));
  s.bitbuf >>= n;
  s.bitcnt -= n;
  return v;
}

// One symbol. A code needs only its own bits: a symbol whose code the remaining input holds
// is decoded even when fewer than 15 bits are left.
int decode(inflate_state &s, const huff_code &h, code_entry &e) {
  if (s.bitcnt < k_max_bits) refill(s);
  e = lookup(h, s.bitbuf);
  if (e.len > s.bitcnt) return k_fail;
  s.bitbuf >>= e.len;
  s.bitcnt -= e.len;
  return e.kind == k_invalid ? k_data_error : k_ok;
}

inline uint64_t load_le64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The fast loop runs while 8 input bytes can be loaded at once and the output has room for
// the longest match plus the overshoot of a copy done in 16-byte pieces; then one symbol, all
// of whose bits (at most 15 + 5 + 15 + 13) come from one refill, can run out of neither.
constexpr ptrdiff_t k_fast_in = 8;
constexpr ptrdiff_t k_fast_out = 258 + 30;

int codes_fast(inflate_state &s, const huff_code &lcode, const huff_code &dcode) {
  const uint8_t *in = s.in;
  const uint8_t *const in_end = s.in_end;
  uint8_t *out = s.out;
  uint8_t *const out_begin = s.out_begin;
  uint8_t *const out_end = s.out_end;
  uint64_t bitbuf = s.bitbuf;
  unsigned bitcnt = s.bitcnt;
  const code_entry *const llook = lcode.look;
  const code_entry *const dlook = dcode.look;
  const uint64_t lmask = (1u << lcode.root_bits) - 1;
  const uint64_t dmask = (1u << dcode.root_bits) - 1;
  int result = k_slow;

  while (in_end - in >= k_fast_in && out_end - out >= k_fast_out) {
    // Whole bytes that fit are taken; the bits loaded above them are those of the next byte,
    // so loading them again at the next refill changes nothing.
    bitbuf |= load_le64(in) << bitcnt;
    in += (63 - bitcnt) >> 3;
    bitcnt |= 56;

    code_entry e = llook[bitbuf & lmask];
    if (e.kind == k_long) e = decode_long(lcode, bitbuf, e);
    bitbuf >>= e.len;
    bitcnt -= e.len;
    if (e.kind == k_literal) {
      *out++ = static_cast<uint8_t>(e.value);
      continue;
    }
    if (e.kind != k_length) {
      result = e.kind == k_end ? k_ok : k_data_error;
      break;
    }
    const unsigned len = e.value + static_cast<unsigned>(bitbuf & ((1u << e.extra) - 1));
    bitbuf >>= e.extra;
    bitcnt -= e.extra;

    code_entry d = dlook[bitbuf & dmask];
    if (d.kind == k_long) d = decode_long(dcode, bitbuf, d);
    if (d.kind != k_distance) {
      result = k_data_error;
      break;
    }
    bitbuf >>= d.len;
    bitcnt -= d.len;
    const size_t dist = d.value + static_cast<size_t>(bitbuf & ((1u << d.extra) - 1));
    bitbuf >>= d.extra;
    bitcnt -= d.extra;
    if (dist > static_cast<size_t>(out - out_begin)) {
      result = k_data_error;
      break;
    }

    const uint8_t *from = out - dist;
    uint8_t *const stop = out + len;
    if (dist >= 16) {
      do {
        std::memcpy(out, from, 16);
        out += 16;
        from += 16;
      } while (out < stop);
    } else if (dist == 1) {
      std::memset(out, *from, len);
    } else if (dist >= 8) {
      do {
        std::memcpy(out, from, 8);
        out += 8;
        from += 8;
      } while (out < stop);
    } else {
      // A distance shorter than the length repeats the last dist bytes; byte by byte
      // reads each one after it was written.
      do {
        *out++ = *from++;
      } while (out < stop);
    }
    out = stop;
  }

  s.in = in;
  s.out = out;
  s.bitbuf = bitbuf & ((uint64_t{1} << bitcnt) - 1);
  s.bitcnt = bitcnt;
  return result;
}

// The symbols of one compressed block, up to its end-of-block code. Near the end of the input
// or of the output each step checks exactly what it needs, so the outcome is that of taking
// the input bit by bit.
int codes(inflate_state &s, const huff_code &lcode, const huff_code &dcode) {
  const int fast = codes_fast(s, lcode, dcode);
  if (fast != k_slow) return fast;
  for (;;) {
    code_entry e;
    int r = decode(s, lcode, e);
    if (r != k_ok) return r;
    if (e.kind == k_literal) {
      if (s.out == s.out_end) return s.out_full = true, k_fail;
      *s.out++ = static_cast<uint8_t>(e.value);
      continue;
    }
    if (e.kind == k_end) return k_ok;
    if (e.kind != k_length) return k_data_error;

    const int len_extra = bits(s, e.extra);
    if (len_extra < 0) return k_fail;
    const size_t len = e.value + static_cast<size_t>(len_extra);
    code_entry d;
    r = decode(s, dcode, d);
    if (r != k_ok) return r;
    const int dist_extra = bits(s, d.extra);
    if (dist_extra < 0) return k_fail;
    const size_t dist = d.value + static_cast<size_t>(dist_extra);
    if (dist > static_cast<size_t>(s.out - s.out_begin)) return k_data_error;
    if (len > static_cast<size_t>(s.out_end - s.out)) return s.out_full = true, k_fail;
    const uint8_t *from = s.out - dist;
    for (size_t i = 0; i < len; ++i) *s.out++ = *from++;
  }
}

int stored(inflate_state &s) {
  // The block starts at the next byte boundary; whole bytes already loaded go back.
  s.in -= s.bitcnt >> 3;
  s.bitbuf = 0;
  s.bitcnt = 0;
  if (s.in_end - s.in < 4) return k_fail;
  const unsigned len = s.in[0] | (s.in[1] << 8);
  const unsigned nlen = s.in[2] | (s.in[3] << 8);
  s.in += 4;
  if (len != (~nlen & 0xffffu)) return k_data_error;
  if (static_cast<size_t>(s.in_end - s.in) < len) return k_fail;
  if (static_cast<size_t>(s.out_end - s.out) < len) return s.out_full = true, k_fail;
  if (len != 0) std::memcpy(s.out, s.in, len);
  s.out += len;
  s.in += len;
  return k_ok;
}

int fixed(inflate_state &s) {
  if (virgin) {
    int16_t lengths[k_fix_lcodes];
    int sym = 0;
    for (; sym < 144; ++sym) lengths[sym] = 8;
    for (; sym < 256; ++sym) lengths[sym] = 9;
    for (; sym < 280; ++sym) lengths[sym] = 7;
    for (; sym < k_fix_lcodes; ++sym) lengths[sym] = 8;
    construct(lencode, lengths, k_fix_lcodes);
    // Thirty 5-bit codes leave two patterns without a symbol: they are invalid codes.
    for (sym = 0; sym < k_max_dcodes; ++sym) lengths[sym] = 5;
    construct(distcode, lengths, k_max_dcodes);
    virgin = false;
  }
  return codes(s, lencode, distcode);
}

// A code built from a dynamic header is usable when complete, or when its only code is a
// single one-bit code (every length 0 or 1); a code without any code counts as complete.
bool usable(int left, const huff_code &h, int n) {
  return left == 0 || (left > 0 && h.count[0] + h.count[1] == n);
}

int dynamic(inflate_state &s) {
  const int nlen_bits = bits(s, 5);
  const int ndist_bits = bits(s, 5);
  const int ncode_bits = bits(s, 4);
  if (nlen_bits < 0 || ndist_bits < 0 || ncode_bits < 0) return k_fail;
  const int nlen = nlen_bits + 257;
  const int ndist = ndist_bits + 1;
  const int ncode = ncode_bits + 4;
  if (nlen > k_max_lcodes || ndist > k_max_dcodes) return k_data_error;

  int16_t lengths[k_max_lcodes + k_max_dcodes];
  int index = 0;
  for (; index < ncode; ++index) {
    const int v = bits(s, 3);
    if (v < 0) return k_fail;
    lengths[order[index]] = static_cast<int16_t>(v);
  }
  for (; index < 19; ++index) lengths[order[index]] = 0;

  int16_t clencnt[k_max_bits + 1], clensym[19];
  code_entry clenlook[1 << k_clen_root];
  huff_code clencode = {clencnt, clensym, clenlook, k_clen_root, k_alpha_clen, 0, 0};
  if (construct(clencode, lengths, 19) != 0) return k_data_error;

  index = 0;
  while (index < nlen + ndist) {
    code_entry e;
    const int r = decode(s, clencode, e);
    if (r != k_ok) return r;
    const int sym = e.value;
    if (sym < 16) {
      lengths[index++] = static_cast<int16_t>(sym);
      continue;
    }
    int16_t len = 0;
    int rep;
    if (sym == 16) {
      if (index == 0) return k_data_error;
      len = lengths[index - 1];
      rep = bits(s, 2);
      if (rep < 0) return k_fail;
      rep += 3;
    } else if (sym == 17) {
      rep = bits(s, 3);
      if (rep < 0) return k_fail;
      rep += 3;
    } else {
      rep = bits(s, 7);
      if (rep < 0) return k_fail;
      rep += 11;
    }
    if (index + rep > nlen + ndist) return k_data_error;
    while (rep-- > 0) lengths[index++] = len;
  }

  // Without a code for end-of-block the block could never end.
  if (lengths[256] == 0) return k_data_error;

  int16_t dlencnt[k_max_bits + 1], dlensym[k_max_lcodes];
  code_entry dlenlook[1 << k_len_root];
  huff_code dlencode = {dlencnt, dlensym, dlenlook, k_len_root, k_alpha_litlen, 0, 0};
  if (!usable(construct(dlencode, lengths, nlen), dlencode, nlen)) return k_data_error;

  // A distance code with no codes at all is allowed (a block of literals only); a length
  // symbol in such a block then meets an invalid distance code.
  int16_t ddistcnt[k_max_bits + 1], ddistsym[k_max_dcodes];
  code_entry ddistlook[1 << k_dist_root];
  huff_code ddistcode = {ddistcnt, ddistsym, ddistlook, k_dist_root, k_alpha_dist, 0, 0};
  if (!usable(construct(ddistcode, lengths + nlen, ndist), ddistcode, ndist)) {
    return k_data_error;
  }

  return codes(s, dlencode, ddistcode);
}

}  // namespace

int inflate_decompress_ex(const uint8_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap,
                          uint64_t *out_len, int *complete) {
  if (complete) *complete = 0;
  if (out_len == nullptr) return -1;
  *out_len = 0;
  if (src == nullptr || src_len < 2 || dst_cap > k_inflate_max_out) return -1;
  if (dst == nullptr && dst_cap != 0) return -1;
  // Only the method and the preset-dictionary flag matter: a PDF writer that gets the check
  // bits or the window size wrong still wrote decodable data.
  if ((src[0] & 0x0f) != 8 || (src[1] & 0x20) != 0) return -1;

  inflate_state s;
  s.out_begin = dst;
  s.out = dst;
  s.out_end = dst + dst_cap;
  s.in = src + 2;
  s.in_end = src + src_len;
  s.bitbuf = 0;
  s.bitcnt = 0;
  s.out_full = false;

  int r = k_ok;
  int last = 0;
  do {
    const int head = bits(s, 3);
    if (head < 0) return -1;
    last = head & 1;
    switch (head >> 1) {
      case 0: r = stored(s); break;
      case 1: r = fixed(s); break;
      case 2: r = dynamic(s); break;
      default: r = k_data_error; break;
    }
    if (r == k_fail) {
      if (s.out_full && complete) *complete = k_inflate_output_full;
      return -1;
    }
  } while (r == k_ok && !last);

  // The Adler-32 value after the last block is not checked: damaged data already yield what
  // came before the damage, and a wrong checksum over intact data changes nothing.
  *out_len = static_cast<uint64_t>(s.out - s.out_begin);
  if (complete) *complete = r == k_ok;
  return 0;
}

int inflate_decompress(const uint8_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap,
                       uint64_t *out_len) {
  return inflate_decompress_ex(src, src_len, dst, dst_cap, out_len, nullptr);
}
