// The blank decision: the text test's delimiter rules, the light-pixel rule and its threshold
// edges, and the marks that keep a page whatever its pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/classify.h"
#include "leafsift.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

bool shows(const std::string &s) {
  return content_shows_text(reinterpret_cast<const uint8_t *>(s.data()),
                            static_cast<int32_t>(s.size()));
}

TEST(TextTest, DelimiterRules) {
  struct {
    const char *content;
    bool text;
  } cases[] = {
      {"BT /F1 12 Tf (Hello) Tj ET", true},
      {"[(a) 120 (b)]TJ", true},
      {"(line)' ", true},
      {"1 2 (x)\" ", true},
      {"<48656C6C6F>Tj", true},  // a hex string straight before Tj
      {"<48656C6C6F> Tj", true},
      {"/Tj", true},             // names and strings count too
      {"(Tj)", true},
      {"Tj", false},             // position 0 is never an operator
      {"xTj", false},
      {"0Tj", false},
      {"q Q", false},
      {"1 0 0 1 0 0 cm", false},
      {"abc '", false},           // the last byte is not examined
      {" Tk", false},
  };
  for (const auto &c : cases) EXPECT_EQ(shows(c.content), c.text) << c.content;
  EXPECT_FALSE(content_shows_text(nullptr, 0));
}

TEST(LightShare, DarkestChannelDecides) {
  auto share = [](std::vector<uint8_t> px, int t) {
    return light_share(px.data(), static_cast<int64_t>(px.size() / 4), t);
  };
  // Blue ballpoint is ink: its red channel is dark even though its blue is light.
  EXPECT_EQ(share({60, 80, 190, 255}, 99), 0.0);
  EXPECT_EQ(share({0, 0, 255, 255}, 99), 0.0);   // pure blue is ink
  EXPECT_EQ(share({255, 255, 0, 255}, 99), 0.0); // so is yellow
  // Grey pixels count exactly as by any single channel: t = 99 takes 156 up, t = 100 155 up.
  EXPECT_EQ(share({156, 156, 156, 255}, 99), 100.0);
  EXPECT_EQ(share({155, 155, 155, 255}, 99), 0.0);
  EXPECT_EQ(share({155, 155, 155, 255}, 100), 100.0);
  EXPECT_EQ(share({254, 254, 254, 255}, 1), 100.0);
  EXPECT_EQ(share({253, 253, 253, 255}, 1), 0.0);
  EXPECT_EQ(share({255, 255, 255, 255, 0, 0, 0, 255}, 99), 50.0);
  EXPECT_EQ(light_share(nullptr, 0, 99), 100.0);
}

class Detect : public ::testing::Test {
 protected:
  void SetUp() override { leafsift_init(); }
  void TearDown() override { leafsift_cleanup(); }
  std::string detect(const std::string &pdf, int t = 99) {
    std::string path = scratch_dir() + "/d.pdf";
    EXPECT_TRUE(write_file(path, pdf));
    const char *r = leafsift_detect(path.c_str(), t);
    return r ? r : std::string("error: ") + leafsift_last_error();
  }
};

TEST_F(Detect, ThresholdEdges) {
  // 408 x 528 pixels at 48 dpi; a rule of 2 x 540 points, about 0.5 % of the pixels.
  std::string rule = simple_pdf({"0 g 0 0 612 2.5 re f"});
  EXPECT_EQ(detect(rule, 99), "[1]");
  EXPECT_EQ(detect(rule, 100), "[]");
  std::string white = simple_pdf({"1 g 0 0 612 792 re f", ""});
  for (int t : {1, 50, 99, 100, 0, -5, 1000}) EXPECT_EQ(detect(white, t), "[1,2]") << t;
  std::string blue = simple_pdf({"0 0 1 rg 0 0 612 792 re f", "1 1 0 rg 0 0 612 792 re f"});
  EXPECT_EQ(detect(blue), "[]");
}

TEST_F(Detect, MarksKeepAPage) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] /Count 6 >>");
  const std::string page = "/Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] ";
  // A signature stamp: an annotation with a normal appearance.
  b.obj(3, "<< " + page + "/Annots [<< /Subtype /Stamp /Rect [10 10 100 50] /AP << /N 20 0 R >> >>] >>");
  // A link and a hidden annotation do not count.
  b.obj(4, "<< " + page + "/Annots [<< /Subtype /Link /Rect [0 0 9 9] /AP << /N 20 0 R >> >> "
           "<< /Subtype /Stamp /F 2 /Rect [0 0 9 9] /AP << /N 20 0 R >> >>] >>");
  // A shading from the resources.
  b.obj(5, "<< " + page + "/Contents 21 0 R /Resources << /Shading << /Sh0 << /ShadingType 2 >> >> >> >>");
  // Content in a filter this library does not decode.
  b.obj(6, "<< " + page + "/Contents 22 0 R >>");
  // Text the interpreter shows where the text test cannot see it (ASCII85 content).
  b.obj(7, "<< " + page + "/Contents 23 0 R >>");
  // A page too large to render.
  b.obj(8, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 50000 50000] >>");
  b.stream(20, "/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 g 0 0 10 10 re f");
  b.stream(21, "", "/Sh0 sh");
  b.stream(22, "/Filter /JBIG2Decode", "\x80\x0b\x60\x50");
  b.stream(23, "/Filter /ASCII85Decode", "6<#'U880Lq<,*OE;u~>");  // "BT (Hi) Tj ET"
  b.xref_trailer("/Root 1 0 R");
  EXPECT_EQ(detect(b.str()), "[2]");

  // Stopping the drawing at the first mark settles the same verdicts as drawing in full.
  std::string pdf = b.str();
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  pdf_doc doc;
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "m", doc), 0);
  for (int32_t i = 0; i < doc.pages.count(); ++i) {
    page_verdict quick = classify_page(doc, i, 99), full = classify_page(doc, i, 99, true);
    EXPECT_EQ(quick.blank, full.blank) << i;
    EXPECT_EQ(quick.unread, full.unread) << i;
    EXPECT_EQ(quick.marked, full.marked) << i;
  }
}

TEST_F(Detect, WholePageBoxIsRendered) {
  // A box centred on the origin: ink in its lower-left quarter must be seen.
  std::string pdf = simple_pdf({"0 g -300 -400 300 400 re f"}, "[-300 -400 300 400]");
  EXPECT_EQ(detect(pdf), "[]");
}

}  // namespace
