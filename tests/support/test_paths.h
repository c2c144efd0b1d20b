// Where the tests find the corpus, the command-line tool and the shared library.
#pragma once

#include <string>

// The folder holding corpus/ and tools/, or "" when it is absent (a user's clone has none).
std::string shared_dir();
std::string tool_path();
std::string shared_lib_path();
std::string source_dir();
// A fresh empty folder under the system's temporary directory, removed at exit.
std::string scratch_dir();
// Runs a shell command, returns its exit status, and fills *out with its standard output.
int run_command(const std::string &cmd, std::string *out = nullptr);
