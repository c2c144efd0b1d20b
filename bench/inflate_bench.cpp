// Flate decoding speed: this library's decoder against zlib's inflate on the same streams, a
// text-like one (page content) and a scan-like one (an 8-bit grey page image, mostly white),
// each 20 MB before compression at zlib's default level. Prints output MB/s and the time ratio.
#include "pdfcore/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
constexpr size_t k_size = 20 * 1000 * 1000;

// Content-stream-like text: operators, numbers and words in skewed proportions.
bytes text_like(size_t n) {
  static const char *words[] = {"BT", "ET", "Tf", "Tj", "TJ", "Td", "q", "Q", "cm", "re", "f",
                                "/F1", "/F2", "(the)", "(page)", "(of)", "(and)", "(scan)",
                                "0", "1", "12", "0.5", "72", "[(Hello) -250 (World)]"};
  std::mt19937 rng(1);
  std::geometric_distribution<int> pick(0.12);
  bytes out;
  out.reserve(n + 64);
  while (out.size() < n) {
    const char *w = words[pick(rng) % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::strlen(w));
    if (rng() % 3 == 0) {
      const std::string num = std::to_string(rng() % 6000 / 10.0).substr(0, 5);
      out.push_back(' ');
      out.insert(out.end(), num.begin(), num.end());
    }
    out.push_back(rng() % 7 == 0 ? '\n' : ' ');
  }
  out.resize(n);
  return out;
}

// Rows of an A4 page scanned at 300 dpi in 8-bit grey: white paper with a little noise, and
// bands of text lines made of short dark runs with grey edges.
bytes scan_like(size_t n) {
  const size_t width = 2480;
  std::mt19937 rng(2);
  bytes out;
  out.reserve(n + width);
  size_t row = 0;
  while (out.size() < n) {
    bytes line(width, 255);
    const bool text_band = (row / 40) % 3 == 1 && row % 40 < 28;
    if (text_band) {
      for (size_t x = 200; x + 20 < width - 200;) {
        x += 2 + rng() % 30;
        const size_t run = 1 + rng() % 8;
        line[x] = static_cast<uint8_t>(128 + rng() % 100);
        for (size_t i = 1; i <= run; ++i) line[x + i] = static_cast<uint8_t>(rng() % 60);
        line[x + run + 1] = static_cast<uint8_t>(128 + rng() % 100);
        x += run + 2;
      }
    }
    for (int i = 0; i < 4; ++i) line[rng() % width] = static_cast<uint8_t>(235 + rng() % 20);
    out.insert(out.end(), line.begin(), line.end());
    ++row;
  }
  out.resize(n);
  return out;
}

bytes compress(const bytes &data) {
  uLongf len = compressBound(data.size());
  bytes out(len);
  if (compress2(out.data(), &len, data.data(), data.size(), Z_DEFAULT_COMPRESSION) != Z_OK) {
    std::fprintf(stderr, "compress failed\n");
    std::exit(1);
  }
  out.resize(len);
  return out;
}

template <class F>
double best_seconds(F run, int reps) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

void bench(const char *name, const bytes &data, int reps) {
  const bytes z = compress(data);
  bytes out(data.size());

  const double ours = best_seconds(
      [&] {
        uint64_t n = 0;
        if (inflate_decompress(z.data(), z.size(), out.data(), out.size(), &n) != 0 ||
            n != data.size()) {
          std::fprintf(stderr, "%s: decoding failed\n", name);
          std::exit(1);
        }
      },
      reps);
  if (out != data) {
    std::fprintf(stderr, "%s: decoded bytes differ\n", name);
    std::exit(1);
  }
  const double theirs = best_seconds(
      [&] {
        uLongf n = out.size();
        if (uncompress(out.data(), &n, z.data(), z.size()) != Z_OK || n != data.size()) {
          std::fprintf(stderr, "%s: zlib failed\n", name);
          std::exit(1);
        }
      },
      reps);

  const double mb = static_cast<double>(data.size()) / 1e6;
  std::printf("%-6s %6.1f MB -> %7.2f MB compressed   ours %7.1f MB/s   zlib %7.1f MB/s   "
              "time ratio %.2f\n",
              name, mb, static_cast<double>(z.size()) / 1e6, mb / ours, mb / theirs, ours / theirs);
}

}  // namespace

int main(int argc, char **argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  bench("text", text_like(k_size), reps);
  bench("scan", scan_like(k_size), reps);
  return 0;
}
