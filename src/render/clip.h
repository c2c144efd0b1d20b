// Rectangular clipping: W and W* narrow the raster's clip rectangle to the device box of the
// clipping path, after saving the previous rectangle on the raster's stack. Q pops it.
#pragma once

#include "render/path.h"
#include "render/raster.h"

struct matrix;

// Saves the clip (while the 64 entries last) and intersects it with the box of p under m; a
// path without segments leaves the clip as it was, saved all the same.
void clip_push(raster *r, const path *p, const matrix *m);
