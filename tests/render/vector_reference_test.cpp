// Vector drawings land where an independent renderer puts them: every ink pixel of poppler's
// 48-dpi render has an ink pixel of ours within one pixel, and the other way round.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/render.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

struct image {
  int w = 0, h = 0;
  std::vector<uint8_t> ink;  // 1 where the darkest channel is below half
};

image from_rgba(const uint8_t *px, int w, int h, int stride) {
  image im{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h)};
  for (int i = 0; i < w * h; ++i) {
    const uint8_t *p = px + static_cast<size_t>(i) * stride;
    uint8_t m = std::min(p[0], std::min(p[1], p[2]));
    im.ink[static_cast<size_t>(i)] = m < 128;
  }
  return im;
}

bool read_ppm(const std::string &path, image *out) {
  std::string bytes = read_file(path);
  std::istringstream head(bytes);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  head >> magic >> w >> h >> maxval;
  if (magic != "P6" || w <= 0 || h <= 0) return false;
  size_t start = static_cast<size_t>(head.tellg()) + 1;
  if (bytes.size() < start + static_cast<size_t>(w) * h * 3) return false;
  *out = from_rgba(reinterpret_cast<const uint8_t *>(bytes.data()) + start, w, h, 3);
  return true;
}

// Ink pixels of a that have no ink pixel of b within one pixel.
int unmatched(const image &a, const image &b) {
  int missing = 0;
  for (int y = 0; y < a.h; ++y)
    for (int x = 0; x < a.w; ++x) {
      if (!a.ink[static_cast<size_t>(y) * a.w + x]) continue;
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy)
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          int yy = y + dy, xx = x + dx;
          found = yy >= 0 && xx >= 0 && yy < b.h && xx < b.w &&
                  b.ink[static_cast<size_t>(yy) * b.w + xx];
        }
      missing += !found;
    }
  return missing;
}

TEST(VectorReference, InkStandsWherePopplerPutsIt) {
  if (run_command("command -v pdftoppm >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
  // Strokes end in discs here, where poppler draws the format's default butt caps: a wide
  // stroke may show a pixel of cap beyond the reference at each open end, and nowhere else.
  struct {
    const char *what;
    std::string content;
    std::string extra;
    int cap_pixels;
  } pages[] = {
      {"filled boxes", "0 0 0 rg 72 72 144 72 re f 0.2 0.2 0.2 rg 300 500 100 200 re f", "", 0},
      {"stroked rules", "0 0 0 RG 4 w 72 700 m 540 700 l S 72 100 m 72 600 l S", "", 4},
      {"curves and even-odd", "0 g 100 100 m 300 500 400 100 500 400 c h f 200 200 300 300 re "
                              "250 250 100 100 re f*", "", 0},
      {"rotated page", "0 0 0 rg 50 50 200 100 re f 5 w 0 0 1 RG 300 300 m 500 700 l S",
       "/Rotate 90", 2},
      {"transformed and clipped", "q 1 0 0 1 100 100 cm 0.5 0 0 0.5 0 0 cm 0 g 0 0 400 400 re "
                                  "f Q q 300 300 100 100 re W n 0 g 250 250 300 300 re f Q", "", 0},
  };
  std::string dir = scratch_dir();
  int k = 0;
  for (const auto &pg : pages) {
    std::string pdf = simple_pdf({pg.content}, "[0 0 612 792]", pg.extra);
    std::string path = dir + "/v" + std::to_string(k) + ".pdf";
    ASSERT_TRUE(write_file(path, pdf));
    std::string stem = dir + "/ref" + std::to_string(k++);
    ASSERT_EQ(run_command("pdftoppm -r 48 -singlefile '" + path + "' '" + stem + "'"), 0);
    image ref;
    ASSERT_TRUE(read_ppm(stem + ".ppm", &ref)) << pg.what;

    c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
    std::memcpy(bytes.get(), pdf.data(), pdf.size());
    pdf_doc doc;
    ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "v", doc), 0);
    int w = 0, h = 0;
    c_ptr<uint8_t> rgba = lsf_render_page(doc, 0, 48, &w, &h);
    ASSERT_TRUE(rgba) << pg.what;
    ASSERT_EQ(w, ref.w) << pg.what;
    ASSERT_EQ(h, ref.h) << pg.what;
    image ours = from_rgba(rgba.get(), w, h, 4);
    int ink = 0;
    for (uint8_t v : ref.ink) ink += v;
    EXPECT_GT(ink, 0) << pg.what;
    EXPECT_EQ(unmatched(ref, ours), 0) << pg.what << ": reference ink we did not paint";
    EXPECT_LE(unmatched(ours, ref), pg.cap_pixels) << pg.what << ": ink the reference does not have";
  }
}

}  // namespace
