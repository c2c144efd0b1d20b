// Collecting and decoding the content streams of a page for rendering and writing.
#include "render/page_content.h"

#include <vector>

#include "pdfcore/lex.h"
#include "render/filters.h"

namespace {

// Reads a run of references "n g R" (or bare numbers) from an array starting after "[".
void read_ref_array(const uint8_t *t, int32_t p, int32_t end, std::vector<int32_t> &nums) {
  while (p < end && t[p] != ']') {
    if (!is_digit(t[p])) {
      ++p;
      continue;
    }
    int32_t num = parse_int_at(t, end, &p);
    p = skip_ws(t, p, end);
    if (p < end && is_digit(t[p])) {
      parse_int_at(t, end, &p);
      p = skip_ws(t, p, end);
    }
    if (p < end && t[p] == 'R') ++p;
    if (num > 0) nums.push_back(num);
  }
}

// The object numbers of the streams the page's /Contents names: one reference, an array of
// them, or a reference to such an array.
std::vector<int32_t> content_refs(const pdf_doc &doc, const pdf_obj &page) {
  std::vector<int32_t> nums;
  const uint8_t *t;
  int32_t n;
  if (!obj_dict_text(doc.data.get(), doc.len, page, &t, &n)) return nums;
  int32_t k = find_name_top(t, n, 0, n, "Contents");
  if (k < 0) return nums;
  int32_t p = skip_ws(t, k + 9, n);
  if (p >= n) return nums;
  if (t[p] == '[') {
    read_ref_array(t, p + 1, n, nums);
  } else if (is_digit(t[p])) {
    int32_t num = parse_int_at(t, n, &p);
    const pdf_obj *target = num > 0 ? obj_find(doc.objs, num) : nullptr;
    if (target && !target->is_stream) {
      // An indirect array of streams: follow it one level.
      const uint8_t *at = nullptr;
      int32_t an = 0, q = 0;
      if (target->in_objstm) {
        at = target->text;
        an = target->text_len;
      } else if (target->head >= 0) {
        at = doc.data.get();
        an = target->obj_end > target->head ? target->obj_end : doc.len;
        q = find_kw(at, an, target->head, "obj");
        q = q < 0 ? an : q + 3;
      }
      if (at) {
        q = skip_ws(at, q, an);
        if (q < an && at[q] == '[') read_ref_array(at, q + 1, an, nums);
      }
    } else if (num > 0) {
      nums.push_back(num);
    }
  }
  return nums;
}

}  // namespace

bool page_content_decoded(const pdf_doc &doc, const pdf_obj &page, buf &out, int *unreadable) {
  std::vector<int32_t> nums = content_refs(doc, page);
  if (nums.empty() && page.is_stream && !page.in_objstm) nums.push_back(page.num);
  bool first = true;
  for (int32_t num : nums) {
    const pdf_obj *s = obj_find(doc.objs, num);
    if (!s) continue;
    int32_t len = 0;
    int status = DECODE_OK;
    c_ptr<uint8_t> bytes = rvx_stream_decode(doc, *s, &len, &status);
    if (status != DECODE_OK && s->is_stream && s->stream_end > s->stream_start) *unreadable = 1;
    if (!bytes || len <= 0) continue;
    if (!first) buf_bytes(out, "\n", 1);
    buf_bytes(out, bytes.get(), static_cast<uint64_t>(len));
    first = false;
    if (out.failed) return false;
  }
  return true;
}
