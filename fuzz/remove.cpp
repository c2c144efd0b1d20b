// A whole file through leafsift_remove. A copy the library reports as written must load
// again with the library's own reader and hold the number of pages the counts give (one when
// every page was blank, since the writer then keeps the first): a copy it cannot read back is
// a fault, so the target aborts there.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "leafsift.h"
#include "pdfcore/document.h"
#include "fuzz_support.h"

namespace {
std::string g_in;
std::string g_out;

// The M of {"before":N,"after":M,...}, or -1.
long after_count(const char *stats) {
  const char *p = stats ? std::strstr(stats, "\"after\":") : nullptr;
  if (!p) return -1;
  return std::strtol(p + 8, nullptr, 10);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  leafsift_init();
  g_in = fuzz::scratch_path("remove-in");
  g_out = fuzz::scratch_path("remove-out");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > fuzz::k_max_document_bytes) return 0;
  if (!fuzz::write_whole(g_in, data, size)) return 0;
  std::remove(g_out.c_str());
  if (!leafsift_remove(g_in.c_str(), g_out.c_str(), 99)) {
    if (leafsift_last_error()[0] == 0) std::abort();
    return 0;
  }
  long after = after_count(leafsift_stats());
  if (after < 0) std::abort();
  pdf_doc copy;
  if (!pdfcore_load(g_out.c_str(), copy)) std::abort();
  if (copy.pages.count() != (after > 0 ? after : 1)) std::abort();
  return 0;
}
