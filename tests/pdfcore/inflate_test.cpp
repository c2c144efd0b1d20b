// Tests of the Flate decoder: round trips of zlib's output, the promised outcomes on damaged,
// truncated and hand-built streams, and agreement, outcome for outcome, with a plain
// bit-by-bit decoder kept here as the reference for the table-driven one.
#include "pdfcore/inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// The reference: the decoder described bit by bit, with count/symbol tables and nothing else.

namespace ref {

struct out_of_input {};
struct output_full {};

struct state {
  const uint8_t *in;
  size_t in_len, in_cnt;
  int bitbuf, bitcnt;
  uint8_t *out;
  size_t cap, cnt;
};

int bits(state &s, int need) {
  long val = s.bitbuf;
  while (s.bitcnt < need) {
    if (s.in_cnt == s.in_len) throw out_of_input{};
    val |= static_cast<long>(s.in[s.in_cnt++]) << s.bitcnt;
    s.bitcnt += 8;
  }
  s.bitbuf = static_cast<int>(val >> need);
  s.bitcnt -= need;
  return static_cast<int>(val & ((1L << need) - 1));
}

struct huff {
  short count[16];
  short symbol[288];
};

int construct(huff &h, const short *length, int n) {
  for (short &c : h.count) c = 0;
  for (int s = 0; s < n; ++s) h.count[length[s]]++;
  if (h.count[0] == n) return 0;
  int left = 1;
  for (int len = 1; len < 16; ++len) {
    left <<= 1;
    left -= h.count[len];
    if (left < 0) return left;
  }
  short offs[16];
  offs[1] = 0;
  for (int len = 1; len < 15; ++len) offs[len + 1] = static_cast<short>(offs[len] + h.count[len]);
  for (int s = 0; s < n; ++s)
    if (length[s] != 0) h.symbol[offs[length[s]]++] = static_cast<short>(s);
  return left;
}

// The symbol, or -1 for an invalid code.
int decode(state &s, const huff &h) {
  int code = 0, first = 0, index = 0;
  for (int len = 1; len < 16; ++len) {
    code |= bits(s, 1);
    const int count = h.count[len];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  return -1;
}

const short base_len[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short extra_len[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int base_dist[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                           33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const short extra_dist[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// 0: end of block, 1: data error.
int codes(state &s, const huff &lc, const huff &dc) {
  for (;;) {
    int sym = decode(s, lc);
    if (sym < 0) return 1;
    if (sym < 256) {
      if (s.cnt == s.cap) throw output_full{};
      s.out[s.cnt++] = static_cast<uint8_t>(sym);
    } else if (sym == 256) {
      return 0;
    } else {
      sym -= 257;
      if (sym >= 29) return 1;
      const size_t len = base_len[sym] + bits(s, extra_len[sym]);
      const int d = decode(s, dc);
      if (d < 0) return 1;
      const size_t dist = base_dist[d] + bits(s, extra_dist[d]);
      if (dist > s.cnt) return 1;
      if (s.cnt + len > s.cap) throw output_full{};
      for (size_t i = 0; i < len; ++i, ++s.cnt) s.out[s.cnt] = s.out[s.cnt - dist];
    }
  }
}

int stored(state &s) {
  s.bitbuf = 0;
  s.bitcnt = 0;
  if (s.in_len - s.in_cnt < 4) throw out_of_input{};
  const unsigned len = s.in[s.in_cnt] | (s.in[s.in_cnt + 1] << 8);
  const unsigned nlen = s.in[s.in_cnt + 2] | (s.in[s.in_cnt + 3] << 8);
  s.in_cnt += 4;
  if (len != (~nlen & 0xffff)) return 1;
  if (s.in_len - s.in_cnt < len) throw out_of_input{};
  if (s.cnt + len > s.cap) throw output_full{};
  if (len != 0) std::memcpy(s.out + s.cnt, s.in + s.in_cnt, len);
  s.cnt += len;
  s.in_cnt += len;
  return 0;
}

int fixed(state &s) {
  static huff lc, dc;
  static bool built = false;
  if (!built) {
    short l[288];
    for (int i = 0; i < 288; ++i) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    construct(lc, l, 288);
    for (short &v : l) v = 5;
    construct(dc, l, 30);
    built = true;
  }
  return codes(s, lc, dc);
}

int dynamic(state &s) {
  static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  const int nlen = bits(s, 5) + 257;
  const int ndist = bits(s, 5) + 1;
  const int ncode = bits(s, 4) + 4;
  if (nlen > 286 || ndist > 30) return 1;
  short lengths[320] = {};
  for (int i = 0; i < ncode; ++i) lengths[order[i]] = static_cast<short>(bits(s, 3));
  huff lc, dc;
  if (construct(lc, lengths, 19) != 0) return 1;
  int index = 0;
  while (index < nlen + ndist) {
    int sym = decode(s, lc);
    if (sym < 0) return 1;
    if (sym < 16) {
      lengths[index++] = static_cast<short>(sym);
      continue;
    }
    short len = 0;
    if (sym == 16) {
      if (index == 0) return 1;
      len = lengths[index - 1];
      sym = 3 + bits(s, 2);
    } else if (sym == 17) {
      sym = 3 + bits(s, 3);
    } else {
      sym = 11 + bits(s, 7);
    }
    if (index + sym > nlen + ndist) return 1;
    while (sym--) lengths[index++] = len;
  }
  if (lengths[256] == 0) return 1;
  int err = construct(lc, lengths, nlen);
  if (err < 0 || (err > 0 && nlen != lc.count[0] + lc.count[1])) return 1;
  err = construct(dc, lengths + nlen, ndist);
  if (err < 0 || (err > 0 && ndist != dc.count[0] + dc.count[1])) return 1;
  return codes(s, lc, dc);
}

int inflate(const uint8_t *src, uint64_t src_len, uint8_t *dst, uint64_t cap, uint64_t *out_len) {
  *out_len = 0;
  if (src_len < 2 || cap > k_inflate_max_out) return -1;
  if ((src[0] & 0x0f) != 8 || (src[1] & 0x20) != 0) return -1;
  state s = {src + 2, static_cast<size_t>(src_len - 2), 0, 0, 0, dst, static_cast<size_t>(cap), 0};
  try {
    int last, err;
    do {
      last = bits(s, 1);
      const int type = bits(s, 2);
      err = type == 0 ? stored(s) : type == 1 ? fixed(s) : type == 2 ? dynamic(s) : 1;
    } while (err == 0 && !last);
  } catch (const out_of_input &) {
    return -1;
  } catch (const output_full &) {
    return -1;
  }
  *out_len = s.cnt;
  return 0;
}

}  // namespace ref

// ---------------------------------------------------------------------------------------------
// Running the decoders.

struct outcome {
  int rc;
  bytes data;  // the first out_len bytes of the output buffer
  bool operator==(const outcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const outcome &o) {
  return os << "{rc " << o.rc << ", " << o.data.size() << " bytes}";
}

// Input and output sit in blocks of exactly their size, so a read or write past either end
// is caught by the sanitizer build.
template <class F>
outcome run(F decoder, const bytes &stream, uint64_t cap) {
  const bytes in(stream.begin(), stream.end());
  bytes out(cap);
  uint64_t n = 12345;
  const int rc = decoder(in.data(), in.size(), out.data(), cap, &n);
  if (rc != 0) {
    EXPECT_EQ(n, 0u) << "out_len must stay 0 on failure";
    return {rc, {}};
  }
  EXPECT_LE(n, cap);
  return {rc, bytes(out.begin(), out.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(n, cap)))};
}

outcome ours(const bytes &stream, uint64_t cap) { return run(inflate_decompress, stream, cap); }
outcome reference(const bytes &stream, uint64_t cap) { return run(ref::inflate, stream, cap); }

outcome ok(const bytes &data) { return {0, data}; }
const outcome k_failed = {-1, {}};

// ---------------------------------------------------------------------------------------------
// Inputs.

bytes text_like(size_t n, uint32_t seed) {
  static const char *words[] = {"the",   "page",  "stream", "object", "font",  "BT",    "ET",
                                "Tf",    "Tj",    "0",     "1",      "12",    "q",     "Q",
                                "cm",    "re",    "f",     "obj",    "endobj", "xref", "/Type",
                                "/Page", "blank", "scan",  "of",     "and",   "a",     "in"};
  std::mt19937 rng(seed);
  std::geometric_distribution<int> pick(0.15);
  bytes out;
  while (out.size() < n) {
    const char *w = words[pick(rng) % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::strlen(w));
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
    if (rng() % 50 == 0) {
      const int number = static_cast<int>(rng() % 100000);
      const std::string t = std::to_string(number);
      out.insert(out.end(), t.begin(), t.end());
    }
  }
  out.resize(n);
  return out;
}

bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out(n);
  for (auto &b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// Long runs of a few values, as in a scanned page: white with short dark marks.
bytes runs(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out;
  while (out.size() < n) {
    const uint8_t v = rng() % 4 == 0 ? static_cast<uint8_t>(rng()) : 0xff;
    const size_t len = v == 0xff ? 1 + rng() % 2000 : 1 + rng() % 12;
    out.insert(out.end(), len, v);
  }
  out.resize(n);
  return out;
}

// Random data repeated from up to the window's 32768 bytes back.
bytes far_repeats(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out = random_bytes(33000, seed);
  while (out.size() < n) {
    const size_t dist = 32768 - rng() % 64;
    const size_t len = 3 + rng() % 300;
    for (size_t i = 0; i < len; ++i) out.push_back(out[out.size() - dist]);
    out.push_back(static_cast<uint8_t>(rng()));
  }
  out.resize(n);
  return out;
}

// Text and random data in turn, so that block types change within the stream.
bytes mixed(size_t n, uint32_t seed) {
  bytes out;
  for (uint32_t i = 0; out.size() < n; ++i) {
    const bytes part = i % 2 ? random_bytes(5000 + i * 300, seed + i) : text_like(9000, seed + i);
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(n);
  return out;
}

bytes zcompress(const bytes &data, int level, int strategy = Z_DEFAULT_STRATEGY,
                int window_bits = 15, int mem_level = 8) {
  z_stream z = {};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy), Z_OK);
  bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<uint8_t *>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One stream in pieces with a flush mode and a level change between them: empty stored
// blocks, empty fixed blocks and blocks ending at odd bits follow each other.
bytes zcompress_flushed(const bytes &data, uint32_t seed) {
  std::mt19937 rng(seed);
  z_stream z = {};
  EXPECT_EQ(deflateInit(&z, 6), Z_OK);
  bytes out(deflateBound(&z, data.size()) + 64 * 1024);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  static const int flushes[] = {Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK};
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t piece = std::min<size_t>(data.size() - pos, 1 + rng() % 6000);
    z.next_in = const_cast<uint8_t *>(data.data() + pos);
    z.avail_in = static_cast<uInt>(piece);
    pos += piece;
    EXPECT_EQ(deflate(&z, flushes[rng() % 5]), Z_OK);
    if (rng() % 3 == 0) {
      EXPECT_EQ(deflateParams(&z, static_cast<int>(rng() % 10),
                              rng() % 4 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY),
                Z_OK);
    }
  }
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// zlib's own decoding of the Deflate data after the 2-byte header, as far as it gets.
struct zlib_outcome {
  int status;
  bytes data;
};

zlib_outcome zinflate_raw(const bytes &stream, size_t cap) {
  zlib_outcome r = {Z_STREAM_ERROR, bytes(cap)};
  z_stream z = {};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<uint8_t *>(stream.data() + 2);
  z.avail_in = static_cast<uInt>(stream.size() - 2);
  z.next_out = r.data.data();
  z.avail_out = static_cast<uInt>(cap);
  r.status = inflate(&z, Z_FINISH);
  r.data.resize(z.total_out);
  inflateEnd(&z);
  return r;
}

bytes concat(bytes a, const bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int first_block_type(const bytes &stream) { return (stream[2] >> 1) & 3; }

// ---------------------------------------------------------------------------------------------
// Hand-built streams.

struct bit_writer {
  bytes out = {0x78, 0x9c};
  uint32_t acc = 0;
  int n = 0;

  bit_writer &put(uint32_t v, int count) {
    for (int i = 0; i < count; ++i) {
      acc |= ((v >> i) & 1u) << n;
      if (++n == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        n = 0;
      }
    }
    return *this;
  }
  // Huffman codes go most significant bit first.
  bit_writer &code(uint32_t c, int len) {
    for (int i = len - 1; i >= 0; --i) put((c >> i) & 1u, 1);
    return *this;
  }
  bit_writer &block(bool last, int type) { return put(last, 1).put(static_cast<uint32_t>(type), 2); }
  bit_writer &align() { return put(0, (8 - n) % 8); }
  bytes done() {
    align();
    return out;
  }
};

struct canonical {
  std::vector<int> len;
  std::vector<uint32_t> code;
  explicit canonical(std::vector<int> lengths) : len(std::move(lengths)), code(len.size()) {
    int count[16] = {};
    for (int l : len) count[l]++;
    count[0] = 0;
    uint32_t next[16] = {}, c = 0;
    for (int b = 1; b < 16; ++b) next[b] = c = (c + static_cast<uint32_t>(count[b - 1])) << 1;
    for (size_t s = 0; s < len.size(); ++s)
      if (len[s]) code[s] = next[len[s]]++;
  }
  void put(bit_writer &w, int sym) const { w.code(code[static_cast<size_t>(sym)], len[static_cast<size_t>(sym)]); }
};

// Fixed code symbols as RFC 1951 section 3.2.6 lays them out.
void put_fixed_lit(bit_writer &w, int sym) {
  if (sym < 144) w.code(0x30 + static_cast<uint32_t>(sym), 8);
  else if (sym < 256) w.code(0x190 + static_cast<uint32_t>(sym - 144), 9);
  else if (sym < 280) w.code(static_cast<uint32_t>(sym - 256), 7);
  else w.code(0xc0 + static_cast<uint32_t>(sym - 280), 8);
}

// A complete code length code (13 four-bit and 6 five-bit codes) sent in full.
const std::vector<int> k_clen_default = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};

// A dynamic block header: counts as given, the code length code lengths in their order, then
// the code length symbols (symbol, extra bits value).
struct dyn_header {
  dyn_header(int lit_count, int dist_count) : hlit(lit_count), hdist(dist_count) {}
  int hlit, hdist, hclen = 19;
  std::vector<int> clen = k_clen_default;
  std::vector<std::pair<int, int>> syms;

  void put(bit_writer &w) const {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w.put(static_cast<uint32_t>(hlit - 257), 5).put(static_cast<uint32_t>(hdist - 1), 5);
    w.put(static_cast<uint32_t>(hclen - 4), 4);
    for (int i = 0; i < hclen; ++i) w.put(static_cast<uint32_t>(clen[static_cast<size_t>(order[i])]), 3);
    const canonical cc(clen);
    for (auto [sym, extra] : syms) {
      cc.put(w, sym);
      if (sym == 16) w.put(static_cast<uint32_t>(extra), 2);
      if (sym == 17) w.put(static_cast<uint32_t>(extra), 3);
      if (sym == 18) w.put(static_cast<uint32_t>(extra), 7);
    }
  }
};

dyn_header header_for(const std::vector<int> &lit, const std::vector<int> &dist) {
  dyn_header h(static_cast<int>(lit.size()), static_cast<int>(dist.size()));
  for (int l : lit) h.syms.push_back({l, 0});
  for (int l : dist) h.syms.push_back({l, 0});
  return h;
}

// Literal/length lengths: the given symbols get the given lengths, all others none.
std::vector<int> lengths_with(int n, std::initializer_list<std::pair<int, int>> set) {
  std::vector<int> v(static_cast<size_t>(n), 0);
  for (auto [sym, len] : set) v[static_cast<size_t>(sym)] = len;
  return v;
}

// ---------------------------------------------------------------------------------------------
// Round trips.

struct data_kind {
  const char *name;
  bytes data;
};

std::vector<data_kind> data_kinds() {
  return {{"empty", {}},
          {"one_byte", {'x'}},
          {"text", text_like(60000, 1)},
          {"random", random_bytes(40000, 2)},
          {"runs", runs(120000, 3)},
          {"far_repeats", far_repeats(70000, 4)},
          {"mixed", mixed(80000, 5)}};
}

TEST(InflateRoundTrip, EveryLevelAndStrategyDecodesToTheOriginal) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE};
  for (const data_kind &k : data_kinds()) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
        const bytes z = zcompress(k.data, level, strategy);
        SCOPED_TRACE(std::string(k.name) + " level " + std::to_string(level) + " strategy " +
                     std::to_string(strategy));
        EXPECT_EQ(ours(z, k.data.size()), ok(k.data));
        EXPECT_EQ(ours(z, k.data.size() + 4096), ok(k.data));
      }
    }
  }
}

TEST(InflateRoundTrip, SmallWindowsFlushesAndLevelChanges) {
  const bytes text = text_like(50000, 11), mix = mixed(60000, 12);
  for (int wbits = 9; wbits <= 15; wbits += 3) {
    for (int mem = 1; mem <= 9; mem += 4) {
      EXPECT_EQ(ours(zcompress(text, 6, Z_DEFAULT_STRATEGY, wbits, mem), text.size()), ok(text));
      EXPECT_EQ(ours(zcompress(mix, 9, Z_DEFAULT_STRATEGY, wbits, mem), mix.size()), ok(mix));
    }
  }
  for (uint32_t seed = 0; seed < 12; ++seed) {
    const bytes &data = seed % 2 ? text : mix;
    const bytes z = zcompress_flushed(data, seed);
    EXPECT_EQ(ours(z, data.size()), ok(data)) << "seed " << seed;
    EXPECT_EQ(reference(z, data.size()), ok(data)) << "seed " << seed;
  }
}

TEST(InflateRoundTrip, StoredFixedAndDynamicBlocksAreAllExercised) {
  const bytes text = text_like(20000, 21);
  struct {
    int level, strategy, type;
  } cases[] = {{0, Z_DEFAULT_STRATEGY, 0}, {6, Z_FIXED, 1}, {1, Z_FIXED, 1}, {6, Z_DEFAULT_STRATEGY, 2},
               {9, Z_HUFFMAN_ONLY, 2}};
  for (auto c : cases) {
    const bytes z = zcompress(text, c.level, c.strategy);
    EXPECT_EQ(first_block_type(z), c.type) << "level " << c.level;
    EXPECT_EQ(ours(z, text.size()), ok(text)) << "level " << c.level;
    EXPECT_EQ(reference(z, text.size()), ok(text)) << "level " << c.level;
  }
}

// ---------------------------------------------------------------------------------------------
// Truncation and capacity.

TEST(InflateLimits, CutAnywhereBeforeTheLastBlockEndsFailsAndTheAdlerIsNotNeeded) {
  const bytes text = text_like(3000, 31);
  for (auto [level, strategy] : {std::pair{0, Z_DEFAULT_STRATEGY}, {6, Z_FIXED}, {6, Z_DEFAULT_STRATEGY}}) {
    const bytes z = zcompress(text, level, strategy);
    for (size_t cut = 0; cut <= z.size(); ++cut) {
      const bytes part(z.begin(), z.begin() + static_cast<ptrdiff_t>(cut));
      const outcome want = cut < z.size() - 4 ? k_failed : ok(text);
      ASSERT_EQ(ours(part, text.size()), want) << "level " << level << " cut " << cut;
    }
  }
}

TEST(InflateLimits, OutputMustFitTheBufferExactly) {
  const bytes text = text_like(70000, 41), run = runs(70000, 42);
  for (const bytes *data : {&text, &run}) {
    for (auto [level, strategy] : {std::pair{0, Z_DEFAULT_STRATEGY}, {6, Z_FIXED}, {6, Z_DEFAULT_STRATEGY}}) {
      const bytes z = zcompress(*data, level, strategy);
      const uint64_t n = data->size();
      EXPECT_EQ(ours(z, n), ok(*data));
      for (uint64_t cap : {n - 1, n - 2, n - 258, n - 300, n / 2, uint64_t{1}, uint64_t{0}}) {
        EXPECT_EQ(ours(z, cap), k_failed) << "level " << level << " cap " << cap;
      }
    }
  }
}

// Matches of every length end at every distance from the end of an exactly sized buffer, so
// a copy that writes ahead of itself would be caught (by the sanitizer build) past the end.
// Bytes after the stream keep the input from running low before the output does.
TEST(InflateLimits, LongCopiesCloseToTheEndOfTheBuffer) {
  for (size_t period : {1, 3, 9, 20, 300}) {
    const bytes pattern = random_bytes(period, static_cast<uint32_t>(period));
    for (size_t n = 1800; n < 2100; ++n) {
      bytes data(n);
      for (size_t i = 0; i < n; ++i) data[i] = pattern[i % period];
      const bytes z = zcompress(data, 6);
      ASSERT_EQ(ours(z, n), ok(data)) << "period " << period << " size " << n;
      ASSERT_EQ(ours(concat(z, bytes(32, 0)), n), ok(data)) << "period " << period << " size " << n;
      ASSERT_EQ(ours(concat(z, bytes(32, 0)), n - 1), k_failed) << "period " << period << " size " << n;
    }
  }
}

TEST(InflateLimits, EntryChecks) {
  const bytes good = zcompress(text_like(100, 51), 6);
  uint8_t out[200];
  uint64_t n = 7;
  EXPECT_EQ(inflate_decompress(good.data(), 0, out, sizeof out, &n), -1);
  EXPECT_EQ(inflate_decompress(good.data(), 1, out, sizeof out, &n), -1);
  EXPECT_EQ(n, 0u);
  // The capacity is refused before any output, however little the stream holds.
  EXPECT_EQ(inflate_decompress(good.data(), good.size(), out, k_inflate_max_out + 1, &n), -1);
  EXPECT_EQ(inflate_decompress(good.data(), good.size(), out, sizeof out, &n), 0);
  EXPECT_EQ(n, 100u);
}

// ---------------------------------------------------------------------------------------------
// Hand-built cases with known outcomes.

// A stream whose last byte holds bits the decoder needs, less that byte.
bytes without_last_byte(bytes s) {
  s.pop_back();
  return s;
}

bytes with_header(uint8_t cmf, uint8_t flg, const bytes &stream) {
  bytes s = stream;
  s[0] = cmf;
  s[1] = flg;
  return s;
}

bytes fixed_literals(const std::string &text, bool last) {
  bit_writer w;
  w.block(last, 1);
  for (unsigned char c : text) put_fixed_lit(w, c);
  put_fixed_lit(w, 256);
  return w.done();
}

struct edge_case {
  const char *name;
  bytes stream;
  uint64_t cap;
  outcome want;
};

std::vector<edge_case> edge_cases() {
  const bytes hello = {'h', 'e', 'l', 'l', 'o'};
  const bytes z_hello = zcompress(hello, 6);
  std::vector<edge_case> v;
  v.push_back({"header only", {0x78, 0x9c}, 100, k_failed});
  v.push_back({"empty final stored block", {0x78, 0x9c, 0x01, 0x00, 0x00, 0xff, 0xff}, 100, ok({})});
  v.push_back({"empty final stored block, no room at all", {0x78, 0x9c, 0x01, 0x00, 0x00, 0xff, 0xff}, 0, ok({})});
  v.push_back({"stored length header cut short", {0x78, 0x9c, 0x01, 0x05, 0x00, 0xfa}, 100, k_failed});
  v.push_back({"stored data cut short", {0x78, 0x9c, 0x01, 0x03, 0x00, 0xfc, 0xff, 'a', 'b'}, 100, k_failed});
  v.push_back({"stored NLEN wrong", {0x78, 0x9c, 0x01, 0x03, 0x00, 0xfc, 0xfe, 'a', 'b', 'c'}, 100, ok({})});
  v.push_back({"check bits wrong", with_header(0x78, 0x00, z_hello), 100, ok(hello)});
  v.push_back({"window size field ignored", with_header(0xf8, 0x00, z_hello), 100, ok(hello)});
  v.push_back({"method not 8", with_header(0x77, 0x9c, z_hello), 100, k_failed});
  v.push_back({"preset dictionary", with_header(0x78, 0xbb, z_hello), 100, k_failed});
  v.push_back({"no Adler-32", bytes(z_hello.begin(), z_hello.end() - 4), 100, ok(hello)});
  v.push_back({"junk after the stream", concat(z_hello, {1, 2, 3, 4, 5}), 100, ok(hello)});
  v.push_back({"exact capacity", z_hello, 5, ok(hello)});
  v.push_back({"one byte short", z_hello, 4, k_failed});

  // k stored bytes, then a block of type 3.
  {
    bit_writer w;
    w.block(false, 0).align().put(3, 16).put(0xfffc, 16).put('a', 8).put('b', 8).put('c', 8);
    w.block(true, 3);
    v.push_back({"block type 3 after 3 bytes", w.done(), 100, ok({'a', 'b', 'c'})});
  }
  // A fixed block cut in its middle, after some literals were decoded.
  {
    const bytes s = fixed_literals("abcdefgh", true);
    v.push_back({"cut mid-block", bytes(s.begin(), s.begin() + 6), 100, k_failed});
  }
  // One literal, then length 258 at distance 1.
  {
    bit_writer w;
    w.block(true, 1);
    put_fixed_lit(w, 'z');
    put_fixed_lit(w, 285);
    w.code(0, 5);
    put_fixed_lit(w, 256);
    v.push_back({"distance 1 length 258", w.done(), 1000, ok(bytes(259, 'z'))});
  }
  // Distance one beyond the output, after two literals.
  {
    bit_writer w;
    w.block(true, 1);
    put_fixed_lit(w, 'a');
    put_fixed_lit(w, 'b');
    put_fixed_lit(w, 257);
    w.code(2, 5);  // distance 3
    put_fixed_lit(w, 256);
    v.push_back({"distance beyond the output", w.done(), 100, ok({'a', 'b'})});
  }
  // Fixed symbols 286 and 287 have codes but no meaning.
  for (int sym : {286, 287}) {
    bit_writer w;
    w.block(true, 1);
    put_fixed_lit(w, 'a');
    put_fixed_lit(w, sym);
    w.put(0, 16);
    v.push_back({sym == 286 ? "fixed symbol 286" : "fixed symbol 287", w.done(), 100, ok({'a'})});
  }
  // Fixed distance patterns 30 and 31 have no symbol: an invalid code once 15 bits are read,
  // and a failure when the input ends before that.
  for (uint32_t pattern : {30u, 31u}) {
    bit_writer w;
    w.block(true, 1);
    put_fixed_lit(w, 'a');
    put_fixed_lit(w, 257);
    w.code(pattern, 5).put(0, 10);
    const bytes s = w.done();
    v.push_back({"fixed distance 30 or 31", s, 100, ok({'a'})});
    v.push_back({"fixed distance 30 or 31, input ends", without_last_byte(s), 100, k_failed});
  }
  // Raw Deflate data: no header, so the first bytes are taken for one.
  {
    const bytes raw_fixed = fixed_literals("raw", true);
    const bytes raw(raw_fixed.begin() + 2, raw_fixed.end());  // first byte 0x2b: method 11
    v.push_back({"raw deflate fails the header test", raw, 100, k_failed});
    v.push_back({"raw deflate whose first bytes pass", concat({0x08, 0x00}, raw), 100, ok({'r', 'a', 'w'})});
  }
  // Two blocks: output may reach back across the block boundary.
  {
    bit_writer w;
    w.block(false, 1);
    put_fixed_lit(w, 'x');
    put_fixed_lit(w, 'y');
    put_fixed_lit(w, 256);
    w.block(true, 1);
    put_fixed_lit(w, 258);  // length 4
    w.code(1, 5);           // distance 2
    put_fixed_lit(w, 256);
    v.push_back({"copy across blocks", w.done(), 100, ok({'x', 'y', 'x', 'y', 'x', 'y'})});
  }
  return v;
}

TEST(InflateEdgeCases, KnownOutcomes) {
  for (const edge_case &c : edge_cases()) {
    EXPECT_EQ(ours(c.stream, c.cap), c.want) << c.name;
    EXPECT_EQ(reference(c.stream, c.cap), c.want) << c.name;
  }
}

// Dynamic headers: each case is a header and some data after it.
struct dyn_case {
  const char *name;
  bytes stream;
  outcome want;
};

// A literal/length code of 'a', 'b', end-of-block and length symbol 257, all two bits long.
std::vector<int> abe_lit() { return lengths_with(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}); }

