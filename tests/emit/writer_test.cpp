// The reduced PDF's layout: the exact bytes of a one-page file, page boxes and rotations,
// content carried as it reads, annotations drawn into the page, and how the output file is
// written or left alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emit/emit_support.h"

using namespace emit_test;
namespace fs = std::filesystem;

namespace {

// One page with the given page-dictionary entries and content; more objects from 5 on.
std::string one_page(const std::string &entries, const std::string &content = "q Q",
                     const std::vector<std::pair<int, std::string>> &more = {},
                     const std::string &pages_extra = "") {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + pages_extra + ">>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R " + entries + " /Contents 4 0 R >>");
  b.stream(4, "", content);
  for (const auto &[num, body] : more) b.obj(num, body);
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

// Pages whose contents are the given texts, each with the same box.
std::string pages_of(const std::vector<std::string> &contents,
                     const std::vector<std::string> &boxes = {}) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (size_t i = 0; i < contents.size(); ++i) kids += std::to_string(10 + 2 * i) + " 0 R ";
  b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(contents.size()) + " >>");
  for (size_t i = 0; i < contents.size(); ++i) {
    int page = static_cast<int>(10 + 2 * i);
    std::string box = i < boxes.size() ? boxes[i] : "[0 0 612 792]";
    b.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Contents " +
                    std::to_string(page + 1) + " 0 R >>");
    b.stream(page + 1, "", contents[i]);
  }
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

std::string form_of(const std::string &pdf, int k = 0) { return object_text(pdf, 4 * k + 3); }
std::string page_of(const std::string &pdf, int k = 0) { return object_text(pdf, 4 * k + 6); }

TEST(WriterLayout, OnePageFileIsByteExact) {
  emitted e = emit(one_page("/MediaBox [0 0 612 792]"));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_EQ(e.error, "");
  const std::string expected =
      "%PDF-1.4\n"
      "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Count 1 /Kids [6 0 R]>>\nendobj\n"
      "3 0 obj\n<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Length 3 >>\nstream\n"
      "q Q\nendstream\nendobj\n"
      "5 0 obj\n<< /Length 24 >>\nstream\nq 1 0 0 1 0 0 cm /F Do Q\nendstream\nendobj\n"
      "6 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
      "/Resources << /XObject << /F 3 0 R >> >> >>\nendobj\n"
      "xref\n0 7\n"
      "0000000000 65535 f \n"
      "0000000009 00000 n \n"
      "0000000058 00000 n \n"
      "0000000114 00000 n \n"
      "0000000000 65535 f \n"
      "0000000216 00000 n \n"
      "0000000290 00000 n \n"
      "trailer\n<< /Size 7 /Root 1 0 R >>\nstartxref 418\n%%EOF\n";
  EXPECT_EQ(e.bytes, expected);
  EXPECT_EQ(e.bytes.size(), 621u);
}

struct box_case {
  const char *entries;
  const char *pages_extra;
  const char *form;      // what follows /Subtype /Form in the form's dictionary
  const char *mediabox;  // the new page's box
};

class WriterBoxes : public ::testing::TestWithParam<box_case> {};

