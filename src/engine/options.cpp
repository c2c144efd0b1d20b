// Reading the options text: a single flat JSON object of known keys. The walk is one pass with
// no recursion: a nested object or array is a wrong type for every key, so depth costs
// nothing, and every string and number is bounded by the text itself.
#include "engine/options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct reader {
  const char *s;
  size_t n;
  size_t p = 0;

  void skip_ws() {
    while (p < n && (s[p] == ' ' || s[p] == '\t' || s[p] == '\n' || s[p] == '\r')) p++;
  }
  bool at(char c) const { return p < n && s[p] == c; }
};

// A key as it may stand in a message: printable ASCII, cut short.
std::string shown(const std::string &key) {
  std::string out;
  for (unsigned char c : key) {
    if (out.size() >= 40) return out + "...";
    out += (c >= 0x20 && c < 0x7F && c != '"') ? static_cast<char>(c) : '?';
  }
  return out;
}

bool fail(std::string *why, const std::string &msg) {
  *why = "options: " + msg;
  return false;
}

bool syntax(std::string *why, size_t at) {
  return fail(why, "not a valid JSON object (at byte " + std::to_string(at) + ")");
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A JSON string at r.p (the opening quote), decoded; characters beyond ASCII are kept as '?',
// which no key or value of ours holds.
bool read_string(reader &r, std::string *out) {
  if (!r.at('"')) return false;
  r.p++;
  out->clear();
  while (r.p < r.n) {
    unsigned char c = static_cast<unsigned char>(r.s[r.p++]);
    if (c == '"') return true;
    if (c < 0x20) return false;
    if (c != '\\') {
      *out += c < 0x80 ? static_cast<char>(c) : '?';
      continue;
    }
    if (r.p >= r.n) return false;
    char e = r.s[r.p++];
    switch (e) {
      case '"': *out += '"'; break;
      case '\\': *out += '\\'; break;
      case '/': *out += '/'; break;
      case 'b': *out += '\b'; break;
      case 'f': *out += '\f'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      case 't': *out += '\t'; break;
      case 'u': {
        if (r.n - r.p < 4) return false;
        int v = 0;
        for (int k = 0; k < 4; k++) {
          int h = hex(r.s[r.p++]);
          if (h < 0) return false;
          v = v * 16 + h;
        }
        *out += v > 0 && v < 0x80 ? static_cast<char>(v) : '?';
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

enum value_kind { V_STRING, V_NUMBER, V_BOOL, V_NULL, V_NESTED };

struct value {
  int kind = V_NULL;
  std::string text;  // a string's contents
  double num = 0;
  bool finite = true;
};

// A number by the JSON grammar; its value through strtod on a bounded copy.
bool read_number(reader &r, value *v) {
  const size_t start = r.p;
  if (r.at('-')) r.p++;
  if (r.at('0')) {
    r.p++;
  } else if (r.p < r.n && r.s[r.p] >= '1' && r.s[r.p] <= '9') {
    while (r.p < r.n && r.s[r.p] >= '0' && r.s[r.p] <= '9') r.p++;
  } else {
    return false;
  }
  if (r.at('.')) {
    r.p++;
    if (!(r.p < r.n && r.s[r.p] >= '0' && r.s[r.p] <= '9')) return false;
    while (r.p < r.n && r.s[r.p] >= '0' && r.s[r.p] <= '9') r.p++;
  }
  if (r.at('e') || r.at('E')) {
    r.p++;
    if (r.at('+') || r.at('-')) r.p++;
    if (!(r.p < r.n && r.s[r.p] >= '0' && r.s[r.p] <= '9')) return false;
    while (r.p < r.n && r.s[r.p] >= '0' && r.s[r.p] <= '9') r.p++;
  }
  v->kind = V_NUMBER;
  const size_t len = r.p - start;
  // A written number this long is out of every range of ours.
  if (len > 64) {
    v->finite = false;
    return true;
  }
  char buf[72];
  std::memcpy(buf, r.s + start, len);
  buf[len] = 0;
  v->num = std::strtod(buf, nullptr);
  v->finite = std::isfinite(v->num);
  return true;
}

bool read_value(reader &r, value *v) {
  if (r.at('"')) {
    v->kind = V_STRING;
    return read_string(r, &v->text);
  }
  if (r.at('{') || r.at('[')) {
    // Not walked: the key is refused for its type before anything inside is read.
    v->kind = V_NESTED;
    return true;
  }
  for (const char *word : {"true", "false", "null"}) {
    size_t k = std::strlen(word);
    if (r.n - r.p >= k && std::memcmp(r.s + r.p, word, k) == 0) {
      r.p += k;
      v->kind = word[0] == 'n' ? V_NULL : V_BOOL;
      return true;
    }
  }
  return read_number(r, v);
}

// The scan rule's numeric parameters: the key, where it goes and its accepted range.
struct number_key {
  const char *key;
  double scan_params::*field;
  double lo, hi;
};

const number_key k_scan_keys[] = {
    {"margin_mm", &scan_params::margin_mm, 0, 50},
    {"speck_mm2", &scan_params::speck_mm2, 0, 100},
    {"contrast", &scan_params::contrast, 1, 255},
    {"max_ink_mm2", &scan_params::max_ink_mm2, 0, 10000},
    {"faint_mm2", &scan_params::faint_mm2, 0, 10000},
};

std::string range_text(double lo, double hi) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "from %g to %g", lo, hi);
  return buf;
}

bool apply(const std::string &key, const value &v, detect_options *o, std::string *why) {
  const std::string q = "\"" + shown(key) + "\"";
  if (key == "rule") {
    if (v.kind != V_STRING) return fail(why, q + " must be \"light\" or \"scan\"");
    if (v.text == "light")
      o->rule = RULE_LIGHT;
    else if (v.text == "scan")
      o->rule = RULE_SCAN;
    else
      return fail(why, q + " must be \"light\" or \"scan\"");
    return true;
  }
  if (key == "threshold") {
    if (v.kind != V_NUMBER || (v.finite && v.num != std::floor(v.num)))
      return fail(why, q + " must be a whole number");
    if (!v.finite || v.num < -2147483648.0 || v.num > 2147483647.0)
      return fail(why, q + " is out of range");
    o->threshold = static_cast<int>(v.num);
    return true;
  }
  for (const number_key &k : k_scan_keys) {
    if (key != k.key) continue;
    if (v.kind != V_NUMBER) return fail(why, q + " must be a number");
    if (!v.finite || !(v.num >= k.lo && v.num <= k.hi))
      return fail(why, q + " must be " + range_text(k.lo, k.hi));
    o->scan.*k.field = v.num;
    return true;
  }
  return fail(why, "unknown key " + q);
}

}  // namespace

bool parse_detect_options(const char *text, detect_options *out, std::string *why) {
  *out = detect_options{};
  if (!text) return true;
  const size_t n = strnlen(text, k_max_options_text + 1);
  if (n > k_max_options_text) return fail(why, "text longer than 65536 bytes");
  reader r{text, n};
  r.skip_ws();
  if (!r.at('{')) return fail(why, "not a JSON object");
  r.p++;
  r.skip_ws();
  if (r.at('}')) {
    r.p++;
  } else {
    std::string seen;  // keys already given, between NUL bytes
    for (;;) {
      r.skip_ws();
      std::string key;
      if (!read_string(r, &key)) return syntax(why, r.p);
      r.skip_ws();
      if (!r.at(':')) return syntax(why, r.p);
      r.p++;
      r.skip_ws();
      value v;
      if (!read_value(r, &v)) return syntax(why, r.p);
      const std::string mark = std::string(1, '\0') + key + '\0';
      if (seen.find(mark) != std::string::npos)
        return fail(why, "key \"" + shown(key) + "\" given twice");
      seen += mark;
      if (!apply(key, v, out, why)) return false;
      r.skip_ws();
      if (r.at(',')) {
        r.p++;
        continue;
      }
      if (r.at('}')) {
        r.p++;
        break;
      }
      return syntax(why, r.p);
    }
  }
  r.skip_ws();
  if (r.p != n) return syntax(why, r.p);
  return true;
}
