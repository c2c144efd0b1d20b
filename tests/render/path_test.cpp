// Path construction: the operators' segments, subpaths, current-point rules, growth, curve
// points and the device box.

#include "render/path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/interp.h"

namespace {

bool seg_is(const path_seg &s, double x0, double y0, double x3, double y3) {
  return s.p0.x == x0 && s.p0.y == y0 && s.p3.x == x3 && s.p3.y == y3;
}

TEST(Path, RectangleAfterLineHasNoJoiningSegment) {
  path p;
  path_move(&p, 10, 10);
  path_line(&p, 20, 20);
  path_rect(&p, 0, 0, 5, 5);
  ASSERT_EQ(p.count, 5);
  const path_seg *s = p.segs.get();
  EXPECT_TRUE(seg_is(s[0], 10, 10, 20, 20));
  EXPECT_TRUE(seg_is(s[1], 0, 0, 5, 0));
  EXPECT_TRUE(seg_is(s[2], 5, 0, 5, 5));
  EXPECT_TRUE(seg_is(s[3], 5, 5, 0, 5));
  EXPECT_TRUE(seg_is(s[4], 0, 5, 0, 0));
  EXPECT_EQ(s[0].starts_subpath, 1);
  EXPECT_EQ(s[1].starts_subpath, 1);
  EXPECT_EQ(s[2].starts_subpath, 0);
  EXPECT_EQ(p.cur_x, 0);
  EXPECT_EQ(p.cur_y, 0);
}

TEST(Path, CurrentPointRules) {
  path p;
  path_line(&p, 3, 4);  // no current point: only sets it
  EXPECT_EQ(p.count, 0);
  EXPECT_EQ(p.has_cur, 1);
  EXPECT_EQ(p.start_x, 3);

  path q;
  path_cubic(&q, 1, 2, 3, 4, 5, 6);  // begins at its first control point
  ASSERT_EQ(q.count, 1);
  EXPECT_EQ(q.segs.get()[0].kind, SEG_CUBIC);
  EXPECT_TRUE(seg_is(q.segs.get()[0], 1, 2, 5, 6));

  path t;
  path_move(&t, 0, 0);
  path_line(&t, 10, 0);
  path_line(&t, 10, 10);
  path_line(&t, 0, 0);
  path_close(&t);  // already at the start
  path_close(&t);
  EXPECT_EQ(t.count, 3);
  path_reset(&t);
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(t.has_cur, 0);
  path_line(&t, 7, 7);  // a new path starts at its own point
  EXPECT_EQ(t.count, 0);
  EXPECT_EQ(t.start_x, 7);
}

TEST(Path, CloseAddsLineAndStartsNewSubpath) {
  path p;
  path_move(&p, 0, 0);
  path_line(&p, 10, 0);
  path_line(&p, 10, 10);
  path_close(&p);
  path_line(&p, 0, 20);
  ASSERT_EQ(p.count, 4);
  EXPECT_TRUE(seg_is(p.segs.get()[2], 10, 10, 0, 0));
  EXPECT_TRUE(seg_is(p.segs.get()[3], 0, 0, 0, 20));
  EXPECT_EQ(p.segs.get()[3].starts_subpath, 1);
}

TEST(Path, GrowsByDoublingAndKeepsEverySegment) {
  path p;
  path_move(&p, 0, 0);
  for (int i = 1; i <= 100000; i++) path_line(&p, i, i % 2);
  EXPECT_EQ(p.count, 100000);
  EXPECT_EQ(p.cap, 131072);
  EXPECT_TRUE(seg_is(p.segs.get()[99999], 99999, 1, 100000, 0));
}

TEST(Path, NonFiniteCoordinatesCountAsZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  path p;
  path_move(&p, inf, 5);
  path_line(&p, nan, -inf);
  path_rect(&p, 1e308, 1e308, 1e308, 1e308);  // the far corner overflows
  ASSERT_EQ(p.count, 5);
  EXPECT_TRUE(seg_is(p.segs.get()[0], 0, 5, 0, 0));
  EXPECT_TRUE(seg_is(p.segs.get()[1], 1e308, 1e308, 0, 1e308));
}

TEST(Path, CurvePointsAreSixteenEqualSteps) {
  path p;
  path_move(&p, 0, 0);
  path_cubic(&p, 0, 16, 16, 16, 16, 0);
  path_pt pts[k_curve_chords + 1];
  path_curve_points(p.segs.get()[0], pts);
  EXPECT_EQ(pts[0].x, 0);
  EXPECT_EQ(pts[16].x, 16);
  EXPECT_EQ(pts[16].y, 0);
  EXPECT_DOUBLE_EQ(pts[8].x, 8);
  EXPECT_DOUBLE_EQ(pts[8].y, 12);  // 3/4 of the control height at t = 1/2
  double t = 1.0 / 16, u = 1 - t;
  EXPECT_DOUBLE_EQ(pts[1].y, 3 * u * u * t * 16 + 3 * u * t * t * 16);
}

TEST(Path, DeviceBox) {
  raster r;
  ASSERT_TRUE(raster_init(r, 100, 50));
  path p;
  pix_box b;
  path_move(&p, 10.2, 5.5);
  path_line(&p, 20.7, 5.5);
  path_bbox_dev(&r, &p, &k_identity, &b);
  EXPECT_EQ(b.x0, 10);
  EXPECT_EQ(b.y0, 5);
  EXPECT_EQ(b.x1, 22);
  EXPECT_EQ(b.y1, 7);

  path_reset(&p);
  path_move(&p, -30, 5);
  path_line(&p, -2, 40);
  path_bbox_dev(&r, &p, &k_identity, &b);
  EXPECT_EQ(b.x0, b.x1);
  EXPECT_EQ(b.y0, b.y1);

  // Control points widen the box; far coordinates are held to the raster.
  path_reset(&p);
  path_move(&p, -1e30, 10);
  path_cubic(&p, 50, 1e30, 60, 10, 70, 10);
  path_bbox_dev(&r, &p, &k_identity, &b);
  EXPECT_EQ(b.x0, 0);
  EXPECT_EQ(b.y0, 10);
  EXPECT_EQ(b.x1, 71);
  EXPECT_EQ(b.y1, 50);

  // A degenerate matrix puts every point on one spot.
  matrix zero = {0, 0, 0, 0, 3.5, 4.5};
  path_bbox_dev(&r, &p, &zero, &b);
  EXPECT_EQ(b.x0, 3);
  EXPECT_EQ(b.x1, 5);
  matrix bad = {std::nan(""), 0, 0, 1e308, 1e308, 0};
  path_bbox_dev(&r, &p, &bad, &b);
  EXPECT_LE(b.x1, 100);
  EXPECT_LE(b.y1, 50);
}

}  // namespace
