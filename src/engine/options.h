// The options text of the extended calls: a flat JSON object choosing the blank rule and its
// parameters. Any bytes may arrive here, so the reader is strict and bounded: one pass over
// the text, no nesting, and a message naming the key for every value it refuses.
#pragma once

#include <string>

#include "engine/scan_rule.h"

enum blank_rule { RULE_LIGHT = 0, RULE_SCAN = 1 };

struct detect_options {
  int rule = RULE_LIGHT;
  int threshold = 99;  // as given to leafsift_detect, clamped later the same way
  scan_params scan;
};

// Longer options texts are refused: no real options text comes near it.
inline constexpr size_t k_max_options_text = 65536;

// Fills *out from the text (null: every default). False with *why set to a one-line message
// when the text is not a JSON object, or holds an unknown key, a value of the wrong type or
// one out of range.
bool parse_detect_options(const char *text, detect_options *out, std::string *why);
