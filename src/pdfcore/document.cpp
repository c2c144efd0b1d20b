// Loading a document: the file into memory, the scan stages that build the object table, the
// checks that refuse unusable files, and the page-tree walk that yields the pages in document
// order with their boxes and rotations. Stream data and resources are read in streams.cpp.
#include "pdfcore/document.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "pdfcore/error.h"
#include "pdfcore/lex.h"

namespace {

// Positions are signed 32-bit, so a file must stay below 2 GiB.
constexpr int64_t k_max_file_size = INT64_C(2147483648);

// A page that names no usable box anywhere on its way up the tree is taken as A4.
constexpr double k_a4_width = 595;
constexpr double k_a4_height = 842;

struct file_closer {
  void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};

int64_t file_tell(std::FILE *f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

int file_seek(std::FILE *f, int64_t pos, int whence) {
#ifdef _WIN32
  return _fseeki64(f, pos, whence);
#else
  return fseeko(f, static_cast<off_t>(pos), whence);
#endif
}

// The occurrences of one key at the top level of a dictionary text, in order, by the rules of
// find_name_top (depth 0 or 1; strings, hexadecimal strings and comments stepped over), with
// the depth kept from one hit to the next so that a later hit is as much a key as the first.
class top_names {
 public:
  top_names(const uint8_t *t, int32_t tl, const char *name)
      : t_(t), tl_(tl), name_(name), name_len_(static_cast<int32_t>(std::strlen(name))) {}

  // The position of the next "/" of the key, or -1.
  int32_t next() {
    while (p_ < tl_) {
      const uint8_t c = t_[p_];
      if (c == '%') {
        while (p_ < tl_ && t_[p_] != '\r' && t_[p_] != '\n') ++p_;
      } else if (c == '(') {
        skip_literal();
      } else if (c == '<' || c == '>') {
        if (p_ + 1 >= tl_) break;
        if (t_[p_ + 1] == c) {
          if (c == '<') ++depth_;
          else if (depth_ > 0) --depth_;
          p_ += 2;
        } else if (c == '<') {
          while (p_ < tl_ && t_[p_] != '>') ++p_;
          if (p_ < tl_) ++p_;
        } else {
          ++p_;
        }
      } else if (c == '/' && depth_ <= 1 && is_key_here()) {
        return p_++;
      } else {
        ++p_;
      }
    }
    p_ = tl_;
    return -1;
  }

 private:
  bool is_key_here() const {
    if (tl_ - p_ - 1 < name_len_) return false;
    if (std::memcmp(t_ + p_ + 1, name_, static_cast<size_t>(name_len_)) != 0) return false;
    const int32_t after = p_ + 1 + name_len_;
    if (after >= tl_) return true;
    const uint8_t c = t_[after];
    return !(is_alnum(c) || c == '+' || c == '-' || c == '_');
  }

  // Balanced parentheses, a backslash escaping the byte after it; an unterminated string
  // ends the text.
  void skip_literal() {
    int32_t nest = 0;
    while (p_ < tl_) {
      const uint8_t c = t_[p_++];
      if (c == '\\') {
        if (p_ < tl_) ++p_;
      } else if (c == '(') {
        ++nest;
      } else if (c == ')' && --nest == 0) {
        return;
      }
    }
    p_ = tl_;
  }

  const uint8_t *t_;
  int32_t tl_;
  const char *name_;
  int32_t name_len_;
  int32_t p_ = 0;
  int32_t depth_ = 0;
};

// The value after a name that ends at `pos`: white space skipped.
int32_t value_at(const uint8_t *t, int32_t tl, int32_t pos) { return skip_ws(t, pos, tl); }

// Reads an indirect reference "num gen R" at `pos` (a digit) and returns the object it names
// when that object is in the table.
const pdf_obj *ref_target(const uint8_t *t, int32_t tl, int32_t pos, const objvec &objs) {
  int32_t num = parse_int_at(t, tl, &pos);
  return num >= 1 ? obj_find(objs, num) : nullptr;
}

// The text of an array object (its value opens with "["): the position of the "[" and the
// bounds of the text it stands in.
bool array_object(const uint8_t *data, int32_t len, const pdf_obj &obj, const uint8_t **t,
                  int32_t *tl, int32_t *open) {
  if (obj.is_stream || !obj_value_text(data, len, obj, t, tl)) return false;
  int32_t p = skip_ws(*t, 0, *tl);
  if (p >= *tl || (*t)[p] != '[') return false;
  *open = p;
  return true;
}

// One number of a box array: optional sign, digits, optionally "." and digits; a leading "."
// is allowed and there is no exponent. A sign followed by nothing numeric reads as zero.
double read_box_number(const uint8_t *data, int32_t len, int32_t *pos) {
  int32_t p = *pos;
  bool negative = false;
  if (data[p] == '+' || data[p] == '-') {
    negative = data[p] == '-';
    ++p;
    if (p >= len || !(is_digit(data[p]) || data[p] == '.')) {
      *pos = p;
      return 0;
    }
  }
  double value = 0;
  while (p < len && is_digit(data[p])) value = value * 10 + (data[p++] - '0');
  if (p < len && data[p] == '.') {
    ++p;
    double scale = 0.1;
    while (p < len && is_digit(data[p])) {
      value += (data[p++] - '0') * scale;
      scale /= 10;
    }
  }
  *pos = p;
  return negative ? -value : value;
}

struct page_box {
  bool set = false;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

page_box own_box(const uint8_t *data, int32_t len, const pdf_obj &obj, const objvec &objs) {
  page_box b;
  b.set = obj_box(data, len, obj, &b.x0, &b.y0, &b.x1, &b.y1, &objs) == 1;
  return b;
}

// The page's own CropBox or MediaBox; else the nearest ancestor's; else A4. The rotation is
// the page's own, else the one handed down the tree (already in inh_rotate).
void fill_pageinfo(const uint8_t *data, int32_t len, const objvec &objs, const pdf_obj &obj,
                   const page_box &inherited,
                   pageinfo &page) {
  page_box b = own_box(data, len, obj, objs);
  if (!b.set) b = inherited;
  if (b.set) {
    page.x0 = b.x0, page.y0 = b.y0, page.x1 = b.x1, page.y1 = b.y1;
  } else {
    page.x0 = 0, page.y0 = 0, page.x1 = k_a4_width, page.y1 = k_a4_height;
  }
  int32_t r = obj_rotate_own(data, len, obj);
  page.rotate = r >= 0 ? r : page.inh_rotate;
}

// Reads the kid numbers of an array whose "[" is at `open`. -2 when it holds an inline
// dictionary: pages written in place cannot be addressed by number.
int parse_kid_array(const uint8_t *t, int32_t tl, int32_t open, std::vector<int32_t> &kids) {
  // Every kid takes a few bytes, so this bounds what hostile bytes can make us store.
  const size_t cap = static_cast<size_t>(tl) / 4 + 4096;
  int32_t p = skip_ws(t, open + 1, tl);
  while (p < tl && t[p] != ']') {
    if (t[p] == '<' && p + 1 < tl && t[p + 1] == '<') return -2;
    if (!is_digit(t[p])) {
      ++p;
      continue;
    }
    int32_t q = p;
    int32_t num = parse_int_at(t, tl, &q);
    if (num >= 1 && kids.size() < cap) kids.push_back(num);
    p = skip_ws(t, q > p ? q : p + 1, tl);
    if (p < tl && is_digit(t[p])) {
      q = p;
      parse_int_at(t, tl, &q);
      p = skip_ws(t, q > p ? q : p + 1, tl);
    }
    if (p < tl && t[p] == 'R') p = skip_ws(t, p + 1, tl);
  }
  return 1;
}

// The kids of a /Pages node: the number stored, -2 for an inline dictionary, -1 when no /Kids
// array (written in place or as a reference to an array object) can be found.
int parse_kids(const uint8_t *data, int32_t len, const objvec &objs, const pdf_obj &node,
               std::vector<int32_t> &kids) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, node, &t, &tl)) return -1;
  top_names keys(t, tl, "Kids");
  for (int32_t p = keys.next(); p >= 0; p = keys.next()) {
    int32_t v = value_at(t, tl, p + 5);
    if (v >= tl) continue;
    int rc = 0;
    if (t[v] == '[') {
      rc = parse_kid_array(t, tl, v, kids);
    } else if (is_digit(t[v])) {
      const pdf_obj *target = ref_target(t, tl, v, objs);
      const uint8_t *a;
      int32_t al, open;
      if (!target || !array_object(data, len, *target, &a, &al, &open)) continue;
      rc = parse_kid_array(a, al, open, kids);
    } else {
      continue;
    }
    return rc < 0 ? rc : static_cast<int>(kids.size());
  }
  return -1;
}

