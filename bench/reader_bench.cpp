// Load speed of the document reader: every corpus file, the whole corpus in MB/s, how load
// time grows with file size, and a hostile file of object heads without ends.
//
//   reader_bench [CORPUS_DIR...]     (default: the shared corpus beside the checkout)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pdfcore/document.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

std::string slurp(const fs::path &p) {
  std::string s;
  FILE *f = std::fopen(p.c_str(), "rb");
  if (!f) return s;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) s.append(chunk, n);
  std::fclose(f);
  return s;
}

// Best of `runs` loads from memory, in seconds; *pages receives the page count (-1 on failure).
double time_load(const std::string &bytes, int runs, int *pages) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    c_ptr<uint8_t> copy(static_cast<uint8_t *>(std::malloc(bytes.size() ? bytes.size() : 1)));
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    pdf_doc doc;
    auto t0 = clock_type::now();
    int ok = doc_load_bytes(std::move(copy), static_cast<int32_t>(bytes.size()), "bench", doc);
    double s = std::chrono::duration<double>(clock_type::now() - t0).count();
    *pages = ok == 0 ? doc.pages.count() : -1;
    best = std::min(best, s);
  }
  return best;
}

// A document of `copies` pages, each page with a content stream and a font dictionary, all
// objects written plainly (no object streams).
std::string synthetic(int copies) {
  std::string out = "%PDF-1.4\n";
  std::string kids;
  for (int i = 0; i < copies; ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  out += "2 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(copies) +
         " >>\nendobj\n";
  std::string content;
  for (int k = 0; k < 200; ++k) content += "BT /F1 12 Tf 72 " + std::to_string(700 - k) + " Td (line of text) Tj ET\n";
  for (int i = 0; i < copies; ++i) {
    int p = 3 + 3 * i;
    out += std::to_string(p) + " 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
           std::to_string(p + 1) + " 0 R /Resources << /Font << /F1 " + std::to_string(p + 2) +
           " 0 R >> >> >>\nendobj\n";
    out += std::to_string(p + 1) + " 0 obj\n<< /Length " + std::to_string(content.size()) +
           " >>\nstream\n" + content + "\nendstream\nendobj\n";
    out += std::to_string(p + 2) + " 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n";
  }
  out += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<fs::path> dirs;
  for (int i = 1; i < argc; ++i) dirs.emplace_back(argv[i]);
  if (dirs.empty()) {
    fs::path shared = LEAFSIFT_SHARED_DIR;
    dirs = {shared / "corpus" / "real", shared / "corpus" / "scans"};
  }
  double total_bytes = 0, total_time = 0;
  std::printf("%-48s %10s %6s %10s %9s\n", "file", "bytes", "pages", "ms", "MB/s");
  for (const auto &dir : dirs) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(dir, ec))
      if (e.path().extension() == ".pdf") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto &f : files) {
      std::string bytes = slurp(f);
      int pages = 0;
      double s = time_load(bytes, 5, &pages);
      total_bytes += static_cast<double>(bytes.size());
      total_time += s;
      std::printf("%-48s %10zu %6d %10.3f %9.1f\n", f.filename().c_str(), bytes.size(), pages,
                  s * 1e3, static_cast<double>(bytes.size()) / s / 1e6);
    }
  }
  if (total_time > 0)
    std::printf("corpus: %.1f MB in %.1f ms, %.1f MB/s\n", total_bytes / 1e6, total_time * 1e3,
                total_bytes / total_time / 1e6);

  // Linearity: ten times the objects should take about ten times as long.
  int pages = 0;
  // Both sizes exceed the caches, so the ratio shows the algorithm rather than the memory.
  std::string one = synthetic(2000), ten = synthetic(20000);
  double t1 = time_load(one, 5, &pages), t10 = time_load(ten, 3, &pages);
  std::printf("synthetic plain file: %.1f MB at %.1f MB/s; x10 objects: %.1f MB at %.1f MB/s, "
              "time ratio %.2f (linear: 10)\n",
              one.size() / 1e6, one.size() / t1 / 1e6, ten.size() / 1e6, ten.size() / t10 / 1e6,
              t10 / t1);

  // A hostile file: 10 MB of object heads whose dictionaries and objects never end.
  std::string hostile;
  while (hostile.size() < 10u << 20) hostile += "1 0 obj <\n";
  double th = time_load(hostile, 1, &pages);
  std::printf("hostile 10 MB of \"1 0 obj <\": %.1f ms\n", th * 1e3);
  return 0;
}
