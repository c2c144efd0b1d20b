// Helpers for the writer's tests: fixtures loaded from memory, the writer run into a scratch
// folder, and output checked by independent readers (qpdf, and pdftoppm renders compared pixel
// by pixel with the input's).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "emit/writer.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace emit_test {

inline bool load(const std::string &pdf, pdf_doc &doc) {
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size() + 1)));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "fixture", doc) == 0;
}

// Runs the writer over a fixture; the output's bytes, or "" when the call failed (the error
// text then says why).
struct emitted {
  int rc = 0;
  std::string bytes;
  std::string error;
  std::string path;
};

inline emitted emit(const std::string &pdf, const std::vector<int32_t> &blank = {},
                    int32_t n_kept = -1) {
  emitted e;
  pdf_doc doc;
  if (!load(pdf, doc)) {
    e.error = std::string("fixture did not load: ") + pdfcore_last_error();
    return e;
  }
  if (n_kept < 0) n_kept = doc.pages.count() - static_cast<int32_t>(blank.size());
  e.path = scratch_dir() + "/out.pdf";
  e.rc = lsf_emit_blank_removal(doc, blank.data(), static_cast<int32_t>(blank.size()), n_kept,
                                e.path.c_str());
  e.error = pdfcore_last_error();
  if (e.rc) e.bytes = read_file(e.path);
  return e;
}

// The text of output object m, from "m 0 obj\n" to its "endobj", located through the file's
// own cross-reference table; "" when the table does not list it.
inline std::string object_text(const std::string &pdf, int m) {
  size_t x = pdf.rfind("startxref ");
  if (x == std::string::npos) return "";
  size_t table = std::strtoull(pdf.c_str() + x + 10, nullptr, 10);
  size_t line = table + 5;  // "xref\n"
  line = pdf.find('\n', line) + 1;
  size_t entry = line + 20 * static_cast<size_t>(m);
  if (entry + 20 > pdf.size() || pdf.compare(entry + 11, 5, "00000") != 0 || pdf[entry + 17] != 'n')
    return "";
  size_t at = std::strtoull(pdf.c_str() + entry, nullptr, 10);
  size_t end = pdf.find("endobj", at);
  return end == std::string::npos ? "" : pdf.substr(at, end + 6 - at);
}

// Every in-use entry of the table points at "m 0 obj", the free ones are the expected, and
// startxref points at the table.
inline void expect_table_consistent(const std::string &pdf) {
  size_t x = pdf.rfind("startxref ");
  ASSERT_NE(x, std::string::npos);
  size_t table = std::strtoull(pdf.c_str() + x + 10, nullptr, 10);
  ASSERT_EQ(pdf.compare(table, 7, "xref\n0 "), 0);
  size_t n = std::strtoull(pdf.c_str() + table + 7, nullptr, 10);
  size_t line = pdf.find('\n', table + 7) + 1;
  ASSERT_EQ(pdf.compare(line, 20, "0000000000 65535 f \n"), 0);
  for (size_t m = 1; m < n; ++m) {
    size_t entry = line + 20 * m;
    ASSERT_LE(entry + 20, pdf.size());
    if (pdf[entry + 17] == 'f') continue;
    size_t at = std::strtoull(pdf.c_str() + entry, nullptr, 10);
    std::string head = std::to_string(m) + " 0 obj\n";
    EXPECT_EQ(pdf.compare(at, head.size(), head), 0) << "object " << m;
  }
  EXPECT_EQ(pdf.compare(line + 20 * n, 17, "trailer\n<< /Size "), 0);
}

inline bool have(const char *tool) {
  return run_command(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0;
}

// qpdf's verdict: "" when it finds nothing to say, else its report.
inline std::string qpdf_problems(const std::string &path) {
  std::string out;
  int rc = run_command("qpdf --check '" + path + "' 2>&1", &out);
  return rc == 0 ? "" : "qpdf status " + std::to_string(rc) + ": " + out;
}

inline int qpdf_pages(const std::string &path) {
  std::string out;
  if (run_command("qpdf --show-npages '" + path + "' 2>/dev/null", &out) != 0) return -1;
  return std::atoi(out.c_str());
}

struct image {
  int w = 0, h = 0;
  std::string rgb;
};

inline bool parse_ppm(const std::string &s, image *img) {
  int w, h, max, used = 0;
  if (std::sscanf(s.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used) != 3 || max != 255)
    return false;
  size_t at = static_cast<size_t>(used) + 1;
  if (s.size() < at + static_cast<size_t>(w) * h * 3) return false;
  img->w = w;
  img->h = h;
  img->rgb = s.substr(at, static_cast<size_t>(w) * h * 3);
  return true;
}

// Pages first..last of a file rendered at 48 dpi over the crop box, keyed by page number.
inline std::map<int, image> render(const std::string &pdf_path, int first, int last,
                                   const std::string &options = "") {
  std::map<int, image> pages;
  std::string dir = scratch_dir();
  run_command("pdftoppm -r 48 -cropbox " + options + " -f " + std::to_string(first) + " -l " +
              std::to_string(last) + " '" + pdf_path + "' '" + dir + "/p' 2>/dev/null");
  for (const auto &entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("p-", 0) != 0) continue;
    image img;
    if (parse_ppm(read_file(entry.path().string()), &img))
      pages[std::atoi(name.c_str() + 2)] = img;
  }
  std::filesystem::remove_all(dir);
  return pages;
}

// Share of pixels, in percent, that differ in any channel; 100 when the sizes differ.
inline double differing_share(const image &a, const image &b) {
  if (a.w != b.w || a.h != b.h || a.w == 0) return 100.0;
  size_t differ = 0, n = static_cast<size_t>(a.w) * a.h;
  for (size_t i = 0; i < n; ++i)
    if (std::memcmp(a.rgb.data() + 3 * i, b.rgb.data() + 3 * i, 3) != 0) ++differ;
  return 100.0 * static_cast<double>(differ) / static_cast<double>(n);
}

}  // namespace emit_test
