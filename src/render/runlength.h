// RunLength decoding (the RunLengthDecode filter): a length byte of 0 to 127 copies that many
// plus one bytes, 129 to 255 repeats the next byte 257 minus it times, and 128 ends the data.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

// The bytes src[0..n-1] stand for, at most max_out of them. A run that reaches past the data
// keeps the bytes there are and ends them; *complete (when given) is 0 then, 1 when the data
// ended at the end-of-data byte or at a run boundary. Null when the output would pass max_out
// or memory runs out; an empty result is a valid block with *out_len 0.
c_ptr<uint8_t> runlength_decode(const uint8_t *src, int32_t n, uint64_t max_out, int32_t *out_len,
                                int *complete);
