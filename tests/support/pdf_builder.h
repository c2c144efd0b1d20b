// A small PDF writer for test fixtures: objects, streams, cross-reference tables and trailers,
// with offsets and lengths computed here, so each test shows its case in a few lines.
//
//   pdf_builder b;
//   b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
//   b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
//   b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
//   b.stream(4, "", "0 0 m 10 10 l S");
//   b.xref_trailer("/Root 1 0 R");
//   std::string pdf = b.str();
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class pdf_builder {
 public:
  explicit pdf_builder(const std::string &header = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");

  // "num 0 obj\n<body>\nendobj\n"; returns the offset of the object head.
  size_t obj(int num, const std::string &body, int gen = 0);
  // A stream object: "<< <dict> /Length n >>" (the /Length left out when with_length is
  // false), "stream\n", data, "\nendstream".
  size_t stream(int num, const std::string &dict, const std::string &data,
                bool with_length = true, int gen = 0);
  // A Flate-compressed stream (zlib at the default level) with /Filter /FlateDecode added.
  size_t flate_stream(int num, const std::string &dict, const std::string &data);
  // An object stream holding the given objects (number, body), compressed unless plain.
  size_t object_stream(int num, const std::vector<std::pair<int, std::string>> &objects,
                       bool compress = true, const std::string &extra_dict = "");
  // Any bytes, as they stand.
  void raw(const std::string &bytes);
  // A classic cross-reference table of the objects written since the previous one, then
  // "trailer\n<< /Size n <entries> >>\nstartxref\n<offset>\n%%EOF\n". With prev_chain,
  // /Prev points at the previous table.
  void xref_trailer(const std::string &entries, bool prev_chain = true);
  // Only "startxref\n<offset>\n%%EOF\n", pointing wherever the test likes.
  void startxref(long offset);

  size_t size() const { return out_.size(); }
  const std::string &str() const { return out_; }
  size_t offset_of(int num) const;

 private:
  std::string out_;
  std::map<int, size_t> offsets_;      // newest offset per object number
  std::map<int, size_t> pending_;      // objects since the last table
  long last_xref_ = -1;
  int max_num_ = 0;
};

// zlib-wrapped Deflate at a level (0 to 9), for fixtures and differential tests.
std::string zlib_compress(const std::string &data, int level = 6);

// A whole one-document file: catalog 1, page tree 2, then one page per content text (each
// page followed by its content stream), with the given page box. Extra text is added to
// every page dictionary.
std::string simple_pdf(const std::vector<std::string> &contents,
                       const std::string &box = "[0 0 612 792]",
                       const std::string &page_extra = "");

// Writes bytes to a file; returns false when it cannot.
bool write_file(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);
