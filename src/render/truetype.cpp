// Reading TrueType font data in memory: the table directory, the character map, advance widths
// and glyph outlines. Fonts come from PDF files, so every field is read through a table's own
// byte range; turning outlines into filled paths is left to the glyph drawing.
#include "render/truetype.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "pdfcore/mem.h"

namespace {

// The bytes of one table (or of a part of one). Every read of font data goes through here, so a
// field that does not lie wholly inside its table reads as absent.
struct span {
  const uint8_t *p = nullptr;
  uint64_t n = 0;

  bool has(uint64_t at, uint64_t size) const { return at <= n && size <= n - at; }
  bool u8(uint64_t at, uint32_t &v) const {
    if (!has(at, 1)) return false;
    v = p[at];
    return true;
  }
  bool u16(uint64_t at, uint32_t &v) const {
    if (!has(at, 2)) return false;
    v = uint32_t(p[at]) << 8 | p[at + 1];
    return true;
  }
  bool u32(uint64_t at, uint32_t &v) const {
    if (!has(at, 4)) return false;
    v = uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
    return true;
  }
  // The bytes from at to the end; at must be inside.
  span from(uint64_t at) const { return span{p + at, n - at}; }
};

// Directory entries were kept only when they lie inside the data, so a found table's range is
// always readable.
bool find_span(const uint8_t *font, const tf_dir &dir, const char *tag, span &out) {
  const tf_table *t = tf_find_table(dir, tag);
  if (!t) return false;
  out = span{font + t->offset, t->length};
  return true;
}

int cmap_priority(uint32_t platform, uint32_t encoding) {
  if (platform == 3 && encoding == 1) return 3;   // Windows Unicode BMP
  if (platform == 0 && encoding == 4) return 2;   // Unicode full repertoire
  if (platform == 3 && encoding == 10) return 1;  // Windows Unicode full repertoire
  if (platform == 0 && encoding == 3) return 1;   // Unicode BMP
  return 0;
}

// Format 0: one byte per code for the first 256 codes.
void cmap_format0(const span &sub, uint16_t *table) {
  for (uint32_t code = 0; code < 256; ++code) {
    uint32_t g = 0;
    if (!sub.u8(6 + code, g)) return;
    table[code] = uint16_t(g);
  }
}

// Format 4: segments of consecutive codes, each mapped by a delta or through the glyph index
// array that its idRangeOffset points into.
void cmap_format4(const span &sub, uint16_t *table) {
  uint32_t seg_x2 = 0;
  if (!sub.u16(6, seg_x2)) return;
  const uint64_t seg = seg_x2 / 2;
  // A hostile count is cut; the arrays keep the positions the full count gives them.
  const uint64_t nread = seg < 4096 ? seg : 4096;
  for (uint64_t i = 0; i < nread; ++i) {
    const uint64_t range_at = 16 + 6 * seg + 2 * i;
    uint32_t end = 0, start = 0, delta = 0, range = 0;
    if (!sub.u16(14 + 2 * i, end) || !sub.u16(16 + 2 * seg + 2 * i, start) ||
        !sub.u16(16 + 4 * seg + 2 * i, delta) || !sub.u16(range_at, range))
      return;  // the arrays run past the table; every later segment would as well
    if (start > end || end - start > 4096) continue;
    for (uint32_t c = start; c <= end; ++c) {
      uint32_t g = 0;
      if (range == 0) {
        g = (c + delta) & 0xFFFF;
      } else {
        uint32_t v = 0;
        if (sub.u16(range_at + range + 2 * uint64_t(c - start), v) && v != 0)
          g = (v + delta) & 0xFFFF;
      }
      if (g) table[c] = uint16_t(g);
    }
    // The segment ending at 0xFFFF closes the map.
    if (end == 0xFFFF) return;
  }
}

// Format 6: one dense run of codes from firstCode.
void cmap_format6(const span &sub, uint16_t *table) {
  uint32_t first = 0, count = 0;
  if (!sub.u16(6, first) || !sub.u16(8, count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t code = first + i;
    uint32_t g = 0;
    if (code > 0xFFFF || !sub.u16(10 + 2 * uint64_t(i), g)) return;
    table[code] = uint16_t(g);
  }
}

// Format 12: groups of codes mapped to consecutive glyphs; only the 16-bit codes have a place in
// the table.
void cmap_format12(const span &sub, uint16_t *table) {
  uint32_t ngroups = 0;
  if (!sub.u32(12, ngroups)) return;
  if (ngroups > 16384) ngroups = 16384;
  for (uint32_t i = 0; i < ngroups; ++i) {
    const uint64_t at = 16 + 12 * uint64_t(i);
    uint32_t start = 0, end = 0, glyph = 0;
    if (!sub.u32(at, start) || !sub.u32(at + 4, end) || !sub.u32(at + 8, glyph)) return;
    if (start > end || end - start > 4096) continue;
    for (uint32_t c = start; c <= end && c <= 0xFFFF; ++c)
      table[c] = uint16_t(glyph + (c - start));
  }
}

// A growing block of outline data from the C allocator, handed to the caller when complete.
template <class T>
struct block {
  c_ptr<T> data;
  size_t size = 0;
  size_t cap = 0;

  bool reserve(size_t want) {
    if (want <= cap) return true;
    size_t c = cap ? cap : want;
    while (c < want) c *= 2;
    void *p = std::realloc(data.get(), c * sizeof(T));
    if (!p) return false;
    (void)data.release();  // realloc took over the old block
    data.reset(static_cast<T *>(p));
    cap = c;
    return true;
  }
};

// Work allowed for one outline, in contour ends and points read plus component records and
// glyphs visited. Real composite glyphs use a tiny part of it; it stops a font whose components
// name each other many times over from multiplying the work level by level.
constexpr int64_t k_outline_work = int64_t(1) << 21;

// One outline being gathered. Components append straight to the blocks, moved by the sum of
// their parents' offsets, and are cut off again when they fail.
struct outline_ctx {
  span glyf;
  span loca;
  uint32_t nglyphs = 0;
  bool long_loca = false;
  block<tf_point> pts;
  block<uint16_t> ends;
  int64_t work = 0;
  bool out_of_memory = false;
};

bool outline_glyph(outline_ctx &cx, uint32_t glyph, int depth, uint16_t dx, uint16_t dy,
                   bool *composite);

// A simple glyph: contour ends, instructions (skipped), flags, then the x and the y deltas.
bool outline_simple(outline_ctx &cx, const span &g, uint32_t ncontours, uint16_t dx,
                    uint16_t dy) {
  uint32_t inst = 0;
  if (!g.u16(10 + 2 * uint64_t(ncontours), inst) || inst >= 0x8000) return false;
  uint64_t at = 12 + 2 * uint64_t(ncontours) + inst;
  if (at > g.n) return false;

  const size_t base = cx.pts.size;
  const size_t ebase = cx.ends.size;
  cx.work += ncontours;
  if (cx.work > k_outline_work) return false;
  int64_t prev = -1;
  for (uint32_t i = 0; i < ncontours; ++i) {
    uint32_t e = 0;
    g.u16(10 + 2 * uint64_t(i), e);  // inside: the instruction length after it was read
    if (int64_t(e) <= prev) return false;  // a contour of no points or ends out of order
    prev = e;
  }
  const size_t count = size_t(prev) + 1;
  cx.work += int64_t(count);
  if (cx.work > k_outline_work) return false;
  if (!cx.pts.reserve(base + count) || !cx.ends.reserve(ebase + ncontours)) {
    cx.out_of_memory = true;
    return false;
  }
  tf_point *pt = cx.pts.data.get() + base;
  uint16_t *en = cx.ends.data.get() + ebase;
  for (uint32_t i = 0; i < ncontours; ++i) {
    uint32_t e = 0;
    g.u16(10 + 2 * uint64_t(i), e);
    en[i] = uint16_t(base + e);
  }

  // The whole flag byte rests in on_curve until the coordinates are read.
  uint64_t xbytes = 0, ybytes = 0;
  for (size_t i = 0; i < count;) {
    uint32_t f = 0, repeat = 0;
    if (!g.u8(at++, f)) return false;
    if ((f & 0x08) && !g.u8(at++, repeat)) return false;
    for (size_t k = 0; k <= repeat && i < count; ++k, ++i) {
      pt[i].on_curve = uint8_t(f);
      xbytes += (f & 0x02) ? 1 : (f & 0x10) ? 0 : 2;
      ybytes += (f & 0x04) ? 1 : (f & 0x20) ? 0 : 2;
    }
  }
  if (!g.has(at, xbytes + ybytes)) return false;

  uint16_t x = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t f = pt[i].on_curve;
    uint32_t d = 0;
    if (f & 0x02) {
      g.u8(at++, d);
      x = uint16_t((f & 0x10) ? x + d : x - d);
    } else if (!(f & 0x10)) {
      g.u16(at, d);
      at += 2;
      x = uint16_t(x + d);
    }
    pt[i].x = int16_t(uint16_t(x + dx));
  }
  uint16_t y = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t f = pt[i].on_curve;
    uint32_t d = 0;
    if (f & 0x04) {
      g.u8(at++, d);
      y = uint16_t((f & 0x20) ? y + d : y - d);
    } else if (!(f & 0x20)) {
      g.u16(at, d);
      at += 2;
      y = uint16_t(y + d);
    }
    pt[i].y = int16_t(uint16_t(y + dy));
    pt[i].on_curve = uint8_t(f & 0x01);
  }
  cx.pts.size = base + count;
  cx.ends.size = ebase + ncontours;
  return true;
}

