// The fill rasterizer: winding rules, span ends on fractional x, the closing of open
// subpaths, curves as 16 chords, the crossing limit, compositing and hostile geometry.

#include "render/fill.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "paint_support.h"

namespace {

using namespace paint_test;

struct rule_case {
  const char *content;
  int x0, y0, x1, y1;   // the painted rectangle, or
  const char *picture;  // the whole picture when not a rectangle
};

TEST(Fill, WindingRules) {
  // Under the identity matrix an edge at x = 5 ends a span at pixel 4.
  const char *overlap_eo =
      "#####.........\n"
      "#####.........\n"
      "###..###......\n"
      "...#####......\n"
      "...#####......\n"
      "..............\n"
      "..............\n";
  const char *hole =
      "#####.........\n"
      "#...#.........\n"
      "#...#.........\n"
      "#####.........\n"
      "..............\n"
      "..............\n"
      "..............\n";
  const rule_case cases[] = {
      // Two rectangles drawn the same way: the union, or the overlap left out.
      {"0 0 5 3.5 re 3 2 5 3.5 re f", 0, 0, 0, 0,
       "#####.........\n#####.........\n########......\n...#####......\n...#####......\n"
       "..............\n..............\n"},
      {"0 0 5 3.5 re 3 2 5 3.5 re f*", 0, 0, 0, 0, overlap_eo},
      // A square with a smaller one inside drawn the other way: a hole by either rule.
      {"0 0 m 5 0 l 5 4 l 0 4 l h 1 1 m 1 3 l 4 3 l 4 1 l h f", 0, 0, 0, 0, hole},
      {"0 0 m 5 0 l 5 4 l 0 4 l h 1 1 m 1 3 l 4 3 l 4 1 l h f*", 0, 0, 0, 0, hole},
      // Inner square drawn the same way: nonzero fills it.
      {"0 0 m 5 0 l 5 4 l 0 4 l h 1 1 m 4 1 l 4 3 l 1 3 l h f", 0, 0, 5, 4, nullptr},
      // Spans paint every pixel their centre line touches: 10.7 to 12.2 gives 10, 11, 12.
      {"10.7 0 1.5 1 re f", 10, 0, 13, 1, nullptr},
      {"10.7 0 m 12.2 0 l 12.2 1 l 10.7 1 l f*", 10, 0, 13, 1, nullptr},
      // An edge that starts or ends exactly on a centre line counts there only at its
      // smaller-y end: rows 0 and 1 of 0.5..2.5.
      {"2 0.5 3 2 re f", 2, 0, 5, 2, nullptr},
      // A vertex on a centre line where one edge arrives from above and the next leaves
      // downwards gives one crossing, not two: the row is painted, not left with a gap.
      {"0 0 m 4 1.5 l 8 3 l 8 0 l h f", 0, 0, 0, 0,
       ".#######......\n....####......\n......##......\n..............\n..............\n"
       "..............\n..............\n"},
  };
  for (const rule_case &c : cases) {
    raster r;
    blank(r, 14, 7);
    run(r, std::string("0 g ") + c.content);
    if (c.picture)
      EXPECT_EQ(picture(r), c.picture) << c.content;
    else
      EXPECT_TRUE(is_rect(r, c.x0, c.y0, c.x1, c.y1)) << c.content << "\n" << picture(r);
  }
}

// Open subpaths fill as if closed by a line back to their start; closed ones are unchanged.
TEST(Fill, OpenSubpathsAreClosed) {
  const char *pairs[][2] = {
      {"0 0 m 10 0 l 10 10 l f", "0 0 m 10 0 l 10 10 l h f"},
      {"0 0 m 10 0 l 10 10 l f*", "0 0 m 10 0 l 10 10 l h f*"},
      // Each subpath is closed to its own start, the second m does not drop the first.
      {"0 0 m 6 0 l 6 6 l 8 0 m 14 0 l 14 6 l f", "0 0 m 6 0 l 6 6 l h 8 0 m 14 0 l 14 6 l h f"},
      // A subpath continued after h is a new subpath that starts at the old start.
      {"0 0 m 6 0 l 6 6 l h 0 8 l 6 8 l f", "0 0 m 6 0 l 6 6 l h 0 0 m 0 8 l 6 8 l h f"},
      // An open curve closes from its end point.
      {"0 0 m 0 10 10 10 10 0 c f", "0 0 m 0 10 10 10 10 0 c h f"},
  };
  for (const auto &p : pairs) {
    raster a, b;
    blank(a, 16, 12);
    blank(b, 16, 12);
    run(a, p[0]);
    run(b, p[1]);
    EXPECT_EQ(picture(a), picture(b)) << p[0];
    EXPECT_GT(painted_count(a), 20) << p[0];
  }
  // The right triangle under the identity matrix, closed: row y holds pixels y to 9.
  raster r;
  blank(r, 12, 11);
  run(r, "0 0 m 10 0 l 10 10 l f");
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 12; x++)
      EXPECT_EQ(painted(r, x, y), x >= y && x <= 9) << x << "," << y;
}

