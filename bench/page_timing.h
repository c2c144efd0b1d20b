// Timing one generated page: the best of several renders through the renderer itself, and the
// best of several runs of `pdftoppm -r 48` on the same bytes. Shared by the page benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "render/render.h"

namespace page_timing {

using clock_type = std::chrono::steady_clock;

// Best of `runs` renders of page 1 at 48 dpi, in ms; -1 when the page does not load or render.
inline double time_render(const std::string &pdf, int runs) {
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
// or -1 when poppler-utils is not installed. `tag` names the scratch files under /tmp.
inline double time_peer(const std::string &pdf, int runs, const std::string &tag) {
  if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) return -1;
  const std::string base = "/tmp/leafsift-" + tag, path = base + ".pdf";
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  std::fwrite(pdf.data(), 1, pdf.size(), f);
  std::fclose(f);
  const std::string cmd = "pdftoppm -r 48 " + path + " " + base + " >/dev/null 2>&1";
  double best = 1e9;
  for (int r = 0; r < runs; r++) {
    auto t0 = clock_type::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
  }
  std::remove(path.c_str());
  std::system(("rm -f " + base + "*.ppm").c_str());
  return best;
}

}  // namespace page_timing
