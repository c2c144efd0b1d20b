// The text operators of content streams: the text state kept in the interpreter state and the
// drawing of shown strings, one glyph per byte, the pen moved by the glyph widths.
#pragma once

#include <cstdint>

#include "render/tokenizer.h"

struct interp_state;

// BT, Tf, Td, TD, Tm, T*, Tw, Tc, Tz, Tj, ', " and TJ, named by the operator's text, with the
// operands ops[0..n-1]. False when the name is no text operator.
bool text_operator(interp_state *st, const char *op, const token *ops, int n);

// Draws the string starting at the user-space point (x, y); returns the pen's advance in x.
double text_show_at(interp_state *st, const uint8_t *bytes, int32_t len, double x, double y);
