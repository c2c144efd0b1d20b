// Path construction and the geometry shared by the painters: appending segments, the fixed
// cutting of curves into 16 chords, and the device box that filling and clipping start from.
// Points stay in user space until a painter transforms them with the CTM of its moment.

#include "render/path.h"

#include <cmath>
#include <cstdlib>

#include "render/interp.h"

namespace {

constexpr double k_dev_limit = 1e15;

bool grow(path *p) {
  if (p->count < p->cap) return true;
  if (p->cap >= (1 << 30)) return false;
  int cap = p->cap == 0 ? 64 : p->cap * 2;
  void *m = std::realloc(p->segs.get(), static_cast<size_t>(cap) * sizeof(path_seg));
  if (!m) return false;
  (void)p->segs.release();
  p->segs.reset(static_cast<path_seg *>(m));
  p->cap = cap;
  return true;
}

void append(path *p, const path_seg &s) {
  if (!grow(p)) return;
  path_seg &d = p->segs.get()[p->count++];
  d = s;
  d.starts_subpath = p->sub_segs == 0 ? 1 : 0;
  p->sub_segs++;
}

// Converts a double known to be finite to an int within [lo, hi].
int clamp_to_int(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}

}  // namespace

void path_move(path *p, double x, double y) {
  p->cur_x = p->start_x = finite_or_zero(x);
  p->cur_y = p->start_y = finite_or_zero(y);
  p->has_cur = 1;
  p->sub_segs = 0;
}

void path_line(path *p, double x, double y) {
  x = finite_or_zero(x);
  y = finite_or_zero(y);
  if (!p->has_cur) {
    path_move(p, x, y);
    return;
  }
  path_seg s;
  s.p0 = {p->cur_x, p->cur_y};
  s.p3 = {x, y};
  s.kind = SEG_LINE;
  append(p, s);
  p->cur_x = x;
  p->cur_y = y;
}

void path_cubic(path *p, double x1, double y1, double x2, double y2, double x3, double y3) {
  x1 = finite_or_zero(x1), y1 = finite_or_zero(y1);
  x2 = finite_or_zero(x2), y2 = finite_or_zero(y2);
  x3 = finite_or_zero(x3), y3 = finite_or_zero(y3);
  if (!p->has_cur) path_move(p, x1, y1);
  path_seg s;
  s.p0 = {p->cur_x, p->cur_y};
  s.c1 = {x1, y1};
  s.c2 = {x2, y2};
  s.p3 = {x3, y3};
  s.kind = SEG_CUBIC;
  append(p, s);
  p->cur_x = x3;
  p->cur_y = y3;
}

void path_close(path *p) {
  if (!p->has_cur) return;
  if (p->cur_x != p->start_x || p->cur_y != p->start_y) path_line(p, p->start_x, p->start_y);
  p->cur_x = p->start_x;
  p->cur_y = p->start_y;
  // Drawing on after h starts a new subpath at the same point.
  p->sub_segs = 0;
}

void path_rect(path *p, double x, double y, double w, double h) {
  x = finite_or_zero(x), y = finite_or_zero(y);
  double xr = finite_or_zero(x + finite_or_zero(w)), yt = finite_or_zero(y + finite_or_zero(h));
  path_move(p, x, y);
  path_line(p, xr, y);
  path_line(p, xr, yt);
  path_line(p, x, yt);
  path_line(p, x, y);
  p->sub_segs = 0;
}

void path_reset(path *p) {
  p->count = 0;
  p->has_cur = 0;
  p->sub_segs = 0;
}

path_pt path_dev_point(const matrix *m, double x, double y) {
  double X = finite_or_zero(m->a * x + m->c * y + m->e);
  double Y = finite_or_zero(m->b * x + m->d * y + m->f);
  if (X > k_dev_limit) X = k_dev_limit;
  if (X < -k_dev_limit) X = -k_dev_limit;
  if (Y > k_dev_limit) Y = k_dev_limit;
  if (Y < -k_dev_limit) Y = -k_dev_limit;
  return {X, Y};
}

void path_curve_points(const path_seg &s, path_pt out[k_curve_chords + 1]) {
  for (int i = 0; i <= k_curve_chords; i++) {
    double t = static_cast<double>(i) / k_curve_chords, u = 1 - t;
    double w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t, w3 = t * t * t;
    out[i].x = finite_or_zero(w0 * s.p0.x + w1 * s.c1.x + w2 * s.c2.x + w3 * s.p3.x);
    out[i].y = finite_or_zero(w0 * s.p0.y + w1 * s.c1.y + w2 * s.c2.y + w3 * s.p3.y);
  }
}

void path_bbox_dev(const raster *r, const path *p, const matrix *m, pix_box *out) {
  double min_x = 1e30, min_y = 1e30, max_x = -1e30, max_y = -1e30;
  bool any = false;
  auto add_pt = [&](path_pt u) {
    path_pt d = path_dev_point(m, u.x, u.y);
    if (d.x < min_x) min_x = d.x;
    if (d.x > max_x) max_x = d.x;
    if (d.y < min_y) min_y = d.y;
    if (d.y > max_y) max_y = d.y;
    any = true;
  };
  const path_seg *segs = p->segs.get();
  for (int i = 0; i < p->count; i++) {
    add_pt(segs[i].p0);
    add_pt(segs[i].p3);
    if (segs[i].kind == SEG_CUBIC) {
      add_pt(segs[i].c1);
      add_pt(segs[i].c2);
    }
  }
  if (!any) {
    *out = pix_box{0, 0, 0, 0};
    return;
  }
  // Coordinates are clamped to the raster (with a pixel to spare) before becoming integers.
  const int w = r->width, h = r->height;
  pix_box b;
  b.x0 = clamp_to_int(std::floor(min_x), 0, w);
  b.y0 = clamp_to_int(std::floor(min_y), 0, h);
  b.x1 = clamp_to_int(std::ceil(max_x) + 1, -1, w);
  b.y1 = clamp_to_int(std::ceil(max_y) + 1, -1, h);
  if (b.x1 <= b.x0 || b.y1 <= b.y0) {
    b.x0 = b.x1;
    b.y0 = b.y1;
  }
  *out = b;
}
