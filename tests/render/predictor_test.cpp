// Predictors: the TIFF predictor at every sample width, the five PNG row filters, rows cut
// short, unknown row filters and parameters out of range; then PNG files made by ImageMagick
// with each row filter, their image data decoded as Flate with predictor 15 against the
// samples ImageMagick reads back from them.
#include "render/predictor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "render/filters.h"
#include "support/pdf_builder.h"
#include "support/stream_fixture.h"
#include "support/test_paths.h"

namespace {

struct undone {
  bool ok = false;
  std::string bytes;
  int complete = -1;
};

undone undo(const std::string &in, int predictor, int colors, int bpc, int columns) {
  predictor_params p;
  p.predictor = predictor;
  p.colors = colors;
  p.bits_per_component = bpc;
  p.columns = columns;
  undone u;
  int32_t n = -7;
  c_ptr<uint8_t> out = predictor_undo(reinterpret_cast<const uint8_t *>(in.data()),
                                      static_cast<int32_t>(in.size()), p, &n, &u.complete);
  u.ok = out != nullptr;
  if (out) u.bytes.assign(reinterpret_cast<const char *>(out.get()), static_cast<size_t>(n));
  return u;
}

std::string b(std::initializer_list<int> v) {
  std::string s;
  for (int x : v) s += static_cast<char>(x);
  return s;
}

TEST(Predictor, TiffAtEverySampleWidth) {
  struct {
    const char *name;
    int colors, bpc, columns;
    std::string in, out;
  } cases[] = {
      {"8 bits, one colour", 1, 8, 4, b({10, 1, 2, 255}), b({10, 11, 13, 12})},
      {"8 bits, rows start afresh", 1, 8, 2, b({10, 1, 20, 2}), b({10, 11, 20, 22})},
      {"8 bits, three colours", 3, 8, 2, b({1, 2, 3, 1, 1, 1}), b({1, 2, 3, 2, 3, 4})},
      // 16-bit samples are added whole, the carry crossing into the high byte.
      {"16 bits", 1, 16, 2, b({0x01, 0xFF, 0x00, 0x01}), b({0x01, 0xFF, 0x02, 0x00})},
      {"16 bits, two colours", 2, 16, 2, b({0, 1, 0, 2, 0, 1, 0xFF, 0xFF}),
       b({0, 1, 0, 2, 0, 2, 0, 1})},
      // 0b0001 then +1 +1 +0xF (wrapping): 1 2 3 2.
      {"4 bits", 1, 4, 4, b({0x11, 0x1F}), b({0x12, 0x32})},
      // 2-bit samples 1 1 1 1 -> 1 2 3 0.
      {"2 bits", 1, 2, 4, b({0x55}), b({0x6C})},
      // 1-bit: each bit is the running parity: 1 0 0 1 0 0 0 0 -> 1 1 1 0 0 0 0 0.
      {"1 bit", 1, 1, 8, b({0x90}), b({0xE0})},
      // Two 1-bit colours, three pixels: each colour runs on its own; the padding bits stay.
      {"1 bit, two colours", 2, 1, 3, b({0x43}), b({0x57})},
      {"4 bits, rows of one and a half bytes", 1, 4, 3, b({0x11, 0x10, 0x21, 0x10}),
       b({0x12, 0x30, 0x23, 0x40})},
  };
  for (const auto &c : cases) {
    undone u = undo(c.in, 2, c.colors, c.bpc, c.columns);
    ASSERT_TRUE(u.ok) << c.name;
    EXPECT_EQ(u.bytes, c.out) << c.name;
    EXPECT_EQ(u.complete, 1) << c.name;
  }
}

TEST(Predictor, PngRowFilters) {
  // Rows of two pixels of two colours at 8 bits, so that the left neighbour lies two bytes
  // back; the first row is stored as it stands.
  const std::string first = b({0, 10, 20, 10, 20});
  struct {
    const char *name;
    std::string second, out;
  } cases[] = {
      {"None", b({0, 1, 2, 3, 4}), b({1, 2, 3, 4})},
      {"Sub", b({1, 1, 2, 3, 4}), b({1, 2, 4, 6})},
      {"Up", b({2, 1, 2, 3, 4}), b({11, 22, 13, 24})},
      // (left + above) / 2: 10/2, 20/2, (6 + 10)/2, (12 + 20)/2.
      {"Average", b({3, 1, 2, 3, 4}), b({6, 12, 11, 20})},
      // Paeth takes the byte above at the row start (left and upper left count as 0), then
      // the left one, where above and upper left are equal.
      {"Paeth", b({4, 1, 2, 3, 4}), b({11, 22, 14, 26})},
      {"Up wraps", b({2, 250, 250, 0, 0}), b({4, 14, 10, 20})},
  };
  for (const auto &c : cases) {
    for (int predictor : {10, 12, 15}) {  // the row's own byte decides, whatever the value
      undone u = undo(first + c.second, predictor, 2, 8, 2);
      ASSERT_TRUE(u.ok) << c.name;
      EXPECT_EQ(u.bytes, b({10, 20, 10, 20}) + c.out) << c.name;
      EXPECT_EQ(u.complete, 1) << c.name;
    }
  }
  // The first row's neighbours above count as zero.
  EXPECT_EQ(undo(b({4, 5, 6, 7}), 15, 1, 8, 3).bytes, b({5, 11, 18}));
  EXPECT_EQ(undo(b({3, 8, 6, 7}), 15, 1, 8, 3).bytes, b({8, 10, 12}));
  // Sub-byte samples: the left neighbour is the byte before.
  EXPECT_EQ(undo(b({1, 0x12, 0x34}), 15, 1, 4, 4).bytes, b({0x12, 0x46}));
}

TEST(Predictor, ShortRowsAndBadParameters) {
  // A last row cut short is undone as far as it goes.
  undone u = undo(b({0, 1, 2, 3, 2, 1}), 12, 1, 8, 3);
  EXPECT_EQ(u.bytes, b({1, 2, 3, 2}));
  EXPECT_EQ(u.complete, 0);
  u = undo(b({0, 1, 2, 3, 2}), 12, 1, 8, 3);  // a type byte and nothing after it
  EXPECT_EQ(u.bytes, b({1, 2, 3}));
  EXPECT_EQ(u.complete, 0);
  u = undo(b({1, 1, 1, 1, 1}), 2, 1, 8, 3);
  EXPECT_EQ(u.bytes, b({1, 2, 3, 1, 2}));
  EXPECT_EQ(u.complete, 0);
  // A row filter PNG does not have ends the data there.
  u = undo(b({0, 1, 2, 5, 9, 9, 0, 7, 7}), 15, 1, 8, 2);
  EXPECT_EQ(u.bytes, b({1, 2}));
  EXPECT_EQ(u.complete, 0);
  // Columns far beyond the data: one short row, nothing allocated for the rest.
  u = undo(b({1, 1, 1, 1}), 15, 32, 16, 1000000000);
  EXPECT_EQ(u.bytes, b({1, 1, 1}));
  u = undo(b({1, 1, 1, 1}), 2, 32, 16, 1000000000);
  EXPECT_EQ(u.bytes, b({1, 1, 1, 1}));
  EXPECT_EQ(undo("", 15, 1, 8, 1).bytes, "");

  struct {
    int predictor, colors, bpc, columns;
  } refused[] = {{3, 1, 8, 1},  {9, 1, 8, 1}, {16, 1, 8, 1},  {0, 1, 8, 1},  {2, 0, 8, 1},
                 {2, 33, 8, 1}, {2, 1, 3, 1}, {15, 1, 32, 1}, {15, 1, 8, 0}, {2, 1, 8, -5}};
  for (const auto &r : refused)
    EXPECT_FALSE(undo(b({0, 1, 2}), r.predictor, r.colors, r.bpc, r.columns).ok)
        << r.predictor << " " << r.colors << " " << r.bpc << " " << r.columns;
  EXPECT_EQ(undo(b({0, 1, 2}), 1, 1, 8, 1).bytes, b({0, 1, 2}));
}

// The concatenated IDAT data of a PNG file (one zlib stream), with its width, bit depth and
// colour type, or false.
bool png_idat(const std::string &f, std::string *z, int *width, int *depth, int *type) {
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v = v << 8 | static_cast<uint8_t>(f[at + static_cast<size_t>(i)]);
    return v;
  };
  if (f.size() < 8 || f.compare(1, 3, "PNG") != 0) return false;
  z->clear();
  for (size_t at = 8; at + 12 <= f.size();) {
    const uint32_t n = u32(at);
    const std::string kind = f.substr(at + 4, 4);
    if (at + 12 + n > f.size()) return false;
    if (kind == "IHDR" && n >= 13) {
      *width = static_cast<int>(u32(at + 8));
      *depth = static_cast<uint8_t>(f[at + 16]);
      *type = static_cast<uint8_t>(f[at + 17]);
      if (f[at + 20] != 0) return false;  // interlaced rows are not rows
    }
    if (kind == "IDAT") *z += f.substr(at + 8, n);
    at += 12 + n;
  }
  return !z->empty();
}

