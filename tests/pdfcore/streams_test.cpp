// Stream data, page contents and resource dictionaries: which filters are decoded, how
// content streams are joined, and where resources are found.
#include "pdfcore/streams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "pdfcore/error.h"
#include "support/pdf_builder.h"

namespace {

// Catalog 1, tree 2 (with `node_keys`), page 3 (with `page_keys`); the test adds the rest.
pdf_builder one_page(const std::string &page_keys, const std::string &node_keys = "") {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] " + node_keys + " >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R " + page_keys + " >>");
  return b;
}

void load(pdf_builder &b, pdf_doc &doc) {
  b.xref_trailer("/Root 1 0 R");
  const std::string &pdf = b.str();
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  ASSERT_EQ(doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "t.pdf", doc), 0)
      << pdfcore_last_error();
}

const pdf_obj &obj(const pdf_doc &doc, int num) {
  const pdf_obj *o = obj_find(doc.objs, num);
  EXPECT_NE(o, nullptr) << "object " << num;
  static const pdf_obj none;
  return o ? *o : none;
}

// The content of object `num`, or "(none)" when there is none.
std::string content(const pdf_doc &doc, int num) {
  buf out;
  if (!get_page_content(doc.data.get(), doc.len, doc.objs, obj(doc, num), out)) return "(none)";
  return std::string(reinterpret_cast<const char *>(out.data), out.len);
}

std::string text(const c_ptr<uint8_t> &p) {
  return p ? std::string(reinterpret_cast<const char *>(p.get())) : "(null)";
}

TEST(DecodedStream, FiltersOtherThanFlateAreLeftAlone) {
  pdf_builder b = one_page("");
  b.stream(4, "", "0 0 m 10 10 l S");
  b.stream(5, "/Filter /ASCIIHexDecode", "48656C6C6F>");
  b.stream(6, "/Filter [/ASCII85Decode /FlateDecode]", "GhVa9+>V7+E):9@qZ~>");
  b.flate_stream(7, "", "BT /F1 12 Tf (Hi) Tj ET");
  std::string cut = zlib_compress(std::string(5000, 'x') + "0 0 m 1 1 l S");
  cut.resize(cut.size() / 2);
  b.stream(8, "/Filter /FlateDecode", cut);
  b.stream(9, "", "");
  pdf_doc doc;
  load(b, doc);

  buf out;
  buf_str(out, "kept");
  uint64_t n = 0;
  const uint8_t *p = decoded_stream(obj(doc, 4), doc.data.get(), doc.len, out, &n);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p >= doc.data.get() && p < doc.data.get() + doc.len);  // borrowed from the file
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), n), "0 0 m 10 10 l S");

  p = decoded_stream(obj(doc, 5), doc.data.get(), doc.len, out, &n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), n), "48656C6C6F>");

  EXPECT_EQ(decoded_stream(obj(doc, 6), doc.data.get(), doc.len, out, &n), nullptr);
  EXPECT_EQ(decoded_stream(obj(doc, 8), doc.data.get(), doc.len, out, &n), nullptr);
  EXPECT_EQ(decoded_stream(obj(doc, 9), doc.data.get(), doc.len, out, &n), nullptr);
  EXPECT_EQ(decoded_stream(obj(doc, 3), doc.data.get(), doc.len, out, &n), nullptr);  // no stream
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data)), "kept");  // left as it was

  p = decoded_stream(obj(doc, 7), doc.data.get(), doc.len, out, &n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, out.data + 4);  // appended behind the earlier content, NUL behind
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(p)), "BT /F1 12 Tf (Hi) Tj ET");
  EXPECT_EQ(n, 23u);
  EXPECT_EQ(out.len, 4u + 23u);
}

TEST(DecodedStream, HighlyCompressedDataAreDecodedInFull) {
  // Far beyond 20 times the compressed size: a white scan or a page of repeated operators.
  std::string zeros(8 << 20, '\0');
  std::string ops;
  while (ops.size() < (3u << 20)) ops += "0 0 1 1 re f\n";
  pdf_builder b = one_page("");
  b.flate_stream(4, "", zeros);
  b.stream(5, "/Filter /FlateDecode", zlib_compress(ops, 9));
  pdf_doc doc;
  load(b, doc);
  ASSERT_GT(zeros.size(),
            20 * static_cast<size_t>(obj(doc, 4).stream_end - obj(doc, 4).stream_start) + 4096);

  buf out;
  uint64_t n = 0;
  const uint8_t *p = decoded_stream(obj(doc, 4), doc.data.get(), doc.len, out, &n);
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(n, zeros.size());
  EXPECT_EQ(std::memcmp(p, zeros.data(), n), 0);
  EXPECT_EQ(p[n], 0);

  p = decoded_stream(obj(doc, 5), doc.data.get(), doc.len, out, &n);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(p), n), ops);
  EXPECT_EQ(out.len, zeros.size() + ops.size());
}

