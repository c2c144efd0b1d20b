// Object streams: every container (/Type /ObjStm) is unpacked into the document's arena and
// each object of its header enters the table, pointing into the unpacked bytes. Which of
// several definitions of a number counts is decided later by the table's final pass.

#include "pdfcore/objstm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "pdfcore/inflate.h"
#include "pdfcore/lex.h"

namespace {

constexpr int64_t k_max_packed_in = 268435456;  // 256 MiB of stored stream data
constexpr uint64_t k_last_retry_size = 268435455;  // a block this size is the last one quadrupled
constexpr int32_t k_max_pairs = 100000;
constexpr int64_t k_max_packed_obj = 1048576;  // 1 MiB per embedded object

uint64_t budget_left(const arena &a) {
  return a.held >= k_objstm_budget ? 0 : k_objstm_budget - a.held;
}

// Hands a block to the arena, which then owns it; null (and the block released) when the
// arena's list cannot grow.
uint8_t *arena_adopt(arena &a, c_ptr<uint8_t> block, uint64_t size) {
  try {
    if (a.blocks.size() == a.blocks.capacity())
      a.blocks.reserve(a.blocks.empty() ? 4 : a.blocks.capacity() * 2);
  } catch (const std::bad_alloc &) {
    return nullptr;
  } catch (const std::length_error &) {
    return nullptr;
  }
  a.blocks.push_back(std::move(block));
  a.held += size;
  return a.blocks.back().get();
}

// The first /name in the dictionary range whose integer value is at least `min`, or -1.
int32_t first_int_value(const uint8_t *data, int32_t len, int32_t dict, int32_t end,
                        const char *name, int32_t min) {
  const int32_t nl = static_cast<int32_t>(std::strlen(name));
  const int32_t lim = std::min(len, end);
  for (int32_t at = find_name(data, len, dict, end, name); at >= 0;
       at = find_name(data, len, at + 1, end, name)) {
    int32_t p = at + 1 + nl;
    int32_t v = parse_int_at(data, lim, &p);
    if (v >= min) return v;
  }
  return -1;
}

// The stream's data as they are meant to be read: Flate-decoded when the dictionary names
// /FlateDecode (other filters and predictors are not applied), else copied as they stand.
// Decoding starts with room for eight times the stored size and quadruples while the output
// does not fit; a failed attempt's block is released at once, as nothing points into it.
c_ptr<uint8_t> unpack(const uint8_t *data, int32_t len, const pdf_obj &obj, int32_t dict_end,
                      const arena &a, uint64_t *out_len) {
  *out_len = 0;
  const uint8_t *src = data + obj.stream_start;
  const uint64_t n = static_cast<uint64_t>(obj.stream_end - obj.stream_start);
  const uint64_t room = budget_left(a);
  c_ptr<uint8_t> block;
  if (find_name(data, len, obj.dict, dict_end, "FlateDecode") < 0) {
    if (n > room) return nullptr;
    block.reset(static_cast<uint8_t *>(std::malloc(n ? n : 1)));
    if (!block) return nullptr;
    if (n) std::memcpy(block.get(), src, n);
    *out_len = n;
    return block;
  }
  uint64_t size = 8 * n + 64;
  uint64_t got = 0;
  for (;;) {
    if (size > room) return nullptr;
    block.reset(static_cast<uint8_t *>(std::malloc(size)));
    if (!block) return nullptr;
    int how = 0;
    if (inflate_decompress_ex(src, n, block.get(), size, &got, &how) == 0) break;
    block.reset();
    // Damaged data fail the same way in any size of buffer.
    if (how != k_inflate_output_full || size > k_last_retry_size) return nullptr;
    size *= 4;
  }
  // Only the decoded bytes are kept; the rest of the generous block goes back.
  if (void *shrunk = std::realloc(block.get(), got ? got : 1)) {
    (void)block.release();
    block.reset(static_cast<uint8_t *>(shrunk));
  }
  *out_len = got;
  return block;
}

}  // namespace

uint8_t *arena_alloc(arena &a, uint64_t size) {
  c_ptr<uint8_t> block(static_cast<uint8_t *>(std::malloc(size ? size : 1)));
  if (!block) return nullptr;
  return arena_adopt(a, std::move(block), size);
}

