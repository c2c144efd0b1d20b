// Detect speed over the corpus folders under both blank rules, beside `pdftoppm -r 48`
// rendering the same pages: milliseconds per page of each and their ratios, per folder and for
// the documents whose every page shows text (those are never rendered by the detector).
//
//   detect_bench [--runs N] [FOLDER...]   (default: the shared corpus's real and scans folders)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "leafsift.h"
#include "pdfcore/document.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

double now_s() {
  return std::chrono::duration<double>(clock_type::now().time_since_epoch()).count();
}

int page_count(const fs::path &f) {
  pdf_doc doc;
  return pdfcore_load(f.c_str(), doc) ? doc.pages.count() : 0;
}

// Files whose manifest lists every page under text_pages.
std::vector<std::string> all_text_files(const fs::path &dir) {
  std::vector<std::string> out;
  std::ifstream m(dir / "manifest.tsv");
  std::string line;
  int pages_col = -1, text_col = -1;
  bool head = true;
  while (std::getline(m, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) cols.push_back(c);
    if (head) {
      for (size_t i = 0; i < cols.size(); ++i) {
        if (cols[i] == "pages") pages_col = static_cast<int>(i);
        if (cols[i] == "text_pages") text_col = static_cast<int>(i);
      }
      head = false;
      continue;
    }
    if (pages_col < 0 || text_col < 0 || static_cast<int>(cols.size()) <= text_col) continue;
    int pages = std::atoi(cols[static_cast<size_t>(pages_col)].c_str());
    const std::string &t = cols[static_cast<size_t>(text_col)];
    int listed = t.size() > 2 ? 1 + static_cast<int>(std::count(t.begin(), t.end(), ',')) : 0;
    if (pages > 0 && listed == pages) out.push_back(cols[0]);
  }
  return out;
}

struct timing {
  int pages = 0;
  double ours = 0, scan = 0, peer = 0;  // the light rule, the scan rule, the peer
};

timing measure(const std::vector<fs::path> &files, int runs, const fs::path &scratch) {
  timing t;
  for (const auto &f : files) {
    int pages = page_count(f);
    if (pages <= 0) continue;
    double best_ours = 1e9, best_scan = 1e9, best_peer = 1e9;
    for (int r = 0; r < runs; ++r) {
      double t0 = now_s();
      leafsift_detect(f.c_str(), 99);
      best_ours = std::min(best_ours, now_s() - t0);
      t0 = now_s();
      leafsift_detect_ex(f.c_str(), "{\"rule\":\"scan\"}");
      best_scan = std::min(best_scan, now_s() - t0);
      std::string cmd = "pdftoppm -r 48 '" + f.string() + "' '" + (scratch / "p").string() +
                        "' >/dev/null 2>&1";
      t0 = now_s();
      if (std::system(cmd.c_str()) != 0) {}
      best_peer = std::min(best_peer, now_s() - t0);
    }
    t.pages += pages;
    t.ours += best_ours;
    t.scan += best_scan;
    t.peer += best_peer;
  }
  return t;
}

void report(const char *label, const timing &t) {
  if (t.pages == 0 || t.ours <= 0) return;
  std::printf("%-28s %6d pages  light rule %7.2f ms/page  scan rule %7.2f ms/page (%.2fx)  "
              "pdftoppm -r 48 %7.2f ms/page  light rule %5.1fx faster\n",
              label, t.pages, 1000 * t.ours / t.pages, 1000 * t.scan / t.pages, t.scan / t.ours,
              1000 * t.peer / t.pages, t.peer / t.ours);
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 3;
  std::vector<fs::path> dirs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
    else dirs.emplace_back(argv[i]);
  }
  if (dirs.empty()) {
    fs::path shared = LEAFSIFT_SHARED_DIR;
    dirs = {shared / "corpus" / "real", shared / "corpus" / "scans"};
  }
  if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "pdftoppm (poppler-utils) is needed as the peer\n");
    return 1;
  }
  fs::path scratch = fs::temp_directory_path() / "leafsift-detect-bench";
  fs::create_directories(scratch);
  leafsift_init();
  for (const auto &dir : dirs) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec))
      if (e.path().extension() == ".pdf") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    report(dir.filename().c_str(), measure(files, runs, scratch));
    std::vector<fs::path> text;
    for (const auto &name : all_text_files(dir)) text.push_back(dir / name);
    if (!text.empty()) {
      std::string label = dir.filename().string() + " (all pages text)";
      report(label.c_str(), measure(text, runs, scratch));
    }
  }
  leafsift_cleanup();
  fs::remove_all(scratch);
  return 0;
}
