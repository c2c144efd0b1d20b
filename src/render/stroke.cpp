// The stroker: each segment (each of a curve's 16 chords) becomes a quadrilateral filled by the
// rasterizer and two discs. The half width follows the mean scale of the CTM, so a stroke has
// the same width in every direction, and is never under half a pixel.

#include "render/stroke.h"

#include <algorithm>
#include <cmath>

#include "render/fill.h"
#include "render/interp.h"

namespace {

int clamp_int(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}

// Half width in device pixels. An infinite or enormous width is held to 1e13 pixels, far more
// than any raster needs from any point the device coordinates can reach, yet small enough that
// offsets and squared radii stay finite.
double half_width(const matrix *m, double lw) {
  double scale = (std::hypot(m->a, m->b) + std::hypot(m->c, m->d)) / 4;
  double h = finite_or_zero(lw) * finite_or_zero(scale);
  if (!(h <= 1e13)) h = h != h ? 0 : 1e13;
  return std::max(0.5, h);
}

// With full opacity a stroke paints one colour, so once a disc has covered the whole clip
// rectangle the rest of the stroke can change no pixel.
bool disc_covers_clip(const raster *r, double cx, double cy, double radius) {
  const double xs[2] = {r->clip.x0 + 0.5, r->clip.x1 - 0.5};
  const double ys[2] = {r->clip.y0 + 0.5, r->clip.y1 - 0.5};
  for (double x : xs)
    for (double y : ys)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) > radius * radius) return false;
  return true;
}

// Strokes one piece given in device pixels with half width h; true when the piece filled the
// whole clip rectangle.
bool stroke_dev(raster *r, path_pt a, path_pt b, double h, double red, double green,
                double blue, double opacity) {
  double dx = b.x - a.x, dy = b.y - a.y;
  double len = std::sqrt(dx * dx + dy * dy);
  if (len >= 1e-6 && std::isfinite(len)) {
    double ox = -dy * h / len, oy = dx * h / len;
    fill_edge q[4] = {
        {a.x + ox, a.y + oy, b.x + ox, b.y + oy},
        {b.x + ox, b.y + oy, b.x - ox, b.y - oy},
        {b.x - ox, b.y - oy, a.x - ox, a.y - oy},
        {a.x - ox, a.y - oy, a.x + ox, a.y + oy},
    };
    double min_x = q[0].x0, max_x = q[0].x0, min_y = q[0].y0, max_y = q[0].y0;
    for (const fill_edge &e : q) {
      min_x = std::min(min_x, e.x0), max_x = std::max(max_x, e.x0);
      min_y = std::min(min_y, e.y0), max_y = std::max(max_y, e.y0);
    }
    pix_box box;
    box.x0 = clamp_int(std::floor(min_x), 0, r->width);
    box.y0 = clamp_int(std::floor(min_y), 0, r->height);
    box.x1 = clamp_int(std::ceil(max_x) + 1, 0, r->width);
    box.y1 = clamp_int(std::ceil(max_y) + 1, 0, r->height);
    raster_fill_edges(r, q, 4, box, 1, red, green, blue, opacity);
    fill_circle_dev(r, a.x, a.y, h, red, green, blue, opacity);
    fill_circle_dev(r, b.x, b.y, h, red, green, blue, opacity);
  } else {
    fill_circle_dev(r, a.x, a.y, h, red, green, blue, opacity);
  }
  return opacity >= 1 && (disc_covers_clip(r, a.x, a.y, h) || disc_covers_clip(r, b.x, b.y, h));
}

}  // namespace

void fill_circle_dev(raster *r, double cx, double cy, double radius, double red, double green,
                     double blue, double opacity) {
  if (!r || r->clip_empty) return;
  cx = finite_or_zero(cx), cy = finite_or_zero(cy), radius = finite_or_zero(radius);
  if (!(radius > 0)) radius = 0;
  red = std::clamp(finite_or_zero(red), 0.0, 1.0);
  green = std::clamp(finite_or_zero(green), 0.0, 1.0);
  blue = std::clamp(finite_or_zero(blue), 0.0, 1.0);
  const int w = r->width, h = r->height;
  int yt = cy - radius < -1 ? -1 : clamp_int(std::trunc(cy - radius), -1, h);
  int yb = cy + radius > h ? h : clamp_int(std::trunc(cy + radius), -1, h);
  int xl = clamp_int(std::trunc(std::max(-1.0, cx - radius)), -1, w);
  int xr = clamp_int(std::trunc(std::min(static_cast<double>(w), cx + radius)), -1, w);
  // Only pixels inside both the raster and the clip can change.
  yt = std::max(yt, r->clip.y0), yb = std::min(yb, r->clip.y1 - 1);
  xl = std::max(xl, r->clip.x0), xr = std::min(xr, r->clip.x1 - 1);
  if (yb < yt || xr < xl) return;
  if (!raster_spend(r, static_cast<int64_t>(yb - yt + 1) * (xr - xl + 1) * k_work_pixel)) return;
  const double r2 = radius * radius;
  for (int y = yt; y <= yb; y++) {
    double ddy = y + 0.5 - cy;
    for (int x = xl; x <= xr; x++) {
      double ddx = x + 0.5 - cx;
      if (ddx * ddx + ddy * ddy <= r2) blend_px(r, x, y, red, green, blue, opacity);
    }
  }
}

void stroke_segment(raster *r, const matrix *m, double x0, double y0, double x1, double y1,
                    double lw, double red, double green, double blue, double opacity) {
  if (!r || !m || r->clip_empty) return;
  stroke_dev(r, path_dev_point(m, x0, y0), path_dev_point(m, x1, y1), half_width(m, lw),
             red, green, blue, opacity);
}

void raster_stroke(raster *r, const path *p, const matrix *m, double red, double green,
                   double blue, double opacity) {
  if (!r || !p || !m || r->clip_empty) return;
  const double h = half_width(m, r->line_width);
  const path_seg *segs = p->segs.get();
  for (int i = 0; i < p->count; i++) {
    const path_seg &s = segs[i];
    if (s.kind == SEG_CUBIC) {
      path_pt pts[k_curve_chords + 1];
      path_curve_points(s, pts);
      path_pt prev = path_dev_point(m, pts[0].x, pts[0].y);
      for (int k = 1; k <= k_curve_chords; k++) {
        path_pt d = path_dev_point(m, pts[k].x, pts[k].y);
        if (stroke_dev(r, prev, d, h, red, green, blue, opacity)) return;
        prev = d;
      }
    } else {
      if (stroke_dev(r, path_dev_point(m, s.p0.x, s.p0.y), path_dev_point(m, s.p3.x, s.p3.y), h,
                     red, green, blue, opacity))
        return;
    }
  }
}
