// Remove throughput over the corpus: the whole remove call (load, classify, write), the writer
// alone on a loaded document, and qpdf copying the same kept pages, side by side in pages per
// second and MB written per second.
//
//   remove_bench [CORPUS_DIR...]     (default: the shared corpus beside the checkout)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "emit/writer.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr int k_runs = 3;

double seconds_since(clock_type::time_point t0) {
  return std::chrono::duration<double>(clock_type::now() - t0).count();
}

uint64_t file_size(const std::string &p) {
  std::error_code ec;
  auto n = fs::file_size(p, ec);
  return ec ? 0 : n;
}

// The page list of the stats text, as 1-based numbers.
std::vector<int> removed_pages(const char *stats) {
  std::vector<int> out;
  const char *p = std::strstr(stats, "\"removed\":[");
  if (!p) return out;
  for (p += 11; *p && *p != ']';) {
    char *end;
    long v = std::strtol(p, &end, 10);
    if (end == p) {
      ++p;
      continue;
    }
    out.push_back(static_cast<int>(v));
    p = end;
  }
  return out;
}

// "1-3,5,7-9" for qpdf's page selection.
std::string ranges(const std::vector<int> &pages) {
  std::string s;
  for (size_t i = 0; i < pages.size();) {
    size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    if (!s.empty()) s += ",";
    s += std::to_string(pages[i]);
    if (j > i) s += "-" + std::to_string(pages[j]);
    i = j + 1;
  }
  return s;
}

struct totals {
  double seconds = 0;
  uint64_t bytes = 0;
  long pages = 0;
  void add(double s, uint64_t b, long p) {
    seconds += s;
    bytes += b;
    pages += p;
  }
  double pps() const { return seconds > 0 ? pages / seconds : 0; }
  double mbps() const { return seconds > 0 ? bytes / 1e6 / seconds : 0; }
};

}  // namespace

int main(int argc, char **argv) {
  std::vector<fs::path> dirs;
  for (int i = 1; i < argc; ++i) dirs.emplace_back(argv[i]);
  if (dirs.empty()) {
    fs::path corpus = fs::path(LEAFSIFT_SHARED_DIR) / "corpus";
    dirs = {corpus / "real", corpus / "scans"};
  }
  std::vector<fs::path> files;
  for (const fs::path &d : dirs) {
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(d, ec))
      if (e.path().extension() == ".pdf") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no PDF files found\n");
    return 1;
  }
  const bool have_qpdf = std::system("command -v qpdf >/dev/null 2>&1") == 0;
  char tmpl[] = "/tmp/remove-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string out = std::string(tmpl) + "/out.pdf", peer = std::string(tmpl) + "/qpdf.pdf";

  leafsift_init();
  std::printf("best of %d runs; pages = pages written; MB = output bytes\n", k_runs);
  std::printf("%-32s %5s %5s | %9s %8s | %9s %8s | %9s %8s\n", "file", "in", "kept", "remove/s",
              "MB/s", "writer/s", "MB/s", "qpdf/s", "MB/s");
  totals all_remove, all_writer, all_qpdf;
  for (const fs::path &f : files) {
    double remove_s = 1e9;
    bool ok = true;
    for (int r = 0; r < k_runs && ok; ++r) {
      auto t0 = clock_type::now();
      ok = leafsift_remove(f.c_str(), out.c_str(), 99) == 1;
      remove_s = std::min(remove_s, seconds_since(t0));
    }
    if (!ok) {
      std::printf("%-32s refused: %s\n", f.filename().c_str(), leafsift_last_error());
      continue;
    }
    const std::vector<int> removed = removed_pages(leafsift_stats());
    const uint64_t out_bytes = file_size(out);

    pdf_doc doc;
    if (!pdfcore_load(f.c_str(), doc)) continue;
    const int32_t n = doc.pages.count();
    std::vector<int32_t> blank;
    std::vector<int> kept;
    for (int p = 1; p <= n; ++p) {
      if (std::find(removed.begin(), removed.end(), p) != removed.end())
        blank.push_back(p - 1);
      else
        kept.push_back(p);
    }
    if (kept.empty()) kept.push_back(1);
    double writer_s = 1e9;
    for (int r = 0; r < k_runs; ++r) {
      auto t0 = clock_type::now();
      lsf_emit_blank_removal(doc, blank.data(), static_cast<int32_t>(blank.size()),
                             n - static_cast<int32_t>(blank.size()), out.c_str());
      writer_s = std::min(writer_s, seconds_since(t0));
    }

    double qpdf_s = 0;
    uint64_t qpdf_bytes = 0;
    if (have_qpdf) {
      const std::string cmd = "qpdf --empty --pages '" + f.string() + "' " + ranges(kept) +
                              " -- '" + peer + "' >/dev/null 2>&1";
      qpdf_s = 1e9;
      for (int r = 0; r < k_runs; ++r) {
        auto t0 = clock_type::now();
        int rc = std::system(cmd.c_str());
        qpdf_s = std::min(qpdf_s, seconds_since(t0));
        if (rc != 0 && rc != 3 << 8) qpdf_s = 0;  // 3: warnings, output still written
      }
      qpdf_bytes = file_size(peer);
    }

    const long k = static_cast<long>(kept.size());
    all_remove.add(remove_s, out_bytes, k);
    all_writer.add(writer_s, out_bytes, k);
    if (qpdf_s > 0) all_qpdf.add(qpdf_s, qpdf_bytes, k);
    std::printf("%-32s %5d %5ld | %9.0f %8.1f | %9.0f %8.1f | %9.0f %8.1f\n", f.filename().c_str(),
                n, k, k / remove_s, out_bytes / 1e6 / remove_s, k / writer_s,
                out_bytes / 1e6 / writer_s, qpdf_s > 0 ? k / qpdf_s : 0.0,
                qpdf_s > 0 ? qpdf_bytes / 1e6 / qpdf_s : 0.0);
  }
  std::printf("%-32s %5s %5ld | %9.0f %8.1f | %9.0f %8.1f | %9.0f %8.1f\n", "all", "",
              all_remove.pages, all_remove.pps(), all_remove.mbps(), all_writer.pps(),
              all_writer.mbps(), all_qpdf.pps(), all_qpdf.mbps());
  std::printf("written in all: %.1f MB by the writer (content uncompressed), %.1f MB by qpdf\n",
              all_writer.bytes / 1e6, all_qpdf.bytes / 1e6);
  std::error_code ec;
  fs::remove_all(tmpl, ec);
  leafsift_cleanup();
  return 0;
}
