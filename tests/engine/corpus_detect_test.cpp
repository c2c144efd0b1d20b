// Detect over the shared corpus: every file answers or fails with a message, encrypted files
// are refused, and no page that shows text is ever called blank.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "leafsift.h"
#include "support/corpus_table.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;

namespace {

// Rows of a manifest keyed by file name.
std::map<std::string, table_row> read_manifest(const fs::path &p) {
  std::map<std::string, table_row> rows;
  for (table_row &row : read_table(p.string())) rows[row["file"]] = std::move(row);
  return rows;
}

TEST(CorpusDetect, TextPagesAreNeverBlankAndEncryptionIsRefused) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout";
  fs::path real = fs::path(shared) / "corpus" / "real";
  auto manifest = read_manifest(real / "manifest.tsv");
  ASSERT_FALSE(manifest.empty());
  leafsift_init();
  for (const auto &[name, row] : manifest) {
    std::string path = (real / name).string();
    const char *r = leafsift_detect(path.c_str(), 99);
    if (row.at("encrypted") == "yes") {
      EXPECT_EQ(r, nullptr) << name;
      EXPECT_NE(std::string(leafsift_last_error()).find("encrypted PDFs are not supported"),
                std::string::npos)
          << name;
      continue;
    }
    if (!r) {
      EXPECT_TRUE(row.at("pages") == "error" || name.rfind("damaged-", 0) == 0)
          << name << ": " << leafsift_last_error();
      EXPECT_STRNE(leafsift_last_error(), "") << name;
      continue;
    }
    const std::set<int> blank = parse_page_list(r), text = parse_page_list(row.at("text_pages"));
    for (int p : blank)
      EXPECT_EQ(text.count(p), 0u)
          << name << ": page " << p << " shows text but was called blank";
  }
  leafsift_cleanup();
}

TEST(CorpusDetect, ScansAnswerForEveryFile) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout";
  fs::path scans = fs::path(shared) / "corpus" / "scans";
  auto manifest = read_manifest(scans / "manifest.tsv");
  leafsift_init();
  for (const auto &[name, row] : manifest) {
    std::string path = (scans / name).string();
    const char *r = leafsift_detect(path.c_str(), 99);
    ASSERT_NE(r, nullptr) << name << ": " << leafsift_last_error();
    int pages = std::stoi(row.at("pages"));
    for (int p : parse_page_list(r)) EXPECT_TRUE(p >= 1 && p <= pages) << name;
  }
  leafsift_cleanup();
}

}  // namespace
