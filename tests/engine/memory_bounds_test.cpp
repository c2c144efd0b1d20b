// Files of a few kilobytes built to make a call take gigabytes: soft masks and short images the
// size of a wall, Flate stages chained, a JPEG header claiming a huge frame, a page a mile
// wide, a Type 3 font whose every glyph names one Flate bomb under many font names, object
// streams and nested forms of bombs. Each runs through the tool's detect, render and remove
// in a child process, whose peak resident memory must stay under 1 GiB.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <malloc.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/test_paths.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_sanitized = true;  // the sanitizer's shadow memory swells every process
#else
constexpr bool k_sanitized = false;
#endif

constexpr long k_limit_kib = 1024L * 1024;

std::string catalog_and_page(pdf_builder &b, const std::string &box, const std::string &resources) {
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Resources << " + resources +
               " >> /Contents 4 0 R >>");
  return "";
}

std::string finish(pdf_builder &b) {
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

const std::string k_letter = "[0 0 612 792]";
const std::string k_image = "/Type /XObject /Subtype /Image /ColorSpace /DeviceGray /BitsPerComponent 8 ";

std::string masked_wall() {
  pdf_builder b;
  catalog_and_page(b, k_letter, "/XObject << /I 5 0 R >>");
  b.stream(4, "", "q 612 0 0 792 0 0 cm /I Do Q");
  b.flate_stream(5, k_image + "/Width 20000 /Height 20000 /SMask 6 0 R", std::string(4000, '\xff'));
  b.flate_stream(6, k_image + "/Width 20000 /Height 20000", std::string(4000, '\xff'));
  return finish(b);
}

std::string short_wall() {
  pdf_builder b;
  catalog_and_page(b, k_letter, "/XObject << /I 5 0 R >>");
  b.stream(4, "", "q 612 0 0 792 0 0 cm /I Do Q");
  b.flate_stream(5, "/Type /XObject /Subtype /Image /ColorSpace /DeviceRGB /BitsPerComponent 16 "
                    "/Width 20000 /Height 20000",
                 std::string(4000, '\x80'));
  return finish(b);
}

std::string chained_flate() {
  pdf_builder b;
  catalog_and_page(b, k_letter, "");
  std::string content;
  for (int i = 0; i < 2000000; ++i) content += "1 1 1 rg 0 0 1 1 re f\n";
  b.stream(4, "/Filter [/FlateDecode /FlateDecode]", zlib_compress(zlib_compress(content, 9), 9));
  return finish(b);
}

std::string jpeg_header() {
  // SOI, a progressive frame of 14000 x 14000 with three components, and nothing else.
  std::string j = "\xFF\xD8\xFF\xC2";
  j += std::string("\x00\x11\x08\x36\xB0\x36\xB0\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00", 17);
  j += "\xFF\xD9";
  pdf_builder b;
  catalog_and_page(b, k_letter, "/XObject << /I 5 0 R >>");
  b.stream(4, "", "q 612 0 0 792 0 0 cm /I Do Q");
  b.stream(5, "/Type /XObject /Subtype /Image /ColorSpace /DeviceRGB /BitsPerComponent 8 "
              "/Width 14000 /Height 14000 /Filter /DCTDecode",
           j);
  return finish(b);
}

std::string mile_wide_page() {
  pdf_builder b;
  catalog_and_page(b, "[0 0 14400 14400]", "");
  b.stream(4, "", "0 0 1 1 re f");
  return finish(b);
}

std::string type3_bomb() {
  pdf_builder b;
  std::string fonts, show, procs, names;
  for (int i = 0; i < 50; ++i) {
    fonts += "/F" + std::to_string(i) + " 5 0 R ";
    show += "/F" + std::to_string(i) + " 10 Tf (abc) Tj ";
  }
  for (int i = 0; i < 256; ++i) {
    procs += "/g" + std::to_string(i) + " 6 0 R ";
    names += "/g" + std::to_string(i) + " ";
  }
  catalog_and_page(b, k_letter, "/Font << " + fonts + ">>");
  b.stream(4, "", "BT " + show + "ET");
  b.obj(5, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [0.001 0 0 0.001 0 0] "
           "/CharProcs << " + procs + ">> /Encoding << /Differences [0 " + names + "] >> >>");
  b.flate_stream(6, "", "0 0 m\n" + std::string(2000000, ' '));
  return finish(b);
}

std::string packed_bombs() {
  pdf_builder b;
  catalog_and_page(b, k_letter, "");
  b.stream(4, "", "0 0 1 1 re f");
  for (int i = 0; i < 5; ++i)
    b.object_stream(100 + i, {{10 + i, "(" + std::string(2000000, 'x') + ")"}});
  return finish(b);
}

std::string nested_bomb_forms() {
  pdf_builder b;
  catalog_and_page(b, k_letter, "/XObject << /N 10 0 R >>");
  b.stream(4, "", "/N Do");
  for (int i = 0; i < 30; ++i)
    b.flate_stream(10 + i, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /N " +
                               std::to_string(11 + i) + " 0 R >> >>",
                   "/N Do\n" + std::string(2000000, ' '));
  b.stream(40, "/Type /XObject /Subtype /Form /BBox [0 0 612 792]", "0 0 1 1 re f");
  return finish(b);
}

// Runs the tool with args; the child's exit status and peak resident memory in KiB.
struct run_result {
  int status = -1;
  long max_rss_kib = 0;
};
run_result run_tool(const std::vector<std::string> &args) {
  std::vector<std::string> argv_s = {tool_path()};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : argv_s) argv.push_back(s.data());
  argv.push_back(nullptr);
  run_result r;
  // The child starts as a copy of this process, whose pages count towards its peak until it
  // runs the tool: callers free their fixtures and trim the heap first.
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) return r;
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid) return r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.max_rss_kib = ru.ru_maxrss;
  return r;
}

TEST(MemoryBounds, SmallFilesNeverTakeAGigabyte) {
  if (k_sanitized) GTEST_SKIP() << "resident memory is not the library's under the sanitizers";
  struct named {
    const char *name;
    std::string pdf;
  };
  std::vector<named> cases = {
      {"masked-wall", masked_wall()},   {"short-wall", short_wall()},
      {"chained-flate", chained_flate()}, {"jpeg-header", jpeg_header()},
      {"mile-wide", mile_wide_page()},  {"type3-bomb", type3_bomb()},
      {"packed-bombs", packed_bombs()}, {"nested-bomb-forms", nested_bomb_forms()},
  };
  const std::string dir = scratch_dir();
  std::vector<std::string> names;
  for (const auto &c : cases) {
    ASSERT_TRUE(write_file(dir + "/" + c.name + ".pdf", c.pdf));
    EXPECT_LT(c.pdf.size(), 64u * 1024) << c.name << " is no small file";
    names.push_back(c.name);
  }
  cases.clear();
  cases.shrink_to_fit();
  malloc_trim(0);
  for (const std::string &name : names) {
    const std::string in = dir + "/" + name + ".pdf";
    const std::vector<std::vector<std::string>> calls = {
        {"detect", in}, {"pages", "--rule", "scan", in}, {"render", in, "1", dir + "/p.png"},
        {"remove", in, dir + "/out.pdf"}};
    for (const auto &call : calls) {
      const run_result r = run_tool(call);
      EXPECT_LE(r.status, 1) << name << " " << call[0];
      EXPECT_LT(r.max_rss_kib, k_limit_kib) << name << " " << call[0];
    }
  }
}

}  // namespace
