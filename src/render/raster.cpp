// The page raster's planes: white and opaque at the start, as paper is.
#include "render/raster.h"

#include <cstring>

bool raster_init(raster &r, int width, int height) {
  if (width < 1 || height < 1 || width > k_raster_max_side || height > k_raster_max_side ||
      static_cast<int64_t>(width) * height > k_raster_max_pixels)
    return false;
  uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  c_ptr<uint8_t> rgb(static_cast<uint8_t *>(std::malloc(pixels * 3)));
  c_ptr<uint8_t> alpha(static_cast<uint8_t *>(std::malloc(pixels)));
  if (!rgb || !alpha) return false;
  std::memset(rgb.get(), 255, pixels * 3);
  std::memset(alpha.get(), 255, pixels);
  r.width = width;
  r.height = height;
  r.rgb = std::move(rgb);
  r.alpha = std::move(alpha);
  r.clip = pix_box{0, 0, width, height};
  r.clip_depth = 0;
  r.line_width = 1.0;
  r.fill_opacity = 1.0;
  r.stroke_opacity = 1.0;
  r.clip_empty = 0;
  r.text_shown = r.unreadable = r.shading = 0;
  r.nested_glyph_runs = 0;
  r.full_images = 0;
  r.work_left = k_page_work;
  r.call = nullptr;
  r.halted = 0;
  return true;
}

bool raster_spend(raster *r, int64_t units, bool page_only) {
  if (r->halted) return false;
  if (units < 0) units = 0;
  r->work_left -= units;
  if (r->call && !page_only) r->call->left -= units;
  if (r->work_left >= 0 && (!r->call || r->call->left >= 0)) return true;
  r->halted = 1;
  r->unreadable = 1;
  return false;
}
