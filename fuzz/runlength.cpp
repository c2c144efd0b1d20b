// The RunLength decoder on arbitrary bytes; the first byte picks the output bound.

#include <cstdint>
#include <cstdlib>

#include "render/runlength.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 22)) return 0;
  fuzz::front_reader in(data, size);
  const uint64_t max_out = uint64_t(1) << (in.byte() % 25);  // 1 byte to 16 MiB
  int32_t out_len = -1;
  int complete = -1;
  c_ptr<uint8_t> out = runlength_decode(in.rest(), static_cast<int32_t>(in.rest_size()), max_out,
                                        &out_len, &complete);
  if (out) {
    if (out_len < 0 || static_cast<uint64_t>(out_len) > max_out) std::abort();
    if (complete != 0 && complete != 1) std::abort();
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < out_len; i++) sink = sink ^ out.get()[i];
  }
  return 0;
}
