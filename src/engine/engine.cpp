// The exported calls: thin drivers that load a document, classify its pages and hand the
// verdicts to the result texts or to the writer. Nothing throws past this file: any exception
// from below becomes a failed call with a message.
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "emit/writer.h"
#include "engine/classify.h"
#include "engine/options.h"
#include "engine/results.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/builtin_fonts.h"
#include "render/render.h"

namespace {

// Process-wide result state; the library serves one call at a time.
std::string g_detect_json;
std::string g_stats_json;
std::string g_analyze_json;
int32_t g_have_stats = 0;

// Loads input_path into doc, naming the file when the loader left no message of its own.
bool load_document(const char *input_path, pdf_doc &doc) {
  g_err[0] = 0;
  if (pdfcore_load(input_path, doc)) return true;
  if (g_err[0] == 0) pdfcore_set_error("cannot open %s", input_path);
  return false;
}

// The options of the plain calls: the light rule at their threshold.
detect_options light_options(int threshold) {
  detect_options o;
  o.threshold = threshold;
  return o;
}

bool read_options(const char *options, detect_options *o) {
  std::string why;
  if (parse_detect_options(options, o, &why)) return true;
  pdfcore_set_error("%s", why.c_str());
  return false;
}

const char *detect(const char *input_path, const detect_options &o) {
  if (!input_path) {
    pdfcore_set_error("NULL input_path");
    return nullptr;
  }
  pdf_doc doc;
  if (!load_document(input_path, doc)) return nullptr;
  c_ptr<uint8_t> verdicts = classify_all_with(doc, o);
  std::string list;
  if (!verdicts || !build_removed_json(verdicts.get(), doc.pages.count(), list)) {
    pdfcore_set_error("out of memory");
    return nullptr;
  }
  g_detect_json.swap(list);
  pdfcore_set_error("%s", "");
  return g_detect_json.c_str();
}

int remove_blank(const char *input_path, const char *output_path, const detect_options &o) {
  if (!input_path || !output_path) {
    pdfcore_set_error("NULL path argument");
    return 0;
  }
  pdf_doc doc;
  if (!load_document(input_path, doc)) return 0;
  c_ptr<uint8_t> verdicts = classify_all_with(doc, o);
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

// Every page is drawn whole, so that its figures can be shown; the verdicts are those of
// detect all the same.
const char *analyze(const char *input_path, const detect_options &o) {
  if (!input_path) {
    pdfcore_set_error("NULL input_path");
    return nullptr;
  }
  pdf_doc doc;
  if (!load_document(input_path, doc)) return nullptr;
  std::vector<page_verdict> pages(static_cast<size_t>(doc.pages.count()));
  work_call call;
  lsf_call_work(doc, call);
  for (size_t i = 0; i < pages.size(); ++i)
    pages[i] = classify_page_with(doc, static_cast<int32_t>(i), o, true, &call);
  std::string text;
  if (!build_analyze_json(pages.data(), static_cast<int32_t>(pages.size()), text)) {
    pdfcore_set_error("out of memory");
    return nullptr;
  }
  g_analyze_json.swap(text);
  pdfcore_set_error("%s", "");
  return g_analyze_json.c_str();
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
  g_analyze_json.clear();
  g_have_stats = 0;
  lsf_free_fonts();
  pdfcore_set_error("%s", "");
}

const char *leafsift_last_error(void) { return pdfcore_last_error(); }

const char *leafsift_stats(void) { return g_have_stats ? g_stats_json.c_str() : nullptr; }

const char *leafsift_detect(const char *input_path, int threshold) {
  g_have_stats = 0;
  try {
    return detect(input_path, light_options(clamp_threshold(threshold)));
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
    return remove_blank(input_path, output_path, light_options(clamp_threshold(threshold)));
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while writing %s", output_path);
  }
  return 0;
}

const char *leafsift_detect_ex(const char *input_path, const char *options) {
  g_have_stats = 0;
  try {
    detect_options o;
    if (!read_options(options, &o)) return nullptr;
    return detect(input_path, o);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while reading %s", input_path ? input_path : "(null)");
  }
  return nullptr;
}

int leafsift_remove_ex(const char *input_path, const char *output_path, const char *options) {
  g_have_stats = 0;
  try {
    detect_options o;
    if (!read_options(options, &o)) return 0;
    return remove_blank(input_path, output_path, o);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while writing %s", output_path ? output_path : "(null)");
  }
  return 0;
}

const char *leafsift_analyze(const char *input_path, const char *options) {
  g_have_stats = 0;
  try {
    detect_options o;
    if (!read_options(options, &o)) return nullptr;
    return analyze(input_path, o);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
  } catch (...) {
    pdfcore_set_error("internal error while reading %s", input_path ? input_path : "(null)");
  }
  return nullptr;
}

}  // extern "C"
