// Nearest-neighbour image painting into the page raster. Only the box between the two mapped
// corners counts: rotation and shear are not followed, which is enough to judge ink.

#include "render/image_draw.h"

#include <algorithm>
#include <cmath>

#include "render/fill.h"
#include "render/interp.h"

void draw_pixels(interp_state *st, double sw, double sh, int w, int h, const uint8_t *pixels,
                 const uint8_t *alpha_plane, double opacity) {
  if (!st || !st->raster || !pixels || w <= 0 || h <= 0) return;
  raster *r = st->raster;
  const matrix &m = st->ctm_stack[st->ctm_depth - 1];
  double x0 = m.e, y0 = m.f;
  double x1 = m.a * sw + m.c * sh + m.e, y1 = m.b * sw + m.d * sh + m.f;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  // Bounds far outside the raster are cut before rounding so the integers cannot overflow.
  auto bound = [](double v) { return std::clamp(v, -1e9, 1e9); };
  long xlo = std::lround(bound(std::min(x0, x1))), xhi = std::lround(bound(std::max(x0, x1)));
  long ylo = std::lround(bound(std::min(y0, y1))), yhi = std::lround(bound(std::max(y0, y1)));
  if (xlo >= xhi || ylo >= yhi) return;
  const pix_box &c = r->clip;
  long ya = std::max<long>({ylo, 0, c.y0}), yb = std::min<long>({yhi, r->height, c.y1});
  long xa = std::max<long>({xlo, 0, c.x0}), xb = std::min<long>({xhi, r->width, c.x1});
  const double sx = static_cast<double>(w) / static_cast<double>(xhi - xlo);
  const double sy = static_cast<double>(h) / static_cast<double>(yhi - ylo);
  for (long y = ya; y < yb; y++) {
    long sr = std::clamp(static_cast<long>(static_cast<double>(y - ylo) * sy), 0L, long{h - 1});
    for (long x = xa; x < xb; x++) {
      long sc = std::clamp(static_cast<long>(static_cast<double>(x - xlo) * sx), 0L, long{w - 1});
      size_t s = static_cast<size_t>(sr) * static_cast<size_t>(w) + static_cast<size_t>(sc);
      const uint8_t *px = pixels + s * 4;
      double cov = px[3] / 255.0 * opacity;
      if (alpha_plane) cov *= alpha_plane[s] / 255.0;
      blend_px(r, static_cast<int>(x), static_cast<int>(y), px[0] / 255.0, px[1] / 255.0,
               px[2] / 255.0, cov);
    }
  }
}