// A composite glyph: component records, each another glyph moved by its two arguments. The
// scale or matrix that may follow a record is passed over; the outline is not transformed.
bool outline_composite(outline_ctx &cx, const span &g, int depth, uint16_t dx, uint16_t dy) {
  if (!cx.pts.reserve(8192) || !cx.ends.reserve(16)) {
    cx.out_of_memory = true;
    return false;
  }
  const size_t own_start = cx.pts.size;
  uint64_t at = 10;
  while (at + 3 < g.n && ++cx.work <= k_outline_work) {
    uint32_t flags = 0, index = 0, a = 0, b = 0;
    g.u16(at, flags);
    g.u16(at + 2, index);
    if (flags & 0x0001) {
      if (!g.u16(at + 4, a) || !g.u16(at + 6, b)) break;
      at += 8;
    } else {
      if (!g.u8(at + 4, a) || !g.u8(at + 5, b)) break;
      a = uint16_t(int8_t(a));  // signed bytes
      b = uint16_t(int8_t(b));
      at += 6;
    }
    if (flags & 0x0008)
      at += 2;  // one scale
    else if (flags & 0x0040)
      at += 4;  // x and y scales
    else if (flags & 0x0080)
      at += 8;  // a two-by-two matrix

    const size_t before = cx.pts.size;
    const size_t ebefore = cx.ends.size;
    bool nested;
    // A component deeper than the limit fails, so glyphs that name each other end.
    if (depth < k_tf_max_composite_depth &&
        outline_glyph(cx, index, depth + 1, uint16_t(dx + a), uint16_t(dy + b), &nested) &&
        cx.pts.size - own_start > size_t(k_tf_max_composite_points)) {
      // A component that would take the glyph past its point limit adds nothing; the walk
      // goes on, and later smaller components may still fit.
      cx.pts.size = before;
      cx.ends.size = ebefore;
    }
    if (cx.out_of_memory) return false;
    if (!(flags & 0x0020)) break;  // no more components
  }
  return cx.pts.size > own_start;
}

