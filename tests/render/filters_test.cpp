// The renderer's stream decoding: filter names and arrays applied in their written order, their
// decode parameters (in place, by reference, in arrays with nulls), base-85, hexadecimal,
// RunLength, Flate with a growing output, the fax decoder's row bound, inline images'
// abbreviations, the raw data of filters left undecoded, and the status of a result.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/filters.h"
#include "render/raster.h"
#include "paint_support.h"
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
      {"/Filter [/FlateDecode /ASCII85Decode]", zlib_compress(a85(plain)), plain, DECODE_OK},
      {"/Filter /ASCII85Decode", a85(z), z, DECODE_OK},                    // not inflated
      {"/Filter /FlateDecodeX", z, plain, DECODE_OK},  // a name that begins as one counts
      {"/Filter [/FlateDecode] /DecodeParms << /Predictor 12 >>",
       zlib_compress(std::string("\x02\x05\x02\x03", 4)), "\x05\x08", DECODE_OK},
      {"/Filter []", plain, plain, DECODE_OK},
      {"/Filter null", plain, plain, DECODE_OK},
      // Filters this library does not decode: the data as they stand, said to be undecoded.
      {"/Filter /JBIG2Decode", plain, plain, DECODE_UNDECODED},
      {"/Filter /JPXDecode", plain, plain, DECODE_UNDECODED},
      {"/Filter /DCTDecode", plain, plain, DECODE_UNDECODED},
      {"/Filter /Fl", z, z, DECODE_UNDECODED},
      {"/Filter /AHx", plain, plain, DECODE_UNDECODED},
      {"/Filter /A85", plain, plain, DECODE_UNDECODED},
      {"/Filter 9 0 R", z, z, DECODE_UNDECODED},
      {"/Filter [9 0 R]", z, z, DECODE_UNDECODED},
      {"/Filter [/FlateDecode /DCTDecode]", z, plain, DECODE_UNDECODED},
      {"/Filter [/DCTDecode /FlateDecode]", z, z, DECODE_UNDECODED},  // nothing after it
      {"/Filter [/FlateDecode /FlateDecode]", zlib_compress(z), plain, DECODE_OK},
      // A predictor this library does not undo leaves the inflated rows, said to be so.
      {"/Filter /FlateDecode /DecodeParms << /Predictor 5 >>", z, plain, DECODE_UNDECODED},
      {"/Filter /FlateDecode /DecodeParms << /Predictor 2 /BitsPerComponent 3 >>", z, plain,
       DECODE_UNDECODED},
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

std::string hex(const std::string &in) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : in) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  return out + ">";
}

// Bytes as LZW literal codes of nine bits, then the end code.
std::string lzw_literals(const std::string &in) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  auto put = [&](uint32_t code) {
    acc = acc << 9 | code;
    for (bits += 9; bits >= 8; bits -= 8) out += static_cast<char>(acc >> (bits - 8) & 0xFF);
  };
  for (unsigned char c : in) put(c);
  put(257);
  if (bits) out += static_cast<char>(acc << (8 - bits) & 0xFF);
  return out;
}

// As decode_stream, with further objects (number, body) that the dictionary may name.
result decode_with(const std::string &dict, const std::string &data,
                   const std::vector<std::pair<int, std::string>> &objects) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
  b.stream(4, dict, data);
  for (const auto &[num, body] : objects) b.obj(num, body);
  b.xref_trailer("/Root 1 0 R");
  pdf_doc doc;
  if (!load(b.str(), doc)) return {};
  const pdf_obj *o = obj_find(doc.objs, 4);
  if (!o) return {};
  return decode(doc, *o);
}

