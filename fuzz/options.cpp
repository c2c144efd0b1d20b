// The options text reader on arbitrary bytes, as a host could pass them through the C
// interface: a NUL-terminated copy of the input.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A little past the reader's own limit, so that the refusal of longer texts is reached.
  if (size > k_max_options_text + 16) return 0;
  char *text = static_cast<char *>(std::malloc(size + 1));
  if (!text) return 0;
  std::memcpy(text, data, size);
  text[size] = 0;
  detect_options opts;
  std::string why;
  bool ok = parse_detect_options(text, &opts, &why);
  if (ok) {
    if (opts.rule != RULE_LIGHT && opts.rule != RULE_SCAN) std::abort();
  } else {
    // A refusal always says why, on one line.
    if (why.empty() || why.find('\n') != std::string::npos) std::abort();
  }
  std::free(text);
  return 0;
}
