// The scan-aware blank judgement: paper tone from the page's own luminance histogram, ink as
// 8-connected marks darker than paper by the contrast, and a tally of the marks that are
// neither dust nor scanner artefacts. What renders the page and what reads its text is elsewhere.
#include "engine/scan_rule.h"

#include <cmath>
#include <new>
#include <vector>

namespace {

// Rasters beyond this many pixels are not judged; the renderer stays far below it.
constexpr int64_t k_max_pixels = int64_t{1} << 27;

// A parameter outside its sensible range is pulled into it; a NaN takes the fallback.
double clamp_param(double v, double lo, double hi, double fallback) {
  if (std::isnan(v)) return fallback;
  return v < lo ? lo : (v > hi ? hi : v);
}

// Luminance of a pixel composited over white paper, since an uncovered pixel is paper.
uint8_t luminance(const uint8_t *px) {
  int y = (77 * px[0] + 150 * px[1] + 29 * px[2] + 128) >> 8;
  int a = px[3];
  return static_cast<uint8_t>(255 - ((255 - y) * a + 127) / 255);
}

struct mark {
  int64_t area = 0;
  int minx = 0, maxx = 0, miny = 0, maxy = 0;
  int darkest = 255;
  int64_t inner = 0;  // pixels inside the outer margin
  int inner_darkest = 255;
};

int32_t find_root(std::vector<int32_t> &parent, int32_t a) {
  while (parent[static_cast<size_t>(a)] != a) {
    int32_t up = parent[static_cast<size_t>(parent[static_cast<size_t>(a)])];
    parent[static_cast<size_t>(a)] = up;
    a = up;
  }
  return a;
}

void join(std::vector<int32_t> &parent, int32_t a, int32_t b) {
  a = find_root(parent, a);
  b = find_root(parent, b);
  if (a == b) return;
  if (a < b) parent[static_cast<size_t>(b)] = a;
  else parent[static_cast<size_t>(a)] = b;
}

// The paper is the tone that most of the page's light side shows: the 80th percentile from
// dark, so that up to a fifth of the page may be ink or show-through without moving it, and
// sensor noise lifts it by only a fraction of its spread. The outer margin is left out where
// the page is big enough, because scanner bands live there.
double paper_tone(const std::vector<uint8_t> &lum, int w, int h, int m) {
  int64_t hist[256] = {};
  int x0 = m, y0 = m, x1 = w - m, y1 = h - m;
  if (x1 - x0 < w / 4 || y1 - y0 < h / 4) x0 = 0, y0 = 0, x1 = w, y1 = h;
  int64_t total = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      ++hist[lum[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]];
      ++total;
    }
  int64_t want = total - total / 5, seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += hist[v];
    if (seen > want) return v;
  }
  return 255;
}

}  // namespace

