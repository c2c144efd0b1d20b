// The fill rasterizer: path edges (curves as 16 chords) are cut with each pixel row's centre
// line, the crossings sorted, and spans between them painted whole by the winding rule. Spans
// are held to the path's box and the raster before any pixel is touched, so coordinates far
// off the page cost nothing.

#include "render/fill.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "render/interp.h"

namespace {

// A channel value already scaled to 0..255, truncated to a byte; what lies outside (or is not a
// number) is held to the range before the conversion.
uint8_t to_byte(double v) {
  if (!(v >= 0)) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(static_cast<int>(v));
}

// Crossings of the row being painted, and the sort's second buffer: work storage kept from
// fill to fill, since the rasterizer never runs twice at once.
std::vector<crossing> s_row;
std::vector<crossing> s_sorted;

// Sorts by x. Long rows are sorted by the bytes of x (never negative here, so their bit
// patterns order as the numbers do), least significant first; bytes that all crossings share are
// skipped, which leaves about three passes for coordinates on a page.
void sort_crossings(crossing *xs, int n) {
  auto by_x = [](const crossing &a, const crossing &b) { return xsec_cmp(a, b) < 0; };
  if (n < 256) {
    std::sort(xs, xs + n, by_x);
    return;
  }
  try {
    s_sorted.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    std::sort(xs, xs + n, by_x);
    return;
  }
  auto key = [](const crossing &c) {
    uint64_t k;
    std::memcpy(&k, &c.x, sizeof k);
    return k;
  };
  crossing *src = xs, *dst = s_sorted.data();
  for (int shift = 0; shift < 64; shift += 8) {
    int counts[256] = {};
    for (int i = 0; i < n; i++) counts[(key(src[i]) >> shift) & 0xFF]++;
    if (counts[(key(src[0]) >> shift) & 0xFF] == n) continue;
    int pos = 0;
    for (int &c : counts) {
      int k = c;
      c = pos;
      pos += k;
    }
    for (int i = 0; i < n; i++) dst[counts[(key(src[i]) >> shift) & 0xFF]++] = src[i];
    std::swap(src, dst);
  }
  if (src != xs) std::copy(src, src + n, xs);
}

struct active_edge {
  double x0, y0, x1, y1;
  double ymin, ymax;
  int first_row;  // the first row whose centre line the edge may cross
  int index;      // place in the path's order of edges
  int dir;
};

// The fill's edges in row order, and those crossing the current row.
std::vector<active_edge> s_edges;
std::vector<active_edge> s_active;

// Work storage grown by one huge path is handed back when the fill ends, so that a hostile
// page does not pin it for the rest of the process.
template <class T>
void trim(std::vector<T> &v) {
  if (v.capacity() > (1u << 16)) std::vector<T>().swap(v);
}

struct scratch_trim {
  ~scratch_trim() {
    trim(s_edges);
    trim(s_active);
    trim(s_row);
    trim(s_sorted);
  }
};

int clamp_row(double v, int lo, int hi) {
  if (!(v >= lo)) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}

// Pixels k whose centre the span covers on row y, from floor(xl) to ceil(xr) - 1, held to
// [lo, hi).
void paint_span(raster *r, int y, double xl, double xr, int lo, int hi, double red,
                double green, double blue, double opacity) {
  double fl = std::floor(xl), cr = std::ceil(xr);
  int k0 = fl <= lo ? lo : (fl >= hi ? hi : static_cast<int>(fl));
  int k1 = cr >= hi ? hi : (cr <= lo ? lo : static_cast<int>(cr));
  if (opacity >= 1 && y >= 0 && y < r->height) {
    // Opaque paint leaves nothing of what was below: every pixel becomes the colour's bytes
    // and full alpha, exactly what compositing each pixel would give, written directly.
    k0 = std::max(k0, 0), k1 = std::min(k1, r->width);
    if (k1 <= k0) return;
    const uint8_t c[3] = {to_byte(255 * red), to_byte(255 * green), to_byte(255 * blue)};
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(r->width);
    uint8_t *px = r->rgb.get() + 3 * (row + static_cast<size_t>(k0));
    for (int k = k0; k < k1; k++, px += 3) px[0] = c[0], px[1] = c[1], px[2] = c[2];
    std::memset(r->alpha.get() + row + static_cast<size_t>(k0), 255, static_cast<size_t>(k1 - k0));
    return;
  }
  for (int k = k0; k < k1; k++) blend_px(r, k, y, red, green, blue, opacity);
}

}  // namespace

