// Glyph drawing: TrueType contours as exact cubic segments within the segment limit, the
// glyph's device place for its size and units per em, embedded and built-in programs alike,
// kept outlines giving the same pixels; Type 3 procedures placed by the font size, painted in
// a graphics state of their own, and bounded when they show their own glyphs.
#include "render/glyph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render/font.h"
#include "render/text_support.h"
#include "render/truetype.h"

namespace {

using text_test::TextDoc;

path_pt quad_at(path_pt a, path_pt c, path_pt b, double t) {
  double u = 1 - t;
  return {u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y};
}

path_pt cubic_at(const path_seg &s, double t) {
  double u = 1 - t;
  double w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t, w3 = t * t * t;
  return {w0 * s.p0.x + w1 * s.c1.x + w2 * s.c2.x + w3 * s.p3.x,
          w0 * s.p0.y + w1 * s.c1.y + w2 * s.c2.y + w3 * s.p3.y};
}

TEST(GlyphOutline, QuadraticPiecesBecomeTheCubicsThatTraceThem) {
  // Contour 0 starts off the curve and has two control points in a row (an implied point on
  // the curve between them); contour 1 has no point on the curve; contour 2 is a square.
  const tf_point pts[] = {{0, 100, 0},   {0, 0, 1},   {100, 0, 0}, {100, 100, 0},
                          {50, 50, 0},   {60, 60, 0}, {10, 10, 1}, {20, 10, 1},
                          {20, 20, 1},   {10, 20, 1}};
  const uint16_t ends[] = {3, 5, 9};
  path p;
  glyph_outline_path(pts, 10, ends, 3, &p);
  ASSERT_EQ(p.count, 3 + 4);
  const path_seg *s = p.segs.get();
  // The walk begins at the first point on the curve and comes back to it.
  EXPECT_EQ(s[0].p0.x, 0);
  EXPECT_EQ(s[0].p0.y, 0);
  EXPECT_EQ(s[2].p3.x, 0);
  EXPECT_EQ(s[2].p3.y, 0);
  EXPECT_EQ(s[0].starts_subpath, 1);
  EXPECT_EQ(s[3].starts_subpath, 1);
  const path_pt quads[3][3] = {{{0, 0}, {100, 0}, {100, 50}},
                               {{100, 50}, {100, 100}, {50, 100}},
                               {{50, 100}, {0, 100}, {0, 0}}};
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(s[k].kind, SEG_CUBIC);
    for (double t = 0; t <= 1.0; t += 0.125) {
      path_pt want = quad_at(quads[k][0], quads[k][1], quads[k][2], t);
      path_pt got = cubic_at(s[k], t);
      EXPECT_NEAR(got.x, want.x, 1e-9) << k << " " << t;
      EXPECT_NEAR(got.y, want.y, 1e-9) << k << " " << t;
    }
  }
  for (int k = 3; k < 7; k++) EXPECT_EQ(s[k].kind, SEG_LINE);
  EXPECT_EQ(s[3].p0.x, 10);
  EXPECT_EQ(s[6].p3.y, 10);
}

TEST(GlyphOutline, NoMoreThanTheSegmentLimit) {
  std::vector<tf_point> pts;
  for (int i = 0; i < 700; i++)
    pts.push_back({static_cast<int16_t>(i), static_cast<int16_t>(i % 2 ? 5 : 0), 1});
  const uint16_t ends[] = {399, 699};
  path p;
  glyph_outline_path(pts.data(), 700, ends, 2, &p);
  EXPECT_EQ(p.count, k_glyph_max_segments);
  // Ends that do not fit the points stop the walk.
  const uint16_t bad[] = {3, 2000};
  path q;
  glyph_outline_path(pts.data(), 10, bad, 2, &q);
  EXPECT_EQ(q.count, 4);
}

