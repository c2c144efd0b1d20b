// The renderer's stream decoding: filter names and arrays, base-85, Flate with a growing output,
// the raw data of filters left undecoded, and the status that says how complete a result is.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pdfcore/document.h"
#include "render/filters.h"
#include "support/pdf_builder.h"

namespace {

// Base-85 as the PDF format writes it, with "~>" at the end.
std::string a85(const std::string &in) {
  std::string out;
  size_t i = 0;
  for (; i + 4 <= in.size(); i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; k++) v = v << 8 | static_cast<uint8_t>(in[i + k]);
    char g[5];
    for (int k = 4; k >= 0; k--, v /= 85) g[k] = static_cast<char>('!' + v % 85);
    out.append(g, 5);
  }
  size_t rest = in.size() - i;
  if (rest) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; k++)
      v = v << 8 | (k < rest ? static_cast<uint8_t>(in[i + k]) : 0);
    char g[5];
    for (int k = 4; k >= 0; k--, v /= 85) g[k] = static_cast<char>('!' + v % 85);
    out.append(g, rest + 1);
  }
  return out + "~>";
}

struct result {
  bool ok = false;
  std::string bytes;
  int status = -1;
  int32_t len = -7;  // stays -7 when the length is not written
};

result decode(const pdf_doc &doc, const pdf_obj &obj) {
  result r;
  c_ptr<uint8_t> p = rvx_stream_decode(doc, obj, &r.len, &r.status);
  r.ok = p != nullptr;
  if (p) r.bytes.assign(reinterpret_cast<const char *>(p.get()), static_cast<size_t>(r.len));
  return r;
}

bool load(const std::string &pdf, pdf_doc &doc) {
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  return doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "test", doc) == 0;
}

// A one-page document whose content stream (object 4) has the given dictionary and data.
result decode_stream(const std::string &dict, const std::string &data) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  b.stream(4, dict, data);
  b.xref_trailer("/Root 1 0 R");
  pdf_doc doc;
  if (!load(b.str(), doc)) return {};
  const pdf_obj *o = obj_find(doc.objs, 4);
  if (!o) return {};
  return decode(doc, *o);
}

TEST(Ascii85, DecodesByTheFormatsRules) {
  struct {
    const char *name;
    std::string in, out;
  } cases[] = {
      {"one group", "9jqo^", "Man "},
      {"z between groups", "@:E_WzAS,Rg~>", std::string("abcd\0\0\0\0efgh", 12)},
      {"z at the start", "z~>", std::string(4, '\0')},
      {"z inside a group is ignored", "9jzqo^~>", "Man "},
      {"three final digits give two bytes", "@:B~>", "ab"},
      {"four final digits give three bytes", "@:E^~>", "abc"},
      {"a single final digit gives nothing", "9jqo^A~>", "Man "},
      {"data end at the first tilde", "9jqo^~>@:E_W", "Man "},
      {"a tilde without > ends them too", "9jqo^~@:E_W", "Man "},
      {"white space and bytes outside the digits", std::string("9j \r\n\t\0q\fo{v^", 13), "Man "},
      {"groups wrap in 32 bits", "uuuuu", "\x08\x78\x0E\xC4"},
      {"text", "87cURD_*#TDfTZ)+T~>", "Hello, world!"},
  };
  for (const auto &c : cases) {
    result r = decode_stream("/Filter /ASCII85Decode", c.in);
    ASSERT_TRUE(r.ok) << c.name;
    EXPECT_EQ(r.bytes, c.out) << c.name;
    EXPECT_EQ(r.status, DECODE_OK) << c.name;
  }
}

TEST(Ascii85, LongOutputGrowsItsBuffer) {
  // Every z is four bytes from one: far beyond the first guess of four bytes per five.
  result r = decode_stream("/Filter /ASCII85Decode", std::string(10000, 'z') + "~>");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, std::string(40000, '\0'));
}

TEST(Filters, NamesAndArraysChooseTheDecoding) {
  const std::string plain = "0 0 m 100 100 l S\n";
  const std::string z = zlib_compress(plain);
  struct {
    const char *dict;
    std::string data, out;
    int status;
  } cases[] = {
      {"", plain, plain, DECODE_OK},
      {"/Filter /FlateDecode", z, plain, DECODE_OK},
      {"/Filter/FlateDecode", z, plain, DECODE_OK},
      {"/Filter [/FlateDecode]", z, plain, DECODE_OK},
      {"/Filter [/ASCII85Decode /FlateDecode]", a85(z), plain, DECODE_OK},
      {"/Filter [/FlateDecode /ASCII85Decode]", a85(z), plain, DECODE_OK},  // base-85 first
      {"/Filter /ASCII85Decode", a85(z), z, DECODE_OK},                    // not inflated
      {"/Filter /FlateDecodeX", z, plain, DECODE_OK},  // a name that begins as one counts
      {"/Filter [/FlateDecode] /DecodeParms << /Predictor 12 >>", zlib_compress("\x02\x01\x01"),
       "\x02\x01\x01", DECODE_OK},  // predictors are left in
      {"/Filter []", plain, plain, DECODE_OK},
      {"/Filter null", plain, plain, DECODE_OK},
      // Filters this library does not decode: the data as they stand, said to be undecoded.
      {"/Filter /LZWDecode", plain, plain, DECODE_UNDECODED},
      {"/Filter /DCTDecode", plain, plain, DECODE_UNDECODED},
      {"/Filter /ASCIIHexDecode", plain, plain, DECODE_UNDECODED},
      {"/Filter /Fl", z, z, DECODE_UNDECODED},
      {"/Filter /AHx", plain, plain, DECODE_UNDECODED},
      {"/Filter /A85", plain, plain, DECODE_UNDECODED},
      {"/Filter 9 0 R", z, z, DECODE_UNDECODED},
      {"/Filter [9 0 R]", z, z, DECODE_UNDECODED},
      {"/Filter [/FlateDecode /DCTDecode]", z, plain, DECODE_UNDECODED},
      {"/Filter [/FlateDecode /FlateDecode]", zlib_compress(z), z, DECODE_UNDECODED},
  };
  for (const auto &c : cases) {
    result r = decode_stream(c.dict, c.data);
    ASSERT_TRUE(r.ok) << c.dict;
    EXPECT_EQ(r.bytes, c.out) << c.dict;
    EXPECT_EQ(r.status, c.status) << c.dict;
  }
}

