#include "support/corpus_table.h"

#include <fstream>
#include <sstream>

std::vector<table_row> read_table(const std::string &path) {
  std::vector<table_row> rows;
  std::ifstream f(path);
  std::string line;
  std::vector<std::string> head;
  while (std::getline(f, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) cols.push_back(c);
    if (head.empty()) {
      head = cols;
      continue;
    }
    table_row row;
    for (size_t i = 0; i < head.size() && i < cols.size(); ++i) row[head[i]] = cols[i];
    rows.push_back(std::move(row));
  }
  return rows;
}

std::set<int> parse_page_list(const std::string &s) {
  std::set<int> out;
  std::string digits;
  for (char c : s + ",") {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (!digits.empty()) {
      out.insert(std::stoi(digits));
      digits.clear();
    }
  }
  return out;
}
