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
c_ptr<uint8_t> lsf_render_page(const pdf_doc &doc, int index, int dpi, int *out_width,
                               int *out_height, render_marks *marks = nullptr,
                               bool stop_when_kept = false, bool full_images = false);
