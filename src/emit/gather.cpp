// Gathering what a page draws, for the text test: its content streams, decoded and joined, then
// the content of the XObjects that content invokes with Do, down to three levels of nesting.
// It works by byte searches over the object texts; the renderer decides what the bytes mean.

#include "emit/gather.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "pdfcore/buf.h"
#include "pdfcore/lex.h"
#include "pdfcore/streams.h"

namespace {

// XObjects are followed to this depth below the page (levels 1, 2 and 3).
constexpr int k_max_form_depth = 2;
// A page's resources are inherited from at most this many ancestors, as the renderer does.
constexpr int k_resource_levels = 32;

bool is_entry_name_byte(uint8_t c) { return is_alnum(c) || c == '_' || c == '+' || c == '-'; }

// Streams are joined with a line feed so that an operator ending one stream and one beginning
// the next never run together.
void append_joined(buf &out, const uint8_t *bytes, uint64_t n) {
  if (n == 0) return;
  if (out.len > 0) buf_bytes(out, "\n", 1);
  buf_bytes(out, bytes, n);
}

void reset_scratch(buf &b) {
  if (b.failed) buf_free(b);
  b.len = 0;
  if (b.data) b.data[0] = 0;
}

// Appends the decoded data of stream object num; anything that is no stream adds nothing.
void append_stream(const pdf_doc &doc, int32_t num, buf &scratch, buf &out) {
  const pdf_obj *o = obj_find(doc.objs, num);
  if (!o) return;
  reset_scratch(scratch);
  uint64_t n = 0;
  const uint8_t *p = decoded_stream(*o, doc.data.get(), doc.len, scratch, &n);
  if (p) append_joined(out, p, n);
}

// The array of stream references at t[p] ("["), walked up to "]" or the end of the text.
void append_stream_array(const pdf_doc &doc, const uint8_t *t, int32_t n, int32_t p,
                         buf &scratch, buf &out) {
  for (int32_t q = p + 1; q < n && t[q] != ']';) {
    if (!is_digit(t[q])) {
      q++;
      continue;
    }
    int32_t num = parse_int_at(t, n, &q);
    q = skip_ws(t, q, n);
    if (q < n && is_digit(t[q])) parse_int_at(t, n, &q);
    q = skip_ws(t, q, n);
    if (q < n && t[q] == 'R') q++;
    if (num > 0) append_stream(doc, num, scratch, out);
  }
}

// /Contents names one stream, an array of streams, or an array object of streams by reference.
// Only the page's own key counts, not one of an annotation dictionary written inside the page,
// so that the text test reads the same streams the renderer draws.
void gather_page_content(const pdf_doc &doc, const uint8_t *t, int32_t n, buf &out) {
  int32_t key = find_name_top(t, n, 0, n, "Contents");
  if (key < 0) return;
  int32_t p = skip_ws(t, key + 9, n);
  if (p >= n) return;
  buf scratch;
  if (t[p] == '[') {
    append_stream_array(doc, t, n, p, scratch, out);
    return;
  }
  if (!is_digit(t[p])) return;
  int32_t num = parse_int_at(t, n, &p);
  if (num <= 0) return;
  const pdf_obj *o = obj_find(doc.objs, num);
  if (!o) return;
  if (o->is_stream) {
    append_stream(doc, num, scratch, out);
    return;
  }
  const uint8_t *v = nullptr;
  int32_t vn = 0;
  if (!obj_value_text(doc.data.get(), doc.len, *o, &v, &vn)) return;
  int32_t q = skip_ws(v, 0, vn);
  if (q < vn && v[q] == '[') append_stream_array(doc, v, vn, q, scratch, out);
}

// The XObject dictionary of a resource text, inline or by reference (*ref is then the object
// number), as its own copy.
c_ptr<uint8_t> xobject_dict(const pdf_doc &doc, const uint8_t *res, int32_t res_len,
                            int32_t *out_len, int32_t *ref) {
  *ref = 0;
  int32_t key = find_name(res, res_len, 0, res_len, "XObject");
  if (key < 0) return nullptr;
  int32_t p = skip_ws(res, key + 8, res_len);
  if (p + 1 < res_len && res[p] == '<' && res[p + 1] == '<')
    return dict_text_at(res, res_len, p, out_len);
  if (p >= res_len || !is_digit(res[p])) return nullptr;
  int32_t num = parse_int_at(res, res_len, &p);
  if (num <= 0) return nullptr;
  *ref = num;
  const pdf_obj *o = obj_find(doc.objs, num);
  if (!o) return nullptr;
  if (o->in_objstm) {
    if (!o->text) return nullptr;
    const void *lt = std::memchr(o->text, '<', static_cast<size_t>(o->text_len));
    if (!lt) return nullptr;
    int32_t at = static_cast<int32_t>(static_cast<const uint8_t *>(lt) - o->text);
    return dict_text_at(o->text, o->text_len, at, out_len);
  }
  if (o->dict < 0) return nullptr;
  int32_t end = o->stream_kw > 0 ? o->stream_kw : o->endobj > 0 ? o->endobj : doc.len;
  if (end > doc.len) end = doc.len;
  return dict_text_at(doc.data.get(), end, o->dict, out_len);
}

struct xentry {
  int32_t name;  // position of the name's first byte in the dictionary text
  int32_t len;
  int32_t num;   // object number the entry names
};

// An XObject dictionary ready for matching: its entries, and an index of them by name in which
// entries of equal name form a group (kept in dictionary order).
struct xtable {
  c_ptr<uint8_t> text;
  std::vector<xentry> entries;    // dictionary order
  std::vector<int32_t> order;     // entry indices sorted by name
  std::vector<int32_t> group_at;  // per position in order: its group
  std::vector<int32_t> start;     // per group: its first position in order; one more at the end
  // Per group: the shallowest depth at which its entries were followed. Following an object
  // depends only on the object and the depth, so a group met again no deeper is done.
  std::vector<int8_t> done_depth;
};

// Entries "/name N ..." of an XObject dictionary text, in dictionary order.
std::vector<xentry> xobject_entries(const uint8_t *x, int32_t n) {
  std::vector<xentry> entries;
  int32_t p = 0;
  while (p < n && x[p] == '<') p += 2;
  while (p < n) {
    if (x[p] != '/') {
      p++;
      continue;
    }
    int32_t name = p + 1;
    int32_t q = name;
    while (q < n && is_entry_name_byte(x[q])) q++;
    if (q == name) {
      p++;
      continue;
    }
    int32_t v = skip_ws(x, q, n);
    if (v >= n || !is_digit(x[v])) {
      p = q;
      continue;
    }
    int32_t num = parse_int_at(x, n, &v);
    entries.push_back({name, q - name, num});
    p = v;
  }
  return entries;
}

void index_table(xtable &tb, int32_t len) {
  const uint8_t *x = tb.text.get();
  tb.entries = xobject_entries(x, len);
  int32_t count = static_cast<int32_t>(tb.entries.size());
  tb.order.resize(tb.entries.size());
  for (int32_t i = 0; i < count; i++) tb.order[i] = i;
  auto name_less = [&](int32_t a, int32_t b) {
    const xentry &ea = tb.entries[a], &eb = tb.entries[b];
    int c = std::memcmp(x + ea.name, x + eb.name, static_cast<size_t>(std::min(ea.len, eb.len)));
    return c != 0 ? c < 0 : ea.len < eb.len;
  };
  std::stable_sort(tb.order.begin(), tb.order.end(), name_less);
  tb.group_at.resize(tb.entries.size());
  for (int32_t i = 0; i < count; i++) {
    if (i == 0 || name_less(tb.order[i - 1], tb.order[i])) tb.start.push_back(i);
    tb.group_at[i] = static_cast<int32_t>(tb.start.size()) - 1;
  }
  tb.start.push_back(count);
  tb.done_depth.assign(tb.start.size() - 1, INT8_MAX);
}

// The groups whose name the content draws: "/" + name, optional white space, "Do" (the byte
// after "Do" is not examined), in the dictionary order of their first entries. The content is
// read once; at each "/" the names are narrowed byte by byte over the sorted index, so the cost
// is linear in the content whatever the number of entries.
std::vector<int32_t> drawn_groups(const xtable &tb, const uint8_t *content, int32_t clen) {
  const uint8_t *x = tb.text.get();
  const int32_t count = static_cast<int32_t>(tb.entries.size());
  std::vector<int32_t> found;
  for (int32_t i = 0; i < clen; i++) {
    if (content[i] != '/') continue;
    int32_t lo = 0, hi = count, k = 0;
    for (int32_t j = i + 1; j < clen && is_entry_name_byte(content[j]) && lo < hi; j++, k++) {
      // [lo, hi) share the k bytes before j; keep those whose byte k is content[j]. Names of
      // exactly k bytes sort first and have no byte k.
      auto key = [&](int32_t e) {
        return tb.entries[e].len > k ? static_cast<int>(x[tb.entries[e].name + k]) : -1;
      };
      int c = content[j];
      auto first = tb.order.begin() + lo, last = tb.order.begin() + hi;
      auto a = std::lower_bound(first, last, c, [&](int32_t e, int v) { return key(e) < v; });
      auto b = std::upper_bound(a, last, c, [&](int v, int32_t e) { return v < key(e); });
      lo = static_cast<int32_t>(a - tb.order.begin());
      hi = static_cast<int32_t>(b - tb.order.begin());
      if (lo >= hi || tb.entries[tb.order[lo]].len != k + 1) continue;
      int32_t d = j + 1;
      if (d < clen && !is_entry_name_byte(content[d])) d = skip_ws(content, d, clen);
      if (d + 1 < clen && content[d] == 'D' && content[d + 1] == 'o')
        found.push_back(tb.group_at[lo]);
    }
  }
  auto first_entry = [&](int32_t g) { return tb.order[tb.start[g]]; };
  std::sort(found.begin(), found.end(),
            [&](int32_t a, int32_t b) { return first_entry(a) < first_entry(b); });
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

struct gather_ctx {
  const pdf_doc &doc;
  buf &out;
  // Per object number, the shallowest depth at which it was followed. Its content is appended
  // the first time only; it is followed again only from a shallower depth, from where its own
  // XObjects reach one level further.
  std::unordered_map<int32_t, int> followed;
  // Every table made while gathering the page, and those of shared dictionaries by object
  // number (XObject dictionaries, and resource dictionaries of forms), so that forms sharing
  // one large dictionary cost one copy of it, not one each.
  std::vector<std::unique_ptr<xtable>> tables;
  std::unordered_map<int32_t, xtable *> by_xobject;
  std::unordered_map<int32_t, xtable *> by_resources;
};

// The table of the XObject dictionary that a resource text names, or null when it has none.
xtable *xobject_table(gather_ctx &ctx, const uint8_t *res, int32_t res_len) {
  if (!res || res_len <= 3) return nullptr;
  int32_t len = 0, ref = 0;
  int32_t key = find_name(res, res_len, 0, res_len, "XObject");
  if (key < 0) return nullptr;
  int32_t p = skip_ws(res, key + 8, res_len);
  if (p < res_len && is_digit(res[p])) {
    ref = parse_int_at(res, res_len, &p);
    auto hit = ctx.by_xobject.find(ref);
    if (ref > 0 && hit != ctx.by_xobject.end()) return hit->second;
  }
  c_ptr<uint8_t> text = xobject_dict(ctx.doc, res, res_len, &len, &ref);
  xtable *tb = nullptr;
  if (text) {
    ctx.tables.push_back(std::make_unique<xtable>());
    tb = ctx.tables.back().get();
    tb->text = std::move(text);
    index_table(*tb, len);
  }
  if (ref > 0) ctx.by_xobject[ref] = tb;
  return tb;
}

// The object number an object's /Resources refers to, or 0 when it is written in place or
// absent. It looks the key up as the reader's resource lookup does: the object's own key, after
// the last endobj when the text holds one.
int32_t resources_ref(const pdf_doc &doc, const pdf_obj &o) {
  const uint8_t *t = nullptr;
  int32_t n = 0;
  if (!obj_dict_text(doc.data.get(), doc.len, o, &t, &n) || n <= 0) return 0;
  int32_t from = 0;
  for (int32_t p = find_kw(t, n, 0, "endobj"); p >= 0; p = find_kw(t, n, p + 1, "endobj"))
    from = std::min(p + 6, n);
  int32_t k = find_name_top(t, n, from, n, "Resources");
  if (k < 0) return 0;
  int32_t v = skip_ws(t, k + 10, n);
  if (v >= n || !is_digit(t[v])) return 0;
  int32_t num = parse_int_at(t, n, &v);
  return num > 0 ? num : 0;
}

// The XObject table of a form's own resources (not inherited), or null.
xtable *form_table(gather_ctx &ctx, const pdf_obj &form) {
  int32_t ref = resources_ref(ctx.doc, form);
  if (ref > 0) {
    auto hit = ctx.by_resources.find(ref);
    if (hit != ctx.by_resources.end()) return hit->second;
  }
  c_ptr<uint8_t> res = pdfcore_obj_resources(ctx.doc, form.num);
  xtable *tb = nullptr;
  if (res) {
    int32_t len = static_cast<int32_t>(std::strlen(reinterpret_cast<const char *>(res.get())));
    tb = xobject_table(ctx, res.get(), len);
  }
  if (ref > 0) ctx.by_resources[ref] = tb;
  return tb;
}

void follow_xobject(gather_ctx &ctx, int32_t num, int depth);

// Appends the content of the XObjects that `content` draws through the dictionary `tb`, and
// theirs in turn.
void collect_doforms(gather_ctx &ctx, const uint8_t *content, int32_t clen, xtable *tb,
                     int depth) {
  if (depth > k_max_form_depth || !tb || clen <= 3) return;
  for (int32_t g : drawn_groups(*tb, content, clen)) {
    if (tb->done_depth[g] <= depth) continue;
    tb->done_depth[g] = static_cast<int8_t>(depth);
    for (int32_t i = tb->start[g]; i < tb->start[g + 1]; i++)
      follow_xobject(ctx, tb->entries[tb->order[i]].num, depth);
  }
}

// An image's samples are no content: their bytes hold text operators at random (a JPEG scan
// almost always has some), and the page would never be judged by its pixels.
bool is_image_xobject(const pdf_doc &doc, const pdf_obj &o) {
  const uint8_t *t;
  int32_t n;
  if (!obj_dict_text(doc.data.get(), doc.len, o, &t, &n)) return false;
  int32_t k = find_name_top(t, n, 0, n, "Subtype");
  if (k < 0) return false;
  int32_t v = skip_ws(t, k + 8, n);
  return find_name(t, n, v, n, "Image") == v;
}

void follow_xobject(gather_ctx &ctx, int32_t num, int depth) {
  const pdf_obj *o = obj_find(ctx.doc.objs, num);
  if (!o || is_image_xobject(ctx.doc, *o)) return;
  auto seen = ctx.followed.find(num);
  bool first = seen == ctx.followed.end();
  if (!first && seen->second <= depth) return;
  ctx.followed[num] = depth;

  xtable *inner = depth < k_max_form_depth ? form_table(ctx, *o) : nullptr;
  if (!first && !inner) return;
  buf form;
  if (!get_page_content(ctx.doc.data.get(), ctx.doc.len, ctx.doc.objs, *o, form) || !form.data)
    return;
  if (first) append_joined(ctx.out, form.data, form.len);
  if (inner && form.len <= INT32_MAX)
    collect_doforms(ctx, form.data, static_cast<int32_t>(form.len), inner, depth + 1);
}

// The resources the renderer draws the page with: its own, else the nearest ancestor's.
c_ptr<uint8_t> page_resources(const pdf_doc &doc, const uint8_t *t, int32_t n) {
  c_ptr<uint8_t> res = page_resources_dict(doc.data.get(), doc.len, doc.objs, t, n);
  if (!res)
    res = page_resources_dict_deep(doc.data.get(), doc.len, doc.objs, t, n, k_resource_levels);
  return res;
}

}  // namespace

c_ptr<uint8_t> lsf_gather_content(const pdf_doc &doc, const pdf_obj *page, int32_t *out_len) {
  if (!page) return nullptr;
  *out_len = 0;
  const uint8_t *t = nullptr;
  int32_t n = 0;
  if (!obj_dict_text(doc.data.get(), doc.len, *page, &t, &n)) return nullptr;

  buf out;
  gather_page_content(doc, t, n, out);
  if (!buf_ok(out) || out.len == 0 || out.len > INT32_MAX) return nullptr;

  c_ptr<uint8_t> res = page_resources(doc, t, n);
  if (res) {
    int32_t own_len = static_cast<int32_t>(out.len);
    // Appending moves the buffer, so the page's content is searched in a copy of its own.
    c_ptr<uint8_t> own(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(own_len))));
    if (!own) return nullptr;
    std::memcpy(own.get(), out.data, static_cast<size_t>(own_len));
    int32_t res_len = static_cast<int32_t>(std::strlen(reinterpret_cast<char *>(res.get())));
    try {
      gather_ctx ctx{doc, out, {}, {}, {}, {}};
      collect_doforms(ctx, own.get(), own_len, xobject_table(ctx, res.get(), res_len), 0);
    } catch (const std::bad_alloc &) {
      return nullptr;
    }
    if (!buf_ok(out) || out.len > INT32_MAX) return nullptr;
  }

  c_ptr<uint8_t> result(static_cast<uint8_t *>(std::malloc(out.len)));
  if (!result) return nullptr;
  std::memcpy(result.get(), out.data, out.len);
  *out_len = static_cast<int32_t>(out.len);
  return result;
}
