// The byte buffer: growth from a 1 MiB first block by doubling, the NUL behind the content,
// and the sticky failure state that keeps a buffer from silently restarting after a lost block.

#include "pdfcore/buf.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace {

std::string content(const buf &b) {
  return b.data ? std::string(reinterpret_cast<const char *>(b.data), b.len) : std::string();
}

TEST(Buf, ZeroFilledBufferAcceptsAppends) {
  buf b;
  buf_str(b, "abc");
  ASSERT_TRUE(buf_ok(b));
  EXPECT_EQ(b.cap, k_buf_first_block);
  EXPECT_EQ(content(b), "abc");
  EXPECT_EQ(b.data[b.len], 0);

  buf e;
  buf_bytes(e, nullptr, 0);
  ASSERT_TRUE(buf_ok(e));
  EXPECT_EQ(e.len, 0u);
  EXPECT_EQ(e.data[0], 0);
}

TEST(Buf, InitGivesEmptyTerminatedBlock) {
  buf b;
  buf_str(b, "old");
  buf_init(b);
  ASSERT_TRUE(buf_ok(b));
  EXPECT_EQ(b.len, 0u);
  EXPECT_EQ(b.cap, k_buf_first_block);
  EXPECT_EQ(b.data[0], 0);
}

TEST(Buf, IntegersAsDecimalText) {
  buf b;
  for (int32_t v : {0, 7, -1, 2147483647, INT32_MIN}) {
    buf_int(b, v);
    buf_str(b, " ");
  }
  EXPECT_EQ(content(b), "0 7 -1 2147483647 -2147483648 ");
}

// The block doubles only when len + n + 1 exceeds it: the NUL needs its byte too.
TEST(Buf, GrowthDoublesAndKeepsContent) {
  const uint64_t mib = k_buf_first_block;
  struct step {
    uint64_t append;
    uint64_t cap_after;
  };
  const step steps[] = {
      {mib - 1, mib},       // content + NUL fill the first block exactly
      {1, 2 * mib},         // one more byte needs a second MiB
      {mib - 1, 2 * mib},   // fills it again
      {3 * mib, 8 * mib},   // need 5 MiB + 1: two doublings at once
  };
  buf b;
  std::string expect;
  char fill = 'a';
  for (const step &s : steps) {
    std::string chunk(s.append, fill++);
    buf_bytes(b, chunk.data(), chunk.size());
    expect += chunk;
    ASSERT_TRUE(buf_ok(b));
    EXPECT_EQ(b.cap, s.cap_after) << "after appending " << s.append;
    ASSERT_EQ(b.len, expect.size());
    EXPECT_EQ(b.data[b.len], 0);
  }
  EXPECT_TRUE(content(b) == expect);
}

TEST(Buf, FreeThenAppendStartsFreshBlock) {
  buf b;
  std::string big(3 * k_buf_first_block, 'x');
  buf_bytes(b, big.data(), big.size());
  EXPECT_EQ(b.cap, 4 * k_buf_first_block);
  buf_free(b);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.len, 0u);
  EXPECT_EQ(b.cap, 0u);
  buf_str(b, "again");
  ASSERT_TRUE(buf_ok(b));
  EXPECT_EQ(b.cap, k_buf_first_block);
  EXPECT_EQ(content(b), "again");
}

// A writer that appended a header, lost its block and then carried on appending would write
// a file without its header and report success; the failure must stick.
TEST(Buf, FailedGrowthIsSticky) {
  const uint64_t impossible[] = {
      UINT64_MAX,       // len + n + 1 wraps around
      UINT64_MAX - 3,   // wraps only together with the content already held
      1ull << 63,       // no block of that size can exist
  };
  for (uint64_t n : impossible) {
    SCOPED_TRACE(n);
    buf b;
    buf_str(b, "%PDF-1.4\n");
    ASSERT_TRUE(buf_ok(b));
    buf_reserve(b, n);
    EXPECT_FALSE(buf_ok(b));
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);

    buf_str(b, "1 0 obj");
    buf_int(b, 5);
    buf_bytes(b, "x", 1);
    buf_reserve(b, 10);
    EXPECT_FALSE(buf_ok(b));
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);

    buf_free(b);
    EXPECT_FALSE(b.failed);
    buf_str(b, "fresh");
    ASSERT_TRUE(buf_ok(b));
    EXPECT_EQ(b.cap, k_buf_first_block);
    EXPECT_EQ(content(b), "fresh");
  }
}

TEST(Buf, FailedAppendLeavesNothingBehind) {
  buf b;
  buf_bytes(b, "", UINT64_MAX);  // fails on the size alone; the source is never read
  EXPECT_FALSE(buf_ok(b));
  buf_init(b);
  EXPECT_FALSE(b.failed);
  buf_str(b, "ok");
  EXPECT_EQ(content(b), "ok");
}

TEST(Buf, MoveTransfersOwnershipAndState) {
  buf a;
  buf_str(a, "content");
  uint8_t *block = a.data;

  buf b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.len, 0u);
  EXPECT_EQ(a.cap, 0u);
  EXPECT_EQ(b.data, block);
  EXPECT_EQ(content(b), "content");

  buf c;
  buf_str(c, "replaced");  // its block must be released by the assignment
  c = std::move(b);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(c.data, block);
  EXPECT_EQ(content(c), "content");

  buf failed;
  buf_reserve(failed, UINT64_MAX);
  buf d(std::move(failed));
  EXPECT_TRUE(d.failed);
  EXPECT_FALSE(failed.failed);
  buf_str(d, "x");
  EXPECT_FALSE(buf_ok(d));
}

}  // namespace
