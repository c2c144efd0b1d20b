// Remove over the shared corpus, checked by independent readers: every output passes qpdf's
// check, has the page count the statistics give, and each kept page renders to the pixels of
// the input page it came from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "emit/emit_support.h"
#include "leafsift.h"
#include "pdfcore/lex.h"

using namespace emit_test;
namespace fs = std::filesystem;

namespace {

// Pages compared per file: enough to meet every kind of page the corpus holds, few enough to
// keep the run short under sanitizers.
constexpr int k_pages_compared = 10;

long member(const std::string &json, const std::string &key) {
  size_t at = json.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::atol(json.c_str() + at + key.size() + 3);
}

std::vector<int> removed_list(const std::string &json) {
  std::vector<int> out;
  size_t at = json.find("\"removed\":[");
  if (at == std::string::npos) return out;
  for (const char *p = json.c_str() + at + 11; *p && *p != ']';) {
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

// Width and height of each page's crop box as a viewer shows it (turned by /Rotate), keyed
// by page number, as pdfinfo reports them.
std::map<int, std::pair<double, double>> shown_sizes(const std::string &path, int first, int last) {
  std::string out;
  run_command("pdfinfo -box -f " + std::to_string(first) + " -l " + std::to_string(last) + " '" +
                  path + "' 2>/dev/null",
              &out);
  std::map<int, int> rot;
  std::map<int, std::pair<double, double>> sizes;
  size_t at = 0;
  while ((at = out.find("Page ", at)) != std::string::npos) {
    int page = 0, r = 0;
    double x0, y0, x1, y1;
    if (std::sscanf(out.c_str() + at, "Page %d rot: %d", &page, &r) == 2) rot[page] = r;
    if (std::sscanf(out.c_str() + at, "Page %d CropBox: %lf %lf %lf %lf", &page, &x0, &y0, &x1,
                    &y1) == 5) {
      bool sideways = rot[page] % 180 != 0;
      sizes[page] = sideways ? std::make_pair(y1 - y0, x1 - x0) : std::make_pair(x1 - x0, y1 - y0);
    }
    at += 5;
  }
  return sizes;
}

// True when the page has an annotation that a viewer may show although it has no appearance
// stream of its own (viewers make one up for text notes, highlights, ink). The writer carries
// appearances only, so such a page is compared with the input rendered without annotations.
bool has_made_up_appearances(const pdf_doc &doc, int index) {
  const pdf_obj *page = obj_find(doc.objs, doc.pages.items[static_cast<size_t>(index)].num);
  const uint8_t *t;
  int32_t n;
  if (!page || !obj_dict_text(doc.data.get(), doc.len, *page, &t, &n)) return false;
  int32_t k = find_name_top(t, n, 0, n, "Annots");
  if (k < 0) return false;
  int32_t p = skip_ws(t, k + 7, n);
  if (p < n && is_digit(t[p])) {
    const pdf_obj *array = obj_find(doc.objs, parse_int_at(t, n, &p));
    if (!array || !obj_value_text(doc.data.get(), doc.len, *array, &t, &n)) return false;
    p = skip_ws(t, 0, n);
  }
  if (p >= n || t[p] != '[') return false;
  for (++p; p < n && t[p] != ']'; ++p) {
    if (!is_digit(t[p])) continue;
    const pdf_obj *a = obj_find(doc.objs, parse_int_at(t, n, &p));
    p = skip_ws(t, p, n);
    if (p < n && is_digit(t[p])) parse_int_at(t, n, &p);
    const uint8_t *at;
    int32_t an;
    if (!a || !obj_dict_text(doc.data.get(), doc.len, *a, &at, &an)) continue;
    if (find_name(at, an, 0, an, "AP") < 0 && find_name(at, an, 0, an, "Link") < 0 &&
        find_name(at, an, 0, an, "Popup") < 0)
      return true;
  }
  return false;
}

std::vector<fs::path> corpus_files(const std::string &shared) {
  std::vector<fs::path> files;
  for (const char *folder : {"real", "scans"}) {
    fs::path dir = fs::path(shared) / "corpus" / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto &entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".pdf") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(CorpusRemove, OutputsReadCleanAndLookLikeTheirInputs) {
  std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "no ../shared/corpus beside the checkout";
  if (!have("qpdf") || !have("pdftoppm")) GTEST_SKIP() << "qpdf or pdftoppm not installed";
  leafsift_init();
  int written = 0;
  for (const fs::path &in : corpus_files(shared)) {
    SCOPED_TRACE(in.filename().string());
    std::string out = scratch_dir() + "/" + in.filename().string();
    if (!leafsift_remove(in.c_str(), out.c_str(), 99)) {
      const std::string why = leafsift_last_error();
      EXPECT_NE(why, "");
      EXPECT_FALSE(fs::exists(out));
      // Refusals the corpus is known to hold; anything else is a writer fault to look at.
      EXPECT_TRUE(why.find("encrypted PDFs are not supported") != std::string::npos ||
                  in.filename().string().rfind("damaged-", 0) == 0)
          << why;
      continue;
    }
    ++written;
    const std::string stats = leafsift_stats();
    const long before = member(stats, "before"), after = member(stats, "after");
    const std::vector<int> removed = removed_list(stats);
    ASSERT_GE(before, 1) << stats;

    EXPECT_EQ(qpdf_problems(out), "");
    EXPECT_EQ(qpdf_pages(out), std::max(after, 1L)) << stats;

    std::vector<int> kept;
    for (int p = 1; p <= before; ++p)
      if (std::find(removed.begin(), removed.end(), p) == removed.end()) kept.push_back(p);
    if (kept.empty()) kept.push_back(1);
    if (kept.size() > static_cast<size_t>(k_pages_compared)) kept.resize(k_pages_compared);

    const int first = kept.front(), last = kept.back(), n = static_cast<int>(kept.size());
    auto got = render(out, 1, n);
    std::map<int, image> want;
    for (size_t i = 0; i < kept.size();) {
      size_t j = i;
      while (j + 1 < kept.size() && kept[j + 1] == kept[j] + 1) ++j;
      for (auto &[page, img] : render(in.string(), kept[i], kept[j])) want[page] = std::move(img);
      i = j + 1;
    }
    auto in_sizes = shown_sizes(in.string(), first, last), out_sizes = shown_sizes(out, 1, n);
    pdf_doc doc;
    ASSERT_EQ(pdfcore_load(in.c_str(), doc), 1);
    for (size_t k = 0; k < kept.size(); ++k) {
      const int p = kept[k], q = static_cast<int>(k) + 1;
      SCOPED_TRACE("input page " + std::to_string(p) + ", output page " + std::to_string(q));
      ASSERT_TRUE(want.count(p)) << "input page did not render";
      ASSERT_TRUE(got.count(q)) << "output page did not render";
      // A box read differently from the input moves every pixel; say so rather than count them.
      const auto [iw, ih] = in_sizes[p];
      const auto [ow, oh] = out_sizes[q];
      if (std::abs(iw - ow) > 0.01 || std::abs(ih - oh) > 0.01) {
        ADD_FAILURE() << "page box " << iw << " x " << ih << " became " << ow << " x " << oh;
        continue;
      }
      EXPECT_EQ(want[p].w, got[q].w);
      EXPECT_EQ(want[p].h, got[q].h);
      double differ = differing_share(want[p], got[q]);
      if (differ > 0.5 && has_made_up_appearances(doc, p - 1)) {
        auto bare = render(in.string(), p, p, "-hide-annotations");
        if (bare.count(p)) differ = differing_share(bare[p], got[q]);
      }
      EXPECT_LE(differ, 0.5);
    }
  }
  EXPECT_GT(written, 0);
}

}  // namespace
