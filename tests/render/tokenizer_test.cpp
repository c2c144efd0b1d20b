// Content-stream tokens and the extents of values written in place.

#include "render/tokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const uint8_t *u8(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

// One line per token: "N:<value>", "/<name>", "S:<bytes>", "O:<operator>", "[" or "<<>>".
std::string describe(const token &t) {
  char num[64];
  switch (t.type) {
    case TOK_NUMBER:
      std::snprintf(num, sizeof num, "N:%g", t.num);
      return num;
    case TOK_NAME:
      return "/" + std::string(t.name);
    case TOK_STRING:
      return "S:" + std::string(reinterpret_cast<const char *>(t.bytes),
                                static_cast<size_t>(t.len));
    case TOK_OPERATOR:
      return "O:" + std::string(t.name);
    case TOK_ARRAY:
      return "[";
    case TOK_DICT:
      return "<<>>";
    default:
      return "?";
  }
}

std::vector<std::string> tokens_of(const std::string &text) {
  std::vector<std::string> out;
  token t;
  int32_t len = static_cast<int32_t>(text.size());
  int32_t p = 0;
  while (p < len) {
    int32_t next = token_next(u8(text), len, p, &t);
    EXPECT_GT(next, p) << "no progress at " << p << " in " << text;
    if (next <= p) break;
    p = next;
    if (t.type != TOK_NONE) out.push_back(describe(t));
  }
  return out;
}

struct token_case {
  const char *text;
  std::vector<std::string> expect;
};

class TokenizerCases : public ::testing::TestWithParam<token_case> {};

TEST_P(TokenizerCases, ReadsTokens) {
  const token_case &c = GetParam();
  EXPECT_EQ(tokens_of(c.text), c.expect) << "input: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, TokenizerCases,
    ::testing::Values(
        token_case{"-3", {"N:-3"}}, token_case{"+-3", {"N:-3"}}, token_case{"+3", {"N:3"}},
        token_case{"5.", {"N:5"}}, token_case{".5", {"N:0.5"}}, token_case{"-.5", {"N:-0.5"}},
        token_case{"1.5e2", {"N:150"}}, token_case{"2E-2", {"N:0.02"}},
        token_case{"3e+1", {"N:30"}}, token_case{"1e", {"N:1", "O:e"}},
        token_case{"1ex", {"N:1", "O:ex"}},
        // A number that starts with '.' takes no exponent.
        token_case{".5e2", {"N:0.5", "O:e", "N:2"}},
        token_case{"- 3", {"N:3"}}, token_case{"-x", {"O:x"}}, token_case{"-(a)", {"O:a"}},
        token_case{". 4", {"N:4"}}, token_case{"-.q", {"O:q"}}, token_case{"d0", {"O:d", "N:0"}},
        token_case{"1.2.3", {"N:1.2", "N:0.3"}}));

INSTANTIATE_TEST_SUITE_P(
    Strings, TokenizerCases,
    ::testing::Values(
        token_case{"<41 42>", {"S:AB"}}, token_case{"<414>", {"S:A@"}},
        token_case{"<4 1>", {"S:@\x10"}}, token_case{"<41z42>", {"S:A", "N:42"}},
        token_case{"<4\x0b" "1>", {"S:@\x10"}}, token_case{"<41", {"S:A"}},
        token_case{"<>", {"S:"}}, token_case{"(a(b)c)", {"S:a(b)c"}},
        token_case{"(a\\\nb)", {"S:ab"}}, token_case{"(a\\\r\nb)", {"S:ab"}},
        token_case{"(a\\\rb)", {"S:ab"}}, token_case{"(\\101)", {"S:A"}},
        token_case{"(\\0411)", {"S:!1"}}, token_case{"(\\7)", {"S:\x07"}},
        token_case{"(\\501)", {"S:A"}},  // 0501 is 321, kept modulo 256
        token_case{"(\\n\\r\\t\\b\\f)", {"S:\n\r\t\b\f"}},
        token_case{"(\\(\\)\\\\\\q)", {"S:()\\q"}}, token_case{"(a\\)", {"S:a)"}},
        token_case{"(abc", {"S:abc"}}, token_case{"(ab\\", {"S:ab"}},
        token_case{"(x) (y)", {"S:x", "S:y"}}));

INSTANTIATE_TEST_SUITE_P(
    Structure, TokenizerCases,
    ::testing::Values(
        token_case{"[1 2]", {"[", "N:1", "N:2"}},
        token_case{"<< /A << /B 1 >> >> q", {"<<>>", "O:q"}},
        token_case{"<< /A (>>) >> q", {"<<>>", "O:q"}},  // strings inside are not recognised
        token_case{"<< /A 1", {"<<>>"}}, token_case{"%comment\rq", {"O:q"}},
        token_case{"%comment\nQ % more", {"O:Q"}}, token_case{"%no end q", {}},
        token_case{") > ] } q", {"O:q"}}, token_case{"/Name /a.b-c+d_e*f", {"/Name", "/a.b-c+d_e*f"}},
        token_case{"/", {"/"}}, token_case{"/a#20b", {"/a", "N:20", "O:b"}},
        token_case{"/F1 12 Tf", {"/F1", "N:12", "O:Tf"}},
        token_case{"f* B* T*", {"O:f*", "O:B*", "O:T*"}},
        token_case{"a'b\"", {"O:a", "O:'", "O:b", "O:\""}},
        token_case{"\x80\xff@ q", {"O:q"}}));