// One /Pages node on the walk's stack: its kids still to visit and what it hands down.
struct walk_frame {
  std::vector<int32_t> kids;
  size_t next = 0;
  int32_t rotate = 0;
  page_box box;
};

// Opens a /Pages node: 1 with the frame filled, -1 for a cycle or unreadable kids, -2 for an
// inline dictionary, 0 for the tree's root without a /Kids array.
int open_node(const uint8_t *data, int32_t len, const objvec &objs, const pdf_obj &node,
              int32_t max_num, std::vector<uint8_t> &visited, int32_t rotate,
              const page_box &box, bool is_root, walk_frame &frame) {
  if (node.num >= 0 && node.num <= max_num) {
    if (visited[node.num]) return -1;
    visited[node.num] = 1;
  }
  int rc = parse_kids(data, len, objs, node, frame.kids);
  if (rc == -2) return -2;
  if (rc < 0) return is_root ? 0 : -1;
  int32_t own = obj_rotate_own(data, len, node);
  frame.rotate = own >= 0 ? own : rotate;
  frame.box = own_box(data, len, node, objs);
  if (!frame.box.set) frame.box = box;
  return 1;
}

// Walks the page tree from `num` depth-first, left to right, with an explicit stack so that
// the depth of the tree does not matter. Result: the number of pages in the list; 0 when the
// root has no /Kids; -2 for an inline dictionary in the root's /Kids; -1 for a broken tree.
// A node whose last kid is another node is replaced by it, so a chain needs one frame.
int32_t resolve_pages(const uint8_t *data, int32_t len, const objvec &objs, int32_t num,
                      int32_t max_num, pagevec &pages, std::vector<uint8_t> &visited) {
  const pdf_obj *root = obj_find(objs, num);
  if (!root) return -1;
  int type = obj_type(data, len, *root);
  if (type == 1) {
    pageinfo page;
    page.num = num;
    fill_pageinfo(data, len, objs, *root, page_box(), page);
    pages.items.push_back(page);
    return 1;
  }
  if (type != 2) return -1;

  std::vector<walk_frame> stack(1);
  int rc = open_node(data, len, objs, *root, max_num, visited, 0, page_box(), true, stack[0]);
  if (rc <= 0) return rc;
  while (!stack.empty()) {
    walk_frame &top = stack.back();
    if (top.next >= top.kids.size()) {
      stack.pop_back();
      continue;
    }
    int32_t kid = top.kids[top.next++];
    const pdf_obj *obj = obj_find(objs, kid);
    if (!obj) return -1;
    int kid_type = obj_type(data, len, *obj);
    if (kid_type == 1) {
      pageinfo page;
      page.num = kid;
      page.inh_rotate = top.rotate;
      fill_pageinfo(data, len, objs, *obj, top.box, page);
      pages.items.push_back(page);
    } else if (kid_type == 2) {
      walk_frame child;
      if (open_node(data, len, objs, *obj, max_num, visited, top.rotate, top.box, false,
                    child) < 0)
        return -1;
      if (top.next >= top.kids.size()) stack.pop_back();
      stack.push_back(std::move(child));
    } else {
      return -1;
    }
  }
  return pages.count();
}

