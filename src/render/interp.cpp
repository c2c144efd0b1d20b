// The content-stream interpreter: operand stack, operator dispatch, the graphics-state and
// colour operators, and the lookups of named resources. Each operator runs the moment it is
// read, with the operands then on the stack, and the stack is emptied after it.

#include "render/interp.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "pdfcore/lex.h"
#include "render/clip.h"
#include "render/fill.h"
#include "render/stroke.h"
#include "render/text.h"
#include "render/xobject.h"

namespace {

enum op_id {
  OP_UNKNOWN,
  OP_q, OP_Q, OP_cm, OP_w,
  OP_m, OP_l, OP_c, OP_v, OP_y, OP_h, OP_re, OP_n,
  OP_f, OP_F, OP_f_star, OP_B, OP_b, OP_B_star, OP_b_star, OP_S, OP_W, OP_W_star,
  OP_g, OP_G, OP_rg, OP_RG, OP_k, OP_K, OP_cs, OP_CS, OP_sc, OP_SC, OP_scn, OP_SCN,
  OP_sh,
  OP_BT, OP_Tf, OP_Td, OP_TD, OP_Tm, OP_T_star, OP_Tw, OP_Tc, OP_Tz, OP_TJ, OP_Tj,
  OP_quote, OP_dquote,
  OP_BI, OP_Do,
};

constexpr int two(char a, char b) { return (static_cast<uint8_t>(a) << 8) | static_cast<uint8_t>(b); }

op_id lookup_op(const char *s, int32_t n) {
  if (n == 1) {
    switch (s[0]) {
      case 'q': return OP_q;
      case 'Q': return OP_Q;
      case 'w': return OP_w;
      case 'm': return OP_m;
      case 'l': return OP_l;
      case 'c': return OP_c;
      case 'v': return OP_v;
      case 'y': return OP_y;
      case 'h': return OP_h;
      case 'n': return OP_n;
      case 'f': return OP_f;
      case 'F': return OP_F;
      case 'B': return OP_B;
      case 'b': return OP_b;
      case 'S': return OP_S;
      case 'W': return OP_W;
      case 'g': return OP_g;
      case 'G': return OP_G;
      case 'r': return OP_rg;
      case 'R': return OP_RG;
      case 'k': return OP_k;
      case 'K': return OP_K;
      case '\'': return OP_quote;
      case '"': return OP_dquote;
      default: return OP_UNKNOWN;
    }
  }
  if (n == 2) {
    switch (two(s[0], s[1])) {
      case two('c', 'm'): return OP_cm;
      case two('r', 'e'): return OP_re;
      case two('f', '*'): return OP_f_star;
      case two('B', '*'): return OP_B_star;
      case two('b', '*'): return OP_b_star;
      case two('W', '*'): return OP_W_star;
      case two('r', 'g'): return OP_rg;
      case two('R', 'G'): return OP_RG;
      case two('c', 's'): return OP_cs;
      case two('C', 'S'): return OP_CS;
      case two('s', 'c'): return OP_sc;
      case two('S', 'C'): return OP_SC;
      case two('s', 'h'): return OP_sh;
      case two('T', 'f'): return OP_Tf;
      case two('T', 'd'): return OP_Td;
      case two('T', 'D'): return OP_TD;
      case two('T', 'm'): return OP_Tm;
      case two('T', '*'): return OP_T_star;
      case two('T', 'w'): return OP_Tw;
      case two('T', 'c'): return OP_Tc;
      case two('T', 'z'): return OP_Tz;
      case two('T', 'J'): return OP_TJ;
      case two('T', 'j'): return OP_Tj;
      case two('B', 'I'): return OP_BI;
      case two('B', 'T'): return OP_BT;
      case two('D', 'o'): return OP_Do;
      default: return OP_UNKNOWN;
    }
  }
  if (n == 3) {
    if (std::memcmp(s, "scn", 3) == 0) return OP_scn;
    if (std::memcmp(s, "SCN", 3) == 0) return OP_SCN;
  }
  return OP_UNKNOWN;
}

matrix &current_ctm(interp_state *st) { return st->ctm_stack[st->ctm_depth - 1]; }

void op_save(interp_state *st) {
  if (st->ctm_depth >= k_ctm_stack_size) {
    st->q_overflow++;
    return;
  }
  gstate_saved &s = st->saved[st->ctm_depth - 1];
  s.fill_color = st->fill_color;
  s.stroke_color = st->stroke_color;
  s.fill_space = st->fill_space;
  s.stroke_space = st->stroke_space;
  s.line_width = st->raster ? st->raster->line_width : 1.0;
  st->ctm_stack[st->ctm_depth] = st->ctm_stack[st->ctm_depth - 1];
  st->ctm_depth++;
}

// The clip pop is not paired with the q that opened the level: whatever rectangle was saved
// last, by this stream or an enclosing one, comes back.
void clip_pop(raster *r) {
  if (!r || r->clip_depth <= 0) return;
  if (r->clip_depth > k_clip_stack_size) r->clip_depth = k_clip_stack_size;
  r->clip_depth--;
  r->clip = r->clip_stack[r->clip_depth];
  r->clip_empty = (r->clip.x0 >= r->clip.x1 || r->clip.y0 >= r->clip.y1) ? 1 : 0;
}

void op_restore(interp_state *st) {
  if (st->q_overflow > 0) {
    st->q_overflow--;
  } else if (st->ctm_depth > 1) {
    st->ctm_depth--;
    gstate_saved &s = st->saved[st->ctm_depth - 1];
    st->fill_color = s.fill_color;
    st->stroke_color = s.stroke_color;
    st->fill_space = std::move(s.fill_space);
    st->stroke_space = std::move(s.stroke_space);
    if (st->raster) st->raster->line_width = s.line_width;
  }
  clip_pop(st->raster);
}

colour_space space_for(interp_state *st, const token &name) {
  const bool cacheable = name.len < k_token_inline;
  if (cacheable) {
    for (int i = 0; i < st->cs_cache_count; i++)
      if (std::strcmp(st->cs_cache[i].name, name.name) == 0) return st->cs_cache[i].space;
  }
  colour_space cs = colour_space_named(st->doc, st->resources, st->resources_len, name.name);
  if (cacheable && st->cs_cache_count < k_colour_space_cache) {
    colour_space_entry &e = st->cs_cache[st->cs_cache_count++];
    std::memcpy(e.name, name.name, static_cast<size_t>(name.len) + 1);
    e.space = cs;
  }
  return cs;
}

color device_color(int space, const token *ops, int n) {
  color c;
  c.space = space;
  for (int i = 0; i < n; i++) c.comp[i] = ops[i].num;
  return c;
}

// True when the top of the stack holds a string (Tj, ' and "), or, for TJ, when the array
// opened by the topmost '[' holds one.
bool shows_string(op_id op, const token *ops, int n) {
  if (n < 1) return false;
  if (op != OP_TJ) return ops[n - 1].type == TOK_STRING;
  int mark = n - 1;
  while (mark >= 0 && ops[mark].type != TOK_ARRAY) mark--;
  if (mark < 0) return false;
  for (int i = mark + 1; i < n; i++)
    if (ops[i].type == TOK_STRING) return true;
  return false;
}

// Where an inline image's data stand: from right after ID (one line end skipped) to the EI
// that ends them, or to the end of the content.
struct inline_image_extent {
  int32_t id = -1;          // the ID keyword, -1 when there is none
  int32_t data_start = 0;
  int32_t data_end = 0;
  int32_t resume = 0;       // where the content continues
};

inline_image_extent find_inline_image(const uint8_t *content, int32_t len, int32_t after_bi) {
  inline_image_extent x;
  x.id = find_kw(content, len, after_bi, "ID");
  if (x.id < 0) {
    x.resume = len;
    return x;
  }
  int32_t ds = x.id + 2;
  // The format puts one white-space byte (or a CR LF pair) between ID and the data.
  if (ds + 1 < len && content[ds] == '\r' && content[ds + 1] == '\n')
    ds += 2;
  else if (ds < len && is_pdf_ws(content[ds]) && content[ds] != 0)
    ds++;
  int32_t ei = find_kw(content, len, ds, "EI");
  x.data_start = ds;
  x.data_end = ei < 0 ? len : ei;
  x.resume = ei < 0 ? len : ei + 2;
  return x;
}

// Operands read as numbers; what is not finite counts as 0.
double num_at(const token *ops, int n, int k, int i) { return finite_or_zero(ops[n - k + i].num); }

// Path construction, painting and clipping. A W or W* only marks the clip: the path is painted
// by the operator that ends it, and the clip takes its box after that.
void path_op(interp_state *st, op_id op, const token *ops, int n) {
  path *p = &st->path;
  switch (op) {
    case OP_m:
      if (n >= 2) path_move(p, num_at(ops, n, 2, 0), num_at(ops, n, 2, 1));
      return;
    case OP_l:
      if (n >= 2) path_line(p, num_at(ops, n, 2, 0), num_at(ops, n, 2, 1));
      return;
    case OP_c:
      if (n >= 6)
        path_cubic(p, num_at(ops, n, 6, 0), num_at(ops, n, 6, 1), num_at(ops, n, 6, 2),
                   num_at(ops, n, 6, 3), num_at(ops, n, 6, 4), num_at(ops, n, 6, 5));
      return;
    case OP_v:
      if (n >= 4)
        path_cubic(p, p->cur_x, p->cur_y, num_at(ops, n, 4, 0), num_at(ops, n, 4, 1),
                   num_at(ops, n, 4, 2), num_at(ops, n, 4, 3));
      return;
    case OP_y:
      if (n >= 4) {
        double x3 = num_at(ops, n, 4, 2), y3 = num_at(ops, n, 4, 3);
        path_cubic(p, num_at(ops, n, 4, 0), num_at(ops, n, 4, 1), x3, y3, x3, y3);
      }
      return;
    case OP_h:
      path_close(p);
      return;
    case OP_re:
      if (n >= 4)
        path_rect(p, num_at(ops, n, 4, 0), num_at(ops, n, 4, 1), num_at(ops, n, 4, 2),
                  num_at(ops, n, 4, 3));
      return;
    case OP_W:
    case OP_W_star:
      st->clip_pending = 1;
      return;
    default:
      break;
  }
  raster *r = st->raster;
  const matrix *ctm = &current_ctm(st);
  if (r) {
    double fr = 0, fg = 0, fb = 0, sr = 0, sg = 0, sb = 0;
    color_get(&st->fill_color, &fr, &fg, &fb);
    color_get(&st->stroke_color, &sr, &sg, &sb);
    switch (op) {
      case OP_f:
        raster_fill(r, p, ctm, 1, fr, fg, fb, r->fill_opacity);
        break;
      case OP_F:
        raster_fill(r, p, ctm, 1, 0, 0, 0, r->fill_opacity);
        break;
      case OP_f_star:
        raster_fill(r, p, ctm, 0, fr, fg, fb, r->fill_opacity);
        break;
      case OP_B: case OP_b: case OP_B_star: case OP_b_star:
        raster_fill(r, p, ctm, op == OP_B || op == OP_b ? 1 : 0, fr, fg, fb, r->fill_opacity);
        raster_stroke(r, p, ctm, sr, sg, sb, r->stroke_opacity);
        break;
      case OP_S:
        raster_stroke(r, p, ctm, sr, sg, sb, r->stroke_opacity);
        break;
      default:
        break;
    }
    if (st->clip_pending) clip_push(r, p, ctm);
  }
  st->clip_pending = 0;
  path_reset(p);
}

// Runs one operator with the operands ops[0..n-1]; returns where the content continues.
int32_t run_operator(interp_state *st, const token &optok, const token *ops, int n,
                     const uint8_t *content, int32_t len, int32_t p) {
  const op_id op = lookup_op(optok.name, optok.len);
  const token *top = n > 0 ? &ops[n - 1] : nullptr;
  switch (op) {
    case OP_q:
      op_save(st);
      break;
    case OP_Q:
      op_restore(st);
      break;
    case OP_cm:
      if (n >= 6) {
        const token *o = ops + n - 6;
        matrix m = {o[0].num, o[1].num, o[2].num, o[3].num, o[4].num, o[5].num};
        mat_mult(&current_ctm(st), &current_ctm(st), &m);
      }
      break;
    case OP_w:
      if (st->raster) {
        double w = top ? top->num : st->raster->line_width;
        st->raster->line_width = w < 0.25 ? 0.25 : w;
      }
      break;

    case OP_m: case OP_l: case OP_c: case OP_v: case OP_y: case OP_h: case OP_re: case OP_n:
    case OP_f: case OP_F: case OP_f_star: case OP_B: case OP_b: case OP_B_star:
    case OP_b_star: case OP_S: case OP_W: case OP_W_star:
      path_op(st, op, ops, n);
      break;

    case OP_g:
    case OP_G:
      if (n >= 1) {
        bool fill = op == OP_g;
        (fill ? st->fill_color : st->stroke_color) = device_color(COLOR_GRAY, ops + n - 1, 1);
        (fill ? st->fill_space : st->stroke_space) = colour_space_device(CS_GRAY);
      }
      break;
    case OP_rg:
    case OP_RG:
      if (n >= 3) {
        bool fill = op == OP_rg;
        (fill ? st->fill_color : st->stroke_color) = device_color(COLOR_RGB, ops + n - 3, 3);
        (fill ? st->fill_space : st->stroke_space) = colour_space_device(CS_RGB);
      }
      break;
    case OP_k:
    case OP_K:
      if (n >= 4) {
        bool fill = op == OP_k;
        (fill ? st->fill_color : st->stroke_color) = device_color(COLOR_CMYK, ops + n - 4, 4);
        (fill ? st->fill_space : st->stroke_space) = colour_space_device(CS_CMYK);
      }
      break;
    case OP_cs:
    case OP_CS:
      if (top && top->type == TOK_NAME) {
        bool fill = op == OP_cs;
        colour_space cs = space_for(st, *top);
        (fill ? st->fill_color : st->stroke_color) = colour_initial(cs);
        (fill ? st->fill_space : st->stroke_space) = std::move(cs);
      }
      break;
    case OP_sc:
    case OP_scn:
      colour_from_operands(st->fill_space, ops, n, &st->fill_color);
      break;
    case OP_SC:
    case OP_SCN:
      colour_from_operands(st->stroke_space, ops, n, &st->stroke_color);
      break;

    case OP_sh:
      if (top && top->type == TOK_NAME && st->raster) {
        res_span v;
        if (res_named(st->doc, st->resources, st->resources_len, "Shading", top->name, &v))
          st->raster->shading = 1;
      }
      break;

    case OP_TJ:
    case OP_Tj:
    case OP_quote:
    case OP_dquote:
      if (st->raster && shows_string(op, ops, n)) st->raster->text_shown = 1;
      // A page that shows text is kept whatever its pixels: when only the verdict is wanted,
      // its glyphs need not be painted.
      if (!st->raster || !st->raster->stop_when_kept || !st->raster->text_shown)
        text_operator(st, optok.name, ops, n);
      break;
    case OP_BT: case OP_Tf: case OP_Td: case OP_TD: case OP_Tm: case OP_T_star: case OP_Tw:
    case OP_Tc: case OP_Tz:
      text_operator(st, optok.name, ops, n);
      break;

    case OP_BI: {
      // The image data may hold any bytes; they are stepped over whole so that none of them
      // is read as an operator.
      inline_image_extent x = find_inline_image(content, len, p);
      if (x.id >= 0) inline_image_draw(st, content, p, x.id, x.data_start, x.data_end);
      return x.resume;
    }
    case OP_Do:
      if (n >= 1 && ops[n - 1].type == TOK_NAME) xobject_do(st, ops[n - 1].name);
      break;
    case OP_UNKNOWN:
      break;
  }
  return p;
}

// The value of a dictionary or array object sits in the file after "num gen obj".
int32_t value_after_obj_kw(const uint8_t *data, int32_t end, int32_t head) {
  int32_t k = find_kw(data, end, head, "obj");
  return k < 0 ? -1 : skip_blank(data, k + 3, end);
}

}  // namespace

