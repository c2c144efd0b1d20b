// The scan rule beside the light rule over the scans folder: ms per page of render + light
// share at 48 dpi against render + scan judgement at the scan rule's resolution, the figures of
// every page, and a table per page kind. With --real it judges every page of the real folder
// instead and lists the pages the scan rule would call blank beside the manifest's facts.
//
//   scan_rule_bench [--quiet] [--runs N] [--dpi N] [--margin MM] [--speck MM2]
//                   [--contrast L] [--max-ink MM2] [--real]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/classify.h"
#include "engine/scan_rule.h"
#include "pdfcore/document.h"
#include "render/builtin_fonts.h"
#include "render/render.h"

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

namespace {

double now_ms() {
  return std::chrono::duration<double, std::milli>(clock_type::now().time_since_epoch()).count();
}

std::vector<std::map<std::string, std::string>> read_tsv(const fs::path &p) {
  std::vector<std::map<std::string, std::string>> rows;
  std::ifstream f(p);
  std::string line;
  std::vector<std::string> head;
  while (std::getline(f, line)) {
    std::vector<std::string> c;
    std::stringstream ss(line);
    std::string v;
    while (std::getline(ss, v, '\t')) c.push_back(v);
    if (head.empty()) {
      head = c;
      continue;
    }
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < head.size() && i < c.size(); ++i) row[head[i]] = c[i];
    rows.push_back(row);
  }
  return rows;
}

std::set<int> parse_list(const std::string &s) {
  std::set<int> out;
  std::string digits;
  for (char c : s + ",") {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (!digits.empty()) {
      out.insert(std::atoi(digits.c_str()));
      digits.clear();
    }
  }
  return out;
}

struct kind_row {
  int pages = 0, light_blank = 0, scan_blank = 0;
  std::vector<double> ink;
};