TEST(Fill, CurveIsSixteenChords) {
  // A quarter-circle-like curve filled against the polygon of its 16 chord points.
  const double p[4][2] = {{2, 40}, {2, 10}, {20, 2}, {60, 2}};
  std::string poly = "2 40 m";
  char b[96];
  for (int i = 1; i <= 16; i++) {
    double t = i / 16.0, u = 1 - t;
    double w[4] = {u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t};
    double x = 0, y = 0;
    for (int k = 0; k < 4; k++) x += w[k] * p[k][0], y += w[k] * p[k][1];
    std::snprintf(b, sizeof b, " %.17g %.17g l", x, y);
    poly += b;
  }
  poly += " 60 40 l h f";
  raster a, c;
  blank(a, 64, 44);
  blank(c, 64, 44);
  run(a, "2 40 m 2 10 20 2 60 2 c 60 40 l h f");
  run(c, poly);
  EXPECT_EQ(picture(a), picture(c));
  // v and y take the current point and the end point as one control point.
  raster v1, v2;
  blank(v1, 64, 44);
  blank(v2, 64, 44);
  run(v1, "2 40 m 20 2 60 2 v 60 40 l h f 2 40 m 2 10 60 2 y 60 40 l h f");
  run(v2, "2 40 m 2 40 20 2 60 2 c 60 40 l h f 2 40 m 2 10 60 2 60 2 c 60 40 l h f");
  EXPECT_EQ(picture(v1), picture(v2));
}

TEST(Fill, Compositing) {
  raster r;
  blank(r, 4, 4);
  run(r, "0.5 0.5 0.5 rg 0 0 4 1 re f 1 0 0 rg 0 1 4 1 re F 0 1 4 1 re f");
  EXPECT_EQ(px(r, 0, 0)[0], 127);
  EXPECT_EQ(px(r, 0, 0)[2], 127);
  EXPECT_EQ(r.alpha.get()[0], 255);
  EXPECT_EQ(px(r, 1, 1)[0], 255);  // F painted black, then f red over it
  EXPECT_EQ(px(r, 1, 1)[1], 0);

  // Opacity: old * (1 - a) + 255 * new * a, truncated, once per fill.
  path p;
  path_rect(&p, 0, 2, 4, 2);
  raster_fill(&r, &p, &k_identity, 1, 1, 0, 0, 0.5);
  EXPECT_EQ(px(r, 0, 2)[0], 255);
  EXPECT_EQ(px(r, 0, 2)[1], 127);
  raster_fill(&r, &p, &k_identity, 1, 1, 0, 0, 0.5);
  EXPECT_EQ(px(r, 0, 3)[1], 63);
  EXPECT_EQ(r.alpha.get()[3 * 4 + 1], 255);

  blend_px(&r, -1, 0, 0, 0, 0, 1);  // outside: ignored
  blend_px(&r, 4, 0, 0, 0, 0, 1);
  blend_px(&r, 0, 0, 0, 0, 0, 0);  // no opacity: nothing
  EXPECT_EQ(px(r, 0, 0)[0], 127);
  // A transparent pixel takes the colour outright.
  r.alpha.get()[0] = 0;
  blend_px(&r, 0, 0, 0.2, 0.4, 1, 1e-7);
  EXPECT_EQ(px(r, 0, 0)[0], 51);
  EXPECT_EQ(px(r, 0, 0)[2], 255);
  EXPECT_EQ(r.alpha.get()[0], 0);
}

