// Document loading: the refusal messages, the choice of catalog, and the page tree walk with
// its order, inherited rotations and boxes, cycles and very deep trees.
#include "pdfcore/document.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pdfcore/error.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

const char *const k_name = "mem.pdf";

int load_bytes(const std::string &pdf, pdf_doc &doc) {
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size() + 1)));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), k_name, doc);
}

std::string load_error(const std::string &pdf) {
  pdf_doc doc;
  if (load_bytes(pdf, doc) == 0) return "(loaded)";
  return pdfcore_last_error();
}

// Catalog 1 and the objects given, with a trailer naming the catalog.
std::string doc_of(const std::vector<std::pair<int, std::string>> &objects,
                   const std::string &trailer = "/Root 1 0 R") {
  pdf_builder b;
  for (const auto &[num, body] : objects) b.obj(num, body);
  b.xref_trailer(trailer);
  return b.str();
}

std::vector<int32_t> page_nums(const pdf_doc &doc) {
  std::vector<int32_t> nums;
  for (const pageinfo &p : doc.pages.items) nums.push_back(p.num);
  return nums;
}

const std::string k_catalog = "<< /Type /Catalog /Pages 2 0 R >>";
const std::string k_page = "<< /Type /Page /Parent 2 0 R >>";

TEST(DocumentLoad, FileMessages) {
  pdf_doc doc;
  EXPECT_EQ(pdfcore_load(nullptr, doc), 0);
  EXPECT_STREQ(pdfcore_last_error(), "NULL path argument");

  std::string dir = scratch_dir();
  std::string missing = dir + "/missing.pdf";
  EXPECT_EQ(pdfcore_load(missing.c_str(), doc), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "cannot open " + missing);

  std::string empty = dir + "/empty.pdf";
  ASSERT_TRUE(write_file(empty, ""));
  EXPECT_EQ(pdfcore_load(empty.c_str(), doc), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "empty input file: " + empty);

  std::string text = dir + "/notes.txt";
  ASSERT_TRUE(write_file(text, "just some notes, nothing like an object head\n"));
  EXPECT_EQ(pdfcore_load(text.c_str(), doc), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "no PDF objects found — not a PDF: " + text);

  std::string good = dir + "/good.pdf";
  ASSERT_TRUE(write_file(good, simple_pdf({"q Q", "q Q"})));
  EXPECT_EQ(pdfcore_load(good.c_str(), doc), 1);
  EXPECT_EQ(doc.pages.count(), 2);
  EXPECT_EQ(doc.len, static_cast<int32_t>(simple_pdf({"q Q", "q Q"}).size()));
}

TEST(DocumentLoad, RefusesFilesOf2GiBBeforeReading) {
  std::string big = scratch_dir() + "/big.pdf";
  ASSERT_TRUE(write_file(big, "%PDF-1.4\n"));
  std::error_code ec;
  std::filesystem::resize_file(big, UINT64_C(2147483648), ec);  // sparse: nothing is written
  if (ec) GTEST_SKIP() << "cannot make a sparse 2 GiB file here: " << ec.message();
  pdf_doc doc;
  EXPECT_EQ(pdfcore_load(big.c_str(), doc), 0);
  EXPECT_EQ(std::string(pdfcore_last_error()), "input file too large (2 GiB or more): " + big);
  std::filesystem::remove(big, ec);
}

