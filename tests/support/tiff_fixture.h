// TIFF files for the decoder tests: an uncompressed one-strip file written here, copied by
// libtiff's tiffcp under a compression option, and the one strip of a file read back, so that
// the decoders meet data an established encoder wrote.
#pragma once

#include <string>

// An uncompressed TIFF of one strip, little-endian, samples as given.
std::string tiff_file(int w, int h, int spp, int bps, const std::string &samples);
// The data of the one strip of a TIFF file, either byte order, or "" when it cannot be found.
std::string tiff_strip(const std::string &f);
// The strip of tiffcp's copy of the image under a compression option ("lzw", "packbits",
// "zip:2"...), or "" when it fails.
std::string tiffcp(int w, int h, int spp, int bps, const std::string &data, const char *how,
                   bool big_endian = false);
bool have_tiffcp();
