// Writing a page raster for people to look at: PNG (grey when every pixel is grey, else RGB)
// or binary PPM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgba: width * height * 4 bytes, rows from the top. Alpha is dropped: the raster starts as
// opaque white paper. The writers return false when the file cannot be written.
std::vector<uint8_t> encode_png(const uint8_t *rgba, int width, int height);
bool write_png(const std::string &path, const uint8_t *rgba, int width, int height);
bool write_ppm(const std::string &path, const uint8_t *rgba, int width, int height);