TEST_P(WriterBoxes, FormAndPageFollowTheBoxAndRotation) {
  const box_case &c = GetParam();
  emitted e = emit(one_page(c.entries, "q Q", {}, c.pages_extra));
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_NE(form_of(e.bytes).find(std::string("/Subtype /Form ") + c.form + " /Length 3 >>"),
            std::string::npos)
      << form_of(e.bytes);
  EXPECT_NE(page_of(e.bytes).find(std::string("/MediaBox ") + c.mediabox + " "),
            std::string::npos)
      << page_of(e.bytes);
  EXPECT_EQ(page_of(e.bytes).find("/Rotate"), std::string::npos);
  expect_table_consistent(e.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriterBoxes,
    ::testing::Values(
        box_case{"/MediaBox [0 0 612 792]", "", "/BBox [0 0 612 792]", "[0 0 612 792]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 90", "",
                 "/BBox [0 0 612 792] /Matrix [0 -1 1 0 0 612]", "[0 0 792 612]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 180", "",
                 "/BBox [0 0 612 792] /Matrix [-1 0 0 -1 612 792]", "[0 0 612 792]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 270", "",
                 "/BBox [0 0 612 792] /Matrix [0 1 -1 0 792 0]", "[0 0 792 612]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 45", "", "/BBox [0 0 612 792]",
                 "[0 0 612 792]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 360", "", "/BBox [0 0 612 792]",
                 "[0 0 612 792]"},
        box_case{"/MediaBox [0 0 612 792] /Rotate 450", "",
                 "/BBox [0 0 612 792] /Matrix [0 -1 1 0 0 612]", "[0 0 792 612]"},
        box_case{"/MediaBox [0 0 612 792]", "/Rotate 270 ",
                 "/BBox [0 0 612 792] /Matrix [0 1 -1 0 792 0]", "[0 0 792 612]"},
        box_case{"/MediaBox [0 0 595.3 841.9]", "", "/BBox [0 0 595.3000 841.9000]",
                 "[0 0 595.3000 841.9000]"},
        box_case{"/MediaBox [10 20 622 812]", "",
                 "/BBox [10 20 622 812] /Matrix [1 0 0 1 -10 -20]", "[0 0 612 792]"},
        box_case{"/MediaBox [10 20 622 812] /Rotate 90", "",
                 "/BBox [10 20 622 812] /Matrix [0 -1 1 0 -20 622]", "[0 0 792 612]"},
        box_case{"/MediaBox [10 20 622 812] /Rotate 180", "",
                 "/BBox [10 20 622 812] /Matrix [-1 0 0 -1 622 812]", "[0 0 612 792]"},
        box_case{"/MediaBox [10 20 622 812] /Rotate 270", "",
                 "/BBox [10 20 622 812] /Matrix [0 1 -1 0 812 -10]", "[0 0 792 612]"},
        box_case{"/MediaBox [0 0 612 792] /CropBox [50 60 300 400.5]", "",
                 "/BBox [50 60 300 400.5000] /Matrix [1 0 0 1 -50 -60]",
                 "[0 0 250 340.5000]"},
        box_case{"/MediaBox [-100 -50 200 250]", "",
                 "/BBox [-100 -50 200 250] /Matrix [1 0 0 1 100 50]", "[0 0 300 300]"},
        // Opposite corners in the other order describe the same box.
        box_case{"/MediaBox [612 792 12 0]", "",
                 "/BBox [12 0 612 792] /Matrix [1 0 0 1 -12 0]", "[0 0 600 792]"}));

class WriterRenders : public ::testing::TestWithParam<int> {};

TEST_P(WriterRenders, PagesLookAsTheInputPagesDid) {
  if (!have("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
  const int rotate = GetParam();
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [10 20 622 812] /CropBox [10 20 600 800] "
           "/Rotate " + std::to_string(rotate) + " /Contents 4 0 R /Annots [5 0 R] >>");
  b.stream(4, "", "0 0 1 rg 15 25 40 20 re f 1 0 0 rg 540 760 50 30 re f "
                  "0 0.6 0 rg 20 740 10 40 re f");
  b.obj(5, "<< /Type /Annot /Subtype /Stamp /Rect [300 400 380 440] /AP << /N 6 0 R >> >>");
  b.stream(6, "/Type /XObject /Subtype /Form /BBox [0 0 20 40] /Matrix [0 1 -1 0 0 0]",
           "1 0 1 rg 0 0 20 40 re f 0 0 0 rg 0 0 5 5 re f");
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
  EXPECT_EQ(before[1].w, after[1].w);
  EXPECT_EQ(before[1].h, after[1].h);
  EXPECT_LE(differing_share(before[1], after[1]), 0.5);
  // The fixture must draw something, or equal renders would prove nothing.
  EXPECT_NE(before[1].rgb.find_first_not_of('\xff'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rotations, WriterRenders, ::testing::Values(0, 90, 180, 270));

TEST(WriterContent, StreamsAreDecodedAndJoinedWithALineFeed) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents [4 0 R 5 0 R] >>");
  b.flate_stream(4, "", "0 0 m");
  b.stream(5, "", "10 10 l S");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_NE(form_of(e.bytes).find("/Length 15 >>\nstream\n0 0 m\n10 10 l S\nendstream"),
            std::string::npos)
      << form_of(e.bytes);
  EXPECT_EQ(form_of(e.bytes).find("/Filter"), std::string::npos);
}

TEST(WriterContent, PageWithoutContentsGetsAnEmptyForm) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  EXPECT_NE(form_of(e.bytes).find("/Length 0 >>\nstream\n\nendstream"), std::string::npos);
}

TEST(WriterContent, UndecodableContentFailsTheWrite) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.obj(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 6 0 R >>");
  b.stream(6, "/Filter /FlateDecode", "this is not deflate data at all");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  EXPECT_EQ(e.rc, 0);
  EXPECT_EQ(e.error, "cannot decode the content of page 2");
  EXPECT_FALSE(fs::exists(e.path));
  // Left out, the page does not matter.
  emitted skipped = emit(b.str(), {1});
  EXPECT_EQ(skipped.rc, 1) << skipped.error;
}

TEST(WriterPages, KeptPagesFollowTheBlankListAndTheCount) {
  const std::string pdf = pages_of({"% one", "% two", "% three", "% four"});
  struct {
    std::vector<int32_t> blank;
    int32_t n_kept;
    std::vector<std::string> written;
  } cases[] = {
      {{}, 4, {"% one", "% two", "% three", "% four"}},
      {{1, 3}, 2, {"% one", "% three"}},
      {{1}, 2, {"% one", "% three"}},  // fewer to keep than pages left
      {{0, 1, 2, 3}, 0, {"% one"}},    // the output never has zero pages
  };
  for (const auto &c : cases) {
    emitted e = emit(pdf, c.blank, c.n_kept);
    ASSERT_EQ(e.rc, 1) << e.error;
    std::string kids;
    for (size_t k = 0; k < c.written.size(); ++k) {
      kids += (k ? " " : "") + std::to_string(4 * k + 6) + " 0 R";
      EXPECT_NE(form_of(e.bytes, static_cast<int>(k)).find("stream\n" + c.written[k] + "\n"),
                std::string::npos);
    }
    EXPECT_NE(e.bytes.find("/Count " + std::to_string(c.written.size()) + " /Kids [" + kids + "]>>"),
              std::string::npos);
    expect_table_consistent(e.bytes);
  }
}

TEST(WriterFailures, MessagesAndNothingWritten) {
  const std::string pdf = pages_of({"q Q", "q Q"});
  pdf_doc doc;
  ASSERT_TRUE(load(pdf, doc));
  // The loader refuses boxes without area, so the page list is bent here.
  doc.pages.items[1].x0 = doc.pages.items[1].x1;
  std::string out = scratch_dir() + "/out.pdf";
  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 2, out.c_str()), 0);
  EXPECT_STREQ(pdfcore_last_error(), "page 2 has a degenerate box");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, out.c_str()), 1);

  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, nullptr), 0);
  EXPECT_STREQ(pdfcore_last_error(), "NULL output path");

  std::string nowhere = scratch_dir() + "/missing/out.pdf";
  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, nowhere.c_str()), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "cannot write " + nowhere);

  pdf_doc empty;
  EXPECT_EQ(lsf_emit_blank_removal(empty, nullptr, 0, 1, nowhere.c_str()), 0);
  EXPECT_STREQ(pdfcore_last_error(), "document has no pages");
}

