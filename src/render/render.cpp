// The page rendering driver: sizes the raster from the page box, maps user space with the
// page's rotation onto it, runs the page's content through the interpreter and hands back
// RGBA pixels.
#include "render/render.h"

#include <cmath>
#include <cstring>
#include <new>

#include "pdfcore/buf.h"
#include "pdfcore/error.h"
#include "pdfcore/streams.h"
#include "render/interp.h"
#include "render/page_content.h"

namespace {

// The transformation from the page's user space onto the raster: user space is first moved
// so that the box's lower-left corner is the origin, then turned clockwise by the rotation,
// scaled to the resolution and flipped, since device rows grow downwards.
matrix base_matrix(const pageinfo &pg, int rotate, double s, int height) {
  double w = pg.x1 - pg.x0, h = pg.y1 - pg.y0;
  matrix to_origin = {1, 0, 0, 1, -pg.x0, -pg.y0};
  matrix rot = {1, 0, 0, 1, 0, 0};
  if (rotate == 90) rot = {0, -1, 1, 0, 0, w};
  if (rotate == 180) rot = {-1, 0, 0, -1, w, h};
  if (rotate == 270) rot = {0, 1, -1, 0, h, 0};
  matrix scale = {s, 0, 0, s, 0, 0};
  matrix flip = {1, 0, 0, -1, 0, static_cast<double>(height)};
  matrix t, u, ctm;
  mat_mult(&t, &rot, &to_origin);
  mat_mult(&u, &scale, &t);
  mat_mult(&ctm, &flip, &u);
  return ctm;
}

}  // namespace

c_ptr<uint8_t> lsf_render_page(const pdf_doc &doc, int index, int dpi, int *out_width,
                               int *out_height, render_marks *marks, bool stop_when_kept,
                               bool full_images, work_call *call) {
  int count = doc.pages.count();
  if (index < 0 || index >= count) {
    pdfcore_set_error("page %d out of range (1..%d)", index + 1, count);
    return nullptr;
  }
  const pageinfo &pg = doc.pages.items[static_cast<size_t>(index)];
  double s = dpi / 72.0;
  // The raster covers the whole box, wherever its lower-left corner lies.
  long w = std::lround((pg.x1 - pg.x0) * s);
  long h = std::lround((pg.y1 - pg.y0) * s);
  int rotate = pg.rotate;
  if (rotate != 90 && rotate != 180 && rotate != 270) rotate = 0;
  if (rotate == 90 || rotate == 270) std::swap(w, h);
  if (w > k_raster_max_side || h > k_raster_max_side ||
      static_cast<int64_t>(w < 1 ? 1 : w) * (h < 1 ? 1 : h) > k_raster_max_pixels) {
    pdfcore_set_error("page too large at %d dpi (%ldx%ld px)", dpi, w < 1 ? 1L : w,
                      h < 1 ? 1L : h);
    return nullptr;
  }
  int width = static_cast<int>(w < 1 ? 1 : w), height = static_cast<int>(h < 1 ? 1 : h);
  // Making the raster, handing its pixels back and counting them costs a few steps a pixel
  // whatever the page draws: a small file of thousands of huge empty pages pays for them from
  // the call's budget.
  if (call) {
    call->left -= static_cast<int64_t>(width) * height * k_work_raster_pixel;
    if (call->left < 0) {
      pdfcore_set_error("page %d not drawn: the work budget is spent", index + 1);
      return nullptr;
    }
  }
  raster r;
  if (!raster_init(r, width, height)) {
    pdfcore_set_error("out of memory rendering page %d", index + 1);
    return nullptr;
  }
  r.stop_when_kept = stop_when_kept;
  r.full_images = full_images ? 1 : 0;
  r.call = call;

  const pdf_obj *page = obj_find(doc.objs, pg.num);
  if (page) {
    buf content;
    int unreadable = 0;
    if (!page_content_decoded(doc, *page, content, &unreadable)) unreadable = 1;
    r.unreadable |= unreadable;
    // One content run is bounded by the interpreter's 32-bit positions; a page with more is
    // kept rather than judged by part of its content.
    if (content.len > 0x7FFFFFFF) r.unreadable = 1;
    if (buf_ok(content) && content.len > 0 && content.len <= 0x7FFFFFFF &&
        !(stop_when_kept && r.unreadable)) {
      int32_t res_len = 0;
      c_ptr<uint8_t> res = pdfcore_page_resources(doc, index);
      if (res) res_len = static_cast<int32_t>(std::strlen(reinterpret_cast<char *>(res.get())));
      interp_state st;
      interp_state_setup(st, &doc, &r, res.get(), res_len, base_matrix(pg, rotate, s, height));
      interp_execute(&st, content.data, static_cast<int32_t>(content.len));
    }
  }

  uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  c_ptr<uint8_t> rgba(static_cast<uint8_t *>(std::malloc(pixels * 4)));
  if (!rgba) {
    pdfcore_set_error("out of memory compositing page %d", index + 1);
    return nullptr;
  }
  const uint8_t *rgb = r.rgb.get(), *alpha = r.alpha.get();
  uint8_t *o = rgba.get();
  for (uint64_t i = 0; i < pixels; ++i) {
    o[4 * i] = rgb[3 * i];
    o[4 * i + 1] = rgb[3 * i + 1];
    o[4 * i + 2] = rgb[3 * i + 2];
    o[4 * i + 3] = alpha[i];
  }
  if (marks) {
    marks->text_shown = r.text_shown;
    marks->unreadable = r.unreadable;
    marks->shading = r.shading;
  }
  *out_width = width;
  *out_height = height;
  return rgba;
}

void lsf_call_work(const pdf_doc &doc, work_call &call) {
  call.left = k_call_work_base + k_call_work_per_byte * static_cast<int64_t>(doc.len);
  try {
    call.images_seen.assign(static_cast<size_t>(doc.max_num > 0 ? doc.max_num : 0) + 1, 0);
  } catch (const std::bad_alloc &) {
    // Without the table every decode is charged to the call: pages may then be kept for want
    // of budget, never judged on less than they draw.
    call.images_seen.clear();
  }
}
