// Stream decoding for the renderer and the image readers: the filters a stream names are
// applied in their written order, each with its own decode parameters (predictors after Flate
// and LZW). At the first filter not decoded here (DCT, JPX, JBIG2, unknown names) the data so
// far are handed back with a status saying so; that is how JPEG data reach the image decoder.

#include "render/filters.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pdfcore/inflate.h"
#include "pdfcore/lex.h"
#include "pdfcore/streams.h"
#include "render/ccitt.h"
#include "render/image.h"
#include "render/interp.h"
#include "render/lzw.h"
#include "render/predictor.h"
#include "render/runlength.h"
#include "render/tokenizer.h"

namespace {

// What a chain of filters may yield for every byte of the stream: more than LZW's largest
// ratio (a 12-bit code can stand for 4096 bytes) and Flate's (2064), plus a fixed allowance.
constexpr uint64_t k_chain_max_ratio = 4096;
constexpr uint64_t k_chain_extra = uint64_t(1) << 20;

enum filter_kind { F_NONE, F_A85, F_AHX, F_FLATE, F_LZW, F_RL, F_CCITT, F_OTHER };

// More filters than this in one stream are not a real file's; the rest is left undecoded.
constexpr int k_max_filters = 8;

struct filter_step {
  int kind = F_OTHER;
  res_span parms;  // its parameter dictionary; pos -1 when it has none
};

struct filter_chain {
  filter_step steps[k_max_filters + 1];
  int count = 0;
};

// A filter name from its beginning: a longer name that starts with one of these counts as it,
// as it always has for base-85 and Flate here.
int kind_of_name(const uint8_t *t, int32_t end, int32_t p) {
  static const struct {
    const char *name;
    int kind;
  } names[] = {{"ASCII85Decode", F_A85},     {"ASCIIHexDecode", F_AHX}, {"FlateDecode", F_FLATE},
               {"LZWDecode", F_LZW},         {"RunLengthDecode", F_RL},
               {"CCITTFaxDecode", F_CCITT}};
  if (p >= end || t[p] != '/') return F_OTHER;
  for (const auto &n : names) {
    int32_t k = static_cast<int32_t>(std::strlen(n.name));
    if (p + 1 <= end - k && std::memcmp(t + p + 1, n.name, static_cast<size_t>(k)) == 0)
      return n.kind;
  }
  return F_OTHER;
}

bool is_null(const res_span &v) { return kw_at(v.data, v.pos, v.end, "null"); }
bool is_dict(const res_span &v) {
  return v.pos + 1 < v.end && v.data[v.pos] == '<' && v.data[v.pos + 1] == '<';
}

// The value of a top-level key of the stream dictionary, references followed.
bool key_value(const pdf_doc &doc, const uint8_t *t, int32_t n, const char *key, res_span *out) {
  int32_t k = find_name_top(t, n, 0, n, key);
  if (k < 0) return false;
  int32_t p = skip_ws(t, k + 1 + static_cast<int32_t>(std::strlen(key)), n);
  return p < n && res_deref(&doc, res_span{t, p, n}, out);
}

// /Filter as one name or an array of names, each with the /DecodeParms entry beside it: a
// dictionary, or an array whose entries (null for a filter without parameters) follow the
// filters. A lone dictionary beside an array of filters is given to each of them. Anything
// that cannot be read as a filter name ends the chain with an undecoded step.
filter_chain read_filters(const pdf_doc &doc, const uint8_t *t, int32_t n) {
  filter_chain c;
  res_span f;
  int32_t key = find_name_top(t, n, 0, n, "Filter");
  if (key < 0) return c;
  int32_t p = skip_ws(t, key + 7, n);
  if (p >= n) return c;
  auto add = [&](int kind) {
    if (c.count < k_max_filters + 1) c.steps[c.count++].kind = kind;
  };
  if (!res_deref(&doc, res_span{t, p, n}, &f)) {
    add(F_OTHER);
    return c;
  }
  if (is_null(f)) return c;
  if (f.data[f.pos] == '/') {
    add(kind_of_name(f.data, f.end, f.pos));
  } else if (f.data[f.pos] == '[') {
    int count = array_count(f.data, f.pos, f.end);
    for (int i = 0; i < count; i++) {
      if (c.count == k_max_filters) {
        add(F_OTHER);
        break;
      }
      res_span item;
      int32_t q = array_item(f.data, f.pos, f.end, i);
      if (q < 0 || !res_deref(&doc, res_span{f.data, q, f.end}, &item)) {
        add(F_OTHER);
        break;
      }
      // A null in the array decodes nothing but keeps its place against /DecodeParms.
      if (is_null(item)) {
        add(F_NONE);
        continue;
      }
      int kind = kind_of_name(item.data, item.end, item.pos);
      add(kind);
      if (kind == F_OTHER) break;
    }
  } else {
    add(F_OTHER);
  }

  res_span d;
  if (!key_value(doc, t, n, "DecodeParms", &d)) return c;
  if (is_dict(d)) {
    for (int i = 0; i < c.count; i++) c.steps[i].parms = d;
  } else if (d.data[d.pos] == '[') {
    int count = array_count(d.data, d.pos, d.end);
    for (int i = 0; i < c.count && i < count; i++) {
      res_span item;
      int32_t q = array_item(d.data, d.pos, d.end, i);
      if (q >= 0 && res_deref(&doc, res_span{d.data, q, d.end}, &item) && is_dict(item))
        c.steps[i].parms = item;
    }
  }
  return c;
}

// An integer parameter, references followed; `missing` when it is absent or no number.
// Values far outside any sane range are pulled in so that later size checks see them.
int parm_int(const pdf_doc &doc, const res_span &d, const char *key, int missing) {
  if (d.pos < 0) return missing;
  int32_t v = dict_value(d.data, d.pos, d.end, key);
  res_span s;
  double x = 0;
  if (v < 0 || !res_deref(&doc, res_span{d.data, v, d.end}, &s)) return missing;
  int32_t q = s.pos;
  if (!read_real(s.data, s.end, &q, &x)) return missing;
  if (x > 1e9) x = 1e9;
  if (x < -1e9) x = -1e9;
  return static_cast<int>(x);
}

bool parm_bool(const pdf_doc &doc, const res_span &d, const char *key, bool missing) {
  if (d.pos < 0) return missing;
  int32_t v = dict_value(d.data, d.pos, d.end, key);
  res_span s;
  if (v < 0 || !res_deref(&doc, res_span{d.data, v, d.end}, &s)) return missing;
  if (kw_at(s.data, s.pos, s.end, "true")) return true;
  if (kw_at(s.data, s.pos, s.end, "false")) return false;
  return missing;
}

// The base-85 encoding of the PDF format: groups of five digits '!'..'u' make four bytes, 'z'
// at a group boundary stands for four zero bytes, '~' ends the data, and a final partial group
// of k digits is padded with 'u' and yields k - 1 bytes. Every other byte is ignored.
c_ptr<uint8_t> ascii85_decode(const uint8_t *src, int32_t n, int32_t *out_len) {
  uint64_t cap = static_cast<uint64_t>(n / 5) * 4 + 20;
  c_ptr<uint8_t> out(static_cast<uint8_t *>(std::malloc(cap)));
  if (!out) return nullptr;
  uint64_t len = 0;
  auto put = [&](uint8_t b) {
    if (len == cap) {
      if (cap * 2 > k_max_decoded_stream) return false;
      void *grown = std::realloc(out.get(), cap * 2);
      if (!grown) return false;
      out.release();
      out.reset(static_cast<uint8_t *>(grown));
      cap *= 2;
    }
    out.get()[len++] = b;
    return true;
  };
  auto put_group = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++)
      if (!put(static_cast<uint8_t>(v >> (24 - 8 * i)))) return false;
    return true;
  };

  uint32_t value = 0;
  int digits = 0;
  for (int32_t i = 0; i < n; i++) {
    uint8_t c = src[i];
    if (c == '~') break;
    if (c == 'z' && digits == 0) {
      if (!put_group(0, 4)) return nullptr;
      continue;
    }
    if (c < '!' || c > 'u') continue;
    value = value * 85 + static_cast<uint32_t>(c - '!');
    if (++digits == 5) {
      if (!put_group(value, 4)) return nullptr;
      value = 0;
      digits = 0;
    }
  }
  if (digits >= 2) {
    for (int i = digits; i < 5; i++) value = value * 85 + 84;
    if (!put_group(value, digits - 1)) return nullptr;
  }
  *out_len = static_cast<int32_t>(len);
  return out;
}

