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
#include "page_timing.h"
#include "render/render.h"

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
    std::printf("%-40s %10zu %10.1f %14.1f\n", p.name, pdf.size(),
                page_timing::time_render(pdf, 3), page_timing::time_peer(pdf, 3, "paint-bench"));
  }
  return 0;
}
