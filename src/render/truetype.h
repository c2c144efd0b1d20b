// Reading TrueType font data held in memory: the table directory, the character map, advance
// widths and glyph outlines as quadratic contours. Nothing is hinted, kerned or substituted.
// Font data come from PDF files as well as from the built-in fonts, so every table is checked
// against the data when the font is opened and every read is bounded by the data's length.
#pragma once

#include <cstdint>

inline constexpr int k_tf_max_tables = 64;
// Composite glyphs nest at most this deep, so a glyph that names itself, directly or through
// others, ends; and a composite glyph gathers at most this many points.
inline constexpr int k_tf_max_composite_depth = 8;
inline constexpr int k_tf_max_composite_points = 65535;

struct tf_table {
  uint8_t tag[4] = {};
  uint32_t offset = 0;  // from the start of the font data
  uint32_t length = 0;
};

// The tables whose offset and length lie inside the data, in directory order; the entries that
// do not are left out, so a reader sees them as missing.
struct tf_dir {
  uint16_t count = 0;
  tf_table entries[k_tf_max_tables];
};

struct tf_point {
  int16_t x = 0;
  int16_t y = 0;
  uint8_t on_curve = 0;  // 1 on the curve, 0 a quadratic control point
};

// 1 when the data is a font (at least 12 bytes starting with 00 01 00 00, "true" or "ttcf").
int tf_font_open(const uint8_t *font, int len, tf_dir *dir);

// The first directory entry with this tag, or null.
const tf_table *tf_find_table(const tf_dir &dir, const char *tag);

// Zero-fills table[0..65535], then fills it from the best cmap subtable of formats 0, 4, 6 and
// 12. *out_ok is 1 when a subtable was chosen.
void tf_build_cmap(const uint8_t *font, int len, uint16_t *table, int *out_ok);

// The glyph's advance width in font units, or 0.
void tf_hmtx(const uint8_t *font, int len, uint32_t glyph, int *out_advance);

// The glyph's outline: its points, the index of each contour's last point (ascending, below
// the point count) and whether it was built from components. 1 with an outline, else 0 with
// every out-parameter null or 0. The two arrays come from malloc; the caller frees them.
int tf_glyph_outline(const uint8_t *font, int len, uint32_t glyph, tf_point **out_points,
                     int *out_npoints, uint16_t **out_ends, int *out_nends, int *out_composite);

// unitsPerEm of the "head" table, or 0 when the data is no font or has no readable head.
int tf_units_per_em(const uint8_t *font, int len);
