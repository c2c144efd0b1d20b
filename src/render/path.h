// Paths of the content stream in user space: the segment record, the two primitives that append
// to it, the curve flattening every painter shares and the device box of a path. Filling,
// stroking and clipping live in their own modules.
#pragma once

#include "pdfcore/mem.h"
#include "render/raster.h"

struct matrix;

enum seg_kind { SEG_LINE = 0, SEG_CUBIC = 1 };

struct path_pt {
  double x = 0, y = 0;
};

struct path_seg {
  path_pt p0;  // start point
  path_pt c1;  // control points, (0, 0) for a line
  path_pt c2;
  path_pt p3;  // end point
  int kind = SEG_LINE;
  // 1 on the first segment of each subpath, so that a fill can close what was left open.
  int starts_subpath = 0;
};

struct path {
  c_ptr<path_seg> segs;  // grows to the largest path of its holder; never shrinks
  int count = 0;
  int cap = 0;
  double cur_x = 0, cur_y = 0;
  double start_x = 0, start_y = 0;
  int has_cur = 0;
  // Segments appended since the current subpath began.
  int sub_segs = 0;
};

inline constexpr int k_curve_chords = 16;

// A number that is not finite counts as 0 wherever geometry is read.
inline double finite_or_zero(double v) { return v - v == 0 ? v : 0.0; }

void path_line(path *p, double x, double y);
void path_cubic(path *p, double x1, double y1, double x2, double y2, double x3, double y3);
// m: a new subpath at (x, y); the segments already held stay.
void path_move(path *p, double x, double y);
// h: a line back to the subpath's start when the current point lies elsewhere.
void path_close(path *p);
// re: a closed rectangle subpath; the current point ends at (x, y).
void path_rect(path *p, double x, double y, double w, double h);
// Painting, n, W and W*: the path is emptied, its storage kept.
void path_reset(path *p);

// One point transformed by m into device pixels, with what is not finite taken as 0 and the
// result held within +-1e15 so that differences and products of coordinates stay finite.
path_pt path_dev_point(const matrix *m, double x, double y);
// The 17 points P(t), t = 0, 1/16, ..., 1, of a cubic segment, in user space.
void path_curve_points(const path_seg &s, path_pt out[k_curve_chords + 1]);

// The device box of the path under m: floor of the least and one past the ceiling of the
// largest transformed coordinates (control points included), clamped to the raster; an empty
// box has x0 = x1 and y0 = y1.
void path_bbox_dev(const raster *r, const path *p, const matrix *m, pix_box *out);
