// Replacing the output file in one step, through a temporary file in the same folder (a
// rename within one file system is atomic). An existing output keeps its permission bits.
#include "emit/replace_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "pdfcore/error.h"

namespace {

// Tells apart the temporary files of successive calls within one process.
unsigned s_temp_serial = 0;

// The folder part of path, with its final "/", or "" for a bare file name.
std::string folder_of(const char *path) {
  std::string p(path);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

}  // namespace

int lsf_replace_file(const char *path, const uint8_t *bytes, uint64_t n) {
  struct stat existing;
  const bool exists = ::stat(path, &existing) == 0;
  // Replacing a file one may not write to would sidestep its permissions.
  if (exists && S_ISREG(existing.st_mode) && ::access(path, W_OK) != 0) {
    pdfcore_set_error("cannot write %s", path);
    return 0;
  }
  const std::string folder = folder_of(path);
  std::string temp;
  FILE *f = nullptr;
  for (int attempt = 0; attempt < 100 && !f; ++attempt) {
    temp = folder + ".lsf-" + std::to_string(static_cast<long>(::getpid())) + "-" +
           std::to_string(s_temp_serial++) + ".tmp";
    f = std::fopen(temp.c_str(), "wbx");
    if (!f && errno != EEXIST) break;
  }
  if (!f) {
    pdfcore_set_error("cannot write %s", path);
    return 0;
  }
  if (exists && S_ISREG(existing.st_mode)) ::fchmod(::fileno(f), existing.st_mode & 07777);

  const size_t written = n ? std::fwrite(bytes, 1, static_cast<size_t>(n), f) : 0;
  if (written != n) {
    pdfcore_set_error("short write to %s", path);
    if (std::fclose(f) != 0) pdfcore_set_error("close error on %s", path);
    std::remove(temp.c_str());
    return 0;
  }
  // The data must be on disk before the name points at them, or a crash could leave an
  // empty file where the old one stood.
  const bool synced = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
  if (std::fclose(f) != 0 || !synced) {
    pdfcore_set_error("close error on %s", path);
    std::remove(temp.c_str());
    return 0;
  }
  if (std::rename(temp.c_str(), path) != 0) {
    pdfcore_set_error("cannot write %s", path);
    std::remove(temp.c_str());
    return 0;
  }
  return 1;
}
