// Carrying objects over: which objects the output holds and under which numbers, how
// references are rewritten (and what is not a reference), and that the copies read back as
// the same resources.
#include "emit/carry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emit/emit_support.h"

using namespace emit_test;
namespace fs = std::filesystem;

namespace {

// A one-page document whose page has the given /Resources value; more objects from 5 on,
// each a plain object or, when its body starts with "stream:", a stream of the dictionary
// entries before the second ":" and the data after it.
std::string with_resources(const std::string &resources,
                           const std::vector<std::pair<int, std::string>> &objects,
                           const std::string &catalog_extra = "") {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R " + catalog_extra + ">>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + resources +
               " /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  for (const auto &[num, body] : objects) {
    if (body.rfind("stream:", 0) == 0) {
      size_t colon = body.find(':', 7);
      b.stream(num, body.substr(7, colon - 7), body.substr(colon + 1));
    } else {
      b.obj(num, body);
    }
  }
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

// The resource dictionary the first form carries, as written.
std::string form_resources(const std::string &pdf) {
  std::string form = object_text(pdf, 3);
  size_t at = form.find("/Resources");
  size_t end = form.rfind(" >>\nstream\n");
  return at == std::string::npos ? "" : form.substr(at + 10, end - at - 10);
}

// The copy at output number m, without its head and endobj.
std::string copy_body(const std::string &pdf, int m) {
  std::string t = object_text(pdf, m);
  std::string head = std::to_string(m) + " 0 obj\n";
  if (t.rfind(head, 0) != 0) return "<none>";
  return t.substr(head.size(), t.size() - head.size() - 6);
}

int object_count(const std::string &pdf) {
  size_t at = pdf.rfind("/Size ");
  return at == std::string::npos ? -1 : std::atoi(pdf.c_str() + at + 6);
}

TEST(CarryRewrite, ReferencesAndWhatIsNotOne) {
  pdf_doc doc;
  ASSERT_TRUE(load(with_resources("<< >>", {{5, "<< /A 1 >>"}, {6, "[1 2]"}}), doc));
  struct {
    const char *in, *out;
  } cases[] = {
      {"<< /XObject << /Im0 5 0 R >> >>", "<< /XObject << /Im0 100 0 R >> >>"},
      {"[5 0 R 6 0 R 5 0 R]", "[100 0 R 101 0 R 100 0 R]"},
      {"<</A 5 0 R/B 6 0 R>>", "<</A 100 0 R/B 101 0 R>>"},
      {"5 0\nR", "100 0 R"},
      {"5\r\n0\tR", "100 0 R"},
      {"5 12 R", "100 0 R"},
      {"5 0 % a comment\n R", "100 0 R"},
      {"1 0 0 1 5 0 R", "1 0 0 1 100 0 R"},
      {"/P 3 0 R /Up 2 0 R /Root 1 0 R", "/P null /Up null /Root null"},
      {"/Gone 99 0 R /Far 123456789012 0 R /Zero 0 0 R", "/Gone null /Far null /Zero null"},
      // Not references.
      {"(5 0 R)", "(5 0 R)"},
      {"(a \\) 5 0 R (6 0 R))", "(a \\) 5 0 R (6 0 R))"},
      {"<35 30 20 52>", "<35 30 20 52>"},
      {"% 5 0 R\n", "% 5 0 R\n"},
      {"/F5 0 R", "/F5 0 R"},
      {"/5 0 R", "/5 0 R"},
      {"5 0 RG", "5 0 RG"},
      {"-5 0 R 5.0 0 R 5 0.0 R", "-5 0 R 5.0 0 R 5 0.0 R"},
      {"5 0 obj", "5 0 null"},
      {"(unclosed 5 0 R", "(unclosed 5 0 R"},
      {"<unclosed 5 0 R", "<unclosed 5 0 R"},
      {"5 0", "5 0"},
  };
  for (const auto &c : cases) {
    carry_plan plan;
    carry_init(plan, doc, 100);
    buf out;
    carry_rewrite(plan, doc, reinterpret_cast<const uint8_t *>(c.in),
                  static_cast<int32_t>(std::strlen(c.in)), out);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data), out.len), c.out) << c.in;
  }
}

