// The exported calls' contract: argument checks, messages, the statistics lifecycle.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "leafsift.h"
#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(leafsift_init(), 1); }
  void TearDown() override { leafsift_cleanup(); }
};

TEST_F(Engine, NullArguments) {
  EXPECT_EQ(leafsift_detect(nullptr, 99), nullptr);
  EXPECT_STREQ(leafsift_last_error(), "NULL input_path");

  std::string out = scratch_dir() + "/out.pdf";
  EXPECT_EQ(leafsift_remove(nullptr, out.c_str(), 99), 0);
  EXPECT_STREQ(leafsift_last_error(), "NULL path argument");
  EXPECT_EQ(leafsift_remove("in.pdf", nullptr, 99), 0);
  EXPECT_STREQ(leafsift_last_error(), "NULL path argument");
  EXPECT_EQ(leafsift_stats(), nullptr);
}

TEST_F(Engine, MissingFileNamesThePath) {
  std::string missing = scratch_dir() + "/no-such.pdf";
  EXPECT_EQ(leafsift_detect(missing.c_str(), 99), nullptr);
  EXPECT_EQ(std::string(leafsift_last_error()), "cannot open " + missing);
  EXPECT_EQ(leafsift_remove(missing.c_str(), "/tmp/never-written.pdf", 99), 0);
  EXPECT_EQ(std::string(leafsift_last_error()), "cannot open " + missing);
}

TEST_F(Engine, LoaderMessagesAreKept) {
  std::string empty = scratch_dir() + "/empty.pdf";
  ASSERT_TRUE(write_file(empty, ""));
  EXPECT_EQ(leafsift_detect(empty.c_str(), 99), nullptr);
  EXPECT_EQ(std::string(leafsift_last_error()), "empty input file: " + empty);
}

TEST_F(Engine, DetectSucceedsAndClearsTheError) {
  std::string path = scratch_dir() + "/text.pdf";
  ASSERT_TRUE(write_file(path, simple_pdf({"BT /F1 12 Tf (Hello) Tj ET"})));
  leafsift_detect(nullptr, 99);  // leaves an error text behind
  const char *r = leafsift_detect(path.c_str(), 0);
  ASSERT_NE(r, nullptr) << leafsift_last_error();
  EXPECT_STREQ(r, "[]");
  EXPECT_STREQ(leafsift_last_error(), "");
  EXPECT_EQ(leafsift_stats(), nullptr);

  // A failing detect leaves the previous result text as it was.
  EXPECT_EQ(leafsift_detect(nullptr, 99), nullptr);
  EXPECT_STREQ(r, "[]");

  leafsift_cleanup();
  EXPECT_STREQ(r, "");
  EXPECT_STREQ(leafsift_last_error(), "");
}

TEST_F(Engine, StatsAreNullAfterFailuresAndCleanup) {
  EXPECT_EQ(leafsift_stats(), nullptr);
  std::string missing = scratch_dir() + "/missing.pdf";
  leafsift_remove(missing.c_str(), (scratch_dir() + "/o.pdf").c_str(), 99);
  EXPECT_EQ(leafsift_stats(), nullptr);
  leafsift_cleanup();
  EXPECT_EQ(leafsift_stats(), nullptr);
}

}  // namespace

