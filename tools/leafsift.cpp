// The leafsift command-line tool: blank-page detection and removal over files, on top of the
// library's C interface.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "image_out.h"
#include "leafsift.h"
#include "report.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/render.h"

namespace {

const char *k_version = "leafsift 0.1.0";

const char *k_usage =
    "usage: leafsift detect [-t N] [RULE] [--json] FILE...\n"
    "       leafsift remove [-t N] [RULE] IN OUT\n"
    "       leafsift pages [-t N] [RULE] [--json] FILE\n"
    "       leafsift render [--dpi N] FILE PAGE OUT\n"
    "       leafsift report [-t N] [RULE] -o REPORT.html FILE...\n"
    "       leafsift --help | --version\n"
    "\n"
    "detect  lists the blank pages of each FILE (1-based), one line per file:\n"
    "        the file name, a tab and the list such as [2,5]; with --json one\n"
    "        object per line, {\"file\":...,\"blank\":[...]} or {\"file\":...,\"error\":...}.\n"
    "remove  writes OUT as a copy of IN without its blank pages and prints\n"
    "        {\"before\":N,\"after\":M,\"removed\":[...]}.\n"
    "pages   one row per page of FILE: its number, whether the text test found\n"
    "        text, the light share in percent (- when the page was not rendered)\n"
    "        and the verdict; this is how to choose a threshold.\n"
    "render  writes the page's raster as the detector sees it (default 48 dpi) as\n"
    "        PNG, or as binary PPM when OUT ends in .ppm.\n"
    "report  writes one HTML page for review: every page of each FILE as the\n"
    "        detector sees it, its verdict and figures, blank pages marked, and the\n"
    "        remove command that drops them. Self-contained; open it in a browser.\n"
    "\n"
    "-t N    threshold, 1..100 (default 99): a page is blank when at least N percent\n"
    "        of its pixels are light, a pixel being light when its darkest channel is\n"
    "        at least 255-N. 0 or less means 99; above 100 means 100.\n"
    "\n"
    "RULE    --rule light (default) or --rule scan. The scan rule judges a page on\n"
    "        ink that counts: pixels clearly darker than the page's own paper, in marks\n"
    "        no smaller than a speck, outside marks at the sheet's edge; a page is\n"
    "        blank while that ink stays below a small area. Its parameters:\n"
    "        --margin MM     outer margin for edges, bands and punch holes\n"
    "        --speck MM2     smallest mark that counts\n"
    "        --contrast N    levels darker than paper that make ink (1..255)\n"
    "        --max-ink MM2   ink area below which the page is blank\n"
    "        --faint MM2     faint marks (stamps, show-through) count from this area\n"
    "\n"
    "Exit status: 0 on success, 1 when a file failed, 2 for a usage error.\n";

int usage_error(const char *why) {
  std::fprintf(stderr, "leafsift: %s\n%s", why, k_usage);
  return 2;
}

std::string json_string(const char *s) {
  std::string out = "\"";
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
    switch (*p) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (*p < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", *p);
          out += esc;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out + "\"";
}

// Reads "-t N", "--json" and the rule options wherever they stand; everything else is
// positional.
struct options {
  int threshold = 99;
  bool threshold_given = false;
  bool json = false;
  std::string rule;                                   // "" for the default
  std::vector<std::pair<std::string, std::string>> scan;  // JSON key, number as written
  std::vector<const char *> files;
  std::vector<std::string> given;  // the rule options as written, -t spelt apart
  const char *output = nullptr;    // report's -o

  // The options text of the extended calls; the light rule's plain calls are used when no
  // rule option was given.
  bool extended() const { return !rule.empty() || !scan.empty(); }
  std::string json_text() const {
    std::string t = "{";
    auto add = [&t](const std::string &k, const std::string &v) {
      if (t.size() > 1) t += ",";
      t += "\"" + k + "\":" + v;
    };
    if (!rule.empty()) add("rule", "\"" + rule + "\"");
    if (threshold_given) add("threshold", std::to_string(threshold));
    for (const auto &kv : scan) add(kv.first, kv.second);
    return t + "}";
  }
};

bool parse_threshold(const char *text, int *out) {
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end) return false;
  if (v < -1000000) v = -1000000;
  if (v > 1000000) v = 1000000;
  *out = static_cast<int>(v);
  return true;
}

// The scan rule's parameter an option names, as its key in the options text.
const char *scan_option_key(const char *opt) {
  static const char *const pairs[][2] = {{"--margin", "margin_mm"},
                                         {"--speck", "speck_mm2"},
                                         {"--contrast", "contrast"},
                                         {"--max-ink", "max_ink_mm2"},
                                         {"--faint", "faint_mm2"}};
  for (const auto &p : pairs)
    if (std::strcmp(opt, p[0]) == 0) return p[1];
  return nullptr;
}

// A decimal number as JSON writes it, so that it can stand in the options text unchanged
// and the library judges its range.
bool is_plain_number(const char *s) {
  size_t i = 0, n = std::strlen(s), digits = 0;
  if (n == 0 || n > 32) return false;
  if (s[i] == '-') i++;
  while (i < n && s[i] >= '0' && s[i] <= '9') i++, digits++;
  if (i < n && s[i] == '.') {
    i++;
    size_t frac = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') i++, frac++;
    if (frac == 0) return false;
  }
  return digits > 0 && i == n && !(digits > 1 && s[s[0] == '-' ? 1 : 0] == '0');
}

bool parse_options(int argc, char **argv, bool allow_json, options *o, const char **why,
                   bool allow_output = false) {
  bool only_files = false;
  for (int i = 0; i < argc; ++i) {
    const char *a = argv[i];
    if (only_files || a[0] != '-' || std::strcmp(a, "-") == 0) {
      o->files.push_back(a);
    } else if (std::strcmp(a, "--") == 0) {
      only_files = true;
    } else if (std::strcmp(a, "-t") == 0) {
      if (i + 1 >= argc || !parse_threshold(argv[i + 1], &o->threshold)) {
        *why = "-t needs an integer";
        return false;
      }
      o->threshold_given = true;
      o->given.insert(o->given.end(), {"-t", argv[i + 1]});
      ++i;
    } else if (std::strcmp(a, "--rule") == 0) {
      if (i + 1 >= argc ||
          (std::strcmp(argv[i + 1], "light") != 0 && std::strcmp(argv[i + 1], "scan") != 0)) {
        *why = "--rule needs light or scan";
        return false;
      }
      o->rule = argv[++i];
      o->given.insert(o->given.end(), {a, o->rule});
    } else if (const char *key = scan_option_key(a)) {
      if (i + 1 >= argc || !is_plain_number(argv[i + 1])) {
        *why = "a scan rule option needs a number";
        return false;
      }
      o->scan.emplace_back(key, argv[++i]);
      o->given.insert(o->given.end(), {a, argv[i]});
    } else if (std::strncmp(a, "-t", 2) == 0 && parse_threshold(a + 2, &o->threshold)) {
      o->threshold_given = true;
      o->given.insert(o->given.end(), {"-t", a + 2});
    } else if (allow_output && std::strcmp(a, "-o") == 0) {
      if (i + 1 >= argc) {
        *why = "-o needs a file name";
        return false;
      }
      o->output = argv[++i];
    } else if (allow_json && std::strcmp(a, "--json") == 0) {
      o->json = true;
    } else {
      *why = "unknown option";
      return false;
    }
  }
  return true;
}

int cmd_detect(int argc, char **argv) {
  options o;
  const char *why = nullptr;
  if (!parse_options(argc, argv, true, &o, &why)) return usage_error(why);
  if (o.files.empty()) return usage_error("detect needs at least one FILE");
  bool progress = o.files.size() > 1 && isatty(STDERR_FILENO);
  int status = 0;
  for (size_t i = 0; i < o.files.size(); ++i) {
    const char *file = o.files[i];
    if (progress) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", i + 1, o.files.size(), file);
    const char *blank = o.extended() ? leafsift_detect_ex(file, o.json_text().c_str())
                                     : leafsift_detect(file, o.threshold);
    if (progress) std::fprintf(stderr, "\r\033[K");
    if (blank) {
      if (o.json)
        std::printf("{\"file\":%s,\"blank\":%s}\n", json_string(file).c_str(), blank);
      else
        std::printf("%s\t%s\n", file, blank);
    } else {
      status = 1;
      if (o.json)
        std::printf("{\"file\":%s,\"error\":%s}\n", json_string(file).c_str(),
                    json_string(leafsift_last_error()).c_str());
      else
        std::fprintf(stderr, "leafsift: %s\n", leafsift_last_error());
    }
    std::fflush(stdout);
  }
  return status;
}

int cmd_remove(int argc, char **argv) {
  options o;
  const char *why = nullptr;
  if (!parse_options(argc, argv, false, &o, &why)) return usage_error(why);
  if (o.files.size() != 2) return usage_error("remove needs IN and OUT");
  if (std::strcmp(o.files[1], "-") == 0)
    return usage_error("remove cannot write to standard output; give an OUT file");
  const int ok = o.extended() ? leafsift_remove_ex(o.files[0], o.files[1], o.json_text().c_str())
                               : leafsift_remove(o.files[0], o.files[1], o.threshold);
  if (!ok) {
    std::fprintf(stderr, "leafsift: %s\n", leafsift_last_error());
    return 1;
  }
  const char *stats = leafsift_stats();
  std::printf("%s\n", stats ? stats : "");
  return 0;
}

int cmd_pages(int argc, char **argv) {
  options o;
  const char *why = nullptr;
  if (!parse_options(argc, argv, true, &o, &why)) return usage_error(why);
  if (o.files.size() != 1) return usage_error("pages needs one FILE");
  if (!o.threshold_given && !o.extended()) o.threshold_given = true;
  const char *analysis = leafsift_analyze(o.files[0], o.json_text().c_str());
  if (!analysis) {
    std::fprintf(stderr, "leafsift: %s\n", leafsift_last_error());
    return 1;
  }
  const bool scan = o.rule == "scan";
  const char *figure = scan ? "ink_mm2" : "light";
  if (!o.json) std::printf("page\ttext\t%s\tverdict\n", figure);
  const std::string all = analysis;
  // Each page is one flat object of the "pages" list.
  for (size_t at = all.find("{\"page\":"); at != std::string::npos;
       at = all.find("{\"page\":", at + 1)) {
    const std::string obj = all.substr(at, all.find('}', at) - at + 1);
    const std::string page = analysis_field(obj, "page"), value = analysis_field(obj, figure);
    const bool text = analysis_field(obj, "text") == "true";
    const bool unread = analysis_field(obj, "unread") == "true";
    const bool blank = analysis_field(obj, "blank") == "true";
    if (o.json) {
      std::printf("{\"page\":%s,\"text\":%s,\"%s\":%s,\"blank\":%s%s}\n", page.c_str(),
                  text ? "true" : "false", figure, value.c_str(), blank ? "true" : "false",
                  unread ? ",\"unread\":true" : "");
    } else {
      const char *verdict = blank ? "blank" : unread ? "kept (unreadable)" : "kept";
      std::printf("%s\t%s\t%s\t%s\n", page.c_str(), text ? "yes" : "no",
                  value == "null" ? "-" : value.c_str(), verdict);
    }
  }
  return 0;
}

int cmd_render(int argc, char **argv) {
  int dpi = 48;
  std::vector<const char *> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dpi") == 0) {
      if (i + 1 >= argc || !parse_threshold(argv[i + 1], &dpi) || dpi < 1 || dpi > 2400)
        return usage_error("--dpi needs an integer from 1 to 2400");
      ++i;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.size() != 3) return usage_error("render needs FILE PAGE OUT");
  int page = 0;
  if (!parse_threshold(args[1], &page) || page < 1) return usage_error("PAGE is 1-based");
  pdf_doc doc;
  if (!pdfcore_load(args[0], doc)) {
    std::fprintf(stderr, "leafsift: %s\n", g_err[0] ? g_err : "cannot open file");
    return 1;
  }
  int w = 0, h = 0;
  c_ptr<uint8_t> rgba = lsf_render_page(doc, page - 1, dpi, &w, &h);
  if (!rgba) {
    std::fprintf(stderr, "leafsift: %s\n", g_err);
    return 1;
  }
  std::string out = args[2];
  bool ppm = out.size() >= 4 && out.compare(out.size() - 4, 4, ".ppm") == 0;
  if (!(ppm ? write_ppm(out, rgba.get(), w, h) : write_png(out, rgba.get(), w, h))) {
    std::fprintf(stderr, "leafsift: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

int cmd_report(int argc, char **argv) {
  options o;
  const char *why = nullptr;
  if (!parse_options(argc, argv, false, &o, &why, true)) return usage_error(why);
  if (!o.output) return usage_error("report needs -o REPORT.html");
  if (o.files.empty()) return usage_error("report needs at least one FILE");
  if (!o.threshold_given && !o.extended()) o.threshold_given = true;
  report_request req;
  req.files.assign(o.files.begin(), o.files.end());
  req.options_json = o.json_text();
  req.scan_rule = o.rule == "scan";
  req.remove_args = o.given;
  req.output = o.output;
  std::string error;
  const int status = write_report(req, &error);
  if (!error.empty()) std::fprintf(stderr, "leafsift: %s\n", error.c_str());
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage_error("no command given");
  const char *cmd = argv[1];
  if (std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0) {
    std::fputs(k_usage, stdout);
    return 0;
  }
  if (std::strcmp(cmd, "--version") == 0) {
    std::puts(k_version);
    return 0;
  }
  leafsift_init();
  int status;
  if (std::strcmp(cmd, "detect") == 0)
    status = cmd_detect(argc - 2, argv + 2);
  else if (std::strcmp(cmd, "remove") == 0)
    status = cmd_remove(argc - 2, argv + 2);
  else if (std::strcmp(cmd, "pages") == 0)
    status = cmd_pages(argc - 2, argv + 2);
  else if (std::strcmp(cmd, "render") == 0)
    status = cmd_render(argc - 2, argv + 2);
  else if (std::strcmp(cmd, "report") == 0)
    status = cmd_report(argc - 2, argv + 2);
  else
    status = usage_error("unknown command");
  leafsift_cleanup();
  return status;
}
