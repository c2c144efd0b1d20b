// Stream decoding for the renderer and the image readers: ASCII85 and Flate, always in that
// order; the data of every other filter are handed back as they stand, with a status saying so.
// Decode parameters (predictors) are not applied.

#include "render/filters.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pdfcore/inflate.h"
#include "pdfcore/lex.h"
#include "pdfcore/streams.h"

namespace {

struct filter_set {
  bool a85 = false;
  bool flate = false;
  bool other = false;  // something named that is left undecoded
};

bool text_at(const uint8_t *t, int32_t n, int32_t p, const char *s) {
  int32_t k = static_cast<int32_t>(std::strlen(s));
  return p >= 0 && p <= n - k && std::memcmp(t + p, s, static_cast<size_t>(k)) == 0;
}

// Only the beginning of a filter name is compared, so a longer name that starts with one of the
// two counts as it. An indirect reference cannot be followed without resolving the object, so
// the data it names are reported as undecoded.
filter_set read_filters(const uint8_t *t, int32_t n) {
  filter_set f;
  int32_t key = find_name(t, n, 0, n, "Filter");
  if (key < 0) return f;
  int32_t p = skip_ws(t, key + 7, n);
  if (p >= n) return f;
  if (t[p] == '/') {
    if (text_at(t, n, p + 1, "ASCII85Decode"))
      f.a85 = true;
    else if (text_at(t, n, p + 1, "FlateDecode"))
      f.flate = true;
    else
      f.other = true;
    return f;
  }
  if (t[p] == '[') {
    int a85_named = 0, flate_named = 0;
    for (int32_t q = p + 1; q < n && t[q] != ']';) {
      if (t[q] != '/') {
        if (is_digit(t[q])) f.other = true;
        q++;
        continue;
      }
      if (text_at(t, n, q + 1, "ASCII85Decode"))
        a85_named++;
      else if (text_at(t, n, q + 1, "FlateDecode"))
        flate_named++;
      else
        f.other = true;
      q++;
      while (q < n && (is_alnum(t[q]) || t[q] == '_')) q++;
    }
    f.a85 = a85_named > 0;
    f.flate = flate_named > 0;
    // Each filter is applied once; a second application named by the array is not made.
    if (a85_named > 1 || flate_named > 1) f.other = true;
    return f;
  }
  if (!kw_at(t, p, n, "null")) f.other = true;
  return f;
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

// Most streams fit in 20 bytes per compressed byte plus 4 KiB. A stream that fills its buffer
// is retried with four times the room, up to the 1 GiB that no decoded stream may pass.
c_ptr<uint8_t> flate_decode(const uint8_t *src, int32_t n, int32_t *out_len) {
  uint64_t cap = 20 * static_cast<uint64_t>(n) + 4096;
  if (cap > k_inflate_max_out) cap = k_inflate_max_out;
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
    if (how != k_inflate_output_full || cap >= k_inflate_max_out) return nullptr;
    cap = cap > k_inflate_max_out / 4 ? k_inflate_max_out : cap * 4;
  }
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
  filter_set f = read_filters(dict, dict_len);

  c_ptr<uint8_t> data(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n))));
  if (!data) return nullptr;
  std::memcpy(data.get(), base + obj.stream_start, static_cast<size_t>(n));

  if (f.a85) {
    int32_t m = 0;
    data = ascii85_decode(data.get(), n, &m);
    if (!data) return nullptr;
    n = m;
  }
  if (f.flate) {
    int32_t m = 0;
    data = flate_decode(data.get(), n, &m);
    if (!data) return nullptr;
    n = m;
  }
  *out_len = n;
  if (status) *status = f.other ? DECODE_UNDECODED : DECODE_OK;
  return data;
}
