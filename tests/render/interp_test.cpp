// The content-stream interpreter: operand stack, q/Q, colours and colour spaces, resource
// lookups, the page marks it sets, inline-image skipping and hostile content.

#include "render/interp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "support/pdf_builder.h"
#include "pdfcore/document.h"

namespace {

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

std::string repeat(const std::string &s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; i++) out += s;
  return out;
}

struct rgb {
  double r, g, b;
};

void expect_rgb(const color &c, rgb want, const std::string &what) {
  double r, g, b;
  color_get(&c, &r, &g, &b);
  EXPECT_NEAR(r, want.r, 1e-6) << what;
  EXPECT_NEAR(g, want.g, 1e-6) << what;
  EXPECT_NEAR(b, want.b, 1e-6) << what;
}

bool same(const matrix &m, const matrix &want) {
  return m.a == want.a && m.b == want.b && m.c == want.c && m.d == want.d && m.e == want.e &&
         m.f == want.f;
}

class Interp : public ::testing::Test {
 protected:
  raster r;
  interp_state st;
  std::string res;

  void SetUp() override { ASSERT_TRUE(raster_init(r, 20, 20)); }

  void run(const std::string &content, const std::string &resources = "",
           const pdf_doc *doc = nullptr) {
    res = resources;
    interp_state_setup(st, doc, &r, res.empty() ? nullptr : u8(res),
                       static_cast<int32_t>(res.size()), k_identity);
    interp_execute(&st, u8(content), static_cast<int32_t>(content.size()));
  }
  const matrix &ctm() const { return st.ctm_stack[st.ctm_depth - 1]; }
};

TEST(MatMult, AppliesTheRightOperandFirstAndMayAlias) {
  matrix scale = {2, 0, 0, 3, 0, 0};
  matrix shift = {1, 0, 0, 1, 10, 20};
  matrix out;
  mat_mult(&out, &scale, &shift);  // shift first, then scale
  EXPECT_TRUE(same(out, matrix{2, 0, 0, 3, 20, 60}));
  matrix a = {1, 2, 3, 4, 5, 6};
  matrix b = {7, 8, 9, 10, 11, 12};
  matrix expect;
  mat_mult(&expect, &a, &b);
  mat_mult(&a, &a, &b);
  EXPECT_TRUE(same(a, expect));
  EXPECT_TRUE(same(expect, matrix{31, 46, 39, 58, 52, 76}));
}

TEST_F(Interp, SetupStartsAPage) {
  matrix ctm0 = {0.5, 0, 0, -0.5, 0, 100};
  interp_state_setup(st, nullptr, &r, nullptr, 99, ctm0);
  EXPECT_EQ(st.ctm_depth, 1);
  EXPECT_TRUE(same(ctm(), ctm0));
  EXPECT_EQ(st.resources_len, 0);
  EXPECT_EQ(st.fill_color.space, COLOR_RGB);
  EXPECT_EQ(st.stroke_color.space, COLOR_RGB);
  expect_rgb(st.fill_color, {0, 0, 0}, "fill");
  EXPECT_TRUE(same(st.text_matrix, k_identity));
  EXPECT_TRUE(same(st.line_matrix, k_identity));
  EXPECT_EQ(st.font_size, 12.0);
}

TEST_F(Interp, OperandStack) {
  run("1 2 3 4 5 6 7 cm");
  EXPECT_TRUE(same(ctm(), matrix{2, 3, 4, 5, 6, 7}));
  run("1 2 3 4 5 cm");
  EXPECT_TRUE(same(ctm(), k_identity));
  run("2 0 0 2 /x 7 cm");  // a name where a number is expected counts as 0
  EXPECT_TRUE(same(ctm(), matrix{2, 0, 0, 2, 0, 7}));
  // Every operator empties the stack, recognised or not.
  run("1 0 0 1 5 5 xyz cm");
  EXPECT_TRUE(same(ctm(), k_identity));
  run("1 0 0 1 5 5 Q cm");
  EXPECT_TRUE(same(ctm(), k_identity));

  // 256 operands are held; the 257th releases them and stands alone.
  run(repeat("9 ", 250) + "2 0 0 2 0 0 cm");
  EXPECT_TRUE(same(ctm(), matrix{2, 0, 0, 2, 0, 0}));
  run(repeat("9 ", 251) + "2 0 0 2 0 0 cm");
  EXPECT_TRUE(same(ctm(), k_identity));
  run(repeat("9 ", 256) + "2 0 0 2 0 0 cm");
  EXPECT_TRUE(same(ctm(), matrix{2, 0, 0, 2, 0, 0}));
}

