// A whole file through leafsift_analyze under the scan-aware rule, which draws every page
// whole and measures its marks.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "leafsift.h"
#include "fuzz_support.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  leafsift_init();
  g_path = fuzz::scratch_path("analyze");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > fuzz::k_max_document_bytes) return 0;
  if (!fuzz::write_whole(g_path, data, size)) return 0;
  const char *json = leafsift_analyze(g_path.c_str(), "{\"rule\":\"scan\"}");
  const char *err = leafsift_last_error();
  if (!err) std::abort();
  if (json) {
    if (std::strncmp(json, "{\"pages\":[", 10) != 0 || err[0] != 0) std::abort();
  } else if (err[0] == 0) {
    std::abort();
  }
  return 0;
}
