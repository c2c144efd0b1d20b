#include "support/pdf_builder.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <zlib.h>

pdf_builder::pdf_builder(const std::string &header) : out_(header) {}

size_t pdf_builder::obj(int num, const std::string &body, int gen) {
  size_t at = out_.size();
  out_ += std::to_string(num) + " " + std::to_string(gen) + " obj\n" + body + "\nendobj\n";
  offsets_[num] = at;
  pending_[num] = at;
  if (num > max_num_) max_num_ = num;
  return at;
}

size_t pdf_builder::stream(int num, const std::string &dict, const std::string &data,
                           bool with_length, int gen) {
  std::string body = "<< " + dict;
  if (with_length) body += " /Length " + std::to_string(data.size());
  body += " >>\nstream\n" + data + "\nendstream";
  return obj(num, body, gen);
}

size_t pdf_builder::flate_stream(int num, const std::string &dict, const std::string &data) {
  return stream(num, dict + " /Filter /FlateDecode", zlib_compress(data));
}

size_t pdf_builder::object_stream(int num, const std::vector<std::pair<int, std::string>> &objects,
                                  bool compress, const std::string &extra_dict) {
  std::string header, bodies;
  for (const auto &[n, body] : objects) {
    header += std::to_string(n) + " " + std::to_string(bodies.size()) + " ";
    bodies += body + "\n";
  }
  header += "\n";
  std::string dict = "/Type /ObjStm /N " + std::to_string(objects.size()) + " /First " +
                     std::to_string(header.size()) + " " + extra_dict;
  if (compress) return flate_stream(num, dict, header + bodies);
  return stream(num, dict, header + bodies);
}

void pdf_builder::raw(const std::string &bytes) { out_ += bytes; }

void pdf_builder::xref_trailer(const std::string &entries, bool prev_chain) {
  size_t at = out_.size();
  std::string x = "xref\n";
  if (pending_.empty()) {
    x += "0 1\n0000000000 65535 f \n";
  } else {
    x += "0 1\n0000000000 65535 f \n";
    for (const auto &[num, off] : pending_) {
      char line[32];
      std::snprintf(line, sizeof line, "%d 1\n%010zu 00000 n \n", num, off);
      x += line;
    }
  }
  x += "trailer\n<< /Size " + std::to_string(max_num_ + 1) + " " + entries;
  if (prev_chain && last_xref_ >= 0) x += " /Prev " + std::to_string(last_xref_);
  x += " >>\nstartxref\n" + std::to_string(at) + "\n%%EOF\n";
  out_ += x;
  last_xref_ = static_cast<long>(at);
  pending_.clear();
}

void pdf_builder::startxref(long offset) {
  out_ += "startxref\n" + std::to_string(offset) + "\n%%EOF\n";
}

size_t pdf_builder::offset_of(int num) const {
  auto it = offsets_.find(num);
  return it == offsets_.end() ? 0 : it->second;
}

std::string zlib_compress(const std::string &data, int level) {
  uLongf cap = compressBound(data.size());
  std::string out(cap, '\0');
  if (compress2(reinterpret_cast<Bytef *>(out.data()), &cap,
                reinterpret_cast<const Bytef *>(data.data()), data.size(), level) != Z_OK)
    return "";
  out.resize(cap);
  return out;
}

std::string simple_pdf(const std::vector<std::string> &contents, const std::string &box,
                       const std::string &page_extra) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (size_t i = 0; i < contents.size(); ++i) kids += std::to_string(3 + 2 * i) + " 0 R ";
  b.obj(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(contents.size()) +
               " >>");
  for (size_t i = 0; i < contents.size(); ++i) {
    int page = static_cast<int>(3 + 2 * i);
    b.obj(page, "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Contents " +
                    std::to_string(page + 1) + " 0 R /Resources << >> " + page_extra + " >>");
    b.stream(page + 1, "", contents[i]);
  }
  b.xref_trailer("/Root 1 0 R");
  return b.str();
}

bool write_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}
