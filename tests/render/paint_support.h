// Small rasters for the painting tests: run content against one, and read its pixels back as
// a picture of '#' (painted) and '.' (white) so that expectations show their shape.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "render/interp.h"
#include "render/raster.h"

namespace paint_test {

inline const uint8_t *u8(const std::string &s) {
  return reinterpret_cast<const uint8_t *>(s.data());
}

// A white raster of w x h pixels.
inline void blank(raster &r, int w, int h) { ASSERT_TRUE(raster_init(r, w, h)); }

// Runs content on r under m (identity: user units are device pixels, y downwards).
inline void run(raster &r, const std::string &content, const matrix &m = k_identity) {
  interp_state st;
  interp_state_setup(st, nullptr, &r, nullptr, 0, m);
  interp_execute(&st, u8(content), static_cast<int32_t>(content.size()));
}

inline const uint8_t *px(const raster &r, int x, int y) {
  return r.rgb.get() + 3 * (static_cast<size_t>(y) * r.width + x);
}

inline bool painted(const raster &r, int x, int y) {
  const uint8_t *p = px(r, x, y);
  return p[0] != 255 || p[1] != 255 || p[2] != 255;
}

// Rows of the raster, top first, '#' for a pixel that is not white.
inline std::string picture(const raster &r) {
  std::string s;
  for (int y = 0; y < r.height; y++) {
    for (int x = 0; x < r.width; x++) s += painted(r, x, y) ? '#' : '.';
    s += '\n';
  }
  return s;
}

inline int painted_count(const raster &r) {
  int n = 0;
  for (int y = 0; y < r.height; y++)
    for (int x = 0; x < r.width; x++) n += painted(r, x, y) ? 1 : 0;
  return n;
}

// Painted pixels exactly cover [x0, x1) x [y0, y1).
inline bool is_rect(const raster &r, int x0, int y0, int x1, int y1) {
  for (int y = 0; y < r.height; y++)
    for (int x = 0; x < r.width; x++)
      if (painted(r, x, y) != (x >= x0 && x < x1 && y >= y0 && y < y1)) return false;
  return true;
}

// The 48 dpi page matrix for a page h device pixels tall: user units scaled by 2/3, y flipped.
inline matrix page_matrix_48(int h) { return matrix{2.0 / 3, 0, 0, -2.0 / 3, 0, double(h)}; }

}  // namespace paint_test
