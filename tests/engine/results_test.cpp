// The threshold clamp and the result texts' formatting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/results.h"

TEST(Threshold, ClampsIntoRange) {
  struct {
    int in, out;
  } cases[] = {{0, 99}, {-5, 99}, {-2147483647 - 1, 99}, {1, 1}, {50, 50},
               {99, 99}, {100, 100}, {101, 100}, {1000, 100}, {2147483647, 100}};
  for (auto c : cases) EXPECT_EQ(clamp_threshold(c.in), c.out) << c.in;
}

TEST(PageList, FormatsOneBasedAscending) {
  struct {
    std::vector<uint8_t> verdicts;
    const char *text;
  } cases[] = {
      {{}, "[]"},
      {{0, 0, 0}, "[]"},
      {{0, 1, 0, 0, 1}, "[2,5]"},
      {{1}, "[1]"},
      {{1, 1, 1}, "[1,2,3]"},
      {{2, 0, 255}, "[1,3]"},  // any non-zero verdict counts
  };
  for (const auto &c : cases) {
    std::string out = "stale";
    ASSERT_TRUE(build_removed_json(c.verdicts.data(), static_cast<int32_t>(c.verdicts.size()), out));
    EXPECT_EQ(out, c.text);
  }
}

TEST(PageList, LongListsAreWhole) {
  // 20,000 blank pages give far more than 16 KiB of text; none may be lost.
  std::vector<uint8_t> v(20000, 1);
  std::string out;
  ASSERT_TRUE(build_removed_json(v.data(), 20000, out));
  EXPECT_GT(out.size(), 16384u);
  EXPECT_EQ(out.substr(0, 7), "[1,2,3,");
  EXPECT_EQ(out.substr(out.size() - 13), ",19999,20000]");
  size_t commas = 0;
  for (char c : out) commas += c == ',';
  EXPECT_EQ(commas, 19999u);
}

TEST(Stats, FormatsCountsAndList) {
  std::vector<uint8_t> v = {0, 1, 0, 1};
  std::string out;
  ASSERT_TRUE(build_stats_json(v.data(), 4, 2, out));
  EXPECT_EQ(out, "{\"before\":4,\"after\":2,\"removed\":[2,4]}");
  std::vector<uint8_t> all = {1, 1};
  ASSERT_TRUE(build_stats_json(all.data(), 2, 2, out));
  EXPECT_EQ(out, "{\"before\":2,\"after\":0,\"removed\":[1,2]}");
  std::vector<uint8_t> many(10000, 1);
  ASSERT_TRUE(build_stats_json(many.data(), 10000, 10000, out));
  EXPECT_EQ(out.back(), '}');
  EXPECT_NE(out.find(",9999,10000]}"), std::string::npos);
}
