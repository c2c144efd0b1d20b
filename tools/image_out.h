// Writing a page raster for people to look at: PNG (stored Deflate blocks, no compression
// needed for a look) or binary PPM.
#pragma once

#include <cstdint>
#include <string>

// rgba: width * height * 4 bytes, rows from the top. Alpha is dropped: the raster starts as
// opaque white paper. Both return false when the file cannot be written.
bool write_png(const std::string &path, const uint8_t *rgba, int width, int height);
bool write_ppm(const std::string &path, const uint8_t *rgba, int width, int height);
