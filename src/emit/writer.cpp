// Writing the reduced PDF. Until the writer lands, a removal is refused rather than faked.
#include "emit/writer.h"

#include "pdfcore/error.h"

int lsf_emit_blank_removal(const pdf_doc &doc, const int32_t *blank_idx, int32_t n_blank,
                           int32_t n_kept, const char *output_path) {
  (void)blank_idx;
  (void)n_blank;
  (void)n_kept;
  if (!output_path) {
    pdfcore_set_error("NULL output path");
    return 0;
  }
  if (doc.pages.count() < 1) {
    pdfcore_set_error("document has no pages");
    return 0;
  }
  pdfcore_set_error("failed to build output");
  return 0;
}
