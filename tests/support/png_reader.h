// Reading back the PNG files the tool writes, independently of its writer: zlib inflates the
// data and the five row filters are undone here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 8-bit grey or RGB, not interlaced. On success *rgb holds width * height * 3 bytes.
bool decode_png(const std::string &bytes, int *width, int *height, std::vector<uint8_t> *rgb);

// The RGB pixels of a binary PPM (P6, maxval 255).
bool decode_ppm(const std::string &bytes, int *width, int *height, std::vector<uint8_t> *rgb);