TEST_F(Interp, QDepthIsBoundedAndUnmatchedLevelsAreNeverPopped) {
  std::string content = repeat("q 2 0 0 2 0 0 cm ", 40);
  run(content);
  EXPECT_EQ(st.ctm_depth, 32);
  EXPECT_EQ(ctm().a, std::ldexp(1.0, 40));
  // The Q operators of the eight levels the stack could not hold only count them down.
  run(content + repeat("Q ", 9));
  EXPECT_EQ(st.ctm_depth, 32);
  EXPECT_EQ(ctm().a, std::ldexp(1.0, 40));
  run(content + repeat("Q ", 10));
  EXPECT_EQ(st.ctm_depth, 31);
  EXPECT_EQ(ctm().a, std::ldexp(1.0, 30));
  run(content + repeat("Q ", 40));
  EXPECT_EQ(st.ctm_depth, 1);
  EXPECT_TRUE(same(ctm(), k_identity));
  run(content + repeat("Q ", 45));
  EXPECT_EQ(st.ctm_depth, 1);
  EXPECT_TRUE(same(ctm(), k_identity));
}

TEST_F(Interp, MillionNestedQ) {
  run("0.5 g " + repeat("q ", 1000000) + "1 g " + repeat("Q ", 1000000));
  EXPECT_EQ(st.ctm_depth, 1);
  EXPECT_EQ(st.q_overflow, 0);
  expect_rgb(st.fill_color, {0.5, 0.5, 0.5}, "restored");
}

TEST(ColourConversion, Table) {
  struct {
    int space;
    double c[4];
    rgb want;
  } cases[] = {
      {COLOR_GRAY, {0.25}, {0.25, 0.25, 0.25}},
      {COLOR_GRAY, {2}, {1, 1, 1}},
      {COLOR_GRAY, {-1}, {0, 0, 0}},
      {COLOR_RGB, {-1, 0.5, 3}, {0, 0.5, 1}},
      {COLOR_CMYK, {1, 0, 0, 0}, {0, 1, 1}},
      {COLOR_CMYK, {0, 0, 0, 1}, {0, 0, 0}},
      {COLOR_CMYK, {0.5, 0, 0, 0.5}, {0.25, 0.5, 0.5}},
      {COLOR_CMYK, {0, 0, 0, -1}, {1, 1, 1}},
      {7, {1, 1, 1, 1}, {0, 0, 0}},
      {COLOR_RGB, {NAN, 1, 0.5}, {0, 1, 0.5}},
  };
  for (const auto &c : cases) {
    color col;
    col.space = c.space;
    std::memcpy(col.comp, c.c, sizeof col.comp);
    expect_rgb(col, c.want, "space " + std::to_string(c.space));
  }
}

struct colour_case {
  const char *content;
  rgb want;
  bool stroke = false;
};

