#include "support/png_reader.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include <zlib.h>

namespace {

uint32_t be32(const std::string &b, size_t at) {
  return (uint32_t{static_cast<uint8_t>(b[at])} << 24) | (uint32_t{static_cast<uint8_t>(b[at + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(b[at + 2])} << 8) | uint32_t{static_cast<uint8_t>(b[at + 3])};
}

}  // namespace

bool decode_png(const std::string &bytes, int *width, int *height, std::vector<uint8_t> *rgb) {
  if (bytes.size() < 8 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0) return false;
  std::string idat;
  int w = 0, h = 0, type = -1;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const uint32_t len = be32(bytes, at);
    if (at + 12 + len > bytes.size()) return false;
    const std::string kind = bytes.substr(at + 4, 4);
    const std::string data = bytes.substr(at + 8, len);
    if (crc32(0, reinterpret_cast<const Bytef *>(bytes.data() + at + 4), len + 4) !=
        be32(bytes, at + 8 + len))
      return false;
    if (kind == "IHDR") {
      if (len != 13 || data[8] != 8 || data[12] != 0) return false;
      w = static_cast<int>(be32(data, 0));
      h = static_cast<int>(be32(data, 4));
      type = data[9];
    } else if (kind == "IDAT") {
      idat += data;
    } else if (kind == "IEND") {
      break;
    }
    at += 12 + len;
  }
  if (w <= 0 || h <= 0 || (type != 0 && type != 2)) return false;
  const size_t bpp = type == 0 ? 1 : 3, stride = static_cast<size_t>(w) * bpp;
  std::vector<uint8_t> raw(static_cast<size_t>(h) * (stride + 1));
  uLongf raw_len = raw.size();
  if (uncompress(raw.data(), &raw_len, reinterpret_cast<const Bytef *>(idat.data()), idat.size()) !=
          Z_OK ||
      raw_len != raw.size())
    return false;
  std::vector<uint8_t> prev(stride, 0), cur(stride);
  rgb->assign(static_cast<size_t>(w) * h * 3, 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t *row = raw.data() + static_cast<size_t>(y) * (stride + 1);
    const int filter = row[0];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
      int pred = 0;
      switch (filter) {
        case 0: break;
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          pred = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
          break;
        }
        default: return false;
      }
      cur[i] = static_cast<uint8_t>(row[1 + i] + pred);
    }
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k)
        (*rgb)[(static_cast<size_t>(y) * w + x) * 3 + k] = cur[x * bpp + (bpp == 1 ? 0 : k)];
    prev.swap(cur);
  }
  *width = w;
  *height = h;
  return true;
}

bool decode_ppm(const std::string &bytes, int *width, int *height, std::vector<uint8_t> *rgb) {
  std::istringstream in(bytes);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  if (!(in >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255 || w <= 0 || h <= 0)
    return false;
  in.get();
  const size_t n = static_cast<size_t>(w) * h * 3;
  const size_t at = static_cast<size_t>(in.tellg());
  if (bytes.size() < at + n) return false;
  rgb->assign(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n));
  *width = w;
  *height = h;
  return true;
}
