// Tests of the JPEG decoder: hand-built files with flat DC-only blocks (sequential, and
// progressive with DC refinement) for exact sample and colour checks and for every failure
// message, and sequential and progressive files made by cjpeg compared with djpeg (skipped when
// libjpeg-turbo's tools are not installed).
#include "render/jpeg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_paths.h"

namespace {

using bytes = std::vector<uint8_t>;

struct decoded {
  bytes pixels;
  int32_t w = 0, h = 0;
  std::string message;
  bool ok = false;
};

// The input sits in a block of exactly its size so that a sanitizer sees any read past it.
decoded decode(const bytes &in) {
  decoded d;
  uint8_t *copy = static_cast<uint8_t *>(std::malloc(in.empty() ? 1 : in.size()));
  if (!in.empty()) std::memcpy(copy, in.data(), in.size());
  const char *msg = nullptr;
  uint8_t *px = qx_jpeg_decode_impl(copy, in.size(), &d.w, &d.h, &msg);
  std::free(copy);
  d.message = msg ? msg : "(null)";
  if (px) {
    d.ok = true;
    d.pixels.assign(px, px + uint64_t(d.w) * d.h * 4);
    std::free(px);
  }
  return d;
}

void put16(bytes &b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}

void segment(bytes &b, uint8_t code, const bytes &payload) {
  b.push_back(0xFF);
  b.push_back(code);
  put16(b, uint32_t(payload.size() + 2));
  b.insert(b.end(), payload.begin(), payload.end());
}

// Comment segments of at least n bytes in all: the data a frame of many pixels needs before
// the decoder believes its size.
void comments(bytes &b, uint64_t n) {
  for (uint64_t done = 0; done < n; done += 65000) segment(b, 0xFE, bytes(65000, 0x20));
}

struct comp_spec {
  uint8_t id, h, v, tq;
};

// Entropy-coded data with byte stuffing and restart markers.
struct bit_writer {
  bytes out;
  uint32_t acc = 0;
  int n = 0;
  void put(uint32_t v, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1);
      if (++n == 8) flush_byte();
    }
  }
  void flush_byte() {
    out.push_back(uint8_t(acc));
    if (uint8_t(acc) == 0xFF) out.push_back(0x00);
    acc = 0;
    n = 0;
  }
  void pad() {
    while (n != 0) put(1, 1);
  }
};

// A baseline file whose blocks hold only a DC term: quantization 1 everywhere, DC categories
// 0..11 coded in 4 bits (code = category) and one AC code "0" for end of block. A DC value of
// 8 * (s - 128) decodes to the flat sample s. value(component, block column, block row).
struct jpeg_spec {
  int X = 8, Y = 8;
  std::vector<comp_spec> comps = {{1, 1, 1, 0}};
  std::function<int(int, int, int)> value = [](int, int, int) { return 128; };
  int ri = 0;
  int adobe = -1;  // transform byte of an Adobe segment, -1 for none
  bool eoi = true;
};

bytes dqt_ones() {
  bytes q = {0x00};
  q.insert(q.end(), 64, 1);
  return q;
}
bytes dht_dc(int th = 0) {
  bytes d = {uint8_t(th)};
  for (int i = 0; i < 16; ++i) d.push_back(i == 3 ? 12 : 0);
  for (int s = 0; s < 12; ++s) d.push_back(uint8_t(s));
  return d;
}
bytes dht_ac(int th = 0) {
  bytes d = {uint8_t(0x10 | th), 1};
  d.insert(d.end(), 15, 0);
  d.push_back(0x00);
  return d;
}
bytes sof_payload(int X, int Y, const std::vector<comp_spec> &cs, int precision = 8) {
  bytes f = {uint8_t(precision)};
  put16(f, uint32_t(Y));
  put16(f, uint32_t(X));
  f.push_back(uint8_t(cs.size()));
  for (const comp_spec &c : cs) {
    f.push_back(c.id);
    f.push_back(uint8_t(c.h << 4 | c.v));
    f.push_back(c.tq);
  }
  return f;
}
bytes sos_payload(const std::vector<comp_spec> &cs) {
  bytes s = {uint8_t(cs.size())};
  for (const comp_spec &c : cs) {
    s.push_back(c.id);
    s.push_back(0x00);
  }
  s.insert(s.end(), {0, 63, 0});
  return s;
}

bytes scan_data(const jpeg_spec &j) {
  int hmax = 1, vmax = 1;
  for (const comp_spec &c : j.comps) {
    hmax = std::max<int>(hmax, c.h);
    vmax = std::max<int>(vmax, c.v);
  }
  int mx = (j.X + 8 * hmax - 1) / (8 * hmax), my = (j.Y + 8 * vmax - 1) / (8 * vmax);
  bit_writer bw;
  std::vector<int> pred(j.comps.size(), 0);
  int n = 0, rst = 0;
  for (int y = 0; y < my; ++y) {
    for (int x = 0; x < mx; ++x) {
      for (size_t ci = 0; ci < j.comps.size(); ++ci) {
        const comp_spec &c = j.comps[ci];
        for (int by = 0; by < c.v; ++by) {
          for (int bx = 0; bx < c.h; ++bx) {
            int dc = 8 * (j.value(int(ci), x * c.h + bx, y * c.v + by) - 128);
            int diff = dc - pred[ci];
            pred[ci] = dc;
            int mag = diff < 0 ? -diff : diff, s = 0;
            while (mag >> s) ++s;
            bw.put(uint32_t(s), 4);
            if (s > 0) bw.put(uint32_t(diff < 0 ? diff + (1 << s) - 1 : diff), s);
            bw.put(0, 1);
          }
        }
      }
      ++n;
      if (j.ri > 0 && n % j.ri == 0 && n < mx * my) {
        bw.pad();
        bw.out.push_back(0xFF);
        bw.out.push_back(uint8_t(0xD0 + (rst++ & 7)));
        std::fill(pred.begin(), pred.end(), 0);
      }
    }
  }
  bw.pad();
  return bw.out;
}

