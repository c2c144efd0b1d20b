// The cross-reference chain and trailers: which /Root decides across incremental updates and
// cross-reference streams, where the chain stops, and when a document counts as encrypted,
// including files whose startxref leads nowhere.

#include "pdfcore/xref.h"

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pdfcore/lex.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }
int32_t len32(const std::string &s) { return static_cast<int32_t>(s.size()); }

xref_info xref_of(const std::string &pdf) {
  xref_info xi;
  xi.root = 77;  // parse_xref must reset both fields itself
  xi.encrypted = 1;
  parse_xref(u8(pdf), len32(pdf), xi);
  return xi;
}

int encrypted_anywhere(const std::string &pdf) { return encrypt_anywhere(u8(pdf), len32(pdf)); }

// A catalog, a page tree and one page, as objects 1 to 3.
void base_objects(pdf_builder &b) {
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
}

// A cross-reference stream object; its data are never decoded, so any bytes do.
size_t xref_stream(pdf_builder &b, int num, const std::string &dict) {
  return b.stream(num, "/Type /XRef /Size 20 /W [1 2 1] " + dict, std::string("\x01\x00\x0F\x00", 4));
}

TEST(Xref, LastIncrementalUpdateNamesTheRoot) {
  pdf_builder b;
  base_objects(b);
  b.xref_trailer("/Root 1 0 R");
  b.obj(5, "<< /Type /Catalog /Pages 2 0 R >>");
  b.xref_trailer("/Root 5 0 R");
  xref_info xi = xref_of(b.str());
  EXPECT_EQ(xi.root, 5);
  EXPECT_EQ(xi.encrypted, 0);

  // /Prev is not followed from a classic table: a newest trailer without a usable /Root
  // leaves the choice to the loader's catalog search.
  b.obj(6, "<< /Producer (x) >>");
  b.xref_trailer("/Root -4 0 R /Info 6 0 R");
  EXPECT_EQ(xref_of(b.str()).root, -1);
}

TEST(Xref, ClassicTablesReadAllLaterTrailers) {
  // Every trailer from the table the last startxref names to the end of the file counts,
  // whatever /Prev says; trailers before that table do not.
  pdf_builder b;
  base_objects(b);
  b.xref_trailer("/Root 2 0 R /Encrypt 9 0 R");
  size_t second = b.size();
  b.xref_trailer("/Root 3 0 R", false);
  b.raw("trailer\n<< /Root 1 0 R >>\n");
  b.startxref(static_cast<long>(second));
  xref_info xi = xref_of(b.str());
  EXPECT_EQ(xi.root, 1);
  EXPECT_EQ(xi.encrypted, 0);
}

TEST(Xref, TrailerDictionaryRules) {
  struct tc {
    const char *text;  // starts with the trailer keyword
    int32_t root;
    int32_t encrypted;
  };
  const tc cases[] = {
      {"trailer\n<< /Size 4 /Root 3 0 R >>\nstartxref\n0\n", 3, 0},
      {"trailer << /Root\r\n\t12 0 R >>", 12, 0},
      {"trailer << /Root -1 0 R /Root 4 0 R >>", 4, 0},  // the first non-negative counts
      {"trailer << /Roots 4 /Root 6 0 R >>", 6, 0},
      {"trailer << /Size 4 >> startxref 9 /Root 4 0 R /Encrypt 1 0 R", -1, 0},
      {"trailer /Root 4 0 R /Encrypt 1 0 R", -1, 0},  // no dictionary follows
      {"trailer << /Encrypt 8 0 R /Root 3 0 R >>", 3, 1},
      {"trailer << /EncryptMetadata false >>", -1, 0},
      {"trailer", -1, 0},
      {"trailer   ", -1, 0},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    xref_info xi;
    parse_trailer_dict(u8(s), len32(s), 0, xi);
    EXPECT_EQ(xi.root, c.root) << c.text;
    EXPECT_EQ(xi.encrypted, c.encrypted) << c.text;
  }
  std::string s = "trailer << /Root 3 0 R >>";
  xref_info xi;
  xi.root = 9;
  parse_trailer_dict(u8(s), len32(s), 0, xi);
  EXPECT_EQ(xi.root, 3);  // replaces an earlier value
}

