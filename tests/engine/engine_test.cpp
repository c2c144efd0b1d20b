// The exported calls' contract: argument checks, messages, the statistics lifecycle.
#include <gtest/gtest.h>

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
