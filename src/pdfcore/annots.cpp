// Finding the annotations that draw on a page, by the same byte scans the rest of the reader
// uses: /Annots at the page's top level, each annotation inline or by reference.
#include "pdfcore/annots.h"

#include <cstring>

#include "pdfcore/lex.h"

namespace {

// The bytes of an object's value, searched from their first byte past white space.
bool obj_value(const pdf_doc &doc, const pdf_obj &o, const uint8_t **t, int32_t *from,
               int32_t *to) {
  int32_t n = 0;
  if (!obj_value_text(doc.data.get(), doc.len, o, t, &n)) return false;
  *from = skip_ws(*t, 0, n);
  *to = n;
  return true;
}

// The value of /key at the top level of the dictionary that starts at `from`: the position of
// the value after white space, or -1.
int32_t top_value(const uint8_t *t, int32_t from, int32_t to, const char *key) {
  int32_t k = find_name_top(t, to, from, to, key);
  if (k < 0) return -1;
  int32_t p = skip_ws(t, k + 1 + static_cast<int32_t>(std::strlen(key)), to);
  return p < to ? p : -1;
}

// Follows "n g R" at p to the referenced object's value; leaves (t, p, to) on a direct value.
bool resolve(const pdf_doc &doc, const uint8_t **t, int32_t *p, int32_t *to,
             const pdf_obj **target = nullptr) {
  if (!is_digit((*t)[*p])) return true;
  int32_t q = *p;
  int32_t num = parse_int_at(*t, *to, &q);
  if (num <= 0) return false;
  const pdf_obj *o = obj_find(doc.objs, num);
  if (!o) return false;
  if (target) *target = o;
  int32_t from;
  if (!obj_value(doc, *o, t, &from, to)) return false;
  *p = from;
  return true;
}

double read_real(const uint8_t *t, int32_t *p, int32_t to) {
  *p = skip_ws(t, *p, to);
  char tmp[40];
  int n = 0;
  while (*p < to && n < 39 && (is_digit(t[*p]) || t[*p] == '-' || t[*p] == '+' || t[*p] == '.'))
    tmp[n++] = static_cast<char>(t[(*p)++]);
  tmp[n] = 0;
  return n ? std::strtod(tmp, nullptr) : 0.0;
}

// Decides whether one annotation dictionary (at p, "<<") shows, and where.
bool annot_shows(const pdf_doc &doc, const uint8_t *t, int32_t p, int32_t to,
                 annot_appearance *out) {
  int32_t close = find_dict_close(t, p, to);
  if (close < 0) close = to;
  int32_t end = close + 2 < to ? close + 2 : to;
  int32_t st = top_value(t, p, end, "Subtype");
  if (st >= 0 && t[st] == '/') {
    if (find_name(t, end, st, end, "Link") == st) return false;
    if (find_name(t, end, st, end, "Popup") == st) return false;
  }
  int32_t f = top_value(t, p, end, "F");
  if (f >= 0 && is_digit(t[f])) {
    int32_t q = f;
    int32_t flags = parse_int_at(t, end, &q);
    if (flags > 0 && (flags & 2)) return false;  // Hidden
  }
  int32_t r = top_value(t, p, end, "Rect");
  if (r >= 0 && t[r] == '[') {
    int32_t q = r + 1;
    for (double &v : out->rect) v = read_real(t, &q, end);
  }
  // The state selected by /AS, when the appearance has states.
  char state[128] = "";
  int32_t as = top_value(t, p, end, "AS");
  if (as >= 0 && t[as] == '/') {
    int n = 0;
    for (int32_t q = as + 1; q < end && n < 127 && !is_pdf_ws(t[q]) && t[q] != '/' &&
                             t[q] != '>' && t[q] != '[' && t[q] != '(' && t[q] != '<';
         ++q)
      state[n++] = static_cast<char>(t[q]);
    state[n] = 0;
  }
  int32_t ap = top_value(t, p, end, "AP");
  if (ap < 0) return false;
  const uint8_t *at = t;
  int32_t ato = end;
  if (!resolve(doc, &at, &ap, &ato) || ap >= ato || at[ap] != '<') return false;
  int32_t n = top_value(at, ap, ato, "N");
  if (n < 0) return false;
  if (is_digit(at[n])) {
    const pdf_obj *o = nullptr;
    int32_t q = n, nto = ato;
    const uint8_t *nt = at;
    if (!resolve(doc, &nt, &q, &nto, &o) || !o) return false;
    if (o->is_stream) {
      out->stream_num = o->num;
      return true;
    }
    at = nt;
    n = q;
    ato = nto;
  }
  if (n >= ato || at[n] != '<') return false;
  // A dictionary of appearance states: the one /AS names, or any when there is no /AS.
  int32_t dclose = find_dict_close(at, n, ato);
  int32_t dend = dclose < 0 ? ato : dclose;
  for (int32_t q = n + 2; q < dend; ++q) {
    if (at[q] != '/') continue;
    int32_t name_end = q + 1;
    while (name_end < dend && !is_pdf_ws(at[name_end]) && at[name_end] != '/' &&
           at[name_end] != '<' && at[name_end] != '[')
      ++name_end;
    bool wanted = state[0] == 0 ||
                  (static_cast<size_t>(name_end - q - 1) == std::strlen(state) &&
                   std::memcmp(at + q + 1, state, std::strlen(state)) == 0);
    int32_t v = skip_ws(at, name_end, dend);
    if (wanted && v < dend && is_digit(at[v])) {
      int32_t vq = v;
      int32_t num = parse_int_at(at, dend, &vq);
      const pdf_obj *o = num > 0 ? obj_find(doc.objs, num) : nullptr;
      if (o && o->is_stream) {
        out->stream_num = o->num;
        return true;
      }
    }
    q = name_end - 1;
  }
  return false;
}

}  // namespace

std::vector<annot_appearance> page_visible_annotations(const pdf_doc &doc, const pdf_obj &page) {
  std::vector<annot_appearance> found;
  const uint8_t *t;
  int32_t n;
  if (!obj_dict_text(doc.data.get(), doc.len, page, &t, &n)) return found;
  int32_t p = top_value(t, 0, n, "Annots");
  if (p < 0) return found;
  int32_t to = n;
  if (!resolve(doc, &t, &p, &to) || p >= to || t[p] != '[') return found;
  int32_t q = p + 1;
  while (q < to && t[q] != ']') {
    annot_appearance a;
    if (t[q] == '<' && q + 1 < to && t[q + 1] == '<') {
      if (annot_shows(doc, t, q, to, &a)) found.push_back(a);
      int32_t c = find_dict_close(t, q, to);
      q = c < 0 ? to : c + 2;
    } else if (is_digit(t[q])) {
      int32_t num = parse_int_at(t, to, &q);
      q = skip_ws(t, q, to);
      if (q < to && is_digit(t[q])) parse_int_at(t, to, &q);
      q = skip_ws(t, q, to);
      if (q < to && t[q] == 'R') ++q;
      const pdf_obj *o = num > 0 ? obj_find(doc.objs, num) : nullptr;
      const uint8_t *at;
      int32_t from, ato;
      if (o && obj_value(doc, *o, &at, &from, &ato) && from < ato && at[from] == '<' &&
          annot_shows(doc, at, from, ato, &a))
        found.push_back(a);
    } else {
      ++q;
    }
  }
  return found;
}