// The catalog: the trailer's /Root when that object exists, else the first object that
// mentions /Catalog, else object 1.
int32_t choose_catalog(const pdf_doc &doc) {
  if (doc.xref.root >= 0 && obj_find(doc.objs, doc.xref.root)) return doc.xref.root;
  const uint8_t *data = doc.data.get();
  for (const pdf_obj &o : doc.objs.items) {
    const uint8_t *t;
    int32_t tl;
    if (o.in_objstm) {
      if (!o.text || o.text_len <= 7) continue;
      t = o.text;
      tl = o.text_len;
    } else {
      if (o.dict < 0 || o.dict >= doc.len) continue;
      int32_t end = o.endobj > o.dict && o.endobj <= doc.len ? o.endobj : doc.len;
      t = data + o.dict;
      tl = end - o.dict;
    }
    if (find_name(t, tl, 0, tl, "Catalog") >= 0) return o.num;
  }
  return 1;
}

int fail_load(pdf_doc &doc) {
  pdfcore_doc_free(doc);
  return -1;
}

// The stages after the bytes are in doc.data. Any std::bad_alloc is caught by the caller.
int load_stages(const char *name, pdf_doc &doc) {
  const uint8_t *data = doc.data.get();
  const int32_t len = doc.len;
  parse_xref(data, len, doc.xref);
  scan_pass1(data, len, doc.objs);
  scan_pass2(data, len, doc.objs);
  extract_all_objstm(data, len, doc.objs, doc.arena);
  doc.max_num = scan_final_pass(data, len, doc.objs);

  if (doc.objs.count() == 0) {
    pdfcore_set_error("no PDF objects found — not a PDF: %s", name);
    return -1;
  }
  // A broken startxref must not let an encrypted file through as garbage pages.
  if (doc.xref.encrypted || encrypt_anywhere(data, len) == 1) {
    pdfcore_set_error("encrypted PDFs are not supported: %s", name);
    return -1;
  }

  doc.root = choose_catalog(doc);
  const pdf_obj *catalog = obj_find(doc.objs, doc.root);
  if (!catalog) {
    pdfcore_set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(doc.root));
    return -1;
  }
  int32_t tree_root = doc.root;
  int catalog_type = obj_type(data, len, *catalog);
  if (catalog_type != 1 && catalog_type != 2) tree_root = parse_pages_ref(data, len, *catalog);
  if (tree_root < 0) {
    pdfcore_set_error("catalog (obj %ld) has no /Pages reference", static_cast<long>(doc.root));
    return -1;
  }

  std::vector<uint8_t> visited(static_cast<size_t>(doc.max_num) + 1, 0);
  int32_t found = resolve_pages(data, len, doc.objs, tree_root, doc.max_num, doc.pages, visited);
  if (found == -2) {
    pdfcore_set_error(
        "page tree uses inline page dictionaries in /Kids — pages must be indirect objects");
    return -1;
  }
  if (found < 0) {
    pdfcore_set_error(
        "could not resolve the page tree (obj %ld is not a /Pages or /Page object, or tree is "
        "broken)",
        static_cast<long>(tree_root));
    return -1;
  }
  if (found == 0) {
    pdfcore_set_error("document has no pages");
    return -1;
  }
  return 0;
}

}  // namespace

