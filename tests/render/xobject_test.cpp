// Do and BI: form matrices, resources, the form's own clip and line width, recursion bounds,
// stencil masks drawn in the fill colour, inline images with abbreviations, and whole pages
// with images judged by leafsift_detect.

#include "render/xobject.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "leafsift.h"
#include "pdfcore/document.h"
#include "render/interp.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// A document of forms and images, run with a 40 x 40 raster and the identity as page CTM, so
// user space is device space.
class XObjects : public ::testing::Test {
 protected:
  pdf_builder b;
  pdf_doc doc;
  raster r;
  interp_state st;
  std::string res;

  void SetUp() override {
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 40 40] >>");
  }
  void form(int num, const std::string &dict, const std::string &content) {
    b.stream(num, "/Type /XObject /Subtype /Form /BBox [0 0 40 40] " + dict, content);
  }
  void load() {
    b.xref_trailer("/Root 1 0 R");
    const std::string &pdf = b.str();
    c_ptr<uint8_t> mem(static_cast<uint8_t *>(std::malloc(pdf.size())));
    std::memcpy(mem.get(), pdf.data(), pdf.size());
    ASSERT_EQ(doc_load_bytes(std::move(mem), static_cast<int32_t>(pdf.size()), "t", doc), 0);
  }
  void run(const std::string &content, const std::string &resources) {
    ASSERT_TRUE(raster_init(r, 40, 40));
    res = resources;
    interp_state_setup(st, &doc, &r, u8(res), static_cast<int32_t>(res.size()), k_identity);
    interp_execute(&st, u8(content), static_cast<int32_t>(content.size()));
  }
  int gray(int x, int y) const { return r.rgb.get()[(y * 40 + x) * 3]; }
  int red(int x, int y) const { return r.rgb.get()[(y * 40 + x) * 3]; }
  int blue(int x, int y) const { return r.rgb.get()[(y * 40 + x) * 3 + 2]; }
};

TEST_F(XObjects, FormMatricesAreSignedRealNumbers) {
  form(10, "/Matrix [0.5 0 0 0.5 0 0]", "0 0 20 20 re f");
  form(11, "/Matrix [1 0 0 -1 0 40]", "0 10 20 10 re f");
  form(12, "/Matrix [1 0 0 1 10 20]", "0 0 5 5 re f");
  form(13, "/Matrix [1 0 0]", "0 0 5 5 re f");  // too short: the identity stands
  load();
  const std::string fres = "<< /XObject << /A 10 0 R /B 11 0 R /C 12 0 R /D 13 0 R >> >>";
  run("/A Do", fres);
  EXPECT_EQ((std::vector<int>{gray(0, 0), gray(9, 9), gray(10, 10)}),
            (std::vector<int>{0, 0, 255}));
  run("/B Do", fres);
  EXPECT_EQ((std::vector<int>{gray(5, 19), gray(5, 20), gray(5, 29), gray(5, 30)}),
            (std::vector<int>{255, 0, 0, 255}));
  run("/C Do", fres);
  EXPECT_EQ((std::vector<int>{gray(10, 20), gray(14, 24), gray(15, 25), gray(0, 0)}),
            (std::vector<int>{0, 0, 255, 255}));
  run("/D Do", fres);
  EXPECT_EQ(gray(0, 0), 0);
}

