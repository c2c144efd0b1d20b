// A whole file through leafsift_detect: loading, the page tree, content, fonts and images, as
// a caller of the C interface sees them. The input is the file, byte for byte.

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
  g_path = fuzz::scratch_path("detect");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > fuzz::k_max_document_bytes) return 0;
  if (!fuzz::write_whole(g_path, data, size)) return 0;
  const char *list = leafsift_detect(g_path.c_str(), 99);
  const char *err = leafsift_last_error();
  if (!err) std::abort();
  if (list) {
    // A JSON list of page numbers, and no error text beside it.
    size_t n = std::strlen(list);
    if (n < 2 || list[0] != '[' || list[n - 1] != ']' || err[0] != 0) std::abort();
  } else if (err[0] == 0) {
    std::abort();  // a failure always says why
  }
  return 0;
}
