// Font resolution: the resource name given to Tf becomes a record saying what kind of font it
// is, which TrueType data draw it (the embedded program or a built-in font), the glyph and
// advance of each one-byte code, or a Type 3 font's glyph procedures. Drawing is glyph.cpp's.
#include "render/font.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "pdfcore/buf.h"
#include "pdfcore/lex.h"
#include "pdfcore/objects.h"
#include "pdfcore/streams.h"
#include "render/builtin_fonts.h"
#include "render/interp.h"
#include "render/truetype.h"

namespace {

// Process-wide glyph tables of the built-in slots, built once from the first font that uses
// the slot and shared by every later page; they live until the process ends.
c_ptr<glyph_entry> g_base_cmap[k_builtin_slots];

// The only encoding the library knows: one byte stands for the code point of its number,
// except 0x80 to 0x9F, which stand for what code page 1252 puts there (0 where it has nothing).
const uint16_t k_cp1252_80_9f[32] = {
    0x20AC, 0x0000, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0000, 0x017D, 0x0000,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0000, 0x017E, 0x0000};

uint32_t code_to_unicode(int c) {
  return c >= 0x80 && c <= 0x9F ? k_cp1252_80_9f[c - 0x80] : static_cast<uint32_t>(c);
}

struct dict_copy {
  c_ptr<uint8_t> text;  // NUL-terminated
  int32_t len = 0;
};

// The dictionary of an object, copied: from the object's own bytes at their first '<' when it
// came from an object stream, else from its dictionary in the file.
bool copy_obj_dict(const pdf_doc &doc, const pdf_obj &obj, dict_copy *out) {
  const uint8_t *text = nullptr;
  int32_t tl = 0;
  if (!obj_dict_text(doc.data.get(), doc.len, obj, &text, &tl) || !text || tl <= 0) return false;
  const void *lt = std::memchr(text, '<', static_cast<size_t>(tl));
  if (!lt) return false;
  int32_t at = static_cast<int32_t>(static_cast<const uint8_t *>(lt) - text);
  out->text = dict_text_at(text, tl, at, &out->len);
  return out->text != nullptr;
}

// The object number written at pos (blanks skipped) when it names an existing object.
const pdf_obj *ref_at(const pdf_doc &doc, const uint8_t *d, int32_t end, int32_t pos) {
  int32_t p = skip_ws(d, pos, end);
  if (p >= end || !is_digit(d[p])) return nullptr;
  int32_t num = parse_int_at(d, end, &p);
  if (num <= 0) return nullptr;
  return obj_find(doc.objs, num);
}

// The object number following /key in the dictionary text, when it names an existing object.
const pdf_obj *ref_after_key(const pdf_doc &doc, const dict_copy &dc, const char *key) {
  int32_t k = find_name(dc.text.get(), dc.len, 0, dc.len, key);
  if (k < 0) return nullptr;
  return ref_at(doc, dc.text.get(), dc.len, k + 1 + static_cast<int32_t>(std::strlen(key)));
}

// The position right after /key and the blanks behind it, when the next byte is `open`; -1
// otherwise.
int32_t open_after_key(const dict_copy &dc, const char *key, char open) {
  int32_t k = find_name(dc.text.get(), dc.len, 0, dc.len, key);
  if (k < 0) return -1;
  int32_t p = skip_ws(dc.text.get(), k + 1 + static_cast<int32_t>(std::strlen(key)), dc.len);
  return p < dc.len && dc.text.get()[p] == open ? p : -1;
}

// The integer after /FirstChar, or `missing` when the key is absent.
int32_t first_char(const dict_copy &dc, int32_t missing) {
  int32_t k = find_name(dc.text.get(), dc.len, 0, dc.len, "FirstChar");
  if (k < 0) return missing;
  int32_t p = k + 10;
  return parse_int_at(dc.text.get(), dc.len, &p);
}

// /Widths values for the codes first to 255, each as a fraction of the font size. The reading
// runs on past the closing ']' as written files never need, each failed read giving `failed`.
void read_widths(const dict_copy &dc, int32_t first, double failed, double *out) {
  int32_t p = open_after_key(dc, "Widths", '[');
  if (p < 0 || first < 0 || first > 255) return;
  p++;
  for (int c = first; c < 256; c++) {
    int32_t v = read_num_adv(dc.text.get(), dc.len, &p);
    out[c] = v < 0 ? failed : v / 1000.0;
  }
}

// The stream data of an object, decoded, as a new block.
c_ptr<uint8_t> stream_copy(const pdf_doc &doc, const pdf_obj &obj, int32_t *out_len) {
  *out_len = 0;
  buf out;
  uint64_t n = 0;
  const uint8_t *d = decoded_stream(obj, doc.data.get(), doc.len, out, &n);
  if (!d || out.failed || n > static_cast<uint64_t>(INT32_MAX)) return nullptr;
  c_ptr<uint8_t> copy(static_cast<uint8_t *>(std::malloc(n ? n : 1)));
  if (!copy) return nullptr;
  if (n) std::memcpy(copy.get(), d, n);
  *out_len = static_cast<int32_t>(n);
  return copy;
}

int head_units(const uint8_t *font, int len) {
  int u = len >= 12 ? tf_units_per_em(font, len) : 0;
  return u > 0 ? u : 1000;
}

// Glyph and advance of every one-byte code through the font's character map; codes without
// a glyph take fallback[c], or 0.5 when there is no fallback table.
c_ptr<glyph_entry> build_glyph_map(const uint8_t *font, int len, double units,
                                   const double *fallback) {
  c_ptr<glyph_entry> map(static_cast<glyph_entry *>(std::calloc(256, sizeof(glyph_entry))));
  c_ptr<uint16_t> table(static_cast<uint16_t *>(std::malloc(65536 * sizeof(uint16_t))));
  if (!map || !table) return nullptr;
  int ok = 0;
  tf_build_cmap(font, len, table.get(), &ok);
  for (int c = 0; c < 256; c++) {
    uint16_t g = table.get()[code_to_unicode(c)];
    if (g != 0) {
      int adv = 0;
      tf_hmtx(font, len, g, &adv);
      map.get()[c] = glyph_entry{g, adv / units};
    } else {
      map.get()[c] = glyph_entry{0, fallback ? fallback[c] : 0.5};
    }
  }
  return map;
}

// The built-in slot a font without its own program is drawn with, from its base name; -1 for
// symbol fonts, whose glyphs no text font has.
int slot_for_base_font(const dict_copy &dc) {
  int32_t p = open_after_key(dc, "BaseFont", '/');
  if (p < 0) return 0;
  std::string name;
  for (int32_t q = p + 1; q < dc.len; q++) {
    uint8_t c = dc.text.get()[q];
    if (!is_alnum(c) && c != '+' && c != '-' && c != '.') break;
    name += static_cast<char>(c);
  }
  auto has = [&](const char *s) { return name.find(s) != std::string::npos; };
  if (has("Courier") || has("Mono")) return 2;
  if (has("Times") || has("Roman") || has("Garamond") || has("Bookman") || has("Palatino") ||
      has("Century"))
    return 1;
  if (has("Symbol") || has("Zapf")) return -1;
  return 0;
}

void build_simple(const pdf_doc &doc, const dict_copy &fd, pdf_font *f) {
  f->kind = FONT_SIMPLE;
  read_widths(fd, first_char(fd, 32), 0.5, f->widths.get());

  if (const pdf_obj *desc = ref_after_key(doc, fd, "FontDescriptor")) {
    dict_copy dd;
    if (copy_obj_dict(doc, *desc, &dd)) {
      if (const pdf_obj *file = ref_after_key(doc, dd, "FontFile2")) {
        int32_t n = 0;
        c_ptr<uint8_t> data = stream_copy(doc, *file, &n);
        if (data && n > 4) {
          f->file_data = std::move(data);
          f->file_len = n;
        }
      }
    }
  }

  if (f->file_data) {
    f->units_per_em = head_units(f->file_data.get(), f->file_len);
    f->owned_map = build_glyph_map(f->file_data.get(), f->file_len, f->units_per_em,
                                   f->widths.get());
    f->glyph_map = f->owned_map.get();
    return;
  }

  f->units_per_em = 1000;
  int slot = slot_for_base_font(fd);
  if (slot < 0) return;
  const uint8_t *data = g_font_files[slot];
  int len = g_font_lens[slot];
  if (!g_base_cmap[slot] && data && len > 0)
    g_base_cmap[slot] = build_glyph_map(data, len, head_units(data, len), nullptr);
  if (g_base_cmap[slot]) {
    f->glyph_map = g_base_cmap[slot].get();
    f->shared_map = 1;
    f->builtin = slot;
    f->units_per_em = data && len > 0 ? head_units(data, len) : 1000;
  }
}

// Glyph procedures are stored under the last character of their glyph name: the font's
// /Encoding is not read, and single-letter names, the common case, then land on their own code.
// *decoded grows by the bytes of procedure text decoded.
void build_type3(const pdf_doc &doc, const dict_copy &fd, pdf_font *f, int64_t *decoded) {
  int32_t proc_nums[256] = {};
  f->kind = FONT_TYPE3;
  f->procs.reset(new (std::nothrow) std::shared_ptr<uint8_t>[256]);
  f->proc_lens.reset(static_cast<int *>(std::calloc(256, sizeof(int))));
  f->t3_widths.reset(static_cast<double *>(std::calloc(256, sizeof(double))));
  if (!f->procs || !f->proc_lens || !f->t3_widths) {
    f->procs.reset();
    f->proc_lens.reset();
    f->t3_widths.reset();
    return;
  }
  read_widths(fd, first_char(fd, 0), 1.0, f->t3_widths.get());

  int32_t open = open_after_key(fd, "CharProcs", '<');
  if (open < 0 || open + 1 >= fd.len || fd.text.get()[open + 1] != '<') return;
  int32_t close = find_dict_close(fd.text.get(), open, fd.len);
  int32_t end = close < 0 ? fd.len : close;
  const uint8_t *t = fd.text.get();
  for (int32_t p = open + 2; p < end; p++) {
    if (t[p] != '/') continue;
    int32_t q = p + 1;
    while (q < end && !is_pdf_ws(t[q]) && t[q] != '/' && t[q] != '[' && t[q] != '<' &&
           t[q] != '(')
      q++;
    if (q == p + 1) continue;
    uint8_t code = t[q - 1];
    const pdf_obj *obj = ref_at(doc, t, end, q);
    p = q - 1;
    if (!obj) continue;
    // A stream named by several entries is decoded once: 256 names of one Flate bomb must
    // not cost 256 copies.
    bool shared = false;
    for (int k = 0; k < 256 && !shared; k++)
      if (f->procs[k] && proc_nums[k] == obj->num) {
        f->procs[code] = f->procs[k];
        f->proc_lens.get()[code] = f->proc_lens.get()[k];
        proc_nums[code] = obj->num;
        shared = true;
      }
    if (shared) continue;
    int32_t n = 0;
    c_ptr<uint8_t> proc = stream_copy(doc, *obj, &n);
    if (!proc) continue;
    try {
      f->procs[code] = std::shared_ptr<uint8_t>(std::move(proc));
    } catch (const std::bad_alloc &) {
      continue;
    }
    f->proc_lens.get()[code] = n;
    proc_nums[code] = obj->num;
    *decoded += n;
  }
}

// The font dictionary that /name of the resources' /Font names, copied. A font written in
// place inside /Font is not used: fonts are always indirect objects.
bool font_dict(const interp_state *st, const char *name, dict_copy *out, int32_t *num) {
  int kind = -1;
  int32_t pos = res_value(st->resources, st->resources_len, "Font", &kind);
  if (pos < 0 || kind == RES_ARRAY) return false;
  dict_copy fonts;
  if (kind == RES_DICT) {
    fonts.text = dict_text_at(st->resources, st->resources_len, pos, &fonts.len);
  } else {
    const pdf_obj *obj = ref_at(*st->doc, st->resources, st->resources_len, pos);
    if (!obj || !copy_obj_dict(*st->doc, *obj, &fonts)) return false;
  }
  if (!fonts.text) return false;
  const pdf_obj *font = ref_after_key(*st->doc, fonts, name);
  if (!font) return false;
  *num = font->num;
  return copy_obj_dict(*st->doc, *font, out);
}

}  // namespace