TEST_F(Interp, DeviceColours) {
  const colour_case cases[] = {
      {"2 g", {1, 1, 1}},
      {"1 0 0 0 k", {0, 1, 1}},
      {"0 0 0 1 k", {0, 0, 0}},
      {"1 0 0 rg", {1, 0, 0}},
      {"0 1 0 r", {0, 1, 0}},
      {"0.3 g 1 2 3 4 5 6 7 0.4 g", {0.4, 0.4, 0.4}},
      {"1 0 0 rg 0 1 sc", {1, 0, 0}},  // RGB takes three operands
      {"1 0 0 rg 0 0 1 sc", {0, 0, 1}},
      {"/P1 scn", {0, 0, 0}},
      {"0.2 0.4 0.6 scn", {0.2, 0.4, 0.6}},  // a page starts in DeviceRGB
      {"/DeviceGray cs 0.6 scn", {0.6, 0.6, 0.6}},
      {"/G cs 0.5 0.7 sc", {0.7, 0.7, 0.7}},
      {"1 g /DeviceCMYK cs", {0, 0, 0}},
      {"/DeviceCMYK cs 0 0 0 0 scn", {1, 1, 1}},
      {"/CMYK cs 1 0 0 0 sc", {0, 1, 1}},
      {"/DeviceCMYK cs 0.5 g 1 sc", {1, 1, 1}},  // g goes back to DeviceGray
      {"1 g /Pattern cs", {0, 0, 0}},
      {"/Pattern cs 1 1 1 scn", {0, 0, 0}},
      {"/Pattern cs 1 g", {1, 1, 1}},
      {"0.5 G", {0.5, 0.5, 0.5}, true},
      {"0 0 1 RG", {0, 0, 1}, true},
      {"0 1 0 R", {0, 1, 0}, true},
      {"0 1 0 0 K", {1, 0, 1}, true},
      {"/DeviceRGB CS 1 0 0 SCN", {1, 0, 0}, true},
      {"/DeviceGray CS 1 SC", {1, 1, 1}, true},
      {"1 g /DeviceRGB CS 1 0 0 SCN", {1, 1, 1}},  // the fill is untouched
  };
  for (const auto &c : cases) {
    run(c.content);
    expect_rgb(c.stroke ? st.stroke_color : st.fill_color, c.want, c.content);
  }
}

const char *k_spaces =
    "<< /ColorSpace << /Sp [/Separation /Spot /DeviceCMYK 5 0 R]"
    " /DN [/DeviceN [/A /B /C] /DeviceCMYK 5 0 R]"
    " /Ix [/Indexed /DeviceRGB 1 <FF0000 00FF00>]"
    " /Il [/Indexed /DeviceGray 2 (\\000\\177\\377)]"
    " /Ic [/I /DeviceCMYK 0 <00000000>]"
    " /Lb [/Lab << /WhitePoint [0.95 1 1.09] >>] /Cr [/CalRGB << /WhitePoint [0.95 1 1.09] >>]"
    " /Cg [/CalGray << /Gamma 2.2 >>] /Pt [/Pattern /DeviceRGB] /Nm /DeviceCMYK"
    " /Short [/Indexed /DeviceRGB 3 <FF0000>] /Bad [/Nonesuch 1] /Ixx [/Indexed /Nonesuch 1 <FF>]"
    " >> /Font << /Missing [/DeviceCMYK] >> >>";

TEST_F(Interp, ColourSpacesFromResources) {
  const colour_case cases[] = {
      {"/Sp cs", {0, 0, 0}},  // tint 1
      {"/Sp cs 0.25 scn", {0.75, 0.75, 0.75}},
      {"/Sp cs 0 sc", {1, 1, 1}},
      {"/DN cs 0.2 0.7 0.1 scn", {0.3, 0.3, 0.3}},
      {"/DN cs 1 0.5 scn", {0, 0, 0}},  // too few operands: the colour stays
      {"/Ix cs", {1, 0, 0}},
      {"/Ix cs 1 scn", {0, 1, 0}},
      {"/Ix cs 7 scn", {0, 1, 0}},
      {"/Ix cs -2 scn", {1, 0, 0}},
      {"/Ix cs 0.9 sc", {1, 0, 0}},
      {"/Il cs 1 scn", {127 / 255.0, 127 / 255.0, 127 / 255.0}},
      {"/Il cs 2 scn", {1, 1, 1}},
      {"/Ic cs", {1, 1, 1}},
      {"/Lb cs 50 0 0 scn", {0.5, 0.5, 0.5}},
      {"/Lb cs", {0, 0, 0}},
      {"/Cr cs 1 0 0 sc", {1, 0, 0}},
      {"/Cg cs 0.5 sc", {0.5, 0.5, 0.5}},
      {"/Pt cs 1 1 1 /P0 scn", {0, 0, 0}},
      {"/Pt cs 1 1 1 scn", {0, 0, 0}},
      {"/Nm cs 0 0 0 0 scn", {1, 1, 1}},
      {"/Short cs", {1, 0, 0}},
      {"/Short cs 1 scn", {0, 0, 0}},  // entries the table does not cover are black
      {"/Ixx cs 1 scn", {0, 0, 0}},    // so is every entry of an unreadable base
      // Spaces that cannot be resolved go by the number of operands.
      {"/Bad cs 1 scn", {1, 1, 1}},
      {"/Missing cs", {0, 0, 0}},
      {"/Missing cs 1 scn", {1, 1, 1}},
      {"/Missing cs 1 1 scn", {1, 1, 1}},
      {"/Missing cs 1 0 0 scn", {1, 0, 0}},
      {"/Missing cs 0 0 0 1 scn", {0, 0, 0}},
      {"/Missing cs 0 0 0 0 0 scn", {1, 1, 1}},
      {"/Ix cs /Sp cs /Ix cs 1 scn", {0, 1, 0}},  // resolved once, then from the cache
      {"/Ix CS 1 SCN", {0, 1, 0}, true},
      {"/Ix CS 1 SCN", {0, 0, 0}},
      {"(Ix) cs 1 scn", {0, 0, 0}},  // cs takes a name: DeviceRGB stays and wants 3 operands
  };
  for (const auto &c : cases) {
    run(c.content, k_spaces);
    expect_rgb(c.stroke ? st.stroke_color : st.fill_color, c.want, c.content);
  }
}

