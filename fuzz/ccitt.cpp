// The CCITT fax decoder on arbitrary coded rows. The first bytes give the parameters: K,
// columns, rows, BlackIs1, EncodedByteAlign and EndOfLine, then the row bound.

#include <cstdint>
#include <cstdlib>

#include "render/ccitt.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 20)) return 0;
  fuzz::front_reader in(data, size);
  ccitt_params p;
  const uint8_t flags = in.byte();
  p.k = static_cast<int>(static_cast<int8_t>(in.byte()));  // -128 to 127, Group 4 when below 0
  p.black_is_1 = flags & 1;
  p.encoded_byte_align = (flags >> 1) & 1;
  p.end_of_line = (flags >> 2) & 1;
  p.end_of_block = (flags >> 3) & 1;
  // Columns: mostly the common widths, else anything from 0 to 65535 (0 is out of range
  // and must be refused).
  static const int k_widths[] = {1728, 2048, 2432, 1, 8, 9, 15, 16, 17, 100, 215, 1000000};
  const uint16_t cols = in.u16();
  p.columns = (flags & 0x10) ? cols : k_widths[cols % 12];
  p.rows = in.u16() % 4096;
  // The decoder gives at most max_rows rows of (columns + 7) / 8 bytes; keep the output below
  // 32 MiB whatever the width.
  const int64_t row_bytes = p.columns > 0 ? (int64_t(p.columns) + 7) / 8 : 1;
  int64_t max_rows = (int64_t(32) << 20) / row_bytes;
  if (max_rows > 100000) max_rows = 100000;
  if (flags & 0x20) max_rows = 1 + in.byte() % 16;  // a small bound, to reach the cut there
  int32_t out_len = -1, out_rows = -1;
  int complete = -1;
  c_ptr<uint8_t> out = ccitt_decode(in.rest(), static_cast<int32_t>(in.rest_size()), p,
                                    static_cast<int32_t>(max_rows), &out_len, &out_rows, &complete);
  if (out) {
    if (out_rows <= 0 || out_rows > max_rows) std::abort();
    if (p.rows > 0 && out_rows > p.rows) std::abort();
    if (int64_t(out_len) != int64_t(out_rows) * row_bytes) std::abort();
    volatile uint8_t sink = 0;
    for (int32_t i = 0; i < out_len; i++) sink = sink ^ out.get()[i];
  } else if (out_len != 0 || out_rows != 0) {
    std::abort();
  }
  return 0;
}
