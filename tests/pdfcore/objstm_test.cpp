// Object streams: unpacking, the header of number pairs, the byte range of each embedded
// object, and the arena that owns the unpacked data.

#include "pdfcore/objstm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdfcore/objects.h"
#include "support/pdf_builder.h"

namespace {

const uint8_t *bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }
int32_t size32(const std::string &s) { return static_cast<int32_t>(s.size()); }

// The packed objects that one file yields, as (number, text) in table order.
struct unpacked {
  objvec objs;
  arena a;
  std::vector<std::pair<int32_t, std::string>> packed() const {
    std::vector<std::pair<int32_t, std::string>> out;
    for (const pdf_obj &o : objs.items)
      if (o.in_objstm)
        out.emplace_back(o.num, std::string(reinterpret_cast<const char *>(o.text),
                                            static_cast<size_t>(o.text_len)));
    return out;
  }
};

void unpack_file(const std::string &pdf, unpacked &u) {
  scan_pass1(bytes(pdf), size32(pdf), u.objs);
  scan_pass2(bytes(pdf), size32(pdf), u.objs);
  extract_all_objstm(bytes(pdf), size32(pdf), u.objs, u.a);
}

// An object stream written by hand: header text, then the objects' bytes at /First.
std::string hand_objstm(const std::string &dict, const std::string &content, bool compress) {
  pdf_builder b;
  if (compress)
    b.flate_stream(10, "/Type /ObjStm " + dict, content);
  else
    b.stream(10, "/Type /ObjStm " + dict, content);
  return b.str();
}

using packed_list = std::vector<std::pair<int32_t, std::string>>;

TEST(ObjectStream, ThreeObjectsLastRunsToTheEnd) {
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress ? "FlateDecode" : "stored");
    pdf_builder b;
    b.object_stream(10, {{1, "<< /A 1 >>"}, {2, "(two)"}, {3, "[3]"}}, compress);
    unpacked u;
    unpack_file(b.str(), u);
    EXPECT_EQ(u.packed(), (packed_list{{1, "<< /A 1 >>\n"}, {2, "(two)\n"}, {3, "[3]\n"}}));
    for (const pdf_obj &o : u.objs.items)
      if (o.in_objstm) {
        EXPECT_EQ(o.gen, 0);
        EXPECT_EQ(o.head, -1);
        EXPECT_EQ(o.dict, -1);
        EXPECT_EQ(o.is_stream, 0);
        EXPECT_EQ(o.file_pos, u.objs.items[0].head) << "packed objects stand at their container";
      }
    EXPECT_EQ(u.a.count(), 1);
  }
}

// Headers and dictionaries that make the whole stream contribute nothing.
TEST(ObjectStream, UnusableHeaderContributesNothing) {
  struct kase {
    const char *name;
    std::string dict;
    std::string content;
  };
  const std::string bodies = "<<>> (b) [c]";
  const kase cases[] = {
      {"non-numeric token", "/N 3 /First 12", "1 0 x 5 3 9 " + bodies},
      {"reference-like token", "/N 3 /First 12", "1 0 2 R 3 9 " + bodies},
      {"negative number", "/N 3 /First 12", "1 0 2 -5 3 9 " + bodies},
      {"too few pairs", "/N 3 /First 8", "1 0 2 5 " + bodies},
      {"N 0", "/N 0 /First 12", "1 0 2 5 3 9 " + bodies},
      {"no N", "/First 12", "1 0 2 5 3 9 " + bodies},
      {"negative First", "/N 3 /First -1", "1 0 2 5 3 9 " + bodies},
      {"First beyond the data", "/N 3 /First 400", "1 0 2 5 3 9 " + bodies},
      {"N above 100000", "/N 100001 /First 12", "1 0 2 5 3 9 " + bodies},
  };
  for (const kase &c : cases) {
    SCOPED_TRACE(c.name);
    std::string pdf = hand_objstm(c.dict, c.content, true);
    unpacked u;
    unpack_file(pdf, u);
    EXPECT_TRUE(u.packed().empty());
    EXPECT_EQ(u.a.count(), 0) << "nothing kept for a stream that contributes nothing";
  }
}

// Header offsets decide each object's byte range; a bad range costs that object only. An
// object starting outside the unpacked data is skipped, one running past its end is cut.
TEST(ObjectStream, ObjectRanges) {
  struct kase {
    const char *name;
    std::string header;  // "/First" is its length
    std::string bodies;
    packed_list want;
  };
  const kase cases[] = {
      {"empty and negative lengths skipped", "1 0 2 4 3 4 4 2 5 8 ", "AAAABBBBCC",
       {{1, "AAAA"}, {4, "AABBBB"}, {5, "CC"}}},
      {"object number 0 skipped", "0 0 2 2 ", "AABB", {{2, "BB"}}},
      {"last object past the data skipped", "1 0 2 30 ", "AABB", {{1, "AABB"}}},
      {"object starting past the data skipped", "1 0 2 30 3 31 ", "AABB", {{1, "AABB"}}},
      {"object running past the data cut", "1 0 2 3 3 500 ", "abcdefgh",
       {{1, "abc"}, {2, "defgh"}}},
      {"offsets out of order", "1 6 2 0 3 2 ", "abcdefgh", {{2, "ab"}, {3, "cdefgh"}}},
  };
  for (const kase &c : cases) {
    SCOPED_TRACE(c.name);
    int pairs = 0;
    for (char ch : c.header) pairs += ch == ' ';
    std::string dict =
        "/N " + std::to_string(pairs / 2) + " /First " + std::to_string(c.header.size());
    unpacked u;
    unpack_file(hand_objstm(dict, c.header + c.bodies, false), u);
    EXPECT_EQ(u.packed(), c.want);
  }
}

