// JPEG decoder for DCT-encoded image data: baseline sequential and progressive Huffman-coded
// frames in memory become 8-bit RGBA pixels. Standalone: it needs nothing from the rest of the library, allocates all its
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
//     "jpeg: out of memory"               working tables, a sample plane or the result; for a
//                                         progressive frame also coefficient storage above
//                                         k_jpeg_max_coefficient_bytes
//     "jpeg: no scan data"                5 bytes or fewer, the data end before a scan header,
//                                         or fill bytes 0xFF run to the end of the data
//     "jpeg: corrupt stream"              no 0xFF where a marker must begin
//     "jpeg: bad segment length"          a segment length below 2
//     "jpeg: truncated segment"           a segment that ends past the data
//     "jpeg: bad SOF"                     a frame header of 6 bytes or fewer, or one whose
//                                         component list runs past it, or a second one after a
//                                         progressive frame's first scan
//     "jpeg: only 8-bit samples supported"
//     "jpeg: unsupported SOF"             Nf outside 1..4, X or Y zero, X * Y above 200,000,000
//     "jpeg: frame larger than its data"  X * Y above 512 per byte of data plus 4 Mpixel
//     "jpeg: bad component spec"          a sampling factor of 0 or a quantization selector > 3
//     "jpeg: bad quant table id"          a DQT table id above 3
//     "jpeg: truncated DQT"
//     "jpeg: bad quant value"             a quantization value of 0 or above 255
//     "jpeg: bad DHT"                     a class above 1, an id above 3, or counts whose codes do
//                                         not fit in 16 bits
//     "jpeg: truncated DHT"
//     "jpeg: bad SOS"                     an empty scan header, one that lists no component, or
//                                         one shorter than its component list (in a progressive
//                                         frame, than that list and Ss, Se, Ah/Al); in a
//                                         progressive frame also Ss > Se, Se > 63, a DC scan
//                                         (Ss = 0) with Se != 0, an AC scan (Ss > 0) of more than
//                                         one component, Ah > 13 or Al > 13
//     "jpeg: bad SOS count"               more than 4 scan components
//     "jpeg: unknown SOS component"       a scan component id no frame component has
//     "jpeg: missing quant table"
//     "jpeg: missing Huffman table"       a scan selector naming an undefined (or nonexistent)
//                                         slot, or a frame component the scan does not name
//                                         (sequential frames; a progressive scan needs a DC
//                                         table in a first DC scan and an AC table in AC scans)
//     "jpeg: decode error in scan data"   decoding stopped early with no 0xFF 0xD9 at the stop
//                                         (progressive: in the frame's first scan)
//
// SOF0 frames: the first scan is decoded and every frame component must be in it. SOF2
// (progressive) frames: every scan up to EOI is decoded (spectral selection, successive
// approximation with DC/AC refinement, end-of-band runs, restart intervals, DHT/DQT/DRI between
// scans), into coefficients kept for the whole frame; the image is made from them at the end
// with the inverse DCT, sampling and colour code of SOF0. A component's quantization table is
// the one defined when its first scan begins. The failures above apply until one scan has been
// decoded whole (or stopped right before EOI); after that, anything that would fail (a
// truncated file, a damaged segment or scan data, a bad scan header, a second frame header)
// ends decoding instead, and the result is what the scans read so far give, as with a partly
// received file. Scans beyond a work budget of, on average, 16 visits of each coefficient are
// not decoded either (a well-formed file needs at most 14). Other frame types (SOF1, SOF3...)
// are passed over like unknown segments, and their scans then fail as unknown components.
// Colour: 1 component is grey; 2 components are grey from the first; 3 are YCbCr; 4 are
// CMYK, stored inverted (as Adobe writes it) when an Adobe APP14 segment is present, and YCCK
// (YCbCr to RGB, then K, inverted) when its transform is 2.
// Not thread-safe: the cosine table is filled without a lock and the message buffer is shared.
#pragma once

#include <cstdint>

inline constexpr uint64_t k_jpeg_max_pixels = 200000000;
// The most pixels a frame may have for each byte of data (64 pixels a block, at least one
// bit a block), beyond a fixed allowance.
inline constexpr uint64_t k_jpeg_pixels_per_byte = 512;
inline constexpr uint64_t k_jpeg_free_pixels = uint64_t(1) << 22;
// A progressive frame keeps 2 bytes per coefficient, 128 per 8x8 block including the padding
// to whole MCUs: 1.5 GiB hold three full-resolution components at the largest frame.
inline constexpr uint64_t k_jpeg_max_coefficient_bytes = uint64_t(3) << 29;

uint8_t *qx_jpeg_decode_impl(const uint8_t *data, uint64_t length, int32_t *width,
                             int32_t *height, const char **message);