TEST(DocumentLoad, DocumentMessages) {
  const std::string page_tree =
      "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is broken)";
  pdf_builder broken_startxref;
  broken_startxref.obj(1, k_catalog);
  broken_startxref.obj(2, "<< /Type /Pages /Kids [3 0 R] >>");
  broken_startxref.obj(3, k_page);
  broken_startxref.raw("trailer\n<< /Size 4 /Root 1 0 R /Encrypt 9 0 R >>\n");
  broken_startxref.startxref(999999);

  struct {
    const char *what;
    std::string pdf;
    std::string message;
  } cases[] = {
      {"encrypted",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R] >>"}, {3, k_page}},
              "/Root 1 0 R /Encrypt 9 0 R"),
       std::string("encrypted PDFs are not supported: ") + k_name},
      {"encrypted behind a broken startxref", broken_startxref.str(),
       std::string("encrypted PDFs are not supported: ") + k_name},
      {"catalog without /Pages", doc_of({{1, "<< /Type /Catalog >>"}}),
       "catalog (obj 1) has no /Pages reference"},
      {"no catalog and no object 1", doc_of({{4, "<< /Type /Font >>"}}, "/Root 7 0 R"),
       "catalog (obj 1) has no /Pages reference"},
      {"inline dictionary in the root's /Kids",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R << /Type /Page >>] >>"},
               {3, k_page}}),
       "page tree uses inline page dictionaries in /Kids — pages must be indirect objects"},
      {"inline dictionary deeper down",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R] >>"},
               {3, "<< /Type /Pages /Kids [<< /Type /Page >>] >>"}}),
       page_tree},
      {"kids cycle",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R] >>"},
               {3, "<< /Type /Pages /Kids [4 0 R 2 0 R] >>"}, {4, k_page}}),
       page_tree},
      {"node that lists itself",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [2 0 R] >>"}}), page_tree},
      {"missing kid", doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R 9 0 R] >>"},
                              {3, k_page}}),
       page_tree},
      {"kid of another type", doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>"},
                                      {3, k_page}, {4, "<< /Type /Font >>"}}),
       page_tree},
      {"tree root of another type", doc_of({{1, k_catalog}, {2, "<< /Type /Font >>"}}), page_tree},
      {"inner node without /Kids",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>"}, {3, k_page},
               {4, "<< /Type /Pages /Count 5 >>"}}),
       page_tree},
      {"inner node whose /Kids names no array",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>"}, {3, k_page},
               {4, "<< /Type /Pages /Kids 5 0 R >>"}, {5, "<< /Foo 1 >>"}}),
       page_tree},
      {"root without /Kids", doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Count 0 >>"}}),
       "document has no pages"},
      {"root with empty /Kids", doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [ ] >>"}}),
       "document has no pages"},
      {"only empty nodes",
       doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R] >>"},
               {3, "<< /Type /Pages /Kids [] >>"}}),
       "document has no pages"},
  };
  for (const auto &c : cases) EXPECT_EQ(load_error(c.pdf), c.message) << c.what;
}

TEST(DocumentLoad, FailedLoadLeavesTheRecordEmpty) {
  pdf_doc doc;
  ASSERT_EQ(load_bytes(simple_pdf({"q Q"}), doc), 0);
  ASSERT_EQ(doc.pages.count(), 1);
  EXPECT_EQ(load_bytes(doc_of({{1, "<< /Type /Catalog >>"}}), doc), -1);
  EXPECT_EQ(doc.data, nullptr);
  EXPECT_EQ(doc.len, 0);
  EXPECT_EQ(doc.objs.count(), 0);
  EXPECT_EQ(doc.pages.count(), 0);
  EXPECT_EQ(doc.arena.count(), 0);
  EXPECT_EQ(doc.root, -1);

  ASSERT_EQ(load_bytes(simple_pdf({"q Q"}), doc), 0);
  EXPECT_EQ(doc.root, 1);
  pdfcore_doc_free(doc);
  EXPECT_EQ(doc.data, nullptr);
  EXPECT_EQ(doc.pages.count(), 0);
  EXPECT_EQ(doc.objs.count(), 0);
  pdfcore_doc_free(doc);  // again, on the empty record
}

