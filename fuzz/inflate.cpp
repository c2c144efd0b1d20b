// The zlib/Deflate decoder on arbitrary bytes, into an output buffer sized from the first
// input byte so that both the "output full" path and complete decodes are reached.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pdfcore/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // 1 KiB to 8 MiB of output: enough for real streams, small enough to stay far below the
  // fuzzer's memory limit.
  const uint64_t cap = uint64_t(1024) << (data[0] % 14);
  uint8_t *dst = static_cast<uint8_t *>(std::malloc(cap));
  if (!dst) return 0;
  uint64_t out_len = 12345;
  int complete = -1;
  int rc = inflate_decompress_ex(data + 1, size - 1, dst, cap, &out_len, &complete);
  if (rc == 0 && out_len > cap) std::abort();
  if (rc != 0 && out_len != 0) std::abort();
  if (rc == 0 && complete != 0 && complete != 1) std::abort();
  // Touch every byte reported as decoded so that an uninitialised or out-of-range length
  // shows under the sanitizers.
  volatile uint8_t sink = 0;
  for (uint64_t i = 0; i < out_len; i++) sink = sink ^ dst[i];
  // The plain call must agree with the extended one.
  uint64_t plain_len = 0;
  int plain_rc = inflate_decompress(data + 1, size - 1, dst, cap, &plain_len);
  if (plain_rc != rc || plain_len != out_len) std::abort();
  std::free(dst);
  return 0;
}
