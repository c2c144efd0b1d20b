// Placeholder until font resolution is written: no font resolves.
#include "render/font.h"

pdf_font::~pdf_font() = default;
font_cache::~font_cache() {
  for (int i = 0; i < count; i++) delete entries[i].font;
}
pdf_font *font_get(interp_state *, const char *) { return nullptr; }
const glyph_entry *font_base_cmap(int) { return nullptr; }
