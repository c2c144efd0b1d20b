// The text operators: a reduced text state in which only the translation of the text matrix
// places glyphs and showing text never moves the text matrix. Strings are drawn one glyph per
// byte, the pen moved by the glyph widths; glyph.cpp paints each one.
#include "render/text.h"

#include <cstring>

#include "render/font.h"
#include "render/glyph.h"
#include "render/interp.h"

namespace {

double num_of(const token &t) { return finite_or_zero(t.num); }

// The advance of one code as a fraction of the font size.
double code_advance(const pdf_font *f, uint8_t c) {
  if (f->kind == FONT_TYPE3) return f->t3_widths ? f->t3_widths.get()[c] : 0.5;
  if (f->glyph_map && f->glyph_map[c].glyph != 0) return f->glyph_map[c].advance;
  if (f->kind == FONT_TYPE0) return 0.5;
  return f->widths ? f->widths.get()[c] : 0.5;
}

// Td: the offsets are added to the line matrix's translation unscaled.
void move_line(interp_state *st, double tx, double ty) {
  st->line_matrix.e = finite_or_zero(st->line_matrix.e + tx);
  st->line_matrix.f = finite_or_zero(st->line_matrix.f + ty);
  st->text_matrix = st->line_matrix;
}

void show_top_string(interp_state *st, const token *ops, int n) {
  if (!st->font) return;
  const token &s = ops[n - 1];
  text_show_at(st, s.bytes, s.len, st->text_matrix.e, st->text_matrix.f);
}

void show_array(interp_state *st, const token *ops, int n) {
  if (!st->font) return;
  int mark = n - 1;
  while (mark >= 0 && ops[mark].type != TOK_ARRAY) mark--;
  if (mark < 0) return;
  double x = st->text_matrix.e;
  const double y = st->text_matrix.f;
  for (int i = mark + 1; i < n; i++) {
    if (ops[i].type == TOK_STRING) {
      x += text_show_at(st, ops[i].bytes, ops[i].len, x, y);
    } else if (ops[i].type == TOK_NUMBER) {
      x = finite_or_zero(x - num_of(ops[i]) / 1000.0 * st->font_size);
    }
  }
}

}  // namespace

double text_show_at(interp_state *st, const uint8_t *bytes, int32_t len, double x, double y) {
  if (!st || !st->font || !bytes || len <= 0) return 0;
  const double x0 = x;
  for (int32_t i = 0; i < len; i++) {
    draw_glyph(st, bytes[i], x, y);
    x = finite_or_zero(x + code_advance(st->font, bytes[i]) * st->font_size);
  }
  return x - x0;
}

bool text_operator(interp_state *st, const char *op, const token *ops, int n) {
  if (!st || !op || op[0] == 0) return false;
  const bool top_string = n >= 1 && ops[n - 1].type == TOK_STRING;
  if (std::strcmp(op, "BT") == 0) {
    // Each text object starts at the origin of text space; a font chosen after the first
    // move of the object (as office suites write "x y Td /F1 10 Tf") keeps the position.
    st->text_matrix = k_identity;
    st->line_matrix = k_identity;
  } else if (std::strcmp(op, "Tf") == 0) {
    if (n >= 2 && ops[n - 2].type == TOK_NAME) {
      double size = num_of(ops[n - 1]);
      st->font_size = size > 0 ? size : 1.0;
      st->font = font_get(st, ops[n - 2].name);
    }
  } else if (std::strcmp(op, "Td") == 0) {
    if (n >= 2) move_line(st, num_of(ops[n - 2]), num_of(ops[n - 1]));
  } else if (std::strcmp(op, "TD") == 0) {
    if (n >= 2) {
      move_line(st, num_of(ops[n - 2]), num_of(ops[n - 1]));
      st->leading = -num_of(ops[n - 1]);
    }
  } else if (std::strcmp(op, "Tm") == 0) {
    if (n >= 6) {
      const token *m = ops + n - 6;
      st->line_matrix = matrix{num_of(m[0]), num_of(m[1]), num_of(m[2]),
                               num_of(m[3]), num_of(m[4]), num_of(m[5])};
      st->text_matrix = st->line_matrix;
    }
  } else if (std::strcmp(op, "T*") == 0) {
    move_line(st, 0, -st->leading);
  } else if (std::strcmp(op, "Tw") == 0) {
    if (n >= 1) st->word_spacing = num_of(ops[n - 1]);
  } else if (std::strcmp(op, "Tc") == 0) {
    if (n >= 1) st->char_spacing = num_of(ops[n - 1]);
  } else if (std::strcmp(op, "Tz") == 0) {
    // The horizontal scaling is taken into the font size, in both directions, and builds up.
    if (n >= 1 && num_of(ops[n - 1]) > 0) {
      double size = num_of(ops[n - 1]) / 100.0 * st->font_size;
      if (size - size == 0 && size > 0) st->font_size = size;
    }
  } else if (std::strcmp(op, "Tj") == 0) {
    if (top_string) show_top_string(st, ops, n);
  } else if (std::strcmp(op, "'") == 0) {
    if (top_string) {
      move_line(st, 0, -st->leading);
      show_top_string(st, ops, n);
    }
  } else if (std::strcmp(op, "\"") == 0) {
    if (top_string && n >= 3) {
      move_line(st, 0, -st->leading);
      show_top_string(st, ops, n);
    }
  } else if (std::strcmp(op, "TJ") == 0) {
    show_array(st, ops, n);
  } else {
    return false;
  }
  return true;
}