bool obj_value_text(const uint8_t *data, int32_t len, const pdf_obj &obj, const uint8_t **text,
                    int32_t *text_len) {
  if (obj.in_objstm) {
    if (!obj.text || obj.text_len <= 0) return false;
    *text = obj.text;
    *text_len = obj.text_len;
    return true;
  }
  if (obj.head < 0 || obj.head >= len) return false;
  int32_t end = obj.endobj > obj.head && obj.endobj <= len ? obj.endobj : len;
  int32_t kw = find_kw(data, end, obj.head, "obj");
  if (kw < 0) return false;
  int32_t start = kw + 3;
  *text = data + start;
  *text_len = end - start;
  return true;
}

int obj_type(const uint8_t *data, int32_t len, const pdf_obj &obj) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, obj, &t, &tl)) return 0;
  top_names keys(t, tl, "Type");
  for (int32_t p = keys.next(); p >= 0; p = keys.next()) {
    int32_t v = value_at(t, tl, p + 5);
    if (tl - v < 5 || t[v] != '/' || std::memcmp(t + v + 1, "Page", 4) != 0) continue;
    int32_t q = v + 5;
    if (q >= tl || !is_alnum(t[q])) return 1;
    if (t[q] != 's') return 0;
    return q + 1 >= tl || !is_alnum(t[q + 1]) ? 2 : 0;
  }
  return 0;
}

int32_t parse_pages_ref(const uint8_t *data, int32_t len, const pdf_obj &obj) {
  const uint8_t *t;
  int32_t tl;
  if (obj.in_objstm) {
    if (!obj.text) return -1;
    t = obj.text;
    tl = obj.text_len;
  } else {
    // The catalog is read up to endobj whatever stands between.
    if (obj.dict < 0 || obj.dict >= len) return -1;
    int32_t end = obj.endobj > obj.dict && obj.endobj <= len ? obj.endobj : len;
    t = data + obj.dict;
    tl = end - obj.dict;
  }
  for (int32_t p = find_name(t, tl, 0, tl, "Pages"); p >= 0; p = find_name(t, tl, p + 1, tl, "Pages")) {
    int32_t v = p + 6;
    int32_t num = parse_int_at(t, tl, &v);
    if (num >= 1) return num;
  }
  return -1;
}

