// Fax decoding speed on a 300-dpi A4 page (2480 x 3508): lines of text-like strokes, and the
// same page with a band of dust as a poor scan gives, coded by libtiff's tiffcp as Group 4 and
// as two-dimensional Group 3. Prints the best of several runs in ms per page; needs tiffcp.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "render/ccitt.h"

namespace {

using bytes = std::vector<uint8_t>;
constexpr int k_w = 2480, k_h = 3508, k_runs = 7;
constexpr int k_stride = (k_w + 7) / 8;

void span(bytes &b, int x0, int x1, int y) {
  for (int x = x0; x < x1 && x < k_w; ++x)
    b[size_t(y) * k_stride + x / 8] |= uint8_t(0x80 >> (x & 7));
}

// 1 bits black, as TIFF's WhiteIsZero stores them.
bytes page(bool dusty) {
  bytes b(size_t(k_stride) * k_h, 0);
  std::mt19937 rng(7);
  for (int line = 300; line + 40 < k_h - 300; line += 60) {
    for (int x = 250; x < k_w - 250; x += 22) {
      if (rng() % 7 == 0) continue;  // word gaps
      int kind = int(rng() % 4);
      for (int r = 0; r < 30; ++r) {
        int y = line + r;
        if (kind == 0) span(b, x, x + 3, y);
        if (kind == 1 && (r < 3 || r > 26)) span(b, x, x + 16, y);
        if (kind == 1) span(b, x, x + 3, y);
        if (kind == 2) span(b, x + r / 2, x + r / 2 + 4, y);
        if (kind == 3 && r > 10) span(b, x + 14 - (r - 10) / 2, x + 17 - (r - 10) / 2, y);
      }
    }
  }
  if (dusty)
    for (int y = 1500; y < 2000; ++y)
      for (int x = 0; x < k_w; ++x)
        if (rng() % 9 == 0) span(b, x, x + 1, y);
  return b;
}

void put16(bytes &t, uint32_t v) {
  t.push_back(uint8_t(v));
  t.push_back(uint8_t(v >> 8));
}
void put32(bytes &t, uint32_t v) {
  put16(t, v & 0xffff);
  put16(t, v >> 16);
}
uint32_t get(const bytes &f, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | (at + i < f.size() ? f[at + i] : 0);
  return v;
}

// An uncompressed little-endian TIFF of one strip.
bytes tiff(const bytes &px) {
  bytes t = {'I', 'I', 42, 0};
  put32(t, 8);
  const uint32_t tags[][3] = {{256, 4, k_w}, {257, 4, k_h}, {258, 3, 1},
                              {259, 3, 1},   {262, 3, 0},   {273, 4, 8 + 2 + 9 * 12 + 4},
                              {277, 3, 1},   {278, 4, k_h}, {279, 4, uint32_t(px.size())}};
  put16(t, 9);
  for (const auto &e : tags) {
    put16(t, e[0]);
    put16(t, e[1]);
    put32(t, 1);
    put32(t, e[2]);
  }
  put32(t, 0);
  t.insert(t.end(), px.begin(), px.end());
  return t;
}

// The strip of a little-endian one-strip TIFF as tiffcp writes it.
bytes strip(const bytes &f) {
  size_t ifd = get(f, 4, 4);
  uint32_t offset = 0, count = 0;
  for (uint32_t i = 0, n = get(f, ifd, 2); i < n; ++i) {
    size_t e = ifd + 2 + i * 12;
    if (get(f, e, 2) == 273) offset = get(f, e + 8, 4);
    if (get(f, e, 2) == 279) count = get(f, e + 8, 4);
  }
  if (size_t(offset) + count > f.size()) return {};
  return bytes(f.begin() + offset, f.begin() + offset + count);
}

bool run(const std::string &dir, const char *name, bool dusty, const char *scheme, int k) {
  bytes px = page(dusty);
  {
    bytes t = tiff(px);
    std::ofstream(dir + "/in.tif", std::ios::binary)
        .write(reinterpret_cast<const char *>(t.data()), std::streamsize(t.size()));
  }
  std::string cmd = std::string("tiffcp -c ") + scheme + " -r " + std::to_string(k_h) + " " + dir +
                    "/in.tif " + dir + "/out.tif";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "%s failed (is libtiff-tools installed?)\n", cmd.c_str());
    return false;
  }
  std::ifstream in(dir + "/out.tif", std::ios::binary);
  bytes data = strip(bytes((std::istreambuf_iterator<char>(in)), {}));
  ccitt_params p;
  p.k = k;
  p.columns = k_w;
  p.black_is_1 = 1;
  p.end_of_line = k >= 0;
  double best = 1e9;
  for (int i = 0; i < k_runs; ++i) {
    int32_t len = 0, rows = 0;
    int complete = 0;
    auto t0 = std::chrono::steady_clock::now();
    c_ptr<uint8_t> out =
        ccitt_decode(data.data(), int32_t(data.size()), p, k_h, &len, &rows, &complete);
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!out || rows != k_h || !complete || !std::equal(px.begin(), px.end(), out.get())) {
      std::fprintf(stderr, "%s %s: decoded rows differ from the page\n", name, scheme);
      return false;
    }
    if (t < best) best = t;
  }
  std::printf("A4 300 dpi, %s, %s, %zu bytes: %.2f ms per page\n", name, scheme, data.size(),
              best * 1e3);
  return true;
}

}  // namespace

int main() {
  const std::string dir = "/tmp/leafsift_ccitt_bench_" + std::to_string(getpid());
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  bool ok = run(dir, "text", false, "g4", -1) && run(dir, "text + dust", true, "g4", -1) &&
            run(dir, "text", false, "g3:2d", 1) && run(dir, "text", false, "g3", 0);
  if (std::system(("rm -rf " + dir).c_str()) != 0) return 1;
  return ok ? 0 : 1;
}
