// The six exported calls: thin drivers that load a document, classify its pages and hand the
// verdicts to the result texts or to the writer. Nothing throws past this file: any exception
// from below becomes a failed call with a message.
#include <cstdint>
#include <new>
#include <string>

#include "emit/writer.h"
#include "engine/classify.h"
#include "engine/results.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/builtin_fonts.h"

namespace {

// Process-wide result state; the library serves one call at a time.
std::string g_detect_json;
std::string g_stats_json;
int32_t g_have_stats = 0;

// Loads input_path into doc, naming the file when the loader left no message of its own.
bool load_document(const char *input_path, pdf_doc &doc) {
  g_err[0] = 0;
  if (pdfcore_load(input_path, doc)) return true;
  if (g_err[0] == 0) pdfcore_set_error("cannot open %s", input_path);
  return false;
}

const char *detect(const char *input_path, int threshold) {
  if (!input_path) {
    pdfcore_set_error("NULL input_path");
    return nullptr;
  }
  int t = clamp_threshold(threshold);
  pdf_doc doc;
  if (!load_document(input_path, doc)) return nullptr;
  c_ptr<uint8_t> verdicts = classify_all(doc, t);
  std::string list;
  if (!verdicts || !build_removed_json(verdicts.get(), doc.pages.count(), list)) {
    pdfcore_set_error("out of memory");
    return nullptr;
  }
  g_detect_json.swap(list);
  pdfcore_set_error("%s", "");
  return g_detect_json.c_str();
}

int remove_blank(const char *input_path, const char *output_path, int threshold) {
  if (!input_path || !output_path) {
    pdfcore_set_error("NULL path argument");
    return 0;
  }
  int t = clamp_threshold(threshold);
  pdf_doc doc;
  if (!load_document(input_path, doc)) return 0;
  c_ptr<uint8_t> verdicts = classify_all(doc, t);
  if (!verdicts) {
    pdfcore_set_error("out of memory");
    return 0;
  }
  int32_t pages = doc.pages.count();
  std::vector<int32_t> blank_idx;
  blank_idx.reserve(static_cast<size_t>(pages > 0 ? pages : 1));
  for (int32_t i = 0; i < pages; ++i)
    if (verdicts.get()[i]) blank_idx.push_back(i);
  int32_t n_blank = static_cast<int32_t>(blank_idx.size());
  std::string stats;
  if (!build_stats_json(verdicts.get(), pages, n_blank, stats)) {
    pdfcore_set_error("out of memory");
    return 0;
  }
  if (!lsf_emit_blank_removal(doc, blank_idx.data(), n_blank, pages - n_blank, output_path))
    return 0;
  g_stats_json.swap(stats);
  g_have_stats = 1;
  return 1;
}

}  // namespace

extern "C" {

int leafsift_init(void) {
  pdfcore_set_error("%s", "");
  lsf_load_fonts();
  return 1;
}

void leafsift_cleanup(void) {
  g_detect_json.clear();
  g_stats_json.clear();
  g_have_stats = 0;
  lsf_free_fonts();
  pdfcore_set_error("%s", "");
}

const char *leafsift_last_error(void) { return pdfcore_last_error(); }

const char *leafsift_stats(void) { return g_have_stats ? g_stats_json.c_str() : nullptr; }

const char *leafsift_detect(const char *input_path, int threshold) {
  g_have_stats = 0;
  try {
    return detect(input_path, threshold);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while reading %s", input_path);
  }
  return nullptr;
}

int leafsift_remove(const char *input_path, const char *output_path, int threshold) {
  g_have_stats = 0;
  try {
    return remove_blank(input_path, output_path, threshold);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while writing %s", output_path);
  }
  return 0;
}

}  // extern "C"
