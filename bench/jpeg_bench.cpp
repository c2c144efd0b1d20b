// JPEG decoding speed on a 300-dpi A4 greyscale scan (2480 x 3508): this library's decoder
// against libjpeg-turbo's djpeg on the same file, made by cjpeg at its default quality
// (sequential, and progressive for one page).
// Prints the best of several runs for each and the time ratio; needs cjpeg and djpeg on PATH.
#include "render/jpeg.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
constexpr int k_w = 2480, k_h = 3508, k_runs = 5;

// White paper (with faint noise, as a scanner's sensor gives, or clean) and bands of text lines
// made of short dark strokes.
bytes scan_pgm(bool noise) {
  std::string head = "P5\n" + std::to_string(k_w) + " " + std::to_string(k_h) + "\n255\n";
  bytes b(head.begin(), head.end());
  std::mt19937 rng(3);
  for (int y = 0; y < k_h; ++y) {
    bool text_row = y > 300 && y < 3200 && (y % 60) < 30;
    for (int x = 0; x < k_w; ++x) {
      int v = noise ? 245 + int(rng() % 8) : 250;
      if (text_row && x > 250 && x < 2230 && (x / 9 + y / 60) % 7 < 3 && rng() % 4 != 0) v = 30;
      b.push_back(uint8_t(v));
    }
  }
  return b;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best-of-k_runs times of both decoders on one page; false when a tool or the decoder fails.
bool run_page(const std::string &dir, const char *name, bool noise, const char *options = "") {
  {
    bytes pgm = scan_pgm(noise);
    std::ofstream f(dir + "/page.pgm", std::ios::binary);
    f.write(reinterpret_cast<const char *>(pgm.data()), std::streamsize(pgm.size()));
  }
  const std::string jpg = dir + "/page.jpg";
  if (std::system(("cjpeg -grayscale " + std::string(options) + " -outfile " + jpg + " " + dir +
                   "/page.pgm")
                      .c_str()) != 0) {
    std::fprintf(stderr, "cjpeg failed (is libjpeg-turbo-progs installed?)\n");
    return false;
  }
  std::ifstream in(jpg, std::ios::binary);
  bytes data((std::istreambuf_iterator<char>(in)), {});

  double ours = 1e9;
  for (int i = 0; i < k_runs; ++i) {
    int32_t w = 0, h = 0;
    const char *msg = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    uint8_t *px = qx_jpeg_decode_impl(data.data(), data.size(), &w, &h, &msg);
    double t = seconds_since(t0);
    if (!px) {
      std::fprintf(stderr, "decode failed: %s\n", msg);
      return false;
    }
    std::free(px);
    if (t < ours) ours = t;
  }
  double ref = 1e9;
  const std::string cmd = "djpeg -pnm -outfile /dev/null " + jpg;
  for (int i = 0; i < k_runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return false;
    double t = seconds_since(t0);
    if (t < ref) ref = t;
  }
  std::printf("grey A4 300 dpi, %s, %zu bytes: leafsift %.1f ms, djpeg %.1f ms, ratio %.2f\n", name,
              data.size(), ours * 1e3, ref * 1e3, ours / ref);
  return true;
}

}  // namespace

int main() {
  const std::string dir = "/tmp/leafsift_jpeg_bench_" + std::to_string(getpid());
  if (std::system(("mkdir -p " + dir).c_str()) != 0) return 1;
  bool ok = run_page(dir, "noisy paper", true) && run_page(dir, "clean paper", false) &&
            run_page(dir, "noisy paper, progressive", true, "-progressive");
  if (std::system(("rm -rf " + dir).c_str()) != 0) return 1;
  return ok ? 0 : 1;
}
