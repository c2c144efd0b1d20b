// The LZW decoder: hand-packed code streams for the width steps under both EarlyChange values,
// the code the decoder cannot have yet, bad codes and the output bound; then TIFF strips that
// tiffcp compressed (LZW, LZW and Deflate with the horizontal predictor) against their samples.
#include "render/lzw.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/filters.h"
#include "support/pdf_builder.h"
#include "support/stream_fixture.h"
#include "support/test_paths.h"
#include "support/tiff_fixture.h"

namespace {

// Codes packed most significant bit first, each at its own width.
std::string pack(const std::vector<std::pair<int, int>> &codes) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc = (acc << width) | static_cast<uint32_t>(code);
    bits += width;
    while (bits >= 8) {
      out += static_cast<char>((acc >> (bits - 8)) & 0xFF);
      bits -= 8;
    }
  }
  if (bits) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
  return out;
}

std::vector<std::pair<int, int>> at9(std::initializer_list<int> codes) {
  std::vector<std::pair<int, int>> v;
  for (int c : codes) v.push_back({c, 9});
  return v;
}

struct decoded {
  bool ok = false;
  std::string bytes;
  int complete = -1;
};

decoded lzw(const std::string &in, int early = 1, uint64_t max_out = 1 << 30) {
  decoded d;
  int32_t n = -7;
  c_ptr<uint8_t> p = lzw_decode(reinterpret_cast<const uint8_t *>(in.data()),
                                static_cast<int32_t>(in.size()), early, max_out, &n, &d.complete);
  d.ok = p != nullptr;
  if (p) d.bytes.assign(reinterpret_cast<const char *>(p.get()), static_cast<size_t>(n));
  return d;
}

std::string bytes_upto(int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += static_cast<char>(i);
  return s;
}

TEST(Lzw, HandPackedCodes) {
  struct {
    const char *name;
    std::string in, out;
    int complete;
  } cases[] = {
      {"literal codes and the end code", pack(at9({256, 'a', 'b', 'c', 257})), "abc", 1},
      {"no clear code first", pack(at9({'h', 'i', 257})), "hi", 1},
      // 258 is named before the decoder has made it: the previous string and its first byte.
      {"the code not yet in the table", pack(at9({256, 'a', 258, 259, 257})), "aaaaaa", 1},
      {"strings of the table", pack(at9({'a', 'b', 258, 259, 257})), "ababba", 1},
      {"data that end without an end code", pack(at9({'x', 'y'})), "xy", 1},
      {"nothing after the end code is read", pack(at9({'x', 257, 'y'})), "x", 1},
      {"a code past the table keeps what came before", pack(at9({'a', 'b', 300, 'c'})), "ab", 0},
      {"a table code right after a clear", pack(at9({'a', 256, 258, 'b'})), "a", 0},
      {"a first code from the table", pack(at9({259})), "", 0},
      {"empty data", "", "", 1},
  };
  for (const auto &c : cases) {
    decoded d = lzw(c.in);
    ASSERT_TRUE(d.ok) << c.name;
    EXPECT_EQ(d.bytes, c.out) << c.name;
    EXPECT_EQ(d.complete, c.complete) << c.name;
  }
}

TEST(Lzw, EarlyChangeMovesTheWidthStepByOneCode) {
  // Literal codes 0 to 253 add one entry each from the second on. Under EarlyChange 1 the
  // 255th code is already ten bits wide; under EarlyChange 0 only the 256th.
  for (int early : {0, 1}) {
    std::vector<std::pair<int, int>> codes;
    const int narrow = early ? 254 : 255;
    for (int i = 0; i < 256; i++) codes.push_back({i, i < narrow ? 9 : 10});
    codes.push_back({257, 10});
    const std::string in = pack(codes);
    EXPECT_EQ(lzw(in, early).bytes, bytes_upto(256)) << early;
    EXPECT_NE(lzw(in, 1 - early).bytes, bytes_upto(256)) << early;
  }
}

TEST(Lzw, ClearResetsTheWidthAndAFullTableStaysFull) {
  // After the step to ten bits a clear code (ten bits wide) brings back nine-bit codes.
  std::vector<std::pair<int, int>> codes;
  for (int i = 0; i < 256; i++) codes.push_back({i, i < 254 ? 9 : 10});
  codes.push_back({256, 10});
  codes.push_back({'z', 9});
  codes.push_back({257, 9});
  EXPECT_EQ(lzw(pack(codes)).bytes, bytes_upto(256) + "z");

  // 5000 literal codes fill the table's 4096 entries; the codes after that stay twelve bits
  // wide and add nothing.
  codes.clear();
  std::string want;
  int width = 9;
  for (int i = 0; i < 5000; i++) {
    codes.push_back({i % 251, width});
    want += static_cast<char>(i % 251);
    const int next = 258 + i;  // the entries made once this code is read
    if (next + 1 >= (1 << width) && width < 12) width++;
  }
  codes.push_back({257, 12});
  decoded d = lzw(pack(codes));
  EXPECT_EQ(d.complete, 1);
  EXPECT_TRUE(d.bytes == want);
}