// Appends the glyph's outline, moved by (dx, dy), to the gathered one; false adds nothing.
bool outline_glyph(outline_ctx &cx, uint32_t glyph, int depth, uint16_t dx, uint16_t dy,
                   bool *composite) {
  *composite = false;
  if (++cx.work > k_outline_work || glyph >= cx.nglyphs) return false;
  uint32_t start = 0, end = 0;
  if (cx.long_loca) {
    if (!cx.loca.u32(4 * uint64_t(glyph), start) || !cx.loca.u32(4 * uint64_t(glyph) + 4, end))
      return false;
  } else {
    if (!cx.loca.u16(2 * uint64_t(glyph), start) || !cx.loca.u16(2 * uint64_t(glyph) + 2, end))
      return false;
    start *= 2;
    end *= 2;
  }
  // Equal entries are a glyph without an outline, such as the space.
  if (start >= end || !cx.glyf.has(start, end - start)) return false;
  const span g{cx.glyf.p + start, end - start};
  if (g.n < 16) return false;
  uint32_t nc = 0;
  g.u16(0, nc);
  const int16_t ncontours = int16_t(uint16_t(nc));
  if (ncontours == 0) return false;
  if (ncontours > 0) return outline_simple(cx, g, uint32_t(ncontours), dx, dy);
  *composite = true;
  const size_t pts_before = cx.pts.size;
  const size_t ends_before = cx.ends.size;
  if (outline_composite(cx, g, depth, dx, dy)) return true;
  cx.pts.size = pts_before;
  cx.ends.size = ends_before;
  return false;
}

}  // namespace