int parse_box_array(const uint8_t *data, int32_t len, int32_t pos, double *x0, double *y0,
                    double *x1, double *y1) {
  if (pos < 0 || pos >= len) return 0;
  int32_t p = skip_ws(data, pos + 1, len);
  double v[4];
  int got = 0;
  while (got < 4 && p < len) {
    uint8_t c = data[p];
    if (c == ']') return 0;
    if (is_digit(c) || c == '+' || c == '-' || c == '.') {
      v[got++] = read_box_number(data, len, &p);
    } else {
      ++p;
    }
  }
  if (got < 4) return 0;
  for (double d : v)
    if (!std::isfinite(d)) return 0;
  // Any two opposite corners describe the rectangle; the page wants lower-left first.
  if (v[0] > v[2]) std::swap(v[0], v[2]);
  if (v[1] > v[3]) std::swap(v[1], v[3]);
  if (!(v[2] - v[0] > 0) || !(v[3] - v[1] > 0)) return 0;
  *x0 = v[0], *y0 = v[1], *x1 = v[2], *y1 = v[3];
  return 1;
}

int obj_box(const uint8_t *data, int32_t len, const pdf_obj &obj, double *x0, double *y0,
            double *x1, double *y1, const objvec *objs) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, obj, &t, &tl)) return 0;
  for (const char *name : {"CropBox", "MediaBox"}) {
    const int32_t name_len = static_cast<int32_t>(std::strlen(name));
    top_names keys(t, tl, name);
    for (int32_t p = keys.next(); p >= 0; p = keys.next()) {
      int32_t v = value_at(t, tl, p + 1 + name_len);
      if (v < tl && t[v] == '[' && parse_box_array(t, tl, v, x0, y0, x1, y1)) return 1;
      // A box may be an indirect array object, as some producers share one box object.
      if (objs && v < tl && is_digit(t[v])) {
        const pdf_obj *target = ref_target(t, tl, v, *objs);
        const uint8_t *at;
        int32_t atl, open;
        if (target && array_object(data, len, *target, &at, &atl, &open) &&
            parse_box_array(at, atl, open, x0, y0, x1, y1))
          return 1;
      }
    }
  }
  return 0;
}

int32_t obj_rotate_own(const uint8_t *data, int32_t len, const pdf_obj &obj) {
  const uint8_t *t;
  int32_t tl;
  if (!obj_dict_text(data, len, obj, &t, &tl)) return -1;
  int32_t p = find_name_top(t, tl, 0, tl, "Rotate");
  if (p < 0) return -1;
  int32_t v = p + 7;
  int32_t r = parse_int_at(t, tl, &v);
  // -1 is also the reader's "no number"; any other value, negative ones included, is a
  // rotation in degrees (-90 turns the page the same way as 270).
  if (r == -1) return -1;
  return (r % 360 + 360) % 360;
}

int doc_load_bytes(c_ptr<uint8_t> bytes, int32_t len, const char *name, pdf_doc &doc) {
  pdfcore_doc_free(doc);
  if (!name) name = "";
  if (!bytes || len < 1) {
    pdfcore_set_error("empty input file: %s", name);
    return -1;
  }
  doc.data = std::move(bytes);
  doc.len = len;
  int rc;
  try {
    rc = load_stages(name, doc);
  } catch (const std::bad_alloc &) {
    pdfcore_set_error("out of memory");
    rc = -1;
  }
  return rc == 0 ? 0 : fail_load(doc);
}

int doc_load(const char *path, pdf_doc &doc) {
  pdfcore_doc_free(doc);
  if (!path) {
    pdfcore_set_error("NULL path argument");
    return -1;
  }
  std::unique_ptr<std::FILE, file_closer> f(std::fopen(path, "rb"));
  if (!f) {
    pdfcore_set_error("cannot open %s", path);
    return -1;
  }
  int64_t size = file_seek(f.get(), 0, SEEK_END) == 0 ? file_tell(f.get()) : -1;
  if (size < 0 || file_seek(f.get(), 0, SEEK_SET) != 0) {
    pdfcore_set_error("read error on %s", path);
    return -1;
  }
  if (size >= k_max_file_size) {
    pdfcore_set_error("input file too large (2 GiB or more): %s", path);
    return -1;
  }
  if (size < 1) {
    pdfcore_set_error("empty input file: %s", path);
    return -1;
  }
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size))));
  size_t got = 0;
  if (bytes) {
    while (got < static_cast<size_t>(size)) {
      size_t n = std::fread(bytes.get() + got, 1, static_cast<size_t>(size) - got, f.get());
      if (n == 0) break;
      got += n;
    }
  }
  f.reset();
  if (!bytes || got != static_cast<size_t>(size)) {
    pdfcore_set_error("read error on %s", path);
    return -1;
  }
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(size), path, doc);
}

int pdfcore_load(const char *path, pdf_doc &doc) { return doc_load(path, doc) == 0 ? 1 : 0; }

void pdfcore_doc_free(pdf_doc &doc) { doc = pdf_doc(); }
