// The scanline fill rasterizer and the one pixel compositing step. Rows are sampled once along
// their centre line and whole pixels are painted: no anti-aliasing.
#pragma once

#include "render/path.h"
#include "render/raster.h"

struct matrix;

// A path edge cutting a row's centre line; dir is +1 for an edge running towards increasing
// device y. edge orders crossings when one row holds more than the rasterizer keeps.
struct crossing {
  double x;
  int dir;
  int edge;
};

inline constexpr int k_max_crossings = 65536;

// One straight edge in device pixels, from (x0, y0) to (x1, y1).
struct fill_edge {
  double x0, y0, x1, y1;
};

// Fills p under m by the nonzero (nonzero = 1) or even-odd rule. Every subpath left open is
// filled as if a line ran from its last point back to its start.
void raster_fill(raster *r, const path *p, const matrix *m, int nonzero, double red,
                 double green, double blue, double opacity);
// Fills the edges, already in device pixels, within box (the edges' device box, clamped to
// the raster); the edges are taken as a closed outline.
void raster_fill_edges(raster *r, const fill_edge *edges, int n, pix_box box, int nonzero,
                       double red, double green, double blue, double opacity);

// Source-over compositing of one pixel with straight colour; outside the raster nothing.
void blend_px(raster *r, int x, int y, double red, double green, double blue, double a);

int xsec_cmp(const crossing &a, const crossing &b);
