// The review report: one HTML file that shows every page of each document as the detector saw
// it, with its verdict and figures, and the command that drops the pages marked blank. It is
// self-contained (pictures as PNG data URIs, styles inline, no script), so it can be mailed or
// archived and opened anywhere without a network.
#pragma once

#include <string>
#include <vector>

struct report_request {
  std::vector<std::string> files;
  std::string options_json;             // the extended calls' options text
  bool scan_rule = false;               // thumbnails at the scan rule's resolution
  std::vector<std::string> remove_args;  // the rule options as given, for the remove command
  std::string output;
};

// Writes the report, replacing output only once it is complete. Returns 0 when every file was
// judged, 1 when a file failed (it is shown with its error; the others are still reported) or
// the report could not be written, with *error saying why in the latter case.
int write_report(const report_request &req, std::string *error);

// The raw value of "key" in one flat object of an analysis text (a number, true, false or
// null), "" when the object has no such key.
std::string analysis_field(const std::string &obj, const char *key);

// Pieces of the report, exposed for tests.
std::string html_escape(const std::string &text);    // UTF-8 text; bad bytes become U+FFFD
std::string shell_quote(const std::string &word);     // one word for a POSIX shell (bash for $'..')
std::string base64(const std::vector<unsigned char> &bytes);
std::string kept_copy_name(const std::string &input);  // "a.pdf" -> "a-kept.pdf"
