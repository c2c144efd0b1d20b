#include "support/test_paths.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/wait.h>

namespace fs = std::filesystem;

std::string shared_dir() {
  std::error_code ec;
  fs::path p = LEAFSIFT_SHARED_DIR;
  if (!fs::is_directory(p / "corpus", ec)) return "";
  return fs::weakly_canonical(p, ec).string();
}

std::string tool_path() { return LEAFSIFT_TOOL_PATH; }
std::string shared_lib_path() { return LEAFSIFT_SHARED_LIB_PATH; }
std::string source_dir() { return LEAFSIFT_SOURCE_DIR; }

namespace {
struct scratch_root {
  fs::path path;
  scratch_root() {
    std::random_device rd;
    path = fs::temp_directory_path() / ("leafsift-test-" + std::to_string(rd()));
    fs::create_directories(path);
  }
  ~scratch_root() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};
}  // namespace

std::string scratch_dir() {
  static scratch_root root;
  static int counter = 0;
  fs::path p = root.path / std::to_string(counter++);
  fs::create_directories(p);
  return p.string();
}

int run_command(const std::string &cmd, std::string *out) {
  FILE *f = popen(cmd.c_str(), "r");
  if (!f) return -1;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
    if (out) out->append(chunk, n);
  int status = pclose(f);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
