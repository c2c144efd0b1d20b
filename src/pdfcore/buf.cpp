// The growable byte buffer: decoded streams, gathered page content and whole output files are
// assembled here. Memory comes from the C allocator so that exhaustion is a state the buffer
// records (and keeps), never an exception.

#include "pdfcore/buf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// No single block may exceed what a pointer difference can express; asking the allocator for
// more is pointless and some allocators refuse such requests loudly instead of returning null.
static constexpr uint64_t s_max_block = static_cast<uint64_t>(PTRDIFF_MAX);

// Losing the beginning of gathered content or of an output file would be worse than losing all
// of it, so a failed buffer drops its block and refuses further appends.
static void buf_fail(buf &b) {
  std::free(b.data);
  b.data = nullptr;
  b.len = 0;
  b.cap = 0;
  b.failed = true;
}

buf::~buf() { std::free(data); }

buf::buf(buf &&other) noexcept
    : data(other.data), len(other.len), cap(other.cap), failed(other.failed) {
  other.data = nullptr;
  other.len = 0;
  other.cap = 0;
  other.failed = false;
}

buf &buf::operator=(buf &&other) noexcept {
  if (this != &other) {
    std::free(data);
    data = other.data;
    len = other.len;
    cap = other.cap;
    failed = other.failed;
    other.data = nullptr;
    other.len = 0;
    other.cap = 0;
    other.failed = false;
  }
  return *this;
}

void buf_init(buf &b) {
  std::free(b.data);
  b.failed = false;
  b.len = 0;
  b.data = static_cast<uint8_t *>(std::malloc(k_buf_first_block));
  if (!b.data) {
    buf_fail(b);
    return;
  }
  b.cap = k_buf_first_block;
  b.data[0] = 0;
}

void buf_free(buf &b) {
  std::free(b.data);
  b.data = nullptr;
  b.len = 0;
  b.cap = 0;
  b.failed = false;
}

void buf_reserve(buf &b, uint64_t n) {
  if (b.failed) return;
  if (!b.data) {
    b.data = static_cast<uint8_t *>(std::malloc(k_buf_first_block));
    if (!b.data) {
      buf_fail(b);
      return;
    }
    b.cap = k_buf_first_block;
    b.len = 0;
    b.data[0] = 0;
  }
  // need = len + n + 1, for the terminating NUL; a sum that wraps cannot be satisfied.
  if (n > UINT64_MAX - 1 - b.len) {
    buf_fail(b);
    return;
  }
  uint64_t need = b.len + n + 1;
  if (need <= b.cap) return;
  if (need > s_max_block) {
    buf_fail(b);
    return;
  }
  uint64_t cap = b.cap;
  while (cap < need) cap = cap > s_max_block / 2 ? s_max_block : cap * 2;
  void *grown = std::realloc(b.data, cap);
  if (!grown) {
    buf_fail(b);
    return;
  }
  b.data = static_cast<uint8_t *>(grown);
  b.cap = cap;
}

void buf_bytes(buf &b, const void *src, uint64_t n) {
  buf_reserve(b, n);
  if (!buf_ok(b)) return;
  if (n) std::memcpy(b.data + b.len, src, n);
  b.len += n;
  b.data[b.len] = 0;
}

void buf_str(buf &b, const char *text) { buf_bytes(b, text, std::strlen(text)); }

void buf_int(buf &b, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
  buf_str(b, text);
}