TEST_F(Interp, QRestoresColoursAndLineWidth) {
  run("q 1 g 5 w Q");
  expect_rgb(st.fill_color, {0, 0, 0}, "fill after Q");
  EXPECT_EQ(r.line_width, 1.0);
  run("q 1 g 0 0 612 792 re f Q 72 72 200 200 re f");
  expect_rgb(st.fill_color, {0, 0, 0}, "second fill");
  run("0.5 G q 1 G 1 g Q");
  expect_rgb(st.stroke_color, {0.5, 0.5, 0.5}, "stroke");

  run("/Ix cs q 0 g Q 1 scn", k_spaces);
  expect_rgb(st.fill_color, {0, 1, 0}, "the Indexed space comes back");
  run("1 0 0 rg q /Ix cs 1 scn Q 0 0 1 sc", k_spaces);
  expect_rgb(st.fill_color, {0, 0, 1}, "DeviceRGB comes back");

  r.line_width = 1.0;
  run("3 w q 0.1 w Q");
  EXPECT_EQ(r.line_width, 3.0);
  run("0.1 w");
  EXPECT_EQ(r.line_width, 0.25);
  r.line_width = 0.1;
  run("w");
  EXPECT_EQ(r.line_width, 0.25);
  run("2 w Q");  // no level to restore
  EXPECT_EQ(r.line_width, 2.0);

  run("0 g " + repeat("q ", 32) + "1 g Q");  // 31 levels held, one counted
  expect_rgb(st.fill_color, {1, 1, 1}, "the Q of an unsaved level restores nothing");
  run("0 g " + repeat("q ", 32) + "1 g Q Q");
  expect_rgb(st.fill_color, {0, 0, 0}, "the next Q does");
}

TEST_F(Interp, QPopsTheClipStackAtAnyDepth) {
  r.clip_stack[0] = pix_box{1, 1, 5, 5};
  r.clip_stack[1] = pix_box{3, 3, 3, 9};
  r.clip_depth = 2;
  r.clip = pix_box{0, 0, 0, 0};
  run("Q");
  EXPECT_EQ(r.clip_depth, 1);
  EXPECT_EQ(r.clip_empty, 1);
  EXPECT_EQ(r.clip.x1, 3);
  r.clip_depth = 1;
  run(repeat("q ", 33) + "Q");
  EXPECT_EQ(r.clip_depth, 0);
  EXPECT_EQ(r.clip_empty, 0);
  EXPECT_EQ(r.clip.x0, 1);
  EXPECT_EQ(r.clip.y1, 5);
  run("Q");
  EXPECT_EQ(r.clip_depth, 0);
  EXPECT_EQ(r.clip.x0, 1);
}