int xsec_cmp(const crossing &a, const crossing &b) {
  if (a.x > b.x) return 1;
  if (a.x < b.x) return -1;
  return 0;
}

namespace {

double dev_coord(double v) { return std::clamp(finite_or_zero(v), -1e15, 1e15); }

}  // namespace

void blend_px(raster *r, int x, int y, double red, double green, double blue, double a) {
  if (!(a > 0)) return;
  if (a > 1) a = 1;
  if (x < 0 || y < 0 || x >= r->width || y >= r->height) return;
  size_t i = static_cast<size_t>(y) * static_cast<size_t>(r->width) + static_cast<size_t>(x);
  uint8_t *px = r->rgb.get() + 3 * i;
  uint8_t *al = r->alpha.get() + i;
  double da = *al / 255.0;
  double oa = a + (1 - a) * da;
  const double src[3] = {red, green, blue};
  if (oa < 1e-6) {
    for (int c = 0; c < 3; c++) px[c] = to_byte(255 * src[c]);
    *al = 0;
    return;
  }
  for (int c = 0; c < 3; c++)
    px[c] = to_byte((px[c] / 255.0 * da * (1 - a) + src[c] * a) / oa * 255);
  *al = to_byte(255 * oa);
}

void raster_fill_edges(raster *r, const fill_edge *edges, int n, pix_box box, int nonzero,
                       double red, double green, double blue, double opacity) {
  if (!r || r->clip_empty || n <= 0) return;
  // Colours outside 0..1 would not fit a byte.
  red = std::clamp(finite_or_zero(red), 0.0, 1.0);
  green = std::clamp(finite_or_zero(green), 0.0, 1.0);
  blue = std::clamp(finite_or_zero(blue), 0.0, 1.0);
  box.x0 = std::max(box.x0, 0), box.y0 = std::max(box.y0, 0);
  box.x1 = std::min(box.x1, r->width), box.y1 = std::min(box.y1, r->height);
  if (box.x1 <= box.x0 || box.y1 <= box.y0) return;
  const int row0 = std::max(box.y0, r->clip.y0), row1 = std::min(box.y1, r->clip.y1);
  const int lo = std::max(box.x0, r->clip.x0), hi = std::min(box.x1, r->clip.x1);
  if (row1 <= row0 || hi <= lo) return;
  if (!raster_spend(r, static_cast<int64_t>(n) * k_work_edge)) return;

  // Horizontal edges never cross a centre line; the rest are taken in the order of the rows
  // they start on, and kept while their rows last.
  scratch_trim trim_at_end;
  std::vector<active_edge> &all = s_edges;
  std::vector<active_edge> &active = s_active;
  all.clear();
  active.clear();
  try {
    all.reserve(static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    return;
  }
  for (int i = 0; i < n; i++) {
    const fill_edge e = {dev_coord(edges[i].x0), dev_coord(edges[i].y0), dev_coord(edges[i].x1),
                         dev_coord(edges[i].y1)};
    if (e.y0 == e.y1) continue;
    active_edge a;
    a.x0 = e.x0, a.y0 = e.y0, a.x1 = e.x1, a.y1 = e.y1;
    a.ymin = std::min(e.y0, e.y1), a.ymax = std::max(e.y0, e.y1);
    // Row y is crossed when ymin <= y + 0.5 < ymax.
    int first = clamp_row(std::ceil(a.ymin - 0.5), row0 - 1, row1);
    if (first >= row1 || a.ymax <= row0 + 0.5) continue;
    a.first_row = std::max(first, row0);
    a.index = i;
    a.dir = e.y0 < e.y1 ? 1 : -1;
    all.push_back(a);
  }
  if (all.empty()) return;
  std::stable_sort(all.begin(), all.end(), [](const active_edge &a, const active_edge &b) {
    return a.first_row < b.first_row;
  });

  // Crossings are held within [max(0, box.x0 - 1), box.x1 + 1]: a span that ends at or left
  // of 0 paints no pixel either way.
  const double x_low = std::max(0.0, box.x0 - 1.0), x_high = box.x1 + 1.0;
  size_t next = 0;
  for (int y = all[next].first_row; y < row1; y++) {
    if (active.empty() && next < all.size() && all[next].first_row > y) y = all[next].first_row;
    if (active.empty() && next >= all.size()) break;
    const double yc = y + 0.5;
    // A row costs its active edges and at most its span of pixels.
    if (!raster_spend(r, static_cast<int64_t>(active.size()) * k_work_edge +
                               static_cast<int64_t>(hi - lo) * (opacity >= 1 ? k_work_opaque_pixel : k_work_pixel)))
      return;
    while (next < all.size() && all[next].first_row <= y) {
      try {
        active.push_back(all[next]);
      } catch (const std::bad_alloc &) {
      }
      next++;
    }
    s_row.clear();
    size_t keep = 0;
    try {
      for (size_t i = 0; i < active.size(); i++) {
        const active_edge &a = active[i];
        if (!(yc < a.ymax)) continue;
        active[keep++] = a;
        if (!(a.ymin <= yc)) continue;
        double x = a.x0 + (a.x1 - a.x0) * (yc - a.y0) / (a.y1 - a.y0);
        // Crossings beyond the box paint nothing and keep their order among themselves, so
        // they may be held just outside it; that keeps every sort key
        // non-negative.
        x = std::clamp(x, x_low, x_high) + 0.0;  // + 0.0 turns -0 into 0
        s_row.push_back(crossing{x, a.dir, a.index});
      }
    } catch (const std::bad_alloc &) {
    }
    active.resize(keep);
    if (s_row.size() > static_cast<size_t>(k_max_crossings)) {
      // The crossings kept are those of the path's first edges, whatever the order the edges
      // became active in.
      std::nth_element(s_row.begin(), s_row.begin() + (k_max_crossings - 1), s_row.end(),
                       [](const crossing &a, const crossing &b) { return a.edge < b.edge; });
      s_row.resize(k_max_crossings);
    }
    const int count = static_cast<int>(s_row.size());
    if (count == 0) continue;
    crossing *xs = s_row.data();
    sort_crossings(xs, count);
    if (nonzero) {
      int w = 0;
      bool inside = false;
      double start = 0;
      for (int i = 0; i < count; i++) {
        w += xs[i].dir;
        if (!inside && w != 0) {
          inside = true;
          start = xs[i].x;
        } else if (inside && w == 0) {
          paint_span(r, y, start, xs[i].x, lo, hi, red, green, blue, opacity);
          inside = false;
        }
      }
      if (inside) paint_span(r, y, start, box.x1, lo, hi, red, green, blue, opacity);
    } else {
      for (int i = 0; i + 1 < count; i += 2)
        paint_span(r, y, xs[i].x, xs[i + 1].x, lo, hi, red, green, blue, opacity);
    }
  }
}

void raster_fill(raster *r, const path *p, const matrix *m, int nonzero, double red,
                 double green, double blue, double opacity) {
  if (!r || !p || !m || r->clip_empty || p->count <= 0) return;
  pix_box box;
  path_bbox_dev(r, p, m, &box);
  if (box.x1 <= box.x0 || box.y1 <= box.y0) return;
  std::vector<fill_edge> edges;
  const path_seg *segs = p->segs.get();
  try {
    edges.reserve(static_cast<size_t>(p->count) + 16);
    path_pt first{}, last{};  // device start and end of the subpath being walked
    bool open = false;
    auto close_subpath = [&]() {
      if (open && (last.x != first.x || last.y != first.y))
        edges.push_back(fill_edge{last.x, last.y, first.x, first.y});
      open = false;
    };
    for (int i = 0; i < p->count; i++) {
      const path_seg &s = segs[i];
      if (s.starts_subpath) close_subpath();
      path_pt a = path_dev_point(m, s.p0.x, s.p0.y);
      if (!open) {
        first = a;
        open = true;
      }
      if (s.kind == SEG_CUBIC) {
        path_pt pts[k_curve_chords + 1];
        path_curve_points(s, pts);
        path_pt prev = path_dev_point(m, pts[0].x, pts[0].y);
        for (int k = 1; k <= k_curve_chords; k++) {
          path_pt d = path_dev_point(m, pts[k].x, pts[k].y);
          edges.push_back(fill_edge{prev.x, prev.y, d.x, d.y});
          prev = d;
        }
        last = prev;
      } else {
        path_pt b = path_dev_point(m, s.p3.x, s.p3.y);
        edges.push_back(fill_edge{a.x, a.y, b.x, b.y});
        last = b;
      }
    }
    close_subpath();
  } catch (const std::bad_alloc &) {
    return;
  }
  if (edges.size() > 0x7FFFFFFF) return;
  raster_fill_edges(r, edges.data(), static_cast<int>(edges.size()), box, nonzero, red, green,
                    blue, opacity);
}
