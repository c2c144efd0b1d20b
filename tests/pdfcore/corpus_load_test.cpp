// Loading the shared corpus of real files: every file loads with the page count the reference
// tools report or is refused with one of the load messages, and damaged copies of the files
// load or fail without crashing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "pdfcore/streams.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace fs = std::filesystem;

namespace {

const char *const k_load_messages[] = {
    "NULL path argument",
    "cannot open ",
    "empty input file: ",
    "read error on ",
    "input file too large (2 GiB or more): ",
    "no PDF objects found — not a PDF: ",
    "encrypted PDFs are not supported: ",
    "catalog (obj ",
    "out of memory",
    "page tree uses inline page dictionaries in /Kids — pages must be indirect objects",
    "could not resolve the page tree (obj ",
    "document has no pages",
};

bool is_load_message(const std::string &message) {
  for (const char *m : k_load_messages)
    if (message.rfind(m, 0) == 0) return true;
  return false;
}

struct manifest_row {
  std::string pages;
  bool encrypted = false;
};

// file name -> row, from a manifest whose first line names the columns.
std::map<std::string, manifest_row> read_manifest(const fs::path &path) {
  std::map<std::string, manifest_row> rows;
  std::istringstream in(read_file(path.string()));
  std::string line;
  std::vector<std::string> columns;
  auto split = [](const std::string &l) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream s(l);
    while (std::getline(s, cell, '\t')) cells.push_back(cell);
    return cells;
  };
  if (!std::getline(in, line)) return rows;
  columns = split(line);
  auto col = [&](const char *name) {
    auto it = std::find(columns.begin(), columns.end(), name);
    return it == columns.end() ? -1 : static_cast<int>(it - columns.begin());
  };
  const int file_col = col("file"), pages_col = col("pages"), enc_col = col("encrypted");
  while (std::getline(in, line)) {
    std::vector<std::string> cells = split(line);
    if (file_col < 0 || file_col >= static_cast<int>(cells.size())) continue;
    manifest_row row;
    if (pages_col >= 0 && pages_col < static_cast<int>(cells.size())) row.pages = cells[pages_col];
    if (enc_col >= 0 && enc_col < static_cast<int>(cells.size()))
      row.encrypted = cells[enc_col] == "yes";
    rows[cells[file_col]] = row;
  }
  return rows;
}

struct corpus_file {
  fs::path path;
  manifest_row row;
  bool listed = false;
};

std::vector<corpus_file> corpus_files() {
  std::vector<corpus_file> files;
  std::string shared = shared_dir();
  if (shared.empty()) return files;
  for (const char *sub : {"real", "scans"}) {
    fs::path dir = fs::path(shared) / "corpus" / sub;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    auto manifest = read_manifest(dir / "manifest.tsv");
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
      if (entry.path().extension() != ".pdf") continue;
      corpus_file f;
      f.path = entry.path();
      auto it = manifest.find(f.path.filename().string());
      if (it != manifest.end()) f.row = it->second, f.listed = true;
      files.push_back(f);
    }
  }
  std::sort(files.begin(), files.end(),
            [](const corpus_file &a, const corpus_file &b) { return a.path < b.path; });
  return files;
}

// Reads every page's content and resources, so damaged streams reach those readers too.
void touch_pages(const pdf_doc &doc) {
  for (int32_t i = 0; i < doc.pages.count(); ++i) {
    const pdf_obj *page = obj_find(doc.objs, doc.pages.items[static_cast<size_t>(i)].num);
    ASSERT_NE(page, nullptr);
    buf content;
    get_page_content(doc.data.get(), doc.len, doc.objs, *page, content);
    c_ptr<uint8_t> res = pdfcore_page_resources(doc, i);
    if (res) {
      EXPECT_EQ(std::memcmp(res.get(), "<<", 2), 0);
    }
  }
}

int load_bytes(const std::string &bytes, const std::string &name, pdf_doc &doc) {
  c_ptr<uint8_t> copy(static_cast<uint8_t *>(std::malloc(bytes.size() + 1)));
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  return doc_load_bytes(std::move(copy), static_cast<int32_t>(bytes.size()), name.c_str(), doc);
}

TEST(CorpusLoad, PageCountsMatchTheManifest) {
  std::vector<corpus_file> files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus beside the checkout";
  std::vector<std::string> damaged_notes;
  for (const corpus_file &f : files) {
    const std::string name = f.path.filename().string();
    pdf_doc doc;
    const bool loaded = pdfcore_load(f.path.string().c_str(), doc) == 1;
    const std::string message = loaded ? "" : pdfcore_last_error();
    const std::string got = loaded ? std::to_string(doc.pages.count()) : "error: " + message;
    if (!loaded) {
      EXPECT_TRUE(is_load_message(message)) << name << ": " << message;
    }
    if (loaded) touch_pages(doc);

    if (f.row.encrypted) {
      EXPECT_EQ(message, "encrypted PDFs are not supported: " + f.path.string()) << name;
    } else if (name.rfind("damaged-", 0) == 0) {
      if (got != f.row.pages) damaged_notes.push_back(name + ": manifest " + f.row.pages + ", ours " + got);
    } else if (f.listed) {
      EXPECT_TRUE(loaded) << name << ": " << message;
      EXPECT_EQ(got, f.row.pages) << name;
    }
  }
  for (const std::string &note : damaged_notes) std::cout << "[ damaged  ] " << note << "\n";
}

TEST(CorpusLoad, DamagedCopiesLoadOrFailCleanly) {
  std::vector<corpus_file> files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus beside the checkout";
  std::mt19937 rng(20240611);
  int copies = 0, loaded = 0;
  for (const corpus_file &f : files) {
    const std::string original = read_file(f.path.string());
    if (original.size() < 16) continue;
    for (int variant = 0; variant < 3; ++variant) {
      std::string bytes = original;
      if (variant != 1) bytes.resize(1 + rng() % (bytes.size() - 1));
      if (variant != 0) {
        const size_t flips = 1 + rng() % 64;
        for (size_t i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<char>(rng());
      }
      const std::string name = f.path.filename().string() + "#" + std::to_string(variant);
      pdf_doc doc;
      ++copies;
      if (load_bytes(bytes, name, doc) == 0) {
        ++loaded;
        EXPECT_GT(doc.pages.count(), 0) << name;
        touch_pages(doc);
      } else {
        EXPECT_TRUE(is_load_message(pdfcore_last_error())) << name << ": " << pdfcore_last_error();
        EXPECT_EQ(doc.data, nullptr) << name;
      }
    }
  }
  std::cout << "[ damaged  ] " << loaded << " of " << copies << " damaged copies loaded\n";
}

}  // namespace
