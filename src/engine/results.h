// The result texts the exported calls hand out, and the rules that shape them.
#pragma once

#include <cstdint>
#include <string>

// A threshold brought into 1..100: 0 or below means 99, above 100 means 100.
int clamp_threshold(int threshold);

// The page list of the pages whose verdict byte is non-zero, 1-based, ascending: "[2,5]",
// "[]" when none. It grows to hold every page. False only when memory runs out.
bool build_removed_json(const uint8_t *verdicts, int32_t page_count, std::string &out);

// {"before":N,"after":M,"removed":[...]} for a removal of n_blank of page_count pages.
bool build_stats_json(const uint8_t *verdicts, int32_t page_count, int32_t n_blank,
                      std::string &out);

struct page_verdict;

// {"pages":[{"page":1,"text":false,"unread":false,"light":99.87,"ink_mm2":null,"blank":true},
// ...]}: the figures of the rule that judged each page, null for the other rule's and for a
// page that was not rendered.
bool build_analyze_json(const page_verdict *pages, int32_t page_count, std::string &out);