void mat_mult(matrix *out, const matrix *A, const matrix *B) {
  matrix r;
  r.a = A->a * B->a + A->c * B->b;
  r.b = A->b * B->a + A->d * B->b;
  r.c = A->a * B->c + A->c * B->d;
  r.d = A->b * B->c + A->d * B->d;
  r.e = A->a * B->e + A->c * B->f + A->e;
  r.f = A->b * B->e + A->d * B->f + A->f;
  *out = r;
}

void interp_state_setup(interp_state &st, const pdf_doc *doc, raster *r,
                        const uint8_t *resources, int32_t resources_len, const matrix &ctm0) {
  st.doc = doc;
  st.raster = r;
  st.resources = resources;
  st.resources_len = resources && resources_len > 0 ? resources_len : 0;
  for (matrix &m : st.ctm_stack) m = matrix{0, 0, 0, 0, 0, 0};
  st.ctm_stack[0] = ctm0;
  st.ctm_depth = 1;
  st.fill_color = color{};
  st.fill_color.space = COLOR_RGB;
  st.stroke_color = st.fill_color;
  st.text_matrix = k_identity;
  st.line_matrix = k_identity;
  st.font_size = 12.0;
  st.font = nullptr;
  st.leading = 0;
  st.word_spacing = 0;
  st.char_spacing = 0;
  st.fill_space = colour_space_device(CS_RGB);
  st.stroke_space = st.fill_space;
  for (gstate_saved &s : st.saved) s = gstate_saved{};
  st.q_overflow = 0;
  for (colour_space_entry &e : st.cs_cache) e = colour_space_entry{};
  st.cs_cache_count = 0;
  path_reset(&st.path);
  st.clip_pending = 0;
}