bytes make_jpeg(const jpeg_spec &j) {
  bytes b = {0xFF, 0xD8};
  if (j.adobe >= 0) {
    bytes a = {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, uint8_t(j.adobe)};
    segment(b, 0xEE, a);
  }
  segment(b, 0xDB, dqt_ones());
  segment(b, 0xC0, sof_payload(j.X, j.Y, j.comps));
  segment(b, 0xC4, dht_dc());
  segment(b, 0xC4, dht_ac());
  if (j.ri > 0) segment(b, 0xDD, {uint8_t(j.ri >> 8), uint8_t(j.ri)});
  segment(b, 0xDA, sos_payload(j.comps));
  bytes d = scan_data(j);
  b.insert(b.end(), d.begin(), d.end());
  if (j.eoi) b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

const uint8_t *px(const decoded &d, int x, int y) { return &d.pixels[(uint64_t(y) * d.w + x) * 4]; }

TEST(Jpeg, GreyBlockDecodesToEqualChannels) {
  jpeg_spec j;
  j.value = [](int, int, int) { return 200; };
  decoded d = decode(make_jpeg(j));
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(d.message, "");
  ASSERT_EQ(d.w, 8);
  ASSERT_EQ(d.h, 8);
  for (int i = 0; i < 64; ++i) {
    const uint8_t *p = &d.pixels[i * 4];
    EXPECT_EQ(p[0], 200);
    EXPECT_EQ(p[1], 200);
    EXPECT_EQ(p[2], 200);
    EXPECT_EQ(p[3], 255);
  }
}

TEST(Jpeg, ChromaOf420IsTakenAtHalfTheLumaPosition) {
  jpeg_spec j;
  j.X = 32;
  j.Y = 16;
  j.comps = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  // Luma flat 128; Cr differs per chroma block so each luma position shows which one it used.
  j.value = [](int c, int bx, int) { return c == 2 ? 128 + 40 * bx : 128; };
  decoded d = decode(make_jpeg(j));
  ASSERT_TRUE(d.ok) << d.message;
  for (int x = 0; x < 32; ++x) {
    int cr = 40 * (x / 16);
    EXPECT_EQ(px(d, x, 5)[0], std::min(255, int(128 + 1.402 * cr))) << x;
  }
}

TEST(Jpeg, ColourModels) {
  struct tcase {
    const char *name;
    int nc, adobe;
    int c[4];
    int rgb[3];
  };
  auto m = [](int a, int b) { return (a * b + 127) / 255; };
  const tcase cases[] = {
      // Three components are YCbCr with or without an Adobe transform of 0.
      {"ycc", 3, -1, {100, 128, 168, 0}, {156, 71, 100}},
      {"ycc adobe 0", 3, 0, {100, 128, 168, 0}, {156, 71, 100}},
      // Four components without Adobe are ink amounts.
      {"cmyk", 4, -1, {40, 80, 120, 32}, {m(215, 223), m(175, 223), m(135, 223)}},
      {"cmyk black ink", 4, -1, {0, 0, 0, 248}, {m(255, 7), m(255, 7), m(255, 7)}},
      // With an Adobe segment, inverted: 255 is no ink.
      {"adobe cmyk", 4, 0, {200, 160, 120, 64}, {m(200, 64), m(160, 64), m(120, 64)}},
      // Transform 2: YCbCr gives inverted CMY, then the inverted K darkens.
      {"ycck", 4, 2, {100, 128, 168, 128}, {m(156, 128), m(71, 128), m(100, 128)}},
      {"ycck no ink", 4, 2, {200, 128, 128, 248}, {m(200, 248), m(200, 248), m(200, 248)}},
  };
  for (const tcase &t : cases) {
    jpeg_spec j;
    j.comps.clear();
    for (int i = 0; i < t.nc; ++i) j.comps.push_back({uint8_t(i + 1), 1, 1, 0});
    j.adobe = t.adobe;
    int c[4] = {t.c[0], t.c[1], t.c[2], t.c[3]};
    j.value = [c](int ci, int, int) { return c[ci]; };
    decoded d = decode(make_jpeg(j));
    ASSERT_TRUE(d.ok) << t.name << ": " << d.message;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(px(d, 3, 3)[k], t.rgb[k]) << t.name << " channel " << k;
  }
}

TEST(Jpeg, RestartIntervalsDecodeLikeNoRestarts) {
  for (int ri : {1, 3, 4}) {
    jpeg_spec j;
    j.X = 64;
    j.Y = 16;  // 16 MCUs: with 4, the end of image stands where the last restart would
    j.value = [](int, int bx, int by) { return 20 + 13 * bx + 50 * by; };
    decoded plain = decode(make_jpeg(j));
    j.ri = ri;
    decoded rst = decode(make_jpeg(j));
    ASSERT_TRUE(plain.ok) << plain.message;
    ASSERT_TRUE(rst.ok) << ri << ": " << rst.message;
    EXPECT_EQ(plain.pixels, rst.pixels) << ri;
    EXPECT_EQ(px(rst, 63, 15)[0], 20 + 13 * 7 + 50);
  }
}

TEST(Jpeg, StopsNextToEndOfImageAreAccepted) {
  jpeg_spec j;
  j.X = 16;
  j.eoi = false;
  bytes head = make_jpeg(j);
  head.resize(head.size() - scan_data(j).size());
  // The first block (category 0, end of block) and then 16 bits that are no DC code.
  const bytes invalid = {0x07, 0x00, 0x00};
  auto with_tail = [&](const bytes &tail) {
    bytes b = head;
    b.insert(b.end(), invalid.begin(), invalid.end());
    b.insert(b.end(), tail.begin(), tail.end());
    return decode(b);
  };
  decoded d = with_tail({0xFF, 0xD9});
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(px(d, 3, 3)[0], 128);
  EXPECT_EQ(with_tail({0x12, 0xFF, 0xD9}).message, "jpeg: decode error in scan data");
  EXPECT_EQ(with_tail({}).message, "jpeg: decode error in scan data");
  // Data cut short before the end of image: the marker is read through, then the data run out.
  EXPECT_EQ(decode([&] { bytes b = head; b.insert(b.end(), {0xFF, 0xD9}); return b; }()).message,
            "jpeg: decode error in scan data");
  EXPECT_EQ(decode(head).message, "jpeg: decode error in scan data");
}

TEST(Jpeg, FailureMessages) {
  const std::vector<comp_spec> grey = {{1, 1, 1, 0}};
  auto head = [] { return bytes{0xFF, 0xD8}; };
  // A complete header set followed by a caller-chosen tail.
  auto with = [&](std::function<void(bytes &)> body) {
    bytes b = head();
    body(b);
    b.insert(b.end(), {0x00, 0x00, 0xFF, 0xD9});
    return b;
  };
  auto tables = [&](bytes &b) {
    segment(b, 0xDB, dqt_ones());
    segment(b, 0xC4, dht_dc());
    segment(b, 0xC4, dht_ac());
  };
  struct fcase {
    const char *message;
    bytes data;
  };
  bytes fill = head();
  fill.insert(fill.end(), 5000, 0xFF);
  bytes dqt16_256 = {0x10};
  for (int i = 0; i < 64; ++i) put16(dqt16_256, i == 7 ? 256 : 1);
  bytes overfull = {0x00, 3};
  overfull.insert(overfull.end(), 15, 0);
  overfull.insert(overfull.end(), {0, 1, 2});
  const std::vector<fcase> cases = {
      {"jpeg: no scan data", {0xFF, 0xD8, 0xFF, 0xD9, 0x00}},
      {"jpeg: no scan data", [&] { bytes b = head(); tables(b); b.insert(b.end(), {0xFF, 0xD9}); return b; }()},
      {"jpeg: no scan data", fill},
      {"jpeg: corrupt stream", with([&](bytes &b) { b.insert(b.end(), {0x12, 0xFF, 0xD9}); })},
      {"jpeg: corrupt stream", with([&](bytes &b) { b.insert(b.end(), {0xFF, 0x00, 0xFF}); })},
      {"jpeg: bad segment length", with([&](bytes &b) { b.insert(b.end(), {0xFF, 0xE0, 0, 1}); })},
      {"jpeg: truncated segment", with([&](bytes &b) { b.insert(b.end(), {0xFF, 0xE0, 0, 200}); })},
      {"jpeg: bad SOF", with([&](bytes &b) { segment(b, 0xC0, {8, 0, 8, 0, 8, 1}); })},
      {"jpeg: bad SOF", with([&](bytes &b) { segment(b, 0xC0, {8, 0, 8, 0, 8, 2, 1, 0x11, 0}); })},
      {"jpeg: only 8-bit samples supported",
       with([&](bytes &b) { segment(b, 0xC0, sof_payload(8, 8, grey, 12)); })},
      {"jpeg: unsupported SOF", with([&](bytes &b) { segment(b, 0xC0, sof_payload(20000, 10001, grey)); })},
      {"jpeg: unsupported SOF", with([&](bytes &b) { segment(b, 0xC0, sof_payload(65535, 65535, grey)); })},
      {"jpeg: unsupported SOF", with([&](bytes &b) { segment(b, 0xC0, sof_payload(0, 8, grey)); })},
      {"jpeg: unsupported SOF", with([&](bytes &b) { segment(b, 0xC0, {8, 0, 8, 0, 8, 0, 1, 0x11, 0}); })},
      {"jpeg: unsupported SOF",
       with([&](bytes &b) { segment(b, 0xC0, sof_payload(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0},
                                                                 {4, 1, 1, 0}, {5, 1, 1, 0}})); })},
      {"jpeg: bad component spec", with([&](bytes &b) { segment(b, 0xC0, sof_payload(8, 8, {{1, 0, 1, 0}})); })},
      {"jpeg: bad component spec", with([&](bytes &b) { segment(b, 0xC0, sof_payload(8, 8, {{1, 1, 1, 4}})); })},
      {"jpeg: bad quant table id", with([&](bytes &b) { bytes q = dqt_ones(); q[0] = 4; segment(b, 0xDB, q); })},
      {"jpeg: truncated DQT", with([&](bytes &b) { bytes q = dqt_ones(); q.pop_back(); segment(b, 0xDB, q); })},
      {"jpeg: bad quant value", with([&](bytes &b) { bytes q = dqt_ones(); q[9] = 0; segment(b, 0xDB, q); })},
      {"jpeg: bad quant value", with([&](bytes &b) { segment(b, 0xDB, dqt16_256); })},
      {"jpeg: bad DHT", with([&](bytes &b) { bytes d = dht_dc(); d[0] = 0x20; segment(b, 0xC4, d); })},
      {"jpeg: bad DHT", with([&](bytes &b) { segment(b, 0xC4, dht_dc(4)); })},
      {"jpeg: bad DHT", with([&](bytes &b) { segment(b, 0xC4, overfull); })},
      {"jpeg: truncated DHT", with([&](bytes &b) { bytes d = dht_dc(); d.pop_back(); segment(b, 0xC4, d); })},
      {"jpeg: truncated DHT", with([&](bytes &b) { segment(b, 0xC4, {0x00, 1, 2, 3}); })},
      {"jpeg: bad SOS", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {}); })},
      {"jpeg: bad SOS", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {2, 1, 0}); })},
      {"jpeg: bad SOS count", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {5}); })},
      {"jpeg: unknown SOS component", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {1, 9, 0, 0, 63, 0}); })},
      {"jpeg: unknown SOS component", with([&](bytes &b) { tables(b); segment(b, 0xDA, sos_payload(grey)); })},
      {"jpeg: missing quant table", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, {{1, 1, 1, 1}})); segment(b, 0xDA, sos_payload(grey)); })},
      {"jpeg: missing Huffman table", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {1, 1, 0x10, 0, 63, 0}); })},
      {"jpeg: missing Huffman table", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, grey)); segment(b, 0xDA, {1, 1, 0x0F, 0, 63, 0}); })},
      {"jpeg: missing Huffman table", with([&](bytes &b) { tables(b); segment(b, 0xC0, sof_payload(8, 8, {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})); segment(b, 0xDA, sos_payload(grey)); })},
  };
  for (const fcase &c : cases) {
    decoded d = decode(c.data);
    EXPECT_FALSE(d.ok) << c.message;
    EXPECT_EQ(d.message, c.message) << "case " << (&c - cases.data());
    EXPECT_EQ(d.w, 0);
    EXPECT_EQ(d.h, 0);
  }
  for (size_t n = 0; n <= 5; ++n) EXPECT_EQ(decode(bytes(n, 0xFF)).message, "jpeg: no scan data");
}