scan_figures scan_judge(const uint8_t *rgba, int width, int height, int dpi,
                        const scan_params &p) {
  scan_figures f;
  if (!rgba || width <= 0 || height <= 0 || dpi <= 0 || dpi > 10000) return f;
  const int64_t n = static_cast<int64_t>(width) * height;
  if (n > k_max_pixels) return f;
  const double px_mm = 25.4 / dpi;
  const double px_mm2 = px_mm * px_mm;
  const double margin_mm = clamp_param(p.margin_mm, 0.0, 1000.0, 0.0);
  const double speck_mm2 = clamp_param(p.speck_mm2, 0.0, 1e9, 0.0);
  const double contrast = clamp_param(p.contrast, 0.0, 255.0, 255.0);
  const double max_ink_mm2 = clamp_param(p.max_ink_mm2, 0.0, 1e12, 0.0);
  const double faint_min_mm2 = clamp_param(p.faint_mm2, 0.0, 1e12, 0.0);
  const int w = width, h = height;
  const double mpx = margin_mm / px_mm;
  const int m = mpx > w || mpx > h ? (w > h ? w : h) : static_cast<int>(mpx);
  try {
    std::vector<uint8_t> lum(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) lum[static_cast<size_t>(i)] = luminance(rgba + 4 * i);
    f.paper = paper_tone(lum, w, h, m);
    const double limit = f.paper - contrast;
    // Label 0 is paper; marks take 1 upwards and are joined where 8-connected.
    std::vector<int32_t> label(static_cast<size_t>(n), 0);
    std::vector<int32_t> parent(1, 0);
    for (int y = 0; y < h; ++y) {
      const size_t row = static_cast<size_t>(y) * static_cast<size_t>(w);
      for (int x = 0; x < w; ++x) {
        if (!(lum[row + static_cast<size_t>(x)] < limit)) continue;
        int32_t got = 0;
        auto take = [&](int32_t l) {
          if (!l) return;
          if (!got) got = l;
          else if (got != l) join(parent, got, l);
        };
        if (x > 0) take(label[row + static_cast<size_t>(x) - 1]);
        if (y > 0) {
          const size_t up = row - static_cast<size_t>(w);
          if (x > 0) take(label[up + static_cast<size_t>(x) - 1]);
          take(label[up + static_cast<size_t>(x)]);
          if (x + 1 < w) take(label[up + static_cast<size_t>(x) + 1]);
        }
        if (!got) {
          got = static_cast<int32_t>(parent.size());
          parent.push_back(got);
        }
        label[row + static_cast<size_t>(x)] = got;
      }
    }
    std::vector<mark> marks(parent.size());
    for (int y = 0; y < h; ++y) {
      const size_t row = static_cast<size_t>(y) * static_cast<size_t>(w);
      for (int x = 0; x < w; ++x) {
        int32_t l = label[row + static_cast<size_t>(x)];
        if (!l) continue;
        mark &k = marks[static_cast<size_t>(find_root(parent, l))];
        if (k.area == 0) k.minx = k.maxx = x, k.miny = k.maxy = y;
        ++k.area;
        const int v = lum[row + static_cast<size_t>(x)];
        if (v < k.darkest) k.darkest = v;
        if (x >= m && x < w - m && y >= m && y < h - m) {
          ++k.inner;
          if (v < k.inner_darkest) k.inner_darkest = v;
        }
        if (x < k.minx) k.minx = x;
        if (x > k.maxx) k.maxx = x;
        if (y < k.miny) k.miny = y;
        if (y > k.maxy) k.maxy = y;
      }
    }
    // Pen and print ink reaches below 40 % of the paper tone somewhere; marks that never do are
    // stamps, hair fibres or blurred show-through, and count only when there is enough of them.
    const double dark_limit = 0.4 * f.paper;
    double dark_ink = 0, faint_ink = 0;
    int dark_marks = 0, faint_marks = 0;
    for (const mark &k : marks) {
      if (k.area == 0) continue;
      const double area = static_cast<double>(k.area) * px_mm2;
      const double bw = (k.maxx - k.minx + 1) * px_mm, bh = (k.maxy - k.miny + 1) * px_mm;
      const double longer = bw > bh ? bw : bh, shorter = bw > bh ? bh : bw;
      const bool touches = k.minx == 0 || k.miny == 0 || k.maxx == w - 1 || k.maxy == h - 1;
      const bool marginal = k.maxx < m || k.minx >= w - m || k.maxy < m || k.miny >= h - m;
      // A punch hole is a filled dark disc a few millimetres across; a sheet scanned at
      // unequal resolutions across and along shows it as an ellipse.
      const bool hole = shorter >= 3.0 && longer <= 12.0 && longer <= 2.0 * shorter &&
                        area >= 0.45 * bw * bh;
      // A scanner's edge line is long and thin, however skewed the sheet lies.
      const bool line = longer >= 25.0 && area / longer <= 1.5;
      if (touches) {
        // Scanner bands and edges lie along the border, within the margin; what a mark
        // touching the border reaches beyond the margin, towards the middle of the sheet, is
        // the page's own (a picture printed to the edge) and counts as ink.
        const double inner = static_cast<double>(k.inner) * px_mm2;
        f.artefact_mm2 += area - inner;
        if (inner > 0) {
          if (k.inner_darkest < dark_limit) {
            dark_ink += inner;
            ++dark_marks;
          } else {
            faint_ink += inner;
            ++faint_marks;
          }
        }
      } else if (marginal && (hole || line)) {
        f.artefact_mm2 += area;
      } else if (bw * bh < speck_mm2) {
        // Dust is judged by the box a mark spans, so that a speck blurred over a few pixels
        // stays dust while a digit's strokes, as thin, span a box several times larger.
        f.dust_mm2 += area;
      } else if (k.darkest < dark_limit) {
        dark_ink += area;
        ++dark_marks;
      } else {
        faint_ink += area;
        ++faint_marks;
      }
    }
    f.faint_mm2 = faint_ink;
    double ink = dark_ink;
    f.marks = dark_marks;
    if (faint_ink >= faint_min_mm2) {
      ink += faint_ink;
      f.marks += faint_marks;
    }
    f.ink_mm2 = ink;
    f.blank = ink < max_ink_mm2;
  } catch (const std::bad_alloc &) {
    f = scan_figures{};
  }
  return f;
}
