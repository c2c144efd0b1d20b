// The page raster every painting step draws into: an RGB plane and an alpha plane, the clip
// rectangle with its stack, and the page-wide marks that keep a page from being judged blank
// without its pixels (text shown, something unreadable, a shading painted).
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

inline constexpr int k_raster_max_side = 32768;
inline constexpr int k_clip_stack_size = 64;

// Integer device rectangle; right and bottom edges exclusive.
struct pix_box {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct raster {
  int width = 0;
  int height = 0;
  c_ptr<uint8_t> rgb;    // width * height * 3, row 0 at the top, initially white
  c_ptr<uint8_t> alpha;  // width * height, initially 255
  pix_box clip;          // pixels paint only where their centre lies inside
  pix_box clip_stack[k_clip_stack_size];
  int clip_depth = 0;
  double line_width = 1.0;
  double fill_opacity = 1.0;
  double stroke_opacity = 1.0;
  int clip_empty = 0;

  // Marks set while the page runs; each one makes the page not blank whatever its pixels.
  int text_shown = 0;  // a text-showing operator ran with a string operand
  int unreadable = 0;  // a content stream, form or image could not be decoded
  int shading = 0;     // a shading from the resources was painted
  // When set, drawing stops at the first mark: the verdict is then settled, and a page of
  // undecodable scan data need not be painted in full.
  int stop_when_kept = 0;
  // Type 3 glyph procedures run from inside other glyph procedures on this page.
  int64_t nested_glyph_runs = 0;
  // Images are converted in full before they are sampled, rather than only where the raster
  // takes pixels: the same pixels, more slowly. For tests that show the two agree.
  int full_images = 0;
};

// Allocates both planes, white and opaque, with the clip set to the whole raster. False when
// the planes cannot be had.
bool raster_init(raster &r, int width, int height);
