// Writing the reduced PDF: every kept page wraps the old page's content as a form XObject,
// and the objects its resources reach are copied under new numbers.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"

// Writes output_path without the pages listed in blank_idx (0-based, ascending). 1 when the
// file was written (error text ""), 0 with the error text set; output_path is then untouched.
int lsf_emit_blank_removal(const pdf_doc &doc, const int32_t *blank_idx, int32_t n_blank,
                           int32_t n_kept, const char *output_path);

// Whether a finished copy reads back, the way this library reads any file, with catalog 1
// and exactly n_pages pages, page k being object 4k + 6. The writer replaces the output only
// with a copy that does: carried text comes from arbitrary input, and a copy that would load
// with another catalog or lose a page must never be reported as written.
bool lsf_copy_reads_back(const uint8_t *bytes, uint64_t n, int64_t n_pages);