class Glyphs : public TextDoc {
 protected:
  void SetUp() override {
    TextDoc::SetUp();
    b.obj(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.obj(11, "<< /Type /Font /Subtype /TrueType /BaseFont /Symbol /FontDescriptor 12 0 R >>");
    b.obj(12, "<< /Type /FontDescriptor /FontFile2 13 0 R >>");
    b.flate_stream(13, "", text_test::builtin_bytes(0));
    b.obj(14, "<< /Type /Font /Subtype /Type0 /BaseFont /Helvetica >>");
    b.obj(20, "<< /Type /Font /Subtype /Type3 /CharProcs << /q 21 0 R /w 22 0 R /r 23 0 R >> "
              "/FirstChar 0 >>");
    b.stream(21, "", "0 0 1 1 re f");
    // A procedure that paints with a wide line inside a narrow clip of its own.
    b.stream(22, "", "7 w 0 0 0.1 0.1 re W n 0 0 1 1 re f");
    // A procedure that shows its own glyph, ten times.
    b.stream(23, "", "/T 1 Tf (rrrrrrrrrr) Tj 0 0 1 1 re f");
    load();
  }
  const char *res = "<< /Font << /H 10 0 R /E 11 0 R /Z 14 0 R /T 20 0 R >> >>";

  std::vector<uint8_t> pixels() const {
    return std::vector<uint8_t>(r.rgb.get(), r.rgb.get() + 3 * r.width * r.height);
  }
};

// A point (u, v) of the outline lands at (x + s u, y + s v) of user space, s being the font
// size over the units per em: with size 12 and 2048 units a point at 1024 stands 6 units right
// of the origin. The CTM here scales by 8 and turns y downwards.
TEST_F(Glyphs, OutlinePointsLandBySizeOverUnitsPerEm) {
  run("/H 12 Tf 3 4 Td (I) Tj", res, 200, 200, matrix{8, 0, 0, -8, 0, 200});
  ASSERT_NE(st->font, nullptr);
  const uint32_t g = st->font->glyph_map['I'].glyph;
  tf_point *pts = nullptr;
  uint16_t *ends = nullptr;
  int np = 0, ne = 0, comp = 0;
  ASSERT_EQ(tf_glyph_outline(g_font_files[0], g_font_lens[0], g, &pts, &np, &ends, &ne, &comp), 1);
  int umin = 99999, umax = -99999, vmin = 99999, vmax = -99999;
  for (int i = 0; i < np; i++) {
    umin = std::min<int>(umin, pts[i].x), umax = std::max<int>(umax, pts[i].x);
    vmin = std::min<int>(vmin, pts[i].y), vmax = std::max<int>(vmax, pts[i].y);
  }
  std::free(pts);
  std::free(ends);
  const double s = 12.0 / 2048;
  auto box = ink();
  EXPECT_NEAR(box.x0, 8 * (3 + s * umin), 1);
  EXPECT_NEAR(box.x1 + 1, 8 * (3 + s * umax), 1);
  EXPECT_NEAR(box.y0, 200 - 8 * (4 + s * vmax), 1);
  EXPECT_NEAR(box.y1 + 1, 200 - 8 * (4 + s * vmin), 1);
}

// The embedded copy of a font and the built-in slot holding the same font paint the same
// pixels, in the fill colour; and a glyph drawn again from the kept outline paints what the
// first reading painted.
TEST_F(Glyphs, EmbeddedAndBuiltInProgramsPaintAlike) {
  run("1 0 0 rg /H 30 Tf 2 5 Td (Rag) Tj", res, 120, 40);
  const std::vector<uint8_t> builtin = pixels();
  EXPECT_GT(std::count(builtin.begin(), builtin.end(), 0), 100);
  for (size_t i = 0; i < builtin.size(); i += 3) {
    bool red = builtin[i] == 255 && builtin[i + 1] == 0 && builtin[i + 2] == 0;
    bool white = builtin[i] == 255 && builtin[i + 1] == 255 && builtin[i + 2] == 255;
    ASSERT_TRUE(red || white) << i;
  }
  run("1 0 0 rg /E 30 Tf 2 5 Td (Rag) Tj", res, 120, 40);
  EXPECT_EQ(pixels(), builtin);

  run("/H 30 Tf 2 5 Td (gag) Tj", res, 120, 40);
  const std::vector<uint8_t> once_read = pixels();
  std::vector<uint8_t> fresh(once_read.size(), 255);
  const double adv = 30 * st->font->glyph_map['g'].advance;
  const double adv_a = 30 * st->font->glyph_map['a'].advance;
  const double xs[] = {2, 2 + adv, 2 + adv + adv_a};
  const char *codes[] = {"g", "a", "g"};
  for (int k = 0; k < 3; k++) {
    run("/H 30 Tf " + std::to_string(xs[k]) + " 5 Td (" + codes[k] + ") Tj", res, 120, 40);
    std::vector<uint8_t> one = pixels();
    for (size_t i = 0; i < one.size(); i++) fresh[i] = std::min(fresh[i], one[i]);
  }
  EXPECT_EQ(fresh, once_read);
}

TEST_F(Glyphs, NothingDrawnWithoutAGlyph) {
  const char *cases[] = {
      "/H 30 Tf 2 5 Td ( ) Tj",                  // the space has no outline
      "/H 30 Tf 2 5 Td (\\201) Tj",              // a code without a glyph
      "/Z 30 Tf 2 5 Td (AB) Tj",                 // composite fonts draw nothing
      "0 0 0 0 re W n /H 30 Tf 2 5 Td (I) Tj",   // an empty clip
  };
  for (const char *c : cases) {
    run(c, res);
    EXPECT_EQ(ink().x1, -1) << c;
  }
  // Without the built-in slots a standard font draws nothing.
  lsf_free_fonts();
  run("/H 30 Tf 2 5 Td (I) Tj", res);
  EXPECT_EQ(ink().x1, -1);
  lsf_load_fonts();
}

// One procedure unit is one font-size unit of user space: the unit square drawn at (10, 20)
// with size 10 covers (10, 20)-(20, 30).
TEST_F(Glyphs, Type3ProceduresArePlacedByTheFontSize) {
  run("/T 10 Tf 10 20 Td (q) Tj", res);
  auto box = ink();
  EXPECT_EQ((std::vector<int>{box.x0, box.y0, box.x1, box.y1}),
            (std::vector<int>{10, 20, 19, 29}));
}

// What a procedure sets for itself, its clip and line width, ends with its glyph.
TEST_F(Glyphs, Type3ProceduresKeepTheirGraphicsStateToThemselves) {
  run("3 w /T 10 Tf 10 20 Td (w) Tj 30 30 5 5 re f", res);
  EXPECT_EQ(r.line_width, 3);
  EXPECT_EQ(r.clip.x0, 0);
  EXPECT_EQ(r.clip.x1, 40);
  EXPECT_EQ(r.clip_empty, 0);
  EXPECT_TRUE(painted(10, 20));   // inside the procedure's clip
  EXPECT_FALSE(painted(15, 25));  // outside it
  EXPECT_TRUE(painted(32, 32));   // the page's own fill, unclipped
}

TEST_F(Glyphs, Type3ProceduresThatShowThemselvesEnd) {
  run("/T 10 Tf 10 20 Td (r) Tj", res);
  EXPECT_TRUE(painted(12, 22));
  // Four levels run: 1 + 10 + 100 + 1000 procedures, the nested ones counted.
  EXPECT_EQ(r.nested_glyph_runs, 10 + 100 + 1000);
  // The fifth level is not run, and a page drawn without it is not judged blank.
  EXPECT_EQ(r.unreadable, 1);
}

}  // namespace