TEST(Xref, StreamChainTakesNewestRootAndAnyEncrypt) {
  pdf_builder b;
  base_objects(b);
  b.obj(4, "<< /Type /Catalog /Pages 2 0 R >>");
  size_t older = xref_stream(b, 10, "/Root 1 0 R /Encrypt 9 0 R");
  size_t newer = xref_stream(b, 11, "/Root 4 0 R /Prev " + std::to_string(older));
  b.startxref(static_cast<long>(newer));
  xref_info xi = xref_of(b.str());
  EXPECT_EQ(xi.root, 4);
  EXPECT_EQ(xi.encrypted, 1);

  // Without a /Root of its own, the newest section leaves the choice to the older one.
  pdf_builder c;
  base_objects(c);
  size_t o = xref_stream(c, 10, "/Root 2 0 R");
  size_t n = xref_stream(c, 11, "/Prev " + std::to_string(o));
  c.startxref(static_cast<long>(n));
  xi = xref_of(c.str());
  EXPECT_EQ(xi.root, 2);
  EXPECT_EQ(xi.encrypted, 0);
}

TEST(Xref, ClassicTableBehindStreamReplacesRoot) {
  pdf_builder b;
  base_objects(b);
  b.xref_trailer("/Root 1 0 R");
  long table = static_cast<long>(b.str().find("xref\n"));
  b.obj(4, "<< /Type /Catalog /Pages 2 0 R >>");
  size_t s = xref_stream(b, 11, "/Root 4 0 R /Prev " + std::to_string(table));
  b.startxref(static_cast<long>(s));
  EXPECT_EQ(xref_of(b.str()).root, 1);
}

// A chain of n cross-reference streams, newest first, only the oldest naming the root.
std::string stream_chain(int n) {
  pdf_builder b;
  base_objects(b);
  size_t prev = xref_stream(b, 100, "/Root 1 0 R");
  for (int i = 1; i < n; i++)
    prev = xref_stream(b, 100 + i, "/Prev " + std::to_string(prev));
  b.startxref(static_cast<long>(prev));
  return b.str();
}

TEST(Xref, ChainStopsAfterThirtyTwoSections) {
  EXPECT_EQ(xref_of(stream_chain(32)).root, 1);
  EXPECT_EQ(xref_of(stream_chain(33)).root, -1);

  // A section whose /Prev names itself is visited until the limit, then the walk ends.
  pdf_builder b;
  base_objects(b);
  std::string head = std::to_string(b.size());
  xref_stream(b, 10, "/Prev " + head + " /Root 3 0 R");
  b.startxref(std::stoi(head));
  EXPECT_EQ(xref_of(b.str()).root, 3);
}

TEST(Xref, BrokenStartxrefLeavesNoRoot) {
  pdf_builder b;
  base_objects(b);
  b.startxref(static_cast<long>(b.size()) + 100);  // beyond the end
  EXPECT_EQ(xref_of(b.str()).root, -1);

  pdf_builder c;
  base_objects(c);
  c.raw("trailer\n<< /Root 1 0 R /Encrypt 5 0 R >>\n");
  c.startxref(0);  // the header: neither xref nor an object head
  xref_info xi = xref_of(c.str());
  EXPECT_EQ(xi.root, -1);
  EXPECT_EQ(xi.encrypted, 0);

  pdf_builder d;
  base_objects(d);
  d.raw("startxref\nnowhere\n%%EOF\n");
  EXPECT_EQ(xref_of(d.str()).root, -1);

  // What the chain gathered before the broken link stays.
  pdf_builder e;
  base_objects(e);
  size_t s = xref_stream(e, 10, "/Root 2 0 R /Encrypt 7 0 R /Prev 999999");
  e.startxref(static_cast<long>(s));
  xi = xref_of(e.str());
  EXPECT_EQ(xi.root, 2);
  EXPECT_EQ(xi.encrypted, 1);
}

