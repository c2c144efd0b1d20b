// LZW decoding as PDF streams (and TIFF strips) store it: codes of 9 to 12 bits, most
// significant bit first, 256 clearing the table and 257 ending the data.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

// The bytes the codes in src[0..n-1] stand for, at most max_out of them. early_change 1 (the
// format's default, and TIFF's) widens the codes one code before the table needs it, 0 when it
// does. A code beyond the table ends the data and what came before it is kept; *complete (when
// given) is 1 when the data ended at the end-of-data code or ran out at a code boundary, 0 when
// a bad code cut them short. Null when the output would pass max_out or memory runs out; an
// empty result is a valid block with *out_len 0.
c_ptr<uint8_t> lzw_decode(const uint8_t *src, int32_t n, int early_change, uint64_t max_out,
                          int32_t *out_len, int *complete);