TEST(PageContent, HowContentsIsWritten) {
  pdf_builder b = one_page("/Contents [4 0 R 5 0 R]");
  b.stream(4, "", "0 0 1 1 re f");
  b.flate_stream(5, "", "q 1 0 0 1 0 0 cm Q");
  // page 6: an array with a missing element and one that yields nothing
  b.obj(6, "<< /Type /Page /Parent 2 0 R /Contents [4 0 R 99 0 R 11 0 R 5 0 R] >>");
  b.stream(11, "", "");
  // page 7: a reference to an array object
  b.obj(7, "<< /Type /Page /Parent 2 0 R /Contents 12 0 R >>");
  b.obj(12, "[5 0 R\n4 0 R]");
  // page 8: an annotation written inside the page carries its own /Contents text first
  b.obj(8, "<< /Type /Page /Annots [<< /Subtype /Text /Contents (note) >>] /Contents 4 0 R >>");
  // page 9: a single reference; page 10: nothing usable
  b.obj(9, "<< /Type /Page /Contents 5 0 R >>");
  b.obj(10, "<< /Type /Page /Contents [99 0 R 11 0 R] >>");
  b.obj(13, "<< /Type /Page /Contents 14 0 R >>");
  b.obj(14, "<< /Foo 1 >>");
  b.obj(15, "<< /Type /Page /Contents (text) >>");
  // a form XObject: its own data
  b.flate_stream(16, "/Type /XObject /Subtype /Form /BBox [0 0 1 1]", "0 g 0 0 1 1 re f");
  // a stream written in place, its length given by reference
  b.obj(17, "<< /Type /Page /Contents << /Length 18 0 R >> stream\r\nq Q\nendstream >>");
  b.obj(18, "3");
  pdf_doc doc;
  load(b, doc);

  EXPECT_EQ(content(doc, 3), "0 0 1 1 re f\nq 1 0 0 1 0 0 cm Q");
  EXPECT_EQ(content(doc, 6), "0 0 1 1 re f\nq 1 0 0 1 0 0 cm Q");
  EXPECT_EQ(content(doc, 7), "q 1 0 0 1 0 0 cm Q\n0 0 1 1 re f");
  EXPECT_EQ(content(doc, 8), "0 0 1 1 re f");
  EXPECT_EQ(content(doc, 9), "q 1 0 0 1 0 0 cm Q");
  EXPECT_EQ(content(doc, 10), "(none)");
  EXPECT_EQ(content(doc, 13), "(none)");
  EXPECT_EQ(content(doc, 15), "(none)");
  EXPECT_EQ(content(doc, 16), "0 g 0 0 1 1 re f");
  EXPECT_EQ(content(doc, 17), "q Q");
  EXPECT_EQ(content(doc, 14), "(none)");  // neither /Contents nor a stream
}

TEST(PageContent, AppendsBehindWhatTheBufferHolds) {
  pdf_builder b = one_page("/Contents 4 0 R");
  b.stream(4, "", "q Q");
  b.obj(5, "<< /Type /Page /Contents [99 0 R] >>");
  pdf_doc doc;
  load(b, doc);
  buf out;
  buf_str(out, "head ");
  EXPECT_EQ(get_page_content(doc.data.get(), doc.len, doc.objs, obj(doc, 3), out), 1);
  EXPECT_EQ(get_page_content(doc.data.get(), doc.len, doc.objs, obj(doc, 5), out), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data)), "head q Q");
}

TEST(Resources, OwnInheritedAndByReference) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] "
           "/Resources << /XObject << /Im0 9 0 R >> >> >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R "
           "/Annots [<< /Resources << /Font << /A 1 0 R >> >> >>] >>");
  b.obj(4, "<< /Type /Page /Parent 2 0 R /Resources 12 0 R >>");
  b.obj(12, "<< /Font << /F1 13 0 R >> /ProcSet [/PDF /Text] >>");
  b.obj(5, "<< /Type /Page /Parent 7 0 R >>");
  b.obj(7, "<< /Type /Pages /Parent 8 0 R >>");
  b.obj(8, "<< /Type /Pages /Parent 7 0 R >>");  // a /Parent loop without resources
  b.obj(6, "<< /Type /Page /Parent 2 0 R /Resources << /Font << /F2 14 0 R >> >> >>");
  pdf_doc doc;
  load(b, doc);
  ASSERT_EQ(doc.pages.count(), 4);

  // Page 3 has none of its own (the annotation's are not the page's): the node's.
  EXPECT_EQ(text(pdfcore_page_resources(doc, 0)), "<< /XObject << /Im0 9 0 R >> >>");
  EXPECT_EQ(text(pdfcore_obj_resources(doc, 3)), "(null)");
  EXPECT_EQ(text(pdfcore_page_resources(doc, 1)), "<< /Font << /F1 13 0 R >> /ProcSet [/PDF /Text] >>");
  EXPECT_EQ(text(pdfcore_obj_resources(doc, 4)), text(pdfcore_page_resources(doc, 1)));
  EXPECT_EQ(text(pdfcore_page_resources(doc, 2)), "(null)");
  EXPECT_EQ(text(pdfcore_page_resources(doc, 3)), "<< /Font << /F2 14 0 R >> >>");
  EXPECT_EQ(text(pdfcore_page_resources(doc, 4)), "(null)");
  EXPECT_EQ(text(pdfcore_page_resources(doc, -1)), "(null)");
  EXPECT_EQ(text(pdfcore_obj_resources(doc, 99)), "(null)");
}

TEST(Resources, ResourcesOfObjectsFromObjectStreams) {
  pdf_builder b;
  b.object_stream(20, {{1, "<< /Type /Catalog /Pages 2 0 R >>"},
                       {2, "<< /Type /Pages /Kids [3 0 R] /Resources 4 0 R >>"},
                       {3, "<< /Type /Page /Parent 2 0 R >>"},
                       {4, "<< /Font << /F1 5 0 R >> >>"}});
  pdf_doc doc;
  load(b, doc);
  EXPECT_EQ(text(pdfcore_page_resources(doc, 0)), "<< /Font << /F1 5 0 R >> >>");
}

}  // namespace
