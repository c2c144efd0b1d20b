// The content-stream tokenizer and the extents of values written in place. One pass over the
// bytes, no backtracking: strings and numbers are converted while they are scanned, and a
// string, dictionary or comment that runs to the end of the content ends there.

#include "render/tokenizer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "pdfcore/lex.h"

namespace {

bool is_letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_hex(uint8_t c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_val(uint8_t c) {
  if (c <= '9') return c - '0';
  if (c >= 'a') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Inside a hexadecimal string vertical tab counts as white space too, and NUL does not.
bool is_hex_space(uint8_t c) { return c == ' ' || (c >= 9 && c <= 13); }

bool is_name_byte(uint8_t c) {
  return is_alnum(c) || c == '*' || c == '+' || c == '-' || c == '.' || c == '_';
}

// The growing byte storage of a string token: the token's inline bytes first, then a heap
// block that doubles. A failed growth ends the string with what it has.
struct string_sink {
  token *t;
  uint8_t *data;
  int32_t cap;
  int32_t len = 0;

  explicit string_sink(token *tok) : t(tok), data(tok->small), cap(k_token_inline) {}

  bool put(uint8_t c) {
    if (len == cap && !grow()) return false;
    data[len++] = c;
    return true;
  }

  bool grow() {
    if (cap > INT32_MAX / 2) return false;
    int32_t ncap = cap < 64 ? 64 : cap * 2;
    uint8_t *block;
    if (t->owned) {
      block = static_cast<uint8_t *>(std::realloc(t->owned.get(), static_cast<size_t>(ncap)));
      if (!block) return false;
      (void)t->owned.release();
    } else {
      block = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(ncap)));
      if (!block) return false;
      std::memcpy(block, data, static_cast<size_t>(len));
    }
    t->owned.reset(block);
    data = block;
    cap = ncap;
    return true;
  }

  void finish() {
    t->type = TOK_STRING;
    t->bytes = data;
    t->len = len;
  }
};

int32_t read_hex_string(const uint8_t *d, int32_t len, int32_t p, token *t) {
  string_sink s(t);
  p++;
  while (p < len) {
    uint8_t c = d[p];
    if (c == '>') {
      p++;
      break;
    }
    if (is_hex_space(c)) {
      p++;
      continue;
    }
    p++;
    if (!is_hex(c)) break;
    int v = hex_val(c) << 4;
    if (p < len && is_hex(d[p])) v |= hex_val(d[p++]);
    if (!s.put(static_cast<uint8_t>(v))) break;
  }
  s.finish();
  return p;
}

int32_t read_literal_string(const uint8_t *d, int32_t len, int32_t p, token *t) {
  string_sink s(t);
  int depth = 1;
  p++;
  while (p < len) {
    uint8_t c = d[p++];
    if (c == '\\') {
      if (p >= len) break;
      uint8_t e = d[p++];
      int out = -1;
      switch (e) {
        case 'n': out = 10; break;
        case 'r': out = 13; break;
        case 't': out = 9; break;
        case 'b': out = 8; break;
        case 'f': out = 12; break;
        case '\n': break;
        case '\r':
          if (p < len && d[p] == '\n') p++;
          break;
        default:
          if (e >= '0' && e <= '7') {
            int v = e - '0';
            for (int k = 0; k < 2 && p < len && d[p] >= '0' && d[p] <= '7'; k++)
              v = v * 8 + (d[p++] - '0');
            out = v & 255;
          } else {
            out = e;
          }
      }
      if (out >= 0 && !s.put(static_cast<uint8_t>(out))) break;
      continue;
    }
    if (c == '(') {
      depth++;
    } else if (c == ')') {
      if (--depth == 0) break;
    }
    if (!s.put(c)) break;
  }
  s.finish();
  return p;
}

int32_t read_number(const uint8_t *d, int32_t len, int32_t p, token *t) {
  bool negative = false;
  if (d[p] == '+') {
    p++;
    if (p < len && d[p] == '-') {
      negative = true;
      p++;
    }
  } else if (d[p] == '-') {
    negative = true;
    p++;
  }
  if (p >= len) return p;
  if (!is_digit(d[p]) && d[p] != '.') return is_letter(d[p]) ? p : p + 1;
  bool leading_dot = d[p] == '.';
  if (leading_dot && !(p + 1 < len && is_digit(d[p + 1]))) return p + 1;

  double v = 0;
  while (p < len && is_digit(d[p])) v = 10 * v + (d[p++] - '0');
  if (p < len && d[p] == '.') {
    p++;
    double f = 0.1;
    while (p < len && is_digit(d[p])) {
      v += (d[p++] - '0') * f;
      f *= 0.1;
    }
  }
  if (!leading_dot && p < len && (d[p] == 'e' || d[p] == 'E')) {
    int32_t q = p + 1;
    bool eneg = false;
    if (q < len && (d[q] == '+' || d[q] == '-')) eneg = d[q++] == '-';
    if (q < len && is_digit(d[q])) {
      // Any exponent beyond a few hundred already gives 0 or infinity; the cap keeps the
      // integer from overflowing on a long run of digits.
      int e = 0;
      while (q < len && is_digit(d[q])) {
        if (e < 100000) e = e * 10 + (d[q] - '0');
        q++;
      }
      v *= std::pow(10.0, eneg ? -e : e);
      p = q;
    }
  }
  t->type = TOK_NUMBER;
  t->num = negative ? -v : v;
  return p;
}

// The text of a name or operator: inline when it fits, else in its own block. False when the
// block cannot be had.
bool set_text(token *t, const uint8_t *src, int32_t n, bool may_truncate) {
  uint8_t *dst = t->small;
  int32_t keep = n;
  if (n >= k_token_inline) {
    if (may_truncate) {
      keep = k_token_inline - 1;
    } else {
      dst = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n) + 1));
      if (!dst) return false;
      t->owned.reset(dst);
    }
  }
  std::memcpy(dst, src, static_cast<size_t>(keep));
  dst[keep] = 0;
  t->name = reinterpret_cast<const char *>(dst);
  t->len = n;
  return true;
}

}  // namespace