TEST(ObjectStream, ObjectAboveOneMebibyteSkipped) {
  std::string big(1048577, 'x');
  std::string header = "1 0 2 1048577 ";
  std::string pdf = hand_objstm("/N 2 /First " + std::to_string(header.size()),
                                header + big + "<< /B 2 >>", true);
  unpacked u;
  unpack_file(pdf, u);
  EXPECT_EQ(u.packed(), (packed_list{{2, "<< /B 2 >>"}}));
}

// Data that decode to far more than eight times their size need the fourfold retries.
TEST(ObjectStream, HighExpansionIsUnpackedAfterRetries) {
  std::string header = "7 0" + std::string(4 << 20, ' ');
  std::string content = header + "<< /Deep 1 >>";
  std::string packed = zlib_compress(content, 9);
  ASSERT_LT(packed.size() * 8 + 64, content.size() / 16) << "the fixture needs two retries";
  pdf_builder b;
  b.stream(10,
           "/Type /ObjStm /N 1 /First " + std::to_string(header.size()) +
               " /Filter /FlateDecode",
           packed);
  unpacked u;
  unpack_file(b.str(), u);
  EXPECT_EQ(u.packed(), (packed_list{{7, "<< /Deep 1 >>"}}));
}

TEST(ObjectStream, WithoutFlateTheBytesAreReadAsTheyStand) {
  // A filter other than Flate is not applied: the header "1 0" is read from the raw bytes.
  std::string pdf = hand_objstm("/N 1 /First 4 /Filter /ASCIIHexDecode", "1 0 (raw)", false);
  unpacked u;
  unpack_file(pdf, u);
  EXPECT_EQ(u.packed(), (packed_list{{1, "(raw)"}}));
}

TEST(ObjectStream, DamagedFlateDataContributeNothing) {
  std::string content = "1 0 2 6 << >> (two)";
  std::string packed = zlib_compress(content + std::string(3000, 'q'));
  pdf_builder b;
  b.stream(10, "/Type /ObjStm /N 2 /First 8 /Filter /FlateDecode",
           packed.substr(0, packed.size() / 2));
  b.stream(11, "/Type /ObjStm /N 2 /First 8 /Filter /FlateDecode", "not flate at all");
  unpacked u;
  unpack_file(b.str(), u);
  // A stream cut short still yields what came before the cut, or nothing; never garbage.
  for (const auto &[num, text] : u.packed()) {
    EXPECT_TRUE(num == 1 || num == 2);
    EXPECT_LE(text.size(), content.size() + 3000);
  }
}

TEST(ObjectStream, HundredThousandPairs) {
  for (int n : {100000, 100001}) {
    std::vector<std::pair<int, std::string>> objs;
    for (int i = 1; i <= n; ++i) objs.emplace_back(i, "1");
    pdf_builder b;
    b.object_stream(200000, objs);
    unpacked u;
    unpack_file(b.str(), u);
    EXPECT_EQ(u.packed().size(), n <= 100000 ? static_cast<size_t>(n) : 0u);
  }
}

// Heads whose dictionaries all close at one ">>" claim one stream; it is unpacked once.
TEST(ObjectStream, OneStreamClaimedByManyHeadsIsUnpackedOnce) {
  pdf_builder b;
  std::string heads;
  for (int i = 0; i < 1000; ++i) heads += "30 0 obj <a>\n";
  std::string body = "1 0 (x)";
  b.raw(heads + "40 0 obj << /Type /ObjStm /N 1 /First 4 /Length " + std::to_string(body.size()) +
        " >>\nstream\n" + body + "\nendstream\nendobj\n");
  unpacked u;
  unpack_file(b.str(), u);
  EXPECT_EQ(u.packed(), (packed_list{{1, "(x)"}}));
  ASSERT_EQ(u.objs.items.back().file_pos, static_cast<int32_t>(b.str().find("40 0 obj")));
}

TEST(Arena, BlocksAreOwnedAndCounted) {
  arena a;
  uint8_t *p = arena_alloc(a, 16);
  uint8_t *q = arena_alloc(a, 0);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(p, q);
  for (int i = 0; i < 10; ++i) ASSERT_NE(arena_alloc(a, 100), nullptr);
  EXPECT_EQ(a.count(), 12);
  EXPECT_EQ(a.blocks[0].get(), p);
}

}  // namespace