TEST_F(XObjects, FormStateResourcesAndTheCallersClip) {
  b.stream(20, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray",
           std::string(1, '\0'));
  form(21, "", "2 0 0 2 0 0 cm /Im Do");           // no resources: the caller's are used
  form(22, "", "0 0 5 5 re W n 7 w 0 0 1 1 re f");  // a clip and a line width left open
  form(23, "/Resources << >>", "/Im Do 0 0 1 1 re f");  // its own, empty: no image
  form(24, "", "");
  load();
  const std::string fres = "<< /XObject << /Im 20 0 R /F 21 0 R /G 22 0 R /H 23 0 R >> >>";
  run("/F Do 0.5 g 30 30 5 5 re f", fres);
  EXPECT_EQ((std::vector<int>{gray(0, 0), gray(1, 1), gray(2, 2), gray(32, 32)}),
            (std::vector<int>{0, 0, 255, 127}));
  EXPECT_EQ(st.ctm_stack[st.ctm_depth - 1].a, 1.0);  // the form's cm stayed in the form
  run("/G Do 0 0 40 40 re f", fres);
  EXPECT_EQ(gray(30, 30), 0);
  EXPECT_EQ(r.line_width, 1.0);
  EXPECT_EQ(r.clip_depth, 0);
  run("1 0 0 rg /H Do", fres);
  EXPECT_EQ(red(0, 0), 255);
  EXPECT_EQ(blue(0, 0), 0);  // the caller's fill colour carried into the form
  run("/E Do", "<< /XObject << /E 24 0 R >> >>");  // an empty form is no damage
  EXPECT_EQ(r.unreadable, 0);
}

TEST_F(XObjects, RecursionStops) {
  form(30, "/Resources << /XObject << /Self 30 0 R >> >>", "/Self Do 0 0 1 1 re f");
  form(31, "/Resources << /XObject << /B 32 0 R >> >>", "/B Do");
  form(32, "/Resources << /XObject << /A 31 0 R >> >>", "/A Do 0 0 1 1 re f");
  // A chain of 33 distinct forms: 100 calls 101 ... 132, the last one paints.
  for (int i = 100; i <= 132; i++)
    form(i, "/Resources << /XObject << /N " + std::to_string(i + 1) + " 0 R >> >>",
         i == 132 ? "0 0 1 1 re f" : "/N Do");
  load();
  run("/S Do", "<< /XObject << /S 30 0 R >> >>");
  EXPECT_EQ(gray(0, 0), 0);  // the outer run still paints after the refused inner Do
  EXPECT_EQ(r.unreadable, 1);
  run("/A Do", "<< /XObject << /A 31 0 R >> >>");
  EXPECT_EQ(r.unreadable, 1);
  run("/N Do", "<< /XObject << /N 101 0 R >> >>");  // 32 forms deep: allowed
  EXPECT_EQ(gray(0, 0), 0);
  EXPECT_EQ(r.unreadable, 0);
  run("/N Do", "<< /XObject << /N 100 0 R >> >>");  // 33: the innermost is refused
  EXPECT_EQ(gray(0, 0), 255);
  EXPECT_EQ(r.unreadable, 1);
}

TEST_F(XObjects, StencilMasksPaintTheFillColourOnly) {
  b.stream(40, "/Type /XObject /Subtype /Image /Width 2 /Height 1 /ImageMask true",
           std::string(1, '\x40'));
  b.stream(41, "/Type /XObject /Subtype /Image /Width 2 /Height 1 /ImageMask true /Decode [1 0]",
           std::string(1, '\x40'));
  load();
  const std::string mres = "<< /XObject << /M 40 0 R /I 41 0 R >> >>";
  for (const char *name : {"M", "I"}) {
    run(std::string("0 0 1 rg 0 0 40 40 re f 1 0 0 rg 40 0 0 40 0 0 cm /") + name + " Do", mres);
    bool plain = name[0] == 'M';
    // Sample 0 (left half) marks in the plain mask, sample 1 (right half) in the inverted one.
    EXPECT_EQ(red(5, 5), plain ? 255 : 0) << name;
    EXPECT_EQ(blue(5, 5), plain ? 0 : 255) << name;
    EXPECT_EQ(red(35, 5), plain ? 0 : 255) << name;
  }
}