TEST(Xref, OnlyTheLastStartxrefCounts) {
  pdf_builder b;
  base_objects(b);
  b.xref_trailer("/Root 1 0 R");
  b.startxref(3);  // a later, broken one overrides the good one
  EXPECT_EQ(xref_of(b.str()).root, -1);
}

TEST(Xref, FileWithoutStartxref) {
  std::string pdf = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n";
  xref_info xi = xref_of(pdf);
  EXPECT_EQ(xi.root, -1);
  EXPECT_EQ(xi.encrypted, 0);
  EXPECT_EQ(xref_of("").root, -1);
}

TEST(Xref, EncryptInAnOrdinaryObjectDoesNotCount) {
  pdf_builder b;
  base_objects(b);
  b.obj(4, "<< /Encrypt 5 0 R /Type /XRef >>");  // no stream follows
  b.obj(5, "<< /Filter /Standard /V 2 >>");
  b.stream(6, "/Type /ObjStm /Encrypt 5 0 R /N 0 /First 0", "");
  b.xref_trailer("/Root 1 0 R");
  xref_info xi = xref_of(b.str());
  EXPECT_EQ(xi.root, 1);
  EXPECT_EQ(xi.encrypted, 0);
  EXPECT_EQ(encrypted_anywhere(b.str()), 0);
}

TEST(Xref, EncryptAnywhereBehindBrokenStartxref) {
  // A classic trailer with /Encrypt, but startxref points past the end of the file.
  pdf_builder b;
  base_objects(b);
  b.obj(5, "<< /Filter /Standard /V 2 >>");
  b.raw("xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 1 0 R /Encrypt 5 0 R >>\n");
  b.startxref(static_cast<long>(b.size()) + 500);
  EXPECT_EQ(xref_of(b.str()).encrypted, 0);
  EXPECT_EQ(encrypted_anywhere(b.str()), 1);

  // A cross-reference stream with /Encrypt, with startxref broken.
  pdf_builder c;
  base_objects(c);
  xref_stream(c, 10, "/Root 1 0 R /ID [<9F3A><9F3A>] /Encrypt 5 0 R");
  c.startxref(0);
  EXPECT_EQ(xref_of(c.str()).encrypted, 0);
  EXPECT_EQ(encrypted_anywhere(c.str()), 1);
}

TEST(Xref, EncryptAnywhereDictionaryShapes) {
  struct tc {
    const char *text;
    int expect;
  };
  const tc cases[] = {
      {"trailer\n<< /Encrypt 5 0 R >>", 1},
      {"trailer << /Info << /Encrypt 5 0 R >> >>", 1},
      {"trailer << /Size 3 >> /Encrypt 5 0 R", 0},
      {"trailer << /Note (/Encrypt 5 0 R) >>", 0},
      {"trailer << /Note (a\\) (/Encrypt) b) >>", 0},
      {"trailer << /Note </Encrypt> >>", 0},
      {"trailer << /EncryptMetadata true >>", 0},
      {"trailer /Encrypt 5 0 R", 0},
      {"trailers << /Encrypt 5 0 R >>", 0},
      {"trailer << /Size 3", 0},
      {"trailer << /Size 3 /Encrypt", 1},  // a dictionary cut short still counts
      {"10 0 obj\n<< /Type /XRef /Encrypt 5 0 R >>\nstream\nxx\nendstream", 1},
      {"10 0 obj\n<< /Encrypt 5 0 R /ID [<01>] /Type /XRef>>stream\nxx", 1},
      {"10 0 obj << /ID <9F3A> /Type/XRef /Encrypt 5 0 R /X <9F3A>>>stream\n", 1},
      {"10 0 obj\n<< /Type /XRef /Encrypt 5 0 R >>\nendobj", 0},
      {"10 0 obj\n<< /Type /XRefStm /Encrypt 5 0 R >>\nstream\n", 0},
      {"10 0 obj\n<< /Sub << /Type /XRef >> /Encrypt 5 0 R >>\nstream\n", 0},
      {"10 0 obj\n<< /Type /ObjStm /Encrypt 5 0 R /R /XRef >>\nstream\n", 0},
      {"10 0 obj\n<< /Type /XRef /Info (/Encrypt) >>\nstream\n", 0},
      {"10 0 obj\n<< /Type /XRef >>\nstream\n/Encrypt\nendstream\n11 0 obj << /Encrypt 1 >>", 0},
  };
  for (const tc &c : cases) EXPECT_EQ(encrypted_anywhere(c.text), c.expect) << c.text;
}

