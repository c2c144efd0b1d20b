// External objects painted by Do (image XObjects and Form XObjects) and inline images between
// BI, ID and EI: the lookup, the form's own graphics state, and the hand-off to decoding and
// drawing.
#pragma once

#include <cstdint>

struct interp_state;

// Do with the name operand `name` (without '/').
void xobject_do(interp_state *st, const char *name);

// Draws the inline image whose parameters stand in content[params, id) and whose data are
// content[data_start, data_end).
void inline_image_draw(interp_state *st, const uint8_t *content, int32_t params, int32_t id,
                       int32_t data_start, int32_t data_end);
