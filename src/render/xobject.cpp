// Do and BI: image XObjects and inline images are decoded and drawn over the unit square of
// user space; a Form XObject's content runs in a nested state of its own, and whatever the
// form leaves in the shared raster's clip and line width is put back when it ends.

#include "render/xobject.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "pdfcore/buf.h"
#include "pdfcore/lex.h"
#include "pdfcore/streams.h"
#include "render/image.h"
#include "render/image_draw.h"
#include "render/interp.h"
#include "render/page_content.h"
#include "render/tokenizer.h"

namespace {

matrix &current_ctm(interp_state *st) { return st->ctm_stack[st->ctm_depth - 1]; }

// The six numbers of a /Matrix array, or false (the identity stands) when there are not six.
bool read_matrix(const uint8_t *t, int32_t len, matrix *m) {
  int32_t k = find_name(t, len, 0, len, "Matrix");
  if (k < 0) return false;
  int32_t p = skip_ws(t, k + 7, len);
  if (p >= len || t[p] != '[') return false;
  p++;
  double v[6];
  for (double &x : v)
    if (!read_real(t, len, &p, &x)) return false;
  *m = matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
  return true;
}

// An inline image drawn without a document (content run on its own) still decodes: it needs
// no object but itself.
const pdf_doc &doc_or_empty(const interp_state *st) {
  static const pdf_doc empty;
  return st->doc ? *st->doc : empty;
}

// Whether an image's filters end in the JPEG decoder, whose samples cost the most to make.
bool jpeg_image(const interp_state *st, const pdf_obj &obj) {
  const uint8_t *t = nullptr;
  int32_t len = 0;
  const pdf_doc &doc = doc_or_empty(st);
  if (!obj_dict_text(doc.data.get(), doc.len, obj, &t, &len)) return false;
  return find_name(t, len, 0, len, "DCTDecode") >= 0;
}

void draw_decoded(interp_state *st, const pdf_obj &obj, const image_options &opt) {
  if (!raster_spend(st->raster, k_work_draw)) return;
  int w = 0, h = 0, stencil = 0, unreadable = 0;
  c_ptr<uint8_t> alpha;
  // Knowing where the image lands, the decoder converts only the pixels the raster takes.
  image_box box;
  image_options o = opt;
  if (!st->raster->full_images && image_box_of(st, 1.0, 1.0, &box)) o.sample_only = &box;
  uint64_t source_pixels = 0;
  o.source_pixels = &source_pixels;
  bool sampled = false;
  c_ptr<uint8_t> px =
      decode_image(doc_or_empty(st), obj, &w, &h, &alpha, &stencil, &unreadable, o, &sampled);
  if (unreadable || !px) st->raster->unreadable = 1;
  if (!px) return;
  const int64_t samples = static_cast<int64_t>(std::max<uint64_t>(
      source_pixels, static_cast<uint64_t>(w) * static_cast<uint64_t>(h)));
  work_call *call = st->raster->call;
  bool first = false;
  if (call && obj.num > 0 && static_cast<size_t>(obj.num) < call->images_seen.size()) {
    first = !call->images_seen[static_cast<size_t>(obj.num)];
    call->images_seen[static_cast<size_t>(obj.num)] = 1;
  }
  if (!raster_spend(st->raster, samples * (jpeg_image(st, obj) ? k_work_jpeg_sample : k_work_sample),
                    first))
    return;
  if (sampled && !raster_spend(st->raster, static_cast<int64_t>(box.xb - box.xa) *
                                               static_cast<int64_t>(box.yb - box.ya) * k_work_pixel))
    return;
  // A page already kept needs no pixels of an image that could not be read.
  if (unreadable && st->raster->stop_when_kept) return;
  if (stencil) {
    // A stencil mask paints its marking samples in the fill colour.
    double r = 0, g = 0, b = 0;
    color_get(&st->fill_color, &r, &g, &b);
    const uint8_t c[3] = {static_cast<uint8_t>(r * 255 + 0.5), static_cast<uint8_t>(g * 255 + 0.5),
                          static_cast<uint8_t>(b * 255 + 0.5)};
    uint8_t *p = px.get();
    for (uint64_t i = 0, n = static_cast<uint64_t>(w) * static_cast<uint64_t>(h); i < n;
         i++, p += 4)
      std::memcpy(p, c, 3);
  }
  if (sampled)
    draw_sampled(st, box, px.get(), alpha.get(), st->raster->fill_opacity);
  else
    draw_pixels(st, 1.0, 1.0, w, h, px.get(), alpha.get(), st->raster->fill_opacity);
}

void draw_image(interp_state *st, const pdf_obj &obj, const uint8_t *t, int32_t len) {
  matrix saved = current_ctm(st);
  matrix m;
  if (read_matrix(t, len, &m)) mat_mult(&current_ctm(st), &current_ctm(st), &m);
  image_options opt;
  draw_decoded(st, obj, opt);
  current_ctm(st) = saved;
}

bool form_running(const interp_state *st, int32_t num) {
  for (const interp_state *s = st; s; s = s->caller)
    if (s->form_num == num) return true;
  return false;
}

void run_form(interp_state *st, const pdf_obj &obj, const uint8_t *t, int32_t len) {
  raster *r = st->raster;
  // A form inside itself, or nested deeper than any real document needs, is not run; the
  // page is then not judged on a render that lacks it.
  if (st->form_depth >= k_max_form_depth || form_running(st, obj.num)) {
    r->unreadable = 1;
    return;
  }
  if (!raster_spend(r, k_work_draw + static_cast<int64_t>(std::max(0, obj.stream_end - obj.stream_start)) * k_work_byte))
    return;
  matrix f = k_identity;
  read_matrix(t, len, &f);
  buf content;
  int unreadable = 0;
  if (!page_content_decoded(*st->doc, obj, content, &unreadable) || content.failed) {
    r->unreadable = 1;
    return;
  }
  if (unreadable) r->unreadable = 1;
  c_ptr<uint8_t> res = pdfcore_obj_resources(*st->doc, obj.num);
  std::unique_ptr<interp_state> fs(new (std::nothrow) interp_state);
  if (!fs) {
    r->unreadable = 1;
    return;
  }
  matrix ctm;
  mat_mult(&ctm, &current_ctm(st), &f);
  if (res) {
    int32_t rl = static_cast<int32_t>(std::strlen(reinterpret_cast<const char *>(res.get())));
    interp_state_setup(*fs, st->doc, r, res.get(), rl, ctm);
  } else {
    interp_state_setup(*fs, st->doc, r, st->resources, st->resources_len, ctm);
  }
  fs->fill_color = st->fill_color;
  fs->stroke_color = st->stroke_color;
  fs->fill_space = st->fill_space;
  fs->stroke_space = st->stroke_space;
  fs->text_matrix = st->text_matrix;
  fs->line_matrix = matrix{0, 0, 0, 0, 0, 0};
  fs->font = st->font;
  fs->font_size = st->font_size;
  fs->leading = st->leading;
  fs->word_spacing = st->word_spacing;
  fs->char_spacing = st->char_spacing;
  fs->caller = st;
  fs->form_num = obj.num;
  fs->form_depth = st->form_depth + 1;

  // The format brackets a form in q and Q: its clip and line width end with it.
  pix_box clip = r->clip;
  pix_box stack[k_clip_stack_size];
  std::memcpy(stack, r->clip_stack, sizeof stack);
  int depth = r->clip_depth, empty = r->clip_empty;
  double lw = r->line_width;
  int32_t n = content.len > INT32_MAX ? INT32_MAX : static_cast<int32_t>(content.len);
  interp_execute(fs.get(), content.data, n);
  r->clip = clip;
  std::memcpy(r->clip_stack, stack, sizeof stack);
  r->clip_depth = depth;
  r->clip_empty = empty;
  r->line_width = lw;
}

// The full filter name an inline image's abbreviation stands for.
const char *filter_name(const char *s) {
  static const char *const pairs[][2] = {{"AHx", "ASCIIHexDecode"}, {"A85", "ASCII85Decode"},
                                         {"LZW", "LZWDecode"},      {"Fl", "FlateDecode"},
                                         {"RL", "RunLengthDecode"}, {"CCF", "CCITTFaxDecode"},
                                         {"DCT", "DCTDecode"}};
  for (const auto &p : pairs)
    if (std::strcmp(s, p[0]) == 0) return p[1];
  return s;
}

}  // namespace

