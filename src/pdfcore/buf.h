// The growable byte buffer in which decoded streams, gathered content and output files are
// assembled. A NUL always follows the content, so it also reads as a C string.
//
// A buffer whose growth failed stays failed: later appends do nothing and `failed` stays set
// until buf_free or buf_init, so a caller can never mistake the tail of its data for the whole.
#pragma once

#include <cstdint>

struct buf {
  uint8_t *data = nullptr;  // owned block, or null when the buffer holds none
  uint64_t len = 0;         // content bytes
  uint64_t cap = 0;         // block size
  bool failed = false;      // a reservation failed since the last buf_init / buf_free

  buf() = default;
  ~buf();
  buf(const buf &) = delete;
  buf &operator=(const buf &) = delete;
  buf(buf &&other) noexcept;
  buf &operator=(buf &&other) noexcept;
};

inline constexpr uint64_t k_buf_first_block = 1048576;

void buf_init(buf &b);
void buf_free(buf &b);
void buf_reserve(buf &b, uint64_t n);
void buf_bytes(buf &b, const void *src, uint64_t n);
void buf_str(buf &b, const char *text);
void buf_int(buf &b, int32_t value);
// True while the buffer holds a block and no growth has failed.
inline bool buf_ok(const buf &b) { return b.data != nullptr && !b.failed; }
