// Undoing predictors after Flate or LZW decoding. Rows are worked in place in the output, the
// previous row read back from it, so no row buffer sized from /Columns is ever allocated and
// absurd parameters cost nothing beyond the data that are there.

#include "render/predictor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// The PNG Paeth filter: the neighbour nearest to left + above - upper left, ties to the left,
// then to the one above.
inline int paeth(int a, int b, int c) {
  int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// One PNG row: type byte already read; src and row hold len bytes; prev is the row above
// (null for the first row, whose neighbours above count as 0). False for an unknown type.
bool png_row(uint8_t type, const uint8_t *src, uint8_t *row, const uint8_t *prev, uint64_t len,
             uint64_t bpp) {
  switch (type) {
    case 0:
      std::memcpy(row, src, len);
      return true;
    case 1:
      for (uint64_t i = 0; i < len; i++)
        row[i] = static_cast<uint8_t>(src[i] + (i >= bpp ? row[i - bpp] : 0));
      return true;
    case 2:
      for (uint64_t i = 0; i < len; i++)
        row[i] = static_cast<uint8_t>(src[i] + (prev ? prev[i] : 0));
      return true;
    case 3:
      for (uint64_t i = 0; i < len; i++) {
        int a = i >= bpp ? row[i - bpp] : 0, b = prev ? prev[i] : 0;
        row[i] = static_cast<uint8_t>(src[i] + (a + b) / 2);
      }
      return true;
    case 4:
      for (uint64_t i = 0; i < len; i++) {
        int a = i >= bpp ? row[i - bpp] : 0, b = prev ? prev[i] : 0;
        int c = prev && i >= bpp ? prev[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(src[i] + paeth(a, b, c));
      }
      return true;
    default:
      return false;
  }
}

// One TIFF row in place: each sample is the sum of its stored difference and the sample of the
// same component one pixel to the left. `len` bytes may be fewer than a whole row.
void tiff_row(uint8_t *row, uint64_t len, int colors, int bpc, uint64_t columns) {
  if (bpc == 8) {
    for (uint64_t i = static_cast<uint64_t>(colors); i < len; i++)
      row[i] = static_cast<uint8_t>(row[i] + row[i - static_cast<uint64_t>(colors)]);
    return;
  }
  if (bpc == 16) {
    // Samples of two bytes, the high byte first as PDF stores them.
    const uint64_t step = 2 * static_cast<uint64_t>(colors);
    for (uint64_t i = step; i + 1 < len; i += 2) {
      unsigned v = ((row[i] << 8) | row[i + 1]) + ((row[i - step] << 8) | row[i - step + 1]);
      row[i] = static_cast<uint8_t>(v >> 8);
      row[i + 1] = static_cast<uint8_t>(v);
    }
    return;
  }
  // 1, 2 or 4 bits: samples packed from the high bit, the sum kept to the sample's width.
  const unsigned mask = (1u << bpc) - 1;
  const uint64_t samples =
      std::min(columns * static_cast<uint64_t>(colors), len * 8 / static_cast<uint64_t>(bpc));
  for (uint64_t s = static_cast<uint64_t>(colors); s < samples; s++) {
    const uint64_t bit = s * static_cast<uint64_t>(bpc);
    const uint64_t left = bit - static_cast<uint64_t>(colors) * static_cast<uint64_t>(bpc);
    const int shift = 8 - bpc - static_cast<int>(bit & 7);
    const int lshift = 8 - bpc - static_cast<int>(left & 7);
    unsigned v = ((row[bit >> 3] >> shift) + (row[left >> 3] >> lshift)) & mask;
    row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~(mask << shift)) | (v << shift));
  }
}

}  // namespace

bool predictor_supported(const predictor_params &p) {
  const int b = p.bits_per_component;
  const bool pred =
      p.predictor == 1 || p.predictor == 2 || (p.predictor >= 10 && p.predictor <= 15);
  return pred && p.colors >= 1 && p.colors <= 32 &&
         (b == 1 || b == 2 || b == 4 || b == 8 || b == 16) && p.columns >= 1;
}

c_ptr<uint8_t> predictor_undo(const uint8_t *src, int32_t n, const predictor_params &p,
                              int32_t *out_len, int *complete) {
  if (complete) *complete = 0;
  if (!src || n < 0 || !predictor_supported(p)) return nullptr;
  c_ptr<uint8_t> out(static_cast<uint8_t *>(std::malloc(n > 0 ? static_cast<size_t>(n) : 1)));
  if (!out) return nullptr;
  const uint64_t len = static_cast<uint64_t>(n);
  if (p.predictor == 1) {
    if (n > 0) std::memcpy(out.get(), src, len);
    if (complete) *complete = 1;
    *out_len = n;
    return out;
  }
  // At most 32 x 16 x (2^31 - 1) bits: 64-bit arithmetic holds every row size.
  const uint64_t bits =
      static_cast<uint64_t>(p.colors) * static_cast<uint64_t>(p.bits_per_component);
  const uint64_t columns = static_cast<uint64_t>(p.columns);
  const uint64_t row_len = (bits * columns + 7) / 8;
  uint8_t *o = out.get();

  if (p.predictor == 2) {
    if (n > 0) std::memcpy(o, src, len);
    for (uint64_t at = 0; at < len; at += row_len)
      tiff_row(o + at, std::min(row_len, len - at), p.colors, p.bits_per_component, columns);
    if (complete) *complete = len % row_len == 0 ? 1 : 0;
    *out_len = n;
    return out;
  }

  // PNG: bytes per pixel rounded up, at least one, is how far back the left neighbour lies.
  const uint64_t bpp = (bits + 7) / 8;
  uint64_t in = 0, w = 0;
  bool clean = true;
  const uint8_t *prev = nullptr;
  while (in < len) {
    const uint8_t type = src[in++];
    uint64_t k = std::min(row_len, len - in);
    if (k < row_len) clean = false;
    if (!png_row(type, src + in, o + w, prev, k, bpp)) {
      clean = false;
      break;
    }
    prev = o + w;
    in += k;
    w += k;
  }
  if (complete) *complete = clean ? 1 : 0;
  *out_len = static_cast<int32_t>(w);
  return out;
}