// The reader of the copy finds objects by their heads wherever they stand, so no carried text
// may hold "n g obj", endobj or trailer, however the input hid them; what the text says stays.
TEST(CarryRewrite, StructureWordsNeverReachTheCopy) {
  pdf_doc doc;
  ASSERT_TRUE(load(with_resources("<< >>", {{5, "<< /A 1 >>"}}), doc));
  struct {
    const char *in, *out;
  } cases[] = {
      {"(see 1 0 obj)", "(see 1 0 \\157bj)"},
      {"(a \\obj b)", "(a \\157bj b)"},
      {"(a \\\\obj b)", "(a \\\\\\157bj b)"},
      {"(end endobj trailer)", "(end end\\157bj \\164railer)"},
      {"<< /A 1 % 1 0 obj here\n/B 2 >>", "<< /A 1 \n/B 2 >>"},
      {"% trailer << /Encrypt 1 >>", ""},
      {"<4142 1 0 obj>", "<4142 1 0 b>"},
      {"/endobj /Xtrailer", "/#65ndobj /X#74railer"},
      {"<< /Enc\n1 0 obj\n<< /Type /Catalog /Pages 5 0 R >>\nendobj",
       "<< /Enc\n1 0 null\n<< /Type /Catalog /Pages 100 0 R >>\nnull"},
      {"[1 2] stream x", "[1 2] null x"},
      {"trailer << >>", "null << >>"},
      // Look-alikes that the reader does not take for structure words pass unchanged.
      {"/objective (no head here) 10obj /x.obj 1 0 objx", "/objective (no head here) 10obj /x.obj 1 0 objx"},
      {"(streams) /stream % stream\n", "(streams) /stream % stream\n"},
  };
  for (const auto &c : cases) {
    carry_plan plan;
    carry_init(plan, doc, 100);
    buf out;
    carry_rewrite(plan, doc, reinterpret_cast<const uint8_t *>(c.in),
                  static_cast<int32_t>(std::strlen(c.in)), out);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data), out.len), c.out) << c.in;
  }
}

TEST(CarryRewrite, StreamDictionariesStateTheirDataLength) {
  pdf_doc doc;
  ASSERT_TRUE(load(with_resources("<< >>", {{5, "42"}}), doc));
  struct {
    const char *in, *out;
  } cases[] = {
      {"<< /Length 42 /Filter /FlateDecode >>\n", "<< /Length 42 /Filter /FlateDecode >>\n"},
      {"<< /Length  5 0 R /Filter /FlateDecode >>", "<< /Length  42 /Filter /FlateDecode >>"},
      {"<< /Length 7 >>", "<< /Length 42 >>"},
      {"<< /Length1 7 /Filter /X >>", "<< /Length1 7 /Filter /X /Length 42 >>"},
      {"<</Filter/X>>", "<</Filter/X /Length 42 >>"},
      {"<< /DecodeParms << /Length 3 >> /Length 42 >>",
       "<< /DecodeParms << /Length 3 >> /Length 42 >>"},
  };
  for (const auto &c : cases) {
    carry_plan plan;
    carry_init(plan, doc, 100);
    buf out;
    carry_rewrite(plan, doc, reinterpret_cast<const uint8_t *>(c.in),
                  static_cast<int32_t>(std::strlen(c.in)), out, 42);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data), out.len), c.out) << c.in;
    EXPECT_TRUE(plan.copies.empty()) << "the replaced length object is not carried: " << c.in;
  }
}

TEST(CarryObjects, NamedObjectsAreCopiedUnderNewNumbers) {
  emitted e = emit(with_resources("<< /XObject << /Im0 5 0 R >> >>",
                                  {{5, "stream:/Type /XObject /Subtype /Image:abc"}}));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(form_resources(e.bytes), "<< /XObject << /Im0 7 0 R >> >>");
  EXPECT_EQ(copy_body(e.bytes, 7),
            "<< /Type /XObject /Subtype /Image /Length 3 >>\nstream\nabc\nendstream\n");
  EXPECT_EQ(object_count(e.bytes), 8);
  expect_table_consistent(e.bytes);
}