TEST(Jpeg, LargestFrameIsAcceptedAndOddMarkersAreSkipped) {
  // 20000 x 10000 is exactly the limit: the frame is accepted and only the empty scan fails,
  // once the file is long enough to code that many blocks; a short file is refused first.
  bytes b = {0xFF, 0xD8};
  bytes header = b;
  segment(header, 0xC0, sof_payload(20000, 10000, {{1, 1, 1, 0}}));
  EXPECT_EQ(decode(header).message, "jpeg: frame larger than its data");
  comments(b, 20000ull * 10000 / k_jpeg_pixels_per_byte);
  segment(b, 0xDB, dqt_ones());
  segment(b, 0xC4, dht_dc());
  segment(b, 0xC4, dht_ac());
  segment(b, 0xC0, sof_payload(20000, 10000, {{1, 1, 1, 0}}));
  segment(b, 0xDA, sos_payload({{1, 1, 1, 0}}));
  EXPECT_EQ(decode(b).message, "jpeg: decode error in scan data");

  // Stand-alone markers, fill bytes and unknown segments before the scan are passed over.
  jpeg_spec j;
  j.value = [](int, int, int) { return 77; };
  bytes good = make_jpeg(j);
  bytes odd = {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xD3, 0xFF, 0x01, 0xFF, 0xD8};
  segment(odd, 0xC1, {1, 2, 3});
  segment(odd, 0xFE, {});
  odd.insert(odd.end(), good.begin() + 2, good.end());
  decoded d = decode(odd);
  ASSERT_TRUE(d.ok) << d.message;
  EXPECT_EQ(px(d, 7, 7)[0], 77);
}

