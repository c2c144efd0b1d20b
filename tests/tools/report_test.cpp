// The review report from outside: one section per document with every page's picture as the
// detector sees it, verdicts equal to detect's, names escaped, and a remove command that works
// when pasted into a shell. A browser test checks that every picture decodes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "report.h"
#include "support/pdf_builder.h"
#include "support/png_reader.h"
#include "support/test_paths.h"

namespace {

int run_tool(const std::string &args, std::string *out = nullptr) {
  return run_command("'" + tool_path() + "' " + args + " 2>/dev/null", out);
}

std::string unbase64(const std::string &text) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string unescape_html(std::string s) {
  const std::pair<const char *, const char *> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto &e : entities)
    for (size_t at = s.find(e.first); at != std::string::npos; at = s.find(e.first, at + 1))
      s.replace(at, std::strlen(e.first), e.second);
  return s;
}

// Every stretch of text between open and close, in order.
std::vector<std::string> between(const std::string &s, const std::string &open,
                                 const std::string &close) {
  std::vector<std::string> parts;
  for (size_t at = s.find(open); at != std::string::npos; at = s.find(open, at)) {
    at += open.size();
    const size_t end = s.find(close, at);
    if (end == std::string::npos) break;
    parts.push_back(s.substr(at, end - at));
    at = end;
  }
  return parts;
}

struct doc_section {
  std::string html;
  int pages = -1;
  std::vector<std::string> pictures;  // PNG bytes, in page order
  std::vector<int> blank;             // pages framed as blank
  std::string summary, command;
};

std::vector<doc_section> sections_of(const std::string &html) {
  std::vector<doc_section> docs;
  for (const std::string &body : between(html, "<section class=\"doc", "</section>")) {
    doc_section d;
    d.html = body;
    d.pages = std::stoi(between(body, "data-pages=\"", "\"").at(0));
    for (const std::string &b64 : between(body, "data:image/png;base64,", "\""))
      d.pictures.push_back(unbase64(b64));
    int page = 0;
    for (const std::string &cls : between(body, "<figure class=\"", "\"")) {
      ++page;
      if (cls == "page blank") d.blank.push_back(page);
    }
    const auto summary = between(body, "<p class=\"summary\">", "</p>");
    if (!summary.empty()) d.summary = summary[0];
    const auto command = between(body, "<code>", "</code>");
    if (!command.empty()) d.command = unescape_html(command[0]);
    docs.push_back(d);
  }
  return docs;
}

std::string list_text(const std::vector<int> &pages) {
  std::string s = "[";
  for (size_t i = 0; i < pages.size(); ++i) s += (i ? "," : "") + std::to_string(pages[i]);
  return s + "]";
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = scratch_dir();
    // Text (kept), empty (blank), a large dark box (kept), white paint (blank), one speck
    // (blank under the light rule, ink under the scan rule).
    mixed = dir + "/mixed.pdf";
    ASSERT_TRUE(write_file(mixed, simple_pdf({"BT /F1 12 Tf 72 700 Td (Hello) Tj ET", "",
                                              "0 0 0.6 rg 100 100 300 400 re f",
                                              "1 1 1 rg 0 0 612 792 re f", "0 g 300 400 6 6 re f"})));
    const std::string two = simple_pdf({"", "0 g 50 50 200 200 re f"});
    for (const char *name : {"/a<b>&\"c' d.pdf", "/\xFF\xFE name.pdf", "/-dash.pdf"}) {
      odd.push_back(dir + name);
      ASSERT_TRUE(write_file(odd.back(), two));
    }
    broken = dir + "/broken <x>.pdf";
    ASSERT_TRUE(write_file(broken, "this is not a PDF"));
    report = dir + "/report.html";
  }

  std::string make_report(const std::string &opts, const std::vector<std::string> &files,
                          int expect_status) {
    std::string args = "report " + opts + " -o " + shell_quote(report) + " --";
    for (const std::string &f : files) args += " " + shell_quote(f);
    // Run from the fixtures' folder, so that relative names can be given too.
    EXPECT_EQ(run_command("cd " + shell_quote(dir) + " && bash -c " +
                          shell_quote("'" + tool_path() + "' " + args) + " 2>/dev/null"),
              expect_status);
    return read_file(report);
  }

  std::string dir, mixed, broken, report;
  std::vector<std::string> odd;
};