TEST(DocumentLoad, CatalogFallbacks) {
  pdf_doc doc;
  // /Root names an object that is not there: the first object mentioning /Catalog.
  ASSERT_EQ(load_bytes(doc_of({{2, "<< /Type /Pages /Kids [3 0 R] >>"}, {3, k_page},
                               {5, "<< /Type /Catalog /Pages 2 0 R >>"}},
                              "/Root 9 0 R"),
                       doc),
            0)
      << pdfcore_last_error();
  EXPECT_EQ(doc.root, 5);
  EXPECT_EQ(page_nums(doc), std::vector<int32_t>{3});

  // No trailer at all and no /Catalog anywhere: object 1 serves.
  pdf_builder bare;
  bare.obj(1, "<< /Pages 2 0 R >>");
  bare.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] >>");
  bare.obj(3, k_page);
  bare.obj(4, k_page);
  ASSERT_EQ(load_bytes(bare.str(), doc), 0) << pdfcore_last_error();
  EXPECT_EQ(doc.root, 1);
  EXPECT_EQ(page_nums(doc), (std::vector<int32_t>{3, 4}));

  // /Pages pointing straight at a page, and a catalog that is itself the tree's root.
  ASSERT_EQ(load_bytes(doc_of({{1, "<< /Type /Catalog /Pages 3 0 R >>"}, {3, k_page}}), doc), 0);
  EXPECT_EQ(page_nums(doc), std::vector<int32_t>{3});
  ASSERT_EQ(load_bytes(doc_of({{1, "<< /Type /Pages /Kids [3 0 R] >>"}, {3, k_page}}), doc), 0);
  EXPECT_EQ(page_nums(doc), std::vector<int32_t>{3});
}

TEST(PageTree, DepthFirstOrderWithRepeatsAndIndirectKids) {
  pdf_doc doc;
  // 3, then node 4's kids (through an indirect array), then 7; page 5 is listed twice. A /Kids
  // inside a nested dictionary is not the node's own.
  ASSERT_EQ(load_bytes(doc_of({{1, k_catalog},
                               {2, "<< /Type /Pages /Extra << /Kids [9 0 R] >> "
                                   "/Kids [3 0 R 4 0 R 7 0 R] >>"},
                               {3, k_page},
                               {4, "<< /Type /Pages /Parent 2 0 R /Kids 10 0 R >>"},
                               {5, k_page},
                               {6, k_page},
                               {7, k_page},
                               {10, "[5 0 R 6 0 R 5 0 R]"}}),
                       doc),
            0)
      << pdfcore_last_error();
  EXPECT_EQ(page_nums(doc), (std::vector<int32_t>{3, 5, 6, 5, 7}));

  // The root's /Kids as an indirect array, which here holds an inline dictionary.
  EXPECT_EQ(load_error(doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids 10 0 R >>"},
                               {10, "[<< /Type /Page >>]"}})),
            "page tree uses inline page dictionaries in /Kids — pages must be indirect objects");
  // A node reached twice is a broken tree even without a cycle.
  EXPECT_EQ(load_error(doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [4 0 R 4 0 R] >>"},
                               {4, "<< /Type /Pages /Kids [5 0 R] >>"}, {5, k_page}})),
            "could not resolve the page tree (obj 2 is not a /Pages or /Page object, or tree is "
            "broken)");
}

