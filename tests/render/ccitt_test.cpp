// Tests of the fax decoder: bitmaps made here, coded by libtiff's tiffcp in each fax scheme and
// compared pixel for pixel (skipped when tiffcp is absent), small hand-coded rows for the PDF
// parameters TIFF cannot express, and damaged data that must end decoding quietly.
#include "render/ccitt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/test_paths.h"

namespace {

using bytes = std::vector<uint8_t>;

// A one-bit image as TIFF with WhiteIsZero stores it: 1 bits are black, first pixel high.
struct bitmap {
  int w = 0, h = 0;
  bytes bits;
  int stride() const { return (w + 7) / 8; }
  void set(int x, int y) { bits[size_t(y) * stride() + x / 8] |= uint8_t(0x80 >> (x & 7)); }
  void span(int x0, int x1, int y) {
    for (int x = x0 < 0 ? 0 : x0; x < x1 && x < w; ++x) set(x, y);
  }
};

bitmap blank(int w, int h) {
  bitmap b;
  b.w = w;
  b.h = h;
  b.bits.assign(size_t(b.stride()) * h, 0);
  return b;
}

// Bands that exercise every code: text-like strokes, noise, runs of chosen lengths (the make-up
// boundaries and beyond 2560), white and black rows, checkerboard, vertical edges moving by
// 0..5 pixels per row, and shapes that appear and vanish.
bitmap mixed(int w, int h, uint32_t seed) {
  bitmap b = blank(w, h);
  std::mt19937 rng(seed);
  const int runs[] = {1,    2,    7,    63,   64,   65,   127,  128, 1727,
                      1728, 1729, 1791, 1792, 2559, 2560, 2561, 5000};
  for (int y = 0; y < h; ++y) {
    int band = (y / 24) % 8;
    switch (band) {
      case 0:  // text lines: glyph boxes with stems and bars
        for (int x = 8 + (y / 24) % 5; x + 12 < w; x += 14) {
          int g = (x / 14 + y / 24) % 5;
          int r = y % 24;
          if (r < 4 || r > 20) break;
          if (g == 0) b.span(x, x + 2, y);
          if (g == 1 && (r == 4 || r == 12 || r == 20)) b.span(x, x + 10, y);
          if (g == 1) b.span(x, x + 2, y);
          if (g == 2) b.span(x + r / 2, x + r / 2 + 3, y);
          if (g == 3) b.span(x + 10 - r / 3, x + 12 - r / 3, y);
        }
        break;
      case 1:  // noise, dense then sparse
        for (int x = 0; x < w; ++x)
          if (rng() % ((y & 1) ? 2 : 19) == 0) b.set(x, y);
        break;
      case 2: {  // runs of listed lengths, alternating colours
        int x = (y % 24) * 3;
        int i = y % 17;
        bool black = y & 1;
        while (x < w) {
          int n = runs[i++ % 17];
          if (black) b.span(x, x + n, y);
          black = !black;
          x += n;
        }
        break;
      }
      case 3:  // all white
        break;
      case 4:  // all black
        b.span(0, w, y);
        break;
      case 5:  // checkerboard
        for (int x = (y & 1); x < w; x += 2) b.set(x, y);
        break;
      case 6: {  // edges drifting by 0..5 pixels a row, both ways
        int r = y % 24;
        for (int k = 0; k * 40 < w; ++k) {
          int d = k % 6;
          int x0 = k * 40 + ((k & 1) ? r * d : (24 - r) * d) / 4;
          b.span(x0, x0 + 6 + (k % 3) * (r % 4), y);
        }
        break;
      }
      default: {  // blobs that open and close
        int r = y % 24;
        for (int x = 5; x < w; x += 50) {
          int half = r < 12 ? r : 23 - r;
          if (half > 2) b.span(x + 12 - half, x + 12 + half, y);
        }
        break;
      }
    }
  }
  return b;
}

// A page as scanned text: lines of letter-sized strokes on white, wide margins.
bitmap text_page(int w, int h) {
  bitmap b = blank(w, h);
  std::mt19937 rng(7);
  for (int line = 300; line + 40 < h - 300; line += 60) {
    int x = 250;
    while (x < w - 250) {
      int word = 3 + int(rng() % 8);
      for (int c = 0; c < word && x < w - 250; ++c, x += 22) {
        int kind = int(rng() % 4);
        for (int r = 0; r < 30; ++r) {
          int y = line + r;
          if (kind == 0) b.span(x, x + 3, y);
          if (kind == 1 && (r < 3 || r > 26)) b.span(x, x + 16, y);
          if (kind == 1) b.span(x, x + 3, y);
          if (kind == 2) b.span(x + r / 2, x + r / 2 + 4, y);
          if (kind == 3 && r > 10) b.span(x + 14 - (r - 10) / 2, x + 17 - (r - 10) / 2, y);
        }
      }
      x += 22;
    }
  }
  return b;
}

void put16(bytes &b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(bytes &b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// An uncompressed little-endian TIFF holding the bitmap as one strip.
bytes write_tiff(const bitmap &bm) {
  bytes t = {'I', 'I', 42, 0};
  put32(t, 8);
  const uint32_t n = 9;
  const uint32_t data_at = 8 + 2 + n * 12 + 4;
  const uint32_t tags[n][3] = {{256, 4, uint32_t(bm.w)},
                               {257, 4, uint32_t(bm.h)},
                               {258, 3, 1},
                               {259, 3, 1},
                               {262, 3, 0},
                               {273, 4, data_at},
                               {277, 3, 1},
                               {278, 4, uint32_t(bm.h)},
                               {279, 4, uint32_t(bm.bits.size())}};
  put16(t, n);
  for (const auto &e : tags) {
    put16(t, e[0]);
    put16(t, e[1]);
    put32(t, 1);
    if (e[1] == 3) {
      put16(t, e[2]);
      put16(t, 0);
    } else {
      put32(t, e[2]);
    }
  }
  put32(t, 0);
  t.insert(t.end(), bm.bits.begin(), bm.bits.end());
  return t;
}

// What a fax-coded TIFF says about its one strip; ok is false when it is not a single strip of
// one-bit WhiteIsZero samples in high-bit-first order.
struct tiff_strip {
  bool ok = false;
  std::string why;
  int compression = 0, w = 0, h = 0;
  uint32_t t4 = 0;
  bytes data;
};

tiff_strip read_tiff(const bytes &f) {
  tiff_strip s;
  auto u16 = [&](size_t at, bool le) -> uint32_t {
    if (at + 2 > f.size()) return 0;
    return le ? f[at] | f[at + 1] << 8 : f[at] << 8 | f[at + 1];
  };
  auto u32 = [&](size_t at, bool le) -> uint32_t {
    return le ? u16(at, le) | u16(at + 2, le) << 16 : u16(at, le) << 16 | u16(at + 2, le);
  };
  if (f.size() < 8 || (f[0] != 'I' && f[0] != 'M')) {
    s.why = "not a TIFF";
    return s;
  }
  const bool le = f[0] == 'I';
  size_t ifd = u32(4, le);
  uint32_t n = u16(ifd, le);
  uint32_t photometric = 99, fill_order = 1, strips = 0, offset = 0, count = 0, rows_per = 0;
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = ifd + 2 + i * 12;
    uint32_t tag = u16(e, le), type = u16(e + 2, le), cnt = u32(e + 4, le);
    uint32_t v = type == 3 ? u16(e + 8, le) : u32(e + 8, le);
    switch (tag) {
      case 256:
        s.w = int(v);
        break;
      case 257:
        s.h = int(v);
        break;
      case 259:
        s.compression = int(v);
        break;
      case 262:
        photometric = v;
        break;
      case 266:
        fill_order = v;
        break;
      case 273:
        strips = cnt;
        offset = v;
        break;
      case 278:
        rows_per = v;
        break;
      case 279:
        count = v;
        break;
      case 292:
        s.t4 = v;
        break;
      default:
        break;
    }
  }
  if (strips != 1 || rows_per < uint32_t(s.h))
    s.why = "more than one strip";
  else if (photometric != 0)
    s.why = "not WhiteIsZero";
  else if (fill_order != 1)
    s.why = "not high bit first";
  else if (size_t(offset) + count > f.size())
    s.why = "strip past the file";
  else
    s.ok = true;
  if (s.ok) s.data.assign(f.begin() + offset, f.begin() + offset + count);
  return s;
}

bytes read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return bytes((std::istreambuf_iterator<char>(in)), {});
}

void write_file(const std::string &path, const bytes &b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

bool have_tiffcp() { return run_command("tiffcp 2>/dev/null; command -v tiffcp >/dev/null") == 0; }

// The bitmap coded by tiffcp with the given -c option, as one strip.
tiff_strip fax_code(const bitmap &bm, const std::string &scheme) {
  std::string dir = scratch_dir();
  write_file(dir + "/in.tif", write_tiff(bm));
  std::string cmd = "tiffcp -c " + scheme + " -r " + std::to_string(bm.h) + " " + dir + "/in.tif " +
                    dir + "/out.tif 2>&1";
  std::string log;
  tiff_strip s;
  if (run_command(cmd, &log) != 0) {
    s.why = cmd + ": " + log;
    return s;
  }
  return read_tiff(read_file(dir + "/out.tif"));
}

// The TIFF fax options as PDF decode parameters. A TIFF fill bit pads before each EOL so the EOL
// ends on a byte boundary and the row (its tag bit first, in two-dimensional data) starts on
// one: PDF's EncodedByteAlign, rows beginning on a byte boundary. libtiff writes an EOL before
// every Group 3 row.
ccitt_params params_of(const tiff_strip &s) {
  ccitt_params p;
  p.columns = s.w;
  if (s.compression == 4) {
    p.k = -1;
  } else {
    p.k = (s.t4 & 1) ? 1 : 0;
    p.encoded_byte_align = (s.t4 & 4) ? 1 : 0;
    p.end_of_line = 1;
  }
  return p;
}

struct result {
  bytes out;
  int32_t rows = 0;
  int complete = -1;
  bool ok = false;
};

// The input sits in a block of exactly its size so that a sanitizer sees any read past it.
result decode(const bytes &in, const ccitt_params &p, int32_t max_rows) {
  result r;
  uint8_t *copy = static_cast<uint8_t *>(std::malloc(in.empty() ? 1 : in.size()));
  if (!in.empty()) std::memcpy(copy, in.data(), in.size());
  int32_t len = 0;
  c_ptr<uint8_t> px =
      ccitt_decode(copy, int32_t(in.size()), p, max_rows, &len, &r.rows, &r.complete);
  std::free(copy);
  if (px) {
    r.ok = true;
    r.out.assign(px.get(), px.get() + len);
    EXPECT_EQ(len, int64_t(r.rows) * ((p.columns + 7) / 8));
  }
  return r;
}

// The bitmap as the decoder must give it: black as 0 unless BlackIs1, pad bits white.
bytes expected(const bitmap &bm, bool black_is_1, int rows) {
  bytes e(bm.bits.begin(), bm.bits.begin() + size_t(bm.stride()) * rows);
  if (!black_is_1) {
    for (auto &v : e) v = uint8_t(~v);
    if (bm.w % 8)
      for (int y = 0; y < rows; ++y)
        e[size_t(y) * bm.stride() + bm.stride() - 1] |= uint8_t(0xff >> (bm.w % 8));
  }
  return e;
}

// The first differing row and column, for a readable failure.
std::string first_difference(const bytes &got, const bytes &want, int stride) {
  for (size_t i = 0; i < got.size() && i < want.size(); ++i)
    if (got[i] != want[i])
      return "row " + std::to_string(i / stride) + " byte " + std::to_string(i % stride);
  return got.size() == want.size()
             ? "none"
             : "sizes " + std::to_string(got.size()) + " vs " + std::to_string(want.size());
}

struct tool_case {
  const char *name;
  const char *scheme;
  int w, h;
};

class CcittTiffcp : public ::testing::TestWithParam<tool_case> {};

TEST_P(CcittTiffcp, DecodesExactlyWhatTiffcpCoded) {
  if (!have_tiffcp()) GTEST_SKIP() << "tiffcp (libtiff-tools) not installed";
  const tool_case &t = GetParam();
  bitmap bm = t.w == 2480 ? text_page(t.w, t.h) : mixed(t.w, t.h, uint32_t(t.w));
  tiff_strip s = fax_code(bm, t.scheme);
  ASSERT_TRUE(s.ok) << s.why;
  ASSERT_EQ(s.compression, std::string(t.scheme) == "g4" ? 4 : 3);
  const std::string scheme = t.scheme;
  if (s.compression == 3) {
    EXPECT_EQ((s.t4 & 1) != 0, scheme.find("2d") != std::string::npos) << s.t4;
    EXPECT_EQ((s.t4 & 4) != 0, scheme.find("fill") != std::string::npos) << s.t4;
  }
  ccitt_params p = params_of(s);
  for (int black_is_1 = 0; black_is_1 < 2; ++black_is_1) {
    p.black_is_1 = black_is_1;
    result r = decode(s.data, p, t.h + 10);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rows, t.h);
    EXPECT_EQ(r.complete, 1);
    bytes want = expected(bm, black_is_1, t.h);
    ASSERT_TRUE(r.out == want) << first_difference(r.out, want, bm.stride());
  }
  // Fill before EOLs is zero bits the EOL absorbs: without EncodedByteAlign the rows are the same.
  if (p.encoded_byte_align) {
    p.encoded_byte_align = 0;
    result r = decode(s.data, p, t.h);
    EXPECT_EQ(r.rows, t.h);
    EXPECT_TRUE(r.out == expected(bm, p.black_is_1, t.h));
    p.encoded_byte_align = 1;
  }
  // /Rows and the caller's bound both stop decoding at a row, and the rows before are whole.
  p.black_is_1 = 0;
  p.rows = t.h / 3;
  result r = decode(s.data, p, t.h);
  EXPECT_EQ(r.rows, t.h / 3);
  EXPECT_EQ(r.complete, 1);
  EXPECT_TRUE(r.out == expected(bm, false, t.h / 3));
  p.rows = 0;
  r = decode(s.data, p, 5);
  EXPECT_EQ(r.rows, 5);
  EXPECT_TRUE(r.out == expected(bm, false, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, CcittTiffcp,
    ::testing::Values(tool_case{"g4_1001", "g4", 1001, 400}, tool_case{"g4_1728", "g4", 1728, 300},
                      tool_case{"g4_5003", "g4", 5003, 200}, tool_case{"g4_13", "g4", 13, 200},
                      tool_case{"mh_1001", "g3", 1001, 400}, tool_case{"mh_5003", "g3", 5003, 200},
                      tool_case{"mr_1001", "g3:2d", 1001, 400},
                      tool_case{"mr_5003", "g3:2d", 5003, 200},
                      tool_case{"mh_fill_1001", "g3:fill", 1001, 400},
                      tool_case{"mh_fill_13", "g3:fill", 13, 200},
                      tool_case{"mr_fill_1001", "g3:2d:fill", 1001, 400},
                      tool_case{"mr_fill_1728", "g3:2d:fill", 1728, 300},
                      tool_case{"g4_a4_text", "g4", 2480, 3508},
                      tool_case{"mr_a4_text", "g3:2d", 2480, 3508}),
    [](const ::testing::TestParamInfo<tool_case> &i) { return std::string(i.param.name); });

// Hand-coded data: bits written as '0'/'1' text, spaces ignored, '|' pads with zeros to a byte.
bytes bits(const std::string &s) {
  bytes b;
  int n = 0;
  for (char c : s) {
    if (c == '|') {
      while (n % 8) ++n;
      continue;
    }
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) b.push_back(0);
    if (c == '1') b.back() |= uint8_t(0x80 >> (n % 8));
    ++n;
  }
  return b;
}

// Codes used below, 16 columns: white 4 "1011", white 16 "101010", white 0 "00110101",
// white 12 "001000", black 8 "000101", black 4 "011", black 16 "0000010111"; modes V0 "1",
// horizontal "001", pass "0001", VR1 "011", VL1 "010"; EOL "000000000001".
const char *kEol = "000000000001";

ccitt_params p16(int k) {
  ccitt_params p;
  p.k = k;
  p.columns = 16;
  p.black_is_1 = 1;
  return p;
}

bytes rows16(std::initializer_list<uint16_t> r) {
  bytes b;
  for (uint16_t v : r) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
  }
  return b;
}

struct hand_case {
  const char *name;
  int k;
  int align;
  std::string data;
  bytes want;
  int complete;
};

class CcittHand : public ::testing::TestWithParam<hand_case> {};

TEST_P(CcittHand, Rows) {
  const hand_case &c = GetParam();
  ccitt_params p = p16(c.k);
  p.encoded_byte_align = c.align;
  result r = decode(bits(c.data), p, 100);
  ASSERT_EQ(r.ok, !c.want.empty());
  EXPECT_TRUE(r.out == c.want) << first_difference(r.out, c.want, 2);
  if (r.ok) {
    EXPECT_EQ(r.complete, c.complete);
  }
}

const std::string kEolS = kEol;
INSTANTIATE_TEST_SUITE_P(
    Codes, CcittHand,
    ::testing::Values(
        // Group 4, white 4 black 8 then V0 to the end; the second row copies the first.
        hand_case{"g4", -1, 0, "001 1011 000101 1  111", rows16({0x0ff0, 0x0ff0}), 1},
        // Each row on a byte boundary, as EncodedByteAlign asks.
        hand_case{"g4_aligned", -1, 1, "001 1011 000101 1 | 111 | 111",
                  rows16({0x0ff0, 0x0ff0, 0x0ff0}), 1},
        // End of block after two rows; what follows it is not read.
        hand_case{"g4_eofb", -1, 0, "001 1011 000101 1  111 " + kEolS + kEolS + "1111",
                  rows16({0x0ff0, 0x0ff0}), 1},
        // Pass then vertical: row 2 is white 4..12 black... : b1=4,b2=12 pass, a0=12, V0 to 16.
        hand_case{"g4_pass", -1, 0, "001 1011 000101 1  0001 1", rows16({0x0ff0, 0x0000}), 1},
        // VR1 and VL1 move the edges one pixel.
        hand_case{"g4_vr_vl", -1, 0, "001 1011 000101 1  011 010 1", rows16({0x0ff0, 0x07e0}), 1},
        // One-dimensional rows, no EOL, and with alignment.
        hand_case{"mh", 0, 0, "1011 000101 1011  101010", rows16({0x0ff0, 0x0000}), 1},
        hand_case{"mh_aligned", 0, 1, "1011 000101 1011 | 101010", rows16({0x0ff0, 0x0000}), 1},
        // EOLs before rows, fill before them, return to control at the end.
        hand_case{"mh_eol", 0, 0, kEolS + "1011 000101 1011 000" + kEolS + "101010" + kEolS + kEolS,
                  rows16({0x0ff0, 0x0000}), 1},
        // Byte aligned with EOLs that start on byte boundaries rather than end on them.
        hand_case{"mh_eol_at_byte", 0, 1,
                  kEolS + "1011 000101 1011 |" + kEolS + "101010 |" + kEolS + kEolS,
                  rows16({0x0ff0, 0x0000}), 1},
        // Mixed: a one-dimensional row (tag 1), then a two-dimensional one (tag 0).
        hand_case{"mr", 1, 0, kEolS + "1 1011 000101 1011 " + kEolS + "0 011 010 1",
                  rows16({0x0ff0, 0x07e0}), 1},
        // Mixed data, rows byte aligned, no EOLs: the tag bit opens each row.
        hand_case{"mr_aligned", 1, 1, "1 1011 000101 1011 | 0 011 010 1", rows16({0x0ff0, 0x07e0}),
                  1},
        // White run 0 first, for a row that starts black.
        hand_case{"mh_black_first", 0, 0, "00110101 0000010111", rows16({0xffff}), 1},
        // Damage: a code that does not exist ends decoding after the rows before it.
        hand_case{"mh_bad_code", 0, 0, "101010 000000001 1111111", rows16({0x0000}), 0},
        // A run past the end of the row is cut at the row's end.
        hand_case{"mh_run_past_row", 0, 0, "001000 0000010111 101010", rows16({0x000f, 0x0000}), 1},
        // A row cut short by an EOL is damage.
        hand_case{"mh_short_row", 0, 0, "101010 " + kEolS + "1011 011 " + kEolS + "101010",
                  rows16({0x0000}), 0},
        // A vertical code that puts the next change left of the current one: the row above is
        // black at 4..5, V0 reaches 4 and VL3 from b1 = 6 would go back to 3.
        hand_case{"g4_vl_before_a0", -1, 0, "001 1011 11 1  1 0000010 1", rows16({0x0c00}), 0},
        // Nothing decodable at all.
        hand_case{"empty", -1, 0, "", bytes{}, 0}),
    [](const ::testing::TestParamInfo<hand_case> &i) { return std::string(i.param.name); });

TEST(Ccitt, ParametersOutOfRangeGiveNothing) {
  bytes d = bits("1111");
  int32_t len = 7, rows = 7;
  int complete = 7;
  ccitt_params p = p16(-1);
  p.columns = 0;
  EXPECT_EQ(ccitt_decode(d.data(), int32_t(d.size()), p, 10, &len, &rows, &complete), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(complete, 0);
  p.columns = 16;
  EXPECT_EQ(ccitt_decode(d.data(), int32_t(d.size()), p, 0, &len, &rows, &complete), nullptr);
  EXPECT_EQ(ccitt_decode(nullptr, 4, p, 10, &len, &rows, &complete), nullptr);
  EXPECT_EQ(ccitt_decode(d.data(), -1, p, 10, &len, &rows, &complete), nullptr);
}

// Wide white rows open with a make-up code of seven zeros; after up to seven fill bits that
// looks like the start of an EOL, but without EOLs before the first row none is looked for
// before the byte boundary.
TEST(Ccitt, AlignedRowsWithoutEolsThatOpenWithZeros) {
  ccitt_params p;
  p.columns = 2480;
  p.encoded_byte_align = 1;
  std::string data;
  for (int i = 0; i < 4; ++i) data += "000000011101 00001011 |";  // white 2432 + 48
  result r = decode(bits(data), p, 100);
  EXPECT_EQ(r.rows, 4);
  EXPECT_EQ(r.complete, 1);
  EXPECT_TRUE(r.out == bytes(size_t(4) * 310, 0xff));
}

// EndOfLine says EOLs come before the rows; rows without them are still read, and a lone EOL
// in the middle of a row is damage.
TEST(Ccitt, EndOfLineDoesNotRequireTheCodes) {
  for (int k : {0, 1}) {
    ccitt_params p = p16(k);
    p.end_of_line = 1;
    const std::string tag = k ? "1" : "";
    result r =
        decode(bits(tag + "1011 000101 1011 " + kEol + tag + "101010 " + tag + "101010"), p, 10);
    EXPECT_EQ(r.rows, 3) << k;
    EXPECT_EQ(r.complete, 1) << k;
    EXPECT_TRUE(r.out == rows16({0x0ff0, 0x0000, 0x0000})) << k;
  }
}

// Group 4 data with neither end-of-block nor anything after the last row, besides padding.
TEST(Ccitt, Group4EndsAtTheDataEndWithoutEndOfBlock) {
  ccitt_params p = p16(-1);
  result r = decode(bits("001 1011 000101 1  111 111"), p, 100);
  EXPECT_EQ(r.rows, 3);
  EXPECT_EQ(r.complete, 1);
  p.black_is_1 = 0;
  r = decode(bits("001 1011 000101 1  111"), p, 100);
  EXPECT_TRUE(r.out == rows16({0xf00f, 0xf00f}));
}

// The valid streams, then every truncation and many random changes of them: decoding never
// reads or writes out of bounds (checked under the sanitizer) and never yields more rows than
// allowed.
std::vector<std::pair<bytes, ccitt_params>> damage_sources() {
  std::vector<std::pair<bytes, ccitt_params>> v;
  for (int k : {-1, 0, 1}) {
    ccitt_params p = p16(k);
    v.push_back({bits(kEolS + "1 1011 000101 1011 " + kEolS + "0 011 010 1" + kEolS), p});
  }
  v.push_back({bits("001 1011 000101 1  0001 1 111 011 010 1" + kEolS + kEolS), p16(-1)});
  if (have_tiffcp()) {
    bitmap bm = mixed(301, 60, 5);
    for (const char *scheme : {"g4", "g3", "g3:2d", "g3:2d:fill"}) {
      tiff_strip s = fax_code(bm, scheme);
      if (s.ok) v.push_back({s.data, params_of(s)});
    }
  }
  return v;
}

void check_bounded(const bytes &in, ccitt_params p, int32_t max_rows) {
  result r = decode(in, p, max_rows);
  int stride = (p.columns + 7) / 8;
  EXPECT_LE(r.rows, max_rows);
  EXPECT_LE(r.out.size(), size_t(stride) * max_rows);
}

TEST(CcittDamage, TruncationsAndMutationsStayInBounds) {
  std::mt19937 rng(12345);
  int runs = 0;
  for (auto &[data, p] : damage_sources()) {
    for (size_t n = 0; n < data.size(); n += 1 + data.size() / 300)
      check_bounded(bytes(data.begin(), data.begin() + n), p, 1000);
    for (int i = 0; i < 350 && !data.empty(); ++i, ++runs) {
      bytes m = data;
      int changes = 1 + int(rng() % 6);
      for (int c = 0; c < changes; ++c) {
        size_t at = rng() % m.size();
        if (rng() % 2)
          m[at] ^= uint8_t(1 << (rng() % 8));
        else
          m[at] = uint8_t(rng());
      }
      ccitt_params q = p;
      q.encoded_byte_align = int(rng() % 4 == 0) ^ p.encoded_byte_align;
      check_bounded(m, q, 1 + int(rng() % 400));
    }
  }
  EXPECT_GT(runs, 1000);
}

// Random bits under every combination of options: any row count within the bound.
TEST(CcittDamage, RandomBitsUnderEveryOption) {
  std::mt19937 rng(99);
  for (int i = 0; i < 600; ++i) {
    bytes d(1 + rng() % 200);
    for (auto &v : d) v = uint8_t(rng() % 3 ? rng() : 0);
    ccitt_params p;
    p.k = int(rng() % 3) - 1;
    p.columns = 1 + int(rng() % 3000);
    p.encoded_byte_align = int(rng() % 2);
    p.end_of_line = int(rng() % 2);
    p.end_of_block = int(rng() % 2);
    p.rows = int(rng() % 3) ? 0 : int(rng() % 50);
    check_bounded(d, p, 1 + int(rng() % 100));
  }
}

// A long run of zeros (fill that never ends) or of EOLs does not hang or grow output.
TEST(CcittDamage, EndlessFillAndEols) {
  bytes zeros(100000, 0);
  for (int k : {-1, 0, 1}) check_bounded(zeros, p16(k), 1000);
  bytes eols;
  for (int i = 0; i < 20000; ++i) {
    bytes e = bits(kEolS + "1");
    eols.insert(eols.end(), e.begin(), e.end());
  }
  for (int k : {-1, 0, 1}) check_bounded(eols, p16(k), 1000);
  // Each row a single white run: many rows from little data, stopped by the bound.
  bytes white(100000, 0);
  for (size_t i = 0; i + 3 <= white.size(); i += 3) {
    bytes w = bits("101010 101010 101010 101010");
    std::copy(w.begin(), w.end(), white.begin() + i);
  }
  check_bounded(white, p16(0), 777);
}

}  // namespace