TEST_F(Report, OneSectionPerDocumentWithTheVerdictsOfDetect) {
  std::vector<std::string> files = {mixed, broken};
  files.insert(files.end(), odd.begin(), odd.end());
  const std::string html = make_report("", files, 1);
  ASSERT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);  // nothing fetched from anywhere
  const std::vector<doc_section> docs = sections_of(html);
  ASSERT_EQ(docs.size(), files.size());

  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const doc_section &d = docs[i];
    if (files[i] == broken) {
      EXPECT_EQ(d.pages, 0);
      EXPECT_NE(d.html.find("class=\"error\">Not judged: "), std::string::npos);
      EXPECT_TRUE(d.pictures.empty());
      continue;
    }
    std::string detected;
    ASSERT_EQ(run_command("bash -c " + shell_quote("'" + tool_path() + "' detect -- " +
                                                   shell_quote(files[i]) + " | cut -f2"),
                          &detected),
              0);
    EXPECT_EQ(list_text(d.blank) + "\n", detected);
    EXPECT_EQ(static_cast<int>(d.pictures.size()), d.pages);
  }
  EXPECT_EQ(docs[0].pages, 5);
  EXPECT_EQ(docs[0].summary, "5 pages, 3 blank (2, 4, 5), 2 kept");
  EXPECT_EQ(docs[0].command, "leafsift remove " + mixed + " " + dir + "/mixed-kept.pdf");
  EXPECT_NE(docs[0].html.find("1 \u00b7 <span class=\"verdict\">kept</span> \u00b7 text found"),
            std::string::npos);
  EXPECT_NE(docs[0].html.find("2 \u00b7 <span class=\"verdict\">blank</span> \u00b7 light 100.00 %"),
            std::string::npos);
}

TEST_F(Report, PicturesArePagesAsTheDetectorRendersThem) {
  // 48 dpi under the light rule, 75 dpi under the scan rule, pixel for pixel.
  for (const auto &[opts, dpi] : {std::pair<std::string, int>{"", 48}, {"--rule scan", 75}}) {
    SCOPED_TRACE(opts);
    const std::vector<doc_section> docs = sections_of(make_report(opts, {mixed}, 0));
    ASSERT_EQ(docs.size(), 1u);
    ASSERT_EQ(docs[0].pictures.size(), 5u);
    for (int page = 1; page <= 5; ++page) {
      const std::string ppm = dir + "/p.ppm";
      ASSERT_EQ(run_tool("render --dpi " + std::to_string(dpi) + " " + mixed + " " +
                         std::to_string(page) + " " + ppm),
                0);
      int w = 0, h = 0, pw = 0, ph = 0;
      std::vector<uint8_t> shown, rendered;
      ASSERT_TRUE(decode_png(docs[0].pictures[page - 1], &w, &h, &shown)) << page;
      ASSERT_TRUE(decode_ppm(read_file(ppm), &pw, &ph, &rendered));
      EXPECT_EQ(w, pw);
      EXPECT_EQ(h, ph);
      EXPECT_TRUE(shown == rendered) << "page " << page;
    }
    // The speck is ink to the scan rule, so only the light rule marks page 5.
    EXPECT_EQ(list_text(docs[0].blank), dpi == 48 ? "[2,4,5]" : "[2,4]");
  }
}

TEST_F(Report, NamesAreEscapedAndTheCommandRunsAsShown) {
  // Relative names, as a user in that folder gives them: one of them looks like an option.
  std::vector<std::string> files;
  for (const std::string &f : odd) files.push_back(f.substr(dir.size() + 1));
  files.push_back(broken);
  const std::string html = make_report("--rule scan --margin 12 --max-ink 0.6", files, 1);
  // No name reaches the page unescaped, and the page is well-formed UTF-8.
  EXPECT_EQ(html.find("a<b>"), std::string::npos);
  EXPECT_EQ(html.find("broken <x>"), std::string::npos);
  EXPECT_NE(html.find("a&lt;b&gt;&amp;&quot;c&#39; d.pdf"), std::string::npos);
  EXPECT_NE(html.find("broken &lt;x&gt;.pdf"), std::string::npos);
  EXPECT_NE(html.find("\xEF\xBF\xBD\xEF\xBF\xBD name.pdf"), std::string::npos);
  EXPECT_EQ(run_command("iconv -f UTF-8 -t UTF-8 " + shell_quote(report) + " >/dev/null 2>&1"), 0);

  const std::vector<doc_section> docs = sections_of(html);
  ASSERT_EQ(docs.size(), 4u);
  EXPECT_NE(docs[1].command.find("$'"), std::string::npos);  // the name that is not UTF-8
  EXPECT_NE(docs[2].command.find(" -- "), std::string::npos);  // the name that looks like an option
  for (size_t i = 0; i < odd.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const std::string &cmd = docs[i].command;
    ASSERT_EQ(cmd.rfind("leafsift remove --rule scan --margin 12 --max-ink 0.6 ", 0), 0u) << cmd;
    EXPECT_EQ(list_text(docs[i].blank), "[1]");
    // Pasted into bash, the command writes the copy beside the input without the blank page.
    const std::string script = dir + "/paste.sh";
    ASSERT_TRUE(write_file(script, "'" + tool_path() + "'" + cmd.substr(std::strlen("leafsift")) + "\n"));
    std::string stats;
    ASSERT_EQ(run_command("cd " + shell_quote(dir) + " && bash " + shell_quote(script), &stats), 0)
        << cmd;
    EXPECT_EQ(stats, "{\"before\":2,\"after\":1,\"removed\":[1]}\n");
    std::string kept_pages;
    EXPECT_EQ(run_command("bash -c " + shell_quote("'" + tool_path() + "' pages -- " +
                                                   shell_quote(kept_copy_name(odd[i])) + " | wc -l"),
                          &kept_pages),
              0);
    EXPECT_EQ(kept_pages, "2\n");  // the heading and one page
  }
}