TEST(Lzw, OutputBound) {
  const std::string in = pack(at9({'a', 258, 259, 260, 261, 257}));  // 15 bytes
  EXPECT_EQ(lzw(in, 1, 15).bytes, std::string(15, 'a'));
  EXPECT_FALSE(lzw(in, 1, 14).ok);
}

// Samples with smooth runs, edges and noise, so that tables fill and clear.
std::string samples(int count, unsigned seed) {
  std::string s;
  for (int i = 0; i < count; i++) {
    seed = seed * 1103515245 + 12345;
    int v = (i / 7) % 200 + ((seed >> 16) % 5 == 0 ? static_cast<int>(seed >> 24) : 0);
    s += static_cast<char>(v);
  }
  return s;
}

TEST(LzwTiff, StripsDecodeToTheirSamples) {
  if (!have_tiffcp()) GTEST_SKIP() << "tiffcp is not installed";
  struct {
    int w, h, spp;
  } images[] = {{61, 37, 1}, {40, 30, 3}, {300, 200, 3}, {1, 1, 1}};
  for (const auto &im : images) {
    const std::string raw = samples(im.w * im.h * im.spp, static_cast<unsigned>(im.w));
    const std::string strip = tiffcp(im.w, im.h, im.spp, 8, raw, "lzw");
    ASSERT_FALSE(strip.empty()) << im.w;
    decoded d = lzw(strip);
    EXPECT_EQ(d.complete, 1) << im.w;
    EXPECT_TRUE(d.bytes == raw) << im.w << "x" << im.h;
    int status = -1;
    EXPECT_TRUE(renderer_decoded("/Filter /LZWDecode", strip, &status) == raw) << im.w;
    EXPECT_EQ(status, DECODE_OK);
  }
}

TEST(LzwTiff, HorizontalPredictorAfterLzwAndFlate) {
  if (!have_tiffcp()) GTEST_SKIP() << "tiffcp is not installed";
  struct {
    const char *how;
    const char *filter;
    int w, h, spp, bps;
  } cases[] = {
      {"lzw:2", "LZWDecode", 61, 37, 1, 8},    {"lzw:2", "LZWDecode", 45, 20, 3, 8},
      {"zip:2", "FlateDecode", 61, 37, 1, 8},  {"zip:2", "FlateDecode", 33, 21, 3, 8},
      {"zip:2", "FlateDecode", 29, 13, 3, 16}, {"lzw:2", "LZWDecode", 17, 9, 1, 16},
  };
  for (const auto &c : cases) {
    const int bytes = c.w * c.h * c.spp * c.bps / 8;
    std::string raw = samples(bytes, static_cast<unsigned>(c.w * c.bps));
    // The input file is little-endian; the big-endian copy holds the 16-bit samples high
    // byte first, as PDF data do.
    std::string want = raw;
    if (c.bps == 16)
      for (int i = 0; i + 1 < bytes; i += 2) std::swap(want[i], want[i + 1]);
    const std::string strip = tiffcp(c.w, c.h, c.spp, c.bps, raw, c.how, c.bps == 16);
    ASSERT_FALSE(strip.empty()) << c.how;
    const std::string dict = std::string("/Filter /") + c.filter +
                             " /DecodeParms << /Predictor 2 /Colors " + std::to_string(c.spp) +
                             " /BitsPerComponent " + std::to_string(c.bps) + " /Columns " +
                             std::to_string(c.w) + " >>";
    int status = -1;
    EXPECT_TRUE(renderer_decoded(dict, strip, &status) == want) << dict;
    EXPECT_EQ(status, DECODE_OK) << dict;
  }
}

TEST(LzwStream, EarlyChangeAndDamageThroughTheFilter) {
  std::vector<std::pair<int, int>> codes;
  for (int i = 0; i < 256; i++) codes.push_back({i, i < 255 ? 9 : 10});
  codes.push_back({257, 10});
  const std::string late = pack(codes);  // written as EarlyChange 0 writes
  struct {
    const char *dict;
    std::string data, out;
    int status;
  } cases[] = {
      {"/Filter /LZWDecode /DecodeParms << /EarlyChange 0 >>", late, bytes_upto(256), DECODE_OK},
      {"/Filter [/LZWDecode] /DecodeParms [<< /EarlyChange 0 >>]", late, bytes_upto(256),
       DECODE_OK},
      // Damage partway keeps what came before; damage and nothing else is no data.
      {"/Filter /LZWDecode", pack(at9({'o', 'k', 400})), "ok", DECODE_OK},
      {"/Filter /LZWDecode", pack(at9({400, 'o', 'k'})), "", DECODE_FAILED},
      {"/Filter /LZWDecode", pack(at9({256, 257})), "", DECODE_OK},
  };
  for (const auto &c : cases) {
    int status = -1;
    EXPECT_EQ(renderer_decoded(c.dict, c.data, &status), c.out) << c.dict;
    EXPECT_EQ(status, c.status) << c.dict;
  }
  int status = -1;
  EXPECT_NE(renderer_decoded("/Filter /LZWDecode", late, &status), bytes_upto(256));
}

}  // namespace
