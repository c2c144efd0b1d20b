// Baseline JPEG decoder for DCT-encoded image data: one Huffman-coded scan in memory becomes
// 8-bit RGBA pixels. Standalone: it needs nothing from the rest of the library, allocates all its
// working memory per call and keeps only its cosine table and the failure message between calls.
//
// qx_jpeg_decode_impl(data, length, width, height, message):
//   data, length : the JPEG bytes, starting with SOI (0xFF 0xD8, not examined here). Only bytes
//                  data[0 .. length-1] are ever read.
//   *width, *height are set to 0 on entry, to the frame's X and Y on success.
//   Success: returns X * Y * 4 bytes (red, green, blue, 255), rows top to bottom, allocated with
//            malloc; the caller owns them and releases them with free(). *message is "".
//   Failure: returns null, *width = *height = 0, and *message points to a process-wide buffer
//            holding one line that begins with "jpeg: ", valid until the next failing call:
//     "jpeg: out of memory"               working tables, a sample plane or the result
//     "jpeg: no scan data"                5 bytes or fewer, the data end before a scan header,
//                                         or fill bytes 0xFF run to the end of the data
//     "jpeg: corrupt stream"              no 0xFF where a marker must begin
//     "jpeg: bad segment length"          a segment length below 2
//     "jpeg: truncated segment"           a segment that ends past the data
//     "jpeg: bad SOF"                     a frame header of 6 bytes or fewer, or one whose
//                                         component list runs past it
//     "jpeg: only 8-bit samples supported"
//     "jpeg: unsupported SOF"             Nf outside 1..4, X or Y zero, X * Y above 200,000,000
//     "jpeg: bad component spec"          a sampling factor of 0 or a quantization selector > 3
//     "jpeg: bad quant table id"          a DQT table id above 3
//     "jpeg: truncated DQT"
//     "jpeg: bad quant value"             a quantization value of 0 or above 255
//     "jpeg: bad DHT"                     a class above 1, an id above 3, or counts whose codes do
//                                         not fit in 16 bits
//     "jpeg: truncated DHT"
//     "jpeg: bad SOS"                     an empty scan header, one that lists no component, or
//                                         one shorter than its component list
//     "jpeg: bad SOS count"               more than 4 scan components
//     "jpeg: unknown SOS component"       a scan component id no frame component has
//     "jpeg: missing quant table"
//     "jpeg: missing Huffman table"       a scan selector naming an undefined (or nonexistent)
//                                         slot, or a frame component the scan does not name
//     "jpeg: decode error in scan data"   decoding stopped early with no 0xFF 0xD9 at the stop
//
// Only the first scan is decoded, always as baseline sequential data (SOF2 frames are read like
// SOF0). Colour: 1 component is grey; 2 components are grey from the first; 3 are YCbCr; 4 are
// CMYK, stored inverted (as Adobe writes it) when an Adobe APP14 segment is present, and YCCK
// (YCbCr to RGB, then K, inverted) when its transform is 2.
// Not thread-safe: the cosine table is filled without a lock and the message buffer is shared.
#pragma once

#include <cstdint>

inline constexpr uint64_t k_jpeg_max_pixels = 200000000;

uint8_t *qx_jpeg_decode_impl(const uint8_t *data, uint64_t length, int32_t *width,
                             int32_t *height, const char **message);
