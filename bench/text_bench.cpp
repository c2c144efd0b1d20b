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
#include "page_timing.h"
#include "render/render.h"

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

}  // namespace

int main() {
  lsf_load_fonts();
  std::printf("%-32s %10s %14s\n", "page of 4,000 glyphs", "ms/page", "pdftoppm ms");
  for (const char *font : {"Helvetica", "Times-Roman", "Courier"}) {
    std::string pdf = text_page(font);
    std::printf("%-32s %10.2f %14.1f\n", font, page_timing::time_render(pdf, 5),
                page_timing::time_peer(pdf, 3, "text-bench"));
  }
  lsf_free_fonts();
  return 0;
}