bytes dynamic_stream(const dyn_header &h, const std::vector<int> &lit, const std::vector<int> &dist,
                     std::initializer_list<std::pair<int, int>> body, int pad_bits = 16) {
  bit_writer w;
  w.block(true, 2);
  h.put(w);
  const canonical lc(lit), dc(dist.empty() ? std::vector<int>{0} : dist);
  // body: (literal/length symbol, -1) or (-2, distance symbol)
  for (auto [sym, d] : body) {
    if (sym >= 0) lc.put(w, sym);
    else dc.put(w, d);
  }
  w.put(0, pad_bits);
  return w.done();
}

std::vector<dyn_case> dynamic_cases() {
  std::vector<dyn_case> v;
  const std::vector<int> lit = abe_lit();
  const std::vector<int> one_dist = {1};  // a single one-bit distance code

  // Ends exactly where its end-of-block code does: short codes need no 15 bits of input.
  v.push_back({"plain dynamic block",
               dynamic_stream(header_for(lit, one_dist), lit, one_dist,
                              {{'a', 0}, {'b', 0}, {257, 0}, {-2, 0}, {256, 0}}, 0),
               ok({'a', 'b', 'b', 'b', 'b'})});
  {
    dyn_header h = header_for(lit, one_dist);
    h.hlit = 287;
    v.push_back({"HLIT 287", dynamic_stream(h, lit, one_dist, {}), ok({})});
  }
  {
    dyn_header h = header_for(lit, one_dist);
    h.hdist = 31;
    v.push_back({"HDIST 31", dynamic_stream(h, lit, one_dist, {}), ok({})});
  }
  {
    dyn_header h = header_for(lit, one_dist);
    h.clen = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 0};
    v.push_back({"code length code incomplete", dynamic_stream(h, lit, one_dist, {}), ok({})});
    h.clen = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 4};
    v.push_back({"code length code over-subscribed", dynamic_stream(h, lit, one_dist, {}), ok({})});
    // No code length codes at all: the first symbol reads 15 bits and is invalid.
    h.clen = std::vector<int>(19, 0);
    h.syms.clear();
    const bytes s = dynamic_stream(h, lit, one_dist, {}, 15);
    v.push_back({"code length code empty", s, ok({})});
    v.push_back({"code length code empty, input ends", without_last_byte(s), k_failed});
  }
  {
    dyn_header h = header_for(lit, one_dist);
    h.syms.insert(h.syms.begin(), {16, 0});
    v.push_back({"repeat before any length", dynamic_stream(h, lit, one_dist, {}), ok({})});
  }
  {
    dyn_header h = header_for(lit, one_dist);
    h.syms.pop_back();
    h.syms.push_back({17, 0});  // three zeros where one length is left
    v.push_back({"repeat past the end", dynamic_stream(h, lit, one_dist, {}), ok({})});
    h.syms.pop_back();
    h.syms.pop_back();
    h.syms.push_back({1, 0});
    h.syms.push_back({16, 0});  // three copies where one is left
    v.push_back({"copy past the end", dynamic_stream(h, lit, one_dist, {}), ok({})});
  }
  {
    // Zero runs (97 before 'a', 138 and 19 between 'b' and 256) and a copy of the last length.
    dyn_header h(258, 1);
    h.syms = {{18, 'a' - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {2, 0}, {16, 0}, {1, 0}};
    v.push_back({"repeat runs past HLIT into HDIST", dynamic_stream(h, lit, one_dist, {}), ok({})});
    h.syms = {{18, 'a' - 11}, {2, 0}, {2, 0}, {18, 138 - 11}, {18, 19 - 11}, {2, 0}, {2, 0}, {1, 0}};
    v.push_back({"repeat runs", dynamic_stream(h, lit, one_dist, {{'b', 0}, {'a', 0}, {256, 0}}),
                 ok({'b', 'a'})});
  }
  {
    const std::vector<int> no_eob = lengths_with(258, {{'a', 1}, {257, 1}});
    v.push_back({"end-of-block without a code",
                 dynamic_stream(header_for(no_eob, one_dist), no_eob, one_dist, {}), ok({})});
  }
  {
    const std::vector<int> over = lengths_with(258, {{'a', 1}, {'b', 2}, {256, 2}, {257, 2}});
    v.push_back({"literal code over-subscribed",
                 dynamic_stream(header_for(over, one_dist), over, one_dist, {}), ok({})});
    const std::vector<int> under = lengths_with(258, {{'a', 2}, {256, 2}, {257, 2}});
    v.push_back({"literal code incomplete",
                 dynamic_stream(header_for(under, one_dist), under, one_dist, {}), ok({})});
    const std::vector<int> two = {2, 2, 2};
    v.push_back({"distance code incomplete, not one bit",
                 dynamic_stream(header_for(lit, two), lit, two, {}), ok({})});
    const std::vector<int> over_dist = {1, 1, 1};
    v.push_back({"distance code over-subscribed",
                 dynamic_stream(header_for(lit, over_dist), lit, over_dist, {}), ok({})});
  }
  {
    // Only end-of-block has a code, one bit long: bit 0 ends the block, bit 1 starts a
    // pattern without a code that is invalid after 15 bits.
    const std::vector<int> eob_only = lengths_with(257, {{256, 1}});
    const dyn_header h = header_for(eob_only, one_dist);
    v.push_back({"single one-bit code", dynamic_stream(h, eob_only, one_dist, {{256, 0}}), ok({})});
    bit_writer w;
    w.block(true, 2);
    h.put(w);
    w.put(1, 1).put(0, 14);
    const bytes s = w.done();
    v.push_back({"single one-bit code, missing pattern", s, ok({})});
    v.push_back({"single one-bit code, missing pattern, input ends", without_last_byte(s), k_failed});
  }
  {
    // A distance code without codes: literals decode, a length symbol meets an invalid code.
    const std::vector<int> zero_dist = {0, 0};
    const dyn_header h = header_for(lit, zero_dist);
    v.push_back({"empty distance code, literals only",
                 dynamic_stream(h, lit, zero_dist, {{'a', 0}, {'b', 0}, {256, 0}}), ok({'a', 'b'})});
    const bytes s = dynamic_stream(h, lit, zero_dist, {{'a', 0}, {257, 0}}, 15);
    v.push_back({"empty distance code, length symbol", s, ok({'a'})});
    v.push_back({"empty distance code, length symbol, input ends", without_last_byte(s), k_failed});
  }
  {
    // Long codes: lengths 1, 2, ..., 14, 15, 15 (complete), the 15-bit ones for 256 and 'z'.
    std::vector<int> deep(258, 0);
    for (int i = 0; i < 14; ++i) deep[static_cast<size_t>('a' + i)] = i + 1;
    deep['z'] = 15;
    deep[256] = 15;
    const dyn_header h = header_for(deep, one_dist);
    const bytes s =
        dynamic_stream(h, deep, one_dist, {{'n', 0}, {'z', 0}, {'a', 0}, {'m', 0}, {256, 0}}, 0);
    v.push_back({"fifteen-bit codes", s, ok({'n', 'z', 'a', 'm'})});
    v.push_back({"fifteen-bit end-of-block, input ends", without_last_byte(s), k_failed});
  }
  return v;
}

