// The page raster every painting step draws into: an RGB plane and an alpha plane, the clip
// rectangle with its stack, and the page-wide marks that keep a page from being judged blank
// without its pixels (text shown, something unreadable, a shading painted).
#pragma once

#include <cstdint>
#include <vector>

#include "pdfcore/mem.h"

inline constexpr int k_raster_max_side = 32768;
// And at most this many pixels: the planes and the RGBA copy a render hands back then take
// at most 512 MiB.
inline constexpr int64_t k_raster_max_pixels = int64_t(1) << 26;

// The work one page may cost, in units of about a nanosecond of this machine: a content byte
// read costs k_work_byte, a pixel painted k_work_pixel (k_work_opaque_pixel where opaque paint
// is written without compositing), a path edge carried along a row
// k_work_edge, an image sample decoded k_work_sample (k_work_jpeg_sample from JPEG data), and
// every form drawn, image drawn and glyph procedure run k_work_draw besides. Forms drawn from
// inside forms spend the same page's budget, so a form drawn a thousand times from a form
// drawn a thousand times stops long before a million runs.
inline constexpr int64_t k_page_work = 1000000000;
inline constexpr int64_t k_work_byte = 8;
inline constexpr int64_t k_work_pixel = 12;
inline constexpr int64_t k_work_opaque_pixel = 1;
inline constexpr int64_t k_work_edge = 4;
inline constexpr int64_t k_work_sample = 2;
inline constexpr int64_t k_work_jpeg_sample = 16;
inline constexpr int64_t k_work_draw = 5000;
// Making a raster and reading it back, per pixel.
inline constexpr int64_t k_work_raster_pixel = 3;

// The work all the pages of one call share. Decoding an image object the first time is
// charged to its page alone: a scan's pages are images of their own that compress far below
// what decoding them costs. Everything else, and every decode of an image met before, is
// charged to the call as well, so that a small file whose thousands of pages draw one heavy
// form or image is stopped as a whole.
struct work_call {
  int64_t left = 0;
  std::vector<uint8_t> images_seen;  // per object number
};

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
  // What the page may still spend (see k_page_work_base), and, when the call renders many
  // pages, what the whole call may still spend, shared by all its pages.
  int64_t work_left = 0;
  work_call *call = nullptr;
  // Set when either budget ran out: nothing more is drawn, and the page is marked unreadable
  // so that a render cut short is never judged blank.
  int halted = 0;
  // Images are converted in full before they are sampled, rather than only where the raster
  // takes pixels: the same pixels, more slowly. For tests that show the two agree.
  int full_images = 0;
};

// Allocates both planes, white and opaque, with the clip set to the whole raster. False when
// the planes cannot be had.
bool raster_init(raster &r, int width, int height);

// Takes units of work from the page's budget and, unless page_only, the call's. False once
// either is spent, the page then being halted and unreadable; every later call is false too.
bool raster_spend(raster *r, int64_t units, bool page_only = false);