int run_real(const fs::path &dir, int dpi, const scan_params &sp) {
  int listed = 0, wrong = 0;
  for (auto &row : read_tsv(dir / "manifest.tsv")) {
    const std::string &file = row["file"];
    pdf_doc doc;
    if (doc_load((dir / file).c_str(), doc) != 0) continue;
    std::set<int> text = parse_list(row["text_pages"]);
    std::set<int> pix = parse_list(row["pixblank_poppler"]);
    for (int32_t i = 0; i < doc.pages.count(); ++i) {
      int w = 0, h = 0;
      c_ptr<uint8_t> px = lsf_render_page(doc, i, dpi, &w, &h);
      if (!px) continue;
      scan_figures f = scan_judge(px.get(), w, h, dpi, sp);
      if (!f.blank) continue;
      bool bad = text.count(i + 1) || !pix.count(i + 1);
      ++listed;
      wrong += bad;
      double light = 0;
      c_ptr<uint8_t> low = lsf_render_page(doc, i, k_classify_dpi, &w, &h);
      if (low) light = light_share(low.get(), static_cast<int64_t>(w) * h, 99);
      std::printf("%-36s %4d paper %5.1f ink %7.2f light %7.3f text %-3s pixblank %-3s %s\n",
                  file.c_str(), i + 1, f.paper, f.ink_mm2, light, text.count(i + 1) ? "yes" : "no",
                  pix.count(i + 1) ? "yes" : "no", bad ? "<- would be wrong" : "");
    }
  }
  std::printf("%d pages called blank, %d of them with text or not pixel-blank\n", listed, wrong);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 1, dpi = k_scan_dpi;
  bool quiet = false, real = false;
  scan_params sp;
  for (int i = 1; i < argc; ++i) {
    auto next = [&]() { return i + 1 < argc ? std::atof(argv[++i]) : 0.0; };
    if (!std::strcmp(argv[i], "--quiet")) quiet = true;
    else if (!std::strcmp(argv[i], "--real")) real = true;
    else if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, static_cast<int>(next()));
    else if (!std::strcmp(argv[i], "--dpi")) dpi = static_cast<int>(next());
    else if (!std::strcmp(argv[i], "--margin")) sp.margin_mm = next();
    else if (!std::strcmp(argv[i], "--speck")) sp.speck_mm2 = next();
    else if (!std::strcmp(argv[i], "--contrast")) sp.contrast = next();
    else if (!std::strcmp(argv[i], "--max-ink")) sp.max_ink_mm2 = next();
  }
  lsf_load_fonts();
  fs::path shared = LEAFSIFT_SHARED_DIR;
  if (real) return run_real(shared / "corpus" / "real", dpi, sp);
  fs::path dir = shared / "corpus" / "scans";
  if (!fs::exists(dir / "pages.tsv")) {
    std::printf("no scans folder at %s, nothing to measure\n", dir.c_str());
    return 0;
  }
  std::vector<std::map<std::string, std::string>> rows = read_tsv(dir / "pages.tsv");
  std::map<std::string, kind_row> kinds;
  double light_ms = 0, scan_ms = 0;
  int timed = 0;
  std::string loaded;
  pdf_doc doc;
  if (!quiet)
    std::printf("%-30s %4s %-7s %-14s %6s %8s %5s %7s %s\n", "file", "page", "role", "kind",
                "paper", "ink_mm2", "marks", "light%", "verdict");
  for (auto &row : rows) {
    const std::string &file = row["file"];
    if (file != loaded) {
      doc = pdf_doc{};
      if (doc_load((dir / file).c_str(), doc) != 0) continue;
      loaded = file;
    }
    int32_t index = std::atoi(row["page"].c_str()) - 1;
    if (index < 0 || index >= doc.pages.count()) continue;
    double best_light = 1e18, best_scan = 1e18, light = 0;
    scan_figures f;
    for (int r = 0; r < runs; ++r) {
      int w = 0, h = 0;
      double t0 = now_ms();
      c_ptr<uint8_t> a = lsf_render_page(doc, index, k_classify_dpi, &w, &h);
      if (a) light = light_share(a.get(), static_cast<int64_t>(w) * h, 99);
      double t1 = now_ms();
      c_ptr<uint8_t> b = lsf_render_page(doc, index, dpi, &w, &h);
      if (b) f = scan_judge(b.get(), w, h, dpi, sp);
      double t2 = now_ms();
      best_light = std::min(best_light, t1 - t0);
      best_scan = std::min(best_scan, t2 - t1);
    }
    light_ms += best_light;
    scan_ms += best_scan;
    ++timed;
    std::string key = row["role"] + " " + row["kind"];
    kind_row &k = kinds[key];
    ++k.pages;
    k.light_blank += light >= 99.0;
    k.scan_blank += f.blank;
    k.ink.push_back(f.ink_mm2);
    if (!quiet)
      std::printf("%-30s %4d %-7s %-14s %6.1f %8.2f %5d %7.3f %s\n", file.c_str(), index + 1,
                  row["role"].c_str(), row["kind"].c_str(), f.paper, f.ink_mm2, f.marks, light,
                  f.blank ? "blank" : "kept");
  }
  std::printf("\n%-22s %5s %11s %10s %9s %9s %9s\n", "role kind", "pages", "light-blank",
              "scan-blank", "ink-min", "ink-med", "ink-max");
  for (auto &[key, k] : kinds) {
    std::sort(k.ink.begin(), k.ink.end());
    std::printf("%-22s %5d %11d %10d %9.2f %9.2f %9.2f\n", key.c_str(), k.pages, k.light_blank,
                k.scan_blank, k.ink.front(), k.ink[k.ink.size() / 2], k.ink.back());
  }
  if (timed > 0)
    std::printf("\n%d pages: render %d dpi + light share %.2f ms/page, render %d dpi + scan "
                "judgement %.2f ms/page, ratio %.2f\n",
                timed, k_classify_dpi, light_ms / timed, dpi, scan_ms / timed,
                light_ms > 0 ? scan_ms / light_ms : 0.0);
  return 0;
}
