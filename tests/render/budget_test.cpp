// The work a page and a call may cost: pages built to cost without end (forms nested a
// thousand by a thousand, a million fills, an image drawn thousands of times, thousands of
// pages sharing one heavy content) stop being drawn and are kept, never judged on the part
// drawn; pages of the same make at ordinary counts are drawn whole and judged as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/classify.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "render/interp.h"
#include "render/raster.h"
#include "render/render.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

std::string repeat(const std::string &s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// One page (or `pages` pages sharing one content stream) of the given box, US Letter unless
// told, with the given content and resources; forms from 5 on. Everything the fixtures paint is white, so a render
// cut short would look exactly as blank as a whole one.
std::string document(const std::string &content, const std::string &resources = "",
                     const std::vector<std::pair<int, std::string>> &forms = {},
                     int pages = 1, const std::string &box = "[0 0 612 792]") {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(100 + i) + " 0 R ";
  b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  b.flate_stream(3, "", content);
  for (const auto &[num, body] : forms) {
    const size_t split = body.find('|');
    b.flate_stream(num, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] " + body.substr(0, split),
                   body.substr(split + 1));
  }
  for (int i = 0; i < pages; ++i)
    b.obj(100 + i, "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Resources << " +
                       resources + " >> /Contents 3 0 R >>");
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

const char *white_fill = "1 1 1 rg 0 0 612 792 re f\n";

// Form 5 draws form 6 `inner` times; the page draws form 5 `outer` times.
std::string nested_forms(int outer, int inner) {
  return document(repeat("/A Do\n", outer), "/XObject << /A 5 0 R >>",
                  {{5, "/Resources << /XObject << /B 6 0 R >> >>|" + repeat("/B Do\n", inner)},
                   {6, "|1 1 1 rg 0 0 1 1 re f"}});
}

// Twenty forms, each drawing the next four times: 4^20 runs if nothing stopped them.
std::string form_chain() {
  std::vector<std::pair<int, std::string>> forms;
  for (int i = 0; i < 20; ++i)
    forms.push_back({10 + i, "/Resources << /XObject << /N " + std::to_string(11 + i) +
                                 " 0 R >> >>|/N Do /N Do /N Do /N Do"});
  forms.push_back({30, std::string("|") + white_fill});
  return document("/N Do", "/XObject << /N 10 0 R >>", forms);
}

std::string image_drawn(int times) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
           "/Resources << /XObject << /I 5 0 R >> >> /Contents 4 0 R >>");
  b.flate_stream(4, "", repeat("q 612 0 0 792 0 0 cm /I Do Q\n", times));
  b.flate_stream(5, "/Type /XObject /Subtype /Image /Width 2000 /Height 2000 /ColorSpace "
                    "/DeviceGray /BitsPerComponent 8",
                 std::string(2000 * 2000, '\xff'));
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

std::string detect(const std::string &pdf, const char *name) {
  const std::string path = scratch_dir() + "/" + name + ".pdf";
  EXPECT_TRUE(write_file(path, pdf));
  const char *got = leafsift_detect(path.c_str(), 99);
  return got ? got : std::string("error: ") + leafsift_last_error();
}

class WorkBudget : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(leafsift_init(), 1); }
  void TearDown() override { leafsift_cleanup(); }
};

TEST_F(WorkBudget, EndlessPagesAreKeptOrdinaryOnesJudged) {
  struct {
    const char *name;
    std::string pdf;
    const char *expected;
  } cases[] = {
      {"forms-10x10", nested_forms(10, 10), "[1]"},
      {"form-chain", form_chain(), "[]"},
      {"fills-million", document(repeat(white_fill, 1000000)), "[]"},
      {"fills-hundred", document(repeat(white_fill, 100)), "[1]"},
      {"image-20000", image_drawn(20000), "[]"},
      {"image-3", image_drawn(3), "[1]"},
      {"wide-curves", document("1 1 1 RG 100 w 0 0 m " + repeat("612 792 612 0 0 792 c ", 300000) + "S"),
       "[]"},
  };
  for (const auto &c : cases) EXPECT_EQ(detect(c.pdf, c.name), c.expected) << c.name;
}

// The page budget is one for all nesting: forms and the forms inside them spend it together,
// and a page that runs out is halted and marked, whatever it had drawn; detect keeps it.
TEST_F(WorkBudget, NestedFormsSpendTheirPagesBudget) {
  const std::string pdf = nested_forms(1000, 1000);
  pdf_doc doc;
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "forms", doc), 0);
  render_marks marks;
  int w = 0, h = 0;
  ASSERT_TRUE(lsf_render_page(doc, 0, 48, &w, &h, &marks));
  EXPECT_EQ(marks.unreadable, 1);
  EXPECT_FALSE(classify_page(doc, 0, 99).blank);

  // The outer thousand alone, with inner forms of one run each, fits.
  const std::string light = nested_forms(1000, 1);
  bytes.reset(static_cast<uint8_t *>(std::malloc(light.size())));
  std::memcpy(bytes.get(), light.data(), light.size());
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(light.size()), "forms", doc), 0);
  ASSERT_TRUE(lsf_render_page(doc, 0, 48, &w, &h, &marks));
  EXPECT_EQ(marks.unreadable, 0);
}

// Pages of one call share a budget besides their own: a small file whose many pages all
// draw one heavy content is stopped as a whole, its pages kept; many pages of light content
// are all judged.
TEST_F(WorkBudget, PagesOfOneCallShareABudget) {
  const std::string heavy = document(repeat(white_fill, 20000), "", {}, 3000);
  pdf_doc doc;
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(heavy.size())));
  std::memcpy(bytes.get(), heavy.data(), heavy.size());
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(heavy.size()), "heavy", doc), 0);
  work_call call;
  lsf_call_work(doc, call);
  detect_options o;
  int unread = 0;
  for (int32_t i = 0; i < doc.pages.count(); ++i) {
    const page_verdict v = classify_page_with(doc, i, o, false, &call);
    EXPECT_FALSE(v.blank) << "page " << i + 1;
    unread += v.unread ? 1 : 0;
  }
  EXPECT_EQ(unread, 3000);
  EXPECT_LT(call.left, 0);

  const std::string light = document(repeat(white_fill, 2), "", {}, 300);
  // Huge empty pages cost their pixels whatever they draw: the call stops drawing them.
  const std::string huge = document("", "", {}, 3000, "[0 0 9000 9000]");
  const std::string got = detect(huge, "huge-pages");
  const size_t listed = static_cast<size_t>(std::count(got.begin(), got.end(), ',')) + 1;
  EXPECT_EQ(got.rfind("[1,", 0), 0u) << got.substr(0, 40);
  EXPECT_LT(listed, 3000u);

  std::string all = "[";
  for (int i = 1; i <= 300; ++i) all += (i > 1 ? "," : "") + std::to_string(i);
  EXPECT_EQ(detect(light, "light-pages"), all + "]");
}

}  // namespace
