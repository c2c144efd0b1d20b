// Painting a decoded image: the image rectangle mapped through the CTM to an axis-aligned
// device box, every pixel of the box inside the clip taking its nearest image pixel.
#pragma once

#include <cstdint>

struct interp_state;

// Paints w x h RGBA pixels over the user-space rectangle (0, 0)-(sw, sh); alpha_plane (w x h
// bytes) may be null. The caller keeps both buffers.
void draw_pixels(interp_state *st, double sw, double sh, int w, int h, const uint8_t *pixels,
                 const uint8_t *alpha_plane, double opacity);
