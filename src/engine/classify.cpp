// The blank decision. It errs towards keeping: a page is blank only when it shows no text,
// everything on it could be read, and its render is light enough.
#include "engine/classify.h"

#include <cstring>

#include "emit/gather.h"
#include "engine/results.h"
#include "pdfcore/annots.h"
#include "render/render.h"

namespace {

// Bytes that may stand directly before an operator. ">" ends a hexadecimal string, which many
// producers write straight before Tj.
bool is_text_delimiter(uint8_t c) {
  switch (c) {
    case 0: case 9: case 10: case 12: case 13: case 32:
    case '%': case '(': case ')': case '/': case '<': case '>':
    case '[': case ']': case '{': case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool content_shows_text(const uint8_t *c, int32_t n) {
  if (!c || n <= 2) return false;
  for (int32_t p = 0; p + 2 < n; ++p) {
    uint8_t b = c[p + 1];
    // The operator's first byte is rarer than a delimiter: test it first.
    if (b != 'T' && b != '\'' && b != '"') continue;
    if (!is_text_delimiter(c[p])) continue;
    if (b == '\'' || b == '"') return true;
    if (c[p + 2] == 'J' || c[p + 2] == 'j') return true;
  }
  return false;
}

double light_share(const uint8_t *rgba, int64_t count, int t) {
  if (count <= 0) return 100.0;
  const uint8_t limit = static_cast<uint8_t>(255 - t);
  int64_t light = 0;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *px = rgba + 4 * i;
    uint8_t m = px[0] < px[1] ? px[0] : px[1];
    if (px[2] < m) m = px[2];
    light += m >= limit;
  }
  return static_cast<double>(light) / static_cast<double>(count) * 100.0;
}

namespace {

// The steps both rules share: text keeps a page unrendered, then the render, then whatever
// could not be read or marks the page; only a page that passes them all is judged on its
// pixels, by the rule's own judgement.
template <class Judge>
page_verdict classify_with(const pdf_doc &doc, int32_t index, int dpi, bool full_render,
                           work_call *call, Judge judge) {
  page_verdict v;
  // Once the call's budget is spent, no page is read any further: each is kept.
  if (call && call->left < 0) {
    v.unread = true;
    return v;
  }
  const pdf_obj *page = obj_find(doc.objs, doc.pages.items[static_cast<size_t>(index)].num);
  int32_t n = 0;
  c_ptr<uint8_t> content = lsf_gather_content(doc, page, &n);
  if (call) call->left -= static_cast<int64_t>(n) * k_work_byte;
  if (content_shows_text(content.get(), n)) {
    v.text = true;
    return v;
  }
  content.reset();
  int width = 0, height = 0;
  render_marks marks;
  c_ptr<uint8_t> rgba = lsf_render_page(doc, index, dpi, &width, &height, &marks, !full_render,
                                         false, call);
  if (!rgba) {
    v.unread = true;
    return v;
  }
  v.rendered = true;
  const bool judged_blank = judge(rgba.get(), width, height, v);
  if (marks.unreadable) {
    v.unread = true;
    return v;
  }
  if (marks.text_shown || marks.shading) {
    v.marked = true;
    return v;
  }
  if (page && !page_visible_annotations(doc, *page).empty()) {
    v.marked = true;
    return v;
  }
  v.blank = judged_blank;
  return v;
}

}  // namespace

page_verdict classify_page(const pdf_doc &doc, int32_t index, int t, bool full_render,
                           work_call *call) {
  return classify_with(doc, index, k_classify_dpi, full_render, call,
                       [t](const uint8_t *rgba, int w, int h, page_verdict &v) {
                         v.light = light_share(rgba, static_cast<int64_t>(w) * h, t);
                         return v.light >= static_cast<double>(t);
                       });
}

page_verdict classify_page_with(const pdf_doc &doc, int32_t index, const detect_options &o,
                                bool full_render, work_call *call) {
  if (o.rule != RULE_SCAN)
    return classify_page(doc, index, clamp_threshold(o.threshold), full_render, call);
  page_verdict v = classify_with(doc, index, k_scan_dpi, full_render, call,
                                 [&o](const uint8_t *rgba, int w, int h, page_verdict &pv) {
                                   scan_figures f = scan_judge(rgba, w, h, k_scan_dpi, o.scan);
                                   pv.paper = f.paper;
                                   pv.ink_mm2 = f.ink_mm2;
                                   return f.blank;
                                 });
  v.scan = true;
  return v;
}

c_ptr<uint8_t> classify_all(const pdf_doc &doc, int t) {
  detect_options o;
  o.threshold = t;
  return classify_all_with(doc, o);
}

c_ptr<uint8_t> classify_all_with(const pdf_doc &doc, const detect_options &o) {
  size_t count = static_cast<size_t>(doc.pages.count());
  c_ptr<uint8_t> verdicts(static_cast<uint8_t *>(std::malloc(count ? count : 1)));
  if (!verdicts) return verdicts;
  std::memset(verdicts.get(), 0, count ? count : 1);
  work_call call;
  lsf_call_work(doc, call);
  for (size_t i = 0; i < count; ++i)
    verdicts.get()[i] =
        classify_page_with(doc, static_cast<int32_t>(i), o, false, &call).blank ? 1 : 0;
  return verdicts;
}
