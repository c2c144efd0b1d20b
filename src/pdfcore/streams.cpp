// The bytes other modules work on: a stream's data (Flate-decoded here, every other filter
// left to the renderer), the joined content of a page or form, and copies of resource
// dictionaries, found on the object itself or up its /Parent chain.
#include "pdfcore/streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pdfcore/inflate.h"
#include "pdfcore/lex.h"

namespace {

// A first guess that fits typical content in one pass; anything that expands more is decoded
// again with room to grow, since an empty-looking page could otherwise be deleted.
constexpr uint64_t k_first_ratio = 20;
constexpr uint64_t k_first_extra = 4096;
constexpr uint64_t k_growth = 4;
// One bit of Deflate input never yields more than one 258-byte match, so a stream that fails
// with this much room fails for another reason than room.
constexpr uint64_t k_deflate_max_ratio = 258 * 8;

// Decodes Flate data behind out's content. The first attempt writes straight into `out`; the
// larger retries use a block of their own, so that a capacity nobody can have leaves the
// caller's buffer intact.
const uint8_t *inflate_into(const uint8_t *src, uint64_t src_len, buf &out, uint64_t *n) {
  const uint64_t most = std::min(src_len * k_deflate_max_ratio + k_first_extra, k_max_decoded_stream);
  uint64_t cap = std::min(src_len * k_first_ratio + k_first_extra, most);
  buf_reserve(out, cap);
  if (!buf_ok(out)) return nullptr;
  uint64_t got = 0;
  int how = 0;
  if (inflate_decompress_ex(src, src_len, out.data + out.len, cap, &got, &how) == 0) {
    const uint8_t *at = out.data + out.len;
    out.len += got;
    out.data[out.len] = 0;
    *n = got;
    return at;
  }
  out.data[out.len] = 0;
  // Only a full buffer is worth a larger one; truncated or refused data fail at any size.
  while (how == k_inflate_output_full && cap < most) {
    cap = std::min(cap * k_growth, most);
    c_ptr<uint8_t> block(static_cast<uint8_t *>(std::malloc(cap)));
    if (!block) return nullptr;
    if (inflate_decompress_ex(src, src_len, block.get(), cap, &got, &how) != 0) continue;
    const uint64_t at = out.len;
    buf_bytes(out, block.get(), got);
    if (!buf_ok(out)) return nullptr;
    *n = got;
    return out.data + at;
  }
  return nullptr;
}

// Appends the stream's data to `out`. False when it has none.
bool append_stream(const pdf_obj &obj, const uint8_t *data, int32_t len, buf &out) {
  uint64_t n = 0;
  const uint8_t *p = decoded_stream(obj, data, len, out, &n);
  if (!p) return false;
  if (p >= data && p < data + len) buf_bytes(out, p, n);
  return buf_ok(out);
}

// Joins the streams an array names, one line feed between them, so that the last operator of
// one stream and the first of the next never run together. Elements that are missing or yield
// nothing are passed over.
bool append_stream_array(const uint8_t *data, int32_t len, const objvec &objs, const uint8_t *t,
                         int32_t tl, int32_t open, buf &out) {
  bool any = false;
  int32_t p = open + 1;
  while (p < tl && t[p] != ']') {
    if (!is_digit(t[p])) {
      ++p;
      continue;
    }
    int32_t q = p;
    int32_t num = parse_int_at(t, tl, &q);
    p = skip_ws(t, q > p ? q : p + 1, tl);
    if (p < tl && is_digit(t[p])) {
      q = p;
      parse_int_at(t, tl, &q);
      p = skip_ws(t, q > p ? q : p + 1, tl);
    }
    if (p < tl && t[p] == 'R') p = skip_ws(t, p + 1, tl);

    const pdf_obj *element = num >= 1 ? obj_find(objs, num) : nullptr;
    if (!element) continue;
    const uint64_t mark = out.len;
    if (any) buf_bytes(out, "\n", 1);
    if (append_stream(*element, data, len, out)) {
      any = true;
    } else if (buf_ok(out)) {
      out.len = mark;
      out.data[mark] = 0;
    }
  }
  return any && buf_ok(out);
}

// The integer an object holds, as a /Length reference names it.
int32_t integer_object(const uint8_t *data, int32_t len, const pdf_obj &obj) {
  const uint8_t *t;
  int32_t tl;
  if (obj.is_stream || !obj_value_text(data, len, obj, &t, &tl)) return -1;
  int32_t p = 0;
  return parse_int_at(t, tl, &p);
}

// A stream written in place as the value of /Contents: its bytes, unfiltered.
bool append_inline_stream(const uint8_t *data, int32_t len, const objvec &objs, const uint8_t *t,
                          int32_t tl, int32_t open, buf &out) {
  int32_t kw = dict_stream_kw(t, tl, open);
  if (kw < 0) return false;
  int32_t direct = -1, ref = -1;
  parse_length(t, tl, open, kw, &direct, &ref);
  int64_t length = direct;
  if (length < 0 && ref >= 1) {
    const pdf_obj *holder = obj_find(objs, ref);
    if (!holder || holder->is_stream) return false;
    length = integer_object(data, len, *holder);
  }
  if (length < 0) return false;
  int64_t start = static_cast<int64_t>(kw) + 6;
  if (start + 1 < tl && t[start] == '\r' && t[start + 1] == '\n')
    start += 2;
  else
    start += 1;
  if (start + length > tl) return false;
  buf_bytes(out, t + start, static_cast<uint64_t>(length));
  return buf_ok(out);
}

// Where a resource or parent lookup starts: after the last endobj when the text holds one.
int32_t after_last_endobj(const uint8_t *t, int32_t tl) {
  int32_t from = 0;
  for (int32_t p = find_kw(t, tl, 0, "endobj"); p >= 0; p = find_kw(t, tl, p + 1, "endobj"))
    from = p + 6;
  return std::min(from, tl);
}

// A copy of an object's own dictionary, from its first "<".
c_ptr<uint8_t> object_dict_copy(const uint8_t *data, int32_t len, const pdf_obj &obj) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, obj, &t, &tl) || tl <= 0) return nullptr;
  const void *lt = std::memchr(t, '<', static_cast<size_t>(tl));
  if (!lt) return nullptr;
  return dict_text_at(t, tl, static_cast<int32_t>(static_cast<const uint8_t *>(lt) - t));
}

}  // namespace

