// Gathering a page's content for the text test: /Contents in its forms, joined with line
// feeds, then the XObjects the content draws, each appended once, through the resources the
// renderer uses.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "emit/gather.h"
#include "pdfcore/document.h"
#include "support/pdf_builder.h"

namespace {

// Catalog 1 and page tree 2 around page 3, whose dictionary gets `page_extra`; the test adds
// the other objects.
pdf_builder page_doc(const std::string &page_extra, const std::string &pages_extra = "") {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + pages_extra + " >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + page_extra + " >>");
  return b;
}

// The gathered bytes of page object 3, or nullopt for a null result (whose count must be 0).
std::optional<std::string> gather(pdf_builder &b, int page = 3) {
  b.xref_trailer("/Root 1 0 R");
  const std::string &pdf = b.str();
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  pdf_doc doc;
  EXPECT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "t", doc), 0);
  int32_t len = -7;
  c_ptr<uint8_t> got = lsf_gather_content(doc, obj_find(doc.objs, page), &len);
  if (!got) {
    EXPECT_EQ(len, 0);
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char *>(got.get()), static_cast<size_t>(len));
}

const char *k_form = "/Type /XObject /Subtype /Form /BBox [0 0 10 10]";

TEST(GatherContents, StreamsAreJoinedWithALineFeed) {
  pdf_builder b = page_doc("/Contents [4 0 R 9 0 R 5 0 R 6 0 R]");
  b.stream(4, "", "BT");
  b.stream(5, "", "ET");
  b.flate_stream(6, "", "q Q");
  EXPECT_EQ(gather(b), "BT\nET\nq Q");  // missing object 9 adds nothing, not even a line feed
}

TEST(GatherContents, AReferenceToAnArrayIsFollowed) {
  pdf_builder b = page_doc("/Contents 4 0 R");
  b.obj(4, "[5 0 R 6 0 R]");
  b.stream(5, "", "q");
  b.stream(6, "", "Q");
  EXPECT_EQ(gather(b), "q\nQ");
}

TEST(GatherContents, NothingToGatherGivesNull) {
  for (const char *extra : {"", "/Contents []", "/Contents (text)", "/Contents 8 0 R",
                            "/Contents 4 0 R"}) {
    pdf_builder b = page_doc(extra);
    b.obj(4, "<< /Not /AStream >>");
    EXPECT_EQ(gather(b), std::nullopt) << extra;
  }
  pdf_doc empty;
  int32_t len = -7;
  EXPECT_EQ(lsf_gather_content(empty, nullptr, &len), nullptr);
  EXPECT_EQ(len, -7);
}

TEST(GatherContents, OnlyThePagesOwnContentsKeyCounts) {
  // An annotation written inside the page has a /Contents of its own (its text).
  pdf_builder b = page_doc("/Annots [<< /Subtype /Text /Contents 5 0 R >>] /Contents 4 0 R");
  b.stream(4, "", "0 0 m S");
  b.stream(5, "", "BT (x) Tj ET");
  EXPECT_EQ(gather(b), "0 0 m S");
}

TEST(GatherContents, PageInAnObjectStream) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.object_stream(10, {{3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 9 9] /Contents 4 0 R "
                           "/Resources << /XObject << /Im1 7 0 R >> >> >>"}});
  b.stream(4, "", "/Im1 Do");
  b.stream(7, "/Subtype /Form", "FORM");
  EXPECT_EQ(gather(b), "/Im1 Do\nFORM");
}

TEST(GatherXObjects, FormsAreAppendedAfterTheContentAndImagesAreNot) {
  // Image samples are no content: "(x) Tj" bytes in a scan's data do not show text.
  struct {
    const char *dict;
    const char *gathered;
  } cases[] = {
      {k_form, "q /Im1 Do Q\nBT (x) Tj ET"},
      {"/Type /XObject /Subtype /Image /Width 1 /Height 1", "q /Im1 Do Q"},
      {"/Subtype/Image /Width 1 /Height 1", "q /Im1 Do Q"},
  };
  for (const auto &c : cases) {
    pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /Im1 7 0 R >> >>");
    b.stream(4, "", "q /Im1 Do Q");
    b.flate_stream(7, c.dict, "BT (x) Tj ET");
    EXPECT_EQ(gather(b), c.gathered) << c.dict;
  }
}

TEST(GatherXObjects, DoMustFollowTheWholeName) {
  struct {
    std::string content;
    bool drawn;
  } cases[] = {
      {"/Fm1 Do", true},     {"/Fm1Do", true},     {"/Fm1 \r\n Do", true},
      {"/Fm1 Dox", true},    {"/Fm10 Do", false},  {"/Fm1 D o", false},
      {"Fm1 Do", false},     {"/Fm Do", false},    {"/Fm1 do", false},
      {"/Fm1 Q Do", false},  {"(x) /Fm1  Do", true},
  };
  for (const auto &c : cases) {
    pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /Fm1 7 0 R >> >>");
    b.stream(4, "", c.content);
    b.stream(7, k_form, "FORM");
    EXPECT_EQ(gather(b), c.drawn ? c.content + "\nFORM" : c.content) << c.content;
  }
}

TEST(GatherXObjects, NamesSharingABeginningAreToldApart) {
  pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /Fm1 7 0 R /Fm10 8 0 R "
                           "/F-1+_ 9 0 R /Fm100 10 0 R >> >>");
  b.stream(4, "", "/Fm10 Do /F-1+_ Do");
  b.stream(7, k_form, "SEVEN");
  b.stream(8, k_form, "EIGHT");
  b.stream(9, k_form, "NINE");
  b.stream(10, k_form, "TEN");
  EXPECT_EQ(gather(b), "/Fm10 Do /F-1+_ Do\nEIGHT\nNINE");
}

