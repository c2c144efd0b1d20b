// Colours of the graphics state and the colour spaces they are chosen in. A colour is kept as
// gray, RGB or CMYK components and turned into RGB when something is painted; every other
// space of the format is reduced to one of those three when its colour is set.
#pragma once

#include <cstdint>
#include <memory>

#include "pdfcore/document.h"
#include "render/tokenizer.h"

enum color_space_id { COLOR_GRAY = 0, COLOR_RGB = 1, COLOR_CMYK = 2 };

struct color {
  int space = COLOR_GRAY;
  double comp[4] = {0, 0, 0, 0};  // stored as given, not clamped
};

// Red, green and blue in 0..1; an unknown `space` gives black.
void color_get(const color *col, double *r, double *g, double *b);

// How operands of sc, SC, scn and SCN become a colour.
enum colour_space_kind {
  CS_GRAY = 0,     // DeviceGray, CalGray, ICC-based with one component
  CS_RGB = 1,      // DeviceRGB, CalRGB, ICC-based with three components
  CS_CMYK = 2,     // DeviceCMYK, ICC-based with four components
  CS_LAB = 3,      // L*a*b*: painted as the gray L / 100, the hue dropped
  CS_TINT = 4,     // Separation and DeviceN: the gray 1 - the largest tint
  CS_INDEXED = 5,  // an index into a palette already turned into RGB
  CS_PATTERN = 6,  // patterns are painted as black
  CS_UNKNOWN = 7,  // not resolved: the number of operands decides (1 gray, 3 RGB, 4 CMYK)
};

inline constexpr int k_palette_size = 256;

// An Indexed space's lookup table with every entry already in RGB. Entries the table's data
// do not cover, and all entries when the base space cannot be read, are black.
struct colour_palette {
  int hival = 0;  // highest valid index, 0..255
  float rgb[k_palette_size][3] = {};
};

// A palette is shared by the current colour space and the saved graphics states that hold the
// same space, so q and Q copy a pointer rather than the table.
struct colour_space {
  int kind = CS_GRAY;
  int ncomp = 1;  // operands a colour in this space takes
  std::shared_ptr<const colour_palette> palette;  // CS_INDEXED only; null paints black
};

colour_space colour_space_device(int kind);

// The space a cs or CS operand names: a device space by its name or abbreviation, /Pattern,
// or an entry of the resources' /ColorSpace dictionary (a name, an array, or a reference to
// either). What cannot be read resolves to CS_UNKNOWN. doc and res may be null.
colour_space colour_space_named(const pdf_doc *doc, const uint8_t *res, int32_t res_len,
                                const char *name);

// The colour a space starts with when cs or CS selects it: black in every kind, index 0 for
// an Indexed space.
color colour_initial(const colour_space &cs);

// The colour given by the n operands ops[0..n-1] (top of the stack last) in space cs. False
// when there are too few operands, and the colour is to stay as it was. A name on top of the
// stack names a pattern, painted black.
bool colour_from_operands(const colour_space &cs, const token *ops, int n, color *out);