TEST(PageTree, PagesFromObjectStreams) {
  pdf_builder b;
  b.object_stream(20, {{1, k_catalog},
                       {2, "<< /Type /Pages /Kids 6 0 R /Rotate 180 /MediaBox [0 0 300 400] >>"},
                       {3, "<< /Type /Page /Parent 2 0 R >>"},
                       {4, "<< /Type /Page /Parent 2 0 R /Rotate 90 >>"},
                       {6, "[3 0 R 4 0 R]"}});
  b.xref_trailer("/Root 1 0 R");
  pdf_doc doc;
  ASSERT_EQ(load_bytes(b.str(), doc), 0) << pdfcore_last_error();
  ASSERT_EQ(page_nums(doc), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(doc.pages.items[0].rotate, 180);
  EXPECT_EQ(doc.pages.items[1].rotate, 90);
  EXPECT_EQ(doc.pages.items[1].inh_rotate, 180);
  EXPECT_EQ(doc.pages.items[0].x1, 300);
}

TEST(PageTree, Rotation) {
  struct {
    std::string node_keys, page_keys;
    int32_t inh_rotate, rotate;
  } cases[] = {
      {"", "/Rotate 450", 0, 90},
      {"", "/Rotate -90", 0, 270},
      {"", "/Rotate -450", 0, 270},
      {"", "/Rotate 90.0", 0, 90},
      {"/Rotate 90", "", 90, 90},
      {"/Rotate -90", "", 270, 270},
      {"/Rotate 90", "/Rotate 0", 90, 0},
      {"/Rotate 90", "/Annots [<< /Rotate 180 >>]", 90, 90},
  };
  for (const auto &c : cases) {
    pdf_doc doc;
    ASSERT_EQ(load_bytes(doc_of({{1, k_catalog},
                                 {2, "<< /Type /Pages " + c.node_keys + " /Kids [3 0 R] >>"},
                                 {3, "<< /Type /Page /Parent 2 0 R " + c.page_keys + " >>"}}),
                         doc),
              0);
    EXPECT_EQ(doc.pages.items[0].inh_rotate, c.inh_rotate) << c.node_keys << " | " << c.page_keys;
    EXPECT_EQ(doc.pages.items[0].rotate, c.rotate) << c.node_keys << " | " << c.page_keys;
  }

  // Each level hands down its own rotation or the one it was given.
  pdf_doc doc;
  ASSERT_EQ(load_bytes(doc_of({{1, k_catalog},
                               {2, "<< /Type /Pages /Rotate 90 /Kids [3 0 R 4 0 R] >>"},
                               {3, "<< /Type /Pages /Kids [5 0 R] >>"},
                               {4, "<< /Type /Pages /Rotate 180 /Kids [6 0 R] >>"},
                               {5, k_page},
                               {6, k_page}}),
                       doc),
            0);
  EXPECT_EQ(doc.pages.items[0].rotate, 90);
  EXPECT_EQ(doc.pages.items[1].rotate, 180);
}

TEST(PageTree, Boxes) {
  struct {
    const char *what;
    std::string grand_keys, parent_keys, page_keys;
    double x0, y0, x1, y1;
  } cases[] = {
      {"crop box over media box", "", "", "/MediaBox [0 0 612 792] /CropBox [0 0 300 400]", 0, 0,
       300, 400},
      {"media box of the parent", "", "/MediaBox [0 0 612 792]", "", 0, 0, 612, 792},
      {"own media box over the parent's crop box", "", "/CropBox [0 0 10 10]",
       "/MediaBox [0 0 500 700]", 0, 0, 500, 700},
      {"nearest ancestor wins", "/CropBox [0 0 100 100]", "/MediaBox [0 0 200 200]", "", 0, 0,
       200, 200},
      {"grandparent's box", "/MediaBox [0 0 100 150]", "", "", 0, 0, 100, 150},
      {"ancestor's crop box before its media box", "",
       "/MediaBox [0 0 612 792] /CropBox [10 20 300 400]", "", 10, 20, 300, 400},
      {"reversed corners", "", "", "/MediaBox [612 792 0 0]", 0, 0, 612, 792},
      {"corners given the other way round", "", "", "/MediaBox [0 0 -612 792]", -612, 0, 0, 792},
      {"three numbers fall back to the media box", "", "",
       "/CropBox [0 0 300] /MediaBox [0 0 612 792]", 0, 0, 612, 792},
      {"zero width falls back", "", "", "/CropBox [5 0 5 792] /MediaBox [0 0 612 792]", 0, 0, 612,
       792},
      {"no box anywhere is A4", "", "", "", 0, 0, 595, 842},
      {"numbers as written", "", "", "/MediaBox [.5 -1.25 +612 792.75]", 0.5, -1.25, 612, 792.75},
      {"box in an annotation is not the page's", "", "",
       "/Annots [<< /MediaBox [0 0 1 1] >>] /MediaBox [0 0 612 792]", 0, 0, 612, 792},
      {"box as a reference to an array", "", "", "/MediaBox 5 0 R", 0, 0, 595.5, 841.75},
      {"parent's box by reference", "", "/MediaBox 5 0 R", "", 0, 0, 595.5, 841.75},
  };
  for (const auto &c : cases) {
    pdf_doc doc;
    ASSERT_EQ(load_bytes(doc_of({{1, k_catalog}, {5, "[0 0 595.5 841.75]"},
                                 {2, "<< /Type /Pages " + c.grand_keys + " /Kids [3 0 R] >>"},
                                 {3, "<< /Type /Pages " + c.parent_keys + " /Kids [4 0 R] >>"},
                                 {4, "<< /Type /Page /Parent 3 0 R " + c.page_keys + " >>"}}),
                         doc),
              0)
        << c.what;
    const pageinfo &p = doc.pages.items[0];
    EXPECT_EQ(p.x0, c.x0) << c.what;
    EXPECT_EQ(p.y0, c.y0) << c.what;
    EXPECT_EQ(p.x1, c.x1) << c.what;
    EXPECT_EQ(p.y1, c.y1) << c.what;
  }
}

TEST(PageTree, BoxArrayReader) {
  struct {
    const char *text;
    int ok;
    double x0, y0, x1, y1;
  } cases[] = {
      {"[0 0 612 792]", 1, 0, 0, 612, 792},
      {"[ 0 0 612 792 ]", 1, 0, 0, 612, 792},
      {"[0 0 612]", 0, 0, 0, 0, 0},
      {"[0 0 612", 0, 0, 0, 0, 0},
      {"[-5 -6 - 10]", 1, -5, -6, 0, 10},  // a sign without digits reads as 0
      {"[1 2 3 -", 1, 1, 0, 3, 2},
      {"[0 0 0 0]", 0, 0, 0, 0, 0},
      {"[100 200 10 20]", 1, 10, 20, 100, 200},
      {"[0/x 0 612 792]", 1, 0, 0, 612, 792},
  };
  for (const auto &c : cases) {
    const auto *t = reinterpret_cast<const uint8_t *>(c.text);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int ok = parse_box_array(t, static_cast<int32_t>(std::strlen(c.text)), 0, &x0, &y0, &x1, &y1);
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(x0, c.x0) << c.text;
      EXPECT_EQ(y0, c.y0) << c.text;
      EXPECT_EQ(x1, c.x1) << c.text;
      EXPECT_EQ(y1, c.y1) << c.text;
    }
  }
  std::string huge = "[0 0 " + std::string(400, '9') + " 5]";
  double a, b, c, d;
  EXPECT_EQ(parse_box_array(reinterpret_cast<const uint8_t *>(huge.data()),
                            static_cast<int32_t>(huge.size()), 0, &a, &b, &c, &d),
            0);
}

