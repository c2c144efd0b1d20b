// The content-stream interpreter: the state of one running content stream (page, form or glyph
// procedure), the operand stack and the dispatch of every operator, and the lookups of named
// resources that the operators share. Painting itself belongs to the path, fill, stroke,
// clip, image and text modules; this one hands them the state.
#pragma once

#include <cstdint>

#include "pdfcore/document.h"
#include "pdfcore/objects.h"
#include "render/colour.h"
#include "render/font.h"
#include "render/path.h"
#include "render/raster.h"
#include "render/tokenizer.h"

struct matrix { double a, b, c, d, e, f; };

// out = A o B: B is applied first, then A. out may be A or B.
void mat_mult(matrix *out, const matrix *A, const matrix *B);

inline constexpr matrix k_identity = {1, 0, 0, 1, 0, 0};
inline constexpr int k_ctm_stack_size = 32;
inline constexpr int k_operand_stack_size = 256;
inline constexpr int k_colour_space_cache = 16;
inline constexpr int k_max_form_depth = 32;

// What a q saves besides the CTM, and its Q restores.
struct gstate_saved {
  color fill_color;
  color stroke_color;
  colour_space fill_space;
  colour_space stroke_space;
  double line_width = 1.0;
};

// A colour space already resolved by its resource name, so repeated cs operators neither
// search the resources again nor rebuild a palette.
struct colour_space_entry {
  char name[k_token_inline] = {};
  colour_space space;
};

struct interp_state {
  const pdf_doc *doc = nullptr;
  struct raster *raster = nullptr;      // shared by every level of nesting
  const uint8_t *resources = nullptr;  // resource dictionary text, not owned
  int32_t resources_len = 0;
  matrix ctm_stack[k_ctm_stack_size] = {};  // the CTM is entry ctm_depth - 1
  int ctm_depth = 1;
  color fill_color;
  color stroke_color;
  matrix text_matrix = k_identity;
  matrix line_matrix = k_identity;
  double font_size = 12.0;
  pdf_font *font = nullptr;  // not owned; fonts belong to the font cache
  double leading = 0;
  double word_spacing = 0;
  double char_spacing = 0;

  // The spaces the current colours were set in, for sc, SC, scn and SCN.
  colour_space fill_space;
  colour_space stroke_space;
  // saved[k] holds what was in effect before the q that raised ctm_depth to k + 2.
  gstate_saved saved[k_ctm_stack_size - 1];
  // q operators beyond the stack's depth: their Q operators only count them down, so an
  // unmatched level is never popped.
  int64_t q_overflow = 0;
  colour_space_entry cs_cache[k_colour_space_cache];
  int cs_cache_count = 0;
  // The path under construction; its storage lives as long as the state.
  struct path path;
  // Set by W and W*: the clip is narrowed to the path once the painting operator or n that
  // ends the path has run.
  int clip_pending = 0;

  // Forms run by nested states: the state that ran this one's Do, the form object it runs
  // (0 for a page) and how many forms enclose it, so that a form never runs inside itself.
  const interp_state *caller = nullptr;
  int32_t form_num = 0;
  int form_depth = 0;
  // 1 for the state of a Type 3 glyph procedure: states up the caller chain with it set count
  // how deeply procedures nest.
  int in_glyph = 0;

  // The fonts resolved by Tf in this state; the records live as long as the state, and forms
  // run from it borrow its current font.
  struct font_cache fonts;

  interp_state() = default;
  interp_state(const interp_state &) = delete;
  interp_state &operator=(const interp_state &) = delete;
};

// Sets every field as a page render starts: doc, raster, resources (not owned), ctm0 as the
// only CTM entry, fill and stroke colour RGB black, text and line matrix identity, font size 12.
void interp_state_setup(interp_state &st, const pdf_doc *doc, raster *r,
                        const uint8_t *resources, int32_t resources_len, const matrix &ctm0);

// Runs one content stream against the state. Never fails: what cannot be used is passed over.
void interp_execute(interp_state *st, const uint8_t *content, int32_t len);

enum res_kind { RES_REF = 0, RES_DICT = 1, RES_ARRAY = 2 };

// Position of the value of /key in a resource dictionary text, its kind stored in *kind; -1
// when there is none or it is neither a reference, a dictionary nor an array.
int res_value(const uint8_t *text, int32_t len, const char *key, int *kind);

// A value written in PDF syntax: it starts at data[pos] and nothing at or after data[end]
// belongs to the text it stands in.
struct res_span {
  const uint8_t *data = nullptr;
  int32_t pos = -1;
  int32_t end = 0;
};

// The value an object holds: its own bytes for an object from an object stream, else the
// file bytes after its "obj" keyword. False when the object has no readable value.
bool obj_value(const pdf_doc &doc, const pdf_obj &obj, res_span *out);
// v itself, or, when v is a reference "num gen R", the value of the object it names, followed
// through a few levels of references. *obj (when given) receives the last object reached, or
// null when v was no reference. False when a reference names no object.
bool res_deref(const pdf_doc *doc, res_span v, res_span *out, const pdf_obj **obj = nullptr);
// The value of /name in the resources' /category dictionary (written in place or by
// reference), references followed. False when the resources do not hold it.
bool res_named(const pdf_doc *doc, const uint8_t *res, int32_t res_len, const char *category,
               const char *name, res_span *out);
