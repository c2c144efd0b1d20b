// Text drawing speed: a generated US Letter page of 4,000 glyphs (50 lines of 80 characters)
// in a built-in font, rendered at 48 dpi through the renderer itself (the text test, which
// would settle the page's verdict without drawing, is not involved), in ms per page, beside
// `pdftoppm -r 48` on the same page.
//
//   text_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "render/builtin_fonts.h"
#include "render/render.h"

using clock_type = std::chrono::steady_clock;

namespace {

std::string text_page(const char *base_font) {
  const char *words[] = {"blank", "page", "scanner", "duplex", "separator", "sheet", "ink",
                         "paper", "Quixotic", "wizards", "jump", "vex", "42", "A4,"};
  std::string content;
  unsigned seed = 7;
  for (int line = 0; line < 50; line++) {
    std::string s;
    while (s.size() < 80) {
      seed = seed * 1103515245u + 12345u;
      s += words[(seed >> 8) % 14];
      s += ' ';
    }
    s.resize(80);
    content += "BT /F1 9 Tf 36 " + std::to_string(750 - line * 14) + " Td (" + s + ") Tj ET\n";
  }
  std::string out = "%PDF-1.4\n";
  out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
  out += "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
  out += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
         "/Resources << /Font << /F1 5 0 R >> >> >>\nendobj\n";
  out += "4 0 obj\n<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream\nendobj\n";
  out += "5 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /" + std::string(base_font) +
         " >>\nendobj\n";
  out += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
  return out;
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
  std::string path = "/tmp/leafsift-text-bench.pdf";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  std::fwrite(pdf.data(), 1, pdf.size(), f);
  std::fclose(f);
  std::string cmd = "pdftoppm -r 48 " + path + " /tmp/leafsift-text-bench >/dev/null 2>&1";
  double best = 1e9;
  for (int r = 0; r < runs; r++) {
    auto t0 = clock_type::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
  }
  std::remove(path.c_str());
  std::system("rm -f /tmp/leafsift-text-bench*.ppm");
  return best;
}

}  // namespace

int main() {
  lsf_load_fonts();
  std::printf("%-32s %10s %14s\n", "page of 4,000 glyphs", "ms/page", "pdftoppm ms");
  for (const char *font : {"Helvetica", "Times-Roman", "Courier"}) {
    std::string pdf = text_page(font);
    std::printf("%-32s %10.2f %14.1f\n", font, time_render(pdf, 5), time_peer(pdf, 3));
  }
  lsf_free_fonts();
  return 0;
}