void interp_execute(interp_state *st, const uint8_t *content, int32_t len) {
  if (!st || !content || len < 1) return;
  if (st->raster && !raster_spend(st->raster, static_cast<int64_t>(len) * k_work_byte)) return;
  // The stack lives on the heap: forms and glyph procedures nest interpreters by recursion.
  std::vector<token> stack;
  try {
    stack.resize(k_operand_stack_size);
  } catch (const std::bad_alloc &) {
    return;
  }
  int count = 0;
  token t;
  int32_t p = 0;
  while (p < len) {
    p = token_next(content, len, p, &t);
    if (t.type == TOK_NONE) continue;
    if (t.type != TOK_OPERATOR) {
      if (count == k_operand_stack_size) {
        for (int i = 0; i < count; i++) token_release(&stack[i]);
        count = 0;
      }
      stack[count++] = std::move(t);
      continue;
    }
    p = run_operator(st, t, stack.data(), count, content, len, p);
    for (int i = 0; i < count; i++) token_release(&stack[i]);
    count = 0;
    // Once the page is kept whatever its pixels, the rest of its drawing decides nothing.
    if (st->raster && st->raster->stop_when_kept &&
        (st->raster->unreadable || st->raster->text_shown || st->raster->shading))
      return;
    if (st->raster && st->raster->halted) return;
  }
}