TEST(Flate, OutputGrowsPastTheFirstCapacity) {
  // 100 stored bytes give a first capacity of 20 x 100 + 4096 = 6096 bytes; the bytes after
  // the zlib trailer are ignored by the inflater and only pad the stream to that length.
  auto padded = [](const std::string &data) {
    std::string z = zlib_compress(data, 9);
    EXPECT_LE(z.size(), 100u);
    return z + std::string(100 - z.size(), 'x');
  };
  for (size_t n : {size_t{6096}, size_t{6097}, size_t{4u << 20}}) {
    std::string data(n, 'a');
    for (size_t i = 0; i < n; i += 1000) data[i] = 'b';
    std::string z = n < 10000 ? padded(data) : zlib_compress(data, 9);
    result r = decode_stream("/Filter /FlateDecode", z);
    ASSERT_TRUE(r.ok) << n;
    EXPECT_EQ(r.bytes.size(), n);
    EXPECT_TRUE(r.bytes == data) << n;
    EXPECT_EQ(r.status, DECODE_OK);
  }
}

TEST(Flate, DataThatYieldNothingFail) {
  const std::string z = zlib_compress(std::string(5000, 'q'));
  struct {
    const char *name;
    std::string data;
  } cases[] = {
      {"damaged at the first block", std::string("\x78\x9c\x07\x00", 4)},
      {"not zlib at all", "0 0 m 10 10 l S"},
      {"preset dictionary flag", std::string("\x78\xBB", 2) + z.substr(2)},
      {"cut short before the last block", z.substr(0, z.size() / 2)},
  };
  for (const auto &c : cases) {
    result r = decode_stream("/Filter /FlateDecode", c.data);
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_EQ(r.status, DECODE_FAILED) << c.name;
    EXPECT_EQ(r.len, -7) << c.name;
  }
}

TEST(Flate, AnIntactEmptyStreamIsEmptyContent) {
  // Producers compress empty page contents too; such a page is readable and empty.
  result r = decode_stream("/Filter /FlateDecode", zlib_compress(""));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.status, DECODE_OK);
  EXPECT_EQ(r.len, 0);
}

TEST(Filters, ObjectsWithoutStreamDataGiveNull) {
  pdf_doc doc;
  std::string file = "1 0 obj\n<< /Length 0 >>\nstream\nendstream\nendobj\n";
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(file.size())));
  std::memcpy(bytes.get(), file.data(), file.size());
  doc.data = std::move(bytes);
  doc.len = static_cast<int32_t>(file.size());

  pdf_obj stream;
  stream.num = 1;
  stream.dict = static_cast<int32_t>(file.find("<<"));
  stream.stream_kw = static_cast<int32_t>(file.find("stream"));
  stream.stream_start = stream.stream_kw + 7;
  stream.stream_end = stream.stream_start;
  stream.is_stream = 1;
  pdf_obj past_end = stream;
  past_end.stream_end = doc.len + 1;
  pdf_obj no_dict = stream;
  no_dict.dict = -1;
  no_dict.stream_end = 33;
  pdf_obj not_stream = stream;
  not_stream.is_stream = 0;
  not_stream.stream_end = 33;
  for (const pdf_obj *o : {&stream, &past_end, &no_dict, &not_stream}) {
    result r = decode(doc, *o);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.status, DECODE_FAILED);
    EXPECT_EQ(r.len, -7);
  }
  int32_t len = -7;
  EXPECT_EQ(rvx_stream_decode(doc, stream, &len), nullptr);  // the status is optional
  EXPECT_EQ(len, -7);
}

TEST(Filters, OwnBytesHoldDictionaryAndData) {
  // The inline-image object carries its dictionary and data in bytes of its own.
  const std::string own = "<< /Filter /ASCII85Decode >>stream\n9jqo^~>";
  pdf_doc doc;
  pdf_obj obj;
  obj.is_stream = 1;
  obj.text = reinterpret_cast<const uint8_t *>(own.data());
  obj.text_len = static_cast<int32_t>(own.size());
  obj.stream_start = static_cast<int32_t>(own.find("9j"));
  obj.stream_end = obj.text_len;
  result r = decode(doc, obj);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "Man ");
  EXPECT_EQ(r.status, DECODE_OK);
}

}  // namespace
