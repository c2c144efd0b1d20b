// CCITT fax decoding (Group 3 one- and two-dimensional, Group 4), as black-and-white scans are
// stored: the coded rows become packed one-bit rows, first pixel in the high bit.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

// The decode parameters of the filter, with the format's defaults.
struct ccitt_params {
  int k = 0;                  // < 0 Group 4; 0 Group 3 one-dimensional; > 0 Group 3 mixed
  int columns = 1728;
  int rows = 0;               // 0: as many rows as the data hold
  int black_is_1 = 0;         // 0: black pixels come out as 0 bits
  int encoded_byte_align = 0;
  int end_of_block = 1;
  int end_of_line = 0;
  int damaged_rows_before_error = 0;
};

// The rows decoded from data[0..len-1]: ((columns + 7) / 8) bytes per row, at most max_rows
// rows (and at most params.rows when that is given). Rows that cannot be decoded end the data;
// *complete (when given) is 1 when the data decoded to their end, an end-of-block code or the
// row count without damage. Null when nothing could be decoded, the parameters are out of
// range or memory runs out.
c_ptr<uint8_t> ccitt_decode(const uint8_t *data, int32_t len, const ccitt_params &params,
                            int32_t max_rows, int32_t *out_len, int32_t *out_rows,
                            int *complete);
