// The cross-reference chain, read for two facts only: the catalog's object number (/Root) and
// whether the document is encrypted. Table entries and cross-reference stream data are never
// used, since objects are located by scanning the file.

#include "pdfcore/xref.h"

#include <cstdint>
#include <cstring>

#include "pdfcore/lex.h"

namespace {

// Bounds the walk along /Prev, which a damaged or hostile file may turn into a loop.
constexpr int s_max_sections = 32;

// Bytes that continue a name, so that /EncryptMetadata is not /Encrypt.
bool is_name_byte(uint8_t c) { return is_alnum(c) || c == '+' || c == '-' || c == '_'; }

// The integer after "/Root": the byte right after the name is passed over unseen (it is
// normally the space before the number).
int32_t root_value_at(const uint8_t *data, int32_t len, int32_t name_pos) {
  int32_t p = name_pos + 6;
  return parse_int_at(data, len, &p);
}

// The trailers of a classic table are read from the table to the end of the file, in order.
// Done one by one as parse_trailer_dict does, a file full of trailers without a startxref
// after them would be searched to its end once per trailer; instead each search remembers its
// next hit, which stays valid for every later trailer that starts before it, so the whole walk
// reads the file about once and gives the same results.
struct trailer_walk {
  const uint8_t *data;
  int32_t len;
  int32_t sx_from = -1, sx_hit = -1;    // startxref: searched from sx_from, first hit
  int32_t root_from = -1, root_hit = -1;  // first /Root with a non-negative value
  int32_t enc_from = -1, enc_hit = -1;    // first /Encrypt

  // First hit at or after p. A search from `from` found `hit` first (or nothing), so it is
  // also the first hit from any p in [from, hit] (from any p >= from when there was none).
  template <class F>
  int32_t next(int32_t p, int32_t &from, int32_t &hit, F search) {
    if (from < 0 || p < from || (hit >= 0 && p > hit)) {
      from = p;
      hit = search(p);
    }
    return hit;
  }

  void trailer(int32_t pos, xref_info &xi) {
    if (pos > len - 7) return;
    int32_t p = skip_ws(data, pos + 7, len);
    if (p >= len) return;
    int32_t sx = next(p, sx_from, sx_hit,
                      [&](int32_t q) { return find_kw(data, len, q, "startxref"); });
    int32_t range_end = sx >= 0 ? sx : len;
    if (data[p] != '<') return;
    // A name found with the whole file as its bound ends before range_end exactly when it
    // starts before it: a name ending in a letter cannot stand directly before a whole-word
    // startxref, so the bound never decides a match.
    int32_t r = next(p, root_from, root_hit, [&](int32_t q) {
      for (int32_t n = find_name(data, len, q, len, "Root"); n >= 0;
           n = find_name(data, len, n + 1, len, "Root"))
        if (root_value_at(data, len, n) >= 0) return n;
      return int32_t{-1};
    });
    if (r >= 0 && r < range_end) xi.root = root_value_at(data, len, r);
    int32_t e = next(p, enc_from, enc_hit,
                     [&](int32_t q) { return find_name(data, len, q, len, "Encrypt"); });
    if (e >= 0 && e < range_end) xi.encrypted = 1;
  }
};

// Reads the dictionary range of the cross-reference stream whose head starts at p (the first
// digit of its object number). Returns the /Prev offset, or -1 when the chain ends here.
int32_t xref_stream_section(const uint8_t *data, int32_t len, int32_t p, xref_info &xi) {
  while (p < len && is_digit(data[p])) p++;
  p = skip_ws(data, p, len);
  if (p < len && is_digit(data[p])) {
    while (p < len && is_digit(data[p])) p++;
    p = skip_ws(data, p, len);
  }
  if (!kw_at(data, p, len, "obj")) return -1;
  p = skip_ws(data, p + 3, len);
  int32_t end = len;
  if (p < len && data[p] == '<') {
    int32_t k = dict_stream_kw(data, len, p);
    if (k >= 0) end = k;
  }
  int32_t prev = -1;
  int32_t n = find_name(data, len, p, end, "Prev");
  if (n >= 0) {
    int32_t q = n + 5;
    prev = parse_int_at(data, len, &q);
  }
  n = find_name(data, len, p, end, "Root");
  if (n >= 0 && xi.root == -1) {
    int32_t v = root_value_at(data, len, n);
    if (v >= 0) xi.root = v;
  }
  if (find_name(data, len, p, end, "Encrypt") >= 0) xi.encrypted = 1;
  return prev >= 0 && prev < len ? prev : -1;
}

// Scans the dictionary opening at p ("<<") to its closing ">>" for the name /name at any
// depth, stepping over literal and hexadecimal strings so that text such as (/Encrypt) does
// not count. A dictionary never closed runs to `end`. *stop receives where the scan ended.
bool dict_holds_name(const uint8_t *data, int32_t p, int32_t end, const char *name,
                     int32_t *stop) {
  const int32_t nl = static_cast<int32_t>(std::strlen(name));
  int32_t depth = 0;
  while (p < end) {
    uint8_t c = data[p];
    if (c == '<') {
      if (p + 1 < end && data[p + 1] == '<') {
        depth++;
        p += 2;
        continue;
      }
      const void *gt = p + 1 < end ? std::memchr(data + p + 1, '>', static_cast<size_t>(end - p - 1)) : nullptr;
      if (!gt) break;
      p = static_cast<int32_t>(static_cast<const uint8_t *>(gt) - data) + 1;
    } else if (c == '>') {
      if (p + 1 < end && data[p + 1] == '>') {
        if (depth > 0 && --depth == 0) {
          *stop = p;
          return false;
        }
        p += 2;
        continue;
      }
      p++;
    } else if (c == '(') {
      int32_t nest = 0;
      int64_t q = p;
      for (; q < end; q++) {
        if (data[q] == '\\') {
          q++;
        } else if (data[q] == '(') {
          nest++;
        } else if (data[q] == ')' && --nest == 0) {
          break;
        }
      }
      if (q >= end) break;
      p = static_cast<int32_t>(q) + 1;
    } else if (c == '/') {
      int64_t after = static_cast<int64_t>(p) + nl + 1;
      if (after <= end && std::memcmp(data + p + 1, name, static_cast<size_t>(nl)) == 0 &&
          (after == end || !is_name_byte(data[after]))) {
        *stop = p;
        return true;
      }
      p++;
    } else {
      p++;
    }
  }
  *stop = end;
  return false;
}

// The object whose "obj" keyword is at o, bounded by the next object's keyword: 1 when it is
// a cross-reference stream (top-level /Type /XRef, followed by stream) holding /Encrypt.
bool xref_stream_encrypted(const uint8_t *data, int32_t len, int32_t o, int32_t bound) {
  int32_t d = skip_ws(data, o + 3, bound);
  if (d + 1 >= bound || data[d] != '<' || data[d + 1] != '<') return false;
  int32_t stop = -1;
  if (!dict_holds_name(data, d, bound, "Encrypt", &stop)) return false;
  int32_t close = find_dict_close(data, d, bound);
  if (close < 0) return false;
  int32_t t = find_name_top(data, len, d, close, "Type");
  if (t < 0) return false;
  int32_t v = skip_ws(data, t + 5, close);
  if (find_name(data, len, v, close, "XRef") != v) return false;
  int32_t s = skip_ws(data, close + 2, len);
  return kw_at(data, s, len, "stream") != 0;
}

}  // namespace