void xobject_do(interp_state *st, const char *name) {
  if (!st || !st->raster || !st->doc || !name || !st->resources) return;
  int kind = -1;
  int32_t pos = res_value(st->resources, st->resources_len, "XObject", &kind);
  if (pos < 0 || kind == RES_ARRAY) return;
  res_span dict;
  if (!res_deref(st->doc, res_span{st->resources, pos, st->resources_len}, &dict)) return;
  int32_t v = dict_value(dict.data, dict.pos, dict.end, name);
  if (v < 0) return;
  v = skip_blank(dict.data, v, dict.end);
  // Only indirect references are followed: an XObject must be a stream.
  if (v >= dict.end || !is_digit(dict.data[v])) return;
  const pdf_obj *obj = obj_find(st->doc->objs, parse_int_at(dict.data, dict.end, &v));
  if (!obj) return;
  const uint8_t *t = nullptr;
  int32_t len = 0;
  if (!obj_dict_text(st->doc->data.get(), st->doc->len, *obj, &t, &len)) return;
  int32_t sub = find_name(t, len, 0, len, "Subtype");
  int32_t sv = sub < 0 ? -1 : skip_ws(t, sub + 8, len);
  bool image = sv >= 0 ? kw_at(t, sv + 1, len, "Image") && t[sv] == '/'
                       : find_name(t, len, 0, len, "Image") >= 0;
  bool form = sv >= 0 ? kw_at(t, sv + 1, len, "Form") && t[sv] == '/'
                      : find_name(t, len, 0, len, "Form") >= 0;
  if (image)
    draw_image(st, *obj, t, len);
  else if (form)
    run_form(st, *obj, t, len);
}

