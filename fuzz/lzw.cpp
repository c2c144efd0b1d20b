// The LZW decoder on arbitrary codes; the first byte picks the early-change setting and the
// output bound.

#include <cstdint>
#include <cstdlib>

#include "render/lzw.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 22)) return 0;
  fuzz::front_reader in(data, size);
  uint8_t b = in.byte();
  const int early_change = b & 1;
  // 1 byte to 16 MiB: small bounds reach the refusal, large ones let real data through.
  const uint64_t max_out = uint64_t(1) << ((b >> 1) % 25);
  int32_t out_len = -1;
  int complete = -1;
  c_ptr<uint8_t> out = lzw_decode(in.rest(), static_cast<int32_t>(in.rest_size()), early_change,
                                  max_out, &out_len, &complete);
  if (out) {
    if (out_len < 0 || static_cast<uint64_t>(out_len) > max_out) std::abort();
    if (complete != 0 && complete != 1) std::abort();
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < out_len; i++) sink = sink ^ out.get()[i];
  }
  return 0;
}
