// Nearest-neighbour image painting into the page raster. Only the box between the two mapped
// corners counts: rotation and shear are not followed, which is enough to judge ink.

#include "render/image_draw.h"

#include <algorithm>
#include <cmath>

#include "render/fill.h"
#include "render/interp.h"

bool image_box_of(const interp_state *st, double sw, double sh, image_box *out) {
  if (!st || !st->raster) return false;
  const raster *r = st->raster;
  const matrix &m = st->ctm_stack[st->ctm_depth - 1];
  double x0 = m.e, y0 = m.f;
  double x1 = m.a * sw + m.c * sh + m.e, y1 = m.b * sw + m.d * sh + m.f;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return false;
  // Bounds far outside the raster are cut before rounding so the integers cannot overflow.
  auto bound = [](double v) { return std::clamp(v, -1e9, 1e9); };
  image_box b;
  b.xlo = std::lround(bound(std::min(x0, x1)));
  b.xhi = std::lround(bound(std::max(x0, x1)));
  b.ylo = std::lround(bound(std::min(y0, y1)));
  b.yhi = std::lround(bound(std::max(y0, y1)));
  if (b.xlo >= b.xhi || b.ylo >= b.yhi) return false;
  const pix_box &c = r->clip;
  b.ya = std::max<long>({b.ylo, 0, c.y0});
  b.yb = std::min<long>({b.yhi, r->height, c.y1});
  b.xa = std::max<long>({b.xlo, 0, c.x0});
  b.xb = std::min<long>({b.xhi, r->width, c.x1});
  *out = b;
  return true;
}

namespace {

void blend_pixel(raster *r, long x, long y, const uint8_t *px, const uint8_t *alpha, size_t s,
                 double opacity) {
  double cov = px[3] / 255.0 * opacity;
  if (alpha) cov *= alpha[s] / 255.0;
  blend_px(r, static_cast<int>(x), static_cast<int>(y), px[0] / 255.0, px[1] / 255.0,
           px[2] / 255.0, cov);
}

}  // namespace

void draw_pixels(interp_state *st, double sw, double sh, int w, int h, const uint8_t *pixels,
                 const uint8_t *alpha_plane, double opacity) {
  image_box b;
  if (!pixels || w <= 0 || h <= 0 || !image_box_of(st, sw, sh, &b)) return;
  raster *r = st->raster;
  for (long y = b.ya; y < b.yb; y++) {
    const long sr = source_index(y, b.ylo, b.yhi, h);
    for (long x = b.xa; x < b.xb; x++) {
      const long sc = source_index(x, b.xlo, b.xhi, w);
      const size_t s = static_cast<size_t>(sr) * static_cast<size_t>(w) + static_cast<size_t>(sc);
      blend_pixel(r, x, y, pixels + s * 4, alpha_plane, s, opacity);
    }
  }
}

void draw_sampled(interp_state *st, const image_box &b, const uint8_t *pixels,
                  const uint8_t *alpha_plane, double opacity) {
  if (!st || !st->raster || !pixels) return;
  raster *r = st->raster;
  const size_t w = static_cast<size_t>(b.xb - b.xa);
  for (long y = b.ya; y < b.yb; y++)
    for (long x = b.xa; x < b.xb; x++) {
      const size_t s = static_cast<size_t>(y - b.ya) * w + static_cast<size_t>(x - b.xa);
      blend_pixel(r, x, y, pixels + s * 4, alpha_plane, s, opacity);
    }
}