TEST(Jpeg, DamagedCopiesNeverFailUncleanly) {
  jpeg_spec j;
  j.X = 40;
  j.Y = 24;
  j.comps = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  j.ri = 2;
  j.value = [](int c, int bx, int by) { return 60 + 20 * c + 7 * bx + 11 * by; };
  const bytes good = make_jpeg(j);
  ASSERT_TRUE(decode(good).ok);
  for (size_t n = 0; n < good.size(); ++n) {
    decoded d = decode(bytes(good.begin(), good.begin() + long(n)));
    if (!d.ok) {
      EXPECT_EQ(d.message.rfind("jpeg: ", 0), 0u) << n;
    }
  }
  uint32_t seed = 12345;
  auto rnd = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int i = 0; i < 400; ++i) {
    bytes b = good;
    int flips = 1 + int(rnd() % 4);
    for (int f = 0; f < flips; ++f) b[2 + rnd() % (b.size() - 2)] = uint8_t(rnd());
    decoded d = decode(b);
    if (d.ok) {
      EXPECT_EQ(d.pixels.size(), uint64_t(d.w) * d.h * 4);
    } else {
      EXPECT_EQ(d.message.rfind("jpeg: ", 0), 0u);
    }
  }
}

// ---- Hand-built progressive frames ----

// A scan's blocks in coded order, with the index of the MCU each belongs to: one component alone
// goes through the blocks that hold its samples, several go MCU by MCU.
struct coded_block {
  int c, bx, by, unit;
};
std::vector<coded_block> scan_order(const jpeg_spec &j, const std::vector<int> &cs) {
  int hmax = 1, vmax = 1;
  for (const comp_spec &c : j.comps) {
    hmax = std::max<int>(hmax, c.h);
    vmax = std::max<int>(vmax, c.v);
  }
  int mx = (j.X + 8 * hmax - 1) / (8 * hmax), my = (j.Y + 8 * vmax - 1) / (8 * vmax);
  std::vector<coded_block> order;
  if (cs.size() == 1) {
    const comp_spec &c = j.comps[size_t(cs[0])];
    int cw = ((j.X * c.h + hmax - 1) / hmax + 7) / 8, ch = ((j.Y * c.v + vmax - 1) / vmax + 7) / 8;
    for (int by = 0; by < ch; ++by)
      for (int bx = 0; bx < cw; ++bx) order.push_back({cs[0], bx, by, by * cw + bx});
    return order;
  }
  for (int y = 0; y < my; ++y)
    for (int x = 0; x < mx; ++x)
      for (int ci : cs)
        for (int by = 0; by < j.comps[size_t(ci)].v; ++by)
          for (int bx = 0; bx < j.comps[size_t(ci)].h; ++bx)
            order.push_back({ci, x * j.comps[size_t(ci)].h + bx, y * j.comps[size_t(ci)].v + by,
                             y * mx + x});
  return order;
}