TEST_F(Report, UsageAndWriteErrors) {
  EXPECT_EQ(run_tool("report " + mixed), 2);                       // no -o
  EXPECT_EQ(run_tool("report -o " + report), 2);                   // no file
  EXPECT_EQ(run_tool("report -o"), 2);
  EXPECT_EQ(run_tool("report --json -o " + report + " " + mixed), 2);
  // The report's folder is a file: nothing can be written, and nothing is left behind.
  const std::string blocker = dir + "/file";
  ASSERT_TRUE(write_file(blocker, "x"));
  std::string err;
  EXPECT_EQ(run_command("'" + tool_path() + "' report -o " + blocker + "/r.html " + mixed + " 2>&1",
                        &err),
            1);
  EXPECT_NE(err.find("cannot write"), std::string::npos);
}

TEST(ReportPieces, EscapingAndQuoting) {
  const std::pair<std::string, std::string> html[] = {
      {"plain.pdf", "plain.pdf"},
      {"<&>\"'", "&lt;&amp;&gt;&quot;&#39;"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x84"},
      {"\xFF", "\xEF\xBF\xBD"},
      {"\xC3", "\xEF\xBF\xBD"},                  // cut short
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"a\x01" "b", "a\xEF\xBF\xBD" "b"},
  };
  for (const auto &[in, out] : html) EXPECT_EQ(html_escape(in), out) << in;

  const std::pair<std::string, std::string> shell[] = {
      {"a/b-c_1.pdf", "a/b-c_1.pdf"},
      {"", "''"},
      {"two words", "'two words'"},
      {"it's", "'it'\\''s'"},
      {"$HOME `x`", "'$HOME `x`'"},
      {"caf\xC3\xA9", "'caf\xC3\xA9'"},
      {"\xFF" "a'\\", "$'\\xFFa\\'\\\\'"},
      {"new\nline", "$'new\\x0Aline'"},
  };
  for (const auto &[in, out] : shell) EXPECT_EQ(shell_quote(in), out) << in;

  EXPECT_EQ(base64({}), "");
  EXPECT_EQ(base64({'f'}), "Zg==");
  EXPECT_EQ(base64({'f', 'o'}), "Zm8=");
  EXPECT_EQ(base64({'f', 'o', 'o', 0xFF}), "Zm9v/w==");
  EXPECT_EQ(kept_copy_name("scan.PDF"), "scan-kept.pdf");
  EXPECT_EQ(kept_copy_name("notes"), "notes-kept.pdf");
}

// The report in a real browser: every picture decodes and each document shows its pages. A
// probe script is added to a copy of the report (the report itself has none); Chromium runs
// it after loading and the result is read from the dumped document.
TEST_F(Report, EveryPictureDecodesInABrowser) {
  if (run_command("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed";
  std::vector<std::string> files = {mixed, broken};
  files.insert(files.end(), odd.begin(), odd.end());
  std::string html = make_report("", files, 1);
  const std::string probe =
      "<script>addEventListener('load',function(){var r=[];"
      "document.querySelectorAll('section.doc').forEach(function(s){"
      "var im=s.querySelectorAll('img'),ok=0;"
      "im.forEach(function(i){if(i.complete&&i.naturalWidth>0)ok++;});"
      "r.push(s.dataset.pages+':'+s.querySelectorAll('figure').length+':'+ok);});"
      "var p=document.createElement('pre');p.id='probe';p.textContent=r.join(' ');"
      "document.body.appendChild(p);});</script>";
  const size_t end = html.rfind("</body>");
  ASSERT_NE(end, std::string::npos);
  html.insert(end, probe);
  const std::string probed = dir + "/probed.html", profile = dir + "/chromium-profile";
  ASSERT_TRUE(write_file(probed, html));
  std::string dom;
  run_command("timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic "
              "--no-first-run --disable-background-networking --disable-component-update "
              "--disable-sync --user-data-dir=" + profile +
                  " --virtual-time-budget=10000 --dump-dom 'file://" + probed + "' 2>/dev/null",
              &dom);
  const std::vector<std::string> got = between(dom, "<pre id=\"probe\">", "</pre>");
  ASSERT_EQ(got.size(), 1u) << dom.substr(0, 300);
  // mixed: 5 pages; broken: none; each odd name: 2 pages.
  EXPECT_EQ(got[0], "5:5:5 0:0:0 2:2:2 2:2:2 2:2:2");
}

}  // namespace
