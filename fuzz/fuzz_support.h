// Helpers shared by the fuzz targets: parameters taken from the front of the input, and a
// per-process scratch file for the targets that hand the library a path.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

// Takes bytes off the front of the input; past its end every read gives 0, so a short input
// still runs with default-looking parameters.
class front_reader {
 public:
  front_reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() {
    uint16_t hi = byte();
    return static_cast<uint16_t>(hi << 8 | byte());
  }
  const uint8_t *rest() const { return data_ + (pos_ < size_ ? pos_ : size_); }
  size_t rest_size() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// A fixed name under /tmp per process and role, so that parallel fuzzing jobs (-jobs=N) do
// not overwrite each other's files.
inline std::string scratch_path(const char *role) {
  return "/tmp/leafsift-fuzz-" + std::to_string(static_cast<long>(getpid())) + "-" + role +
         ".pdf";
}

// Replaces the file at path with the bytes; false when it cannot be written whole.
inline bool write_whole(const std::string &path, const uint8_t *data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

// Whole documents larger than this say nothing a smaller one would not; the cap keeps the
// rendering of a single input within the fuzzer's time and memory limits.
inline constexpr size_t k_max_document_bytes = 1 << 20;

}  // namespace fuzz