TEST(ResValue, Cases) {
  struct {
    const char *text;
    int32_t pos;  // -1, or the expected position
    int kind;
  } cases[] = {
      {"<< /XObject 12 10 R >>", 12, RES_REF},
      {"<< /XObject << /Im0 5 0 R >> >>", 12, RES_DICT},
      {"<< /XObject [1 2] >>", 12, RES_ARRAY},
      {"<< /XObject /Foo >>", -1, 0},
      {"<< /XObject 12 R >>", 12, RES_REF},
      {"<< /XObject 12 0 >>", -1, 0},
      {"<< /XObject 0 0 R >>", -1, 0},
      {"<< /XObject 12 0", -1, 0},
      {"<< /XObject <", -1, 0},
      {"<< /XObject <a> >>", -1, 0},
      {"<< /XObjects << >> >>", -1, 0},
      {"<< /XObject", -1, 0},
      {"<< /Font 3 0 R /XObject\r\n7 0 R >>", 25, RES_REF},
  };
  for (const auto &c : cases) {
    std::string s = c.text;
    int kind = -7;
    int32_t got = res_value(u8(s), static_cast<int32_t>(s.size()), "XObject", &kind);
    EXPECT_EQ(got, c.pos) << c.text;
    if (c.pos >= 0) {
      EXPECT_EQ(kind, c.kind) << c.text;
    }
  }
  int kind = 0;
  EXPECT_EQ(res_value(nullptr, 10, "XObject", &kind), -1);
}

TEST_F(Interp, TextShownNeedsAStringOperand) {
  struct {
    const char *content;
    int shown;
  } cases[] = {
      {"(a) Tj", 1},          {"<41> Tj", 1},        {"() Tj", 1},
      {"1 Tj", 0},            {"Tj", 0},             {"(a) 1 Tj", 0},
      {"[(a) 1] TJ", 1},      {"[1 <41>] TJ", 1},    {"[1 2] TJ", 0},
      {"(a) TJ", 0},          {"(a) [1] TJ", 0},     {"[] TJ", 0},
      {"(a) '", 1},           {"/F1 '", 0},          {"1 2 (a) \"", 1},
      {"1 2 3 \"", 0},        {"(a) Tf", 0},         {"(a) TJx", 0},
      {"BI /W 1 /H 1 ID\n(a) Tj\nEI", 0},
  };
  for (const auto &c : cases) {
    r.text_shown = 0;
    run(c.content);
    EXPECT_EQ(r.text_shown, c.shown) << c.content;
  }
}

TEST_F(Interp, InlineImageDataAreNotRead) {
  std::string data("\x00(x) Tj 1 g Q\xff\r\n", 17);
  run("0.5 g BI /W 2 /H 2 /BPC 8 ID\n" + data + "EI 0.25 g");
  EXPECT_EQ(r.text_shown, 0);
  expect_rgb(st.fill_color, {0.25, 0.25, 0.25}, "after EI");
  run("0.5 g BI /W 2 /H 2 ID " + data);  // no EI: the data run to the end
  EXPECT_EQ(r.text_shown, 0);
  expect_rgb(st.fill_color, {0.5, 0.5, 0.5}, "no EI");
  run("0.5 g BI /W 2 1 g");  // no ID: the rest is abandoned
  expect_rgb(st.fill_color, {0.5, 0.5, 0.5}, "no ID");
  run("BI /W 1 /H 1 ID\rEI1 g EI 1 0 0 rg");  // EI must stand as a word
  expect_rgb(st.fill_color, {1, 0, 0}, "EI as a word");
}

// A document whose objects the resource texts refer to.
class InterpDoc : public Interp {
 protected:
  static pdf_doc *doc;

