// The options text: every key with its type and range, the messages that name the key, and
// texts of any bytes (broken syntax, deep nesting, huge numbers, NaN) refused cleanly.
#include "engine/options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Options, NullAndEmptyObjectMeanEveryDefault) {
  detect_options o;
  std::string why;
  o.rule = RULE_SCAN;
  ASSERT_TRUE(parse_detect_options(nullptr, &o, &why));
  EXPECT_EQ(o.rule, RULE_LIGHT);
  EXPECT_EQ(o.threshold, 99);
  ASSERT_TRUE(parse_detect_options(" \n{ }\t", &o, &why));
  EXPECT_EQ(o.rule, RULE_LIGHT);
  const scan_params d;
  EXPECT_EQ(o.scan.margin_mm, d.margin_mm);
  EXPECT_EQ(o.scan.max_ink_mm2, d.max_ink_mm2);
}

TEST(Options, KeysSetTheirValues) {
  detect_options o;
  std::string why;
  ASSERT_TRUE(parse_detect_options(
      R"({"rule":"scan","threshold":-5,"margin_mm":12.5,"speck_mm2":0.25,"contrast":40,)"
      R"("max_ink_mm2":1e1})",
      &o, &why))
      << why;
  EXPECT_EQ(o.rule, RULE_SCAN);
  EXPECT_EQ(o.threshold, -5);  // clamped by the call, as the plain calls clamp theirs
  EXPECT_EQ(o.scan.margin_mm, 12.5);
  EXPECT_EQ(o.scan.speck_mm2, 0.25);
  EXPECT_EQ(o.scan.contrast, 40);
  EXPECT_EQ(o.scan.max_ink_mm2, 10);
  ASSERT_TRUE(parse_detect_options(R"({"rule":"light","threshold":100})", &o, &why));
  EXPECT_EQ(o.rule, RULE_LIGHT);
  EXPECT_EQ(o.threshold, 100);
  ASSERT_TRUE(parse_detect_options(R"({"rule":"sc\u0061n"})", &o, &why));
  EXPECT_EQ(o.rule, RULE_SCAN);
}

TEST(Options, RefusalsNameTheKey) {
  struct row {
    const char *text;
    const char *message;
  } rows[] = {
      {R"({"rul":"scan"})", "options: unknown key \"rul\""},
      {R"({"rule":"Scan"})", "options: \"rule\" must be \"light\" or \"scan\""},
      {R"({"rule":1})", "options: \"rule\" must be \"light\" or \"scan\""},
      {R"({"threshold":99.5})", "options: \"threshold\" must be a whole number"},
      {R"({"threshold":"99"})", "options: \"threshold\" must be a whole number"},
      {R"({"threshold":1e300})", "options: \"threshold\" is out of range"},
      {R"({"threshold":1e999})", "options: \"threshold\" is out of range"},
      {R"({"threshold":3000000000})", "options: \"threshold\" is out of range"},
      {R"({"margin_mm":-1})", "options: \"margin_mm\" must be from 0 to 50"},
      {R"({"margin_mm":true})", "options: \"margin_mm\" must be a number"},
      {R"({"margin_mm":null})", "options: \"margin_mm\" must be a number"},
      {R"({"speck_mm2":101})", "options: \"speck_mm2\" must be from 0 to 100"},
      {R"({"contrast":0})", "options: \"contrast\" must be from 1 to 255"},
      {R"({"max_ink_mm2":[1]})", "options: \"max_ink_mm2\" must be a number"},
      {R"({"rule":{"a":1}})", "options: \"rule\" must be \"light\" or \"scan\""},
      {R"({"rule":"scan","rule":"light"})", "options: key \"rule\" given twice"},
      {"[]", "options: not a JSON object"},
      {"", "options: not a JSON object"},
      {"scan", "options: not a JSON object"},
  };
  for (const row &c : rows) {
    detect_options o;
    std::string why;
    EXPECT_FALSE(parse_detect_options(c.text, &o, &why)) << c.text;
    EXPECT_EQ(why, c.message) << c.text;
  }
}

TEST(Options, BrokenTextsFailCleanly) {
  const std::string deep = std::string(100000, '[');
  const std::string long_key = "{\"" + std::string(70000, 'k') + "\":1}";
  const char *texts[] = {
      "{", "{\"rule\"", "{\"rule\":", "{\"rule\":\"scan", "{\"rule\":\"scan\"", "{\"rule\":\"scan\",}",
      "{\"rule\":\"scan\"}}", "{\"rule\" \"scan\"}", "{rule:\"scan\"}", "{\"threshold\":NaN}",
      "{\"threshold\":-}", "{\"threshold\":01}", "{\"threshold\":1.}", "{\"threshold\":.5}",
      "{\"threshold\":1e}", "{\"threshold\":Infinity}", "{\"rule\":\"sc\\qan\"}",
      "{\"rule\":\"\\u12\"}", "{\"ru\nle\":1}", "{\"threshold\":99} x", "{'rule':'scan'}",
  };
  for (const char *t : texts) {
    detect_options o;
    std::string why;
    EXPECT_FALSE(parse_detect_options(t, &o, &why)) << t;
    EXPECT_EQ(why.rfind("options: ", 0), 0u) << t;
  }
  detect_options o;
  std::string why;
  EXPECT_FALSE(parse_detect_options(("{\"rule\":" + deep).c_str(), &o, &why));
  EXPECT_FALSE(parse_detect_options(deep.c_str(), &o, &why));
  EXPECT_FALSE(parse_detect_options(long_key.c_str(), &o, &why));
  EXPECT_EQ(why, "options: text longer than 65536 bytes");
  // Any bytes at all: a fixed-seed walk over random texts made of JSON's own characters.
  const char alphabet[] = "{}[]:,\"\\ 0123456789.eE+-truefalsnulscanlighthreshold_m";
  unsigned seed = 3;
  for (int round = 0; round < 3000; round++) {
    std::string t = "{";
    int n = round % 40;
    for (int k = 0; k < n; k++) {
      seed = seed * 1103515245u + 12345u;
      t += alphabet[(seed >> 8) % (sizeof alphabet - 1)];
    }
    parse_detect_options(t.c_str(), &o, &why);
  }
}

}  // namespace
