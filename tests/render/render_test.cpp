// The rendering driver: raster size from the page box and rotation, the base matrix for each
// rotation, and the driver's messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/render.h"
#include "support/pdf_builder.h"

namespace {

bool load(const std::string &pdf, pdf_doc &doc) {
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "t", doc) == 0;
}

TEST(RenderDriver, RasterSizeFromBoxAndRotation) {
  struct {
    const char *box, *extra;
    int w, h;
  } cases[] = {
      {"[0 0 612 792]", "", 408, 528},
      {"[0 0 612 792]", "/Rotate 90", 528, 408},
      {"[0 0 612 792]", "/Rotate 270", 528, 408},
      {"[0 0 612 792]", "/Rotate 45", 408, 528},
      {"[0 0 0.5 0.5]", "", 1, 1},
      {"[0 0 49152 100]", "", 32768, 67},
      {"[100 100 712 892]", "", 408, 528},  // the box's own size, wherever it starts
  };
  for (const auto &c : cases) {
    pdf_doc doc;
    ASSERT_TRUE(load(simple_pdf({""}, c.box, c.extra), doc)) << c.box;
    int w = 0, h = 0;
    c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
    ASSERT_TRUE(px) << c.box << " " << c.extra << ": " << g_err;
    EXPECT_EQ(w, c.w) << c.box << " " << c.extra;
    EXPECT_EQ(h, c.h) << c.box << " " << c.extra;
  }
}

TEST(RenderDriver, Messages) {
  pdf_doc doc;
  ASSERT_TRUE(load(simple_pdf({"", ""}, "[0 0 49152.75 100]"), doc));
  int w = -1, h = -1;
  EXPECT_FALSE(lsf_render_page(doc, 0, 48, &w, &h));
  EXPECT_STREQ(g_err, "page too large at 48 dpi (32769x67 px)");
  EXPECT_EQ(w, -1);
  EXPECT_FALSE(lsf_render_page(doc, 2, 48, &w, &h));
  EXPECT_STREQ(g_err, "page 3 out of range (1..2)");
  EXPECT_FALSE(lsf_render_page(doc, -1, 48, &w, &h));
  EXPECT_STREQ(g_err, "page 0 out of range (1..2)");
}

// A black inch square at the user-space origin shows turned clockwise with the page.
TEST(RenderDriver, BaseMatrixPerRotation) {
  struct {
    const char *extra;
    int x, y;  // a device pixel inside the square
  } cases[] = {
      {"", 24, 504},            // bottom left
      {"/Rotate 90", 24, 24},   // top left
      {"/Rotate 180", 384, 24}, // top right
      {"/Rotate 270", 504, 384},// bottom right
  };
  for (const auto &c : cases) {
    pdf_doc doc;
    ASSERT_TRUE(load(simple_pdf({"0 g 0 0 72 72 re f"}, "[0 0 612 792]", c.extra), doc));
    int w = 0, h = 0;
    c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
    ASSERT_TRUE(px);
    auto at = [&](int x, int y) { return px.get()[(static_cast<size_t>(y) * w + x) * 4]; };
    EXPECT_EQ(at(c.x, c.y), 0) << c.extra;
    int ink = 0;
    for (int i = 0; i < w * h; ++i) ink += px.get()[static_cast<size_t>(i) * 4] == 0;
    EXPECT_EQ(ink, 48 * 48) << c.extra;
  }
  // A box off the origin is shifted into the raster.
  pdf_doc doc;
  ASSERT_TRUE(load(simple_pdf({"0 g 100 100 72 72 re f"}, "[100 100 712 892]"), doc));
  int w = 0, h = 0;
  c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
  ASSERT_TRUE(px);
  EXPECT_EQ(px.get()[(static_cast<size_t>(504) * w + 24) * 4], 0);
}

TEST(RenderDriver, EmptyPagesAreWhiteAndOpaque) {
  for (const std::string &content : {std::string(""), std::string("q Q")}) {
    pdf_doc doc;
    ASSERT_TRUE(load(simple_pdf({content}), doc));
    int w = 0, h = 0;
    c_ptr<uint8_t> px = lsf_render_page(doc, 0, 48, &w, &h);
    ASSERT_TRUE(px);
    for (int i = 0; i < w * h * 4; ++i) ASSERT_EQ(px.get()[i], 255);
  }
}

}  // namespace