int res_value(const uint8_t *text, int32_t len, const char *key, int *kind) {
  if (!text || len <= 0) return -1;
  int32_t p = find_name(text, len, 0, len, key);
  if (p < 0) return -1;
  int32_t q = skip_ws(text, p + static_cast<int32_t>(std::strlen(key)) + 1, len);
  if (q >= len) return -1;
  if (text[q] == '<') {
    if (q + 1 >= len || text[q + 1] != '<') return -1;
    *kind = RES_DICT;
    return q;
  }
  if (text[q] == '[') {
    *kind = RES_ARRAY;
    return q;
  }
  if (!is_digit(text[q])) return -1;
  int32_t r = q;
  if (parse_int_at(text, len, &r) <= 0) return -1;
  r = skip_ws(text, r, len);
  if (r >= len) return -1;
  if (is_digit(text[r])) {
    while (r < len && is_digit(text[r])) r++;
    r = skip_ws(text, r, len);
    if (r >= len) return -1;
  }
  if (text[r] != 'R') return -1;
  *kind = RES_REF;
  return q;
}

bool obj_value(const pdf_doc &doc, const pdf_obj &obj, res_span *out) {
  const uint8_t *text = nullptr;
  int32_t text_len = 0;
  if (obj_dict_text(doc.data.get(), doc.len, obj, &text, &text_len) && text && text_len > 0) {
    int32_t p = skip_blank(text, 0, text_len);
    if (p >= text_len) return false;
    *out = res_span{text, p, text_len};
    return true;
  }
  if (obj.head < 0 || obj.head >= doc.len || !doc.data) return false;
  int32_t end = obj.endobj >= 0 && obj.endobj <= doc.len ? obj.endobj : doc.len;
  int32_t p = value_after_obj_kw(doc.data.get(), end, obj.head);
  if (p < 0 || p >= end) return false;
  *out = res_span{doc.data.get(), p, end};
  return true;
}

