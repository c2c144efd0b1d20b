#include "image_out.h"

#include "deflate.h"

#include <cstdio>
#include <cstdlib>
#include <cstdint>
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

std::vector<uint8_t> encode_png(const uint8_t *rgba, int width, int height) {
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t pixels = w * h;
  // Pages are mostly grey (scans, black print on white): one channel then says all of it.
  bool grey = true;
  for (size_t i = 0; i < pixels && grey; ++i)
    grey = rgba[4 * i] == rgba[4 * i + 1] && rgba[4 * i] == rgba[4 * i + 2];
  const size_t bpp = grey ? 1 : 3, stride = w * bpp;

  // Each row goes with the filter whose output has the smallest sum of magnitudes, the usual
  // guess for what compresses best.
  std::vector<uint8_t> raw;
  raw.reserve(h * (1 + stride));
  std::vector<uint8_t> cur(stride), up(stride, 0), trial(stride), best(stride);
  for (size_t y = 0; y < h; ++y) {
    const uint8_t *src = rgba + y * w * 4;
    if (grey) {
      for (size_t x = 0; x < w; ++x) cur[x] = src[4 * x];
    } else {
      for (size_t x = 0; x < w; ++x)
        for (size_t c = 0; c < 3; ++c) cur[3 * x + c] = src[4 * x + c];
    }
    uint64_t best_cost = UINT64_MAX;
    uint8_t best_type = 0;
    for (uint8_t type = 0; type <= 4; ++type) {
      uint64_t cost = 0;
      for (size_t i = 0; i < stride; ++i) {
        const int a = i >= bpp ? cur[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
        int pred = 0;
        if (type == 1) pred = a;
        if (type == 2) pred = b;
        if (type == 3) pred = (a + b) / 2;
        if (type == 4) {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          pred = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
        }
        trial[i] = static_cast<uint8_t>(cur[i] - pred);
        cost += static_cast<uint64_t>(std::abs(static_cast<int8_t>(trial[i])));
      }
      if (cost < best_cost) {
        best_cost = cost;
        best_type = type;
        best.swap(trial);
      }
    }
    raw.push_back(best_type);
    raw.insert(raw.end(), best.begin(), best.end());
    up.swap(cur);
  }

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  put32(ihdr, static_cast<uint32_t>(width));
  put32(ihdr, static_cast<uint32_t>(height));
  // 8 bits, grey (0) or RGB (2), deflate, adaptive filtering, no interlace.
  ihdr.insert(ihdr.end(), {8, static_cast<uint8_t>(grey ? 0 : 2), 0, 0, 0});
  chunk(png, "IHDR", ihdr);
  chunk(png, "IDAT", zlib_deflate(raw.data(), raw.size()));
  chunk(png, "IEND", {});
  return png;
}

bool write_png(const std::string &path, const uint8_t *rgba, int width, int height) {
  const std::vector<uint8_t> png = encode_png(rgba, width, height);
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