// Embedded programs are hostile input: damaged copies of a real font, drawn through the whole
// path from font resolution to the fill, never crash or read outside their data.
TEST(GlyphBadInput, DamagedEmbeddedProgramsAreDrawnSafely) {
  lsf_load_fonts();
  const std::string good = text_test::builtin_bytes(0);
  unsigned seed = 99;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 24; round++) {
    std::string font = good;
    if (round % 3 == 0) {
      font.resize(next(static_cast<unsigned>(good.size())));
    } else {
      // Damage lands in the table directory and the tables the drawing reads.
      for (int k = 0; k < 40; k++) {
        unsigned at = round % 3 == 1 ? next(12 + 16 * 20)
                                     : next(static_cast<unsigned>(font.size()));
        font[at] = static_cast<char>(next(256));
      }
    }
    pdf_builder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 40 40] >>");
    b.obj(10, "<< /Type /Font /Subtype /TrueType /FontDescriptor 11 0 R >>");
    b.obj(11, "<< /Type /FontDescriptor /FontFile2 12 0 R >>");
    b.stream(12, "", font);
    b.xref_trailer("/Root 1 0 R");
    pdf_doc doc;
    ASSERT_TRUE(load_pdf_text(b.str(), doc));
    raster r;
    ASSERT_TRUE(raster_init(r, 40, 40));
    const std::string res = "<< /Font << /F 10 0 R >> >>";
    std::string content = "/F 20 Tf 1 5 Td (";
    for (int c = 33; c < 127; c++)
      if (c != '(' && c != ')' && c != '\\') content += static_cast<char>(c);
    content += ") Tj";
    interp_state st;
    interp_state_setup(st, &doc, &r, text_test::u8(res), static_cast<int32_t>(res.size()),
                       k_identity);
    interp_execute(&st, text_test::u8(content), static_cast<int32_t>(content.size()));
  }
}
