// The lexical helpers: whole-word keywords, name boundaries, where each integer reader leaves
// its position, dictionary ends around strings and hexadecimal strings, and staying inside the
// given bounds on arbitrary bytes.

#include "pdfcore/lex.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }
int32_t len32(const std::string &s) { return static_cast<int32_t>(s.size()); }

// Straightforward scans used to check the memchr-driven ones position by position.
int32_t naive_find_kw(const uint8_t *d, int32_t end, int32_t from, const char *kw) {
  int32_t kl = static_cast<int32_t>(std::strlen(kw));
  for (int32_t p = from < 0 ? 0 : from; p + kl <= end; p++)
    if (kw_at(d, p, end, kw)) return p;
  return -1;
}

int32_t naive_find_name(const uint8_t *d, int32_t len, int32_t from, int32_t end,
                        const char *name) {
  int32_t nl = static_cast<int32_t>(std::strlen(name));
  int32_t lim = len < end ? len : end;
  for (int32_t p = from < 0 ? 0 : from; p + nl + 1 <= lim; p++) {
    if (d[p] != '/' || std::memcmp(d + p + 1, name, nl) != 0) continue;
    if (p + nl + 1 == lim) return p;
    uint8_t c = d[p + nl + 1];
    if (!is_alnum(c) && c != '+' && c != '-' && c != '_') return p;
  }
  return -1;
}

TEST(Lex, SkipWsTakesExactlyThePdfWhiteSpace) {
  std::string s("\0\t\n\f\r x", 7);
  EXPECT_EQ(skip_ws(u8(s), 0, len32(s)), 6);
  EXPECT_EQ(skip_ws(u8(s), 0, 3), 3);
  std::string v = "\v x";  // vertical tab is no PDF white space
  EXPECT_EQ(skip_ws(u8(v), 0, len32(v)), 0);
  std::string c = "%c\n x";  // nor is a comment
  EXPECT_EQ(skip_ws(u8(c), 0, len32(c)), 0);
}

TEST(Lex, KeywordIsWholeWord) {
  struct tc {
    const char *text;
    int32_t pos;
    int expect;
  };
  const tc cases[] = {
      {"1 0 obj<<", 4, 1},   {"1 0 obj\n", 4, 1}, {"1 0 obj", 4, 1},   {"1 0 obj>", 4, 1},
      {"endobj", 3, 0},      {"1 0 objx", 4, 0},  {"1 0 obj1", 4, 0},  {"1 0 ob", 4, 0},
      {"9obj ", 1, 0},       {"obj", 0, 1},       {"obj", -1, 0},      {"(obj)", 1, 1},
      {"\xE9obj", 1, 1},  // bytes above 127 are no letters
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    EXPECT_EQ(kw_at(u8(s), c.pos, len32(s), "obj"), c.expect) << c.text << " at " << c.pos;
  }
  // The word may end exactly at the bound even when a letter follows beyond it.
  std::string s = "1 0 objx";
  EXPECT_EQ(kw_at(u8(s), 4, 7, "obj"), 1);
  EXPECT_EQ(kw_at(u8(s), 4, 6, "obj"), 0);
}

TEST(Lex, FindKeywordSkipsPartialWords) {
  std::string s = "endobj xobj objy 12 0 obj";
  EXPECT_EQ(find_kw(u8(s), len32(s), 0, "obj"), 22);
  EXPECT_EQ(find_kw(u8(s), len32(s), -5, "obj"), 22);
  EXPECT_EQ(find_kw(u8(s), len32(s), 23, "obj"), -1);
  EXPECT_EQ(find_kw(u8(s), 24, 0, "obj"), -1);
  EXPECT_EQ(find_kw(u8(s), len32(s), 0, "endobj"), 0);
  std::string t = "startxrefstartxref startxref";
  EXPECT_EQ(find_kw(u8(t), len32(t), 0, "startxref"), 19);
}

TEST(Lex, NameBoundaries) {
  struct tc {
    const char *text;
    int32_t expect;
  };
  const tc cases[] = {
      {"/Page ", 0},  {"/Page/", 0},  {"/Page>", 0},   {"/Page(", 0},  {"/Page[", 0},
      {"/Page.", 0},  {"/Page#", 0},  {"/Page", 0},    {"/Pages", -1}, {"/Page2", -1},
      {"/Page_", -1}, {"/Page+", -1}, {"/Page-", -1},  {"Page ", -1},  {"/Pages /Page", 7},
      {"/Pag", -1},   {"//Page", 1},  {"/Page\xE9", 0},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    EXPECT_EQ(find_name(u8(s), len32(s), 0, len32(s), "Page"), c.expect) << c.text;
  }
  std::string s = "<< /Pages 2 0 R /Page 3 >>";
  EXPECT_EQ(find_name(u8(s), len32(s), 0, len32(s), "Page"), 16);
  // The smaller of the two bounds counts; the name may end right on it.
  EXPECT_EQ(find_name(u8(s), len32(s), 0, 21, "Page"), 16);
  EXPECT_EQ(find_name(u8(s), 21, 0, 100, "Page"), 16);
  EXPECT_EQ(find_name(u8(s), len32(s), 0, 20, "Page"), -1);
  EXPECT_EQ(find_name(u8(s), len32(s), 17, len32(s), "Page"), -1);
  EXPECT_EQ(find_name(u8(s), 4, 0, 4, "Page"), -1);
}