TEST_F(XObjects, InlineImagesFillTheUnitSquare) {
  load();
  const std::string flat = zlib_compress(std::string("\x00\xff\xff\x00", 4));
  const std::string cases[] = {
      "BI /W 2 /H 2 /BPC 8 /CS /G /F /Fl ID " + flat + "\nEI",
      "BI /Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter [/FlateDecode] "
      "ID\n" + flat + " EI",
      "BI /W 2 /H 2 /BPC 1 /CS /G /D [1 0] ID \x80\x40 EI",
      "BI /W 2 /H 2 /CS /P ID " + std::string("\x00\x01\x01\x00", 4) + " EI",
      "BI /W 2 /H 2 /CS [/I /G 1 <00FF>] ID " + std::string("\x00\x01\x01\x00", 4) + " EI",
      "BI /W 2 /H 2 /IM true ID \x40\x80 EI",
  };
  for (const std::string &img : cases) {
    run("20 0 0 20 10 10 cm " + img + " 0 g", "<< /ColorSpace << /P [/Indexed /DeviceGray 1 <00FF>] >> >>");
    EXPECT_EQ((std::vector<int>{gray(12, 12), gray(25, 12), gray(12, 25), gray(25, 25)}),
              (std::vector<int>{0, 255, 255, 0}))
        << img;
    EXPECT_EQ((std::vector<int>{gray(9, 9), gray(30, 30)}), (std::vector<int>{255, 255})) << img;
    EXPECT_EQ(r.unreadable, 0) << img;
  }
}

TEST(XObjectPages, ImagesAreJudgedByTheirInk) {
  ASSERT_EQ(leafsift_init(), 1);
  // A 32 x 32 gray image over the whole page: a black square in its middle, or all white.
  std::string dark(32 * 32, '\xff'), light(32 * 32, '\xff');
  for (int y = 8; y < 24; y++)
    for (int x = 8; x < 24; x++) dark[y * 32 + x] = 0;
  auto page = [](const std::string &samples) {
    pdf_builder b;
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
             "/Resources << /XObject << /Im0 5 0 R >> >> >>");
    b.stream(4, "", "q 612 0 0 792 0 0 cm /Im0 Do Q");
    b.flate_stream(5, "/Type /XObject /Subtype /Image /Width 32 /Height 32 /BitsPerComponent 8 "
                      "/ColorSpace /DeviceGray", samples);
    b.xref_trailer("/Root 1 0 R");
    return b.str();
  };
  const std::string inked = scratch_dir() + "/image-ink.pdf";
  const std::string blank = scratch_dir() + "/image-white.pdf";
  ASSERT_TRUE(write_file(inked, page(dark)));
  ASSERT_TRUE(write_file(blank, page(light)));
  const char *got = leafsift_detect(inked.c_str(), 99);
  ASSERT_NE(got, nullptr) << leafsift_last_error();
  EXPECT_STREQ(got, "[]");
  got = leafsift_detect(blank.c_str(), 99);
  ASSERT_NE(got, nullptr) << leafsift_last_error();
  EXPECT_STREQ(got, "[1]");
  leafsift_cleanup();
}

}  // namespace

namespace {

TEST_F(XObjects, HostileInlineParametersEndQuietly) {
  load();
  const std::string cases[] = {
      "BI /W 99999 /H 1 ID x EI",         "BI /W 1 /H 1 /BPC -1 ID x EI",
      "BI /W 1 /H 1 /BPC 7 ID x EI",      "BI /W 1 /H 1 /CS [/I /RGB 300 < ID x EI",
      "BI /W 1 /H 1 /CS [/I ID x EI",     "BI /W 1 /H 1 /F [ ID x EI",
      "BI /W 1 /H 1 /D [ ID x EI",        "BI /W 1 /H 1 /CS /Nope ID x EI",
      "BI /W 1 /H 1 /CS [/I /I 1 <00>] ID x EI", "BI << /W 1 /H ( ID x EI",
      "BI /W 3e9 /H -4 ID x EI",          "BI /W 1 /H 1 /F /A85 ID ~> EI",
  };
  for (const std::string &c : cases) {
    run("5 0 0 5 0 0 cm " + c + " 1 0 0 rg 30 30 2 2 re f", "<< >>");
    EXPECT_EQ(red(31, 31), 255) << c;  // the content goes on after EI
    EXPECT_EQ(r.unreadable, 1) << c;
  }
}

}  // namespace
