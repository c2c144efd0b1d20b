// Runs a fuzz target without libFuzzer: every file named on the command line, and every
// regular file inside each named folder (sorted, so runs are repeatable), goes once through
// LLVMFuzzerTestOneInput. This is how the seed corpora and saved findings are replayed in the
// ordinary and sanitizer builds, where a fault aborts the process and fails the test.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace fs = std::filesystem;

namespace {

bool read_all(const fs::path &p, std::vector<uint8_t> *out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    fs::path p(argv[i]);
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> here;
      for (const auto &e : fs::directory_iterator(p, ec))
        if (e.is_regular_file(ec)) here.push_back(e.path());
      std::sort(here.begin(), here.end());
      inputs.insert(inputs.end(), here.begin(), here.end());
    } else if (fs::is_regular_file(p, ec)) {
      inputs.push_back(p);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    // An empty corpus would make the replay pass while testing nothing.
    std::fprintf(stderr, "no inputs found\n");
    return 2;
  }

  std::vector<uint8_t> bytes;
  for (const auto &p : inputs) {
    if (!read_all(p, &bytes)) {
      std::fprintf(stderr, "%s: cannot read\n", p.c_str());
      return 2;
    }
    std::fprintf(stderr, "replay %s (%zu bytes)\n", p.c_str(), bytes.size());
    // A copy of exactly the file's size, so that ASan catches a read one past its end.
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const uint8_t k_empty = 0;
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? &k_empty : exact.data(), exact.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
