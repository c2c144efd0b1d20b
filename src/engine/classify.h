// The per-page blank decision: a page that shows text is never blank, nor one whose content
// could not be read; any other page is rendered and judged by one of two rules: the light rule
// (at 48 dpi, blank when enough of its pixels are light) or the scan rule (ink that counts,
// against the page's own paper).
#pragma once

#include <cstdint>

#include "engine/options.h"
#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "render/raster.h"

inline constexpr int k_classify_dpi = 48;

// What the decision of one page rests on.
struct page_verdict {
  bool text = false;      // the text test found a text-showing operator in the gathered bytes
  bool rendered = false;  // the page was rendered and its pixels counted
  double light = 0.0;     // share of light pixels in percent, when rendered
  bool unread = false;    // kept because something on it could not be read or decoded
  bool marked = false;    // kept for text the interpreter showed, a shading or an annotation
  bool blank = false;
  // The scan rule's figures, when that rule judged the page.
  bool scan = false;
  double paper = 0.0;    // the page's paper tone, 0..255
  double ink_mm2 = 0.0;  // ink that counts
};

// True when the gathered content shows a text operator (Tj, TJ, ', ") after a delimiter.
bool content_shows_text(const uint8_t *content, int32_t n);
// Share of light pixels of an RGBA raster, in percent: a pixel is light when its darkest
// channel is at least 255 - t.
double light_share(const uint8_t *rgba, int64_t count, int t);

// With full_render the page is drawn whole even when a mark already keeps it, so that its
// light share can be shown; the verdict is the same either way.
// call, when given, is the work budget the pages of one call share (lsf_call_work).
page_verdict classify_page(const pdf_doc &doc, int32_t index, int t, bool full_render = false,
                           work_call *call = nullptr);

// The page under the rule the options choose; the light rule with their threshold (clamped
// here) gives exactly what classify_page gives.
page_verdict classify_page_with(const pdf_doc &doc, int32_t index, const detect_options &o,
                                bool full_render = false, work_call *call = nullptr);

// One verdict byte per page, in page order: 1 blank, 0 not blank. Null when memory runs out.
// t is the clamped threshold, 1..100.
c_ptr<uint8_t> classify_all(const pdf_doc &doc, int t);
c_ptr<uint8_t> classify_all_with(const pdf_doc &doc, const detect_options &o);