int extract_objstm(const uint8_t *data, int32_t len, const pdf_obj &obj_in, objvec &objs,
                   arena &a) {
  // A copy: appending to the table may move the entry the caller passed.
  const pdf_obj obj = obj_in;
  if (!data || !obj.is_stream || obj.in_objstm || obj.dict < 0 || obj.dict >= len ||
      obj.stream_start < 0 || obj.stream_end > len)
    return 0;
  const int64_t n = static_cast<int64_t>(obj.stream_end) - obj.stream_start;
  if (n < 0 || n > k_max_packed_in) return 0;
  const int32_t dict_end = obj.stream_kw > 0 ? obj.stream_kw : len;

  uint64_t unpacked_len = 0;
  c_ptr<uint8_t> block = unpack(data, len, obj, dict_end, a, &unpacked_len);
  if (!block) return 0;
  const int32_t ul = static_cast<int32_t>(unpacked_len);  // at most 2^30 bytes
  const uint8_t *u = block.get();

  const int32_t count = first_int_value(data, len, obj.dict, dict_end, "N", 1);
  const int32_t first = first_int_value(data, len, obj.dict, dict_end, "First", 0);
  if (count < 1 || count > k_max_pairs || first < 0 || first > ul) return 0;

  std::vector<int32_t> nums, offs;
  try {
    nums.resize(static_cast<size_t>(count));
    offs.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc &) {
    return 0;
  }
  // One pass over the header: each read moves on from where the last one stopped. A number
  // that is missing or negative means a damaged header, and then nothing of it is trusted.
  int32_t pos = 0;
  for (int32_t k = 0; k < count; ++k) {
    nums[static_cast<size_t>(k)] = read_int_adv(u, ul, &pos);
    if (nums[static_cast<size_t>(k)] < 0) return 0;
    offs[static_cast<size_t>(k)] = read_int_adv(u, ul, &pos);
    if (offs[static_cast<size_t>(k)] < 0) return 0;
  }

  const size_t base = objs.items.size();
  uint64_t charged = 0;
  const uint64_t room = budget_left(a) > unpacked_len ? budget_left(a) - unpacked_len : 0;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t start = static_cast<int64_t>(first) + offs[static_cast<size_t>(k)];
    const int64_t length = k + 1 < count
                               ? static_cast<int64_t>(offs[static_cast<size_t>(k) + 1]) -
                                     offs[static_cast<size_t>(k)]
                               : static_cast<int64_t>(ul) - start;
    if (nums[static_cast<size_t>(k)] < 1 || length < 1 || length > k_max_packed_obj) continue;
    // An object starting outside the unpacked data is skipped; one starting inside but
    // running past the end is cut there, so a damaged last object still shows what it has.
    if (start >= ul) continue;
    const int64_t stop = std::min<int64_t>(start + length, ul);
    if (charged + sizeof(pdf_obj) > room) break;
    pdf_obj e;
    e.num = nums[static_cast<size_t>(k)];
    e.gen = 0;
    e.in_objstm = 1;
    e.text = u + start;
    e.text_len = static_cast<int32_t>(stop - start);
    e.file_pos = obj.head;
    if (!objvec_push(objs, e)) break;
    charged += sizeof(pdf_obj);
  }
  if (objs.items.size() == base) return 0;
  if (!arena_adopt(a, std::move(block), unpacked_len)) {
    objs.items.resize(base);
    return 0;
  }
  a.held += charged;
  return 1;
}

void extract_all_objstm(const uint8_t *data, int32_t len, objvec &objs, arena &a) {
  if (!data) return;
  name_search objstm{"ObjStm"};
  // Entries appended on the way are packed objects and no containers, so the walk covers
  // the table as it stood.
  const size_t n = objs.items.size();
  std::vector<size_t> containers;
  try {
    for (size_t i = 0; i < n; ++i)
      if (obj_is_objstm(data, len, objs.items[i], &objstm)) containers.push_back(i);
  } catch (const std::bad_alloc &) {
    for (size_t i = 0; i < n; ++i)
      if (obj_is_objstm(data, len, objs.items[i], &objstm))
        extract_objstm(data, len, objs.items[i], objs, a);
    return;
  }
  // Several heads may claim one stream keyword (heads whose dictionaries close at the same
  // ">>"); the stream's bytes are unpacked once, for the head standing last.
  std::vector<std::pair<int32_t, int32_t>> claims;  // (stream keyword, head), per container
  try {
    claims.reserve(containers.size());
    for (size_t i : containers) claims.emplace_back(objs.items[i].stream_kw, objs.items[i].head);
  } catch (const std::bad_alloc &) {
    for (size_t i : containers) extract_objstm(data, len, objs.items[i], objs, a);
    return;
  }
  std::sort(claims.begin(), claims.end());
  for (size_t i : containers) {
    const pdf_obj &o = objs.items[i];
    auto it = std::upper_bound(claims.begin(), claims.end(),
                               std::pair<int32_t, int32_t>(o.stream_kw, o.head));
    if (it != claims.end() && it->first == o.stream_kw) continue;  // a later head claims it
    extract_objstm(data, len, o, objs, a);
  }
}
