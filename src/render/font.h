// Fonts of content streams: what the resource name given to Tf stands for, which TrueType data
// draw it (embedded or built-in), which glyph each one-byte code shows and how far it advances
// the pen; Type 3 fonts get their glyph procedures instead. Each interpreter state keeps the
// fonts it has resolved.
#pragma once

#include <cstdint>
#include <memory>

#include "pdfcore/mem.h"
#include "render/path.h"

enum font_kind { FONT_SIMPLE = 1, FONT_TYPE0 = 2, FONT_TYPE3 = 3 };

struct glyph_entry {
  uint32_t glyph = 0;  // 0: no glyph
  double advance = 0;  // fraction of the font size
};

// A glyph's outline as path segments in font units, kept once read so that every later
// showing of the code fills the same segments without reading the font again.
struct glyph_path {
  path segs;
  int read = 0;  // 1 once the outline was read, also when it gave nothing
};

struct pdf_font {
  int kind = 0;
  c_ptr<uint8_t> file_data;  // the embedded TrueType program, or null
  int file_len = 0;
  double units_per_em = 0;
  // 256 entries, or null; owned unless shared_map is set, when it is the built-in slot's
  // process-wide table.
  glyph_entry *glyph_map = nullptr;
  c_ptr<glyph_entry> owned_map;
  // Type 3: 256 decoded glyph procedures, or null. Codes whose entries name one stream share
  // one decoded copy.
  std::unique_ptr<std::shared_ptr<uint8_t>[]> procs;
  c_ptr<int> proc_lens;
  c_ptr<double> t3_widths;
  c_ptr<double> widths;  // /Widths as fractions of the font size, 256 entries
  int builtin = -1;
  int shared_map = 0;
  // Outlines already turned into path segments, per code; made on the first glyph drawn.
  std::unique_ptr<glyph_path[]> outlines;

  pdf_font() = default;
  pdf_font(const pdf_font &) = delete;
  pdf_font &operator=(const pdf_font &) = delete;
  ~pdf_font();
};

inline constexpr int k_font_cache_size = 96;
inline constexpr int k_font_key_len = 63;

struct font_cache_entry {
  char key[k_font_key_len + 1] = {};
  pdf_font *font = nullptr;
  int32_t num = 0;     // the font dictionary's object number
  bool owner = false;  // names resolving to a font already loaded share its record
};

// The fonts one interpreter state has resolved; owns its records.
struct font_cache {
  font_cache_entry entries[k_font_cache_size];
  int count = 0;

  font_cache() = default;
  font_cache(const font_cache &) = delete;
  font_cache &operator=(const font_cache &) = delete;
  ~font_cache();
};

struct interp_state;

// The font of the resource name (without '/'), resolved once per state; null when it cannot be
// resolved (not cached, so a later Tf tries again).
pdf_font *font_get(interp_state *state, const char *name);

// The process-wide glyph table of a built-in slot, or null before it is first built.
const glyph_entry *font_base_cmap(int slot);
