// Tests of the TrueType reader: small fonts built in code show each rule of the directory, the
// character map, the advance widths and the outlines; the built-in Liberation fonts give real
// data; cut and scrambled copies of Liberation Sans must read without a fault.
#include "render/truetype.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "render/builtin_fonts.h"

namespace {

using bytes = std::vector<uint8_t>;

void put8(bytes &b, uint32_t v) { b.push_back(uint8_t(v)); }
void put16(bytes &b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void put32(bytes &b, uint32_t v) {
  put16(b, v >> 16);
  put16(b, v);
}
void append(bytes &b, const bytes &more) { b.insert(b.end(), more.begin(), more.end()); }

// A font file: the directory, then each table on a four-byte boundary.
struct font_builder {
  std::vector<std::pair<std::string, bytes>> tables;

  font_builder &add(const std::string &tag, const bytes &data) {
    tables.emplace_back(tag, data);
    return *this;
  }
  bytes build() const {
    bytes out;
    put32(out, 0x00010000);
    put16(out, uint32_t(tables.size()));
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    uint32_t at = uint32_t(12 + 16 * tables.size());
    for (const auto &[tag, data] : tables) {
      out.insert(out.end(), tag.begin(), tag.end());
      put32(out, 0);  // checksum, not read
      put32(out, at);
      put32(out, uint32_t(data.size()));
      at += uint32_t((data.size() + 3) & ~size_t(3));
    }
    for (const auto &t : tables) {
      append(out, t.second);
      while (out.size() % 4) out.push_back(0);
    }
    return out;
  }
};

bytes head_table(uint32_t units_per_em, uint32_t loc_format) {
  bytes b(54, 0);
  b[18] = uint8_t(units_per_em >> 8);
  b[19] = uint8_t(units_per_em);
  b[51] = uint8_t(loc_format);
  return b;
}
bytes maxp_table(uint32_t nglyphs) {
  bytes b;
  put32(b, 0x00005000);
  put16(b, nglyphs);
  return b;
}
bytes hhea_table(uint32_t nmetrics) {
  bytes b(34, 0);
  put16(b, nmetrics);
  return b;
}
bytes hmtx_table(const std::vector<uint32_t> &advances) {
  bytes b;
  for (uint32_t a : advances) {
    put16(b, a);
    put16(b, 0);
  }
  return b;
}

struct pt {
  int x, y, on;
};

// A simple glyph with every delta written in two bytes and no instructions.
bytes simple_glyph(const std::vector<std::vector<pt>> &contours) {
  bytes b;
  put16(b, uint32_t(contours.size()));
  for (int i = 0; i < 4; ++i) put16(b, 0);
  int end = -1;
  std::vector<pt> all;
  for (const auto &c : contours) {
    end += int(c.size());
    put16(b, uint32_t(end));
    all.insert(all.end(), c.begin(), c.end());
  }
  put16(b, 0);
  for (const pt &p : all) put8(b, p.on ? 1 : 0);
  int last = 0;
  for (const pt &p : all) put16(b, uint32_t(p.x - last)), last = p.x;
  last = 0;
  for (const pt &p : all) put16(b, uint32_t(p.y - last)), last = p.y;
  return b;
}

struct component {
  uint32_t glyph;
  int dx, dy;
  uint32_t flags = 0;  // 0x0001 (16-bit arguments) and the transform flags; 0x0020 is added
  bytes transform = {};
};

bytes composite_glyph(const std::vector<component> &parts) {
  bytes b;
  put16(b, 0xFFFF);
  for (int i = 0; i < 4; ++i) put16(b, 0);
  for (size_t i = 0; i < parts.size(); ++i) {
    const component &c = parts[i];
    put16(b, c.flags | (i + 1 < parts.size() ? 0x0020 : 0));
    put16(b, c.glyph);
    if (c.flags & 0x0001) {
      put16(b, uint32_t(c.dx));
      put16(b, uint32_t(c.dy));
    } else {
      put8(b, uint32_t(c.dx));
      put8(b, uint32_t(c.dy));
    }
    append(b, c.transform);
  }
  return b;
}

// head, maxp, hhea, hmtx, loca and glyf for these glyphs, each padded to an even length.
font_builder glyph_font(const std::vector<bytes> &glyphs, uint32_t loc_format = 1) {
  bytes loca, glyf;
  auto entry = [&](size_t at) {
    loc_format ? put32(loca, uint32_t(at)) : put16(loca, uint32_t(at / 2));
  };
  for (const bytes &g : glyphs) {
    entry(glyf.size());
    append(glyf, g);
    if (glyf.size() % 2) glyf.push_back(0);
  }
  entry(glyf.size());
  font_builder f;
  f.add("head", head_table(1000, loc_format))
      .add("maxp", maxp_table(uint32_t(glyphs.size())))
      .add("hhea", hhea_table(uint32_t(glyphs.size())))
      .add("hmtx", hmtx_table(std::vector<uint32_t>(glyphs.size(), 500)))
      .add("loca", loca)
      .add("glyf", glyf);
  return f;
}

// The font sits in a block of exactly its size so that a sanitizer sees any read past it.
struct exact_copy {
  uint8_t *p = nullptr;
  int len = 0;
  explicit exact_copy(const bytes &b) : exact_copy(b.data(), b.size()) {}
  exact_copy(const uint8_t *d, size_t n)
      : p(static_cast<uint8_t *>(std::malloc(n ? n : 1))), len(int(n)) {
    if (n) std::memcpy(p, d, n);
  }
  ~exact_copy() { std::free(p); }
  exact_copy(const exact_copy &) = delete;
  exact_copy &operator=(const exact_copy &) = delete;
};

struct outline {
  int ok = 0;
  std::vector<tf_point> points;
  std::vector<uint16_t> ends;
  int composite = 0;
};

outline outline_of(const uint8_t *font, int len, uint32_t glyph) {
  outline o;
  tf_point *p = reinterpret_cast<tf_point *>(1);
  uint16_t *e = reinterpret_cast<uint16_t *>(1);
  int np = -1, ne = -1;
  o.ok = tf_glyph_outline(font, len, glyph, &p, &np, &e, &ne, &o.composite);
  if (o.ok) {
    o.points.assign(p, p + np);
    o.ends.assign(e, e + ne);
  } else {
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(np, 0);
    EXPECT_EQ(ne, 0);
    EXPECT_EQ(o.composite, 0);
  }
  std::free(p);
  std::free(e);
  return o;
}
outline outline_of(const bytes &font, uint32_t glyph) {
  exact_copy c(font);
  return outline_of(c.p, c.len, glyph);
}

std::vector<uint16_t> cmap_of(const bytes &font, int *ok) {
  exact_copy c(font);
  std::vector<uint16_t> table(65536, 0xBEEF);
  tf_build_cmap(c.p, c.len, table.data(), ok);
  return table;
}

int advance_of(const bytes &font, uint32_t glyph) {
  exact_copy c(font);
  int a = -1;
  tf_hmtx(c.p, c.len, glyph, &a);
  return a;
}

std::vector<int> xs(const outline &o) {
  std::vector<int> v;
  for (const tf_point &p : o.points) v.push_back(p.x);
  return v;
}
std::vector<int> ys(const outline &o) {
  std::vector<int> v;
  for (const tf_point &p : o.points) v.push_back(p.y);
  return v;
}
std::vector<int> ons(const outline &o) {
  std::vector<int> v;
  for (const tf_point &p : o.points) v.push_back(p.on_curve);
  return v;
}

const bytes square = simple_glyph({{{0, 0, 1}, {100, 0, 1}, {100, 100, 1}, {0, 100, 1}}});
const bytes triangle = simple_glyph({{{0, 0, 1}, {50, 0, 0}, {0, 50, 1}}});

// ---------------------------------------------------------------- directory

TEST(TrueTypeDirectory, WhatCountsAsAFont) {
  struct row {
    const char *name;
    bytes data;
    int font;
  };
  auto tagged = [&](const char *tag, size_t total) {
    bytes b(tag, tag + 4);
    b.resize(total, 0);
    return b;
  };
  const row rows[] = {
      {"empty", {}, 0},
      {"eleven bytes", tagged("\x00\x01\x00\x00", 11), 0},
      {"version 1.0", tagged("\x00\x01\x00\x00", 12), 1},
      {"true", tagged("true", 12), 1},
      {"ttcf read as one font", tagged("ttcf", 12), 1},
      {"OpenType CFF", tagged("OTTO", 12), 0},
      {"version 1.1", tagged("\x00\x01\x00\x01", 12), 0},
      {"text", tagged("%PDF", 64), 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    exact_copy c(r.data);
    tf_dir dir;
    dir.count = 7;
    EXPECT_EQ(tf_font_open(c.p, c.len, &dir), r.font);
    EXPECT_EQ(dir.count, 0);
    EXPECT_EQ(tf_units_per_em(c.p, c.len), 0);
    int ok = -1;
    std::vector<uint16_t> table = cmap_of(r.data, &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(table, std::vector<uint16_t>(65536, 0));
    EXPECT_EQ(advance_of(r.data, 0), 0);
    EXPECT_FALSE(outline_of(r.data, 0).ok);
  }
}

TEST(TrueTypeDirectory, TablesOutsideTheDataAreMissing) {
  bytes font = font_builder().add("head", head_table(2048, 0)).add("cmap", bytes(8, 0)).build();
  auto set32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) font[at + i] = uint8_t(v >> (24 - 8 * i));
  };
  exact_copy ok(font);
  tf_dir dir;
  ASSERT_EQ(tf_font_open(ok.p, ok.len, &dir), 1);
  ASSERT_EQ(dir.count, 2);
  EXPECT_EQ(tf_find_table(dir, "cmap"), &dir.entries[1]);
  EXPECT_EQ(tf_units_per_em(ok.p, ok.len), 2048);

  // head's length one byte past the end; cmap's offset so large that 32-bit sums wrap.
  set32(12 + 12, uint32_t(font.size()) - dir.entries[0].offset + 1);
  set32(28 + 8, 0xFFFFFFF8);
  set32(28 + 12, 0x10);
  exact_copy bad(font);
  ASSERT_EQ(tf_font_open(bad.p, bad.len, &dir), 1);
  EXPECT_EQ(dir.count, 0);
  EXPECT_EQ(tf_find_table(dir, "head"), nullptr);
  EXPECT_EQ(tf_find_table(dir, "cmap"), nullptr);
  EXPECT_EQ(tf_units_per_em(bad.p, bad.len), 0);
}

TEST(TrueTypeDirectory, EntriesStopAtTheDataAndAtSixtyFour) {
  // 100 tables claimed, the data holds the directory header and one and a half entries.
  bytes font;
  put32(font, 0x00010000);
  put16(font, 100);
  font.resize(12, 0);
  append(font, {'a', 'b', 'c', 'd'});
  put32(font, 0);
  put32(font, 0);
  put32(font, 4);
  append(font, {'e', 'f', 'g', 'h', 0, 0, 0, 0});
  exact_copy c(font);
  tf_dir dir;
  ASSERT_EQ(tf_font_open(c.p, c.len, &dir), 1);
  ASSERT_EQ(dir.count, 1);
  EXPECT_NE(tf_find_table(dir, "abcd"), nullptr);
  EXPECT_EQ(tf_find_table(dir, "efgh"), nullptr);

  font_builder many;
  for (int i = 0; i < 70; ++i) many.add("t" + std::to_string(100 + i), bytes(2, 0));
  exact_copy m(many.build());
  ASSERT_EQ(tf_font_open(m.p, m.len, &dir), 1);
  EXPECT_EQ(dir.count, 64);
  EXPECT_NE(tf_find_table(dir, "t163"), nullptr);
  EXPECT_EQ(tf_find_table(dir, "t164"), nullptr);
}

TEST(TrueTypeDirectory, FirstEntryWithTheTagAndShortHead) {
  font_builder twice;
  twice.add("head", head_table(1000, 0)).add("head", head_table(2048, 0));
  exact_copy two(twice.build());
  EXPECT_EQ(tf_units_per_em(two.p, two.len), 1000);
  exact_copy shorter(font_builder().add("head", bytes(19, 7)).build());
  EXPECT_EQ(tf_units_per_em(shorter.p, shorter.len), 0);
  exact_copy none(font_builder().add("maxp", maxp_table(1)).build());
  EXPECT_EQ(tf_units_per_em(none.p, none.len), 0);
}

// ---------------------------------------------------------------- cmap

struct record {
  uint32_t platform, encoding;
  bytes subtable;
  int64_t offset = -1;  // stored as given when not -1
};

bytes cmap_table(const std::vector<record> &records) {
  bytes b;
  put16(b, 0);
  put16(b, uint32_t(records.size()));
  uint32_t at = uint32_t(4 + 8 * records.size());
  bytes subs;
  for (const record &r : records) {
    put16(b, r.platform);
    put16(b, r.encoding);
    put32(b, r.offset >= 0 ? uint32_t(r.offset) : at + uint32_t(subs.size()));
    append(subs, r.subtable);
  }
  append(b, subs);
  return b;
}

bytes cmap_font(const std::vector<record> &records) {
  return font_builder().add("cmap", cmap_table(records)).build();
}

// Format 0 mapping code to glyph.
bytes format0(std::vector<std::pair<int, int>> map) {
  bytes b;
  put16(b, 0);
  put16(b, 262);
  put16(b, 0);
  bytes glyphs(256, 0);
  for (auto [c, g] : map) glyphs[c] = uint8_t(g);
  append(b, glyphs);
  return b;
}

struct segment {
  uint32_t start, end, delta;
  std::vector<uint32_t> glyphs = {};  // through the glyph index array when not empty
  int64_t range = -1;                 // a raw idRangeOffset when not -1
};

bytes format4(const std::vector<segment> &segs) {
  const uint32_t n = uint32_t(segs.size());
  bytes ends, starts, deltas, ranges, array;
  for (uint32_t i = 0; i < n; ++i) {
    const segment &s = segs[i];
    put16(ends, s.end);
    put16(starts, s.start);
    put16(deltas, s.delta);
    if (s.range >= 0) {
      put16(ranges, uint32_t(s.range));
    } else if (s.glyphs.empty()) {
      put16(ranges, 0);
    } else {
      put16(ranges, 2 * (n - i) + uint32_t(array.size()));
      for (uint32_t g : s.glyphs) put16(array, g);
    }
  }
  bytes b;
  put16(b, 4);
  put16(b, 0);  // length, not read
  put16(b, 0);
  put16(b, 2 * n);
  put16(b, 0);
  put16(b, 0);
  put16(b, 0);
  append(b, ends);
  put16(b, 0);
  append(b, starts);
  append(b, deltas);
  append(b, ranges);
  append(b, array);
  return b;
}

bytes format6(uint32_t first, const std::vector<uint32_t> &glyphs) {
  bytes b;
  put16(b, 6);
  put16(b, 0);
  put16(b, 0);
  put16(b, first);
  put16(b, uint32_t(glyphs.size()));
  for (uint32_t g : glyphs) put16(b, g);
  return b;
}

bytes format12(const std::vector<std::vector<uint32_t>> &groups) {
  bytes b;
  put16(b, 12);
  put16(b, 0);
  put32(b, 0);
  put32(b, 0);
  put32(b, uint32_t(groups.size()));
  for (const auto &g : groups)
    for (uint32_t v : g) put32(b, v);
  return b;
}

TEST(TrueTypeCmap, SubtableChoice) {
  auto maps_a_to = [](int glyph) { return format0({{'A', glyph}}); };
  struct row {
    const char *name;
    std::vector<record> records;
    int glyph_of_a;
    int ok;
  };
  const std::vector<row> rows = {
      {"Mac Roman then Windows BMP", {{1, 0, maps_a_to(1)}, {3, 1, maps_a_to(2)}}, 2, 1},
      {"only Mac Roman", {{1, 0, maps_a_to(1)}}, 1, 1},
      {"Windows BMP before Unicode full", {{0, 4, maps_a_to(1)}, {3, 1, maps_a_to(2)}}, 2, 1},
      {"Unicode full before Unicode BMP", {{0, 3, maps_a_to(1)}, {0, 4, maps_a_to(2)}}, 2, 1},
      {"equal priorities: the first", {{3, 10, maps_a_to(1)}, {0, 3, maps_a_to(2)}}, 1, 1},
      {"Unicode BMP before Mac Roman", {{1, 0, maps_a_to(1)}, {0, 3, maps_a_to(2)}}, 2, 1},
      {"offset past the cmap", {{3, 1, maps_a_to(2), 100000}, {1, 0, maps_a_to(1)}}, 1, 1},
      {"format 2 is passed over", {{3, 1, {0, 2, 0, 0}}, {1, 0, maps_a_to(1)}}, 1, 1},
      {"no usable subtable", {{3, 1, {0, 2, 0, 0}}}, 0, 0},
      {"no records", {}, 0, 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    int ok = -1;
    std::vector<uint16_t> t = cmap_of(cmap_font(r.records), &ok);
    EXPECT_EQ(ok, r.ok);
    EXPECT_EQ(t['A'], r.glyph_of_a);
    EXPECT_EQ(t['B'], 0);
  }
  int ok = -1;
  cmap_of(glyph_font({square}).build(), &ok);
  EXPECT_EQ(ok, 0) << "no cmap table";
}

TEST(TrueTypeCmap, Format0StopsAtTheCmapEnd) {
  bytes sub = format0({{0, 3}, {65, 9}, {200, 4}});
  sub.resize(6 + 100);  // the table ends after code 99
  int ok = 0;
  std::vector<uint16_t> t = cmap_of(cmap_font({{1, 0, sub}}), &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(t[0], 3);
  EXPECT_EQ(t[65], 9);
  EXPECT_EQ(t[200], 0);
}

TEST(TrueTypeCmap, Format4Segments) {
  const std::vector<segment> segs = {
      {'A', 'C', 10},                           // delta: A..C -> 75..77
      {'a', 'c', 0, {40, 0, 42}},               // array; a zero entry maps nothing
      {'x', 'z', 5, {1, 2, 3}},                 // array values get the delta too
      {10, 12, 0xFFF8},                         // wraps: 10 -> 2
      {0x1000, 0x1000 + 4097, 1},               // 4098 codes: passed over
      {0x3000, 0x3000 + 4096, 1},               // 4097 codes: kept
      {0x5000, 0x5001, 0, {}, 60000},           // array entry outside the cmap
      {0x6000, 0x5FFF, 1},                      // start after end: passed over
      {0xFFF0, 0xFFFF, 1},                      // the last segment
      {'Q', 'Q', 1},                            // after the end: never read
  };
  int ok = 0;
  std::vector<uint16_t> t = cmap_of(cmap_font({{3, 1, format4(segs)}}), &ok);
  ASSERT_EQ(ok, 1);
  struct row {
    uint32_t code, glyph;
  };
  const row rows[] = {
      {'A', 75}, {'C', 77}, {'D', 0},      {'a', 40},      {'b', 0},      {'c', 42},
      {'x', 6},  {'z', 8},  {10, 2},       {12, 4},        {0x1000, 0},   {0x1000 + 4097, 0},
      {0x3000, 0x3001},     {0x3000 + 4096, 0x4001},       {0x5000, 0},   {0x5FFF, 0},
      {0xFFF0, 0xFFF1},     {0xFFFE, 0xFFFF}, {0xFFFF, 0}, {'Q', 0},
  };
  for (const row &r : rows) EXPECT_EQ(t[r.code], r.glyph) << "code " << r.code;
}

TEST(TrueTypeCmap, Format4SkippedLastSegmentDoesNotEndTheWalk) {
  // A segment of more than 4097 codes that ends at 0xFFFF is passed over, so the walk goes on.
  const std::vector<segment> wide = {{0x1000, 0xFFFF, 1}, {'A', 'A', 1}, {0xFFFF, 0xFFFF, 1}};
  int ok = 0;
  std::vector<uint16_t> t = cmap_of(cmap_font({{3, 1, format4(wide)}}), &ok);
  EXPECT_EQ(t['A'], 'B');
  EXPECT_EQ(t[0x2000], 0);
}

TEST(TrueTypeCmap, Format6) {
  int ok = 0;
  std::vector<uint16_t> t = cmap_of(cmap_font({{3, 1, format6(0x20, {7, 8, 9})}}), &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(t[0x1F], 0);
  EXPECT_EQ(t[0x20], 7);
  EXPECT_EQ(t[0x22], 9);
  EXPECT_EQ(t[0x23], 0);
  // Codes above 0xFFFF are dropped; entries past the cmap are not read.
  t = cmap_of(cmap_font({{3, 1, format6(0xFFFE, {1, 2, 3, 4})}}), &ok);
  EXPECT_EQ(t[0xFFFE], 1);
  EXPECT_EQ(t[0xFFFF], 2);
  EXPECT_EQ(t[0], 0);
  bytes cut = format6(0x40, {1, 2, 3, 4});
  cut.resize(cut.size() - 2);  // the last entry is gone
  t = cmap_of(cmap_font({{3, 1, cut}}), &ok);
  EXPECT_EQ(t[0x42], 3);
  EXPECT_EQ(t[0x43], 0);
}

TEST(TrueTypeCmap, Format12) {
  const std::vector<std::vector<uint32_t>> groups = {
      {'A', 'C', 10},
      {0x50, 0x50, 9},
      {0x50, 0x50, 0x10000},   // glyph 0 (mod 65536) is stored over the earlier 9
      {0x10000, 0x10002, 5},   // above 0xFFFF: dropped
      {0xFFFE, 0x10001, 7},    // the part up to 0xFFFF is kept
      {0x2000, 0x2000 + 4097, 1},  // more than 4097 codes: passed over
      {0x60, 0x5F, 1},         // start after end
      {0x70, 0x70, 0x1FFFF},   // glyph ids wrap
  };
  int ok = 0;
  std::vector<uint16_t> t = cmap_of(cmap_font({{3, 10, format12(groups)}}), &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(t['A'], 10);
  EXPECT_EQ(t['C'], 12);
  EXPECT_EQ(t[0x50], 0);
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[1], 0);
  EXPECT_EQ(t[0xFFFE], 7);
  EXPECT_EQ(t[0xFFFF], 8);
  EXPECT_EQ(t[0x2000], 0);
  EXPECT_EQ(t[0x5F], 0);
  EXPECT_EQ(t[0x70], 0xFFFF);
}

// ---------------------------------------------------------------- hmtx

TEST(TrueTypeHmtx, LongMetricsAndTheLastOne) {
  font_builder f = glyph_font({square, square, square, square, square});
  f.tables[2].second = hhea_table(2);
  f.tables[3].second = hmtx_table({500, 600});
  const bytes font = f.build();
  struct row {
    uint32_t glyph;
    int advance;
  };
  for (row r : {row{0, 500}, row{1, 600}, row{2, 600}, row{4, 600}, row{5, 0}, row{70000, 0}})
    EXPECT_EQ(advance_of(font, r.glyph), r.advance) << "glyph " << r.glyph;

  // Without hhea each glyph reads its own metric, when the hmtx holds it.
  font_builder own = glyph_font({square, square, square});
  own.tables.erase(own.tables.begin() + 2);
  own.tables[2].second = hmtx_table({300, 400});
  const bytes no_hhea = own.build();
  EXPECT_EQ(advance_of(no_hhea, 1), 400);
  EXPECT_EQ(advance_of(no_hhea, 2), 0);

  font_builder zero = glyph_font({square});
  zero.tables[2].second = hhea_table(0);
  EXPECT_EQ(advance_of(zero.build(), 0), 0);
  font_builder short_hhea = glyph_font({square});
  short_hhea.tables[2].second = bytes(35, 0);
  EXPECT_EQ(advance_of(short_hhea.build(), 0), 0);
  font_builder no_loca = glyph_font({square});
  no_loca.tables.erase(no_loca.tables.begin() + 4);
  EXPECT_EQ(advance_of(no_loca.build(), 0), 0);
}

uint32_t be16_in(const uint8_t *font, int len, const char *tag, uint32_t at) {
  tf_dir dir;
  if (!tf_font_open(font, len, &dir)) return 0;
  const tf_table *t = tf_find_table(dir, tag);
  if (!t || at + 2 > t->length) return 0;
  return uint32_t(font[t->offset + at]) << 8 | font[t->offset + at + 1];
}

TEST(TrueTypeHmtx, LiberationMonoHasFourLongMetrics) {
  const uint8_t *mono = builtin_font_constant(2);
  const int len = builtin_font_constant_len(2);
  ASSERT_NE(mono, nullptr);
  ASSERT_EQ(be16_in(mono, len, "hhea", 34), 4u);
  const uint32_t nglyphs = be16_in(mono, len, "maxp", 4);
  ASSERT_GT(nglyphs, 100u);
  for (uint32_t g = 4; g < nglyphs; ++g) {
    int a = 0;
    tf_hmtx(mono, len, g, &a);
    ASSERT_EQ(a, 1229) << "glyph " << g;
  }
  int a = -1;
  tf_hmtx(mono, len, nglyphs, &a);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(tf_units_per_em(mono, len), 2048);
}

// ---------------------------------------------------------------- simple outlines

// Two contours, ends 2 and 4, one instruction byte; flags with a repeat, one-byte deltas of
// both signs, two-byte deltas and "same" coordinates.
bytes packed_glyph() {
  return {
      0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0,  // two contours, box unused
      0x00, 0x02, 0x00, 0x04,              // ends
      0x00, 0x01, 0xB0,                    // one instruction byte
      0x01,                                // p0: on, two-byte x and y
      0x3B, 0x01,                          // p1, p2: on, x one byte positive, y same; repeated
      0x06,                                // p3: off, x and y one byte negative
      0x35,                                // p4: on, x same, y one byte positive
      0x00, 0x64, 0x0A, 0x14, 0x05,        // x: +100, +10, +20, -5, (same)
      0xFF, 0xCE, 0x07, 0x1E,              // y: -50, (same), (same), -7, +30
  };
}

TEST(TrueTypeOutline, SimpleGlyphFlagsAndDeltas) {
  for (uint32_t format : {0u, 1u}) {
    SCOPED_TRACE(format);
    const outline o = outline_of(glyph_font({square, packed_glyph()}, format).build(), 1);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(xs(o), (std::vector<int>{100, 110, 130, 125, 125}));
    EXPECT_EQ(ys(o), (std::vector<int>{-50, -50, -50, -57, -27}));
    EXPECT_EQ(ons(o), (std::vector<int>{1, 1, 1, 0, 1}));
    EXPECT_EQ(o.ends, (std::vector<uint16_t>{2, 4}));
    EXPECT_EQ(o.composite, 0);
  }
}

TEST(TrueTypeOutline, CoordinatesWrapAtSixteenBits) {
  const bytes extremes = simple_glyph({{{32767, -32768, 1}, {-32768, 32767, 1}}});
  const outline o = outline_of(glyph_font({extremes}).build(), 0);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(xs(o), (std::vector<int>{32767, -32768}));
  EXPECT_EQ(ys(o), (std::vector<int>{-32768, 32767}));
}

TEST(TrueTypeOutline, BrokenSimpleGlyphsHaveNoOutline) {
  struct row {
    const char *name;
    void (*change)(bytes &);
  };
  const row rows[] = {
      {"no contours", [](bytes &g) { g[1] = 0; }},
      {"equal ends", [](bytes &g) { g[13] = 2; }},
      {"descending ends", [](bytes &g) { g[13] = 1; }},
      {"instructions of 0x8000 bytes", [](bytes &g) { g[14] = 0x80, g[15] = 0; }},
      {"instructions past the glyph", [](bytes &g) { g[15] = 40; }},
      {"flags run out", [](bytes &g) { g.resize(20); }},
      {"repeat count missing", [](bytes &g) { g.resize(19); }},
      {"coordinates short by one byte", [](bytes &g) { g.pop_back(); }},
      {"under 16 bytes", [](bytes &g) { g.resize(14); }},
      {"too many points for the flags", [](bytes &g) { g[13] = 9; }},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    bytes g = packed_glyph();
    r.change(g);
    // The next glyph's bytes follow, so a read past the glyph's own range would find data.
    EXPECT_FALSE(outline_of(glyph_font({g, square}).build(), 0).ok);
  }
  // A repeat that would fill more points than the glyph has stops at the count; the bytes
  // after it are then read as coordinates.
  bytes g = packed_glyph();
  g[19] = 200;
  const outline o = outline_of(glyph_font({g, square}).build(), 0);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(xs(o), (std::vector<int>{0x0635, 0x0635, 0x0635 + 0x64, 0x0635 + 0x6E, 0x0635 + 0x82}));
  EXPECT_EQ(ys(o), (std::vector<int>(5, 0x05FF)));
  EXPECT_EQ(ons(o), (std::vector<int>(5, 1)));
}

TEST(TrueTypeOutline, GlyphRangeChecks) {
  // Equal loca entries: the glyph is empty.
  EXPECT_FALSE(outline_of(glyph_font({bytes{}, square}).build(), 0).ok);
  EXPECT_TRUE(outline_of(glyph_font({bytes{}, square}).build(), 1).ok);
  EXPECT_FALSE(outline_of(glyph_font({square}).build(), 1).ok) << "beyond numGlyphs";
  // A loca whose last entry points past the glyf table.
  font_builder f = glyph_font({square});
  bytes &loca = f.tables[4].second;
  loca[7] = uint8_t(loca[7] + 2);
  EXPECT_FALSE(outline_of(f.build(), 0).ok);
  // A loca too short for the glyph's end entry.
  font_builder cut = glyph_font({square});
  cut.tables[4].second.resize(6);
  EXPECT_FALSE(outline_of(cut.build(), 0).ok);
  // numGlyphs 0, and a head too short for indexToLocFormat.
  font_builder none = glyph_font({square});
  none.tables[1].second = maxp_table(0);
  EXPECT_FALSE(outline_of(none.build(), 0).ok);
  font_builder short_head = glyph_font({square});
  short_head.tables[0].second.resize(51);
  EXPECT_FALSE(outline_of(short_head.build(), 0).ok);
}

// ---------------------------------------------------------------- composite outlines

TEST(TrueTypeOutline, CompositeComponents) {
  const bytes font = glyph_font({
      bytes{},                                                          // 0: empty
      square,                                                           // 1
      triangle,                                                         // 2
      composite_glyph({{1, 10, -20}}),                                  // 3: byte arguments
      composite_glyph({{1, 1000, -2000, 0x0001}}),                      // 4: word arguments
      composite_glyph({{1, 0, 0}, {2, 5, 5}}),                          // 5: two contours
      composite_glyph({{0, 0, 0}, {99, 0, 0}}),                         // 6: all fail
      composite_glyph({{7, 1, 1}}),                                     // 7: names itself
      composite_glyph({{3, 1, 1}}),                                     // 8: nested
      // 9: a scale and a matrix, skipped
      composite_glyph({{1, 0, 0, 0x0008, {0x40, 0}}, {2, 0, 0, 0x0080, bytes(8, 0)}, {2, 1, 0}}),
      composite_glyph({{0, 0, 0}, {2, 0, 0}}),                          // 10: one of two fails
  }).build();

  const outline one = outline_of(font, 3);
  ASSERT_TRUE(one.ok);
  EXPECT_EQ(one.composite, 1);
  EXPECT_EQ(xs(one), (std::vector<int>{10, 110, 110, 10}));
  EXPECT_EQ(ys(one), (std::vector<int>{-20, -20, 80, 80}));
  EXPECT_EQ(one.ends, (std::vector<uint16_t>{3}));

  const outline word = outline_of(font, 4);
  ASSERT_TRUE(word.ok);
  EXPECT_EQ(xs(word), (std::vector<int>{1000, 1100, 1100, 1000}));
  EXPECT_EQ(ys(word), (std::vector<int>{-2000, -2000, -1900, -1900}));

  const outline two = outline_of(font, 5);
  ASSERT_TRUE(two.ok);
  EXPECT_EQ(xs(two), (std::vector<int>{0, 100, 100, 0, 5, 55, 5}));
  EXPECT_EQ(ys(two), (std::vector<int>{0, 0, 100, 100, 5, 5, 55}));
  EXPECT_EQ(ons(two), (std::vector<int>{1, 1, 1, 1, 1, 0, 1}));
  EXPECT_EQ(two.ends, (std::vector<uint16_t>{3, 6}));

  EXPECT_FALSE(outline_of(font, 6).ok);
  EXPECT_FALSE(outline_of(font, 7).ok);

  const outline nested = outline_of(font, 8);
  ASSERT_TRUE(nested.ok);
  EXPECT_EQ(nested.composite, 1);
  EXPECT_EQ(xs(nested), (std::vector<int>{11, 111, 111, 11}));
  EXPECT_EQ(ys(nested), (std::vector<int>{-19, -19, 81, 81}));

  const outline transformed = outline_of(font, 9);
  ASSERT_TRUE(transformed.ok);
  EXPECT_EQ(transformed.ends, (std::vector<uint16_t>{3, 6, 9})) << "transforms skipped";
  EXPECT_EQ(xs(transformed), (std::vector<int>{0, 100, 100, 0, 0, 50, 0, 1, 51, 1}));

  const outline partial = outline_of(font, 10);
  ASSERT_TRUE(partial.ok);
  EXPECT_EQ(partial.ends, (std::vector<uint16_t>{2}));
}

TEST(TrueTypeOutline, CompositeWalkEndsWhenARecordDoesNotFit) {
  bytes g = composite_glyph({{1, 0, 0}, {2, 0, 0, 0x0001}});
  g.resize(g.size() - 2);  // the second record loses a word argument
  const outline o = outline_of(glyph_font({bytes{}, square, triangle, g}).build(), 3);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.ends, (std::vector<uint16_t>{3}));
}

TEST(TrueTypeOutline, NestingDepth) {
  // Glyph 1 is a square; glyph k + 1 holds glyph k. The top glyph of n composites reaches the
  // square at depth n.
  for (int levels : {1, 8, 9, 12}) {
    SCOPED_TRACE(levels);
    std::vector<bytes> glyphs = {bytes{}, square};
    for (int k = 1; k <= levels; ++k) glyphs.push_back(composite_glyph({{uint32_t(k), 1, 0}}));
    const outline o = outline_of(glyph_font(glyphs).build(), uint32_t(levels + 1));
    EXPECT_EQ(o.ok, levels <= k_tf_max_composite_depth);
    if (o.ok) {
      EXPECT_EQ(o.points[0].x, levels);
    }
  }
}

TEST(TrueTypeOutline, PointLimitDropsTheComponentThatWouldPassIt) {
  // One contour of 40000 points, all flags the same, written as repeats.
  const int n = 40000;
  bytes big;
  put16(big, 1);
  for (int i = 0; i < 4; ++i) put16(big, 0);
  put16(big, n - 1);
  put16(big, 0);
  for (int left = n; left > 0; left -= 256) {
    put8(big, 0x3B);  // on, x one byte positive, y same, repeated
    put8(big, uint32_t(std::min(left, 256) - 1));
  }
  big.insert(big.end(), n, 1);
  const bytes two_big_one_small = composite_glyph({{2, 0, 0}, {2, 0, 0}, {1, 0, 0}});
  const bytes font = glyph_font({bytes{}, square, big, two_big_one_small}).build();
  const outline alone = outline_of(font, 2);
  ASSERT_TRUE(alone.ok);
  EXPECT_EQ(alone.points.size(), size_t(n));
  EXPECT_EQ(alone.points[100].x, 101);
  const outline o = outline_of(font, 3);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.points.size(), size_t(n + 4));
  EXPECT_EQ(o.ends, (std::vector<uint16_t>{uint16_t(n - 1), uint16_t(n + 3)}));
}

TEST(TrueTypeOutline, ManySelfReferencesEnd) {
  // Each level names the glyph itself many times over; the work stays bounded.
  std::vector<component> parts(2000, component{1, 0, 0});
  const outline o = outline_of(glyph_font({bytes{}, composite_glyph(parts)}).build(), 1);
  EXPECT_FALSE(o.ok);
}

// ---------------------------------------------------------------- Liberation Sans

struct sans_font {
  const uint8_t *p = builtin_font_constant(0);
  int len = builtin_font_constant_len(0);
  std::vector<uint16_t> cmap = std::vector<uint16_t>(65536);
  int ok = 0;
  sans_font() { tf_build_cmap(p, len, cmap.data(), &ok); }
};

TEST(TrueTypeLiberation, SpaceAndAccentedLetter) {
  sans_font sans;
  ASSERT_NE(sans.p, nullptr);
  ASSERT_EQ(sans.ok, 1);
  EXPECT_EQ(tf_units_per_em(sans.p, sans.len), 2048);

  const uint16_t space = sans.cmap[0x20];
  ASSERT_NE(space, 0);
  EXPECT_FALSE(outline_of(sans.p, sans.len, space).ok);
  int advance = 0;
  tf_hmtx(sans.p, sans.len, space, &advance);
  EXPECT_EQ(advance, 569);

  const uint16_t e = sans.cmap[0x65], e_acute = sans.cmap[0xE9];
  ASSERT_NE(e, 0);
  ASSERT_NE(e_acute, 0);
  const outline plain = outline_of(sans.p, sans.len, e);
  const outline accented = outline_of(sans.p, sans.len, e_acute);
  ASSERT_TRUE(plain.ok);
  ASSERT_TRUE(accented.ok);
  EXPECT_EQ(plain.composite, 0);
  EXPECT_EQ(accented.composite, 1);
  EXPECT_GE(accented.ends.size(), plain.ends.size() + 1);
  EXPECT_GT(accented.points.size(), plain.points.size());
  for (size_t i = 1; i < accented.ends.size(); ++i)
    EXPECT_LT(accented.ends[i - 1], accented.ends[i]);
  EXPECT_EQ(accented.ends.back() + 1u, accented.points.size());
}

// ---------------------------------------------------------------- hostile input

void read_everything(const uint8_t *font, int len, const std::vector<uint32_t> &glyphs) {
  tf_dir dir;
  tf_font_open(font, len, &dir);
  ASSERT_LE(dir.count, k_tf_max_tables);
  for (int i = 0; i < dir.count; ++i)
    ASSERT_LE(uint64_t(dir.entries[i].offset) + dir.entries[i].length, uint64_t(len));
  tf_find_table(dir, "glyf");
  tf_units_per_em(font, len);
  static std::vector<uint16_t> table(65536);
  int ok = 0;
  tf_build_cmap(font, len, table.data(), &ok);
  for (uint32_t g : glyphs) {
    int advance = 0;
    tf_hmtx(font, len, g, &advance);
    tf_point *p = nullptr;
    uint16_t *e = nullptr;
    int np = 0, ne = 0, composite = 0;
    if (tf_glyph_outline(font, len, g, &p, &np, &e, &ne, &composite)) {
      EXPECT_GT(np, 0);
      EXPECT_GT(ne, 0);
      for (int i = 0; i < ne; ++i) {
        EXPECT_LT(e[i], np);
        if (i) {
          EXPECT_LT(e[i - 1], e[i]);
        }
      }
    }
    std::free(p);
    std::free(e);
  }
}

TEST(TrueTypeHostile, CutAndScrambledLiberationSans) {
  sans_font sans;
  ASSERT_EQ(sans.ok, 1);
  const bytes original(sans.p, sans.p + sans.len);
  tf_dir dir;
  ASSERT_EQ(tf_font_open(sans.p, sans.len, &dir), 1);
  const std::vector<uint32_t> some = {0, 1, sans.cmap['A'], sans.cmap['g'], sans.cmap[0xE9],
                                      sans.cmap[0xC5], sans.cmap[0x20], 60000};

  // Cut to many lengths, each table's start and end among them.
  std::vector<int> lengths = {0, 1, 11, 12, 13, 16, 27, 28, 12 + 16 * dir.count};
  for (int i = 0; i < dir.count; ++i)
    for (int d : {-1, 0, 1, 60}) {
      lengths.push_back(int(dir.entries[i].offset) + d);
      lengths.push_back(int(dir.entries[i].offset + dir.entries[i].length) + d);
    }
  for (int n = 0; n < sans.len; n += sans.len / 150) lengths.push_back(n);
  for (int n : lengths) {
    if (n < 0 || n > sans.len) continue;
    exact_copy c(original.data(), size_t(n));
    read_everything(c.p, c.len, some);
  }

  // Random bytes changed in the directory, the cmap, the loca and the glyphs read.
  std::mt19937 rng(20261211);
  const tf_table *cmap = tf_find_table(dir, "cmap");
  const tf_table *loca = tf_find_table(dir, "loca");
  const tf_table *glyf = tf_find_table(dir, "glyf");
  ASSERT_TRUE(cmap && loca && glyf);
  const uint32_t nglyphs = be16_in(sans.p, sans.len, "maxp", 4);
  const bool long_loca = be16_in(sans.p, sans.len, "head", 50) != 0;
  auto loca_entry = [&](uint32_t g) {
    const uint8_t *e = sans.p + loca->offset + (long_loca ? 4 : 2) * g;
    return long_loca ? uint32_t(e[0]) << 24 | uint32_t(e[1]) << 16 | uint32_t(e[2]) << 8 | e[3]
                     : 2 * (uint32_t(e[0]) << 8 | e[1]);
  };
  ASSERT_GT(nglyphs, 500u);
  struct region {
    uint32_t at, len;
  };
  const region regions[] = {{0, uint32_t(12 + 16 * dir.count)},
                            {cmap->offset, std::min<uint32_t>(cmap->length, 2048)},
                            {loca->offset, loca->length},
                            {glyf->offset, glyf->length}};
  for (int run = 0; run < 2000; ++run) {
    bytes data = original;
    std::vector<uint32_t> glyphs = some;
    for (int k = 0; k < 4; ++k) glyphs.push_back(rng() % nglyphs);
    region r = regions[run % 4];
    if (run % 4 == 3) {
      // Within the bytes of a glyph that is then outlined; the accented letters are composite.
      const uint32_t g = glyphs[2 + rng() % (glyphs.size() - 2)] % nglyphs;
      const uint32_t start = loca_entry(g), end = loca_entry(g + 1);
      if (start < end && end <= glyf->length) r = region{glyf->offset + start, end - start};
    }
    const int changes = 1 + int(rng() % 6);
    for (int k = 0; k < changes; ++k) {
      const uint32_t at = r.at + rng() % r.len;
      data[at] = (rng() % 3 == 0) ? uint8_t(0xFF) : uint8_t(rng());
    }
    exact_copy c(data);
    read_everything(c.p, c.len, glyphs);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