TEST(Filters, AppliedInTheirWrittenOrder) {
  const std::string plain = "0 0 m 100 100 l S\n", lzw = lzw_literals(plain);
  struct {
    const char *dict;
    std::string data;
    bool ok;
  } cases[] = {
      {"/Filter [/ASCIIHexDecode /FlateDecode]", hex(zlib_compress(plain)), true},
      {"/Filter [/FlateDecode /ASCIIHexDecode]", zlib_compress(hex(plain)), true},
      {"/Filter [/FlateDecode /ASCIIHexDecode]", hex(zlib_compress(plain)), false},
      {"/Filter [/ASCII85Decode /RunLengthDecode /LZWDecode]",
       a85(static_cast<char>(lzw.size() - 1) + lzw + "\x80"), true},
  };
  for (const auto &c : cases) {
    result r = decode_stream(c.dict, c.data);
    EXPECT_EQ(r.ok, c.ok) << c.dict;
    if (c.ok) {
      EXPECT_EQ(r.bytes, plain) << c.dict;
    }
  }
}

TEST(Filters, DecodeParmsInPlaceByReferenceAndInArrays) {
  // Two PNG rows of one byte: None 5, then Up 3 -> 5 8.
  const std::string rows("\x00\x05\x02\x03", 4), undone("\x05\x08", 2);
  const std::string data = hex(zlib_compress(rows));
  const std::vector<std::pair<int, std::string>> objs = {
      {9, "<< /Predictor 12 >>"},
      {10, "[null << /Predictor 12 >>]"},
      {11, "[/ASCIIHexDecode /FlateDecode]"},
      {12, "12"},
      {13, "/FlateDecode"},
  };
  struct {
    const char *dict;
    std::string out;
  } cases[] = {
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [null << /Predictor 12 >>]", undone},
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [null 9 0 R]", undone},
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms 10 0 R", undone},
      {"/Filter 11 0 R /DecodeParms [null << /Predictor 12 >>]", undone},
      {"/Filter [/ASCIIHexDecode 13 0 R] /DecodeParms [null 9 0 R]", undone},
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [null << /Predictor 12 0 R >>]",
       undone},
      // A lone dictionary serves every filter; base-85 and hexadecimal take no parameters.
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms << /Predictor 12 >>", undone},
      // Parameters stand beside the filter they belong to, nulls included.
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [<< /Predictor 12 >> null]", rows},
      {"/Filter [/ASCIIHexDecode null /FlateDecode] /DecodeParms [null null 9 0 R]", undone},
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [null 99 0 R]", rows},
      {"/Filter [/ASCIIHexDecode /FlateDecode] /DecodeParms [null]", rows},
      {"/Filter [/ASCIIHexDecode /FlateDecode]", rows},
  };
  for (const auto &c : cases) {
    result r = decode_with(c.dict, data, objs);
    ASSERT_TRUE(r.ok) << c.dict;
    EXPECT_EQ(r.bytes, c.out) << c.dict;
    EXPECT_EQ(r.status, DECODE_OK) << c.dict;
  }
}

TEST(Filters, RunLengthAndHexadecimalCases) {
  struct {
    const char *filter;
    std::string in, out;
    bool ok;
  } cases[] = {
      {"RunLengthDecode", std::string("\x02" "abc\x80", 5), "abc", true},
      {"RunLengthDecode", "\xFEx\x80", "xxx", true},
      {"RunLengthDecode", "\x81y", std::string(128, 'y'), true},
      {"RunLengthDecode", std::string("\x00" "a\x80\x00" "b", 5), "a", true},  // end byte
      {"RunLengthDecode", std::string("\x00" "z", 2), "z", true},  // no end byte
      {"RunLengthDecode", "\x80", "", true},
      {"RunLengthDecode", "\x05" "ab", "ab", true},  // a copy past the data keeps what is there
      {"RunLengthDecode", std::string("\x01" "ab\xFF", 4), "ab", true},  // a repeat without a byte
      {"RunLengthDecode", "\x05", "", false},  // nothing but a broken run
      {"RunLengthDecode", "\xF0", "", false},
      {"ASCIIHexDecode", "48 65 6C6c\n6F>", "Hello", true},
      {"ASCIIHexDecode", "414>", "A@", true},  // an odd last digit is followed by 0
      {"ASCIIHexDecode", "4142", "AB", true},
      {"ASCIIHexDecode", "4x1>", "A", true},
      {"ASCIIHexDecode", "41>42", "A", true},
      {"ASCIIHexDecode", ">", "", true},
  };
  for (const auto &c : cases) {
    result r = decode_stream(std::string("/Filter /") + c.filter, c.in);
    EXPECT_EQ(r.ok, c.ok) << c.filter << " " << c.out;
    EXPECT_EQ(r.bytes, c.out) << c.filter << " " << c.out;
    EXPECT_EQ(r.status, c.ok ? DECODE_OK : DECODE_FAILED) << c.filter << " " << c.out;
  }
}

