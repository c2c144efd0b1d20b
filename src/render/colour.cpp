// Colour conversion and colour spaces. Every space of the format is reduced, when a colour is
// set in it, to gray, RGB or CMYK components; what cannot be read errs towards ink rather than
// paper, since a page is only judged blank by what it visibly paints.

#include "render/colour.h"

#include <cstring>
#include <new>

#include "pdfcore/lex.h"
#include "render/filters.h"
#include "render/interp.h"

namespace {

// A colour component in 0..1; NaN counts as 0.
double unit(double v) {
  if (!(v > 0)) return 0;
  return v > 1 ? 1 : v;
}

color make_color(int space, double c0, double c1 = 0, double c2 = 0, double c3 = 0) {
  color c;
  c.space = space;
  c.comp[0] = c0;
  c.comp[1] = c1;
  c.comp[2] = c2;
  c.comp[3] = c3;
  return c;
}

color black() { return make_color(COLOR_GRAY, 0); }

// The colour of the components v[0..ncomp-1] in a space that is not Indexed.
color base_colour(int kind, int ncomp, const double *v) {
  switch (kind) {
    case CS_GRAY:
      return make_color(COLOR_GRAY, v[0]);
    case CS_RGB:
      return make_color(COLOR_RGB, v[0], v[1], v[2]);
    case CS_CMYK:
      return make_color(COLOR_CMYK, v[0], v[1], v[2], v[3]);
    case CS_LAB:
      return make_color(COLOR_GRAY, v[0] / 100.0);
    case CS_TINT: {
      double most = v[0];
      for (int i = 1; i < ncomp; i++)
        if (v[i] > most) most = v[i];
      return make_color(COLOR_GRAY, 1.0 - most);
    }
    default:
      return black();
  }
}

bool name_is(const token &t, const char *s) {
  return t.type == TOK_NAME && std::strcmp(t.name, s) == 0;
}

int device_kind(const token &t) {
  if (name_is(t, "DeviceGray") || name_is(t, "G") || name_is(t, "CalGray")) return CS_GRAY;
  if (name_is(t, "DeviceRGB") || name_is(t, "RGB") || name_is(t, "CalRGB")) return CS_RGB;
  if (name_is(t, "DeviceCMYK") || name_is(t, "CMYK")) return CS_CMYK;
  if (name_is(t, "Lab")) return CS_LAB;
  if (name_is(t, "Pattern")) return CS_PATTERN;
  return CS_UNKNOWN;
}

colour_space unknown_space() {
  colour_space cs;
  cs.kind = CS_UNKNOWN;
  cs.ncomp = 0;
  return cs;
}

// The token standing at v (references followed).
bool token_at(const pdf_doc *doc, res_span v, token *t) {
  res_span r;
  if (!res_deref(doc, v, &r)) return false;
  token_next(r.data, r.end, r.pos, t);
  return t->type != TOK_NONE;
}

// Element i of the array at a, references followed.
bool item_at(const pdf_doc *doc, res_span a, int i, res_span *out,
             const pdf_obj **obj = nullptr) {
  int32_t p = array_item(a.data, a.pos, a.end, i);
  if (p < 0) return false;
  return res_deref(doc, res_span{a.data, p, a.end}, out, obj);
}

// Components of an ICC profile stream, from its /N.
int icc_components(const pdf_doc *doc, res_span stream_dict) {
  int32_t p = dict_value(stream_dict.data, stream_dict.pos, stream_dict.end, "N");
  if (p < 0) return 0;
  token n;
  if (!token_at(doc, res_span{stream_dict.data, p, stream_dict.end}, &n) ||
      n.type != TOK_NUMBER)
    return 0;
  return static_cast<int>(n.num);
}

colour_space space_from_value(const pdf_doc *doc, res_span v, int depth);

// [/Indexed base hival lookup]: the lookup table's bytes, hival + 1 entries of as many bytes
// as the base space has components, turned into RGB once.
colour_space indexed_space(const pdf_doc *doc, res_span a, int depth) {
  colour_space cs;
  cs.kind = CS_INDEXED;
  cs.ncomp = 1;

  res_span base_v, hival_v, lookup_v;
  if (!item_at(doc, a, 1, &base_v) || !item_at(doc, a, 2, &hival_v)) return cs;
  colour_space base = space_from_value(doc, base_v, depth + 1);
  token hv;
  if (!token_at(doc, hival_v, &hv) || hv.type != TOK_NUMBER) return cs;
  int hival = hv.num > 0 ? (hv.num < k_palette_size - 1 ? static_cast<int>(hv.num)
                                                        : k_palette_size - 1)
                         : 0;

  std::shared_ptr<colour_palette> pal;
  try {
    pal = std::make_shared<colour_palette>();
  } catch (const std::bad_alloc &) {
    return cs;
  }
  pal->hival = hival;
  cs.palette = pal;
  if (base.kind > CS_TINT || base.ncomp < 1 || base.ncomp > 32) return cs;

  const pdf_obj *lookup_obj = nullptr;
  const uint8_t *bytes = nullptr;
  int32_t nbytes = 0;
  token str;
  c_ptr<uint8_t> decoded;
  if (item_at(doc, a, 3, &lookup_v, &lookup_obj)) {
    if (lookup_obj && lookup_obj->is_stream && doc) {
      decoded = rvx_stream_decode(*doc, *lookup_obj, &nbytes);
      bytes = decoded.get();
      if (!bytes) nbytes = 0;
    } else {
      token_next(lookup_v.data, lookup_v.end, lookup_v.pos, &str);
      if (str.type == TOK_STRING) {
        bytes = str.bytes;
        nbytes = str.len;
      }
    }
  }

  const int m = base.ncomp;
  for (int i = 0; i <= hival; i++) {
    if (static_cast<int64_t>(i + 1) * m > nbytes) break;
    double v[32];
    for (int j = 0; j < m; j++) {
      v[j] = bytes[i * m + j] / 255.0;
      if (base.kind == CS_LAB && j == 0) v[j] *= 100.0;
    }
    color c = base_colour(base.kind, m, v);
    double r, g, b;
    color_get(&c, &r, &g, &b);
    pal->rgb[i][0] = static_cast<float>(r);
    pal->rgb[i][1] = static_cast<float>(g);
    pal->rgb[i][2] = static_cast<float>(b);
  }
  return cs;
}

colour_space space_from_value(const pdf_doc *doc, res_span v, int depth) {
  int32_t p = skip_blank(v.data, v.pos, v.end);
  if (p >= v.end) return unknown_space();
  token family;
  if (v.data[p] == '/') {
    token_next(v.data, v.end, p, &family);
    int kind = device_kind(family);
    return kind == CS_LAB ? unknown_space() : colour_space_device(kind);
  }
  if (v.data[p] != '[') return unknown_space();
  res_span a{v.data, p, v.end};
  res_span first, second;
  if (!item_at(doc, a, 0, &first) || !token_at(doc, first, &family) ||
      family.type != TOK_NAME)
    return unknown_space();

  int kind = device_kind(family);
  if (kind != CS_UNKNOWN) return colour_space_device(kind);
  if (name_is(family, "ICCBased")) {
    if (!item_at(doc, a, 1, &second)) return unknown_space();
    switch (icc_components(doc, second)) {
      case 1: return colour_space_device(CS_GRAY);
      case 3: return colour_space_device(CS_RGB);
      case 4: return colour_space_device(CS_CMYK);
      default: return unknown_space();
    }
  }
  if (name_is(family, "Separation")) {
    colour_space cs;
    cs.kind = CS_TINT;
    cs.ncomp = 1;
    return cs;
  }
  if (name_is(family, "DeviceN")) {
    if (!item_at(doc, a, 1, &second)) return unknown_space();
    int n = array_count(second.data, second.pos, second.end);
    if (n < 1 || n > 32) return unknown_space();
    colour_space cs;
    cs.kind = CS_TINT;
    cs.ncomp = n;
    return cs;
  }
  // The base of an Indexed space is never Indexed itself, which bounds the nesting.
  if ((name_is(family, "Indexed") || name_is(family, "I")) && depth == 0)
    return indexed_space(doc, a, depth);
  return unknown_space();
}

}  // namespace