int hex_digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal pairs up to '>'; an odd last digit stands as if a 0 followed it. Bytes that are
// no digit are passed over, as base-85 passes over its strays.
c_ptr<uint8_t> ascii_hex_decode(const uint8_t *src, int32_t n, int32_t *out_len) {
  c_ptr<uint8_t> out(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n) / 2 + 1)));
  if (!out) return nullptr;
  int32_t len = 0;
  int hi = -1;
  for (int32_t i = 0; i < n && src[i] != '>'; i++) {
    int h = hex_digit(src[i]);
    if (h < 0) continue;
    if (hi < 0) {
      hi = h;
    } else {
      out.get()[len++] = static_cast<uint8_t>(hi << 4 | h);
      hi = -1;
    }
  }
  if (hi >= 0) out.get()[len++] = static_cast<uint8_t>(hi << 4);
  *out_len = len;
  return out;
}

// Most streams fit in 20 bytes per compressed byte plus 4 KiB. A stream that fills its buffer
// is retried with four times the room, up to the 1 GiB that no decoded stream may pass.
// At most `most` bytes (and never more than the inflater's own bound): data that would yield
// more fail.
c_ptr<uint8_t> flate_decode(const uint8_t *src, int32_t n, uint64_t most, int32_t *out_len) {
  most = std::min(most, k_inflate_max_out);
  uint64_t cap = std::min(20 * static_cast<uint64_t>(n) + 4096, most);
  for (;;) {
    c_ptr<uint8_t> out(static_cast<uint8_t *>(std::malloc(cap)));
    if (!out) return nullptr;
    uint64_t got = 0;
    int how = 0;
    if (inflate_decompress_ex(src, static_cast<uint64_t>(n), out.get(), cap, &got, &how) == 0) {
      // Compressed data that stand for nothing are damaged data; an intact empty stream is
      // an empty content.
      if (got == 0 && !how) return nullptr;
      if (got == 0) {
        *out_len = 0;
        return out;
      }
      if (got < cap) {
        void *shrunk = std::realloc(out.get(), got);
        if (shrunk) {
          out.release();
          out.reset(static_cast<uint8_t *>(shrunk));
        }
      }
      *out_len = static_cast<int32_t>(got);
      return out;
    }
    // Only a full buffer is worth a larger one; truncated or refused data fail at any size.
    if (how != k_inflate_output_full || cap >= most) return nullptr;
    cap = cap > most / 4 ? most : cap * 4;
  }
}