token::token(token &&other) noexcept { *this = std::move(other); }

token &token::operator=(token &&other) noexcept {
  if (this == &other) return *this;
  type = other.type;
  num = other.num;
  len = other.len;
  owned = std::move(other.owned);
  const uint8_t *inl = other.small;
  bool name_inline = reinterpret_cast<const uint8_t *>(other.name) == inl;
  bool bytes_inline = other.bytes == inl;
  if (name_inline || bytes_inline) {
    int32_t n = len + (name_inline ? 1 : 0);
    std::memcpy(small, other.small, static_cast<size_t>(n < k_token_inline ? n : k_token_inline));
  }
  name = name_inline ? reinterpret_cast<const char *>(small) : other.name;
  bytes = bytes_inline ? small : other.bytes;
  token_release(&other);
  return *this;
}

void token_release(token *t) {
  t->type = TOK_NONE;
  t->num = 0;
  t->name = nullptr;
  t->bytes = nullptr;
  t->len = 0;
  t->owned.reset();
}

int32_t token_next(const uint8_t *d, int32_t len, int32_t pos, token *t) {
  token_release(t);
  if (pos < 0) pos = 0;
  if (pos >= len) return len;
  int32_t p = pos;
  uint8_t c = d[p];

  if (c == '%') {
    while (p < len && d[p] != '\r' && d[p] != '\n') p++;
    return p;
  }
  if (c < 33) {
    while (p < len && d[p] < 33) p++;
    return p;
  }
  switch (c) {
    case ')':
    case '>':
    case ']':
    case '}':
      return p + 1;
    case '/': {
      int32_t s = ++p;
      while (p < len && is_name_byte(d[p])) p++;
      if (!set_text(t, d + s, p - s, false)) return pos + 1;
      t->type = TOK_NAME;
      return p;
    }
    case '[':
      t->type = TOK_ARRAY;
      return p + 1;
    case '<':
      if (p + 1 < len && d[p + 1] == '<') {
        int depth = 1;
        p += 2;
        while (len - p >= 2) {
          if (d[p] == '<' && d[p + 1] == '<') {
            depth++;
            p += 2;
          } else if (d[p] == '>' && d[p + 1] == '>') {
            p += 2;
            if (--depth == 0) break;
          } else {
            p++;
          }
        }
        if (depth > 0) p = len;
        t->type = TOK_DICT;
        return p;
      }
      return read_hex_string(d, len, p, t);
    case '(':
      return read_literal_string(d, len, p, t);
    case '\'':
    case '"':
      set_text(t, d + p, 1, true);
      t->type = TOK_OPERATOR;
      return p + 1;
    default:
      break;
  }
  if (c == '+' || c == '-' || c == '.' || is_digit(c)) return read_number(d, len, p, t);
  if (is_letter(c)) {
    while (p < len && is_letter(d[p])) p++;
    if (p < len && d[p] == '*') p++;
    set_text(t, d + pos, p - pos, true);
    t->type = TOK_OPERATOR;
    return p;
  }
  return p + 1;
}

