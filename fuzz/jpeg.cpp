// The JPEG decoder (baseline and progressive frames) on arbitrary bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "render/jpeg.h"

namespace {

// The decoder accepts frames up to 200 million pixels, which is far beyond what the fuzzer's
// memory limit allows. Inputs whose frame headers (wherever a SOFn marker appears) ask for
// more than this are passed over, so that only real faults reach the limit.
constexpr uint64_t k_fuzz_max_pixels = uint64_t(1) << 22;

bool frame_too_large(const uint8_t *data, size_t size) {
  for (size_t i = 0; i + 8 < size; i++) {
    if (data[i] != 0xFF) continue;
    uint8_t m = data[i + 1];
    if (m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC) continue;
    uint64_t y = uint64_t(data[i + 5]) << 8 | data[i + 6];
    uint64_t x = uint64_t(data[i + 7]) << 8 | data[i + 8];
    if (x * y > k_fuzz_max_pixels) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (frame_too_large(data, size)) return 0;
  int32_t w = -1, h = -1;
  const char *message = nullptr;
  uint8_t *pixels = qx_jpeg_decode_impl(data, size, &w, &h, &message);
  if (!message) std::abort();
  if (pixels) {
    if (w <= 0 || h <= 0 || message[0] != 0) std::abort();
    // Every pixel is opaque: a wrong stride or size shows up here, or under ASan.
    size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    for (size_t i = 0; i < n; i++)
      if (pixels[4 * i + 3] != 255) std::abort();
    std::free(pixels);
  } else {
    if (w != 0 || h != 0) std::abort();
    if (std::strncmp(message, "jpeg: ", 6) != 0) std::abort();
  }
  return 0;
}
