// Stream decoding for the renderer: ASCII85, ASCIIHex, Flate, LZW, RunLength and CCITT fax,
// applied in the order the stream names them, with their decode parameters and predictors; at
// any other filter the data so far come back (JPEG data reach the image decoder that way).
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "pdfcore/objects.h"

// How complete a decode was.
enum decode_status {
  DECODE_OK = 0,          // every filter named was applied (or there was none)
  DECODE_UNDECODED = 1,   // a filter this library does not decode was left in the data
  DECODE_FAILED = 2,      // no data: not a stream, empty, damaged beyond use, or no memory
};

// A new block of decoded bytes and their number, or null. *status (when given) tells how
// complete the result is; data that yield nothing but damage count as DECODE_FAILED, while
// data damaged partway keep what came before the damage.
c_ptr<uint8_t> rvx_stream_decode(const pdf_doc &doc, const pdf_obj &obj, int32_t *out_len,
                                 int *status = nullptr);
