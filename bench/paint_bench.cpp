// Vector painting speed: pages rendered at 48 dpi through the whole renderer, in ms per page.
// One page holds one long path of 200,000 segments (filled, stroked, and as curves), one holds
// 10,000 separately filled rectangles.
//
//   paint_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "render/render.h"

using clock_type = std::chrono::steady_clock;

namespace {

// A one-page document, US Letter, with the content written plainly.
std::string one_page(const std::string &content) {
  std::string out = "%PDF-1.4\n";
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  out += "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
  out += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>\n"
         "endobj\n";
  out += "4 0 obj\n<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream\nendobj\n";
  out += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return out;
}

unsigned s_seed = 12345;
int next_int(int n) {
  s_seed = s_seed * 1103515245u + 12345u;
  return static_cast<int>((s_seed >> 8) % static_cast<unsigned>(n));
}

std::string long_path(int segments, const char *op, bool curves) {
  std::string s = "0.2 0.3 0.4 rg 0.5 g 300 400 m";
  s.reserve(static_cast<size_t>(segments) * 24);
  for (int i = 0; i < segments; i++) {
    if (curves) {
      s += " " + std::to_string(next_int(612)) + " " + std::to_string(next_int(792)) + " " +
           std::to_string(next_int(612)) + " " + std::to_string(next_int(792));
      s += " " + std::to_string(next_int(612)) + " " + std::to_string(next_int(792)) + " c";
    } else {
      s += " " + std::to_string(next_int(612)) + " " + std::to_string(next_int(792)) + " l";
    }
  }
  return s + " " + op;
}

std::string rectangles(int count) {
  std::string s;
  for (int i = 0; i < count; i++)
    s += std::to_string(next_int(10) / 10.0) + " g " + std::to_string(next_int(560)) + " " +
         std::to_string(next_int(740)) + " " + std::to_string(5 + next_int(50)) + " " +
         std::to_string(5 + next_int(50)) + " re f\n";
  return s;
}

// Best of `runs` renders of the page, in ms.
double time_render(const std::string &pdf, int runs) {
  c_ptr<uint8_t> copy(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(copy.get(), pdf.data(), pdf.size());
  pdf_doc doc;
  if (doc_load_bytes(std::move(copy), static_cast<int32_t>(pdf.size()), "bench", doc) != 0)
    return -1;
  double best = 1e9;
  for (int r = 0; r < runs; r++) {
    int w = 0, h = 0;
    auto t0 = clock_type::now();
    c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
    double ms = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
    if (!px) return -1;
    best = std::min(best, ms);
  }
  return best;
}

// Best of `runs` runs of `pdftoppm -r 48` on the same page, in ms (process start included),
// or -1 when poppler-utils is not installed.
double time_peer(const std::string &pdf, int runs) {
  if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) return -1;
  std::string path = "/tmp/leafsift-paint-bench.pdf";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  std::fwrite(pdf.data(), 1, pdf.size(), f);
  std::fclose(f);
  std::string cmd = "pdftoppm -r 48 " + path + " /tmp/leafsift-paint-bench >/dev/null 2>&1";
  double best = 1e9;
  for (int r = 0; r < runs; r++) {
    auto t0 = clock_type::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
  }
  std::remove(path.c_str());
  return best;
}

}  // namespace

int main() {
  struct {
    const char *name;
    std::string content;
  } pages[] = {
      {"200,000 lines, one path, f", long_path(200000, "f", false)},
      {"200,000 lines, one path, f*", long_path(200000, "f*", false)},
      {"200,000 lines, one path, S", long_path(200000, "S", false)},
      {"20,000 curves (320,000 chords), f", long_path(20000, "f", true)},
      {"10,000 filled rectangles", rectangles(10000)},
  };
  std::printf("%-40s %10s %10s %14s\n", "page", "bytes", "ms/page", "pdftoppm ms");
  for (const auto &p : pages) {
    std::string pdf = one_page(p.content);
    std::printf("%-40s %10zu %10.1f %14.1f\n", p.name, pdf.size(), time_render(pdf, 3),
                time_peer(pdf, 3));
  }
  return 0;
}
