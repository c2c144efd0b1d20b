// The clip is a rectangle whatever the clipping path's shape, and nonzero and even-odd clips
// alike take the path's device box. Saving stops at 64 entries, while narrowing goes on.

#include "render/clip.h"

#include <algorithm>

#include "render/interp.h"

void clip_push(raster *r, const path *p, const matrix *m) {
  if (!r) return;
  if (r->clip_depth >= 0 && r->clip_depth < k_clip_stack_size)
    r->clip_stack[r->clip_depth++] = r->clip;
  if (!p || !m || p->count <= 0) return;
  pix_box box;
  path_bbox_dev(r, p, m, &box);
  r->clip.x0 = std::max(r->clip.x0, box.x0);
  r->clip.y0 = std::max(r->clip.y0, box.y0);
  r->clip.x1 = std::min(r->clip.x1, box.x1);
  r->clip.y1 = std::min(r->clip.y1, box.y1);
  if (r->clip.x0 >= r->clip.x1 || r->clip.y0 >= r->clip.y1) r->clip_empty = 1;
}