const uint8_t *decoded_stream(const pdf_obj &obj, const uint8_t *data, int32_t len, buf &out,
                              uint64_t *n) {
  *n = 0;
  if (!obj.is_stream || obj.stream_start < 0 || obj.stream_end > len ||
      obj.stream_end - obj.stream_start <= 0)
    return nullptr;
  const uint8_t *src = data + obj.stream_start;
  const uint64_t src_len = static_cast<uint64_t>(obj.stream_end - obj.stream_start);
  const uint8_t *t;
  int32_t tl;
  bool flate = obj.dict >= 0 && obj_dict_text(data, len, obj, &t, &tl) &&
               find_name(t, tl, 0, tl, "FlateDecode") >= 0;
  if (!flate) {
    *n = src_len;
    return src;
  }
  return inflate_into(src, src_len, out, n);
}

int get_page_content(const uint8_t *data, int32_t len, const objvec &objs, const pdf_obj &obj,
                     buf &out) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, obj, &t, &tl)) return 0;
  // The page's own key, not one of an annotation dictionary written inside the page.
  int32_t p = find_name_top(t, tl, 0, tl, "Contents");
  if (p < 0) return obj.is_stream && append_stream(obj, data, len, out) ? 1 : 0;
  int32_t v = skip_ws(t, p + 9, tl);
  if (v >= tl) return 0;
  if (is_digit(t[v])) {
    int32_t num = parse_int_at(t, tl, &v);
    const pdf_obj *target = num >= 1 ? obj_find(objs, num) : nullptr;
    if (!target) return 0;
    if (target->is_stream) return append_stream(*target, data, len, out) ? 1 : 0;
    // An array object holding the references, followed one level.
    const uint8_t *a;
    int32_t al;
    if (!obj_value_text(data, len, *target, &a, &al)) return 0;
    int32_t open = skip_ws(a, 0, al);
    if (open >= al || a[open] != '[') return 0;
    return append_stream_array(data, len, objs, a, al, open, out) ? 1 : 0;
  }
  if (t[v] == '[') return append_stream_array(data, len, objs, t, tl, v, out) ? 1 : 0;
  if (t[v] == '<' && v + 1 < tl && t[v + 1] == '<')
    return append_inline_stream(data, len, objs, t, tl, v, out) ? 1 : 0;
  return 0;
}

