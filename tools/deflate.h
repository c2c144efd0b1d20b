// Compressing bytes into a zlib stream (RFC 1950 around RFC 1951 Deflate), for the PNG pictures
// the tool writes. A review report holds one picture per page, so the pictures must be small:
// LZ77 matches over a 32 KiB window, coded with Huffman tables made for each block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<uint8_t> zlib_deflate(const uint8_t *data, size_t n);
