#include "image_out.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct file_closer {
  void operator()(FILE *f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

uint32_t crc32_of(const uint8_t *p, size_t n, uint32_t crc = 0) {
  static uint32_t table[256];
  static bool built = false;
  if (!built) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    built = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void put32(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void chunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data) {
  put32(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  put32(out, crc32_of(out.data() + start, out.size() - start));
}

}  // namespace

bool write_png(const std::string &path, const uint8_t *rgba, int width, int height) {
  // The image data: each row a filter byte 0 and RGB triples, wrapped in zlib stored blocks.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    const uint8_t *row = rgba + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) raw.insert(raw.end(), row + 4 * x, row + 4 * x + 3);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, (b << 16) | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  put32(ihdr, static_cast<uint32_t>(width));
  put32(ihdr, static_cast<uint32_t>(height));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, deflate, no interlace
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  file_ptr f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  if (std::fwrite(png.data(), 1, png.size(), f.get()) != png.size()) return false;
  return std::fclose(f.release()) == 0;
}

bool write_ppm(const std::string &path, const uint8_t *rgba, int width, int height) {
  file_ptr f(std::fopen(path.c_str(), "wb"));
  if (!f) return false;
  std::fprintf(f.get(), "P6\n%d %d\n255\n", width, height);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t *src = rgba + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) row[static_cast<size_t>(3 * x + c)] = src[4 * x + c];
    if (std::fwrite(row.data(), 1, row.size(), f.get()) != row.size()) return false;
  }
  return std::fclose(f.release()) == 0;
}