// The chain's trailer walk keeps its searches across trailers; it must agree with reading
// each trailer on its own.
TEST(Xref, TrailerWalkAgreesWithSingleTrailers) {
  std::mt19937 rng(7);
  int with_root = 0, with_encrypt = 0;
  const char *pieces[] = {"trailer\n<< ", "/Root ", "/Root -2 ", "3 0 R ", "/Encrypt 1 0 R ",
                          ">>\n", "startxref\n0\n", "/Root 5 0 R ", "/Roots 9 ", "trailer ", "x"};
  for (int trial = 0; trial < 1000; trial++) {
    std::string pdf = "xref\n";
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; i++) pdf += pieces[rng() % 11];
    pdf += "\nstartxref\n0\n";  // the last one, naming the table at 0
    xref_info naive;
    int32_t len = len32(pdf);
    for (int32_t t = find_kw(u8(pdf), len, 4, "trailer"); t >= 0;
         t = find_kw(u8(pdf), len, t + 7, "trailer"))
      parse_trailer_dict(u8(pdf), len, t, naive);
    xref_info walked = xref_of(pdf);
    ASSERT_EQ(walked.root, naive.root) << pdf;
    ASSERT_EQ(walked.encrypted, naive.encrypted) << pdf;
    with_root += naive.root >= 0;
    with_encrypt += naive.encrypted;
  }
  EXPECT_GT(with_root, 50);  // the mix must exercise both findings
  EXPECT_GT(with_encrypt, 50);
}

// Shapes that would make a per-keyword rescan quadratic; these finish at once when every
// search moves forward.
TEST(Xref, HostileRepetitionsStayLinear) {
  auto repeat = [](const std::string &unit, size_t bytes) {
    std::string s;
    s.reserve(bytes + unit.size());
    while (s.size() < bytes) s += unit;
    return s;
  };
  const size_t size = 2u << 20;
  std::string trailers = "xref\nstartxref\n0\n" + repeat("trailer << /Root -1 /Size 1 ", size);
  xref_info xi = xref_of(trailers);
  EXPECT_EQ(xi.root, -1);
  EXPECT_EQ(encrypted_anywhere(trailers), 0);
  EXPECT_EQ(encrypted_anywhere(repeat("trailer << (", size)), 0);
  EXPECT_EQ(encrypted_anywhere(repeat("1 0 obj << /Type /XRef /Encrypt << ", size)), 0);
  EXPECT_EQ(encrypted_anywhere(repeat("/XRef obj ", size)), 0);
}

// Real files: the scan agrees with the chain on every intact file, and still finds the
// encryption of an encrypted one once its startxref is broken.
TEST(Xref, CorpusEncryptionSurvivesBrokenStartxref) {
  std::string dir = shared_dir();
  if (dir.empty()) GTEST_SKIP() << "no shared corpus";
  int encrypted_files = 0;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(dir + "/corpus")) {
    if (entry.path().extension() != ".pdf") continue;
    std::string pdf = read_file(entry.path().string());
    SCOPED_TRACE(entry.path().string());
    xref_info xi = xref_of(pdf);
    EXPECT_EQ(encrypted_anywhere(pdf), xi.encrypted);
    if (!xi.encrypted) continue;
    encrypted_files++;
    size_t sx = pdf.rfind("startxref");
    ASSERT_NE(sx, std::string::npos);
    std::string broken = pdf.substr(0, sx) + "startxref\n999999999\n%%EOF\n";
    EXPECT_EQ(xref_of(broken).encrypted, 0);
    EXPECT_EQ(encrypted_anywhere(broken), 1);
  }
  if (encrypted_files == 0) GTEST_SKIP() << "no encrypted file in the corpus";
}

}  // namespace
