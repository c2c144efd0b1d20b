// The scan rule over the scans folder, whose blank and near-blank pages are known by
// construction: at the default parameters the blank sheets are found, bands and punch holes
// included, and no near-blank or content page is called blank. Pages with text operators never
// reach the scan rule, so the folder's vector pages are left out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/scan_rule.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "render/builtin_fonts.h"
#include "render/render.h"
#include "support/corpus_table.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;

namespace {

TEST(CorpusScanRule, BlankSheetsFoundNearAndContentKept) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout, nothing to judge";
  fs::path dir = fs::path(shared) / "corpus" / "scans";
  const std::vector<table_row> rows = read_table((dir / "pages.tsv").string());
  if (rows.empty()) GTEST_SKIP() << "no scans folder in " << shared;
  lsf_load_fonts();
  std::string loaded;
  pdf_doc doc;
  int blanks = 0, found = 0;
  for (table_row row : rows) {
    const std::string &file = row["file"], &role = row["role"], &kind = row["kind"];
    if (kind == "vector-content" || kind == "vpagenum") continue;
    if (file != loaded) {
      doc = pdf_doc{};
      ASSERT_EQ(doc_load((dir / file).c_str(), doc), 0) << file;
      loaded = file;
    }
    int page = std::stoi(row["page"]);
    int w = 0, h = 0;
    render_marks marks;
    c_ptr<uint8_t> px = lsf_render_page(doc, page - 1, k_scan_dpi, &w, &h, &marks);
    ASSERT_NE(px, nullptr) << file << " page " << page;
    if (marks.text_shown || marks.unreadable) continue;
    scan_figures s = scan_judge(px.get(), w, h, k_scan_dpi, scan_params{});
    std::string where = file + " page " + std::to_string(page) + " (" + role + " " + kind +
                        "): paper " + std::to_string(s.paper) + ", ink " +
                        std::to_string(s.ink_mm2) + " mm2";
    if (role == "blank") {
      ++blanks;
      found += s.blank;
      EXPECT_TRUE(s.blank) << where;
    } else {
      EXPECT_FALSE(s.blank) << where;
    }
  }
  EXPECT_GE(blanks, 20);
  EXPECT_GE(found * 100, blanks * 97);
}

// Through the library's own call, over real-world files: no page that shows text, and none
// that a reference renderer shows with dark pixels, is called blank by the scan rule.
TEST(CorpusScanRule, RealFilesLoseNoPageWithInk) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout, nothing to judge";
  fs::path dir = fs::path(shared) / "corpus" / "real";
  const std::vector<table_row> rows = read_table((dir / "manifest.tsv").string());
  if (rows.empty()) GTEST_SKIP() << "no real folder in " << shared;
  leafsift_init();
  int judged = 0;
  for (table_row row : rows) {
    const char *r = leafsift_detect_ex((dir / row["file"]).c_str(), "{\"rule\":\"scan\"}");
    if (!r) continue;  // encrypted and broken files are refused as by the light rule
    ++judged;
    const std::set<int> text = parse_page_list(row["text_pages"]);
    const std::set<int> light = parse_page_list(row["pixblank_poppler"]);
    for (int page : parse_page_list(r)) {
      EXPECT_EQ(text.count(page), 0u) << row["file"] << " page " << page << " shows text";
      EXPECT_EQ(light.count(page), 1u) << row["file"] << " page " << page << " has dark pixels";
    }
  }
  leafsift_cleanup();
  EXPECT_GE(judged, 15);
}

}  // namespace