TEST(Lex, TopLevelNameSearch) {
  struct tc {
    const char *text;
    int32_t expect;  // -2: the position of the last "/Type" in the text
  };
  const tc cases[] = {
      {"<< /Type /Page >>", 3},
      {"/Type /Page", 0},  // a range starting inside the dictionary is depth 0
      {"<< /Sub << /Type /X >> /Type /Y >>", -2},
      {"<< /Sub << /Type /X >> >>", -1},
      {"<< /A << << /Type >> >> >>", -1},
      {"<< /A (/Type) /Type /Z >>", -2},
      {"<< /A (a\\)/Type) /Type /Z >>", -2},
      {"<< /A (x(/Type)y) /Type /Z >>", -2},
      {"<< /A </Type> /Type /Z >>", -2},
      {"<< % /Type\n/Type /Z >>", -2},
      {"<< % /Type\r/Type /Z >>", -2},
      {"<< /Types /Type >>", -2},
      {"<< /A >/Type >>", -2},
      {">> >> /Type", -2},  // depth does not go below 0
      {"<< /A (unterminated /Type", -1},
      {"<< /A <no end /Type", -1},
      {"<< % comment to the end /Type", -1},
      {"<< /A <", -1},
      {"<< /A >", -1},
      {"<< /A (", -1},
      {"<< /Type", 3},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    int32_t expect = c.expect == -2 ? static_cast<int32_t>(s.rfind("/Type")) : c.expect;
    EXPECT_EQ(find_name_top(u8(s), len32(s), 0, len32(s), "Type"), expect) << c.text;
  }
  std::string s = "<< /Type /Page >>";
  EXPECT_EQ(find_name_top(u8(s), len32(s), 0, 7, "Type"), -1);
  EXPECT_EQ(find_name_top(u8(s), len32(s), 0, 8, "Type"), 3);
  EXPECT_EQ(find_name_top(u8(s), 8, 0, 100, "Type"), 3);
}

// Where each reader leaves the position matters to its callers: object-stream headers stop
// on an "R", matrix readers rely on always moving forward.
TEST(Lex, IntegerReadersPositionRules) {
  struct result {
    int32_t value;
    int32_t pos;
  };
  struct tc {
    std::string text;
    int32_t pos;
    int32_t end;  // -1: the whole text
    result parse, adv, num;
  };
  const tc cases[] = {
      {"  -12 x", 0, -1, {-12, 5}, {-12, 5}, {-12, 5}},
      {"+7 ", 0, -1, {-1, 0}, {7, 2}, {7, 2}},
      {"42", 0, -1, {42, 2}, {42, 2}, {42, 2}},
      {"12 34", 0, 1, {1, 1}, {1, 1}, {1, 1}},
      {"12 34", 2, -1, {34, 5}, {34, 5}, {34, 5}},
      {std::string("\0\t\n\f\r 9", 7), 0, -1, {9, 7}, {9, 7}, {9, 7}},
      {"abc", 3, -1, {-1, 3}, {-1, 3}, {-1, 3}},
      {"abc", 7, -1, {-1, 7}, {-1, 7}, {-1, 7}},
      {"   ", 0, -1, {-1, 0}, {-1, 3}, {-1, 3}},
      {"  5", 0, 2, {-1, 0}, {-1, 2}, {-1, 2}},
      {"  -", 0, -1, {-1, 0}, {-1, 3}, {-1, 4}},
      {"  +", 0, -1, {-1, 0}, {-1, 3}, {-1, 4}},
      {" R", 0, -1, {-1, 0}, {-1, 1}, {-1, 2}},
      {"-R", 0, -1, {-1, 0}, {-1, 1}, {-1, 2}},
      {" x5", 0, -1, {-1, 0}, {-1, 2}, {-1, 2}},
      {"+-5", 0, -1, {-1, 0}, {-1, 2}, {-1, 2}},
      {"\x01 5", 0, -1, {-1, 0}, {-1, 1}, {-1, 1}},
      {"\v5", 0, -1, {-1, 0}, {-1, 1}, {-1, 1}},
      {"-1", 0, -1, {-1, 2}, {-1, 2}, {-1, 2}},
      {"4294967297", 0, -1, {1, 10}, {1, 10}, {1, 10}},
      {"2147483648", 0, -1, {INT32_MIN, 10}, {INT32_MIN, 10}, {INT32_MIN, 10}},
      {"-2147483648", 0, -1, {INT32_MIN, 11}, {INT32_MIN, 11}, {INT32_MIN, 11}},
      {"007x", 0, -1, {7, 3}, {7, 3}, {7, 3}},
  };
  using reader = int32_t (*)(const uint8_t *, int32_t, int32_t *);
  for (const tc &c : cases) {
    int32_t end = c.end < 0 ? len32(c.text) : c.end;
    const std::pair<reader, result> runs[] = {
        {parse_int_at, c.parse}, {read_int_adv, c.adv}, {read_num_adv, c.num}};
    const char *names[] = {"parse_int_at", "read_int_adv", "read_num_adv"};
    for (int i = 0; i < 3; i++) {
      int32_t pos = c.pos;
      int32_t v = runs[i].first(u8(c.text), end, &pos);
      EXPECT_EQ(v, runs[i].second.value) << names[i] << " on \"" << c.text << "\"";
      EXPECT_EQ(pos, runs[i].second.pos) << names[i] << " on \"" << c.text << "\"";
    }
  }
}

