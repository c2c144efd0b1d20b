// The text operators: where strings start after Td, TD, T*, Tm, Tf and BT, the pen's advance
// in Tj and TJ, the font size rules of Tf and Tz; and a whole page of standard-font text set
// beside a reference renderer's, line by line.
#include "render/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "leafsift.h"
#include "pdfcore/document.h"
#include "render/render.h"
#include "render/text_support.h"
#include "support/test_paths.h"

namespace {

using text_test::TextDoc;

const char *k_res = "<< /Font << /S 10 0 R >> >>";

class Text : public TextDoc {
 protected:
  void SetUp() override {
    TextDoc::SetUp();
    square_font(10);
    load();
  }
};

TEST_F(Text, StringsStartWhereTheMatrixOperatorsPutThem) {
  struct row {
    const char *content;
    std::vector<std::pair<int, int>> squares;
  } rows[] = {
      {"/S 10 Tf 5 30 Td (A) Tj 0 -14 Td (B) Tj", {{5, 30}, {5, 16}}},
      // TD sets the leading that T* and ' move down by.
      {"/S 10 Tf 5 30 TD (A) Tj 0 -14 TD T* (B) Tj", {{5, 30}, {5, 2}}},
      {"/S 10 Tf 3 20 TD 0 -5 TD (A) Tj (B) ' ", {{3, 15}, {3, 10}}},
      {"/S 10 Tf 0 -6 TD 10 30 Td 1 2 3 (A) \"", {{10, 18}}},
      // Only the translation of Tm places text; Tf keeps the position, BT returns to the origin.
      {"/S 10 Tf 3 0 0 3 20 21 Tm (A) Tj", {{20, 21}}},
      {"20 21 Td /S 10 Tf (A) Tj", {{20, 21}}},
      {"BT 20 21 Td ET BT /S 10 Tf (A) Tj ET", {{0, 0}}},
      {"BT 20 21 Td (A) Tj ET BT 2 3 Td (B) Tj ET", {}},
      {"/S 10 Tf BT 20 21 Td (A) Tj ET BT 2 3 Td (B) Tj ET", {{20, 21}, {2, 3}}},
      // Showing never moves the text matrix: the second string lands on the first.
      {"/S 10 Tf 4 4 Td (A) Tj (B) Tj", {{4, 4}}},
      {"/S 10 Tf 4 4 Td (AB) Tj", {{4, 4}, {10, 4}}},
      // In TJ a number moves the pen back by thousandths of the font size.
      {"/S 10 Tf 4 4 Td [(A) -500 (B)] TJ", {{4, 4}, {15, 4}}},
      {"/S 10 Tf 4 4 Td [(AB) 600 (A)] TJ", {{4, 4}, {10, 4}}},
      {"/S 10 Tf 4 4 Td [] TJ (A) TJ", {}},
      // Before any Tf, or after one whose font does not resolve, nothing is drawn.
      {"4 4 Td (A) Tj", {}},
      {"/Nope 10 Tf 4 4 Td (A) Tj", {}},
      {"/S 10 Tf /Nope 10 Tf 4 4 Td (A) Tj", {}},
  };
  for (const row &c : rows) {
    run(c.content, k_res);
    EXPECT_TRUE(squares_at(c.squares)) << c.content;
  }
}

TEST_F(Text, FontSizeRulesOfTfAndTz) {
  struct row {
    const char *content;
    double size;
  } rows[] = {
      {"/S 0 Tf", 1.0},       {"/S -3 Tf", 1.0},       {"/S 7 Tf", 7.0},
      {"/S 8 Tf 50 Tz", 4.0}, {"/S 8 Tf 50 Tz 50 Tz", 2.0}, {"/S 8 Tf 100 Tz", 8.0},
      {"/S 8 Tf 0 Tz -50 Tz", 8.0},
      // A size with a name operand that is no name leaves the state alone.
      {"(S) 9 Tf", 12.0},
  };
  for (const row &c : rows) {
    run(c.content, k_res);
    EXPECT_DOUBLE_EQ(st->font_size, c.size) << c.content;
  }
  run("/S 10 Tf 2 Tw 3 Tc", k_res);
  EXPECT_EQ(st->word_spacing, 2);
  EXPECT_EQ(st->char_spacing, 3);
}

class TextKinds : public TextDoc {};

TEST_F(TextKinds, PenAdvancesByTheRulesOfEachFontKind) {
  square_font(10);
  b.obj(20, "<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H >>");
  b.obj(21, "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol /FirstChar 65 "
            "/Widths [250 -1] >>");
  load();
  run("", "<< /Font << /S 10 0 R /Z 20 0 R /Y 21 0 R >> >>");
  const uint8_t two[] = {0x00, 0x41};
  const uint8_t ab[] = {'A', 'B', 'C'};
  struct row {
    const char *font;
    const uint8_t *bytes;
    int len;
    double advance;  // at font size 10
  } rows[] = {
      // Type 3 widths read on past the list, each failed read giving a whole font size.
      {"S", ab, 3, 6 + 6 + 10},
      {"Z", two, 2, 10},        // composite fonts: every byte one code of half the size
      {"Y", ab, 3, 2.5 + 5 + 5},  // a negative width, and the codes after the list, read 0.5
  };
  for (const row &c : rows) {
    st->font = font_get(st.get(), c.font);
    st->font_size = 10;
    ASSERT_NE(st->font, nullptr) << c.font;
    EXPECT_DOUBLE_EQ(text_show_at(st.get(), c.bytes, c.len, 0, 0), c.advance) << c.font;
  }
}

// A page of Helvetica and Times text, drawn with the built-in fonts, set beside pdftoppm's
// rendering at 48 dpi: the ink of every line stands within 2 pixels of the reference.
TEST(TextPage, LinesStandWhereAReferenceRendererPutsThem) {
  const std::string pdftoppm = "/usr/bin/pdftoppm";
  if (run_command("test -x " + pdftoppm) != 0)
    GTEST_SKIP() << "poppler-utils' pdftoppm is not installed";
  std::string content;
  const char *fonts[] = {"/H", "/T", "/C"};
  for (int i = 0; i < 12; i++) {
    content += "BT " + std::string(fonts[i % 3]) + " " + std::to_string(10 + i * 2) + " Tf " +
               std::to_string(40 + i * 17) + " " + std::to_string(740 - i * 55) +
               " Td (Blank pages carry no ink, and Quixotic jumps vex wizards) Tj ET\n";
  }
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
           "/Resources << /Font << /H 5 0 R /T 6 0 R /C 7 0 R >> >> >>");
  b.stream(4, "", content);
  b.obj(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.obj(6, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
  b.obj(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
  b.xref_trailer("/Root 1 0 R");
  const std::string pdf_path = scratch_dir() + "/text_page.pdf";
  ASSERT_TRUE(write_file(pdf_path, b.str()));

  lsf_load_fonts();
  pdf_doc doc;
  ASSERT_EQ(doc_load(pdf_path.c_str(), doc), 0);
  int w = 0, h = 0;
  c_ptr<uint8_t> ours = lsf_render_page(doc, 0, 48, &w, &h);
  ASSERT_NE(ours, nullptr);

  const std::string ref_base = scratch_dir() + "/text_page_ref";
  ASSERT_EQ(run_command(pdftoppm + " -r 48 -gray -singlefile " + pdf_path + " " + ref_base), 0);
  std::string pgm = read_file(ref_base + ".pgm");
  // Binary PGM: "P5\n<w> <h>\n255\n" then the samples.
  int rw = 0, rh = 0, maxv = 0, hdr = 0;
  ASSERT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &rw, &rh, &maxv, &hdr), 3);
  ASSERT_EQ(rw, w);
  ASSERT_EQ(rh, h);
  const uint8_t *ref = reinterpret_cast<const uint8_t *>(pgm.data()) + hdr + 1;
  ASSERT_GE(pgm.size(), static_cast<size_t>(hdr + 1 + rw * rh));

  // Ink boxes of the lines: bands of rows with dark pixels, separated by rows without.
  auto lines = [&](auto dark) {
    std::vector<std::vector<int>> out;  // x0, y0, x1, y1
    bool in = false;
    for (int y = 0; y <= h; y++) {
      int x0 = w, x1 = -1;
      for (int x = 0; y < h && x < w; x++)
        if (dark(x, y)) x0 = std::min(x0, x), x1 = std::max(x1, x);
      if (x1 >= 0) {
        if (!in) out.push_back({x0, y, x1, y});
        in = true;
        auto &b = out.back();
        b[0] = std::min(b[0], x0), b[2] = std::max(b[2], x1), b[3] = y;
      } else {
        in = false;
      }
    }
    return out;
  };
  auto ours_lines = lines([&](int x, int y) { return ours.get()[(y * w + x) * 4] < 128; });
  auto ref_lines = lines([&](int x, int y) { return ref[y * w + x] < 128; });
  ASSERT_EQ(ours_lines.size(), 12u);
  ASSERT_EQ(ref_lines.size(), ours_lines.size());
  for (size_t i = 0; i < ours_lines.size(); i++)
    for (int k = 0; k < 4; k++)
      EXPECT_NEAR(ours_lines[i][k], ref_lines[i][k], 2) << "line " << i << " edge " << k;
}

}  // namespace