// The data of a DC scan over the flat blocks of j: a first scan (ah = 0) codes the DC values
// shifted right by al as differences; a refinement sends bit al of each raw.
bytes dc_scan_data(const jpeg_spec &j, const std::vector<int> &cs, int ah, int al) {
  const std::vector<coded_block> order = scan_order(j, cs);
  const int units = order.empty() ? 0 : order.back().unit + 1;
  bit_writer bw;
  std::vector<int> pred(j.comps.size(), 0);
  int rst = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    const coded_block &b = order[i];
    int dc = 8 * (j.value(b.c, b.bx, b.by) - 128);
    if (ah == 0) {
      int v = dc >> al;
      int diff = v - pred[size_t(b.c)];
      pred[size_t(b.c)] = v;
      int mag = diff < 0 ? -diff : diff, s = 0;
      while (mag >> s) ++s;
      bw.put(uint32_t(s), 4);
      if (s > 0) bw.put(uint32_t(diff < 0 ? diff + (1 << s) - 1 : diff), s);
    } else {
      bw.put(uint32_t(dc >> al) & 1, 1);
    }
    bool unit_end = i + 1 == order.size() || order[i + 1].unit != b.unit;
    if (unit_end && j.ri > 0 && (b.unit + 1) % j.ri == 0 && b.unit + 1 < units) {
      bw.pad();
      bw.out.push_back(0xFF);
      bw.out.push_back(uint8_t(0xD0 + (rst++ & 7)));
      std::fill(pred.begin(), pred.end(), 0);
    }
  }
  bw.pad();
  return bw.out;
}

void put_scan(bytes &b, const jpeg_spec &j, const std::vector<int> &cs, int ah, int al) {
  bytes s = {uint8_t(cs.size())};
  for (int ci : cs) s.insert(s.end(), {j.comps[size_t(ci)].id, 0x00});
  s.insert(s.end(), {0, 0, uint8_t(ah << 4 | al)});
  segment(b, 0xDA, s);
  bytes d = dc_scan_data(j, cs, ah, al);
  b.insert(b.end(), d.begin(), d.end());
}

