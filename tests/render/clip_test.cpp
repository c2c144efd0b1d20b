// Clipping: the clip box of W and W*, push and pop with Q, the 64-entry stack, the empty
// clip, painting and clipping with one path, and one page rendered end to end.

#include "render/clip.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "paint_support.h"
#include "pdfcore/document.h"
#include "render/render.h"
#include "support/pdf_builder.h"

namespace {

using namespace paint_test;

const char *k_full = " 0 0 100 100 re f";

TEST(Clip, BoxAndRestore) {
  raster r;
  blank(r, 30, 30);
  // The box reaches one pixel past the ceiling of the path's largest coordinates.
  run(r, "q 2.5 3 10 10 re W n" + std::string(k_full));
  EXPECT_TRUE(is_rect(r, 2, 3, 14, 14)) << picture(r);
  run(r, "Q 1 0 0 rg" + std::string(k_full));
  EXPECT_EQ(px(r, 29, 29)[1], 0);

  // A triangle clips to its bounding rectangle, by either rule.
  for (const char *op : {"W", "W*"}) {
    raster t;
    blank(t, 30, 30);
    run(t, std::string("0 0 m 10 0 l 5 8 l h ") + op + " n" + k_full);
    EXPECT_TRUE(is_rect(t, 0, 0, 11, 9)) << op;
    EXPECT_EQ(t.clip_depth, 1);
  }
}

TEST(Clip, PopIsNotPairedWithQ) {
  raster r;
  blank(r, 30, 30);
  run(r, "q 0 0 20 20 re W n 10 10 20 20 re W n Q");
  EXPECT_EQ(r.clip.x0, 0);  // the first W's clip still applies
  EXPECT_EQ(r.clip.x1, 21);
  EXPECT_EQ(r.clip_depth, 1);
  run(r, "Q");
  EXPECT_EQ(r.clip.x1, 30);
  EXPECT_EQ(r.clip_depth, 0);
  run(r, "Q Q");  // nothing left to pop
  EXPECT_EQ(r.clip.x1, 30);
  // A path with no segment saves the clip all the same.
  run(r, "W n");
  EXPECT_EQ(r.clip_depth, 1);
  EXPECT_EQ(r.clip.x1, 30);
}

TEST(Clip, StackHoldsSixtyFourEntries) {
  raster r;
  blank(r, 100, 100);
  // Clip k narrows the right edge to 100 - k.
  std::string s;
  for (int k = 1; k <= 65; k++) s += "0 0 " + std::to_string(99 - k) + " 99 re W n ";
  run(r, s);
  EXPECT_EQ(r.clip_depth, 64);
  EXPECT_EQ(r.clip.x1, 35);
  run(r, "Q");  // the 65th clip was never saved: the 63rd comes back
  EXPECT_EQ(r.clip.x1, 37);
  for (int i = 0; i < 63; i++) run(r, "Q");
  EXPECT_EQ(r.clip.x1, 100);
  EXPECT_EQ(r.clip_depth, 0);
}

TEST(Clip, EmptyClipStopsEveryPainter) {
  raster r;
  blank(r, 30, 30);
  run(r, "q 0 0 5 5 re W n 20 20 5 5 re W n");
  EXPECT_EQ(r.clip_empty, 1);
  run(r, "0 0 30 30 re f 0 0 30 30 re f* 0 0 30 30 re B 5 w 0 0 m 30 30 l S 1 1 1 1 re F");
  EXPECT_EQ(painted_count(r), 0);
  run(r, "Q" + std::string(k_full));  // the first clip is back
  EXPECT_EQ(r.clip_empty, 0);
  EXPECT_TRUE(is_rect(r, 0, 0, 6, 6));
}

// W and W* paint with the operator that ends the path; the clip applies after it.
TEST(Clip, PaintAndClipInOneGo) {
  raster a;
  blank(a, 30, 30);
  run(a, "2 2 6 6 re W f");
  EXPECT_TRUE(is_rect(a, 2, 2, 8, 8)) << picture(a);
  EXPECT_EQ(a.clip.x1, 9);
  EXPECT_EQ(a.clip_depth, 1);
  run(a, "1 0 0 rg" + std::string(k_full));
  EXPECT_TRUE(is_rect(a, 2, 2, 9, 9));
  EXPECT_EQ(px(a, 8, 8)[1], 0);

  raster s;
  blank(s, 30, 30);
  run(s, "2.5 2.5 m 20.5 2.5 l W* S 0 g 0 0 30 30 re f*");  // the stroke is not clipped by itself
  EXPECT_TRUE(is_rect(s, 2, 2, 22, 4)) << picture(s);

  // Path operators between W and the painter belong to the same path.
  raster e;
  blank(e, 30, 30);
  run(e, "2 2 4 4 re W 20 20 2 2 re f");
  EXPECT_EQ(e.clip.x1, 23);
  EXPECT_EQ(painted_count(e), 20);

  // W n clips as it always did, and nothing is painted.
  raster n;
  blank(n, 30, 30);
  run(n, "2 2 6 6 re W n");
  EXPECT_EQ(painted_count(n), 0);
  EXPECT_EQ(n.clip.x0, 2);
  EXPECT_EQ(n.clip.x1, 9);
}

TEST(Clip, HostileClipPaths) {
  raster r;
  blank(r, 30, 30);
  // Far and infinite coordinates (the latter taken as 0) are held to the raster.
  run(r, "q 1e30 -1e30 m -1e400 1e400 l W n" + std::string(k_full));
  EXPECT_EQ(r.clip_empty, 0);
  EXPECT_TRUE(is_rect(r, 0, 0, 30, 1));
  run(r, "Q");
  run(r, "0 0 0 0 0 0 cm 0 0 10 10 re W n");
  EXPECT_EQ(r.clip_empty, 0);
  EXPECT_EQ(r.clip.x1, 1);
}

TEST(Clip, RenderedPageEndToEnd) {
  const std::string pdf = simple_pdf({"0 0 0 rg 72 72 100 100 re f"}, "[0 0 300 300]");
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  pdf_doc doc;
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "fixture", doc), 0);
  int w = 0, h = 0;
  c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
  ASSERT_TRUE(px);
  ASSERT_EQ(w, 200);
  ASSERT_EQ(h, 200);
  // User 72..172 becomes device 48..114.67 across and, flipped, 85.33..152 down.
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const uint8_t *p = px.get() + 4 * (static_cast<size_t>(y) * w + x);
      bool want = x >= 48 && x <= 114 && y >= 85 && y <= 151;
      ASSERT_EQ(p[0] == 0, want) << x << "," << y;
      ASSERT_EQ(p[3], 255);
    }
}

}  // namespace