TEST(GatherXObjects, EveryEntryOfADrawnNameCounts) {
  pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /A 7 0 R /A 8 0 R >> >>");
  b.stream(4, "", "/A Do");
  b.stream(7, k_form, "SEVEN");
  b.stream(8, k_form, "EIGHT");
  EXPECT_EQ(gather(b), "/A Do\nSEVEN\nEIGHT");
}

TEST(GatherXObjects, DictionaryByReferenceAndInheritedResources) {
  {
    pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject 9 0 R >>");
    b.stream(4, "", "/Im1 Do");
    b.obj(9, "<< /Im1 7 0 R >>");
    b.stream(7, k_form, "FORM");
    EXPECT_EQ(gather(b), "/Im1 Do\nFORM");
  }
  {
    // No resources of its own: the page draws with its parent's, and so is it gathered.
    pdf_builder b = page_doc("/Contents 4 0 R", "/Resources << /XObject << /Fm1 7 0 R >> >>");
    b.stream(4, "", "/Fm1 Do");
    b.stream(7, k_form, "BT (hidden) Tj ET");
    EXPECT_EQ(gather(b), "/Fm1 Do\nBT (hidden) Tj ET");
  }
  {
    // Resources of its own win over the parent's.
    pdf_builder b = page_doc("/Contents 4 0 R /Resources << >>",
                             "/Resources << /XObject << /Fm1 7 0 R >> >>");
    b.stream(4, "", "/Fm1 Do");
    b.stream(7, k_form, "FORM");
    EXPECT_EQ(gather(b), "/Fm1 Do");
  }
}

TEST(GatherXObjects, FormsSharingOneDictionary) {
  // The page and both forms reach their XObjects through one resource object and one
  // XObject dictionary object; each form is gathered once, whichever way it is reached.
  pdf_builder b = page_doc("/Contents 4 0 R /Resources 9 0 R");
  b.stream(4, "", "/A Do /B Do");
  b.obj(9, "<< /XObject 10 0 R >>");
  b.obj(10, "<< /A 5 0 R /B 6 0 R /C 7 0 R /D 8 0 R >>");
  b.stream(5, std::string(k_form) + " /Resources 9 0 R", "/C Do");
  b.stream(6, std::string(k_form) + " /Resources << /XObject 10 0 R >>", "/C Do /D Do");
  b.stream(7, k_form, "SEVEN");
  b.stream(8, k_form, "EIGHT");
  EXPECT_EQ(gather(b), "/A Do /B Do\n/C Do\nSEVEN\n/C Do /D Do\nEIGHT");
}

TEST(GatherXObjects, ThreeLevelsBelowThePage) {
  pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /A 5 0 R >> >>");
  b.stream(4, "", "/A Do");
  b.stream(5, std::string(k_form) + " /Resources << /XObject << /B 6 0 R >> >>", "/B Do");
  b.stream(6, std::string(k_form) + " /Resources << /XObject << /C 7 0 R >> >>", "/C Do");
  b.stream(7, std::string(k_form) + " /Resources << /XObject << /D 8 0 R >> >>", "/D Do");
  b.stream(8, k_form, "TOO DEEP");
  EXPECT_EQ(gather(b), "/A Do\n/B Do\n/C Do\n/D Do");
}

TEST(GatherXObjects, AFormReachedDeepFirstIsStillFollowedFromHigherUp) {
  // X is met first at the third level (page > A > B > X), where its own forms are out of
  // reach, and then directly from the page: Y, one level below it, must be gathered too.
  pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /A 5 0 R /X 7 0 R >> >>");
  b.stream(4, "", "/A Do /X Do");
  b.stream(5, std::string(k_form) + " /Resources << /XObject << /B 6 0 R >> >>", "/B Do");
  b.stream(6, std::string(k_form) + " /Resources << /XObject << /X 7 0 R >> >>", "/X Do");
  b.stream(7, std::string(k_form) + " /Resources << /XObject << /Y 8 0 R >> >>", "/Y Do");
  b.stream(8, k_form, "BT (y) Tj ET");
  EXPECT_EQ(gather(b), "/A Do /X Do\n/B Do\n/X Do\n/Y Do\nBT (y) Tj ET");
}

TEST(GatherXObjects, AFormThatDrawsItselfIsAppendedOnce) {
  pdf_builder b = page_doc("/Contents 4 0 R /Resources << /XObject << /Fm1 7 0 R >> >>");
  b.stream(4, "", "/Fm1 Do");
  b.stream(7, std::string(k_form) + " /Resources << /XObject << /Fm1 7 0 R >> >>", "q /Fm1 Do Q");
  EXPECT_EQ(gather(b), "/Fm1 Do\nq /Fm1 Do Q");
}

TEST(GatherXObjects, AFormNamedByAThousandEntriesIsAppendedOnce) {
  // Drawn under 1000 names on every level, the form would be appended 10^9 times if each
  // entry counted.
  std::string entries, draws;
  for (int i = 0; i < 1000; i++) {
    entries += "/F" + std::to_string(i) + " 7 0 R ";
    draws += "/F" + std::to_string(i) + " Do ";
  }
  const std::string res = "/Resources << /XObject << " + entries + ">> >>";
  pdf_builder b = page_doc("/Contents 4 0 R " + res);
  b.stream(4, "", draws);
  b.stream(7, std::string(k_form) + " " + res, draws + "FORM");
  EXPECT_EQ(gather(b), draws + "\n" + draws + "FORM");
}

}  // namespace
