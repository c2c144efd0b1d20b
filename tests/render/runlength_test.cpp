// The RunLength decoder against PackBits strips that libtiff's tiffcp wrote (the two formats
// share their runs; tiffcp writes no 128 byte, which RunLength reads as the end), the output
// bound, and damaged data that must end cleanly.
#include "render/runlength.h"

#include <gtest/gtest.h>

#include <string>

#include "support/tiff_fixture.h"

namespace {

std::string decode(const std::string &in, uint64_t max_out, bool *ok, int *complete) {
  int32_t n = 0;
  c_ptr<uint8_t> out = runlength_decode(reinterpret_cast<const uint8_t *>(in.data()),
                                        static_cast<int32_t>(in.size()), max_out, &n, complete);
  *ok = out != nullptr;
  return out ? std::string(reinterpret_cast<const char *>(out.get()), static_cast<size_t>(n))
             : "";
}

// Rows with long runs, short runs and literal stretches, as scanned pages have.
std::string page_rows(int w, int h) {
  std::string s;
  unsigned seed = 5;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      seed = seed * 1103515245u + 12345u;
      int v = (y % 9 == 0) ? static_cast<int>(seed >> 24) : (x / 37 + y / 11) % 3 == 0 ? 0 : 255;
      s += static_cast<char>(v);
    }
  return s;
}

TEST(RunLengthTiff, PackBitsStripsDecodeToTheirSamples) {
  if (!have_tiffcp()) GTEST_SKIP() << "tiffcp is not installed";
  struct {
    int w, h;
  } sizes[] = {{1, 1}, {129, 3}, {640, 40}, {1001, 17}};
  for (const auto &sz : sizes) {
    const std::string raw = page_rows(sz.w, sz.h);
    const std::string strip = tiffcp(sz.w, sz.h, 1, 8, raw, "packbits");
    ASSERT_FALSE(strip.empty()) << sz.w;
    bool ok = false;
    int complete = 0;
    EXPECT_EQ(decode(strip, 1u << 30, &ok, &complete), raw) << sz.w << "x" << sz.h;
    EXPECT_TRUE(ok);
    EXPECT_EQ(complete, 1);
  }
}

TEST(RunLength, OutputBoundAndDamage) {
  bool ok = false;
  int complete = 0;
  const std::string run = "\x81z\x81z";  // 256 bytes
  EXPECT_EQ(decode(run, 256, &ok, &complete).size(), 256u);
  decode(run, 255, &ok, &complete);
  EXPECT_FALSE(ok);
  // Every cut of a valid stream decodes to a prefix of its output.
  const std::string full = std::string("\x03" "abcd\xFDq\x01" "xy\x80", 12);
  const std::string want = "abcdqqqqxy";
  for (size_t k = 0; k <= full.size(); k++) {
    std::string got = decode(full.substr(0, k), 1000, &ok, &complete);
    EXPECT_EQ(want.compare(0, got.size(), got), 0) << k;
  }
}

}  // namespace
