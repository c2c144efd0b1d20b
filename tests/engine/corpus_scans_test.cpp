// Detect over the scan folder, whose blank pages are known by construction: at the default
// threshold paper-white, off-white and show-through blanks are found (and the noise blanks of
// black-and-white scans), and no content page with real ink is deleted.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "leafsift.h"
#include "support/corpus_table.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;

namespace {

TEST(CorpusScans, PaperBlanksFoundAndInkKept) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout";
  fs::path dir = fs::path(shared) / "corpus" / "scans";
  std::map<std::string, std::set<int>> blank;
  leafsift_init();
  int checked = 0;
  for (table_row &row : read_table((dir / "pages.tsv").string())) {
    const std::string &file = row["file"];
    if (!blank.count(file)) {
      const char *r = leafsift_detect((dir / file).c_str(), 99);
      ASSERT_NE(r, nullptr) << file << ": " << leafsift_last_error();
      blank[file] = parse_page_list(r);
    }
    int page = std::stoi(row["page"]);
    bool called = blank[file].count(page) > 0;
    const std::string &kind = row["kind"];
    // Black-and-white scans (fax-coded or 1-bit Flate) hold no grey: their white and noise
    // blanks are found, and every one of their content pages is kept.
    const bool bilevel = row["encoding"].rfind("CCITT", 0) == 0 ||
                         row["encoding"].find("1-bit") != std::string::npos;
    if (row["role"] == "blank" &&
        (kind == "white" || kind == "offwhite" || kind == "bleed" ||
         (bilevel && kind == "noise"))) {
      EXPECT_TRUE(called) << file << " p" << page << " (" << kind << ") kept";
      ++checked;
    }
    if (row["role"] == "content" && (bilevel || std::stod(row["light_share_t99"]) < 98.5)) {
      EXPECT_FALSE(called) << file << " p" << page << " has ink but was called blank";
      ++checked;
    }
  }
  leafsift_cleanup();
  EXPECT_GT(checked, 30);
}

}  // namespace
