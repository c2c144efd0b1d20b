// Detect over the shared corpus: every file answers or fails with a message, encrypted files
// are refused, and no page that shows text is ever called blank.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "leafsift.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;

namespace {

std::vector<int> parse_list(const std::string &s) {
  std::vector<int> out;
  std::string digits;
  for (char c : s + ",") {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (!digits.empty()) {
      out.push_back(std::stoi(digits));
      digits.clear();
    }
  }
  return out;
}

// Rows of a manifest keyed by file name, each a map from column name to value.
std::map<std::string, std::map<std::string, std::string>> read_manifest(const fs::path &p) {
  std::map<std::string, std::map<std::string, std::string>> rows;
  std::ifstream f(p);
  std::string line;
  std::vector<std::string> head;
  while (std::getline(f, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) cols.push_back(c);
    if (head.empty()) {
      head = cols;
      continue;
    }
    auto &row = rows[cols.empty() ? "" : cols[0]];
    for (size_t i = 0; i < head.size() && i < cols.size(); ++i) row[head[i]] = cols[i];
  }
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
    std::vector<int> blank = parse_list(r), text = parse_list(row.at("text_pages"));
    for (int p : blank)
      EXPECT_EQ(std::count(text.begin(), text.end(), p), 0)
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
    for (int p : parse_list(r)) EXPECT_TRUE(p >= 1 && p <= pages) << name;
  }
  leafsift_cleanup();
}

}  // namespace
