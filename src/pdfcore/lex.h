// Scans over raw PDF bytes. The reader builds no syntax tree: it answers every question by
// scanning a byte range with these helpers. Positions are signed 32-bit; every bound named
// `end` or `len` is exclusive, and no helper reads outside [0, bound) whatever its arguments.
// White space is exactly the six PDF white-space bytes; comments are not white space.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

inline bool is_pdf_ws(uint8_t c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool is_alnum(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// The C library's white-space class (9 to 13 and 32), used where object heads are read.
inline bool is_c_space(uint8_t c) { return c == 32 || (c >= 9 && c <= 13); }

// First position >= pos holding no white space, or end.
int32_t skip_ws(const uint8_t *data, int32_t pos, int32_t end);
// 1 when kw stands at pos as a whole word (no letter or digit directly before or after).
int kw_at(const uint8_t *data, int32_t pos, int32_t end, const char *kw);
// First whole-word kw at or after from (negative from counts as 0), or -1.
int32_t find_kw(const uint8_t *data, int32_t end, int32_t from, const char *kw);

// Integer readers: optional sign, decimal digits, 32-bit wrap-around. They differ in the
// signs they take and in where they leave *pos on failure (see lex.cpp). -1 means "no number".
int32_t parse_int_at(const uint8_t *data, int32_t end, int32_t *pos);
int32_t read_int_adv(const uint8_t *data, int32_t end, int32_t *pos);
int32_t read_num_adv(const uint8_t *data, int32_t end, int32_t *pos);

// Position of the "/" of the first "/name" in [from, min(len, end)) that is not the start of
// a longer name (followed by a letter, digit, "+", "-" or "_"), or -1. Flat: it does not know
// about nesting, strings or comments.
int32_t find_name(const uint8_t *data, int32_t len, int32_t from, int32_t end, const char *name);
// As find_name, but only at dictionary depth 0 or 1 counted from `from`; literal strings,
// hexadecimal strings and comments are stepped over.
int32_t find_name_top(const uint8_t *data, int32_t len, int32_t from, int32_t end,
                      const char *name);
// Position after the literal string opening with "(" at p, nested parentheses counted and
// backslash escapes stepped over; -1 when it is not closed before lim.
int32_t skip_literal(const uint8_t *data, int32_t p, int32_t lim);
// Position of the first ">" of the ">>" closing the first "<<" at or after start, or -1.
// Literal and hexadecimal strings are stepped over.
int32_t find_dict_close(const uint8_t *data, int32_t start, int32_t end);
// Position of the keyword stream that follows the dictionary opened at or after start, or -1.
int32_t dict_stream_kw(const uint8_t *data, int32_t end, int32_t start);
// A NUL-terminated copy of the dictionary opening with "<<" at pos, up to and including its
// closing ">>", or null. *out_len (when given) receives its length without the NUL.
c_ptr<uint8_t> dict_text_at(const uint8_t *data, int32_t len, int32_t pos,
                            int32_t *out_len = nullptr);
