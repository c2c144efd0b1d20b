// Rendering one page of a loaded document into RGBA pixels.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "render/raster.h"

// What a render saw besides its pixels, for the blank decision.
struct render_marks {
  int text_shown = 0;
  int unreadable = 0;
  int shading = 0;
};

// The page's pixels, width * height * 4 bytes (red, green, blue, alpha), rows from the top, or
// null with the error text set. marks (when given) receives what the page's content did; with
// stop_when_kept the drawing ends at the first mark, leaving the pixels incomplete.
// full_images converts every image pixel before sampling (the same pixels, slower; for tests).
// call, when given, holds the work budget that all the pages of one call share (see
// lsf_call_work); a page that finds it spent is drawn no further and marked unreadable.
c_ptr<uint8_t> lsf_render_page(const pdf_doc &doc, int index, int dpi, int *out_width,
                               int *out_height, render_marks *marks = nullptr,
                               bool stop_when_kept = false, bool full_images = false,
                               work_call *call = nullptr);

// The work all the pages of one call on a document may spend together (work_call, raster.h):
// a fixed amount and more for every byte of the file. Each page has its own budget besides,
// but a small file whose thousands of pages all draw one heavy form must not cost thousands
// of pages' worth; real documents spend far less per byte.
inline constexpr int64_t k_call_work_base = 1000000000;
inline constexpr int64_t k_call_work_per_byte = 2000;
// Sets up the budget of one call on doc.
void lsf_call_work(const pdf_doc &doc, work_call &call);
