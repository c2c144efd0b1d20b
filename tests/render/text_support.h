// Documents with fonts for the font, glyph and text tests: a page whose resources name fonts
// written by the test, run against a small raster with the identity as page CTM (user space is
// device space, y downwards), each run in a fresh interpreter state.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/builtin_fonts.h"
#include "render/interp.h"
#include "support/pdf_builder.h"
#include "support/stream_fixture.h"

namespace text_test {

inline const uint8_t *u8(const std::string &s) {
  return reinterpret_cast<const uint8_t *>(s.data());
}

// The bytes of a built-in font as a string, for embedding it as a /FontFile2 program.
inline std::string builtin_bytes(int slot) {
  return std::string(reinterpret_cast<const char *>(builtin_font_constant(slot)),
                     static_cast<size_t>(builtin_font_constant_len(slot)));
}

// A Type 3 procedure that fills the square (0, 0)-(0.2, 0.2): at font size 10 a 2 x 2 pixel
// block whose corner is the glyph origin.
inline const char *k_square_proc = "0 0 0.2 0.2 re f";

class TextDoc : public ::testing::Test {
 protected:
  pdf_builder b;
  pdf_doc doc;
  raster r;
  std::unique_ptr<interp_state> st;
  std::string res;

  void SetUp() override {
    lsf_load_fonts();
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 40 40] >>");
  }

  // A Type 3 font (object num) with square glyphs for A and B (objects num+1, num+2), each
  // 0.6 wide.
  void square_font(int num, const std::string &extra = "") {
    b.obj(num, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] "
               "/CharProcs << /A " + std::to_string(num + 1) + " 0 R /B " +
               std::to_string(num + 2) + " 0 R >> /FirstChar 65 /Widths [600 600] " + extra +
               ">>");
    b.stream(num + 1, "", k_square_proc);
    b.stream(num + 2, "", k_square_proc);
  }

  void load() {
    b.xref_trailer("/Root 1 0 R");
    ASSERT_TRUE(load_pdf_text(b.str(), doc));
  }

  // Runs content in a new state with these resources on a w x h raster under m.
  void run(const std::string &content, const std::string &resources, int w = 40, int h = 40,
           const matrix &m = k_identity) {
    ASSERT_TRUE(raster_init(r, w, h));
    res = resources;
    st.reset(new interp_state);
    interp_state_setup(*st, &doc, &r, u8(res), static_cast<int32_t>(res.size()), m);
    interp_execute(st.get(), u8(content), static_cast<int32_t>(content.size()));
  }

  bool painted(int x, int y) const {
    const uint8_t *p = r.rgb.get() + 3 * (static_cast<size_t>(y) * r.width + x);
    return p[0] != 255 || p[1] != 255 || p[2] != 255;
  }

  // True when the painted pixels are exactly the 2 x 2 blocks with these corners.
  bool squares_at(const std::vector<std::pair<int, int>> &corners) const {
    for (int y = 0; y < r.height; y++)
      for (int x = 0; x < r.width; x++) {
        bool want = false;
        for (const auto &c : corners)
          want = want || (x >= c.first && x < c.first + 2 && y >= c.second && y < c.second + 2);
        if (painted(x, y) != want) return false;
      }
    return true;
  }

  struct box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive; x1 < x0 when nothing is painted
  };
  box ink() const {
    box bx{r.width, r.height, -1, -1};
    for (int y = 0; y < r.height; y++)
      for (int x = 0; x < r.width; x++)
        if (painted(x, y)) {
          bx.x0 = std::min(bx.x0, x), bx.y0 = std::min(bx.y0, y);
          bx.x1 = std::max(bx.x1, x), bx.y1 = std::max(bx.y1, y);
        }
    return bx;
  }
};

}  // namespace text_test