  static void SetUpTestSuite() {
    pdf_builder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    b.stream(5, "/N 4", "profile bytes");
    b.stream(6, "/N 1 /Alternate /DeviceGray", "profile bytes");
    b.obj(7, "[/ICCBased 5 0 R]");
    b.obj(8,
          "<< /CS0 [/ICCBased 5 0 R] /CS1 7 0 R /CS2 [/Indexed 7 0 R 1 9 0 R]"
          " /CS3 [/ICCBased 6 0 R] /CS4 [/Indexed /DeviceRGB 2 10 0 R] /CS5 [/ICCBased 99 0 R]"
          " /CS6 12 0 R >>");
    b.stream(9, "", std::string("\x00\x00\x00\xff\x00\x00\x00\x00", 8));
    b.obj(10, "(\\377\\000\\000\\000\\377\\000\\000\\000\\377)");
    b.obj(11, "<< /ShadingType 2 >>");
    b.obj(12, "13 0 R");
    b.obj(13, "[/DeviceN [/Cyan /Spot] /DeviceCMYK 5 0 R]");
    b.xref_trailer("/Root 1 0 R");
    const std::string &pdf = b.str();
    c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
    std::memcpy(bytes.get(), pdf.data(), pdf.size());
    doc = new pdf_doc;
    ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "fixture", *doc),
              0);
  }
  static void TearDownTestSuite() {
    delete doc;
    doc = nullptr;
  }
};

pdf_doc *InterpDoc::doc = nullptr;

TEST_F(InterpDoc, ColourSpacesThroughReferences) {
  const std::string res = "<< /ColorSpace 8 0 R >>";
  const colour_case cases[] = {
      {"/CS0 cs 0 0 0 1 scn", {0, 0, 0}},  // CMYK black in an ICC-based space
      {"/CS0 cs 0 0 0 0 scn", {1, 1, 1}},
      {"/CS0 cs 1 scn", {0, 0, 0}},        // too few operands: the initial CMYK black stays
      {"/CS1 cs 0 1 0 0 scn", {1, 0, 1}},  // the space by reference
      {"/CS3 cs 0.5 scn", {0.5, 0.5, 0.5}},
      {"/CS2 cs", {0, 0, 0}},  // palette from a stream, base by reference
      {"/CS2 cs 1 scn", {1, 1, 1}},
      {"/CS4 cs 2 scn", {0, 0, 1}},  // palette from a string object
      {"/CS4 cs 1 sc", {0, 1, 0}},
      {"/CS5 cs 1 scn", {1, 1, 1}},  // the profile is missing: one operand is a gray
      {"/CS6 cs 0.25 0.5 scn", {0.5, 0.5, 0.5}},  // two references deep
  };
  for (const auto &c : cases) {
    run(c.content, res, doc);
    expect_rgb(c.stroke ? st.stroke_color : st.fill_color, c.want, c.content);
  }
  run("/A cs 0 0 0 0 scn", "<< /ColorSpace << /A 7 0 R >> >>", doc);
  expect_rgb(st.fill_color, {1, 1, 1}, "dictionary in place, value by reference");
}

TEST_F(InterpDoc, ShadingFromTheResourcesIsInk) {
  struct {
    const char *content;
    const char *resources;
    bool with_doc;
    int shading;
  } cases[] = {
      {"/Sh0 sh", "<< /Shading << /Sh0 11 0 R /Sh9 99 0 R >> >>", true, 1},
      {"/Sh1 sh", "<< /Shading << /Sh0 11 0 R >> >>", true, 0},
      {"/Sh9 sh", "<< /Shading << /Sh9 99 0 R >> >>", true, 0},  // no such object
      {"/Sh0 sh", "<< /Shading << /Sh0 << /ShadingType 2 >> >> >>", false, 1},
      {"/Sh0 sh", "<< /Shading << /Sh0 11 0 R >> >>", false, 0},
      {"(Sh0) sh", "<< /Shading << /Sh0 << /ShadingType 2 >> >> >>", false, 0},
      {"sh", "<< /Shading << /Sh0 << /ShadingType 2 >> >> >>", false, 0},
      {"/Sh0 sh", "", false, 0},
      {"/Sh0 sh", "<< /Pattern << /Sh0 11 0 R >> >>", true, 0},
  };
  for (const auto &c : cases) {
    r.shading = 0;
    run(c.content, c.resources, c.with_doc ? doc : nullptr);
    EXPECT_EQ(r.shading, c.shading) << c.content << " with " << c.resources;
  }
}

