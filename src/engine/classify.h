// The per-page blank decision: a page that shows text is never blank; any other page is
// rendered at 48 dpi and is blank when enough of its pixels are light.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/mem.h"

// One verdict byte per page, in page order: 1 blank, 0 not blank. Null when memory runs out.
// t is the clamped threshold, 1..100.
c_ptr<uint8_t> classify_all(const pdf_doc &doc, int t);
