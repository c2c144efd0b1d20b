// The tool's zlib writer and PNG pictures, read back by zlib itself and by an independent PNG
// reader: every byte and every pixel must come back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "deflate.h"
#include "image_out.h"
#include "support/png_reader.h"

namespace {

std::vector<uint8_t> inflate_all(const std::vector<uint8_t> &z, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  uLongf len = out.size();
  EXPECT_EQ(uncompress(out.data(), &len, z.data(), z.size()), Z_OK);
  out.resize(len);
  return out;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t &b : v) b = static_cast<uint8_t>(rng() % alphabet);
  return v;
}

TEST(Deflate, EveryInputComesBackExactly) {
  std::vector<std::vector<uint8_t>> inputs = {
      {}, {42}, {1, 2}, std::vector<uint8_t>(1 << 20, 0), std::vector<uint8_t>(100000, 0xFF),
      random_bytes(200000, 1, 256),  // incompressible: matches are rare
      random_bytes(300000, 2, 3),    // few symbols, many short matches
      random_bytes(70000, 3, 1),     // one symbol only
  };
  // A pattern repeating at the window's full distance, and one just past it.
  for (size_t period : {32768u, 32769u}) {
    std::vector<uint8_t> v = random_bytes(period, 4, 256);
    std::vector<uint8_t> twice = v;
    twice.insert(twice.end(), v.begin(), v.end());
    inputs.push_back(twice);
  }
  // Text-like data long enough to need several blocks.
  std::string text;
  for (int i = 0; text.size() < 900000; ++i) text += "page " + std::to_string(i * 7919 % 1000) + " blank; ";
  inputs.emplace_back(text.begin(), text.end());

  for (size_t k = 0; k < inputs.size(); ++k) {
    const std::vector<uint8_t> &in = inputs[k];
    const std::vector<uint8_t> z = zlib_deflate(in.data(), in.size());
    EXPECT_EQ(inflate_all(z, in.size()), in) << "input " << k;
  }
}

TEST(Deflate, WhitePagesBecomeSmall) {
  // A 48 dpi Letter page of white rows, as the PNG filter leaves it: a few hundred bytes.
  std::vector<uint8_t> page(528 * 409, 0);
  EXPECT_LT(zlib_deflate(page.data(), page.size()).size(), 600u);
}

struct picture_case {
  const char *name;
  int width, height;
  bool grey;
};

TEST(Png, PixelsRoundTripInGreyAndColour) {
  const picture_case cases[] = {{"one pixel", 1, 1, true},     {"one colour pixel", 1, 1, false},
                                {"grey page", 408, 528, true}, {"colour page", 408, 528, false},
                                {"tall strip", 3, 2000, false}, {"wide strip", 5000, 2, true}};
  for (const picture_case &c : cases) {
    std::mt19937 rng(static_cast<uint32_t>(c.width * 31 + c.height));
    std::vector<uint8_t> rgba(static_cast<size_t>(c.width) * c.height * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
      // Smooth areas with noise, so every row filter gets chosen somewhere.
      const uint8_t base = static_cast<uint8_t>((i / 4) % 251 + rng() % 5);
      rgba[i] = base;
      rgba[i + 1] = c.grey ? base : static_cast<uint8_t>(rng());
      rgba[i + 2] = c.grey ? base : static_cast<uint8_t>(base / 2);
      rgba[i + 3] = 255;
    }
    const std::vector<uint8_t> png = encode_png(rgba.data(), c.width, c.height);
    EXPECT_EQ(png[25], c.grey ? 0 : 2) << c.name;  // the colour type in IHDR
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(decode_png(std::string(png.begin(), png.end()), &w, &h, &rgb)) << c.name;
    ASSERT_EQ(w, c.width);
    ASSERT_EQ(h, c.height);
    size_t differ = 0;
    for (size_t p = 0; p < rgb.size() / 3; ++p)
      for (int k = 0; k < 3; ++k) differ += rgb[3 * p + k] != rgba[4 * p + k];
    EXPECT_EQ(differ, 0u) << c.name;
  }
}

}  // namespace
