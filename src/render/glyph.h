// Painting the glyph of one character code of the current font at a point of user space, in
// the fill colour: TrueType outlines are filled, Type 3 procedures run in a state of their own.
#pragma once

#include "render/path.h"
#include "render/truetype.h"

struct interp_state;

inline constexpr int k_glyph_max_segments = 512;
// Type 3 procedures that show text in a Type 3 font run further procedures; this many nest.
inline constexpr int k_max_type3_depth = 4;

void draw_glyph(interp_state *state, int code, double x, double y);

// The closed contours of a TrueType outline as path segments in font units, at most
// k_glyph_max_segments in all; quadratic pieces become the cubic segments that trace the same
// curves.
void glyph_outline_path(const tf_point *pts, int npts, const uint16_t *ends, int nends, path *out);