// Fax rows: /Rows when given, else the image's /Height, bounds how many are decoded, so a
// stream cannot make more rows than the image has or than any stream may hold.
c_ptr<uint8_t> ccitt_step(const pdf_doc &doc, const res_span &d, int height, const uint8_t *src,
                          int32_t n, int32_t *out_len) {
  ccitt_params cp;
  cp.k = parm_int(doc, d, "K", 0);
  cp.columns = parm_int(doc, d, "Columns", 1728);
  cp.rows = parm_int(doc, d, "Rows", 0);
  cp.black_is_1 = parm_bool(doc, d, "BlackIs1", false);
  cp.encoded_byte_align = parm_bool(doc, d, "EncodedByteAlign", false);
  cp.end_of_block = parm_bool(doc, d, "EndOfBlock", true);
  cp.end_of_line = parm_bool(doc, d, "EndOfLine", false);
  cp.damaged_rows_before_error = parm_int(doc, d, "DamagedRowsBeforeError", 0);
  if (cp.columns < 1) return nullptr;
  const uint64_t row_bytes = (static_cast<uint64_t>(cp.columns) + 7) / 8;
  uint64_t max_rows = k_max_decoded_stream / row_bytes;
  if (cp.rows > 0 && static_cast<uint64_t>(cp.rows) < max_rows)
    max_rows = static_cast<uint64_t>(cp.rows);
  else if (cp.rows <= 0 && height > 0 && static_cast<uint64_t>(height) < max_rows)
    max_rows = static_cast<uint64_t>(height);
  int32_t rows = 0;
  int complete = 0;
  return ccitt_decode(src, n, cp, static_cast<int32_t>(max_rows), out_len, &rows, &complete);
}

}  // namespace