void color_get(const color *col, double *r, double *g, double *b) {
  double rr = 0, gg = 0, bb = 0;
  const double *c = col->comp;
  switch (col->space) {
    case COLOR_GRAY:
      rr = gg = bb = c[0];
      break;
    case COLOR_RGB:
      rr = c[0];
      gg = c[1];
      bb = c[2];
      break;
    case COLOR_CMYK:
      rr = (1 - c[0]) * (1 - c[3]);
      gg = (1 - c[1]) * (1 - c[3]);
      bb = (1 - c[2]) * (1 - c[3]);
      break;
    default:
      break;
  }
  *r = unit(rr);
  *g = unit(gg);
  *b = unit(bb);
}

colour_space colour_space_device(int kind) {
  colour_space cs;
  cs.kind = kind;
  switch (kind) {
    case CS_GRAY: cs.ncomp = 1; break;
    case CS_RGB: cs.ncomp = 3; break;
    case CS_CMYK: cs.ncomp = 4; break;
    case CS_LAB: cs.ncomp = 3; break;
    case CS_PATTERN: cs.ncomp = 1; break;
    case CS_UNKNOWN: cs.ncomp = 0; break;
    default: cs.ncomp = 1; break;
  }
  return cs;
}

colour_space colour_space_named(const pdf_doc *doc, const uint8_t *res, int32_t res_len,
                                const char *name) {
  static const struct {
    const char *name;
    int kind;
  } s_device[] = {
      {"DeviceGray", CS_GRAY}, {"G", CS_GRAY},       {"DeviceRGB", CS_RGB},
      {"RGB", CS_RGB},         {"DeviceCMYK", CS_CMYK}, {"CMYK", CS_CMYK},
      {"Pattern", CS_PATTERN},
  };
  for (const auto &d : s_device)
    if (std::strcmp(name, d.name) == 0) return colour_space_device(d.kind);
  res_span v;
  if (!res_named(doc, res, res_len, "ColorSpace", name, &v)) return unknown_space();
  return space_from_value(doc, v, 0);
}