TEST(WriterFailures, OutputIsReplacedWholeOrLeftAlone) {
  const std::string good = pages_of({"q Q"});
  std::string dir = scratch_dir(), out = dir + "/out.pdf";
  ASSERT_TRUE(write_file(out, "old bytes"));
  ::chmod(out.c_str(), 0640);
  pdf_doc doc;

  ASSERT_TRUE(load(good, doc));
  doc.pages.items[0].y1 = doc.pages.items[0].y0;
  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, out.c_str()), 0);
  EXPECT_EQ(read_file(out), "old bytes");

  ASSERT_TRUE(load(good, doc));
  ASSERT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, out.c_str()), 1) << pdfcore_last_error();
  EXPECT_EQ(read_file(out).rfind("%PDF-1.4\n", 0), 0u);
  struct stat st;
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A file one may not write to is not replaced behind its owner's back.
  if (::geteuid() != 0) {
    ::chmod(out.c_str(), 0440);
    EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, out.c_str()), 0);
    EXPECT_EQ(std::string(pdfcore_last_error()), "cannot write " + out);
  }
  // An output path naming a folder cannot be replaced either.
  EXPECT_EQ(lsf_emit_blank_removal(doc, nullptr, 0, 1, dir.c_str()), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "cannot write " + dir);

  size_t entries = 0;
  for (const auto &entry : fs::directory_iterator(dir)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
}

