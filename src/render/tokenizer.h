// Tokens of content streams, read one at a time from raw bytes: numbers, names, strings, the
// mark of an opening '[', skipped dictionaries and operators. Also the extents of values written
// in place (arrays, dictionaries, references), for the readers of resource texts.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

enum token_type {
  TOK_NONE = -1,  // the bytes read made no token (white space, a comment, a stray byte)
  TOK_NUMBER = 0,
  TOK_NAME = 1,
  TOK_STRING = 2,
  TOK_OPERATOR = 3,
  TOK_ARRAY = 4,  // an opening '['; the closing ']' makes no token
  TOK_DICT = 6,   // a whole "<<" ... ">>", its contents skipped
};

// Short names, operators and strings are kept in the token itself, so most tokens cost no
// allocation; longer ones go to a heap block.
inline constexpr int k_token_inline = 48;

struct token {
  int type = TOK_NONE;
  double num = 0;                  // a number's value; 0 for every other type
  const char *name = nullptr;      // NUL-terminated text of a name (without '/') or operator
  const uint8_t *bytes = nullptr;  // a string's bytes, not NUL-terminated
  int32_t len = 0;                 // length of the name, operator or string
  c_ptr<uint8_t> owned;            // the heap block behind name or bytes, when not inline
  uint8_t small[k_token_inline];   // inline storage behind name or bytes

  token() = default;
  token(const token &) = delete;
  token &operator=(const token &) = delete;
  // Moving keeps name and bytes pointing at the new record's own storage.
  token(token &&other) noexcept;
  token &operator=(token &&other) noexcept;
};

// Returns the token to the fresh state: no type, zero value, storage released.
void token_release(token *t);

// Reads what starts at data[pos] into *out (released first) and returns the position after
// it. out->type is TOK_NONE when the bytes read make no token. A position at or past len
// returns len. An operator longer than the inline storage keeps its length and only its first
// bytes as text: no operator of the format is that long, so it can only be passed over.
int32_t token_next(const uint8_t *data, int32_t len, int32_t pos, token *out);

// White space, other bytes below 33 and comments, skipped from pos; the first other position.
int32_t skip_blank(const uint8_t *data, int32_t pos, int32_t end);
// The position after the value that starts at data[pos] (blanks before it skipped): a number,
// or a reference "num gen R" as one value; a name, string, array (nested ones counted) or
// dictionary. Never less than pos + 1 when pos < end; end when the value runs to the end.
int32_t value_end(const uint8_t *data, int32_t pos, int32_t end);
// Position of the value of /key among the top-level entries of the dictionary opening with
// "<<" at pos, or -1.
int32_t dict_value(const uint8_t *data, int32_t pos, int32_t end, const char *key);
// Position of element `index` (from 0) of the array opening with '[' at pos, or -1.
int32_t array_item(const uint8_t *data, int32_t pos, int32_t end, int index);
// Number of elements of the array opening with '[' at pos (-1 when there is no '[').
int array_count(const uint8_t *data, int32_t pos, int32_t end);
