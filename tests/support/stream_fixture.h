// Documents made for one test step: a PDF text loaded into a document record, and one stream
// object decoded by the renderer's filters, so decoder tests can go through the whole path.
#pragma once

#include <string>

#include "pdfcore/document.h"

// Loads the bytes as a document (a block of exactly their size); false when loading fails.
bool load_pdf_text(const std::string &pdf, pdf_doc &doc);

// A one-page document whose object 4 is a stream with this dictionary and data, decoded by
// rvx_stream_decode; *status receives its status (-1 when the document did not load).
std::string renderer_decoded(const std::string &dict, const std::string &data, int *status);