// The flat blocks of make_jpeg in a progressive frame: DC first sent at bit position al (in one
// interleaved scan, or one scan per component), then refined one bit per scan. No AC scan, so
// AC terms stay zero. tail goes before the end of image.
bytes make_progressive(const jpeg_spec &j, int al, bool interleaved, const bytes &tail = {}) {
  bytes b = {0xFF, 0xD8};
  segment(b, 0xDB, dqt_ones());
  segment(b, 0xC2, sof_payload(j.X, j.Y, j.comps));
  segment(b, 0xC4, dht_dc());
  if (j.ri > 0) segment(b, 0xDD, {uint8_t(j.ri >> 8), uint8_t(j.ri)});
  std::vector<int> all;
  for (size_t i = 0; i < j.comps.size(); ++i) all.push_back(int(i));
  for (int bit = al; bit >= 0; --bit) {
    int ah = bit == al ? 0 : bit + 1;
    if (interleaved) {
      put_scan(b, j, all, ah, bit);
    } else {
      for (int ci : all) put_scan(b, j, {ci}, ah, bit);
    }
  }
  b.insert(b.end(), tail.begin(), tail.end());
  b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

TEST(JpegProgressive, DcScansAndRefinementsGiveTheSequentialSamples) {
  struct pcase {
    int X, Y;
    bool interleaved;
    int al, ri;
  };
  const pcase cases[] = {{40, 24, true, 0, 0},  {40, 24, false, 0, 0}, {40, 24, true, 3, 0},
                         {40, 24, false, 2, 0}, {40, 24, true, 1, 2},  {37, 23, false, 3, 3},
                         {37, 23, true, 2, 1},  {37, 23, false, 1, 1}};
  for (const pcase &t : cases) {
    jpeg_spec j;
    j.X = t.X;
    j.Y = t.Y;
    j.comps = {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
    j.ri = t.ri;
    // Values below 128 too, so that negative DC terms are refined.
    j.value = [](int c, int bx, int by) { return 20 + 40 * c + 9 * bx + 23 * by; };
    decoded seq = decode(make_jpeg(j));
    decoded pro = decode(make_progressive(j, t.al, t.interleaved));
    std::string what = std::to_string(t.X) + "x" + std::to_string(t.Y) +
                       (t.interleaved ? " interleaved" : " separate") + " al " +
                       std::to_string(t.al) + " ri " + std::to_string(t.ri);
    ASSERT_TRUE(seq.ok) << what << ": " << seq.message;
    ASSERT_TRUE(pro.ok) << what << ": " << pro.message;
    EXPECT_EQ(pro.message, "") << what;
    EXPECT_EQ(pro.pixels, seq.pixels) << what;
  }
}

TEST(JpegProgressive, BadScanHeadersFailFirstAndEndDecodingLater) {
  jpeg_spec j;
  j.X = 16;
  j.comps = {{1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}};
  j.value = [](int c, int bx, int) { return 90 + 30 * c + 50 * bx; };
  const decoded good = decode(make_progressive(j, 1, true));
  ASSERT_TRUE(good.ok) << good.message;
  struct scase {
    const char *name;
    bytes sos;
  };
  const scase cases[] = {
      {"Ss > Se", {1, 1, 0x00, 5, 3, 0x00}},
      {"Se > 63", {1, 1, 0x00, 1, 64, 0x00}},
      {"DC with Se != 0", {1, 1, 0x00, 0, 5, 0x00}},
      {"AC of two components", {2, 1, 0x00, 2, 0x00, 1, 63, 0x00}},
      {"Al > 13", {1, 1, 0x00, 0, 0, 0x0E}},
      {"Ah > 13", {1, 1, 0x00, 1, 63, 0xE0}},
      {"no Al byte", {1, 1, 0x00, 0, 0}},
  };
  for (const scase &c : cases) {
    bytes first = {0xFF, 0xD8};
    segment(first, 0xDB, dqt_ones());
    segment(first, 0xC2, sof_payload(j.X, j.Y, j.comps));
    segment(first, 0xC4, dht_dc());
    segment(first, 0xC4, dht_ac());
    segment(first, 0xDA, c.sos);
    first.insert(first.end(), {0x00, 0x00, 0xFF, 0xD9});
    EXPECT_EQ(decode(first).message, "jpeg: bad SOS") << c.name;
    bytes bad_scan;
    segment(bad_scan, 0xDA, c.sos);
    decoded later = decode(make_progressive(j, 1, true, bad_scan));
    ASSERT_TRUE(later.ok) << c.name << ": " << later.message;
    EXPECT_EQ(later.pixels, good.pixels) << c.name;
  }
}

TEST(JpegProgressive, TablesAndStorageAreChecked) {
  const std::vector<comp_spec> grey = {{1, 1, 1, 0}};
  auto frame = [&](int X, int Y, const std::vector<comp_spec> &cs, const bytes &sos) {
    bytes b = {0xFF, 0xD8};
    comments(b, uint64_t(X) * Y / k_jpeg_pixels_per_byte);
    segment(b, 0xDB, dqt_ones());
    segment(b, 0xC4, dht_dc());
    segment(b, 0xC2, sof_payload(X, Y, cs));
    segment(b, 0xDA, sos);
    b.insert(b.end(), {0x00, 0x00, 0xFF, 0xD9});
    return decode(b).message;
  };
  // An AC scan needs an AC table; a DC refinement scan sends raw bits and needs none.
  EXPECT_EQ(frame(8, 8, grey, {1, 1, 0x00, 1, 63, 0x00}), "jpeg: missing Huffman table");
  EXPECT_EQ(frame(8, 8, grey, {1, 1, 0x30, 0, 0, 0x10}), "");
  EXPECT_EQ(frame(8, 8, grey, {1, 1, 0x10, 0, 0, 0x00}), "jpeg: missing Huffman table");
  EXPECT_EQ(frame(8, 8, {{1, 1, 1, 2}}, {1, 1, 0x00, 0, 0, 0x00}), "jpeg: missing quant table");
  // Four components sampled 1x15 pad 3051 rows to 3120: their coefficients would need more than
  // the bound though the frame is within the pixel limit.
  std::vector<comp_spec> tall;
  for (uint8_t i = 1; i <= 4; ++i) tall.push_back({i, 1, 15, 0});
  ASSERT_LE(uint64_t(65535) * 3051, k_jpeg_max_pixels);
  ASSERT_GT(uint64_t(8192) * 390 * 4 * 128, k_jpeg_max_coefficient_bytes);
  EXPECT_EQ(frame(65535, 3051, tall, {1, 1, 0x00, 0, 0, 0x00}), "jpeg: out of memory");
}

// ---- Files made by libjpeg-turbo's cjpeg, compared with its djpeg ----

bool have_tools() {
  return run_command("command -v cjpeg >/dev/null 2>&1 && command -v djpeg >/dev/null 2>&1") == 0;
}

bytes read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::string &path, const bytes &b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

// A smooth scene with a few edges, so that the lossy round trip stays close.
bytes make_pnm(int w, int h, int channels) {
  std::string head = (channels == 1 ? "P5\n" : "P6\n") + std::to_string(w) + " " +
                     std::to_string(h) + "\n255\n";
  bytes b(head.begin(), head.end());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int base = 30 + (x * 180) / w + (y * 40) / h;
      bool box = x > w / 3 && x < w / 2 && y > h / 4 && y < h / 2;
      for (int c = 0; c < channels; ++c) b.push_back(uint8_t(box ? 230 - 60 * c : base + 10 * c));
    }
  }
  return b;
}

// Reads a binary PGM/PPM as written by djpeg.
bool parse_pnm(const bytes &b, int *w, int *h, int *channels, bytes *samples) {
  std::string s(b.begin(), b.end());
  std::istringstream in(s);
  std::string magic;
  int maxval = 0;
  in >> magic >> *w >> *h >> maxval;
  if (!in || (magic != "P5" && magic != "P6") || maxval != 255) return false;
  *channels = magic == "P5" ? 1 : 3;
  size_t off = size_t(in.tellg()) + 1;
  size_t n = size_t(*w) * *h * *channels;
  if (b.size() < off + n) return false;
  samples->assign(b.begin() + long(off), b.begin() + long(off + n));
  return true;
}

struct tool_case {
  const char *name;
  int channels;
  const char *options;
};

class JpegTools : public ::testing::TestWithParam<tool_case> {};

// Encodes a generated w x h image with cjpeg and the given options, and compares this decoder's
// pixels with djpeg's box-filtered output of the same file.
void expect_matches_djpeg(const std::string &name, int w, int h, int channels,
                          const std::string &options) {
  std::string dir = scratch_dir();
  write_file(dir + "/in.pnm", make_pnm(w, h, channels));
  std::string cmd = "cjpeg -quality 90 " + options + " -outfile " + dir + "/a.jpg " + dir +
                    "/in.pnm && djpeg -nosmooth -pnm -outfile " + dir + "/a.pnm " + dir +
                    "/a.jpg";
  ASSERT_EQ(run_command(cmd), 0) << cmd;
  decoded d = decode(read_file(dir + "/a.jpg"));
  ASSERT_TRUE(d.ok) << name << ": " << d.message;
  int rw = 0, rh = 0, rc = 0;
  bytes ref;
  ASSERT_TRUE(parse_pnm(read_file(dir + "/a.pnm"), &rw, &rh, &rc, &ref));
  ASSERT_EQ(d.w, rw);
  ASSERT_EQ(d.h, rh);
  int max_diff = 0;
  double sum = 0;
  for (int i = 0; i < w * h; ++i) {
    for (int c = 0; c < 3; ++c) {
      int r = ref[size_t(i) * rc + (rc == 1 ? 0 : c)];
      int diff = std::abs(int(d.pixels[size_t(i) * 4 + c]) - r);
      max_diff = std::max(max_diff, diff);
      sum += diff;
    }
    EXPECT_EQ(d.pixels[size_t(i) * 4 + 3], 255);
  }
  EXPECT_LE(max_diff, 8) << name;
  EXPECT_LT(sum / (w * h * 3), 2.0) << name;
}