TEST(Tokenizer, ControlBytesAndNulAreSkipped) {
  EXPECT_EQ(tokens_of(std::string("\0\x01q\x1f", 4)), std::vector<std::string>{"O:q"});
}

TEST(Tokenizer, LongTextOutgrowsTheInlineStorage) {
  std::string body(1000, 'a');
  body[500] = 'z';
  EXPECT_EQ(tokens_of("(" + body + ")"), std::vector<std::string>{"S:" + body});
  std::string hex;
  for (int i = 0; i < 300; i++) hex += "41";
  EXPECT_EQ(tokens_of("<" + hex + ">"), std::vector<std::string>{"S:" + std::string(300, 'A')});
  std::string name(100, 'n');
  EXPECT_EQ(tokens_of("/" + name), std::vector<std::string>{"/" + name});

  // An operator too long to be one of the format's keeps its length.
  std::string op(200, 'x');
  token t;
  token_next(u8(op), static_cast<int32_t>(op.size()), 0, &t);
  EXPECT_EQ(t.type, TOK_OPERATOR);
  EXPECT_EQ(t.len, 200);
}

TEST(Tokenizer, MovedTokensKeepTheirText) {
  std::vector<token> held;
  for (const char *s : {"(short)", "/Nm", "(a string that is longer than the inline storage of a token)"}) {
    token t;
    token_next(u8(s), static_cast<int32_t>(std::strlen(s)), 0, &t);
    held.push_back(std::move(t));
    EXPECT_EQ(t.type, TOK_NONE);
  }
  held.reserve(100);  // moves every element again
  EXPECT_EQ(describe(held[0]), "S:short");
  EXPECT_EQ(describe(held[1]), "/Nm");
  EXPECT_EQ(describe(held[2]), "S:a string that is longer than the inline storage of a token");
  token_release(&held[2]);
  EXPECT_EQ(held[2].type, TOK_NONE);
  EXPECT_EQ(held[2].bytes, nullptr);
}

TEST(Tokenizer, PositionPastTheEndGivesNothing) {
  token t;
  EXPECT_EQ(token_next(u8("q"), 1, 1, &t), 1);
  EXPECT_EQ(t.type, TOK_NONE);
  EXPECT_EQ(token_next(u8("q"), 1, 5, &t), 1);
  EXPECT_EQ(token_next(u8("q"), 1, -3, &t), 1);
  EXPECT_EQ(t.type, TOK_OPERATOR);
}

TEST(ValueExtents, ValueEnd) {
  struct {
    const char *text;
    int32_t end;
  } cases[] = {
      {"12 0 R /X", 6}, {"12 0 obj", 2},     {"12 /X", 2},   {"1.5 0 R", 3},
      {"/Name x", 5},   {"(a)b)", 3},         {"[1 [2] (]) 3] x", 13},
      {"<< /A [ >> x", 10}, {"[1 2", 4},      {"  5 R", 3},   {"<41> x", 4},
  };
  for (const auto &c : cases) {
    std::string s = c.text;
    EXPECT_EQ(value_end(u8(s), 0, static_cast<int32_t>(s.size())), c.end) << c.text;
  }
}

TEST(ValueExtents, DictionaryEntriesAtTopLevelOnly) {
  std::string d = "<< /A [/C 1] /B << /C 2 >> /Z 5 0 R %/C\n /C /X /Cx 3 >>";
  int32_t n = static_cast<int32_t>(d.size());
  EXPECT_EQ(dict_value(u8(d), 0, n, "C"), static_cast<int32_t>(d.find("/X")));
  EXPECT_EQ(dict_value(u8(d), 0, n, "Z"), static_cast<int32_t>(d.find("5 0 R")));
  EXPECT_EQ(dict_value(u8(d), 0, n, "Cx"), static_cast<int32_t>(d.find("3 >>")));
  EXPECT_EQ(dict_value(u8(d), 0, n, "Q"), -1);
  EXPECT_EQ(dict_value(u8(d), 3, n, "A"), -1);  // no "<<" there
  std::string open = "<< /A 1 /B";
  EXPECT_EQ(dict_value(u8(open), 0, static_cast<int32_t>(open.size()), "B"), -1);
}

TEST(ValueExtents, ArrayItems) {
  std::string a = "[/Indexed [/ICCBased 5 0 R] 1 (\\)]) <00FF>]";
  int32_t n = static_cast<int32_t>(a.size());
  EXPECT_EQ(array_count(u8(a), 0, n), 5);
  EXPECT_EQ(array_item(u8(a), 0, n, 0), 1);
  EXPECT_EQ(array_item(u8(a), 0, n, 1), static_cast<int32_t>(a.find("[/ICC")));
  EXPECT_EQ(array_item(u8(a), 0, n, 3), static_cast<int32_t>(a.find("(")));
  EXPECT_EQ(array_item(u8(a), 0, n, 4), static_cast<int32_t>(a.find("<00")));
  EXPECT_EQ(array_item(u8(a), 0, n, 5), -1);
  EXPECT_EQ(array_count(u8(a), 1, n), -1);
  std::string refs = "[5 0 R 6 0 R 7]";
  EXPECT_EQ(array_count(u8(refs), 0, static_cast<int32_t>(refs.size())), 3);
}

}  // namespace
