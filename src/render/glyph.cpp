// Glyph drawing: a TrueType outline (embedded or built-in) becomes path segments filled with
// the nonzero rule in the fill colour; a Type 3 glyph runs its procedure in a state of its own.
// Composite (Type 0) fonts draw nothing. The pen's advance is text.cpp's.
#include "render/glyph.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "render/builtin_fonts.h"
#include "render/fill.h"
#include "render/font.h"
#include "render/interp.h"

namespace {

// Glyph procedures run inside other glyph procedures at most this many times per page, so a
// procedure that shows its own glyph many times over cannot multiply into an endless render.
constexpr int64_t k_max_nested_glyph_runs = 100000;

// Appends the closed contours to out; stops once the segment limit is reached.
void outline_to_path(const tf_point *pts, int npts, const uint16_t *ends, int nends, path *out) {
  int start = 0;
  for (int k = 0; k < nends && out->count < k_glyph_max_segments; k++) {
    const int end = ends[k];
    if (end < start || end >= npts) break;
    const int n = end - start + 1;
    int first = -1;
    for (int i = start; i <= end; i++)
      if (pts[i].on_curve) {
        first = i;
        break;
      }
    if (first >= 0) {
      // The walk starts on the curve, so every piece between two points on the curve is a
      // quadratic with one control point, or a chain of them meeting at implied midpoints.
      double cx = pts[first].x, cy = pts[first].y;
      path_move(out, cx, cy);
      bool pending = false;
      double qx = 0, qy = 0;
      for (int step = 1; step <= n && out->count < k_glyph_max_segments; step++) {
        const tf_point &p = pts[start + (first - start + step) % n];
        double px = p.x, py = p.y;
        if (p.on_curve) {
          if (pending) {
            // The cubic with controls at two thirds towards the quadratic's control point
            // traces the quadratic exactly.
            path_cubic(out, cx + 2.0 / 3.0 * (qx - cx), cy + 2.0 / 3.0 * (qy - cy),
                       px + 2.0 / 3.0 * (qx - px), py + 2.0 / 3.0 * (qy - py), px, py);
          } else {
            path_line(out, px, py);
          }
          pending = false;
          cx = px, cy = py;
        } else if (pending) {
          double mx = (qx + px) / 2, my = (qy + py) / 2;
          path_cubic(out, cx + 2.0 / 3.0 * (qx - cx), cy + 2.0 / 3.0 * (qy - cy),
                     mx + 2.0 / 3.0 * (qx - mx), my + 2.0 / 3.0 * (qy - my), mx, my);
          cx = mx, cy = my;
          qx = px, qy = py;
        } else {
          pending = true;
          qx = px, qy = py;
        }
      }
    }
    start = end + 1;
  }
  if (out->count > k_glyph_max_segments) out->count = k_glyph_max_segments;
}

// The glyph's segments in font units, read from the font the first time the code is drawn.
// Reading again would give the same segments, so the record keeps them.
const path *glyph_segments(pdf_font *f, const uint8_t *data, int len, int code, path *scratch) {
  if (!f->outlines) f->outlines.reset(new (std::nothrow) glyph_path[256]);
  glyph_path *cached = f->outlines ? &f->outlines[code] : nullptr;
  if (cached && cached->read) return &cached->segs;
  path *out = cached ? &cached->segs : scratch;
  if (cached) cached->read = 1;
  uint32_t g = f->glyph_map[code].glyph & 0xFFFF;
  if (g == 0) return out;
  tf_point *pts = nullptr;
  uint16_t *ends = nullptr;
  int npts = 0, nends = 0, composite = 0;
  if (!tf_glyph_outline(data, len, g, &pts, &npts, &ends, &nends, &composite)) return out;
  c_ptr<tf_point> own_pts(pts);
  c_ptr<uint16_t> own_ends(ends);
  glyph_outline_path(pts, npts, ends, nends, out);
  return out;
}

void draw_truetype(interp_state *st, pdf_font *f, int code, double x, double y, double red,
                   double green, double blue) {
  if (!f->glyph_map) return;
  const uint8_t *data = nullptr;
  int len = 0;
  if (f->shared_map) {
    if (f->builtin < 0 || f->builtin >= k_builtin_slots) return;
    data = g_font_files[f->builtin];
    len = g_font_lens[f->builtin];
  } else {
    data = f->file_data.get();
    len = f->file_len;
  }
  if (!data || len <= 0) return;
  if ((f->glyph_map[code].glyph & 0xFFFF) == 0) return;
  path scratch;
  const path *segs = glyph_segments(f, data, len, code, &scratch);
  if (segs->count == 0 || st->raster->clip_empty) return;
  if (!raster_spend(st->raster, static_cast<int64_t>(segs->count) * k_work_edge)) return;
  const double upem = f->units_per_em > 0 ? f->units_per_em : 1000;
  const double s = st->font_size / upem;
  const matrix place = {s, 0, 0, s, x, y};
  matrix g;
  mat_mult(&g, &st->ctm_stack[st->ctm_depth - 1], &place);
  raster_fill(st->raster, segs, &g, 1, red, green, blue, st->raster->fill_opacity);
}

void draw_type3(interp_state *st, pdf_font *f, int code, double x, double y) {
  if (!f->procs || !f->proc_lens || !f->procs[code]) return;
  int depth = 0;
  for (const interp_state *s = st; s; s = s->caller)
    if (s->in_glyph) depth++;
  raster *r = st->raster;
  // Procedures nested deeper, or run from procedures more often, than any real font needs
  // are not run; the page is then not judged on a render that lacks them.
  if (depth >= k_max_type3_depth ||
      (depth > 0 && r->nested_glyph_runs++ >= k_max_nested_glyph_runs)) {
    r->unreadable = 1;
    return;
  }
  if (!raster_spend(r, k_work_draw)) return;

  interp_state *gs = new (std::nothrow) interp_state;
  if (!gs) return;
  std::unique_ptr<interp_state> own(gs);
  matrix place = {st->font_size, 0, 0, st->font_size, x, y};
  matrix p;
  mat_mult(&p, &st->ctm_stack[st->ctm_depth - 1], &place);
  interp_state_setup(*gs, st->doc, r, st->resources, st->resources_len, p);
  gs->fill_color = st->fill_color;
  gs->stroke_color = st->stroke_color;
  gs->fill_space = st->fill_space;
  gs->stroke_space = st->stroke_space;
  gs->text_matrix = matrix{0, 0, 0, 0, 0, 0};
  gs->line_matrix = matrix{0, 0, 0, 0, 0, 0};
  gs->font_size = st->font_size;
  gs->caller = st;
  gs->form_depth = st->form_depth;
  gs->in_glyph = 1;

  // A glyph is painted inside a graphics state of its own: the clip it sets and the line
  // width and stroke opacity it paints with end with it.
  pix_box clip = r->clip;
  pix_box stack[k_clip_stack_size];
  std::memcpy(stack, r->clip_stack, sizeof stack);
  const int clip_depth = r->clip_depth, clip_empty = r->clip_empty;
  const double line_width = r->line_width, stroke_opacity = r->stroke_opacity;
  r->line_width = 1.0;
  r->stroke_opacity = r->fill_opacity;
  interp_execute(gs, f->procs[code].get(), f->proc_lens.get()[code]);
  r->clip = clip;
  std::memcpy(r->clip_stack, stack, sizeof stack);
  r->clip_depth = clip_depth;
  r->clip_empty = clip_empty;
  r->line_width = line_width;
  r->stroke_opacity = stroke_opacity;
}

}  // namespace

void glyph_outline_path(const tf_point *pts, int npts, const uint16_t *ends, int nends,
                        path *out) {
  if (!pts || !ends || npts <= 0 || nends <= 0 || !out) return;
  outline_to_path(pts, npts, ends, nends, out);
}

void draw_glyph(interp_state *st, int code, double x, double y) {
  if (!st || !st->raster || !st->font || code < 0 || code > 255) return;
  pdf_font *f = st->font;
  if (f->kind == FONT_TYPE0) return;
  if (f->kind == FONT_TYPE3) {
    draw_type3(st, f, code, x, y);
    return;
  }
  double red = 0, green = 0, blue = 0;
  color_get(&st->fill_color, &red, &green, &blue);
  draw_truetype(st, f, code, x, y, red, green, blue);
}