// Opaque paint is written straight into the planes; it must give the very bytes that
// compositing every pixel gives, over any background, transparent pixels included.
TEST(Fill, OpaqueFillsEqualCompositingEachPixel) {
  std::mt19937 rng(7);
  const double colours[][3] = {{0, 0, 0},       {1, 1, 1},        {0.5, 0.25, 0.75},
                               {1.0 / 3, 0.999, 0.001}, {0.2, 0.4, 1}, {0.1, 0.7, 0.3}};
  for (const auto &c : colours) {
    for (double opacity : {1.0, 1.5}) {
      raster fast, slow;
      blank(fast, 37, 9);
      blank(slow, 37, 9);
      for (size_t i = 0; i < 37 * 9; ++i) {
        const uint8_t a = static_cast<uint8_t>(i % 5 == 0 ? 0 : rng() & 255);
        fast.alpha.get()[i] = slow.alpha.get()[i] = a;
        for (int k = 0; k < 3; ++k)
          fast.rgb.get()[3 * i + k] = slow.rgb.get()[3 * i + k] = static_cast<uint8_t>(rng() & 255);
      }
      path p;
      path_rect(&p, 3.3, 1.2, 30.1, 6.6);
      raster_fill(&fast, &p, &k_identity, 1, c[0], c[1], c[2], opacity);
      // The same pixels by compositing, one at a time: the rows and columns the fill covers.
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 37; ++x)
          if (y + 0.5 >= 1.2 && y + 0.5 < 7.8 && x + 1 > 3.3 && x < 33.4)
            blend_px(&slow, x, y, c[0], c[1], c[2], opacity);
      ASSERT_EQ(std::memcmp(fast.rgb.get(), slow.rgb.get(), 37 * 9 * 3), 0) << c[0];
      ASSERT_EQ(std::memcmp(fast.alpha.get(), slow.alpha.get(), 37 * 9), 0) << c[0];
    }
  }
}

TEST(Fill, EmptyClipPaintsNothing) {
  raster r;
  blank(r, 8, 8);
  r.clip_empty = 1;
  path p;
  path_rect(&p, 0, 0, 8, 8);
  raster_fill(&r, &p, &k_identity, 1, 0, 0, 0, 1);
  EXPECT_EQ(painted_count(r), 0);
}

// More crossings on a row than the rasterizer keeps: the path's first edges are kept, whichever
// row their edges start on.
TEST(Fill, CrossingLimitKeepsFirstEdges) {
  std::string s = "0 g";
  for (int i = 0; i < 32768; i++) s += " 1 5 0.2 5 re";  // 65536 crossings on rows 5..9
  s += " 5 0 m 5 10 l 15 10 l 15 0 l h f";              // rows 0..9, later in the path
  raster r;
  blank(r, 16, 10);
  run(r, s);
  for (int y = 0; y < 10; y++) {
    EXPECT_TRUE(painted(r, 1, y) == (y >= 5)) << y;
    EXPECT_EQ(painted(r, 8, y), y < 5) << y;
  }
}

// The rasterizer's steps written plainly: every edge tested against every row in path order,
// the row sorted whole, spans painted pixel by pixel.
void reference_fill(raster &r, const std::vector<fill_edge> &edges, pix_box box, int nonzero) {
  for (int y = box.y0; y < box.y1; y++) {
    double yc = y + 0.5;
    std::vector<crossing> xs;
    for (const fill_edge &e : edges)
      if ((e.y0 <= yc && yc < e.y1) || (e.y1 <= yc && yc < e.y0))
        xs.push_back({e.x0 + (e.x1 - e.x0) * (yc - e.y0) / (e.y1 - e.y0), e.y0 < e.y1 ? 1 : -1, 0});
    std::sort(xs.begin(), xs.end(), [](const crossing &a, const crossing &b) { return a.x < b.x; });
    auto span = [&](double xl, double xr) {
      for (int k = static_cast<int>(std::floor(xl)); k < std::ceil(xr); k++)
        blend_px(&r, k, y, 0, 0, 0, 1);
    };
    if (nonzero) {
      int w = 0;
      bool in = false;
      double start = 0;
      for (const crossing &c : xs) {
        w += c.dir;
        if (!in && w != 0) {
          in = true;
          start = c.x;
        } else if (in && w == 0) {
          span(start, c.x);
          in = false;
        }
      }
      if (in) span(start, box.x1);
    } else {
      for (size_t i = 0; i + 1 < xs.size(); i += 2) span(xs[i].x, xs[i + 1].x);
    }
  }
}

