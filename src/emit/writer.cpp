// Writing the reduced PDF: every kept page becomes a form XObject holding the old page's
// decoded content and resources, a content stream that draws it (and the page's visible
// annotations), and a page of the old page's size. The objects they reach are carried over by
// carry.cpp; the finished file replaces the output path in one step (replace_file.cpp).
#include "emit/writer.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "emit/carry.h"
#include "emit/replace_file.h"
#include "pdfcore/annots.h"
#include "pdfcore/buf.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "pdfcore/lex.h"
#include "pdfcore/streams.h"
#include "render/page_content.h"

namespace {

// The largest offset the cross-reference table's ten digits can hold.
constexpr int64_t k_max_xref_offset = 9999999999LL;

// The content stream of a page without annotations draws the form alone.
constexpr char k_draw_form[] = "q 1 0 0 1 0 0 cm /F Do Q";

// A PDF transformation [a b c d e f]: x' = a x + c y + e, y' = b x + d y + f.
struct affine {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
};

// m applied first, then n.
affine then(const affine &m, const affine &n) {
  return {m.a * n.a + m.b * n.c, m.a * n.b + m.b * n.d, m.c * n.a + m.d * n.c,
          m.c * n.b + m.d * n.d, m.e * n.a + m.f * n.c + n.e, m.e * n.b + m.f * n.d + n.f};
}

bool is_identity(const affine &m) {
  return m.a == 1 && m.b == 0 && m.c == 0 && m.d == 1 && m.e == 0 && m.f == 0;
}

bool finite(const affine &m) {
  return std::isfinite(m.a) && std::isfinite(m.b) && std::isfinite(m.c) && std::isfinite(m.d) &&
         std::isfinite(m.e) && std::isfinite(m.f);
}

// Whole numbers that fit a signed 32-bit integer are written as integers, everything else
// with four decimals (612 stays 612, 612.5 becomes 612.5000).
struct num_text {
  char s[400];
  explicit num_text(double v) {
    if (v == std::trunc(v) && v >= -2147483648.0 && v <= 2147483647.0)
      std::snprintf(s, sizeof s, "%ld", static_cast<long>(v));
    else
      std::snprintf(s, sizeof s, "%.4f", v);
  }
};

void put_num(buf &out, double v) { buf_str(out, num_text(v).s); }
void put_num(std::string &out, double v) { out += num_text(v).s; }

void put_i64(buf &out, int64_t v) {
  char s[32];
  std::snprintf(s, sizeof s, "%" PRId64, v);
  buf_str(out, s);
}

void separate(buf &out) { buf_str(out, " "); }
void separate(std::string &out) { out += ' '; }

template <class Out>
void put_matrix(Out &out, const affine &m) {
  const double v[6] = {m.a, m.b, m.c, m.d, m.e, m.f};
  for (int i = 0; i < 6; ++i) {
    if (i) separate(out);
    put_num(out, v[i]);
  }
}

// Where a kept page's box lands on the new page. The box is normalised (any two opposite
// corners describe it); the new page starts at the origin, so the form's matrix moves the
// box's lower-left corner there and turns the page by its /Rotate, clockwise as viewers show it.
struct page_geometry {
  double x0, y0, x1, y1;  // the box in the old page's user space
  double width, height;   // the new page's size
  affine to_page;         // old user space onto the new page
};

bool geometry_of(const pageinfo &pi, page_geometry *g) {
  g->x0 = std::fmin(pi.x0, pi.x1);
  g->x1 = std::fmax(pi.x0, pi.x1);
  g->y0 = std::fmin(pi.y0, pi.y1);
  g->y1 = std::fmax(pi.y0, pi.y1);
  const double bw = g->x1 - g->x0, bh = g->y1 - g->y0;
  if (!std::isfinite(bw) || !std::isfinite(bh) || !(bw > 0) || !(bh > 0)) return false;
  affine turn;
  switch (pi.rotate) {
    case 90: turn = {0, -1, 1, 0, 0, bw}; break;
    case 180: turn = {-1, 0, 0, -1, bw, bh}; break;
    case 270: turn = {0, 1, -1, 0, bh, 0}; break;
    default: break;
  }
  const bool sideways = pi.rotate == 90 || pi.rotate == 270;
  g->width = sideways ? bh : bw;
  g->height = sideways ? bw : bh;
  const affine shift{1, 0, 0, 1, -g->x0, -g->y0};
  g->to_page = then(shift, turn);
  return true;
}

// Reads `count` numbers of the array opening at p. False when the array holds fewer.
bool read_numbers(const uint8_t *t, int32_t p, int32_t n, double *v, int count) {
  if (p >= n || t[p] != '[') return false;
  ++p;
  for (int i = 0; i < count; ++i) {
    p = skip_ws(t, p, n);
    char tmp[64];
    int k = 0;
    while (p < n && k < 63 && (is_digit(t[p]) || t[p] == '-' || t[p] == '+' || t[p] == '.'))
      tmp[k++] = static_cast<char>(t[p++]);
    if (k == 0) return false;
    tmp[k] = 0;
    char *end = nullptr;
    v[i] = std::strtod(tmp, &end);
    if (end == tmp || !std::isfinite(v[i])) return false;
  }
  return true;
}

// The value of a top-level key of a dictionary text, or -1.
int32_t top_value(const uint8_t *t, int32_t n, const char *key) {
  int32_t k = find_name_top(t, n, 0, n, key);
  if (k < 0) return -1;
  int32_t v = skip_ws(t, k + 1 + static_cast<int32_t>(std::strlen(key)), n);
  return v < n ? v : -1;
}

// An annotation's appearance form as it is placed on the page: the form's bounding box, carried
// through its own matrix, is fitted onto the annotation's rectangle. The form applies its own
// matrix when drawn, so only the fitting is returned.
bool place_appearance(const pdf_doc &doc, const annot_appearance &a, affine *fit) {
  const pdf_obj *form = obj_find(doc.objs, a.stream_num);
  const uint8_t *t;
  int32_t n;
  if (!form || !obj_dict_text(doc.data.get(), doc.len, *form, &t, &n)) return false;
  double box[4], m[6] = {1, 0, 0, 1, 0, 0};
  int32_t p = top_value(t, n, "BBox");
  if (p < 0 || !read_numbers(t, p, n, box, 4)) return false;
  p = top_value(t, n, "Matrix");
  if (p >= 0 && !read_numbers(t, p, n, m, 6)) {
    const double identity[6] = {1, 0, 0, 1, 0, 0};
    std::memcpy(m, identity, sizeof m);
  }
  double lo_x = HUGE_VAL, lo_y = HUGE_VAL, hi_x = -HUGE_VAL, hi_y = -HUGE_VAL;
  for (int corner = 0; corner < 4; ++corner) {
    const double x = box[corner & 1 ? 2 : 0], y = box[corner & 2 ? 3 : 1];
    const double tx = m[0] * x + m[2] * y + m[4], ty = m[1] * x + m[3] * y + m[5];
    lo_x = std::fmin(lo_x, tx);
    hi_x = std::fmax(hi_x, tx);
    lo_y = std::fmin(lo_y, ty);
    hi_y = std::fmax(hi_y, ty);
  }
  const double rx0 = std::fmin(a.rect[0], a.rect[2]), rx1 = std::fmax(a.rect[0], a.rect[2]);
  const double ry0 = std::fmin(a.rect[1], a.rect[3]), ry1 = std::fmax(a.rect[1], a.rect[3]);
  if (!(hi_x - lo_x > 0) || !(hi_y - lo_y > 0) || !(rx1 - rx0 > 0) || !(ry1 - ry0 > 0))
    return false;
  const double sx = (rx1 - rx0) / (hi_x - lo_x), sy = (ry1 - ry0) / (hi_y - lo_y);
  *fit = {sx, 0, 0, sy, rx0 - sx * lo_x, ry0 - sy * lo_y};
  return finite(*fit);
}

struct placed_annot {
  int32_t form = 0;  // input object number of the appearance form
  affine fit;
};

// What a kept page carries besides its content: its resource dictionary (own, else the
// nearest ancestor's) and its visible annotations.
struct page_parts {
  c_ptr<uint8_t> resources;
  int32_t resources_len = 0;
  std::vector<placed_annot> annots;
};

page_parts parts_of(const pdf_doc &doc, const pdf_obj &page) {
  page_parts parts;
  const uint8_t *t;
  int32_t n;
  if (obj_dict_text(doc.data.get(), doc.len, page, &t, &n)) {
    parts.resources = page_resources_dict(doc.data.get(), doc.len, doc.objs, t, n);
    if (!parts.resources)
      parts.resources = page_resources_dict_deep(doc.data.get(), doc.len, doc.objs, t, n, 32);
    if (parts.resources)
      parts.resources_len =
          static_cast<int32_t>(std::strlen(reinterpret_cast<const char *>(parts.resources.get())));
  }
  for (const annot_appearance &a : page_visible_annotations(doc, page)) {
    placed_annot p;
    p.form = a.stream_num;
    if (place_appearance(doc, a, &p.fit)) parts.annots.push_back(p);
  }
  return parts;
}

// The catalog's /OCProperties value, a dictionary or a reference, as text; "" when absent.
std::string optional_content_of(const pdf_doc &doc) {
  const pdf_obj *catalog = obj_find(doc.objs, doc.root);
  const uint8_t *t;
  int32_t n;
  if (!catalog || !obj_dict_text(doc.data.get(), doc.len, *catalog, &t, &n)) return "";
  int32_t v = top_value(t, n, "OCProperties");
  if (v < 0) return "";
  if (t[v] == '<') {
    int32_t len = 0;
    c_ptr<uint8_t> dict = dict_text_at(t, n, v, &len);
    return dict ? std::string(reinterpret_cast<const char *>(dict.get()), static_cast<size_t>(len))
                : "";
  }
  int32_t e = v;
  while (e < n && e - v < 64 && t[e] != 'R' && t[e] != '/' && t[e] != '>') ++e;
  return e < n && t[e] == 'R' ? std::string(reinterpret_cast<const char *>(t + v),
                                            static_cast<size_t>(e + 1 - v))
                              : "";
}

// The message of a failed call; whatever was built so far is released by its owner on return.
int fail(const char *message) {
  pdfcore_set_error("%s", message);
  return 0;
}

int emit(const pdf_doc &doc, const int32_t *blank_idx, int32_t n_blank, int32_t n_kept,
         const char *output_path) {
  if (!output_path) return fail("NULL output path");
  const int32_t count = doc.pages.count();
  if (count < 1) return fail("document has no pages");

  int32_t cap = n_kept < 1 ? 1 : (n_kept > count ? count : n_kept);
  std::vector<bool> blank(static_cast<size_t>(count), false);
  for (int32_t i = 0; blank_idx && i < n_blank; ++i)
    if (blank_idx[i] >= 0 && blank_idx[i] < count) blank[static_cast<size_t>(blank_idx[i])] = true;
  std::vector<int32_t> kept;
  for (int32_t i = 0; i < count && static_cast<int32_t>(kept.size()) < cap; ++i)
    if (!blank[static_cast<size_t>(i)]) kept.push_back(i);
  if (kept.empty()) kept.push_back(0);
  const int64_t k_pages = static_cast<int64_t>(kept.size());

  // Collecting: the objects the pages' resources and annotations name come first, in page
  // order, then those of the optional-content configuration; whatever those reach follows as
  // it is met while the copies are written.
  carry_plan plan;
  carry_init(plan, doc, static_cast<int32_t>(4 * k_pages + 3));
  for (int32_t p : kept) {
    const pdf_obj *page = obj_find(doc.objs, doc.pages.items[static_cast<size_t>(p)].num);
    if (!page) return fail("failed to build output");
    page_parts parts = parts_of(doc, *page);
    if (parts.resources &&
        !carry_collect(plan, doc, parts.resources.get(), parts.resources_len, true))
      return fail("failed to build output");
    for (const placed_annot &a : parts.annots)
      if (!carry_collect_object(plan, doc, a.form)) return fail("failed to build output");
  }
  std::string oc = optional_content_of(doc);
  const uint8_t *oc_text = reinterpret_cast<const uint8_t *>(oc.data());
  const int32_t oc_len = static_cast<int32_t>(oc.size());
  if (!oc.empty()) {
    carry_collect(plan, doc, oc_text, oc_len, false);
    // A reference to nothing would only say null; the catalog then goes without the entry.
    if (oc[0] != '<') {
      int32_t q = 0;
      if (carry_number(plan, parse_int_at(oc_text, oc_len, &q)) <= 0) oc.clear();
    }
  }

  std::vector<int64_t> offsets(static_cast<size_t>(4 * k_pages + 3), -1);
  buf out;
  buf_init(out);
  buf_str(out, "%PDF-1.4\n");
  offsets[1] = static_cast<int64_t>(out.len);
  if (oc.empty()) {
    buf_str(out, "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
  } else {
    buf_str(out, "1 0 obj\n<< /Type /Catalog /Pages 2 0 R /OCProperties ");
    carry_rewrite(plan, doc, oc_text, oc_len, out);
    buf_str(out, " >>\nendobj\n");
  }
  offsets[2] = static_cast<int64_t>(out.len);
  buf_str(out, "2 0 obj\n<< /Type /Pages /Count ");
  put_i64(out, k_pages);
  buf_str(out, " /Kids [");
  for (int64_t k = 0; k < k_pages; ++k) {
    if (k) buf_str(out, " ");
    put_i64(out, 4 * k + 6);
    buf_str(out, " 0 R");
  }
  buf_str(out, "]>>\nendobj\n");

  buf content;
  for (int64_t k = 0; k < k_pages && buf_ok(out); ++k) {
    const int32_t p = kept[static_cast<size_t>(k)];
    const pageinfo &pi = doc.pages.items[static_cast<size_t>(p)];
    const pdf_obj *page = obj_find(doc.objs, pi.num);
    if (!page) return fail("failed to build output");
    page_geometry g;
    if (!geometry_of(pi, &g)) {
      pdfcore_set_error("page %ld has a degenerate box", static_cast<long>(p) + 1);
      return 0;
    }
    if (content.data) {
      content.len = 0;
      content.data[0] = 0;
    }
    int unreadable = 0;
    if (!page_content_decoded(doc, *page, content, &unreadable) || content.failed)
      return fail("out of memory");
    if (unreadable) {
      pdfcore_set_error("cannot decode the content of page %ld", static_cast<long>(p) + 1);
      return 0;
    }
    page_parts parts = parts_of(doc, *page);

    offsets[static_cast<size_t>(4 * k + 3)] = static_cast<int64_t>(out.len);
    put_i64(out, 4 * k + 3);
    buf_str(out, " 0 obj\n<< /Type /XObject /Subtype /Form /BBox [");
    put_num(out, g.x0);
    buf_str(out, " ");
    put_num(out, g.y0);
    buf_str(out, " ");
    put_num(out, g.x1);
    buf_str(out, " ");
    put_num(out, g.y1);
    buf_str(out, "]");
    if (!is_identity(g.to_page)) {
      buf_str(out, " /Matrix [");
      put_matrix(out, g.to_page);
      buf_str(out, "]");
    }
    buf_str(out, " /Length ");
    put_i64(out, static_cast<int64_t>(content.len));
    if (parts.resources) {
      buf_str(out, " /Resources");
      carry_rewrite(plan, doc, parts.resources.get(), parts.resources_len, out);
    }
    buf_str(out, " >>\nstream\n");
    buf_bytes(out, content.data, content.len);
    buf_str(out, "\nendstream\nendobj\n");

    // Annotations draw after the page content, in the old page's user space.
    std::string draw = k_draw_form, names;
    int32_t serial = 0;
    for (const placed_annot &a : parts.annots) {
      const int32_t m = carry_number(plan, a.form);
      if (m <= 0) continue;
      const affine cm = then(a.fit, g.to_page);
      if (!finite(cm)) continue;
      ++serial;
      draw += "\nq ";
      put_matrix(draw, cm);
      draw += " cm /A" + std::to_string(serial) + " Do Q";
      names += " /A" + std::to_string(serial) + " " + std::to_string(m) + " 0 R";
    }

    offsets[static_cast<size_t>(4 * k + 5)] = static_cast<int64_t>(out.len);
    put_i64(out, 4 * k + 5);
    buf_str(out, " 0 obj\n<< /Length ");
    put_i64(out, static_cast<int64_t>(draw.size()));
    buf_str(out, " >>\nstream\n");
    buf_bytes(out, draw.data(), draw.size());
    buf_str(out, "\nendstream\nendobj\n");

    offsets[static_cast<size_t>(4 * k + 6)] = static_cast<int64_t>(out.len);
    put_i64(out, 4 * k + 6);
    buf_str(out, " 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ");
    put_num(out, g.width);
    buf_str(out, " ");
    put_num(out, g.height);
    buf_str(out, "] /Contents ");
    put_i64(out, 4 * k + 5);
    buf_str(out, " 0 R /Resources << /XObject << /F ");
    put_i64(out, 4 * k + 3);
    buf_str(out, " 0 R");
    buf_str(out, names.c_str());
    buf_str(out, " >> >> >>\nendobj\n");
  }
  buf_free(content);

  carry_write_copies(plan, doc, out, offsets);

  const int64_t xref_at = static_cast<int64_t>(out.len);
  const int64_t size = static_cast<int64_t>(plan.base) + static_cast<int64_t>(plan.copies.size());
  if (offsets.size() < static_cast<size_t>(size)) offsets.resize(static_cast<size_t>(size), -1);
  buf_str(out, "xref\n0 ");
  put_i64(out, size);
  buf_str(out, "\n0000000000 65535 f \n");
  for (int64_t m = 1; m < size && buf_ok(out); ++m) {
    const int64_t at = offsets[static_cast<size_t>(m)];
    if (at > k_max_xref_offset) return fail("failed to build output");
    char line[32];
    if (at >= 0)
      std::snprintf(line, sizeof line, "%010" PRId64 " 00000 n \n", at);
    else
      std::snprintf(line, sizeof line, "0000000000 65535 f \n");
    buf_str(out, line);
  }
  buf_str(out, "trailer\n<< /Size ");
  put_i64(out, size);
  buf_str(out, " /Root 1 0 R >>\nstartxref ");
  put_i64(out, xref_at);
  buf_str(out, "\n%%EOF\n");

  if (!buf_ok(out) || out.len == 0) return fail("failed to build output");
  if (!lsf_copy_reads_back(out.data, out.len, k_pages)) return fail("failed to build output");
  if (!lsf_replace_file(output_path, out.data, out.len)) return 0;
  pdfcore_set_error("%s", "");
  return 1;
}

}  // namespace

int lsf_emit_blank_removal(const pdf_doc &doc, const int32_t *blank_idx, int32_t n_blank,
                           int32_t n_kept, const char *output_path) {
  try {
    return emit(doc, blank_idx, n_blank, n_kept, output_path);
  } catch (const std::bad_alloc &) {
    return fail("out of memory");
  } catch (...) {
    return fail("failed to build output");
  }
}

bool lsf_copy_reads_back(const uint8_t *bytes, uint64_t n, int64_t n_pages) {
  if (!bytes || n == 0 || n > static_cast<uint64_t>(INT32_MAX)) return false;
  try {
    c_ptr<uint8_t> copy_bytes(static_cast<uint8_t *>(std::malloc(n)));
    if (!copy_bytes) return false;
    std::memcpy(copy_bytes.get(), bytes, n);
    pdf_doc copy;
    if (doc_load_bytes(std::move(copy_bytes), static_cast<int32_t>(n), "", copy) != 0)
      return false;
    if (copy.root != 1 || copy.pages.count() != n_pages) return false;
    for (int64_t k = 0; k < n_pages; ++k)
      if (copy.pages.items[static_cast<size_t>(k)].num != 4 * k + 6) return false;
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}
