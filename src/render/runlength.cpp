// RunLength decoder: the output size is counted in a first pass over the length bytes, so the
// result is allocated once and every write lands inside it.

#include "render/runlength.h"

#include <climits>
#include <cstdlib>
#include <cstring>

c_ptr<uint8_t> runlength_decode(const uint8_t *src, int32_t n, uint64_t max_out, int32_t *out_len,
                                int *complete) {
  if (complete) *complete = 0;
  if (!src || n < 0 || max_out > INT32_MAX) return nullptr;
  // One walk serves both passes: the first only counts, the second writes.
  uint64_t total = 0;
  bool clean = true;
  uint8_t *dst = nullptr;
  c_ptr<uint8_t> out;
  for (int pass = 0; pass < 2; pass++) {
    uint64_t w = 0;
    int32_t p = 0;
    while (p < n) {
      const uint8_t len = src[p++];
      if (len == 128) break;
      if (len < 128) {
        int32_t k = len + 1;
        if (k > n - p) {
          k = n - p;
          clean = false;
        }
        if (dst) std::memcpy(dst + w, src + p, static_cast<size_t>(k));
        w += static_cast<uint64_t>(k);
        p += k;
      } else {
        if (p >= n) {
          clean = false;
          break;
        }
        const int k = 257 - len;
        if (dst) std::memset(dst + w, src[p], static_cast<size_t>(k));
        w += static_cast<uint64_t>(k);
        p++;
      }
      if (w > max_out) return nullptr;
    }
    if (pass == 0) {
      total = w;
      out.reset(static_cast<uint8_t *>(std::malloc(total ? static_cast<size_t>(total) : 1)));
      if (!out) return nullptr;
      dst = out.get();
    }
  }
  if (complete) *complete = clean ? 1 : 0;
  *out_len = static_cast<int32_t>(total);
  return out;
}