// Rows with hundreds of crossings, edges reaching off the raster on every side, by both rules.
TEST(Fill, MatchesPlainRasterizer) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> coord(-40, 140);
  for (int round = 0; round < 6; round++) {
    path p;
    int n = round < 3 ? 1500 : 40;  // about 500 crossings a row, or a few dozen
    path_move(&p, coord(rng), coord(rng));
    for (int i = 0; i < n; i++) {
      if (i % 97 == 0) path_move(&p, std::round(coord(rng)), coord(rng));
      path_line(&p, round == 2 ? std::round(coord(rng)) : coord(rng), coord(rng));
    }
    for (int nonzero = 0; nonzero <= 1; nonzero++) {
      raster got, want;
      blank(got, 100, 80);
      blank(want, 100, 80);
      raster_fill(&got, &p, &k_identity, nonzero, 0, 0, 0, 1);
      // The same edges with each subpath closed, as the fill closes them.
      std::vector<fill_edge> edges;
      const path_seg *s = p.segs.get();
      path_pt first{}, last{};
      for (int i = 0; i <= p.count; i++) {
        if (i == p.count || s[i].starts_subpath) {
          if (i > 0 && (last.x != first.x || last.y != first.y))
            edges.push_back({last.x, last.y, first.x, first.y});
          if (i == p.count) break;
          first = s[i].p0;
        }
        edges.push_back({s[i].p0.x, s[i].p0.y, s[i].p3.x, s[i].p3.y});
        last = s[i].p3;
      }
      pix_box box;
      path_bbox_dev(&want, &p, &k_identity, &box);
      reference_fill(want, edges, box, nonzero);
      EXPECT_EQ(picture(got), picture(want)) << "round " << round << " nonzero " << nonzero;
    }
  }
}

TEST(Fill, HostileGeometry) {
  using clock = std::chrono::steady_clock;
  auto t0 = clock::now();
  raster r;
  blank(r, 50, 20);
  // A band reaching a trillion pixels either way paints its rows, and promptly.
  run(r, "-1e12 0 2e12 10 re f");
  EXPECT_TRUE(is_rect(r, 0, 0, 50, 10));

  const char *bad[] = {
      "1e30 1e30 m -1e30 1e30 l 0 -1e30 l f",
      "1e400 0 m 0 1e400 l -1e400 -1e400 l f",
      "0 0 m 1e308 1e308 l -1e308 1e308 l h f*",
      "1e300 0 0 1e300 0 0 cm 0 0 10 10 re f",
      "0 0 0 0 0 0 cm 0 0 10 10 re f",
      "1e308 1e308 1e308 1e308 1e308 1e308 cm 0 0 m 1 1 l 1 0 l f S",
      "0 0 m 1e30 -1e30 1e30 1e30 -1e30 5 c f",
  };
  for (const char *c : bad) {
    raster q;
    blank(q, 30, 30);
    run(q, c);
    EXPECT_LE(painted_count(q), 30 * 30) << c;
  }
  // A path of a million short segments.
  path p;
  path_move(&p, 0, 0);
  for (int i = 0; i < 1000000; i++) path_line(&p, (i * 7) % 50, (i % 3) * 0.3 + (i % 20));
  raster big;
  blank(big, 50, 20);
  raster_fill(&big, &p, &k_identity, 1, 0, 0, 0, 1);
  raster_fill(&big, &p, &k_identity, 0, 0, 0, 0, 1);
  EXPECT_LT(std::chrono::duration<double>(clock::now() - t0).count(), 20.0);
}

}  // namespace