const char *k_convert = "/usr/bin/convert";

TEST(PredictorPng, ImageMagickRowFiltersUndoneLikeItReadsThem) {
  if (run_command(std::string("test -x ") + k_convert) != 0)
    GTEST_SKIP() << "ImageMagick (/usr/bin/convert) is not installed";
  const std::string dir = scratch_dir();
  struct {
    const char *make;  // options and output format
    const char *raw;   // the raw samples ImageMagick reads back
    int colors, bpc;
  } kinds[] = {
      {"-depth 8 -type TrueColor PNG24:", "-depth 8 rgb:-", 3, 8},
      {"-colorspace Gray -depth 8 -define png:color-type=0 -define png:bit-depth=8 PNG:",
       "-depth 8 gray:-", 1, 8},
      {"-depth 16 -type TrueColor PNG48:", "-depth 16 -endian MSB rgb:-", 3, 16},
      {"-colorspace Gray -depth 4 -define png:color-type=0 -define png:bit-depth=4 PNG:",
       "-depth 4 gray:-", 1, 4},
  };
  // ImageMagick's built-in photograph, 70 x 46: its adaptive rows use every PNG row filter.
  // (This ImageMagick writes the fixed choices 1 to 4 as filter 0, hence the count below.)
  const int w = 70, h = 46;
  int rows_of_type[5] = {0, 0, 0, 0, 0};
  for (const auto &k : kinds) {
    for (int filter = 0; filter <= 5; filter++) {
      const std::string png = dir + "/x.png";
      const std::string make = std::string(k_convert) +
                               " rose: -define png:compression-filter=" + std::to_string(filter) +
                               " " + k.make + png;
      ASSERT_EQ(run_command(make + " 2>&1"), 0) << make;
      std::string z, want;
      int width = 0, depth = 0, type = -1;
      ASSERT_TRUE(png_idat(read_file(png), &z, &width, &depth, &type)) << make;
      ASSERT_EQ(width, w);
      ASSERT_EQ(depth, k.bpc) << make;
      ASSERT_EQ(type, k.colors == 3 ? 2 : 0) << make;
      ASSERT_EQ(run_command(std::string(k_convert) + " " + png + " " + k.raw, &want), 0);
      const std::string dict = "/Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors " +
                               std::to_string(k.colors) + " /BitsPerComponent " +
                               std::to_string(k.bpc) + " /Columns " + std::to_string(w) + " >>";
      int status = -1;
      const std::string got = renderer_decoded(dict, z, &status);
      EXPECT_EQ(status, DECODE_OK) << make;
      EXPECT_EQ(got.size(), want.size()) << make;
      EXPECT_TRUE(got == want) << make;

      const std::string rows = renderer_decoded("/Filter /FlateDecode", z, &status);
      const size_t row_len = (static_cast<size_t>(w) * k.colors * k.bpc + 7) / 8 + 1;
      ASSERT_EQ(rows.size(), row_len * h) << make;
      for (size_t at = 0; at < rows.size(); at += row_len)
        if (static_cast<uint8_t>(rows[at]) < 5) rows_of_type[static_cast<uint8_t>(rows[at])]++;
    }
  }
  for (int t = 0; t < 5; t++) EXPECT_GT(rows_of_type[t], 0) << "no rows of filter " << t;
}

}  // namespace