int32_t skip_blank(const uint8_t *d, int32_t pos, int32_t end) {
  int32_t p = pos < 0 ? 0 : pos;
  while (p < end) {
    if (d[p] < 33) {
      p++;
    } else if (d[p] == '%') {
      while (p < end && d[p] != '\r' && d[p] != '\n') p++;
    } else {
      break;
    }
  }
  return p;
}

namespace {

// After a non-negative integer at p (ending at after): the end of "gen R" when a reference
// follows, else after itself.
int32_t ref_tail(const uint8_t *d, int32_t after, int32_t end) {
  int32_t q = skip_blank(d, after, end);
  if (q >= end || !is_digit(d[q])) return after;
  while (q < end && is_digit(d[q])) q++;
  q = skip_blank(d, q, end);
  if (q < end && d[q] == 'R' && (q + 1 >= end || !is_alnum(d[q + 1]))) return q + 1;
  return after;
}

}  // namespace

int32_t value_end(const uint8_t *d, int32_t pos, int32_t end) {
  int32_t p = skip_blank(d, pos, end);
  if (p >= end) return end;
  token t;
  if (d[p] == '[') {
    // Nested arrays are counted, not recursed into; strings and dictionaries inside are read
    // by the tokenizer so that their brackets do not count.
    int depth = 0;
    while (p < end) {
      if (d[p] == '[') {
        depth++;
        p++;
      } else if (d[p] == ']') {
        p++;
        if (--depth == 0) return p;
      } else {
        p = token_next(d, end, p, &t);
      }
    }
    return end;
  }
  int32_t after = token_next(d, end, p, &t);
  if (t.type == TOK_NUMBER && is_digit(d[p])) {
    bool integer = true;
    for (int32_t q = p; q < after; q++) integer = integer && is_digit(d[q]);
    if (integer) return ref_tail(d, after, end);
  }
  return after > p ? after : p + 1;
}

int32_t dict_value(const uint8_t *d, int32_t pos, int32_t end, const char *key) {
  int32_t p = skip_blank(d, pos, end);
  if (p + 1 >= end || d[p] != '<' || d[p + 1] != '<') return -1;
  size_t klen = std::strlen(key);
  p += 2;
  token t;
  while (true) {
    p = skip_blank(d, p, end);
    if (p >= end || (d[p] == '>' && p + 1 < end && d[p + 1] == '>')) return -1;
    if (d[p] != '/') {
      p = value_end(d, p, end);
      continue;
    }
    p = token_next(d, end, p, &t);
    bool match = t.type == TOK_NAME && static_cast<size_t>(t.len) == klen &&
                 std::memcmp(t.name, key, klen) == 0;
    int32_t v = skip_blank(d, p, end);
    if (v >= end) return -1;
    if (match) return v;
    p = value_end(d, v, end);
  }
}

int32_t array_item(const uint8_t *d, int32_t pos, int32_t end, int index) {
  int32_t p = skip_blank(d, pos, end);
  if (p >= end || d[p] != '[') return -1;
  p++;
  for (int i = 0;; i++) {
    p = skip_blank(d, p, end);
    if (p >= end || d[p] == ']') return -1;
    if (i == index) return p;
    p = value_end(d, p, end);
  }
}

int array_count(const uint8_t *d, int32_t pos, int32_t end) {
  int32_t p = skip_blank(d, pos, end);
  if (p >= end || d[p] != '[') return -1;
  p++;
  int n = 0;
  while (true) {
    p = skip_blank(d, p, end);
    if (p >= end || d[p] == ']') return n;
    n++;
    p = value_end(d, p, end);
  }
}