TEST(Lex, DictionaryClose) {
  struct tc {
    const char *text;
    int32_t expect;  // -2: the position of the last ">>" in the text
  };
  const tc cases[] = {
      {"<< /A 1 >>", -2},
      {"x << /A << /B 2 >> /C [<< >>] >> tail", 30},
      {"<< /S (>>) >>", -2},
      {"<< /S (a\\)>>) >>", -2},
      {"<< /S (a(b)>>c) >>", -2},
      {"<< /S (\\\\) >>", -2},
      {"<< /ID <9F3A>>>stream", 13},  // the hexadecimal string keeps its ">"
      {"<< /ID [<9F3A><0B>] >>", -2},
      {"<< /A <<>>>>", 10},
      {">> << /A 1 >>", -2},  // a close with nothing open is stepped over
      {"<< /A 1 >", -1},
      {"<< /A <", -1},
      {"<< /A <9F", -1},
      {"<< /A (x >>", -1},
      {"<< /A (x\\", -1},
      {"<< /A 1", -1},
      {"", -1},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    int32_t expect = c.expect == -2 ? static_cast<int32_t>(s.rfind(">>")) : c.expect;
    EXPECT_EQ(find_dict_close(u8(s), 0, len32(s)), expect) << c.text;
  }
  std::string s = "<< /A 1 >> << /B 2 >>";
  EXPECT_EQ(find_dict_close(u8(s), 1, len32(s)), 19);
  EXPECT_EQ(find_dict_close(u8(s), 0, 9), -1);
}

TEST(Lex, StreamKeywordAfterDictionary) {
  struct tc {
    const char *text;
    int32_t expect;  // -2: the position of "stream"
  };
  const tc cases[] = {
      {"<< /Length 3 >>stream\n", -2},
      {"<< /Length 3 >>\r\nstream\r\n", -2},
      {"<< >> \t\r\n \f stream", -2},
      {"<< /ID [<9F3A>]>>stream\n", -2},
      {"<< /ID <9F3A>>>stream\n", -2},
      {"<< /T (>>) >> stream\n", -2},
      {"<< >> streamx", -1},
      {"<< >> stream1", -1},
      {"<< >> % c\nstream", -1},
      {"<< >> endstream", -1},
      {"<< >>", -1},
      {"<< /A 1 stream", -1},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    int32_t expect = c.expect == -2 ? static_cast<int32_t>(s.rfind("stream")) : c.expect;
    EXPECT_EQ(dict_stream_kw(u8(s), len32(s), 0), expect) << c.text;
  }
}

TEST(Lex, DictionaryCopy) {
  struct tc {
    const char *text;
    int32_t pos;
    const char *expect;  // null: no copy
  };
  const tc cases[] = {
      {"<< /A (x)>>", 0, "<< /A (x)>>"},
      {"<< /A (x)/B 1 >> tail", 0, "<< /A (x)/B 1 >>"},
      {"xx<< /R << /F 1 >> >>yy", 2, "<< /R << /F 1 >> >>"},
      {"<< /ID <9F3A>>>stream", 0, "<< /ID <9F3A>>>"},
      {"<< /S (>>) >>", 0, "<< /S (>>) >>"},
      {"<< /A 1", 0, nullptr},
      {"<< /A (x>>", 0, nullptr},
      {"< /A >>", 0, nullptr},
      {"x<<", 2, nullptr},
      {"<<>>", -1, nullptr},
      {"<<>>", 9, nullptr},
  };
  for (const tc &c : cases) {
    std::string s = c.text;
    int32_t n = -5;
    c_ptr<uint8_t> t = dict_text_at(u8(s), len32(s), c.pos, &n);
    if (!c.expect) {
      EXPECT_EQ(t, nullptr) << c.text;
      EXPECT_EQ(n, 0);
      continue;
    }
    ASSERT_NE(t, nullptr) << c.text;
    EXPECT_STREQ(reinterpret_cast<const char *>(t.get()), c.expect);
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(c.expect)));
  }
}