int tf_font_open(const uint8_t *font, int len, tf_dir *dir) {
  if (dir) *dir = tf_dir{};
  if (!font || len < 12) return 0;
  if (std::memcmp(font, "\x00\x01\x00\x00", 4) != 0 && std::memcmp(font, "true", 4) != 0 &&
      std::memcmp(font, "ttcf", 4) != 0)
    return 0;
  if (!dir) return 1;
  // A collection is read with the single-font layout; its header gives no usable tables.
  const span data{font, uint64_t(len)};
  uint32_t n = 0;
  data.u16(4, n);
  if (n > uint32_t(k_tf_max_tables)) n = k_tf_max_tables;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t at = 12 + 16 * uint64_t(i);
    uint32_t offset = 0, length = 0;
    if (!data.has(at, 16)) break;
    data.u32(at + 8, offset);
    data.u32(at + 12, length);
    if (!data.has(offset, length)) continue;
    tf_table &t = dir->entries[dir->count++];
    std::memcpy(t.tag, font + at, 4);
    t.offset = offset;
    t.length = length;
  }
  return 1;
}

const tf_table *tf_find_table(const tf_dir &dir, const char *tag) {
  if (!tag) return nullptr;
  for (int i = 0; i < dir.count && i < k_tf_max_tables; ++i) {
    const tf_table &t = dir.entries[i];
    if (std::strncmp(reinterpret_cast<const char *>(t.tag), tag, 4) == 0) return &t;
  }
  return nullptr;
}

