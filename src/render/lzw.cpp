// LZW decoder for the LZWDecode filter. The string table holds each code as its prefix code
// and last byte with the string's length, so a string is written back to front straight into
// the output, and the work stays linear in the output.

#include "render/lzw.h"

#include <climits>
#include <cstdlib>

namespace {

constexpr int k_clear = 256;
constexpr int k_eod = 257;
constexpr int k_first = 258;
constexpr int k_table = 4096;  // 12-bit codes at most

struct entry {
  uint16_t prefix;
  uint8_t last;
  uint8_t first;
  uint32_t len;
};

// The output block, grown by doubling up to the caller's bound.
struct sink {
  c_ptr<uint8_t> block;
  uint64_t cap = 0, len = 0, max = 0;

  // Room for k more bytes; false when that would pass the bound or memory runs out.
  bool reserve(uint64_t k) {
    if (k > max || len > max - k) return false;
    if (len + k <= cap) return true;
    uint64_t want = cap < 4096 ? 4096 : cap;
    while (want < len + k) want *= 2;
    if (want > max) want = max;
    void *grown = std::realloc(block.get(), static_cast<size_t>(want));
    if (!grown) return false;
    block.release();
    block.reset(static_cast<uint8_t *>(grown));
    cap = want;
    return true;
  }
};

}  // namespace

c_ptr<uint8_t> lzw_decode(const uint8_t *src, int32_t n, int early_change, uint64_t max_out,
                          int32_t *out_len, int *complete) {
  if (complete) *complete = 0;
  if (!src || n < 0 || max_out > INT32_MAX) return nullptr;
  const int early = early_change ? 1 : 0;
  entry *table = static_cast<entry *>(std::malloc(sizeof(entry) * k_table));
  c_ptr<entry> table_owner(table);
  if (!table) return nullptr;
  for (int i = 0; i < 256; i++)
    table[i] = entry{0, static_cast<uint8_t>(i), static_cast<uint8_t>(i), 1};

  sink out;
  out.max = max_out;
  out.block.reset(static_cast<uint8_t *>(std::malloc(1)));
  if (!out.block) return nullptr;
  out.cap = 1;

  int width = 9;
  int next = k_first;
  int prev = -1;  // the previous code, -1 right after a clear
  uint32_t acc = 0;
  int bits = 0;
  int32_t pos = 0;
  bool clean = true;
  for (;;) {
    while (bits < width && pos < n) {
      acc = (acc << 8) | src[pos++];
      bits += 8;
    }
    if (bits < width) break;  // the data ran out: what is left is padding
    const int code = static_cast<int>((acc >> (bits - width)) & ((1u << width) - 1));
    bits -= width;
    if (code == k_eod) break;
    if (code == k_clear) {
      width = 9;
      next = k_first;
      prev = -1;
      continue;
    }
    // A code may name a string of the table, or, right after another code, the one string the
    // encoder made but the decoder cannot have yet: the previous string and its first byte.
    const bool known = code < 256 || (code >= k_first && code < next);
    if (!known && !(code == next && prev >= 0)) {
      clean = false;
      break;
    }
    if (prev >= 0 && next < k_table) {
      const entry &p = table[prev];
      const uint8_t first = known ? table[code].first : p.first;
      table[next] = entry{static_cast<uint16_t>(prev), first, p.first, p.len + 1};
      next++;
    }
    const entry &e = table[code];
    if (!out.reserve(e.len)) return nullptr;
    uint8_t *w = out.block.get() + out.len + e.len;
    for (int c = code;;) {
      *--w = table[c].last;
      if (c < 256) break;
      c = table[c].prefix;
    }
    out.len += e.len;
    prev = code;
    // The code width grows once the next code needs the wider form, one code earlier under
    // EarlyChange 1; twelve bits is the widest.
    if (next + early >= (1 << width) && width < 12) width++;
  }
  if (complete) *complete = clean ? 1 : 0;
  *out_len = static_cast<int32_t>(out.len);
  return std::move(out.block);
}