TEST(CarryObjects, ResourcesByReferenceAreWrittenInPlace) {
  emitted e = emit(with_resources("9 0 R", {{9, "<< /Font << /F1 5 0 R >> >>"},
                                            {5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"}}));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(form_resources(e.bytes), "<< /Font << /F1 7 0 R >> >>");
  EXPECT_EQ(object_count(e.bytes), 8) << "object 9 itself is not copied";
}

TEST(CarryObjects, SharedObjectsAreCopiedOnce) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F 12 0 R >> >> /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.obj(5, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /G 12 0 R /H 13 0 R >> >> "
           "/Contents 4 0 R >>");
  b.obj(12, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  b.obj(13, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_NE(object_text(e.bytes, 3).find("/Font << /F 11 0 R >>"), std::string::npos);
  EXPECT_NE(object_text(e.bytes, 7).find("/Font << /G 11 0 R /H 12 0 R >>"), std::string::npos);
  EXPECT_EQ(object_count(e.bytes), 13);
}

TEST(CarryObjects, EverythingReachableIsCarriedInTheOrderMet) {
  // Two named objects (a font and an image); behind them a descriptor, widths, an embedded
  // program with an indirect /Length, a soft mask and a palette.
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
           "/Resources << /Font << /F1 20 0 R >> /XObject << /Im1 21 0 R >> >> /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.obj(20, "<< /Type /Font /Subtype /TrueType /FontDescriptor 22 0 R /Widths 23 0 R >>");
  b.stream(21, "/Type /XObject /Subtype /Image /SMask 24 0 R "
               "/ColorSpace [/Indexed /DeviceRGB 1 25 0 R]", "ab");
  b.obj(22, "<< /Type /FontDescriptor /FontFile2 26 0 R >>");
  b.obj(23, "[500 600]");
  b.stream(24, "/Type /XObject /Subtype /Image", "m");
  b.stream(25, "", "pal");
  b.stream(26, "/Length 27 0 R", "font program", false);
  b.obj(27, "12");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(form_resources(e.bytes), "<< /Font << /F1 7 0 R >> /XObject << /Im1 8 0 R >> >>");
  EXPECT_EQ(copy_body(e.bytes, 7),
            "<< /Type /Font /Subtype /TrueType /FontDescriptor 9 0 R /Widths 10 0 R >>\n");
  EXPECT_NE(copy_body(e.bytes, 8).find("/SMask 11 0 R /ColorSpace [/Indexed /DeviceRGB 1 12 0 R]"),
            std::string::npos);
  EXPECT_EQ(copy_body(e.bytes, 9), "<< /Type /FontDescriptor /FontFile2 13 0 R >>\n");
  EXPECT_EQ(copy_body(e.bytes, 10), "[500 600]\n");
  EXPECT_EQ(copy_body(e.bytes, 13), "<< /Length 12 >>\nstream\nfont program\nendstream\n");
  EXPECT_EQ(object_count(e.bytes), 14);
  expect_table_consistent(e.bytes);
  if (have("qpdf")) {
    EXPECT_EQ(qpdf_problems(e.path), "");
  }
}

TEST(CarryObjects, CyclesEndAndPagesAreNotPulledIn) {
  emitted e = emit(with_resources(
      "<< /XObject << /Fm 5 0 R >> >>",
      {{5, "stream:/Type /XObject /Subtype /Form /BBox [0 0 1 1] /P 3 0 R /Doc 1 0 R "
           "/Resources << /XObject << /Back 6 0 R >> >>:q Q"},
       {6, "stream:/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Tree 2 0 R "
           "/Resources << /XObject << /Again 5 0 R /Self 6 0 R >> >>:q Q"}}));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_NE(copy_body(e.bytes, 7).find("/P null /Doc null /Resources << /XObject << /Back 8 0 R"),
            std::string::npos);
  EXPECT_NE(copy_body(e.bytes, 8).find("/Tree null /Resources << /XObject << /Again 7 0 R /Self 8 0 R"),
            std::string::npos);
  EXPECT_EQ(object_count(e.bytes), 9);
}

TEST(CarryObjects, MissingObjects) {
  // Named by the resources themselves: nothing can stand in for it.
  emitted direct = emit(with_resources("<< /Font << /F1 40 0 R >> >>", {}));
  EXPECT_EQ(direct.rc, 0);
  EXPECT_EQ(direct.error, "failed to build output");
  EXPECT_FALSE(fs::exists(direct.path));
  // Met deeper: the reference becomes null.
  emitted deep = emit(with_resources("<< /Font << /F1 5 0 R >> >>",
                                     {{5, "<< /Type /Font /FontDescriptor 40 0 R >>"}}));
  ASSERT_EQ(deep.rc, 1) << deep.error;
  EXPECT_EQ(copy_body(deep.bytes, 7), "<< /Type /Font /FontDescriptor null >>\n");
  // A left-out page's resources do not matter.
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.obj(5, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F 40 0 R >> >> >>");
  b.xref_trailer("/Root 1 0 R");
  EXPECT_EQ(emit(b.str(), {1}).rc, 1);
}

TEST(CarryObjects, StreamDataAndStringsPassUnchanged) {
  const std::string data("5 0 R (\x00\xff 6 0 R", 15);
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /Im 5 0 R >> "
           "/Note (6 0 R) /Hex <36 20 30 20 52> >> /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.stream(5, "/Type /XObject /Subtype /Image /Name (a 6 0 R)", data);
  b.obj(6, "<< /Never /Copied >>");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(form_resources(e.bytes),
            "<< /XObject << /Im 7 0 R >> /Note (6 0 R) /Hex <36 20 30 20 52> >>");
  EXPECT_EQ(copy_body(e.bytes, 7),
            "<< /Type /XObject /Subtype /Image /Name (a 6 0 R) /Length 15 >>\nstream\n" + data +
                "\nendstream\n");
  EXPECT_EQ(object_count(e.bytes), 8);
}

TEST(CarryObjects, ObjectsFromObjectStreamsAreCopiedWhole) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.object_stream(10, {{5, "<< /Type /Font /Widths 6 0 R /FirstChar 7 0 R >>"},
                       {6, "[8 0 R 600]"},
                       {7, "32"},
                       {8, "500"}});
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(copy_body(e.bytes, 7).find("<< /Type /Font /Widths 8 0 R /FirstChar 9 0 R >>"), 0u)
      << copy_body(e.bytes, 7);
  EXPECT_EQ(copy_body(e.bytes, 8).find("[10 0 R 600]"), 0u) << copy_body(e.bytes, 8);
  EXPECT_EQ(copy_body(e.bytes, 9).find("32"), 0u);
  EXPECT_EQ(copy_body(e.bytes, 10).find("500"), 0u);
  expect_table_consistent(e.bytes);
  if (have("qpdf")) {
    EXPECT_EQ(qpdf_problems(e.path), "");
  }
}

TEST(CarryObjects, AWrongLengthIsWrittenRight) {
  // The reader settles the data by the endstream keyword; the copy says what it holds.
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Resources << /XObject << /Im 5 0 R >> >> /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.raw("5 0 obj\n<< /Type /XObject /Subtype /Image /Length 3 >>\nstream\n0123456789\nendstream\nendobj\n");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(copy_body(e.bytes, 7),
            "<< /Type /XObject /Subtype /Image /Length 10 >>\nstream\n0123456789\nendstream\n");
}

TEST(CarryObjects, OptionalContentIsCarriedIntoTheCatalog) {
  const std::string oc = "/OCProperties << /OCGs [8 0 R 9 0 R] /D << /OFF [9 0 R] >> >> ";
  emitted e = emit(with_resources("<< /Properties << /oc1 8 0 R >> >>",
                                  {{8, "<< /Type /OCG /Name (one) >>"},
                                   {9, "<< /Type /OCG /Name (two) >>"}},
                                  oc));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(object_text(e.bytes, 1),
            "1 0 obj\n<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [7 0 R 8 0 R] "
            "/D << /OFF [8 0 R] >> >> >>\nendobj");
  EXPECT_EQ(form_resources(e.bytes), "<< /Properties << /oc1 7 0 R >> >>");

  emitted by_ref = emit(with_resources("<< >>",
                                       {{8, "<< /Type /OCG /Name (one) >>"},
                                        {9, "<< /OCGs [8 0 R] /D << >> >>"}},
                                       "/OCProperties 9 0 R "));
  ASSERT_EQ(by_ref.rc, 1) << by_ref.error;
  EXPECT_NE(object_text(by_ref.bytes, 1).find("/OCProperties 7 0 R >>"), std::string::npos);
  EXPECT_EQ(copy_body(by_ref.bytes, 7), "<< /OCGs [8 0 R] /D << >> >>\n");

  emitted dangling = emit(with_resources("<< >>", {}, "/OCProperties 9 0 R "));
  ASSERT_EQ(dangling.rc, 1) << dangling.error;
  EXPECT_EQ(object_text(dangling.bytes, 1),
            "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj");
}

TEST(CarryObjects, DamagedResourcesDoNotStopTheWrite) {
  struct {
    const char *resources;
    int rc;
  } cases[] = {
      {"<< /Font << /F1 5 0 R", 1},          // never closed: no resources at all
      {"<< /Font (( 5 0 R >> >>", 1},        // a string that swallows the rest
      {"<< /Font << /F1 99999999 0 R >> >>", 0},  // names an object no table can hold
      {"<< /A [[[[[[[[[[[[[[[[ 5 0 R >>", 1},
  };
  for (const auto &c : cases) {
    emitted e = emit(with_resources(c.resources, {{5, "<< /Type /Font >>"}}));
    EXPECT_EQ(e.rc, c.rc) << c.resources << ": " << e.error;
    if (e.rc) expect_table_consistent(e.bytes);
  }
}

TEST(CarryObjects, LongChainsAreFollowedWithoutLimit) {
  // Each object names the next; the last names one that is not there.
  constexpr int k_chain = 20000;
  std::vector<std::pair<int, std::string>> chain;
  for (int i = 0; i < k_chain; ++i)
    chain.push_back({10 + i, "<< /Next " + std::to_string(11 + i) + " 0 R >>"});
  emitted e = emit(with_resources("<< /Pattern << /P0 10 0 R >> >>", chain));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(object_count(e.bytes), 7 + k_chain);
  EXPECT_EQ(copy_body(e.bytes, 7), "<< /Next 8 0 R >>\n");
  EXPECT_EQ(copy_body(e.bytes, 6 + k_chain), "<< /Next null >>\n");
}

TEST(CarryObjects, CarriedImagesDrawAsBefore) {
  if (!have("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
  // An indexed image with a palette stream and a soft mask, its /Length indirect.
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
           "/Resources 6 0 R /Contents 4 0 R >>");
  b.stream(4, "", "0 1 0 rg 0 0 200 200 re f q 150 0 0 150 25 25 cm /Im1 Do Q");
  b.obj(6, "<< /XObject << /Im1 5 0 R >> >>");
  b.stream(5, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
              "/ColorSpace [/Indexed /DeviceRGB 1 7 0 R] /SMask 8 0 R /Length 9 0 R",
           std::string("\x00\x01\x01\x00", 4), false);
  b.stream(7, "", std::string("\xff\x00\x00\x00\x00\xff", 6));
  b.stream(8, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 "
              "/ColorSpace /DeviceGray",
           std::string("\xff\x80\xff\x00", 4));
  b.obj(9, "4");
  b.xref_trailer("/Root 1 0 R");
  std::string in = scratch_dir() + "/in.pdf";
  ASSERT_TRUE(write_file(in, b.str()));
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  if (have("qpdf")) {
    EXPECT_EQ(qpdf_problems(e.path), "");
  }
  auto before = render(in, 1, 1), after = render(e.path, 1, 1);
  ASSERT_EQ(before.size(), 1u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_LE(differing_share(before[1], after[1]), 0.5);
}

}  // namespace
