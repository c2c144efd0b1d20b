// Carrying objects from the input into the output: which objects the kept pages reach, the
// numbers they get, every reference in carried text renumbered, and the copies themselves.
// The page layout around them belongs to the writer.
#pragma once

#include <cstdint>
#include <vector>

#include "pdfcore/buf.h"
#include "pdfcore/document.h"

// The objects the output carries, in output order, and the number each input object gets.
// Copies are numbered from `base` on, in the order their numbers were first met.
struct carry_plan {
  int32_t base = 0;
  std::vector<int32_t> out_num;  // per input object number: 0 not met yet, else see below
  std::vector<int32_t> copies;   // input object numbers; copy i is output number base + i
};

// out_num values besides output numbers: a page, a page tree node or the catalog, whose
// references become null (carrying them would pull in the whole document); and a number the
// object table does not hold.
inline constexpr int32_t k_carry_null = -1;
inline constexpr int32_t k_carry_missing = -2;

// Sizes the plan for the document's object numbers; copies will start at `base`. Throws
// std::bad_alloc when the table cannot be had.
void carry_init(carry_plan &plan, const pdf_doc &doc, int32_t base);

// Registers, in the order they stand, the objects that a text names by reference (a
// resource dictionary, the catalog's optional-content entry). False when `required` and one
// of them is missing from the document; a missing one that is not required becomes null.
bool carry_collect(carry_plan &plan, const pdf_doc &doc, const uint8_t *text, int32_t len,
                   bool required);
// Registers one object by number (an annotation's appearance form); false when it is missing.
bool carry_collect_object(carry_plan &plan, const pdf_doc &doc, int32_t num);
// The output number of an input object after collecting, or k_carry_null / k_carry_missing.
int32_t carry_number(const carry_plan &plan, int32_t num);

// Appends text with every reference "n g R" renumbered: "m 0 R" for a carried object, null
// for a page, page tree node, the catalog or a missing object. A reference not met before is
// carried from here on. Literal and hexadecimal strings, names and comments pass unchanged.
// With stream_length >= 0 the text is a stream dictionary and its /Length is made to say
// exactly that many bytes.
void carry_rewrite(carry_plan &plan, const pdf_doc &doc, const uint8_t *text, int32_t len,
                   buf &out, int64_t stream_length = -1);

// Appends every copy, each at its output number, recording where its first line begins in
// `offsets` (indexed by output number; grown as needed). Objects met inside copies join the
// end of the list and are written in turn, so the whole reachable set is carried.
void carry_write_copies(carry_plan &plan, const pdf_doc &doc, buf &out,
                        std::vector<int64_t> &offsets);
