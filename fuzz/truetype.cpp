// The TrueType reader on arbitrary font data: the table directory, the character map,
// advance widths, units per em and the outline of every glyph up to a bound.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "render/truetype.h"

namespace {

// Glyph outlines are read for at most this many glyph ids; a real font has thousands, but
// every id past the first few hundred exercises the same code.
constexpr uint32_t k_fuzz_glyphs = 300;

uint16_t glyph_count(const uint8_t *font, const tf_dir &dir) {
  const tf_table *maxp = tf_find_table(dir, "maxp");
  if (!maxp || maxp->length < 6) return 0;
  // The directory holds only tables inside the data.
  return static_cast<uint16_t>(font[maxp->offset + 4] << 8 | font[maxp->offset + 5]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1u << 24)) return 0;
  const int len = static_cast<int>(size);
  tf_dir dir;
  int is_font = tf_font_open(data, len, &dir);
  if (dir.count > k_tf_max_tables) std::abort();
  for (int i = 0; i < dir.count; i++) {
    const tf_table &t = dir.entries[i];
    if (uint64_t(t.offset) + t.length > size) std::abort();
  }
  (void)tf_units_per_em(data, len);

  std::vector<uint16_t> cmap(65536, 0xFFFF);
  int cmap_ok = -1;
  tf_build_cmap(data, len, cmap.data(), &cmap_ok);
  if (cmap_ok != 0 && cmap_ok != 1) std::abort();

  uint32_t glyphs = is_font ? glyph_count(data, dir) : 0;
  if (glyphs < 8) glyphs = 8;  // ids past the count must be refused safely too
  if (glyphs > k_fuzz_glyphs) glyphs = k_fuzz_glyphs;
  // Also the glyphs the first characters map to, wherever they are.
  std::vector<uint32_t> ids;
  for (uint32_t g = 0; g < glyphs; g++) ids.push_back(g);
  for (uint32_t c = 0x20; c < 0x80; c++) ids.push_back(cmap[c]);
  ids.push_back(0xFFFF);
  ids.push_back(0xFFFFFFFFu);

  for (uint32_t g : ids) {
    int advance = -1;
    tf_hmtx(data, len, g, &advance);
    tf_point *points = nullptr;
    uint16_t *ends = nullptr;
    int npoints = -1, nends = -1, composite = -1;
    int ok = tf_glyph_outline(data, len, g, &points, &npoints, &ends, &nends, &composite);
    if (ok) {
      if (npoints < 0 || nends < 0 || (nends > 0 && (!points || !ends))) std::abort();
      // Contour ends ascend and stay below the point count.
      for (int i = 0; i < nends; i++) {
        if (ends[i] >= npoints) std::abort();
        if (i > 0 && ends[i] < ends[i - 1]) std::abort();
      }
      volatile int sum = 0;
      for (int i = 0; i < npoints; i++) sum = sum + points[i].x + points[i].y + points[i].on_curve;
    } else if (points || ends || npoints != 0 || nends != 0) {
      std::abort();
    }
    std::free(points);
    std::free(ends);
  }
  return 0;
}