TEST(PageTree, TypeValues) {
  struct {
    const char *dict;
    int type;
  } cases[] = {
      {"<< /Type /Page >>", 1},          {"<< /Type/Page/Parent 2 0 R >>", 1},
      {"<< /Type /Pages >>", 2},         {"<< /Type /Pagesx >>", 0},
      {"<< /Type /PageLabel >>", 0},     {"<< /Type /Font /Subtype /Type1 >>", 0},
      {"<< /Kids [<< /Type /Page >>] >>", 0}, {"<< /S (/Type /Page) >>", 0},
      {"<< /Type /Annot /A << /Type /Page >> /Type /Pages >>", 2},
  };
  for (const auto &c : cases) {
    pdf_doc doc;
    ASSERT_EQ(load_bytes(doc_of({{1, k_catalog}, {2, "<< /Type /Pages /Kids [3 0 R] >>"},
                                 {3, k_page}, {8, c.dict}}),
                         doc),
              0);
    EXPECT_EQ(obj_type(doc.data.get(), doc.len, *obj_find(doc.objs, 8)), c.type) << c.dict;
  }
}

TEST(PageTree, HundredThousandLevelsDeep) {
  // Written tersely and without a cross-reference table (the catalog is found by its /Type):
  // the size of the file is what the scan pays for, not the depth.
  const int depth = 100000;
  pdf_builder b;
  b.raw("1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n");
  for (int n = 2; n < 2 + depth; ++n)
    b.raw(std::to_string(n) + " 0 obj<</Type/Pages/Kids[" + std::to_string(n + 1) +
          " 0 R]>>endobj\n");
  b.raw(std::to_string(2 + depth) + " 0 obj<</Type/Page>>endobj\n");
  pdf_doc doc;
  ASSERT_EQ(load_bytes(b.str(), doc), 0) << pdfcore_last_error();
  EXPECT_EQ(page_nums(doc), std::vector<int32_t>{2 + depth});
}

}  // namespace
