// The annotations of a page that show on it: those with a normal appearance that are not
// hidden and are not links or pop-up notes. Stamps, ink signatures and filled form fields
// live there, not in the page's content.
#pragma once

#include <cstdint>
#include <vector>

#include "pdfcore/document.h"
#include "pdfcore/objects.h"

struct annot_appearance {
  int32_t stream_num = 0;  // the appearance form's object number
  double rect[4] = {0, 0, 0, 0};
};

std::vector<annot_appearance> page_visible_annotations(const pdf_doc &doc, const pdf_obj &page);
