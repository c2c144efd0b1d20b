// The scan rule on rasters drawn here: paper tone, dust, scanner bands, edge lines and punch
// holes are not ink; a page number, a handwritten line and a light stamp are. Also what each
// parameter moves, and inputs too small or too odd to judge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/scan_rule.h"

namespace {

constexpr int k_dpi = k_scan_dpi;

// An A4 sheet at the scan rule's resolution, drawn in luminance with millimetre coordinates.
struct sheet {
  int w = static_cast<int>(210.0 / 25.4 * k_dpi);
  int h = static_cast<int>(297.0 / 25.4 * k_dpi);
  std::vector<uint8_t> px;

  sheet(int paper, int noise) : px(static_cast<size_t>(w) * h * 4, 255) {
    uint32_t seed = 12345;
    for (size_t i = 0; i < px.size(); i += 4) {
      seed = seed * 1103515245u + 12345u;
      int v = paper + (noise ? static_cast<int>((seed >> 16) % (2 * noise + 1)) - noise : 0);
      set(i, v);
    }
  }
  void set(size_t i, int v) {
    v = v < 0 ? 0 : (v > 255 ? 255 : v);
    px[i] = px[i + 1] = px[i + 2] = static_cast<uint8_t>(v);
    px[i + 3] = 255;
  }
  int pix(double mm) const { return static_cast<int>(std::lround(mm / 25.4 * k_dpi)); }
  void dot(int x, int y, int v) {
    if (x >= 0 && y >= 0 && x < w && y < h) set((static_cast<size_t>(y) * w + x) * 4, v);
  }
  void rect(double x0, double y0, double x1, double y1, int v) {
    for (int y = pix(y0); y < pix(y1); ++y)
      for (int x = pix(x0); x < pix(x1); ++x) dot(x, y, v);
  }
  void disc(double cx, double cy, double r, int v) {
    for (int y = pix(cy - r); y <= pix(cy + r); ++y)
      for (int x = pix(cx - r); x <= pix(cx + r); ++x) {
        double dx = x - cx / 25.4 * k_dpi, dy = y - cy / 25.4 * k_dpi, rr = r / 25.4 * k_dpi;
        if (dx * dx + dy * dy <= rr * rr) dot(x, y, v);
      }
  }
  // A stroke of the given width from one point to another.
  void stroke(double x0, double y0, double x1, double y1, double width, int v) {
    int steps = pix(std::hypot(x1 - x0, y1 - y0)) * 2 + 1;
    for (int s = 0; s <= steps; ++s) {
      double t = static_cast<double>(s) / steps;
      disc(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width / 2, v);
    }
  }
  scan_figures judge(const scan_params &p = scan_params{}) const {
    return scan_judge(px.data(), w, h, k_dpi, p);
  }
};

void specks(sheet &s) {
  for (int i = 0; i < 6; ++i) s.dot(s.pix(40.0 + 23 * i), s.pix(60.0 + 31 * i), 40);
}
void band(sheet &s) {
  s.rect(0, 0, 4, 297, 30);
  s.rect(0, 0, 210, 2.5, 30);
}
void holes(sheet &s) {
  s.disc(12, 99, 3, 25);
  s.disc(12, 198, 3, 25);
}
void edge_line(sheet &s) { s.stroke(206.5, 2, 206.5, 295, 0.5, 45); }
// "10" in 10 pt figures, about 2.5 mm tall, at the bottom centre.
void page_number(sheet &s) {
  s.rect(103.0, 282.0, 103.7, 284.6, 35);
  s.rect(104.6, 282.0, 106.3, 282.6, 35);
  s.rect(104.6, 284.0, 106.3, 284.6, 35);
  s.rect(104.6, 282.0, 105.2, 284.6, 35);
  s.rect(105.7, 282.0, 106.3, 284.6, 35);
}
void handwriting(sheet &s) {
  for (int i = 0; i < 30; ++i) {
    double x = 40 + 2.5 * i;
    s.stroke(x, 30 + (i % 2) * 3, x + 2.5, 30 + ((i + 1) % 2) * 3, 0.5, 50);
  }
}
void stamp(sheet &s) {
  s.rect(80, 60, 130, 61, 185);
  s.rect(80, 84, 130, 85, 185);
  s.rect(80, 60, 81, 85, 185);
  s.rect(129, 60, 130, 85, 185);
  for (int i = 0; i < 8; ++i) s.rect(85 + 5.0 * i, 68, 88 + 5.0 * i, 72, 190);
}
void hair(sheet &s) { s.stroke(90, 150, 100, 154, 0.3, 135); }
void show_through(sheet &s) { s.rect(30, 40, 180, 250, 222); }
// A photograph printed to the sheet's edges over its top half, and one bleeding off the left
// edge only: marks that touch the border but reach well inside it.
void bleed_photo(sheet &s) { s.rect(0, 0, 210, 150, 90); }
void side_photo(sheet &s) { s.rect(0, 120, 60, 160, 60); }

struct page_case {
  const char *name;
  int paper, noise;
  std::vector<void (*)(sheet &)> draw;
  bool blank;
};

TEST(ScanRule, PagesDrawnHere) {
  const std::vector<page_case> cases = {
      {"white", 255, 0, {}, true},
      {"cream with noise and specks", 238, 4, {specks}, true},
      {"band along an edge and the top", 246, 3, {band, specks}, true},
      {"punch holes in the margin", 246, 3, {holes}, true},
      {"edge line near the sheet's edge", 246, 3, {edge_line}, true},
      {"hair fibre", 246, 3, {hair, specks}, true},
      {"faint show-through", 246, 3, {show_through}, true},
      {"everything a blank scan may carry", 240, 3, {band, holes, edge_line, hair, specks},
       true},
      {"page number", 246, 3, {page_number}, false},
      {"page number among specks", 246, 3, {page_number, specks, hair}, false},
      {"handwritten line", 246, 3, {handwriting}, false},
      {"light-grey stamp", 246, 3, {stamp}, false},
      {"photograph printed to the edges", 246, 3, {bleed_photo}, false},
      {"photograph bleeding off one side", 246, 3, {side_photo, band}, false},
  };
  for (const page_case &c : cases) {
    sheet s(c.paper, c.noise);
    for (auto d : c.draw) d(s);
    scan_figures f = s.judge();
    EXPECT_EQ(f.blank, c.blank) << c.name << ": ink " << f.ink_mm2 << " mm2";
    EXPECT_NEAR(f.paper, c.paper, c.noise + 1.0) << c.name;
    if (c.blank) {
      EXPECT_LT(f.ink_mm2, scan_params{}.max_ink_mm2) << c.name;
    }
  }
}

TEST(ScanRule, FiguresExplainTheVerdict) {
  sheet s(246, 3);
  band(s);
  holes(s);
  specks(s);
  scan_figures f = s.judge();
  EXPECT_TRUE(f.blank);
  EXPECT_GT(f.artefact_mm2, 100.0);
  EXPECT_GT(f.dust_mm2, 0.0);
  EXPECT_EQ(f.marks, 0);
  page_number(s);
  f = s.judge();
  EXPECT_FALSE(f.blank);
  EXPECT_GE(f.marks, 2);
  EXPECT_GT(f.ink_mm2, 1.0);
  EXPECT_LT(f.ink_mm2, 10.0);
}

TEST(ScanRule, ParametersMoveTheVerdict) {
  sheet number(246, 3);
  page_number(number);
  scan_params p;
  EXPECT_FALSE(number.judge(p).blank);
  p.max_ink_mm2 = 50;
  EXPECT_TRUE(number.judge(p).blank);
  p = scan_params{};
  p.speck_mm2 = 50;
  EXPECT_TRUE(number.judge(p).blank);

  sheet punched(246, 3);
  holes(punched);
  p = scan_params{};
  EXPECT_TRUE(punched.judge(p).blank);
  p.margin_mm = 0;
  EXPECT_FALSE(punched.judge(p).blank);

  sheet stamped(246, 3);
  stamp(stamped);
  p = scan_params{};
  p.contrast = 80;
  EXPECT_TRUE(stamped.judge(p).blank);
  p = scan_params{};
  p.faint_mm2 = 1e6;
  EXPECT_TRUE(stamped.judge(p).blank);

  sheet dusty(246, 3);
  for (int i = 0; i < 20; ++i) dusty.rect(30 + 7.0 * i, 100, 30.7 + 7.0 * i, 100.7, 30);
  p = scan_params{};
  EXPECT_TRUE(dusty.judge(p).blank);
  p.speck_mm2 = 0;
  EXPECT_FALSE(dusty.judge(p).blank);
}

TEST(ScanRule, TransparentPixelsArePaper) {
  std::vector<uint8_t> px(static_cast<size_t>(100) * 100 * 4, 0);
  scan_figures f = scan_judge(px.data(), 100, 100, k_dpi, scan_params{});
  EXPECT_TRUE(f.blank);
  EXPECT_EQ(f.paper, 255);
}

TEST(ScanRule, DegenerateInputsAreNotBlank) {
  const uint8_t one[4] = {255, 255, 255, 255};
  scan_params p;
  EXPECT_FALSE(scan_judge(nullptr, 10, 10, k_dpi, p).blank);
  EXPECT_FALSE(scan_judge(one, 0, 1, k_dpi, p).blank);
  EXPECT_FALSE(scan_judge(one, 1, -1, k_dpi, p).blank);
  EXPECT_FALSE(scan_judge(one, 1, 1, 0, p).blank);
  EXPECT_FALSE(scan_judge(one, 1, 1, -75, p).blank);
  EXPECT_FALSE(scan_judge(one, 1 << 20, 1 << 20, k_dpi, p).blank);
  EXPECT_TRUE(scan_judge(one, 1, 1, k_dpi, p).blank);
  const uint8_t black[4] = {0, 0, 0, 255};
  scan_judge(black, 1, 1, k_dpi, p);
}

TEST(ScanRule, OddParametersStayBounded) {
  sheet s(246, 3);
  page_number(s);
  band(s);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {nan, inf, -inf, -1.0, 0.0, 1e300};
  for (double v : values) {
    scan_params p;
    p.margin_mm = v;
    s.judge(p);
    p = scan_params{};
    p.speck_mm2 = v;
    s.judge(p);
    p = scan_params{};
    p.contrast = v;
    s.judge(p);
    p = scan_params{};
    p.faint_mm2 = v;
    s.judge(p);
    p = scan_params{};
    p.max_ink_mm2 = v;
    scan_figures f = s.judge(p);
    if (std::isnan(v)) {
      EXPECT_FALSE(f.blank);
    }
  }
  for (double v : values) {
    scan_params p{v, v, v, v, v};
    s.judge(p);
  }
}

// Every raster shape and noise pattern judged, including pages made of ink alone.
TEST(ScanRule, ArbitraryRastersAreSafe) {
  uint32_t seed = 7;
  for (int round = 0; round < 40; ++round) {
    seed = seed * 1103515245u + 12345u;
    int w = 1 + static_cast<int>(seed >> 20) % 200;
    seed = seed * 1103515245u + 12345u;
    int h = 1 + static_cast<int>(seed >> 20) % 200;
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (auto &b : px) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<uint8_t>(round % 2 ? seed >> 24 : ((seed >> 24) & 0x80 ? 255 : 0));
    }
    scan_figures f = scan_judge(px.data(), w, h, 1 + round * 7, scan_params{});
    EXPECT_GE(f.paper, 0);
    EXPECT_LE(f.paper, 255);
    EXPECT_GE(f.ink_mm2, 0);
  }
}

}  // namespace