TEST(Filters, FaxRowsBoundedByRowsOrHeight) {
  // Group 4 rows of eight white pixels, one code bit each: the byte holds eight of them.
  const std::string white8("\xFF", 1);
  struct {
    const char *dict;
    std::string out;
  } cases[] = {
      {"/Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 >>", std::string(8, '\xFF')},
      {"/Height 3 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 >>",
       std::string(3, '\xFF')},
      {"/Height 3 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 /Rows 5 >>",
       std::string(5, '\xFF')},
      {"/Height 2 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 8 /BlackIs1 true >>",
       std::string(2, '\0')},
      {"/Height 2 /Filter [/ASCIIHexDecode /CCITTFaxDecode] /DecodeParms [null 9 0 R]",
       std::string(2, '\xFF')},
  };
  for (const auto &c : cases) {
    const bool hexed = std::strstr(c.dict, "ASCIIHex") != nullptr;
    result r = decode_with(c.dict, hexed ? hex(white8) : white8, {{9, "<< /K -1 /Columns 8 >>"}});
    ASSERT_TRUE(r.ok) << c.dict;
    EXPECT_EQ(r.bytes, c.out) << c.dict;
    EXPECT_EQ(r.status, DECODE_OK) << c.dict;
  }
}

TEST(Filters, InlineImagesAbbreviationsReachTheDecoder) {
  using namespace paint_test;
  // A 4 x 2 gray image of white samples, written through each filter with its parameters;
  // without them the samples would not come out white.
  const std::string rows = std::string("\x00\xff\xff\xff\xff\x02\0\0\0\0", 10);
  const std::string png = " /DP << /Predictor 12 /Columns 4 >>";
  struct {
    std::string params, data;
  } cases[] = {
      {"/F /Fl" + png, zlib_compress(rows)},
      {"/F /LZW" + png, lzw_literals(rows)},
      {"/F [/AHx /LZW] /DP [null << /Predictor 12 /Columns 4 >>]", hex(lzw_literals(rows))},
      {"/F /RL", "\xF9\xff\x80"},
      {"/BPC 1 /F /CCF /DP << /K -1 /Columns 4 >>", "\xC0"},  // two white rows
      {"/BPC 1 /F [/CCF] /DP [<< /K -1 /Columns 4 /BlackIs1 true >>] /D [1 0]", "\xC0"},
  };
  for (const auto &c : cases) {
    for (bool with_parms : {true, false}) {
      std::string params = c.params;
      if (!with_parms) {
        size_t dp = params.find(" /DP");
        if (dp == std::string::npos) continue;
        params = params.substr(0, dp);
      }
      raster r;
      blank(r, 8, 8);
      run(r, "8 0 0 8 0 0 cm BI /W 4 /H 2 /CS /G " + params + " ID " + c.data + "\nEI");
      if (with_parms) {
        EXPECT_EQ(painted_count(r), 0) << params;
        EXPECT_EQ(r.unreadable, 0) << params;
      } else {
        EXPECT_TRUE(painted_count(r) > 0 || r.unreadable) << params;
      }
    }
  }
}

}  // namespace