TEST(InflateEdgeCases, DynamicHeaders) {
  for (const dyn_case &c : dynamic_cases()) {
    EXPECT_EQ(ours(c.stream, 1000), c.want) << c.name;
    EXPECT_EQ(reference(c.stream, 1000), c.want) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Damaged streams, and agreement with the reference.

// Streams with random codes: lengths made by splitting leaves of a code tree (complete, with
// codes up to 15 bits), sometimes nudged to be incomplete or over-subscribed, then symbols
// drawn from the code, back-references mostly within the output.
std::vector<int> random_code(std::mt19937 &rng, int n_symbols, int n_used, int must_have) {
  std::vector<int> leaves = {0};
  while (static_cast<int>(leaves.size()) < n_used) {
    size_t i = rng() % leaves.size();
    if (rng() % 3 == 0) i = static_cast<size_t>(std::max_element(leaves.begin(), leaves.end()) - leaves.begin());
    if (leaves[i] >= 15) {
      i = static_cast<size_t>(std::min_element(leaves.begin(), leaves.end()) - leaves.begin());
      if (leaves[i] >= 15) break;
    }
    const int d = leaves[i] + 1;
    leaves[i] = d;
    leaves.push_back(d);
  }
  std::vector<int> syms(static_cast<size_t>(n_symbols));
  for (int i = 0; i < n_symbols; ++i) syms[static_cast<size_t>(i)] = i;
  std::shuffle(syms.begin(), syms.end(), rng);
  if (must_have >= 0) std::iter_swap(syms.begin(), std::find(syms.begin(), syms.end(), must_have));
  std::vector<int> len(static_cast<size_t>(n_symbols), 0);
  for (size_t i = 0; i < leaves.size() && i < syms.size(); ++i) len[static_cast<size_t>(syms[i])] = leaves[i] == 0 ? 1 : leaves[i];
  if (rng() % 8 == 0) {
    int &l = len[rng() % len.size()];
    l = std::clamp(l + (rng() % 2 ? 1 : -1), 0, 15);
  }
  return len;
}

bytes random_dynamic_stream(std::mt19937 &rng) {
  const int nlen = 257 + static_cast<int>(rng() % 30);
  const int ndist = 1 + static_cast<int>(rng() % 30);
  const std::vector<int> lit = random_code(rng, nlen, 2 + static_cast<int>(rng() % nlen), 256);
  const std::vector<int> dist = random_code(rng, ndist, 1 + static_cast<int>(rng() % ndist), -1);
  bit_writer w;
  w.block(true, 2);
  header_for(lit, dist).put(w);
  const canonical lc(lit), dc(dist);
  std::vector<int> lsyms, dsyms;
  for (int s = 0; s < nlen; ++s)
    if (lit[static_cast<size_t>(s)] && s != 256) lsyms.push_back(s);
  for (int s = 0; s < ndist; ++s)
    if (dist[static_cast<size_t>(s)]) dsyms.push_back(s);
  static const int dext[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  static const int lext[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  const int n_syms = static_cast<int>(rng() % 3000);
  for (int i = 0; i < n_syms && !lsyms.empty(); ++i) {
    const int s = lsyms[rng() % lsyms.size()];
    lc.put(w, s);
    if (s > 256 && s < 286) {
      w.put(rng(), lext[s - 257]);
      if (dsyms.empty()) break;
      const int d = rng() % 4 ? dsyms[0] : dsyms[rng() % dsyms.size()];  // mostly short
      dc.put(w, d);
      w.put(rng() % 4 ? 0 : rng(), dext[d]);
    }
  }
  if (rng() % 2) lc.put(w, 256);
  w.put(rng(), static_cast<int>(rng() % 24));
  return w.done();
}

// A few zlib streams of each kind, to be damaged.
std::vector<bytes> damage_pool() {
  std::vector<bytes> pool;
  uint32_t seed = 100;
  for (int level : {0, 1, 6, 9}) {
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_RLE}) {
      if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
      pool.push_back(zcompress(text_like(1000 + seed * 37 % 9000, seed), level, strategy));
      pool.push_back(zcompress(runs(2000 + seed * 53 % 20000, seed + 1), level, strategy));
      pool.push_back(zcompress(mixed(6000 + seed * 71 % 9000, seed + 2), level, strategy));
      seed += 3;
    }
  }
  return pool;
}

bytes damage(const bytes &z, std::mt19937 &rng) {
  bytes d = z;
  const int flips = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < flips; ++i) {
    const size_t at = 2 + rng() % (d.size() - 2);
    if (rng() % 2) d[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    else d[at] = static_cast<uint8_t>(rng());
  }
  if (rng() % 4 == 0) d.resize(2 + rng() % (d.size() - 1));
  return d;
}

bool is_prefix(const bytes &a, const bytes &b) {
  return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

TEST(InflateDamage, DamagedStreamsAgreeWithZlibAsFarAsTheFormatDecides) {
  std::mt19937 rng(7);
  const std::vector<bytes> pool = damage_pool();
  int full_agreements = 0;
  for (int round = 0; round < 600; ++round) {
    const bytes d = damage(pool[rng() % pool.size()], rng);
    const size_t cap = 40000;
    const outcome mine = ours(d, cap);
    const zlib_outcome theirs = zinflate_raw(d, cap);
    if (mine.rc != 0) continue;
    // Both decode the same bits in the same way until one of them stops.
    const bytes &shorter = mine.data.size() <= theirs.data.size() ? mine.data : theirs.data;
    const bytes &longer = mine.data.size() <= theirs.data.size() ? theirs.data : mine.data;
    ASSERT_TRUE(is_prefix(shorter, longer)) << "round " << round;
    // zlib finds a damaged stream invalid at the same symbol: the two differ only in how
    // many bits they read before giving up, which decides -1 against 0, not the bytes.
    if (theirs.status == Z_STREAM_END || theirs.status == Z_DATA_ERROR) {
      ASSERT_EQ(mine.data, theirs.data) << "round " << round;
      ++full_agreements;
    }
  }
  EXPECT_GT(full_agreements, 300);
}

TEST(InflateReference, SameOutcomesOnRandomAndMutatedStreams) {
  std::mt19937 rng(2024);
  const std::vector<bytes> pool = damage_pool();
  int outcomes[2] = {};
  for (int round = 0; round < 4000; ++round) {
    bytes s;
    switch (round % 4) {
      case 0: s = damage(pool[rng() % pool.size()], rng); break;
      case 1: s = random_dynamic_stream(rng); break;
      case 2: {
        s = random_dynamic_stream(rng);
        if (s.size() > 3 && rng() % 2) s.resize(2 + rng() % (s.size() - 2));
        else if (s.size() > 3) s[2 + rng() % (s.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      }
      default: {
        // Random bits after a header, with a random first block type.
        s = random_bytes(3 + rng() % 400, static_cast<uint32_t>(rng()));
        s[0] = 0x78;
        s[1] = 0x9c;
        break;
      }
    }
    // Capacity: plenty, or cut anywhere, so that output full is met everywhere in a block.
    const uint64_t big = 70000;
    const uint64_t cap = rng() % 2 ? big : rng() % 2 ? rng() % 300 : rng() % big;
    const outcome a = ours(s, cap), b = reference(s, cap);
    ASSERT_EQ(a, b) << "round " << round << " cap " << cap;
    ++outcomes[a.rc == 0];
  }
  // Both outcomes were met often.
  EXPECT_GT(outcomes[0], 400);
  EXPECT_GT(outcomes[1], 400);
}

TEST(InflateReference, EveryCutAndEveryCapacityOfSmallStreams) {
  std::mt19937 rng(99);
  for (int i = 0; i < 6; ++i) {
    const bytes s = random_dynamic_stream(rng);
    const uint64_t n = static_cast<uint64_t>(ours(s, 100000).data.size());
    for (size_t cut = 2; cut <= s.size(); cut += 1 + s.size() / 300) {
      const bytes part(s.begin(), s.begin() + static_cast<ptrdiff_t>(cut));
      ASSERT_EQ(ours(part, 100000), reference(part, 100000)) << "cut " << cut;
    }
    for (uint64_t cap = 0; cap <= n + 1; cap += 1 + n / 300) {
      ASSERT_EQ(ours(s, cap), reference(s, cap)) << "cap " << cap;
    }
  }
}

}  // namespace

TEST(InflateCompletion, TellsAnIntactEmptyStreamFromDamage) {
  uint8_t out[64];
  uint64_t n = 99;
  int complete = -1;
  // zlib's stream for no data at all: one empty final fixed block and the Adler-32.
  const uint8_t empty[] = {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(inflate_decompress_ex(empty, sizeof empty, out, sizeof out, &n, &complete), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(complete, 1);
  // Block type 3 at once: decoding stops with nothing, and the stream was not intact.
  const uint8_t damaged[] = {0x78, 0x9c, 0x07, 0x00};
  EXPECT_EQ(inflate_decompress_ex(damaged, sizeof damaged, out, sizeof out, &n, &complete), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(complete, 0);
  // Too little room is told apart from input that ends early.
  std::string data(1000, 'a');
  uLongf zn = compressBound(data.size());
  bytes z(zn);
  ASSERT_EQ(compress(z.data(), &zn, reinterpret_cast<const Bytef *>(data.data()), data.size()), Z_OK);
  EXPECT_EQ(inflate_decompress_ex(z.data(), zn, out, sizeof out, &n, &complete), -1);
  EXPECT_EQ(complete, k_inflate_output_full);
  bytes room(2000);
  EXPECT_EQ(inflate_decompress_ex(z.data(), zn / 2, room.data(), room.size(), &n, &complete), -1);
  EXPECT_EQ(complete, 0);
}