c_ptr<uint8_t> rvx_stream_decode(const pdf_doc &doc, const pdf_obj &obj, int32_t *out_len,
                                 int *status) {
  if (status) *status = DECODE_FAILED;
  if (!obj.is_stream) return nullptr;

  // An object that carries its own bytes (the inline image) has its dictionary and its data
  // there; every other stream lives in the file bytes.
  const uint8_t *base = obj.text ? obj.text : doc.data.get();
  int32_t base_len = obj.text ? obj.text_len : doc.len;
  if (!base || obj.stream_start < 0 || obj.stream_end > base_len ||
      obj.stream_end <= obj.stream_start)
    return nullptr;
  int32_t n = obj.stream_end - obj.stream_start;

  const uint8_t *dict = nullptr;
  int32_t dict_len = 0;
  if (obj.text) {
    dict = obj.text;
    dict_len = obj.text_len;
  } else {
    if (obj.dict < 0 || obj.dict >= doc.len) return nullptr;
    int32_t end = obj.stream_kw > 0 ? obj.stream_kw : obj.endobj > 0 ? obj.endobj : doc.len;
    if (end > doc.len) end = doc.len;
    dict = doc.data.get() + obj.dict;
    dict_len = end > obj.dict ? end - obj.dict : 0;
  }
  const filter_chain chain = read_filters(doc, dict, dict_len);

  c_ptr<uint8_t> data(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n))));
  if (!data) return nullptr;
  std::memcpy(data.get(), base + obj.stream_start, static_cast<size_t>(n));
  // Each decoder bounds its own output by what its input can yield, but filters can be
  // chained: two Flate stages would multiply the ratios, and a few kilobytes would become a
  // gigabyte. The whole chain may yield no more than one decoder could from the stream's
  // bytes. Fax data are bounded by their rows and columns instead.
  const uint64_t chain_cap = std::min<uint64_t>(
      k_max_decoded_stream, static_cast<uint64_t>(n) * k_chain_max_ratio + k_chain_extra);

  int result = DECODE_OK;
  for (int i = 0; i < chain.count && result == DECODE_OK; i++) {
    const filter_step &s = chain.steps[i];
    int32_t m = 0;
    int complete = 1;
    c_ptr<uint8_t> next;
    switch (s.kind) {
      case F_NONE:
        continue;
      case F_A85:
        next = ascii85_decode(data.get(), n, &m);
        break;
      case F_AHX:
        next = ascii_hex_decode(data.get(), n, &m);
        break;
      case F_FLATE:
        next = flate_decode(data.get(), n, chain_cap, &m);
        break;
      case F_LZW:
        next = lzw_decode(data.get(), n, parm_int(doc, s.parms, "EarlyChange", 1) != 0,
                          chain_cap, &m, &complete);
        break;
      case F_RL:
        next = runlength_decode(data.get(), n, chain_cap, &m, &complete);
        break;
      case F_CCITT: {
        res_span h;
        int height = 0;
        if (key_value(doc, dict, dict_len, "Height", &h)) {
          int32_t q = h.pos;
          double x = 0;
          if (read_real(h.data, h.end, &q, &x) && x >= 1 && x <= 1e9) height = static_cast<int>(x);
        }
        next = ccitt_step(doc, s.parms, height, data.get(), n, &m);
        break;
      }
      default:
        result = DECODE_UNDECODED;
        continue;
    }
    // Damaged data keep what came before the damage, as Flate does; data that yield nothing
    // but damage are no data.
    if (!next || (m == 0 && !complete)) return nullptr;
    if (s.kind != F_CCITT && static_cast<uint64_t>(m) > chain_cap) return nullptr;
    data = std::move(next);
    n = m;

    if ((s.kind == F_FLATE || s.kind == F_LZW) && s.parms.pos >= 0) {
      predictor_params pp;
      pp.predictor = parm_int(doc, s.parms, "Predictor", 1);
      if (pp.predictor <= 1) continue;
      pp.colors = parm_int(doc, s.parms, "Colors", 1);
      pp.bits_per_component = parm_int(doc, s.parms, "BitsPerComponent", 8);
      pp.columns = parm_int(doc, s.parms, "Columns", 1);
      // Rows whose predictor cannot be undone are left as they are, and said to be so.
      if (!predictor_supported(pp)) {
        result = DECODE_UNDECODED;
        continue;
      }
      next = predictor_undo(data.get(), n, pp, &m, nullptr);
      if (!next) return nullptr;
      data = std::move(next);
      n = m;
    }
  }
  *out_len = n;
  if (status) *status = result;
  return data;
}