// Random text rich in the bytes the scanners react to.
std::string random_pdfish(std::mt19937 &rng, size_t n) {
  static const char alphabet[] = "<<>>()/\\%\r\n \t0123456789-+RTypeobjstreamPag_x\xE9";
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
  std::string s(n, ' ');
  for (char &ch : s) ch = alphabet[pick(rng)];
  return s;
}

TEST(Lex, SkippingScansMatchPositionByPositionScans) {
  std::mt19937 rng(1234);
  const char *kws[] = {"obj", "endobj", "stream", "R", "startxref"};
  const char *names[] = {"Type", "Page", "R", "P"};
  for (int trial = 0; trial < 20000; trial++) {
    std::string s = random_pdfish(rng, rng() % 200);
    int32_t n = len32(s);
    std::uniform_int_distribution<int32_t> any(-2, n + 2);
    int32_t from = any(rng), end = std::min(any(rng), n);
    const char *kw = kws[rng() % 5];
    ASSERT_EQ(find_kw(u8(s), end, from, kw), naive_find_kw(u8(s), end, from, kw))
        << s << " kw=" << kw << " from=" << from << " end=" << end;
    const char *name = names[rng() % 4];
    int32_t len = std::min(any(rng), n);
    ASSERT_EQ(find_name(u8(s), len, from, end, name), naive_find_name(u8(s), len, from, end, name))
        << s << " name=" << name << " from=" << from << " end=" << end << " len=" << len;
  }
}

// Each input is copied into a block exactly as long as the bound handed to the helpers, so a
// read past the bound is caught by the sanitizer build.
TEST(Lex, HelpersStayInsideTheirBounds) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 20000; trial++) {
    std::string s = random_pdfish(rng, rng() % 96);
    int32_t n = len32(s);
    c_ptr<uint8_t> block(static_cast<uint8_t *>(std::malloc(s.size() ? s.size() : 1)));
    ASSERT_NE(block, nullptr);
    std::memcpy(block.get(), s.data(), s.size());
    const uint8_t *d = block.get();
    std::uniform_int_distribution<int32_t> any(-3, n + 3);
    int32_t pos = any(rng);

    int32_t w = skip_ws(d, pos, n);
    EXPECT_TRUE(pos >= n ? w == pos : (w >= std::max(pos, 0) && w <= n));
    kw_at(d, pos, n, "obj");
    int32_t k = find_kw(d, n, pos, "stream");
    EXPECT_TRUE(k == -1 || (k >= std::max(pos, 0) && k + 6 <= n));

    using reader = int32_t (*)(const uint8_t *, int32_t, int32_t *);
    for (reader r : {parse_int_at, read_int_adv, read_num_adv}) {
      int32_t p = pos;
      r(d, n, &p);
      EXPECT_TRUE(p == pos || (p > pos && p <= n + 1));
    }

    int32_t end = any(rng);
    int32_t f = find_name(d, n, pos, end, "Type");
    EXPECT_TRUE(f == -1 || (f >= std::max(pos, 0) && f + 5 <= std::min(n, end)));
    int32_t t = find_name_top(d, n, pos, end, "Type");
    EXPECT_TRUE(t == -1 || (t >= std::max(pos, 0) && t + 5 <= std::min(n, end)));

    int32_t c = find_dict_close(d, pos, n);
    EXPECT_TRUE(c == -1 || (c >= std::max(pos, 0) && c + 2 <= n));
    if (c >= 0) {
      EXPECT_EQ(d[c], '>');
    }
    int32_t sk = dict_stream_kw(d, n, pos);
    EXPECT_TRUE(sk == -1 || (sk > c && sk + 6 <= n));

    int32_t tl = 0;
    c_ptr<uint8_t> text = dict_text_at(d, n, pos, &tl);
    if (text) {
      EXPECT_EQ(std::memcmp(text.get(), d + pos, tl), 0);
      EXPECT_EQ(text.get()[tl], 0);
      EXPECT_EQ(pos + tl - 2, c);
    }
  }
}

}  // namespace
