// The command-line tool from outside: output lines, JSON, exit statuses, usage errors, and the
// raster files it writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/png_reader.h"
#include "support/test_paths.h"

namespace {

std::string run(const std::string &args, int *status, bool with_stderr = false) {
  std::string out;
  *status = run_command("'" + tool_path() + "' " + args + (with_stderr ? " 2>&1" : " 2>/dev/null"),
                        &out);
  return out;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = scratch_dir();
    text_pdf = dir + "/text.pdf";
    blank_pdf = dir + "/blank.pdf";
    ASSERT_TRUE(write_file(text_pdf, simple_pdf({"BT /F1 12 Tf (Hi) Tj ET", ""})));
    ASSERT_TRUE(write_file(blank_pdf, simple_pdf({"", "1 1 1 rg 0 0 612 792 re f"})));
  }
  std::string dir, text_pdf, blank_pdf;
};

TEST_F(Tool, DetectManyFilesGoesOnAfterAFailure) {
  int st = 0;
  std::string missing = dir + "/missing.pdf";
  std::string out = run("detect " + text_pdf + " " + missing + " " + blank_pdf, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(out, text_pdf + "\t[2]\n" + blank_pdf + "\t[1,2]\n");
}

TEST_F(Tool, DetectJson) {
  int st = 0;
  std::string missing = dir + "/missing.pdf";
  std::string out = run("detect --json -t 99 " + text_pdf + " " + missing, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(out, "{\"file\":\"" + text_pdf + "\",\"blank\":[2]}\n{\"file\":\"" + missing +
                     "\",\"error\":\"cannot open " + missing + "\"}\n");
  out = run("detect --json " + blank_pdf, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out, "{\"file\":\"" + blank_pdf + "\",\"blank\":[1,2]}\n");
}

TEST_F(Tool, UsageErrorsExitWithTwo) {
  const char *cases[] = {"", "detect", "detect -t", "detect -t abc x.pdf", "frobnicate",
                         "remove only-one.pdf", "detect --bogus x.pdf", "render x.pdf"};
  for (const char *c : cases) {
    int st = 0;
    run(c, &st);
    EXPECT_EQ(st, 2) << c;
  }
  int st = 0;
  std::string err = run("remove " + text_pdf + " -", &st, true);
  EXPECT_EQ(st, 2);
  EXPECT_NE(err.find("standard output"), std::string::npos) << err;
}

TEST_F(Tool, HelpAndVersion) {
  int st = 0;
  EXPECT_NE(run("--help", &st).find("usage: leafsift detect"), std::string::npos);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(run("--version", &st).rfind("leafsift ", 0), 0u);
  EXPECT_EQ(st, 0);
}

TEST_F(Tool, PagesAgreesWithDetect) {
  int st = 0;
  std::string out = run("pages --json " + text_pdf, &st);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(out,
            "{\"page\":1,\"text\":true,\"light\":null,\"blank\":false}\n"
            "{\"page\":2,\"text\":false,\"light\":100.00,\"blank\":true}\n");
  out = run("pages " + text_pdf, &st);
  EXPECT_EQ(out, "page\ttext\tlight\tverdict\n1\tyes\t-\tkept\n2\tno\t100.00\tblank\n");
}

TEST_F(Tool, RenderWritesPngAndPpm) {
  int st = 0;
  std::string ppm = dir + "/p.ppm", png = dir + "/p.png";
  run("render " + blank_pdf + " 1 " + ppm, &st);
  ASSERT_EQ(st, 0);
  std::string bytes = read_file(ppm);
  ASSERT_EQ(bytes.rfind("P6\n408 528\n255\n", 0), 0u);
  EXPECT_EQ(bytes.size(), std::string("P6\n408 528\n255\n").size() + 408u * 528u * 3u);
  EXPECT_EQ(bytes.find_first_not_of('\xff', 15), std::string::npos);

  run("render --dpi 72 " + blank_pdf + " 2 " + png, &st);
  ASSERT_EQ(st, 0);
  bytes = read_file(png);
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  // IHDR: 612 x 792 at 72 dpi.
  EXPECT_EQ(bytes.substr(16, 8), std::string("\x00\x00\x02\x64\x00\x00\x03\x18", 8));
  // Read back independently, the picture holds the raster's pixels, as the PPM does.
  std::string ppm72 = dir + "/p72.ppm";
  run("render --dpi 72 " + blank_pdf + " 2 " + ppm72, &st);
  int w = 0, h = 0, pw = 0, ph = 0;
  std::vector<uint8_t> from_png, from_ppm;
  ASSERT_TRUE(decode_png(bytes, &w, &h, &from_png));
  ASSERT_TRUE(decode_ppm(read_file(ppm72), &pw, &ph, &from_ppm));
  EXPECT_EQ(w, pw);
  EXPECT_EQ(h, ph);
  EXPECT_TRUE(from_png == from_ppm);

  run("render " + blank_pdf + " 3 " + ppm, &st);
  EXPECT_EQ(st, 1);
}

}  // namespace

namespace {

// The scan rule from the tool: its verdicts, its figures in pages, its parameters passed to the
// library, which judges their ranges.
TEST_F(Tool, ScanRuleAndItsParameters) {
  const std::string speck = dir + "/speck.pdf";
  // A small dark mark in the middle of the page: ink to the scan rule, unless it is allowed.
  ASSERT_TRUE(write_file(speck, simple_pdf({"0 g 300 400 12 12 re f", ""})));
  int st = 0;
  EXPECT_EQ(run("detect --rule scan " + speck, &st), speck + "\t[2]\n");
  EXPECT_EQ(st, 0);
  EXPECT_EQ(run("detect --rule light " + speck, &st), speck + "\t[1,2]\n");
  EXPECT_EQ(run("detect --rule scan --max-ink 500 " + speck, &st), speck + "\t[1,2]\n");
  std::string out = run("pages --rule scan --json " + speck, &st);
  EXPECT_EQ(st, 0);
  EXPECT_NE(out.find("{\"page\":2,\"text\":false,\"ink_mm2\":0.00,\"blank\":true}"),
            std::string::npos)
      << out;
  out = run("pages --rule scan " + text_pdf, &st);
  EXPECT_EQ(out, "page\ttext\tink_mm2\tverdict\n1\tyes\t-\tkept\n2\tno\t0.00\tblank\n");
  const std::string removed = dir + "/removed.pdf";
  EXPECT_EQ(run("remove --rule scan " + speck + " " + removed, &st),
            "{\"before\":2,\"after\":1,\"removed\":[2]}\n");

  out = run("detect --rule scan --margin 99 " + speck, &st, true);
  EXPECT_EQ(st, 1);
  EXPECT_NE(out.find("options: \"margin_mm\" must be from 0 to 50"), std::string::npos) << out;
  for (const char *c : {"detect --rule paper x.pdf", "detect --margin x.pdf",
                        "detect --speck 1e3 x.pdf", "pages --contrast abc x.pdf"}) {
    run(c, &st);
    EXPECT_EQ(st, 2) << c;
  }
}

}  // namespace
