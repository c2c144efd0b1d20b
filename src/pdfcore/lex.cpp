// Lexical helpers over raw PDF bytes: keywords, integers, names and dictionary extents. Every
// reader of the library asks its questions through these scans, so they are kept exact about
// their bounds and fast on whole files (candidate bytes are located with memchr).

#include "pdfcore/lex.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// A name continues through these bytes, so /Pages is never taken for /Page.
bool is_name_continuation(uint8_t c) { return is_alnum(c) || c == '+' || c == '-' || c == '_'; }

// The "/name" at p, given that p + L + 1 <= lim, not continuing into a longer name.
bool name_at(const uint8_t *data, int32_t lim, int32_t p, const char *name, int32_t nlen) {
  if (data[p] != '/' || std::memcmp(data + p + 1, name, static_cast<size_t>(nlen)) != 0)
    return false;
  int32_t after = p + nlen + 1;
  return after == lim || !is_name_continuation(data[after]);
}

int32_t str_len32(const char *s) {
  size_t n = std::strlen(s);
  return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

// Position after the ">" ending the hexadecimal string that opens with "<" at p, or -1.
int32_t skip_hex(const uint8_t *data, int32_t p, int32_t lim) {
  if (p + 1 >= lim) return -1;
  const void *hit = std::memchr(data + p + 1, '>', static_cast<size_t>(lim - p - 1));
  if (!hit) return -1;
  return static_cast<int32_t>(static_cast<const uint8_t *>(hit) - data) + 1;
}

// The three integer readers share the grammar and differ in the signs they accept and in
// where a failed read leaves the position; these are the places a read can fail.
enum class int_fail { none, at_end, only_ws, sign_last, no_digit };

struct int_read {
  int_fail fail;
  int32_t value;
  int32_t pos;  // after the digits on success; the offending byte on no_digit
};

int_read read_int_core(const uint8_t *data, int32_t end, int32_t pos, bool plus_ok) {
  if (pos < 0 || pos >= end) return {int_fail::at_end, -1, pos};
  int32_t p = skip_ws(data, pos, end);
  if (p >= end) return {int_fail::only_ws, -1, p};
  bool negative = false;
  if (data[p] == '-' || (plus_ok && data[p] == '+')) {
    negative = data[p] == '-';
    p++;
    if (p >= end) return {int_fail::sign_last, -1, p};
  }
  if (!is_digit(data[p])) return {int_fail::no_digit, -1, p};
  uint32_t v = 0;
  while (p < end && is_digit(data[p])) {
    v = v * 10u + static_cast<uint32_t>(data[p] - '0');
    p++;
  }
  if (negative) v = 0u - v;
  return {int_fail::none, static_cast<int32_t>(v), p};
}

}  // namespace

// Position after the literal string opening with "(" at p, honouring nested parentheses and
// backslash escapes; -1 when it is not closed before lim.
int32_t skip_literal(const uint8_t *data, int32_t p, int32_t lim) {
  int32_t depth = 0;
  int64_t q = p;
  while (q < lim) {
    uint8_t c = data[q];
    if (c == '\\') {
      q += 2;
      continue;
    }
    if (c == '(') {
      depth++;
    } else if (c == ')') {
      if (--depth == 0) return static_cast<int32_t>(q + 1);
    }
    q++;
  }
  return -1;
}

int32_t skip_ws(const uint8_t *data, int32_t pos, int32_t end) {
  if (pos >= end) return pos;
  int32_t p = pos < 0 ? 0 : pos;
  while (p < end && is_pdf_ws(data[p])) p++;
  return p;
}

// An empty keyword is never a word.
int kw_at(const uint8_t *data, int32_t pos, int32_t end, const char *kw) {
  int32_t kl = str_len32(kw);
  if (kl == 0 || pos < 0 || static_cast<int64_t>(pos) + kl > end) return 0;
  if (std::memcmp(data + pos, kw, static_cast<size_t>(kl)) != 0) return 0;
  if (pos > 0 && is_alnum(data[pos - 1])) return 0;
  if (pos + kl < end && is_alnum(data[pos + kl])) return 0;
  return 1;
}

int32_t find_kw(const uint8_t *data, int32_t end, int32_t from, const char *kw) {
  int32_t kl = str_len32(kw);
  if (kl == 0) return -1;
  int64_t p = from < 0 ? 0 : from;
  const int64_t last = static_cast<int64_t>(end) - kl;  // last possible start
  const uint8_t first = static_cast<uint8_t>(kw[0]);
  while (p <= last) {
    const void *hit = std::memchr(data + p, first, static_cast<size_t>(last - p + 1));
    if (!hit) return -1;
    int32_t q = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - data);
    if (std::memcmp(data + q + 1, kw + 1, static_cast<size_t>(kl - 1)) == 0 &&
        (q == 0 || !is_alnum(data[q - 1])) && (q + kl >= end || !is_alnum(data[q + kl])))
      return q;
    p = static_cast<int64_t>(q) + 1;
  }
  return -1;
}

// parse_int_at reads dictionary values and object numbers: it takes "-" only, and a failed
// read leaves the position where it was.
int32_t parse_int_at(const uint8_t *data, int32_t end, int32_t *pos) {
  int_read r = read_int_core(data, end, *pos, false);
  if (r.fail == int_fail::none) *pos = r.pos;
  return r.value;
}