namespace {

// A page of text, a white page, a page with a small grey square, a page whose content cannot
// be decoded, and a page with a dark band along its left edge.
std::string mixed_pdf() {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 >>");
  const char *contents[] = {"BT /F1 12 Tf (Hello) Tj ET", "", "0.5 g 300 400 20 20 re f",
                            "100 0 0 100 0 0 cm /Im1 Do", "0 g 0 0 8 792 re f"};
  for (int i = 0; i < 5; i++) {
    const int page = 3 + i, content = 10 + i;
    b.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                    std::to_string(content) +
                    " 0 R /Resources << /XObject << /Im1 20 0 R >> >> >>");
    b.stream(content, "", contents[i]);
  }
  b.stream(20, "/Type /XObject /Subtype /Image /Width 8 /Height 8 /BitsPerComponent 1 "
               "/ColorSpace /DeviceGray /Filter /JBIG2Decode", "\x97JB2");
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

TEST_F(Engine, LightRuleOptionsGiveThePlainCallsResults) {
  const std::string dir = scratch_dir();
  const std::string in = dir + "/mixed.pdf";
  ASSERT_TRUE(write_file(in, mixed_pdf()));
  for (int t : {-3, 0, 50, 95, 99, 100, 250}) {
    std::string plain = leafsift_detect(in.c_str(), t);
    const std::string opts = "{\"rule\":\"light\",\"threshold\":" + std::to_string(t) + "}";
    const char *ex = leafsift_detect_ex(in.c_str(), opts.c_str());
    ASSERT_NE(ex, nullptr) << leafsift_last_error();
    EXPECT_EQ(plain, ex) << t;

    const std::string a = dir + "/a.pdf", b = dir + "/b.pdf";
    ASSERT_EQ(leafsift_remove(in.c_str(), a.c_str(), t), 1);
    std::string stats_plain = leafsift_stats();
    ASSERT_EQ(leafsift_remove_ex(in.c_str(), b.c_str(), opts.c_str()), 1);
    EXPECT_EQ(stats_plain, leafsift_stats());
    EXPECT_EQ(read_file(a), read_file(b)) << t;
  }
  EXPECT_STREQ(leafsift_detect_ex(in.c_str(), nullptr), leafsift_detect(in.c_str(), 99));
}

TEST_F(Engine, AnalyzeExplainsEveryVerdict) {
  const std::string in = scratch_dir() + "/mixed.pdf";
  ASSERT_TRUE(write_file(in, mixed_pdf()));
  const char *light = leafsift_analyze(in.c_str(), nullptr);
  ASSERT_NE(light, nullptr) << leafsift_last_error();
  const std::string l = light;
  EXPECT_EQ(l.rfind("{\"pages\":[{\"page\":1,\"text\":true,\"unread\":false,\"light\":null,"
                    "\"ink_mm2\":null,\"blank\":false},{\"page\":2,\"text\":false,"
                    "\"unread\":false,\"light\":100.00,\"ink_mm2\":null,\"blank\":true},",
                    0),
            0u)
      << l;
  EXPECT_NE(l.find("{\"page\":4,\"text\":false,\"unread\":true,"), std::string::npos) << l;
  EXPECT_EQ(l.substr(l.size() - 2), "]}");

  const char *scan = leafsift_analyze(in.c_str(), "{\"rule\":\"scan\"}");
  ASSERT_NE(scan, nullptr) << leafsift_last_error();
  const std::string s = scan;
  EXPECT_NE(s.find("{\"page\":2,\"text\":false,\"unread\":false,\"light\":null,"
                   "\"ink_mm2\":0.00,\"blank\":true}"),
            std::string::npos)
      << s;
  // The small grey square is too little for the light rule but is ink to the scan rule; the
  // band at the sheet's edge is the other way round.
  EXPECT_EQ(std::string(leafsift_detect_ex(in.c_str(), "{\"rule\":\"scan\"}")), "[2,5]");
  EXPECT_EQ(std::string(leafsift_detect(in.c_str(), 99)), "[2,3]");
}

TEST_F(Engine, BadOptionsFailTheCallAndKeepTheResults) {
  const std::string in = scratch_dir() + "/mixed.pdf";
  ASSERT_TRUE(write_file(in, mixed_pdf()));
  const char *r = leafsift_detect_ex(in.c_str(), "{}");
  ASSERT_NE(r, nullptr);
  const std::string before = r;
  EXPECT_EQ(leafsift_detect_ex(in.c_str(), "{\"margin\":3}"), nullptr);
  EXPECT_STREQ(leafsift_last_error(), "options: unknown key \"margin\"");
  EXPECT_EQ(before, r);
  const std::string out = scratch_dir() + "/never.pdf";
  EXPECT_EQ(leafsift_remove_ex(in.c_str(), out.c_str(), "{\"speck_mm2\":-1}"), 0);
  EXPECT_STREQ(leafsift_last_error(), "options: \"speck_mm2\" must be from 0 to 100");
  EXPECT_EQ(leafsift_stats(), nullptr);
  EXPECT_FALSE(std::ifstream(out).good());
  EXPECT_EQ(leafsift_analyze(in.c_str(), "{\"rule\":\"scan\""), nullptr);
  EXPECT_EQ(std::string(leafsift_last_error()).rfind("options: not a valid JSON object", 0), 0u);
  EXPECT_EQ(leafsift_analyze(nullptr, "{}"), nullptr);
  EXPECT_STREQ(leafsift_last_error(), "NULL input_path");
}

}  // namespace