TEST_P(JpegTools, SamplesMatchDjpeg) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  const tool_case &t = GetParam();
  expect_matches_djpeg(t.name, 61, 37, t.channels, t.options);
}

INSTANTIATE_TEST_SUITE_P(
    Baseline, JpegTools,
    ::testing::Values(tool_case{"grey", 1, "-grayscale"},
                      tool_case{"grey_restart", 1, "-grayscale -restart 5B"},
                      tool_case{"colour_444", 3, "-sample 1x1"},
                      tool_case{"colour_422", 3, "-sample 2x1"},
                      tool_case{"colour_420", 3, "-sample 2x2"},
                      tool_case{"colour_420_restart", 3, "-sample 2x2 -restart 1"},
                      tool_case{"colour_422_restart_blocks", 3, "-sample 2x1 -restart 3B"}),
    [](const ::testing::TestParamInfo<tool_case> &i) { return std::string(i.param.name); });

TEST(JpegToolsFiles, RestartsChangeNoSample) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  std::string dir = scratch_dir();
  write_file(dir + "/in.ppm", make_pnm(50, 40, 3));
  ASSERT_EQ(run_command("cjpeg -sample 2x2 -outfile " + dir + "/a.jpg " + dir + "/in.ppm"), 0);
  ASSERT_EQ(run_command("cjpeg -sample 2x2 -restart 2B -outfile " + dir + "/b.jpg " + dir +
                        "/in.ppm"),
            0);
  decoded a = decode(read_file(dir + "/a.jpg"));
  decoded b = decode(read_file(dir + "/b.jpg"));
  ASSERT_TRUE(a.ok) << a.message;
  ASSERT_TRUE(b.ok) << b.message;
  EXPECT_EQ(a.pixels, b.pixels);
}

// ---- Progressive frames ----

// Successive approximation scripts for cjpeg -scans: DC sent in two steps (interleaved, or per
// component), AC bands first sent at bit 2 or 3 and refined bit by bit down to bit 0.
const char *const k_script_colour =
    "0,1,2: 0-0, 0, 1;\n"
    "0: 1-5, 0, 2;\n"
    "2: 1-63, 0, 1;\n"
    "1: 1-63, 0, 1;\n"
    "0: 6-63, 0, 2;\n"
    "0: 1-63, 2, 1;\n"
    "0,1,2: 0-0, 1, 0;\n"
    "2: 1-63, 1, 0;\n"
    "1: 1-63, 1, 0;\n"
    "0: 1-63, 1, 0;\n";
const char *const k_script_separate_dc =
    "0: 0-0, 0, 2;\n1: 0-0, 0, 1;\n2: 0-0, 0, 0;\n"
    "0: 0-0, 2, 1;\n0: 0-0, 1, 0;\n1: 0-0, 1, 0;\n"
    "0: 1-9, 0, 3;\n0: 10-63, 0, 3;\n1: 1-63, 0, 0;\n2: 1-63, 0, 2;\n"
    "0: 1-63, 3, 2;\n0: 1-63, 2, 1;\n0: 1-63, 1, 0;\n2: 1-63, 2, 1;\n2: 1-63, 1, 0;\n";
const char *const k_script_grey =
    "0: 0-0, 0, 3;\n0: 0-0, 3, 2;\n0: 0-0, 2, 1;\n0: 0-0, 1, 0;\n"
    "0: 1-2, 0, 3;\n0: 3-63, 0, 3;\n0: 1-63, 3, 2;\n0: 1-63, 2, 1;\n0: 1-63, 1, 0;\n";

struct prog_case {
  const char *name;
  int w, h, channels;
  const char *options;
  const char *script;  // scan script for -scans, or null for cjpeg's own progression
  bool sequential = true;  // the options also make a sequential file this decoder reads
};

// The cjpeg options of a case, with its scan script written to a file.
std::string prog_options(const prog_case &t) {
  std::string opts = std::string("-progressive ") + t.options;
  if (t.script != nullptr) {
    std::string path = scratch_dir() + "/scans.txt";
    write_file(path, bytes(t.script, t.script + std::strlen(t.script)));
    opts += " -scans " + path;
  }
  return opts;
}

class JpegProgressiveTools : public ::testing::TestWithParam<prog_case> {};

// The case's image made by cjpeg, progressive or sequential, or empty when cjpeg fails.
bytes cjpeg_file(const prog_case &t, bool progressive) {
  std::string dir = scratch_dir();
  write_file(dir + "/in.pnm", make_pnm(t.w, t.h, t.channels));
  std::string cmd = "cjpeg -quality 90 " + (progressive ? prog_options(t) : t.options) +
                    " -outfile " + dir + "/p.jpg " + dir + "/in.pnm";
  if (run_command(cmd) != 0) return {};
  return read_file(dir + "/p.jpg");
}

TEST_P(JpegProgressiveTools, SamplesMatchDjpeg) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  const prog_case &t = GetParam();
  expect_matches_djpeg(t.name, t.w, t.h, t.channels, prog_options(t));
}

