#include "report.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/classify.h"
#include "engine/scan_rule.h"
#include "image_out.h"
#include "leafsift.h"
#include "pdfcore/document.h"
#include "pdfcore/error.h"
#include "render/render.h"

namespace {

const char *k_style =
    "body{font:14px/1.45 sans-serif;margin:1.5em;color:#222;background:#f3f3f3}"
    "h1{font-size:1.4em;margin:0 0 .3em}"
    "section.doc{background:#fff;border:1px solid #ccc;margin:0 0 1.5em;padding:.8em 1em}"
    "section.doc h2{font-size:1.1em;margin:0 0 .3em;word-break:break-all}"
    ".summary{margin:.2em 0}.error{color:#a00;font-weight:bold}"
    ".command code{display:block;background:#f6f6f6;border:1px solid #ddd;padding:.4em;"
    "white-space:pre-wrap;word-break:break-all}"
    ".pages{display:flex;flex-wrap:wrap;gap:10px;margin-top:.6em}"
    "figure.page{margin:0;padding:4px;border:3px solid #d0d0d0;background:#fff}"
    "figure.page.blank{border-color:#c00;background:#fde8e8}"
    "figure.page img{display:block;max-width:220px;height:auto;border:1px solid #ddd}"
    "figcaption{font-size:12px;margin-top:3px}"
    ".verdict{font-weight:bold}.blank .verdict{color:#c00}"
    ".nodraw{width:150px;height:190px;display:flex;align-items:center;justify-content:center;"
    "color:#777;border:1px dashed #bbb}";

struct file_closer {
  void operator()(FILE *f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

struct page_row {
  int page = 0;
  bool text = false, unread = false, blank = false;
  std::string light, ink;  // as the analysis wrote them, "null" when not rendered
};

std::vector<page_row> parse_pages(const std::string &analysis) {
  std::vector<page_row> rows;
  for (size_t at = analysis.find("{\"page\":"); at != std::string::npos;
       at = analysis.find("{\"page\":", at + 1)) {
    const std::string obj = analysis.substr(at, analysis.find('}', at) - at + 1);
    page_row r;
    r.page = std::atoi(analysis_field(obj, "page").c_str());
    r.text = analysis_field(obj, "text") == "true";
    r.unread = analysis_field(obj, "unread") == "true";
    r.blank = analysis_field(obj, "blank") == "true";
    r.light = analysis_field(obj, "light");
    r.ink = analysis_field(obj, "ink_mm2");
    rows.push_back(r);
  }
  return rows;
}

// Streams the report into a temporary file beside the output, renamed over it when complete.
class report_file {
 public:
  explicit report_file(const std::string &output) : output_(output) {
    std::string tmpl = output + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) return;
    temp_.assign(name.data());
    // mkstemp makes the file private; a report is an ordinary file, readable as umask allows.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    f_.reset(fdopen(fd, "wb"));
    if (!f_) ::close(fd);
  }
  ~report_file() {
    f_.reset();
    if (!temp_.empty() && !committed_) std::remove(temp_.c_str());
  }
  bool ok() const { return f_ != nullptr; }
  void put(const std::string &s) {
    if (f_ && std::fwrite(s.data(), 1, s.size(), f_.get()) != s.size()) failed_ = true;
  }
  bool commit() {
    if (!f_) return false;
    const bool flushed = std::fflush(f_.get()) == 0 && !std::ferror(f_.get());
    const bool closed = std::fclose(f_.release()) == 0;
    if (failed_ || !flushed || !closed) return false;
    if (std::rename(temp_.c_str(), output_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  std::string output_, temp_;
  file_ptr f_;
  bool failed_ = false, committed_ = false;
};

std::string page_list(const std::vector<int> &pages) {
  std::string s;
  for (size_t i = 0; i < pages.size(); ++i) s += (i ? ", " : "") + std::to_string(pages[i]);
  return s;
}

std::string plural(size_t n, const char *word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// One document's section. Returns false when the document could not be judged.
bool write_document(report_file &out, const report_request &req, const std::string &file) {
  const std::string name = html_escape(file);
  const char *analysis = leafsift_analyze(file.c_str(), req.options_json.c_str());
  if (!analysis) {
    out.put("<section class=\"doc failed\" data-pages=\"0\"><h2>" + name +
            "</h2><p class=\"error\">Not judged: " + html_escape(leafsift_last_error()) +
            "</p></section>\n");
    return false;
  }
  const std::vector<page_row> rows = parse_pages(analysis);
  std::vector<int> blank;
  for (const page_row &r : rows)
    if (r.blank) blank.push_back(r.page);

  out.put("<section class=\"doc\" data-pages=\"" + std::to_string(rows.size()) + "\"><h2>" +
          name + "</h2>\n<p class=\"summary\">" + plural(rows.size(), "page") + ", " +
          (blank.empty() ? std::string("none blank")
                         : std::to_string(blank.size()) + " blank (" + page_list(blank) + ")") +
          ", " + std::to_string(rows.size() - blank.size()) + " kept</p>\n");
  if (blank.empty()) {
    out.put("<p class=\"command\">Nothing to remove.</p>\n");
  } else {
    std::string cmd = "leafsift remove";
    for (const std::string &a : req.remove_args) cmd += " " + shell_quote(a);
    const std::string kept = kept_copy_name(file);
    if ((file[0] == '-' && file != "-") || kept[0] == '-') cmd += " --";
    cmd += " " + shell_quote(file) + " " + shell_quote(kept);
    out.put("<p class=\"command\">To write a copy without the pages marked blank:<code>" +
            html_escape(cmd) + "</code></p>\n");
  }

  // Thumbnails as the detector renders pages. The document was just read by the analysis, so
  // a load failure here is unexpected; the pages are then shown without pictures.
  const int dpi = req.scan_rule ? k_scan_dpi : k_classify_dpi;
  pdf_doc doc;
  const bool loaded = pdfcore_load(file.c_str(), doc);
  // The thumbnails share one budget as the analysis did: a small file of many heavy pages
  // is not drawn page after page at full cost.
  work_call call;
  if (loaded) lsf_call_work(doc, call);
  out.put("<div class=\"pages\">\n");
  for (const page_row &r : rows) {
    out.put(std::string("<figure class=\"page") + (r.blank ? " blank" : "") + "\">");
    int w = 0, h = 0;
    c_ptr<uint8_t> rgba;
    if (loaded) rgba = lsf_render_page(doc, r.page - 1, dpi, &w, &h, nullptr, false, false, &call);
    if (rgba) {
      const std::vector<uint8_t> png = encode_png(rgba.get(), w, h);
      out.put("<img src=\"data:image/png;base64,");
      out.put(base64(png));
      out.put("\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) +
              "\" alt=\"page " + std::to_string(r.page) + "\">");
    } else {
      out.put("<div class=\"nodraw\">not drawn</div>");
    }
    std::string figures;
    if (r.text) figures = "text found";
    else if (r.unread) figures = "part unreadable";
    else if (req.scan_rule && r.ink != "null") figures = "ink " + r.ink + " mm\u00b2";
    else if (!req.scan_rule && r.light != "null") figures = "light " + r.light + " %";
    out.put("<figcaption>" + std::to_string(r.page) + " \u00b7 <span class=\"verdict\">" +
            (r.blank ? "blank" : "kept") + "</span>" +
            (figures.empty() ? "" : " \u00b7 " + html_escape(figures)) + "</figcaption></figure>\n");
  }
  out.put("</div></section>\n");
  return true;
}

// The length of the well-formed UTF-8 sequence at p[i] (no overlong forms, no surrogates, at
// most U+10FFFF), 0 when the bytes there are not one.
size_t utf8_length(const unsigned char *p, size_t i, size_t n) {
  const unsigned char c = p[i];
  if (c < 0x80) return 1;
  const size_t len = c >= 0xF5 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (len == 0 || i + len > n) return 0;
  for (size_t k = 1; k < len; ++k)
    if ((p[i + k] & 0xC0) != 0x80) return 0;
  if ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0) ||
      (c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90))
    return 0;
  return len;
}

}  // namespace

std::string analysis_field(const std::string &obj, const char *key) {
  const std::string k = std::string("\"") + key + "\":";
  size_t at = obj.find(k);
  if (at == std::string::npos) return "";
  at += k.size();
  const size_t end = obj.find_first_of(",}", at);
  return obj.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string html_escape(const std::string &text) {
  std::string out;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          // Control characters other than tab and newline have no place in HTML text.
          if (c < 0x20 && c != '\t' && c != '\n') out += "\xEF\xBF\xBD";
          else out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const size_t len = utf8_length(p, i, n);
    const bool good = len > 0;
    if (good) {
      out.append(text, i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

std::string shell_quote(const std::string &word) {
  if (word.empty()) return "''";
  bool plain = true;
  for (unsigned char c : word)
    plain = plain && (std::isalnum(c) || std::strchr("_./+-=:,@%", c) != nullptr);
  if (plain) return word;
  // Single quotes keep every byte, but a name that is not readable text (bytes that are not
  // UTF-8, control characters) could not be copied from the page: it is spelt out as $'\xNN'.
  const auto *p = reinterpret_cast<const unsigned char *>(word.data());
  bool readable = true;
  for (size_t i = 0; i < word.size() && readable;) {
    const size_t len = utf8_length(p, i, word.size());
    readable = len > 0 && p[i] >= 0x20 && p[i] != 0x7F;
    i += len;
  }
  if (readable) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  std::string out = "$'";
  for (unsigned char c : word) {
    if (c == '\\' || c == '\'') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "'";
}

std::string base64(const std::vector<unsigned char> &bytes) {
  static const char k_digits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += k_digits[v >> 18];
    out += k_digits[(v >> 12) & 63];
    out += k_digits[(v >> 6) & 63];
    out += k_digits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = (bytes[i] << 16) | (two ? bytes[i + 1] << 8 : 0);
    out += k_digits[v >> 18];
    out += k_digits[(v >> 12) & 63];
    out += two ? k_digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string kept_copy_name(const std::string &input) {
  std::string stem = input;
  if (stem.size() > 4) {
    std::string ext = stem.substr(stem.size() - 4);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".pdf") stem.resize(stem.size() - 4);
  }
  return stem + "-kept.pdf";
}

int write_report(const report_request &req, std::string *error) {
  report_file out(req.output);
  if (!out.ok()) {
    *error = "cannot write " + req.output;
    return 1;
  }
  std::string options;
  for (const std::string &a : req.remove_args) options += (options.empty() ? "" : " ") + a;
  out.put(std::string("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                      "<title>leafsift report</title><style>") +
          k_style + "</style></head><body>\n<h1>Blank pages for review</h1>\n<p>" +
          plural(req.files.size(), "document") + ", rule " + (req.scan_rule ? "scan" : "light") +
          ", " + (options.empty() ? std::string("default options") : "options " + html_escape(options)) +
          ". Pages framed in red are blank and would be dropped by the command under their "
          "document.</p>\n");
  int status = 0;
  for (const std::string &file : req.files)
    if (!write_document(out, req, file)) status = 1;
  out.put("</body></html>\n");
  if (!out.commit()) {
    *error = "cannot write " + req.output;
    return 1;
  }
  return status;
}