// read_int_adv walks the number pairs at the head of an object stream: it always moves
// forward, but stops on an "R" so that a caller can recognise a reference there.
int32_t read_int_adv(const uint8_t *data, int32_t end, int32_t *pos) {
  int_read r = read_int_core(data, end, *pos, true);
  switch (r.fail) {
    case int_fail::none: *pos = r.pos; break;
    case int_fail::at_end: break;
    case int_fail::only_ws:
    case int_fail::sign_last: *pos = end; break;
    case int_fail::no_digit: *pos = data[r.pos] == 'R' ? r.pos : r.pos + 1; break;
  }
  return r.value;
}

// read_num_adv serves readers of matrices and of font and image dictionaries, which loop on
// it and rely on every call moving past at least one byte.
int32_t read_num_adv(const uint8_t *data, int32_t end, int32_t *pos) {
  int_read r = read_int_core(data, end, *pos, true);
  switch (r.fail) {
    case int_fail::none: *pos = r.pos; break;
    case int_fail::at_end: break;
    case int_fail::only_ws: *pos = end; break;
    case int_fail::sign_last: *pos = end == INT32_MAX ? end : end + 1; break;
    case int_fail::no_digit: *pos = r.pos + 1; break;
  }
  return r.value;
}

int32_t find_name(const uint8_t *data, int32_t len, int32_t from, int32_t end, const char *name) {
  int32_t nl = str_len32(name);
  const int32_t lim = len < end ? len : end;
  int64_t p = from < 0 ? 0 : from;
  const int64_t last = static_cast<int64_t>(lim) - nl - 1;  // last possible "/"
  while (p <= last) {
    const void *hit = std::memchr(data + p, '/', static_cast<size_t>(last - p + 1));
    if (!hit) return -1;
    int32_t q = static_cast<int32_t>(static_cast<const uint8_t *>(hit) - data);
    if (name_at(data, lim, q, name, nl)) return q;
    p = static_cast<int64_t>(q) + 1;
  }
  return -1;
}

// Keys of the dictionary opened at `from` stand at depth 1 (depth 0 covers a range that starts
// inside the dictionary); values that are dictionaries hold their own keys one level deeper.
int32_t find_name_top(const uint8_t *data, int32_t len, int32_t from, int32_t end,
                      const char *name) {
  int32_t nl = str_len32(name);
  const int32_t lim = len < end ? len : end;
  int32_t depth = 0;
  int32_t p = from < 0 ? 0 : from;
  while (p < lim) {
    uint8_t c = data[p];
    switch (c) {
      case '%':
        while (p < lim && data[p] != '\r' && data[p] != '\n') p++;
        if (p >= lim) return -1;
        break;
      case '(':
        p = skip_literal(data, p, lim);
        if (p < 0) return -1;
        break;
      case '<':
        if (p + 1 >= lim) return -1;
        if (data[p + 1] == '<') {
          depth++;
          p += 2;
        } else {
          p = skip_hex(data, p, lim);
          if (p < 0) return -1;
        }
        break;
      case '>':
        if (p + 1 >= lim) return -1;
        if (data[p + 1] == '>') {
          if (depth > 0) depth--;
          p += 2;
        } else {
          p++;
        }
        break;
      case '/':
        if (depth <= 1 && static_cast<int64_t>(p) + nl + 1 <= lim && name_at(data, lim, p, name, nl))
          return p;
        p++;
        break;
      default:
        p++;
        break;
    }
  }
  return -1;
}

// Hexadecimal strings are stepped over whole: a value such as /ID [<9F3A>] written directly
// before the closing ">>" must not lend its ">" to the dictionary's end. A ">>" with no open
// dictionary is stepped over.
int32_t find_dict_close(const uint8_t *data, int32_t start, int32_t end) {
  int32_t depth = 0;
  int32_t p = start < 0 ? 0 : start;
  while (p < end) {
    uint8_t c = data[p];
    if (c == '<') {
      if (p + 1 >= end) return -1;
      if (data[p + 1] == '<') {
        depth++;
        p += 2;
      } else {
        p = skip_hex(data, p, end);
        if (p < 0) return -1;
      }
    } else if (c == '>') {
      if (p + 1 >= end) return -1;
      if (data[p + 1] == '>') {
        if (depth > 0 && --depth == 0) return p;
        p += 2;
      } else {
        p++;
      }
    } else if (c == '(') {
      p = skip_literal(data, p, end);
      if (p < 0) return -1;
    } else {
      p++;
    }
  }
  return -1;
}

// The one test by which an object counts as a stream.
int32_t dict_stream_kw(const uint8_t *data, int32_t end, int32_t start) {
  int32_t close = find_dict_close(data, start, end);
  if (close < 0) return -1;
  int32_t p = skip_ws(data, close + 2, end);
  return kw_at(data, p, end, "stream") ? p : -1;
}

c_ptr<uint8_t> dict_text_at(const uint8_t *data, int32_t len, int32_t pos, int32_t *out_len) {
  if (out_len) *out_len = 0;
  if (pos < 0 || static_cast<int64_t>(pos) + 1 >= len || data[pos] != '<' || data[pos + 1] != '<')
    return nullptr;
  int32_t close = find_dict_close(data, pos, len);
  if (close < 0) return nullptr;
  int32_t n = close + 2 - pos;
  c_ptr<uint8_t> text(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n) + 1)));
  if (!text) return nullptr;
  std::memcpy(text.get(), data + pos, static_cast<size_t>(n));
  text.get()[n] = 0;
  if (out_len) *out_len = n;
  return text;
}
