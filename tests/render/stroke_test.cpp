// Stroking: the half width at 48 dpi and its one-pixel minimum, zero-length pieces, curves as
// 16 pieces, the width under unequal scales, empty paths and clips, and hostile widths.

#include "render/stroke.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "paint_support.h"

namespace {

using namespace paint_test;

// Device (x, y) to user space under page_matrix_48(40).
std::string pt48(double x, double y) {
  char b[64];
  std::snprintf(b, sizeof b, "%.17g %.17g", x * 1.5, (40 - y) * 1.5);
  return b;
}

TEST(Stroke, WidthAt48Dpi) {
  const matrix m = page_matrix_48(40);
  // A horizontal line along the centres of row 10, from pixel 10 to pixel 30.
  const std::string line = pt48(10.5, 10.5) + " m " + pt48(30.5, 10.5) + " l S";
  struct {
    const char *width;
    int y0, y1, x0, x1;
  } cases[] = {
      {"", 10, 11, 10, 31},       // width 1: h = max(0.5, 1/3), one pixel
      {"0.1 w", 10, 11, 10, 31},  // raised to 0.25, still one pixel
  };
  for (const auto &c : cases) {
    raster r;
    blank(r, 40, 40);
    run(r, std::string(c.width) + " " + line, m);
    EXPECT_TRUE(is_rect(r, c.x0, c.y0, c.x1, c.y1)) << c.width << "\n" << picture(r);
  }
  // Width 3 gives h = 1: the band covers centre lines 9.5 and 10.5, and the discs of radius 1
  // reach one pixel beyond each end on row 10 and one pixel up and down at the ends.
  raster r;
  blank(r, 40, 40);
  run(r, "3 w " + line, m);
  for (int y = 0; y < 40; y++) EXPECT_EQ(painted(r, 20, y), y == 9 || y == 10) << y;
  for (int x = 0; x < 40; x++) EXPECT_EQ(painted(r, x, 10), x >= 9 && x <= 31) << x;
  EXPECT_TRUE(painted(r, 10, 11));
  EXPECT_FALSE(painted(r, 11, 11));
}

TEST(Stroke, ZeroLengthPaintsDiscOnly) {
  const matrix m = page_matrix_48(40);
  raster r;
  blank(r, 40, 40);
  run(r, pt48(5.5, 7.5) + " m " + pt48(5.5, 7.5) + " l S", m);
  EXPECT_TRUE(is_rect(r, 5, 7, 6, 8)) << picture(r);
  raster c;
  blank(c, 40, 40);
  run(c, pt48(5, 7) + " m " + pt48(5, 7) + " l S", m);  // on a pixel corner: nothing
  EXPECT_EQ(painted_count(c), 0);
}

TEST(Stroke, CurveIsSixteenPieces) {
  const double p[4][2] = {{4, 4}, {4, 30}, {30, 34}, {34, 6}};
  std::string lines = "4 4 m";
  char b[96];
  for (int i = 1; i <= 16; i++) {
    double t = i / 16.0, u = 1 - t;
    double w[4] = {u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t};
    double x = 0, y = 0;
    for (int k = 0; k < 4; k++) x += w[k] * p[k][0], y += w[k] * p[k][1];
    std::snprintf(b, sizeof b, " %.17g %.17g l", x, y);
    lines += b;
  }
  raster a, c;
  blank(a, 40, 40);
  blank(c, 40, 40);
  run(a, "2.5 w 4 4 m 4 30 30 34 34 6 c S");
  run(c, "2.5 w" + lines + " S");
  EXPECT_EQ(picture(a), picture(c));
  EXPECT_GT(painted_count(a), 100);
}

TEST(Stroke, HalfWidthIsMeanScaleInEveryDirection) {
  // x scaled by 4, y by 1: h = 2 * (4 + 1) / 4 = 2.5 whatever the direction.
  const matrix m = {4, 0, 0, 1, 0.5, 0};
  raster h, v;
  blank(h, 60, 60);
  blank(v, 60, 60);
  run(h, "2 w 2.5 30.5 m 12.5 30.5 l S", m);  // device 10.5..50.5 on row 30
  run(v, "2 w 7.5 10.5 m 7.5 50.5 l S", m);  // device column 30.5, rows 10..50
  int rows = 0, cols = 0;
  for (int y = 0; y < 60; y++) rows += painted(h, 30, y) ? 1 : 0;
  for (int x = 0; x < 60; x++) cols += painted(v, x, 30) ? 1 : 0;
  EXPECT_EQ(rows, 5) << picture(h);
  EXPECT_EQ(cols, 5) << picture(v);
}

// B, b, B* and b* fill (closing what is open) and then stroke only the segments drawn: an open
// triangle gets no stroke along its third side.
TEST(Stroke, FillThenStrokeOperators) {
  const char *tri = "1 0 0 RG 0 0 1 rg 2.5 2.5 m 20.5 2.5 l 20.5 20.5 l ";
  for (const char *op : {"B", "b", "B*", "b*"}) {
    raster a, b;
    blank(a, 24, 24);
    blank(b, 24, 24);
    run(a, std::string(tri) + op);
    std::string fill = std::string(op).find('*') != std::string::npos ? "f*" : "f";
    run(b, std::string(tri) + fill + " " + tri + "S");
    EXPECT_EQ(picture(a), picture(b)) << op;
    EXPECT_EQ(px(a, 15, 8)[2], 255) << op;  // filled blue inside
    EXPECT_EQ(px(a, 15, 8)[0], 0) << op;
    EXPECT_EQ(px(a, 10, 10)[0], 0) << op;  // on the open side: filled, not stroked red
    EXPECT_EQ(px(a, 20, 10)[0], 255) << op;  // on a drawn side: stroked red
    EXPECT_EQ(px(a, 20, 10)[2], 0) << op;
  }
}

TEST(Stroke, NothingToStroke) {
  raster r;
  blank(r, 20, 20);
  run(r, "S 5 5 m S 5 5 l S");  // no segment; the l after S starts a new path
  EXPECT_EQ(painted_count(r), 0);
  r.clip_empty = 1;
  path p;
  path_move(&p, 2, 2);
  path_line(&p, 18, 18);
  raster_stroke(&r, &p, &k_identity, 0, 0, 0, 1);
  fill_circle_dev(&r, 10, 10, 5, 0, 0, 0, 1);
  EXPECT_EQ(painted_count(r), 0);
}

TEST(Stroke, OpacityCompositesEachPiece) {
  // Joints get two discs, so at half opacity the shared end is painted more than once.
  raster r;
  blank(r, 20, 5);
  path p;
  path_move(&p, 2.5, 2.5);
  path_line(&p, 10.5, 2.5);
  path_line(&p, 17.5, 2.5);
  raster_stroke(&r, &p, &k_identity, 0, 0, 0, 0.5);
  EXPECT_EQ(px(r, 5, 2)[0], 127);
  EXPECT_LT(px(r, 10, 2)[0], 127);
}

TEST(Stroke, HugeAndNonFiniteWidths) {
  auto t0 = std::chrono::steady_clock::now();
  std::string zigzag = "0 0 m";
  for (int i = 0; i < 20000; i++) zigzag += i % 2 ? " 30 30 l" : " 0 29 l";
  const char *widths[] = {"1e300 w", "1e400 w", "1e30 0 0 1e30 0 0 cm 5 w", "0 0 0 0 0 0 cm"};
  for (const char *w : widths) {
    raster r;
    blank(r, 30, 30);
    run(r, std::string(w) + " " + zigzag + " S");
    EXPECT_LE(painted_count(r), 900) << w;
  }
  raster r;
  blank(r, 30, 30);
  run(r, "1e300 w 100 100 m 200 100 l S");
  EXPECT_EQ(painted_count(r), 900);  // a band wider than anything covers the raster
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 20.0);
}

}  // namespace
