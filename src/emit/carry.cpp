// Carrying objects over: the objects reachable from what the kept pages draw are copied under
// new numbers, and every reference in carried dictionaries and object bodies is rewritten.
// Stream data are copied as they stand; only their dictionaries are rewritten.
#include "emit/carry.h"

#include <cstdio>
#include <cstring>

#include "pdfcore/lex.h"
#include "pdfcore/objects.h"

namespace {

// A body longer than this is not carried; the copy becomes null.
constexpr int32_t k_max_body = 268435455;

bool is_delimiter(uint8_t c) {
  return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}
bool is_regular(uint8_t c) { return !is_pdf_ws(c) && !is_delimiter(c); }
bool is_hex_digit(uint8_t c) {
  return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

int32_t end_of_regular(const uint8_t *t, int32_t p, int32_t n) {
  while (p < n && is_regular(t[p])) ++p;
  return p;
}

// Past the literal string opening at p: parentheses nest, a backslash hides the byte after it.
// An unclosed string runs to the end of the text.
int32_t end_of_literal(const uint8_t *t, int32_t p, int32_t n) {
  int32_t depth = 0;
  for (int64_t q = p; q < n; ++q) {
    if (t[q] == '\\') {
      ++q;
    } else if (t[q] == '(') {
      ++depth;
    } else if (t[q] == ')' && --depth == 0) {
      return static_cast<int32_t>(q + 1);
    }
  }
  return n;
}

int32_t end_of_hex(const uint8_t *t, int32_t p, int32_t n) {
  const void *hit = std::memchr(t + p, '>', static_cast<size_t>(n - p));
  return hit ? static_cast<int32_t>(static_cast<const uint8_t *>(hit) - t) + 1 : n;
}

int32_t end_of_comment(const uint8_t *t, int32_t p, int32_t n) {
  while (p < n && t[p] != '\r' && t[p] != '\n') ++p;
  return p;
}

// A comment separates tokens just as white space does.
int32_t skip_gap(const uint8_t *t, int32_t p, int32_t n) {
  for (;;) {
    p = skip_ws(t, p, n);
    if (p >= n || t[p] != '%') return p;
    p = end_of_comment(t, p, n);
  }
}

// A run of digits that is a whole token; its value saturates just past the largest object
// number, which no table holds.
bool integer_token(const uint8_t *t, int32_t p, int32_t n, int64_t *value, int32_t *end) {
  int64_t v = 0;
  int32_t q = p;
  while (q < n && is_digit(t[q])) {
    if (v <= k_max_obj_num) v = v * 10 + (t[q] - '0');
    ++q;
  }
  if (q == p || (q < n && is_regular(t[q]))) return false;
  *value = v;
  *end = q;
  return true;
}

// The reference "n g R" whose object number starts at p. A reference split by line breaks or
// comments, or with any generation, is still a reference.
bool reference_at(const uint8_t *t, int32_t p, int32_t n, int32_t *num, int32_t *after) {
  int64_t v, g;
  int32_t e, ge;
  if (!integer_token(t, p, n, &v, &e)) return false;
  int32_t q = skip_gap(t, e, n);
  if (!integer_token(t, q, n, &g, &ge)) return false;
  int32_t r = skip_gap(t, ge, n);
  if (r >= n || t[r] != 'R' || (r + 1 < n && is_regular(t[r + 1]))) return false;
  *num = v > k_max_obj_num ? k_max_obj_num + 1 : static_cast<int32_t>(v);
  *after = r + 1;
  return true;
}

// Words that the reader of the written file looks for in the bytes between objects: an object
// head ("n g obj"), the end of an object, the start of stream data, a trailer. Carried text
// that holds one, in a string, a comment or as stray bytes of a damaged object, would make the
// copy read differently from the text it came from (a head inside a copy could replace the
// catalog), so such text is written in a form that says the same without the word.
bool holds(const uint8_t *t, int32_t from, int32_t to, const char *word) {
  const size_t wl = std::strlen(word);
  return to - from >= static_cast<int32_t>(wl) &&
         memmem(t + from, static_cast<size_t>(to - from), word, wl) != nullptr;
}
bool holds_structure_word(const uint8_t *t, int32_t from, int32_t to) {
  return holds(t, from, to, "obj") || holds(t, from, to, "trailer");
}

// A regular token that the reader would take for a structure word where it stands: "obj"
// after two numbers, or "endobj", "stream" or "trailer" standing alone.
bool structure_token(const uint8_t *t, int32_t s, int32_t e, int32_t n) {
  int32_t num, gen;
  if (kw_at(t, s, n, "obj") && s > 0 && parse_obj_head(t, s, &num, &gen) >= 0) return true;
  return kw_at(t, s, n, "endobj") || kw_at(t, s, n, "stream") || kw_at(t, s, n, "trailer") ||
         (e - s > 6 && holds(t, s, e, "endobj"));
}

// A literal string with every "obj" and "trailer" spelt with an octal escape for its first
// letter: the same string to any reader, with no such word in its bytes.
void put_literal_escaped(const uint8_t *t, int32_t s, int32_t e, buf &out) {
  bool after_backslash = false;
  for (int32_t q = s; q < e; ++q) {
    const bool word = (q + 3 <= e && std::memcmp(t + q, "obj", 3) == 0) ||
                      (q + 7 <= e && std::memcmp(t + q, "trailer", 7) == 0);
    if (word) {
      // After a lone backslash the letter is already escaped ("\o" reads as "o"), so only
      // the digits are added.
      const char *code = t[q] == 'o' ? "157" : "164";
      if (!after_backslash) buf_str(out, "\\");
      buf_str(out, code);
      after_backslash = false;
      continue;
    }
    buf_bytes(out, t + q, 1);
    after_backslash = !after_backslash && t[q] == '\\';
  }
}

// A name holding "endobj" or "trailer" with that letter written as #xx: the same name.
void put_name_escaped(const uint8_t *t, int32_t s, int32_t e, buf &out) {
  for (int32_t q = s; q < e; ++q) {
    if ((q + 6 <= e && std::memcmp(t + q, "endobj", 6) == 0) ||
        (q + 7 <= e && std::memcmp(t + q, "trailer", 7) == 0)) {
      buf_str(out, t[q] == 'e' ? "#65" : "#74");
    } else {
      buf_bytes(out, t + q, 1);
    }
  }
}

int32_t resolve(carry_plan &plan, const pdf_doc &doc, int32_t num) {
  if (num < 1 || static_cast<size_t>(num) >= plan.out_num.size()) return k_carry_missing;
  int32_t &slot = plan.out_num[static_cast<size_t>(num)];
  if (slot != 0) return slot;
  const pdf_obj *o = obj_find(doc.objs, num);
  if (!o) return slot = k_carry_missing;
  if (num == doc.root || obj_type(doc.data.get(), doc.len, *o) != 0) return slot = k_carry_null;
  plan.copies.push_back(num);
  return slot = plan.base + static_cast<int32_t>(plan.copies.size() - 1);
}

// Walks a dictionary or object body token by token and hands every reference to on_ref,
// which answers with the output number (or anything below 1 for null). With `out`, the text
// is copied there with the references replaced. With stream_length >= 0 the /Length of the
// outermost dictionary is made to state that many bytes (added when absent): the copied data
// are exactly the bytes the reader settled on, whatever the input's /Length said.
template <class OnRef>
void walk(const uint8_t *t, int32_t n, OnRef on_ref, buf *out, int64_t stream_length) {
  int32_t copied = 0;
  auto flush = [&](int32_t upto) {
    if (out && upto > copied) buf_bytes(*out, t + copied, static_cast<uint64_t>(upto - copied));
    copied = upto;
  };
  auto put_length = [&](int32_t from, int32_t to) {
    if (!out) return;
    flush(from);
    char s[32];
    std::snprintf(s, sizeof s, "%lld", static_cast<long long>(stream_length));
    buf_str(*out, s);
    copied = to;
  };
  int32_t depth = 0;
  bool length_done = stream_length < 0;
  int32_t i = 0;
  while (i < n) {
    const uint8_t c = t[i];
    if (c == '(') {
      const int32_t e = end_of_literal(t, i, n);
      if (out && holds_structure_word(t, i, e)) {
        flush(i);
        put_literal_escaped(t, i, e, *out);
        copied = e;
      }
      i = e;
    } else if (c == '<') {
      if (i + 1 < n && t[i + 1] == '<') {
        ++depth;
        i += 2;
      } else {
        // Letters other than hex digits carry nothing in a hexadecimal string.
        const int32_t e = end_of_hex(t, i, n);
        if (out && holds_structure_word(t, i, e)) {
          flush(i);
          for (int32_t q = i; q < e; ++q)
            if (q == i || t[q] == '>' || is_pdf_ws(t[q]) || is_hex_digit(t[q]))
              buf_bytes(*out, t + q, 1);
          copied = e;
        }
        i = e;
      }
    } else if (c == '>') {
      if (i + 1 < n && t[i + 1] == '>') {
        if (depth == 1 && !length_done) {
          if (out) {
            flush(i);
            buf_str(*out, i > 0 && is_pdf_ws(t[i - 1]) ? "/Length " : " /Length ");
            put_length(i, i);
            buf_str(*out, " ");
          }
          length_done = true;
        }
        if (depth > 0) --depth;
        i += 2;
      } else {
        ++i;
      }
    } else if (c == '%') {
      const int32_t e = end_of_comment(t, i, n);
      if (out && holds_structure_word(t, i, e)) {
        flush(i);
        copied = e;  // a comment says nothing; the line break after it stays
      }
      i = e;
    } else if (c == '/') {
      const int32_t e = end_of_regular(t, i + 1, n);
      if (out && (holds(t, i, e, "endobj") || holds(t, i, e, "trailer"))) {
        flush(i);
        put_name_escaped(t, i, e, *out);
        copied = e;
      }
      const bool length_key = depth == 1 && !length_done && e - i == 7 &&
                              std::memcmp(t + i + 1, "Length", 6) == 0;
      i = e;
      if (length_key) {
        length_done = true;
        int32_t v = skip_ws(t, e, n);
        int64_t value;
        int32_t ve, num, after;
        if (v < n && reference_at(t, v, n, &num, &after)) {
          put_length(v, after);
          i = after;
        } else if (v < n && integer_token(t, v, n, &value, &ve)) {
          if (value != stream_length) put_length(v, ve);
          i = ve;
        }
      }
    } else if (is_digit(c)) {
      int32_t num, after;
      if (reference_at(t, i, n, &num, &after)) {
        int32_t m = on_ref(num);
        if (out) {
          flush(i);
          if (m > 0) {
            buf_int(*out, m);
            buf_str(*out, " 0 R");
          } else {
            buf_str(*out, "null");
          }
          copied = after;
        }
        i = after;
      } else {
        i = end_of_regular(t, i, n);
      }
    } else if (is_regular(c)) {
      const int32_t e = end_of_regular(t, i, n);
      if (out && structure_token(t, i, e, n)) {
        // Stray words of a damaged object: null keeps the value's shape without them.
        flush(i);
        buf_str(*out, "null");
        copied = e;
      }
      i = e;
    } else {
      ++i;
    }
  }
  flush(n);
}

void write_copy(carry_plan &plan, const pdf_doc &doc, const pdf_obj &o, buf &out) {
  const uint8_t *data = doc.data.get();
  if (o.in_objstm) {
    if (o.text && o.text_len > 0) {
      carry_rewrite(plan, doc, o.text, o.text_len, out);
      buf_str(out, "\nendobj\n");
    } else {
      buf_str(out, "null\nendobj\n");
    }
    return;
  }
  if (o.is_stream && o.dict >= 0 && o.stream_kw > o.dict && o.stream_start >= o.stream_kw &&
      o.stream_end >= o.stream_start && o.stream_end <= doc.len) {
    const int64_t n = o.stream_end - o.stream_start;
    carry_rewrite(plan, doc, data + o.dict, o.stream_kw - o.dict, out, n);
    buf_str(out, "stream\n");
    buf_bytes(out, data + o.stream_start, static_cast<uint64_t>(n));
    buf_str(out, "\nendstream\nendobj\n");
    return;
  }
  int32_t start = -1;
  if (o.head >= 0 && o.endobj > o.head && o.endobj <= doc.len) {
    int32_t kw = find_kw(data, o.endobj, o.head, "obj");
    if (kw >= 0) start = skip_ws(data, kw + 3, o.endobj);
  }
  if (start < 0 || start >= o.endobj || o.endobj - start > k_max_body) {
    buf_str(out, "null\nendobj\n");
    return;
  }
  carry_rewrite(plan, doc, data + start, o.endobj - start, out);
  if (!is_pdf_ws(data[o.endobj - 1])) buf_str(out, "\n");
  buf_str(out, "endobj\n");
}

}  // namespace

void carry_init(carry_plan &plan, const pdf_doc &doc, int32_t base) {
  plan.base = base;
  plan.copies.clear();
  plan.out_num.assign(static_cast<size_t>(doc.max_num > 0 ? doc.max_num : 0) + 1, 0);
}

bool carry_collect(carry_plan &plan, const pdf_doc &doc, const uint8_t *text, int32_t len,
                   bool required) {
  bool ok = true;
  walk(
      text, len,
      [&](int32_t num) {
        int32_t m = resolve(plan, doc, num);
        if (m == k_carry_missing && required) ok = false;
        return m;
      },
      nullptr, -1);
  return ok;
}

bool carry_collect_object(carry_plan &plan, const pdf_doc &doc, int32_t num) {
  return resolve(plan, doc, num) != k_carry_missing;
}

int32_t carry_number(const carry_plan &plan, int32_t num) {
  if (num < 1 || static_cast<size_t>(num) >= plan.out_num.size()) return k_carry_missing;
  return plan.out_num[static_cast<size_t>(num)];
}

void carry_rewrite(carry_plan &plan, const pdf_doc &doc, const uint8_t *text, int32_t len,
                   buf &out, int64_t stream_length) {
  walk(
      text, len, [&](int32_t num) { return resolve(plan, doc, num); }, &out, stream_length);
}

void carry_write_copies(carry_plan &plan, const pdf_doc &doc, buf &out,
                        std::vector<int64_t> &offsets) {
  // The list grows while it is written: every copy may name objects not met before.
  for (size_t i = 0; i < plan.copies.size() && buf_ok(out); ++i) {
    const int32_t m = plan.base + static_cast<int32_t>(i);
    const pdf_obj *o = obj_find(doc.objs, plan.copies[i]);
    if (static_cast<size_t>(m) >= offsets.size()) offsets.resize(static_cast<size_t>(m) + 1, -1);
    offsets[static_cast<size_t>(m)] = static_cast<int64_t>(out.len);
    buf_int(out, m);
    buf_str(out, " 0 obj\n");
    if (o) {
      write_copy(plan, doc, *o, out);
    } else {
      buf_str(out, "null\nendobj\n");
    }
  }
}
