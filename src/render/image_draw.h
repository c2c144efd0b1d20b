// Painting a decoded image: the image rectangle mapped through the CTM to an axis-aligned
// device box, every pixel of the box inside the clip taking its nearest image pixel.
#pragma once

#include <cstdint>

#include "render/image.h"

struct interp_state;

// The device box of the user-space rectangle (0, 0)-(sw, sh) under the current CTM; false
// when it is empty or not finite, and nothing is painted.
bool image_box_of(const interp_state *st, double sw, double sh, image_box *out);

// Paints w x h RGBA pixels over the user-space rectangle (0, 0)-(sw, sh); alpha_plane (w x h
// bytes) may be null. The caller keeps both buffers.
void draw_pixels(interp_state *st, double sw, double sh, int w, int h, const uint8_t *pixels,
                 const uint8_t *alpha_plane, double opacity);

// Paints pixels decoded as the box's grid (decode_image with sample_only): exactly what
// draw_pixels paints from the full image.
void draw_sampled(interp_state *st, const image_box &b, const uint8_t *pixels,
                  const uint8_t *alpha_plane, double opacity);