void inline_image_draw(interp_state *st, const uint8_t *content, int32_t params, int32_t id,
                       int32_t data_start, int32_t data_end) {
  if (!st || !st->raster || !content || id < params || data_end < data_start) return;
  std::string text;
  try {
    text = "<< ";
    // Filters are written out in full ahead of the parameters, where the stream decoder
    // finds them first.
    int32_t k = find_name(content, id, params, id, "Filter");
    int32_t klen = 7;
    if (k < 0) {
      k = find_name(content, id, params, id, "F");
      klen = 2;
    }
    if (k >= 0) {
      text += "/Filter [";
      int32_t p = skip_blank(content, k + klen, id);
      int32_t end = p < id ? value_end(content, p, id) : id;
      while (p < end) {
        token tk;
        int32_t q = token_next(content, end, p, &tk);
        if (tk.type == TOK_NAME) {
          text += " /";
          text += filter_name(tk.name);
        }
        token_release(&tk);
        if (q <= p) break;
        p = q;
      }
      text += " ] ";
    }
    // So are the decode parameters and the height (the fax decoder's bound on its rows), under
    // the full keys the stream decoder reads; their values are written as they stand.
    static const char *const keys[][3] = {{"DecodeParms", "DP", "/DecodeParms "},
                                          {"Height", "H", "/Height "}};
    for (const auto &key : keys) {
      int32_t q = find_name(content, id, params, id, key[0]);
      int32_t qlen = static_cast<int32_t>(std::strlen(key[0])) + 1;
      if (q < 0) {
        q = find_name(content, id, params, id, key[1]);
        qlen = static_cast<int32_t>(std::strlen(key[1])) + 1;
      }
      if (q < 0) continue;
      int32_t p = skip_blank(content, q + qlen, id);
      if (p >= id) continue;
      int32_t end = value_end(content, p, id);
      text += key[2];
      text.append(reinterpret_cast<const char *>(content + p), static_cast<size_t>(end - p));
      text += ' ';
    }
    text.append(reinterpret_cast<const char *>(content + params), static_cast<size_t>(id - params));
    text += " >>\n";
    text.append(reinterpret_cast<const char *>(content + data_start),
                static_cast<size_t>(data_end - data_start));
  } catch (const std::bad_alloc &) {
    return;
  }
  if (text.size() > INT32_MAX) return;
  pdf_obj obj;
  obj.num = -999;
  obj.is_stream = 1;
  obj.in_objstm = 1;
  obj.text = reinterpret_cast<const uint8_t *>(text.data());
  obj.text_len = static_cast<int32_t>(text.size());
  obj.stream_end = obj.text_len;
  obj.stream_start = obj.text_len - (data_end - data_start);
  image_options opt;
  opt.abbreviations = true;
  opt.resources = st->resources;
  opt.resources_len = st->resources_len;
  if (data_end == data_start) {
    st->raster->unreadable = 1;
    return;
  }
  draw_decoded(st, obj, opt);
}
