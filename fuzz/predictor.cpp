// Undoing the TIFF and PNG predictors on arbitrary rows. The first bytes give the
// parameters: predictor, colours, bits per component and columns, each folded onto values
// around the supported range so that both the refusals and every row filter are reached.

#include <cstdint>
#include <cstdlib>

#include "render/predictor.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 22)) return 0;
  fuzz::front_reader in(data, size);
  static const int k_predictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 0, 3, 9, 16};
  static const int k_bits[] = {1, 2, 4, 8, 16, 0, 3, 32};
  predictor_params p;
  p.predictor = k_predictors[in.byte() % 12];
  p.colors = in.byte() % 34;            // 0 to 33
  p.bits_per_component = k_bits[in.byte() % 8];
  p.columns = static_cast<int>(in.u16()) - 1;  // -1 to 65534
  int32_t out_len = -1;
  int complete = -1;
  c_ptr<uint8_t> out =
      predictor_undo(in.rest(), static_cast<int32_t>(in.rest_size()), p, &out_len, &complete);
  if (out) {
    if (!predictor_supported(p)) std::abort();
    // The rows come out without their filter bytes: never longer than the input.
    if (out_len < 0 || static_cast<size_t>(out_len) > in.rest_size()) std::abort();
    if (complete != 0 && complete != 1) std::abort();
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < out_len; i++) sink = sink ^ out.get()[i];
  }
  return 0;
}