TEST_F(InterpDoc, XObjectsAndInlineImagesAreDrawn) {
  // Images are now drawn: a page is kept without its pixels only when an image cannot be read.
  struct {
    const char *content;
    const char *resources;
    int unreadable;
    double centre;  // gray of the raster's middle pixel afterwards
  } cases[] = {
      {"/Im0 Do", "<< /XObject << /Im0 11 0 R >> >>", 0, 1},  // neither image nor form
      {"/Im9 Do", "<< /XObject << /Im9 99 0 R >> >>", 0, 1},  // no such object
      {"(Im0) Do", "<< /XObject << /Im0 11 0 R >> >>", 0, 1},
      {"20 0 0 20 0 0 cm BI /W 1 /H 1 /BPC 8 /CS /G ID \\xff EI", "", 0, 1},
      {"20 0 0 20 0 0 cm BI /W 1 /H 1 /BPC 8 /CS /G ID \\x00 EI", "", 0, 0},
      {"20 0 0 20 0 0 cm BI /W 1 /H 1 /CS /G /F /JBIG2Decode ID \\x00 EI", "", 1, 0},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(raster_init(r, 20, 20));
    std::string content;
    for (const char *q = c.content; *q; q++) {
      if (q[0] == '\\' && q[1] == 'x') {
        content += static_cast<char>(std::stoi(std::string(q + 2, 2), nullptr, 16));
        q += 3;
      } else {
        content += *q;
      }
    }
    r.unreadable = 0;
    run(content, c.resources, doc);
    EXPECT_EQ(r.unreadable, c.unreadable) << c.content;
    EXPECT_EQ(r.rgb.get()[(10 * 20 + 10) * 3], static_cast<uint8_t>(c.centre * 255)) << c.content;
  }
}

TEST_F(InterpDoc, ResourceHelpersFollowReferences) {
  res_span v;
  std::string res = "<< /ColorSpace 8 0 R >>";
  ASSERT_TRUE(res_named(doc, u8(res), static_cast<int32_t>(res.size()), "ColorSpace", "CS6", &v));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(v.data + v.pos), 9), "[/DeviceN");
  EXPECT_FALSE(res_named(doc, u8(res), static_cast<int32_t>(res.size()), "ColorSpace", "CS9", &v));
  EXPECT_FALSE(res_named(nullptr, u8(res), static_cast<int32_t>(res.size()), "ColorSpace", "CS6", &v));
}

// Content of any bytes ends, promptly, without reading outside its bytes.
TEST_F(Interp, HostileContent) {
  const std::string big[] = {
      std::string(8 << 20, '7') + " 1 g",
      "<< " + repeat("<< /A ", 1 << 20),
      "(" + repeat("((a\\", 1 << 20),
      "<" + std::string(4 << 20, 'a'),
      repeat("[", 1 << 20) + " 1 g",
      "1e" + std::string(1 << 20, '9') + " 1." + std::string(1 << 20, '3') + " cm",
      repeat("/n ", 1 << 20) + repeat("Q ", 1000),
      repeat("BI ID EI ", 100000),
  };
  for (const auto &content : big) run(content);
  // A digit run keeps its value: 8 MiB of digits overflow to infinity, and the colour set
  // after it still counts.
  run(big[0]);
  expect_rgb(st.fill_color, {1, 1, 1}, "after the digits");

  std::mt19937 rng(12345);
  const char *pieces[] = {"q ", "Q ", "(", ")", "<", ">", "<<", ">>", "[", "]", "/", "\\",
                          "%", "\n", "1", ".", "-", "e", "cm ", "Tj ", "TJ ", "BI ", "ID ",
                          "EI ", "cs ", "scn ", "sh ", "/Ix ", "/Sp ", " ", "\x00", "\xff"};
  for (int round = 0; round < 3000; round++) {
    std::string s;
    int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; i++) s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    // An exact-size copy, so a read past the end is seen by the sanitizers.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[s.size() + 1]);
    std::memcpy(exact.get(), s.data(), s.size());
    res = k_spaces;
    interp_state_setup(st, nullptr, &r, u8(res), static_cast<int32_t>(res.size()), k_identity);
    interp_execute(&st, exact.get(), static_cast<int32_t>(s.size()));
  }
}

}  // namespace
