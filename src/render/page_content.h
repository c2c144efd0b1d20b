// A page's content as the renderer reads it: every stream its /Contents names, decoded with
// every filter this library knows, joined with a line feed so that a split between streams
// at any token boundary still reads as two tokens.
#pragma once

#include <cstdint>

#include "pdfcore/buf.h"
#include "pdfcore/document.h"
#include "pdfcore/objects.h"

// Appends the content of `page` (a page object, or a form XObject, which is its own content)
// to out. *unreadable is set when a named stream exists but could not be fully decoded.
// Returns false when out failed to grow.
bool page_content_decoded(const pdf_doc &doc, const pdf_obj &page, buf &out, int *unreadable);