color colour_initial(const colour_space &cs) {
  switch (cs.kind) {
    case CS_RGB:
      return make_color(COLOR_RGB, 0, 0, 0);
    case CS_CMYK:
      return make_color(COLOR_CMYK, 0, 0, 0, 1);
    case CS_INDEXED:
      if (cs.palette) {
        const float *e = cs.palette->rgb[0];
        return make_color(COLOR_RGB, e[0], e[1], e[2]);
      }
      return black();
    default:
      return black();
  }
}

bool colour_from_operands(const colour_space &cs, const token *ops, int n, color *out) {
  if (n < 1) return false;
  if (ops[n - 1].type == TOK_NAME || cs.kind == CS_PATTERN) {
    *out = black();
    return true;
  }
  double v[32];
  switch (cs.kind) {
    case CS_UNKNOWN: {
      int k = n >= 4 ? 4 : (n == 3 ? 3 : 1);
      for (int i = 0; i < k; i++) v[i] = ops[n - k + i].num;
      *out = base_colour(k == 4 ? CS_CMYK : (k == 3 ? CS_RGB : CS_GRAY), k, v);
      return true;
    }
    case CS_INDEXED: {
      double x = ops[n - 1].num;
      int hival = cs.palette ? cs.palette->hival : 0;
      int idx = x > 0 ? (x < hival ? static_cast<int>(x) : hival) : 0;
      if (!cs.palette) {
        *out = black();
      } else {
        const float *e = cs.palette->rgb[idx];
        *out = make_color(COLOR_RGB, e[0], e[1], e[2]);
      }
      return true;
    }
    default: {
      int k = cs.ncomp;
      if (k < 1 || k > 32 || n < k) return false;
      for (int i = 0; i < k; i++) v[i] = ops[n - k + i].num;
      *out = base_colour(cs.kind, k, v);
      return true;
    }
  }
}
