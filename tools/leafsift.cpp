// The leafsift command-line tool: blank-page detection and removal over files, on top of the
// library's C interface.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/classify.h"
#include "engine/results.h"
#include "image_out.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/render.h"

namespace {

const char *k_version = "leafsift 0.1.0";

const char *k_usage =
    "usage: leafsift detect [-t N] [--json] FILE...\n"
    "       leafsift remove [-t N] IN OUT\n"
    "       leafsift pages [-t N] [--json] FILE\n"
    "       leafsift render [--dpi N] FILE PAGE OUT\n"
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
    "\n"
    "-t N    threshold, 1..100 (default 99): a page is blank when at least N percent\n"
    "        of its pixels are light, a pixel being light when its darkest channel is\n"
    "        at least 255-N. 0 or less means 99; above 100 means 100.\n"
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

// Reads "-t N" and "--json" wherever they stand; everything else is positional.
struct options {
  int threshold = 99;
  bool json = false;
  std::vector<const char *> files;
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

bool parse_options(int argc, char **argv, bool allow_json, options *o, const char **why) {
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
      ++i;
    } else if (std::strncmp(a, "-t", 2) == 0 && parse_threshold(a + 2, &o->threshold)) {
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
    const char *blank = leafsift_detect(file, o.threshold);
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
  if (!leafsift_remove(o.files[0], o.files[1], o.threshold)) {
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
  pdf_doc doc;
  if (!pdfcore_load(o.files[0], doc)) {
    std::fprintf(stderr, "leafsift: %s\n", g_err[0] ? g_err : "cannot open file");
    return 1;
  }
  int t = clamp_threshold(o.threshold);
  if (!o.json) std::printf("page\ttext\tlight\tverdict\n");
  for (int32_t i = 0; i < doc.pages.count(); ++i) {
    page_verdict v = classify_page(doc, i, t, true);
    char light[32] = "-";
    if (v.rendered) std::snprintf(light, sizeof light, "%.2f", v.light);
    if (o.json) {
      std::printf("{\"page\":%d,\"text\":%s,\"light\":%s,\"blank\":%s%s}\n", i + 1,
                  v.text ? "true" : "false", v.rendered ? light : "null",
                  v.blank ? "true" : "false", v.unread ? ",\"unread\":true" : "");
    } else {
      const char *verdict = v.blank ? "blank" : v.unread ? "kept (unreadable)" : "kept";
      std::printf("%d\t%s\t%s\t%s\n", i + 1, v.text ? "yes" : "no", light, verdict);
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
  else
    status = usage_error("unknown command");
  leafsift_cleanup();
  return status;
}
