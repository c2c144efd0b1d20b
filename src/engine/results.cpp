// Formatting of the page list and the removal statistics. Both texts grow with the document:
// a list cut short, or replaced by "[]", would tell the host that thousands of blank pages
// are none.
#include "engine/results.h"

#include "engine/classify.h"

#include <cstdio>
#include <new>

int clamp_threshold(int threshold) {
  if (threshold <= 0) return 99;
  if (threshold > 100) return 100;
  return threshold;
}

bool build_removed_json(const uint8_t *verdicts, int32_t page_count, std::string &out) {
  try {
    out.assign("[");
    const char *sep = "";
    char num[16];
    for (int32_t i = 1; i <= page_count; ++i) {
      if (!verdicts[i - 1]) continue;
      int n = std::snprintf(num, sizeof num, "%s%ld", sep, static_cast<long>(i));
      out.append(num, static_cast<size_t>(n));
      sep = ",";
    }
    out.push_back(']');
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

bool build_stats_json(const uint8_t *verdicts, int32_t page_count, int32_t n_blank,
                      std::string &out) {
  std::string list;
  if (!build_removed_json(verdicts, page_count, list)) return false;
  long after = static_cast<long>(page_count) - n_blank;
  if (after < 0) after = 0;
  char prefix[96];
  int n = std::snprintf(prefix, sizeof prefix, "{\"before\":%ld,\"after\":%ld,\"removed\":",
                        static_cast<long>(page_count), after);
  try {
    out.assign(prefix, static_cast<size_t>(n));
    out.append(list);
    out.push_back('}');
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

bool build_analyze_json(const page_verdict *pages, int32_t page_count, std::string &out) {
  try {
    out.assign("{\"pages\":[");
    char row[256];
    for (int32_t i = 0; i < page_count; ++i) {
      const page_verdict &v = pages[i];
      char light[32] = "null", ink[32] = "null";
      if (v.rendered && !v.scan) std::snprintf(light, sizeof light, "%.2f", v.light);
      if (v.rendered && v.scan) std::snprintf(ink, sizeof ink, "%.2f", v.ink_mm2);
      int n = std::snprintf(row, sizeof row,
                            "%s{\"page\":%ld,\"text\":%s,\"unread\":%s,\"light\":%s,"
                            "\"ink_mm2\":%s,\"blank\":%s}",
                            i ? "," : "", static_cast<long>(i) + 1, v.text ? "true" : "false",
                            v.unread ? "true" : "false", light, ink, v.blank ? "true" : "false");
      out.append(row, static_cast<size_t>(n));
    }
    out.append("]}");
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}
