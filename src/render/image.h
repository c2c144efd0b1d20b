// Sampled images turned into plain RGBA pixels: the image dictionary read (full keys, or the
// abbreviations of inline images), the samples unpacked at any depth through /Decode, the
// colour space and its palette, stencil masks, and a soft mask sampled onto the image.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "pdfcore/objects.h"

inline constexpr int k_image_max_side = 20000;
inline constexpr uint64_t k_image_max_full_pixels = uint64_t(1) << 26;

// Where an image lands on the raster: the device box its unit square maps to (lo inclusive,
// hi exclusive) and the part of it that paints, inside the raster and the clip. Each device
// row y takes image row source_index(y, ylo, yhi, height), each column likewise.
struct image_box {
  long xlo = 0, xhi = 0, ylo = 0, yhi = 0;
  long xa = 0, xb = 0, ya = 0, yb = 0;
};

// The nearest image sample for device coordinate v of a box lo..hi over n samples.
inline long source_index(long v, long lo, long hi, int n) {
  const double scale = static_cast<double>(n) / static_cast<double>(hi - lo);
  const long i = static_cast<long>(static_cast<double>(v - lo) * scale);
  return i < 0 ? 0 : i > n - 1 ? n - 1 : i;
}

// What the caller knows beyond the image object.
struct image_options {
  const uint8_t *resources = nullptr;  // for colour spaces named by an inline image
  int32_t resources_len = 0;
  bool abbreviations = false;  // the dictionary is an inline image's (/W, /CS /G, ...)
  bool no_smask = false;       // a soft mask's own /SMask is not followed
  // When given, only the image pixels this box reads need converting: a 300 dpi scan drawn
  // at 48 dpi uses one pixel in forty.
  const image_box *sample_only = nullptr;
  // When given, receives the image's own width x height once the dictionary is read: what
  // decoding it cost, whatever size the pixels came back at.
  uint64_t *source_pixels = nullptr;
};

// Width x height RGBA pixels (row 0 the first row of the data), or null when the image
// cannot be had at all. *out_alpha receives the soft mask's alpha plane (width x height) or
// null. *out_stencil is 1 for a stencil mask: then every pixel is black and its alpha byte
// says whether it marks (255) or not (0). *unreadable is set to 1 when what comes back is not
// what the file holds: unknown filter or colour space, short data, a JPEG not decoded.
// With opt.sample_only, *out_sampled (when given) tells whether the pixels came back as the
// box's grid: (xb - xa) x (yb - ya) pixels, pixel (i, j) being the image pixel that device
// pixel (xa + i, ya + j) takes, and the alpha plane likewise. Their values are exactly those
// of the full image's pixels.
c_ptr<uint8_t> decode_image(const pdf_doc &doc, const pdf_obj &img, int *out_width, int *out_height,
                            c_ptr<uint8_t> *out_alpha, int *out_stencil, int *unreadable,
                            const image_options &opt = image_options{},
                            bool *out_sampled = nullptr);

// A real number in PDF syntax at *pos (blanks before it skipped); *pos moves past it. False,
// with *pos unchanged, when no number stands there.
bool read_real(const uint8_t *data, int32_t end, int32_t *pos, double *out);
