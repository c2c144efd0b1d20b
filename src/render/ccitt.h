// CCITT fax decoding (Group 3 one- and two-dimensional, Group 4), as black-and-white scans are
// stored: the coded rows become packed one-bit rows, first pixel in the high bit.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

// The decode parameters of the filter, with the format's defaults.
struct ccitt_params {
  int k = 0;           // < 0 Group 4; 0 Group 3 one-dimensional; > 0 Group 3 mixed,
                       // a tag bit before each row saying which coding it uses
  int columns = 1728;  // 1 .. 1000000
  int rows = 0;        // 0: as many rows as the data hold
  int black_is_1 = 0;  // 0: black pixels come out as 0 bits
  // Rows begin on a byte boundary. In Group 4 data, and in Group 3 data without EOL codes
  // (none before the first row and end_of_line 0), the bits up to the next byte boundary are
  // skipped before each row. Group 3 data with EOLs puts its fill zeros before each EOL, which
  // then ends on a byte boundary (TIFF's fill bits) or starts on one; both are read as they are.
  int encoded_byte_align = 0;
  // Unused: an end-of-block code (EOFB in Group 4, RTC in Group 3) always ends the data.
  int end_of_block = 1;
  // EOL codes are always accepted and never required; 1 says they come before every row.
  int end_of_line = 0;
  // Unused: damaged rows are not skipped (see below).
  int damaged_rows_before_error = 0;
};

// The rows decoded from data[0..len-1]: ((columns + 7) / 8) bytes per row, first pixel in the
// high bit, the pad bits of each row's last byte white; at most max_rows rows, and at most
// params.rows when that is given (fewer when the data end first: rows are never invented).
// A row whose runs reach past its end is cut there. A damaged row (a code that does not exist,
// the uncompressed-mode extension, which is not read, a change left of the one before, an EOL
// or the data's end before the row is full) ends decoding: the rows before it are returned and
// *complete is 0. *complete is 1 when decoding stopped at the data's end (perhaps after zero
// padding), at an end-of-block code, or at the row bound. Null, with *out_len and *out_rows 0,
// when no row could be decoded, the parameters are out of range or memory runs out.
c_ptr<uint8_t> ccitt_decode(const uint8_t *data, int32_t len, const ccitt_params &params,
                            int32_t max_rows, int32_t *out_len, int32_t *out_rows, int *complete);