void tf_build_cmap(const uint8_t *font, int len, uint16_t *table, int *out_ok) {
  if (out_ok) *out_ok = 0;
  if (!table) return;
  std::memset(table, 0, 65536 * sizeof(uint16_t));
  tf_dir dir;
  span cmap;
  if (!tf_font_open(font, len, &dir) || !find_span(font, dir, "cmap", cmap)) return;
  uint32_t nrecords = 0;
  if (!cmap.u16(2, nrecords) || nrecords == 0) return;
  if (nrecords > 32) nrecords = 32;

  int best = -1;
  uint32_t best_offset = 0, best_format = 0;
  for (uint32_t i = 0; i < nrecords; ++i) {
    const uint64_t at = 4 + 8 * uint64_t(i);
    uint32_t platform = 0, encoding = 0, offset = 0, format = 0;
    if (!cmap.u16(at, platform) || !cmap.u16(at + 2, encoding) || !cmap.u32(at + 4, offset))
      break;
    if (!cmap.u16(offset, format)) continue;
    if (format != 0 && format != 4 && format != 6 && format != 12) continue;
    const int priority = cmap_priority(platform, encoding);
    if (priority > best) {
      best = priority;
      best_offset = offset;
      best_format = format;
    }
  }
  if (best < 0) return;
  if (out_ok) *out_ok = 1;
  // Subtable fields are bounded by the end of the cmap table, not by a length of their own.
  const span sub = cmap.from(best_offset);
  switch (best_format) {
    case 0: cmap_format0(sub, table); break;
    case 4: cmap_format4(sub, table); break;
    case 6: cmap_format6(sub, table); break;
    default: cmap_format12(sub, table); break;
  }
}

void tf_hmtx(const uint8_t *font, int len, uint32_t glyph, int *out_advance) {
  if (!out_advance) return;
  *out_advance = 0;
  tf_dir dir;
  span head, hmtx, loca, maxp, hhea;
  if (!tf_font_open(font, len, &dir) || !find_span(font, dir, "head", head) ||
      !find_span(font, dir, "hmtx", hmtx) || !find_span(font, dir, "loca", loca) ||
      !find_span(font, dir, "maxp", maxp))
    return;
  uint32_t nglyphs = 0;
  if (!maxp.u16(4, nglyphs) || glyph >= nglyphs) return;
  // Without hhea every glyph has a long metric of its own; an hhea too short to hold
  // numberOfHMetrics cannot say which metric applies, so the glyph gets no advance.
  uint32_t nmetrics = nglyphs;
  if (find_span(font, dir, "hhea", hhea) && !hhea.u16(34, nmetrics)) return;
  if (nmetrics == 0) return;
  const uint64_t metric = glyph < nmetrics ? glyph : nmetrics - 1;
  uint32_t advance = 0;
  if (!hmtx.has(4 * metric, 4) || !hmtx.u16(4 * metric, advance)) return;
  *out_advance = int(advance);
}

int tf_glyph_outline(const uint8_t *font, int len, uint32_t glyph, tf_point **out_points,
                     int *out_npoints, uint16_t **out_ends, int *out_nends, int *out_composite) {
  if (out_points) *out_points = nullptr;
  if (out_npoints) *out_npoints = 0;
  if (out_ends) *out_ends = nullptr;
  if (out_nends) *out_nends = 0;
  if (out_composite) *out_composite = 0;
  if (!out_points || !out_npoints || !out_ends || !out_nends || !out_composite) return 0;

  tf_dir dir;
  outline_ctx cx;
  span head, maxp;
  uint32_t format = 0;
  if (!tf_font_open(font, len, &dir) || !find_span(font, dir, "loca", cx.loca) ||
      !find_span(font, dir, "glyf", cx.glyf) || !find_span(font, dir, "head", head) ||
      !find_span(font, dir, "maxp", maxp) || !maxp.u16(4, cx.nglyphs) || cx.nglyphs == 0 ||
      !head.u16(50, format))
    return 0;
  cx.long_loca = format != 0;

  bool composite;
  if (!outline_glyph(cx, glyph, 0, 0, 0, &composite) || cx.out_of_memory) return 0;
  *out_npoints = int(cx.pts.size);
  *out_nends = int(cx.ends.size);
  *out_composite = composite ? 1 : 0;
  *out_points = cx.pts.data.release();
  *out_ends = cx.ends.data.release();
  return 1;
}

int tf_units_per_em(const uint8_t *font, int len) {
  tf_dir dir;
  span head;
  uint32_t units = 0;
  if (!tf_font_open(font, len, &dir) || !find_span(font, dir, "head", head) ||
      !head.u16(18, units))
    return 0;
  return int(units);
}
