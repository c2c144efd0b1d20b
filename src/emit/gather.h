// The bytes a page draws, for the text test: its content streams, decoded and joined, then the
// content of the XObjects it draws, down to three levels of nesting.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "pdfcore/objects.h"

// Null (count 0) when the page has nothing to gather.
c_ptr<uint8_t> lsf_gather_content(const pdf_doc &doc, const pdf_obj *page, int32_t *out_len);