c_ptr<uint8_t> page_resources_dict(const uint8_t *data, int32_t len, const objvec &objs,
                                   const uint8_t *text, int32_t text_len) {
  if (!text || text_len <= 0) return nullptr;
  int32_t from = after_last_endobj(text, text_len);
  int32_t p = find_name_top(text, text_len, from, text_len, "Resources");
  if (p < 0) return nullptr;
  int32_t v = skip_ws(text, p + 10, text_len);
  if (v >= text_len) return nullptr;
  if (text[v] == '<' && v + 1 < text_len && text[v + 1] == '<')
    return dict_text_at(text, text_len, v);
  if (!is_digit(text[v])) return nullptr;
  int32_t num = parse_int_at(text, text_len, &v);
  const pdf_obj *target = num >= 1 ? obj_find(objs, num) : nullptr;
  return target ? object_dict_copy(data, len, *target) : nullptr;
}

c_ptr<uint8_t> page_resources_dict_deep(const uint8_t *data, int32_t len, const objvec &objs,
                                        const uint8_t *text, int32_t text_len, int levels) {
  // Bounded by the level count, so a /Parent chain that loops ends.
  for (int step = 0; step < std::max(levels, 1); ++step) {
    if (!text || text_len <= 0) return nullptr;
    int32_t from = after_last_endobj(text, text_len);
    int32_t p = find_name_top(text, text_len, from, text_len, "Parent");
    if (p < 0) return nullptr;
    int32_t v = p + 7;
    int32_t num = parse_int_at(text, text_len, &v);
    const pdf_obj *parent = num >= 1 ? obj_find(objs, num) : nullptr;
    if (!parent || !obj_dict_text(data, len, *parent, &text, &text_len)) return nullptr;
    c_ptr<uint8_t> found = page_resources_dict(data, len, objs, text, text_len);
    if (found) return found;
  }
  return nullptr;
}

c_ptr<uint8_t> pdfcore_page_resources(const pdf_doc &doc, int32_t index) {
  if (index < 0 || index >= doc.pages.count()) return nullptr;
  const pdf_obj *page = obj_find(doc.objs, doc.pages.items[static_cast<size_t>(index)].num);
  const uint8_t *t;
  int32_t tl;
  if (!page || !obj_dict_text(doc.data.get(), doc.len, *page, &t, &tl)) return nullptr;
  c_ptr<uint8_t> own = page_resources_dict(doc.data.get(), doc.len, doc.objs, t, tl);
  if (own) return own;
  return page_resources_dict_deep(doc.data.get(), doc.len, doc.objs, t, tl, 32);
}

c_ptr<uint8_t> pdfcore_obj_resources(const pdf_doc &doc, int32_t num) {
  const pdf_obj *obj = obj_find(doc.objs, num);
  const uint8_t *t;
  int32_t tl;
  if (!obj || !obj_dict_text(doc.data.get(), doc.len, *obj, &t, &tl)) return nullptr;
  return page_resources_dict(doc.data.get(), doc.len, doc.objs, t, tl);
}
