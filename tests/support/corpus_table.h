// The corpus's tab-separated tables (manifest.tsv, pages.tsv): rows as maps from column name
// to value, and the page lists written in them as "[2,5]".
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

using table_row = std::map<std::string, std::string>;

// Every row after the header line, in file order; empty when the file cannot be read.
std::vector<table_row> read_table(const std::string &path);
// The numbers of a list such as "[2,5]"; anything but digits separates them.
std::set<int> parse_page_list(const std::string &s);