// Objects are found by their heads, so a damaged object that swallowed the text of another
// file (its own catalog included) must not carry that catalog into the copy: the copy reads
// back with its own catalog and every kept page.
TEST(WriterFailures, StrayHeadsInCarriedObjectsDoNotReplaceTheCatalog) {
  pdf_builder b;
  b.obj(5, "<< /Type /Font /Subtype /Type3 /Enc%PDF-1.5\n1 0 obj\n<< /Type /Catalog /Pages 9 0 R >>");
  b.obj(6, "<< /Title (1 0 obj) /Note (the end: endobj) >>");
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 7 0 R] /Count 2 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /Font << /F 5 0 R >> "
           "/Properties << /P 6 0 R >> >> /Contents 4 0 R >>");
  b.stream(4, "", "0 0 10 10 re f");
  b.obj(7, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>");
  b.obj(9, "<< /Type /Pages /Kids [] /Count 0 >>");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str(), {1});
  ASSERT_EQ(e.rc, 1) << e.error;
  pdf_doc copy;
  ASSERT_TRUE(load(e.bytes, copy)) << pdfcore_last_error();
  EXPECT_EQ(copy.root, 1);
  ASSERT_EQ(copy.pages.count(), 1);
  EXPECT_EQ(copy.pages.items[0].num, 6);
  EXPECT_EQ(e.bytes.find("1 0 obj", 20), std::string::npos);
  EXPECT_NE(e.bytes.find("(1 0 \\157bj)"), std::string::npos);
}

// The last check before a copy is written: it must read back with its own catalog and
// exactly the pages written, whatever else the carried text did to it.
TEST(WriterFailures, OnlyCopiesThatReadBackAreWritten) {
  const emitted e = emit(pages_of({"0 0 1 1 re f", "q Q"}));
  ASSERT_EQ(e.rc, 1) << e.error;
  auto reads_back = [](const std::string &pdf, int64_t pages) {
    return lsf_copy_reads_back(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), pages);
  };
  EXPECT_TRUE(reads_back(e.bytes, 2));
  EXPECT_FALSE(reads_back(e.bytes, 1));
  EXPECT_FALSE(reads_back(e.bytes.substr(0, 40), 2));
  EXPECT_FALSE(reads_back("", 0));
  // A head standing after the catalog's own replaces it.
  const size_t xref = e.bytes.rfind("xref\n");
  const std::string stray = e.bytes.substr(0, xref) + "1 0 obj\n<< /Type /Catalog /Pages 7 0 R >>\nendobj\n" +
                            e.bytes.substr(xref);
  EXPECT_FALSE(reads_back(stray, 2));
  // One that makes the copy look encrypted.
  const std::string locked = e.bytes + "trailer\n<< /Encrypt 1 0 R >>\n";
  EXPECT_FALSE(reads_back(locked, 2));
}

TEST(WriterAnnotations, VisibleAppearancesAreDrawnOverThePage) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
           "/Annots [5 0 R 6 0 R 7 0 R 8 0 R] /Contents 4 0 R >>");
  b.stream(4, "", "q Q");
  b.obj(5, "<< /Type /Annot /Subtype /Stamp /Rect [100 100 120 140] /AP << /N 9 0 R >> >>");
  b.obj(6, "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /AP << /N 9 0 R >> >>");
  b.obj(7, "<< /Type /Annot /Subtype /Stamp /F 2 /Rect [0 0 50 50] /AP << /N 9 0 R >> >>");
  b.obj(8, "<< /Type /Annot /Subtype /Square /Rect [140 100 100 120] /AP << /N 10 0 R >> >>");
  b.stream(9, "/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 0 1 rg 0 0 10 10 re f");
  b.stream(10, "/Type /XObject /Subtype /Form /BBox [0 0 10 20] /Matrix [0 1 -1 0 0 0]",
           "0 0 10 20 re f");
  b.xref_trailer("/Root 1 0 R");
  emitted e = emit(b.str());
  ASSERT_EQ(e.rc, 1) << e.error;
  const std::string draw = "q 1 0 0 1 0 0 cm /F Do Q\nq 2 0 0 4 100 100 cm /A1 Do Q\n"
                           "q 2 0 0 2 140 100 cm /A2 Do Q";
  EXPECT_EQ(object_text(e.bytes, 5),
            "5 0 obj\n<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw +
                "\nendstream\nendobj");
  EXPECT_NE(page_of(e.bytes).find("/Resources << /XObject << /F 3 0 R /A1 7 0 R /A2 8 0 R >> >>"),
            std::string::npos)
      << page_of(e.bytes);
  EXPECT_NE(object_text(e.bytes, 7).find("0 0 1 rg 0 0 10 10 re f"), std::string::npos);
  EXPECT_EQ(page_of(e.bytes).find("/Annots"), std::string::npos);
  expect_table_consistent(e.bytes);
}

}  // namespace