void parse_trailer_dict(const uint8_t *data, int32_t len, int32_t pos, xref_info &xi) {
  if (pos > len - 7) return;
  int32_t p = skip_ws(data, pos + 7, len);
  if (p >= len) return;
  int32_t sx = find_kw(data, len, p, "startxref");
  int32_t end = sx >= 0 ? sx : len;
  if (data[p] != '<') return;
  for (int32_t n = find_name(data, len, p, end, "Root"); n >= 0;
       n = find_name(data, len, n + 1, end, "Root")) {
    int32_t v = root_value_at(data, len, n);
    if (v >= 0) {
      xi.root = v;
      break;
    }
  }
  if (find_name(data, len, p, end, "Encrypt") >= 0) xi.encrypted = 1;
}

void parse_xref(const uint8_t *data, int32_t len, xref_info &xi) {
  xi.root = -1;
  xi.encrypted = 0;
  int32_t sx = -1;
  for (int32_t k = find_kw(data, len, 0, "startxref"); k >= 0;
       k = find_kw(data, len, k + 9, "startxref"))
    sx = k;
  if (sx < 0) return;
  int32_t q = sx + 9;
  int32_t off = parse_int_at(data, len, &q);
  if (off < 0 || off >= len) return;

  for (int sections = 0; sections < s_max_sections; sections++) {
    int32_t p = skip_ws(data, off, len);
    if (p >= len) return;
    if (kw_at(data, p, len, "xref")) {
      // A classic table ends the chain: its trailers, and those of every later update, are
      // all applied in file order, so the last usable /Root in the file decides.
      trailer_walk walk{data, len};
      for (int32_t t = find_kw(data, len, p + 4, "trailer"); t >= 0;
           t = find_kw(data, len, t + 7, "trailer"))
        walk.trailer(t, xi);
      return;
    }
    if (!is_digit(data[p])) return;
    off = xref_stream_section(data, len, p, xi);
    if (off < 0) return;
  }
}

// Only the startxref chain is visited by parse_xref; a file whose startxref is damaged would
// otherwise load with every stream still ciphertext. Both searches move forward only, and
// every dictionary is scanned at most once, so the cost stays linear in the file size.
int encrypt_anywhere(const uint8_t *data, int32_t len) {
  // Trailer dictionaries. A "trailer" inside a dictionary already scanned is no trailer
  // keyword (it stands in a string or value there), so it is passed over.
  int32_t scanned_to = -1;
  for (int32_t t = find_kw(data, len, 0, "trailer"); t >= 0;
       t = find_kw(data, len, t + 7, "trailer")) {
    if (t <= scanned_to) continue;
    int32_t p = skip_ws(data, t + 7, len);
    if (p + 1 >= len || data[p] != '<' || data[p + 1] != '<') continue;
    int32_t stop = -1;
    if (dict_holds_name(data, p, len, "Encrypt", &stop)) return 1;
    scanned_to = stop;
  }

  // Cross-reference stream dictionaries, found through their /XRef. The dictionary holding
  // one is that of the last object head before it; each such object is examined once,
  // bounded by the next object head.
  int32_t obj_prev = -1, obj_next = find_kw(data, len, 0, "obj"), checked = -1;
  for (int32_t x = find_name(data, len, 0, len, "XRef"); x >= 0;
       x = find_name(data, len, x + 1, len, "XRef")) {
    while (obj_next >= 0 && obj_next < x) {
      obj_prev = obj_next;
      obj_next = find_kw(data, len, obj_next + 3, "obj");
    }
    if (obj_prev < 0 || obj_prev == checked) continue;
    checked = obj_prev;
    if (xref_stream_encrypted(data, len, obj_prev, obj_next >= 0 ? obj_next : len)) return 1;
  }
  return 0;
}