pdf_font::~pdf_font() = default;

font_cache::~font_cache() {
  for (int i = 0; i < count; i++)
    if (entries[i].owner) delete entries[i].font;
}

pdf_font *font_get(interp_state *st, const char *name) {
  if (!st || !name) return nullptr;
  for (int i = 0; i < st->fonts.count; i++)
    if (std::strcmp(st->fonts.entries[i].key, name) == 0) return st->fonts.entries[i].font;
  if (!st->resources || !st->doc) return nullptr;
  // A full cache resolves nothing more: the record would have nowhere to live.
  if (st->fonts.count >= k_font_cache_size) return nullptr;

  dict_copy fd;
  int32_t num = 0;
  if (!font_dict(st, name, &fd, &num)) return nullptr;
  // Another name for a font already loaded shares its record.
  for (int i = 0; i < st->fonts.count; i++)
    if (st->fonts.entries[i].owner && st->fonts.entries[i].num == num) {
      font_cache_entry &e = st->fonts.entries[st->fonts.count++];
      std::snprintf(e.key, sizeof e.key, "%.63s", name);
      e.font = st->fonts.entries[i].font;
      e.num = num;
      return e.font;
    }
  // Loading a font is work of the page like drawing: a form drawn a thousand times that
  // loads a heavy font each time is stopped by the page's budget.
  if (st->raster && !raster_spend(st->raster, k_work_draw)) return nullptr;
  std::unique_ptr<pdf_font> owned(new (std::nothrow) pdf_font);
  if (!owned) return nullptr;
  pdf_font *f = owned.get();
  int64_t decoded = 0;
  if (find_name(fd.text.get(), fd.len, 0, fd.len, "Type3") >= 0) {
    build_type3(*st->doc, fd, f, &decoded);
  } else if (find_name(fd.text.get(), fd.len, 0, fd.len, "Type0") >= 0) {
    f->kind = FONT_TYPE0;
  } else {
    f->widths.reset(static_cast<double *>(std::calloc(256, sizeof(double))));
    if (!f->widths) return nullptr;
    build_simple(*st->doc, fd, f);
    decoded = f->file_len;
  }
  if (st->raster && !raster_spend(st->raster, decoded * k_work_byte)) return nullptr;

  font_cache_entry &e = st->fonts.entries[st->fonts.count++];
  std::snprintf(e.key, sizeof e.key, "%.63s", name);
  e.font = owned.release();
  e.num = num;
  e.owner = true;
  return f;
}

const glyph_entry *font_base_cmap(int slot) {
  return slot >= 0 && slot < k_builtin_slots ? g_base_cmap[slot].get() : nullptr;
}