bool res_deref(const pdf_doc *doc, res_span v, res_span *out, const pdf_obj **obj) {
  if (obj) *obj = nullptr;
  // A chain of references longer than this is taken for a loop.
  for (int hop = 0; hop < 8; hop++) {
    int32_t p = skip_blank(v.data, v.pos, v.end);
    if (!v.data || p >= v.end) return false;
    int32_t e = is_digit(v.data[p]) ? value_end(v.data, p, v.end) : p;
    if (e <= p || v.data[e - 1] != 'R') {
      *out = res_span{v.data, p, v.end};
      return true;
    }
    int32_t q = p;
    int32_t num = parse_int_at(v.data, v.end, &q);
    if (!doc || num <= 0) return false;
    const pdf_obj *o = obj_find(doc->objs, num);
    if (!o || !obj_value(*doc, *o, &v)) return false;
    if (obj) *obj = o;
  }
  return false;
}

bool res_named(const pdf_doc *doc, const uint8_t *res, int32_t res_len, const char *category,
               const char *name, res_span *out) {
  int kind = -1;
  int32_t pos = res_value(res, res_len, category, &kind);
  if (pos < 0 || kind == RES_ARRAY) return false;
  res_span dict;
  if (!res_deref(doc, res_span{res, pos, res_len}, &dict)) return false;
  int32_t v = dict_value(dict.data, dict.pos, dict.end, name);
  if (v < 0) return false;
  return res_deref(doc, res_span{dict.data, v, dict.end}, out);
}