// cjpeg quantizes the same coefficients whichever order it sends them in, and the two paths
// share the inverse DCT and colour code: the pixels are the same to the byte.
TEST_P(JpegProgressiveTools, SamplesEqualTheSequentialFile) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  const prog_case &t = GetParam();
  if (!t.sequential) GTEST_SKIP() << "no sequential counterpart";
  decoded pro = decode(cjpeg_file(t, true));
  decoded seq = decode(cjpeg_file(t, false));
  ASSERT_TRUE(pro.ok) << pro.message;
  ASSERT_TRUE(seq.ok) << seq.message;
  EXPECT_EQ(pro.pixels, seq.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Progressive, JpegProgressiveTools,
    ::testing::Values(
        prog_case{"grey", 61, 37, 1, "-grayscale", nullptr},
        prog_case{"grey_odd", 37, 23, 1, "-grayscale", nullptr},
        prog_case{"grey_restart_blocks", 61, 37, 1, "-grayscale -restart 1B", nullptr},
        prog_case{"colour_444", 61, 37, 3, "-sample 1x1", nullptr},
        prog_case{"colour_422", 61, 37, 3, "-sample 2x1", nullptr},
        prog_case{"colour_420", 61, 37, 3, "-sample 2x2", nullptr},
        prog_case{"colour_420_odd", 37, 23, 3, "-sample 2x2", nullptr},
        prog_case{"colour_444_odd", 37, 23, 3, "-sample 1x1", nullptr},
        prog_case{"colour_420_restart", 61, 37, 3, "-sample 2x2 -restart 1", nullptr},
        prog_case{"colour_444_restart_blocks", 37, 23, 3, "-sample 1x1 -restart 1B", nullptr},
        prog_case{"colour_420_large", 203, 131, 3, "-sample 2x2", nullptr},
        prog_case{"script_colour_420", 61, 37, 3, "-sample 2x2", k_script_colour},
        prog_case{"script_colour_restart", 37, 23, 3, "-sample 2x2 -restart 1B", k_script_colour},
        prog_case{"script_separate_dc_444", 61, 37, 3, "-sample 1x1", k_script_separate_dc},
        prog_case{"script_separate_dc_420_restart", 37, 23, 3, "-sample 2x2 -restart 1",
                  k_script_separate_dc},
        prog_case{"script_grey", 61, 37, 1, "-grayscale", k_script_grey},
        prog_case{"script_grey_restart", 61, 37, 1, "-grayscale -restart 2B", k_script_grey},
        // One component with sampling factors 2x2: its scans still go block by block.
        prog_case{"grey_sampled_2x2", 37, 23, 1, "-sample 2x2", nullptr, false}),
    [](const ::testing::TestParamInfo<prog_case> &i) { return std::string(i.param.name); });

// Offsets of the scan headers: outside them 0xFF 0xDA only stands at a marker.
std::vector<size_t> scan_offsets(const bytes &b) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xDA) at.push_back(i);
  return at;
}

TEST(JpegProgressive, CutShortFilesShowTheScansTheyHold) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  const bytes full = cjpeg_file({"colour", 61, 37, 3, "-sample 2x2", nullptr}, true);
  const decoded whole = decode(full);
  ASSERT_TRUE(whole.ok) << whole.message;
  const std::vector<size_t> sos = scan_offsets(full);
  ASSERT_GE(sos.size(), 3u);
  EXPECT_EQ(decode(bytes(full.begin(), full.begin() + long(sos[0]))).message,
            "jpeg: no scan data");
  EXPECT_EQ(decode(bytes(full.begin(), full.begin() + long(sos[0] + 20))).message,
            "jpeg: decode error in scan data");
  for (size_t k = 1; k < sos.size(); ++k) {
    bytes cut(full.begin(), full.begin() + long(sos[k]));
    decoded d = decode(cut);
    ASSERT_TRUE(d.ok) << k << ": " << d.message;
    ASSERT_EQ(d.w, whole.w);
    ASSERT_EQ(d.h, whole.h);
    // Cut at a scan boundary or ended there properly: the same image.
    cut.insert(cut.end(), {0xFF, 0xD9});
    EXPECT_EQ(decode(cut).pixels, d.pixels) << k;
    // Cut inside the next scan: what of it was read refines, never breaks, the picture.
    decoded mid = decode(bytes(full.begin(), full.begin() + long(std::min(full.size(), sos[k] + 30))));
    EXPECT_TRUE(mid.ok) << k << ": " << mid.message;
    if (k == 1) {
      // DC terms alone: block averages, close to the full picture but not equal to it.
      double sum = 0;
      for (size_t i = 0; i < d.pixels.size(); ++i) sum += std::abs(d.pixels[i] - whole.pixels[i]);
      EXPECT_NE(d.pixels, whole.pixels);
      EXPECT_LT(sum / double(d.pixels.size()), 12.0);
    }
  }
}

TEST(JpegProgressive, DamagedCopiesNeverFailUncleanly) {
  if (!have_tools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) not installed";
  const bytes good =
      cjpeg_file({"script", 37, 23, 3, "-sample 2x2 -restart 1B", k_script_colour}, true);
  ASSERT_TRUE(decode(good).ok);
  auto check = [](const bytes &b) {
    decoded d = decode(b);
    if (d.ok) {
      EXPECT_EQ(d.pixels.size(), uint64_t(d.w) * d.h * 4);
    } else {
      EXPECT_EQ(d.message.rfind("jpeg: ", 0), 0u);
    }
  };
  const size_t step = 1 + good.size() / 800;
  for (size_t n = 0; n < good.size(); n += step) check(bytes(good.begin(), good.begin() + long(n)));
  uint32_t seed = 777;
  auto rnd = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int i = 0; i < 1000; ++i) {
    bytes b = good;
    int flips = 1 + int(rnd() % 4);
    for (int f = 0; f < flips; ++f) b[2 + rnd() % (b.size() - 2)] = uint8_t(rnd());
    check(b);
  }
}

}  // namespace
