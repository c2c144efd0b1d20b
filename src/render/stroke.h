// Stroking: a band of the line width along every straight piece of a path, painted as a filled
// quadrilateral with a disc at each end, so joins and line ends come out round. Dashes, mitred
// or bevelled joins and other caps are not drawn.
#pragma once

#include "render/path.h"
#include "render/raster.h"

struct matrix;

void raster_stroke(raster *r, const path *p, const matrix *m, double red, double green,
                   double blue, double opacity);
// One straight piece from (x0, y0) to (x1, y1) in user space, line width lw in user units.
void stroke_segment(raster *r, const matrix *m, double x0, double y0, double x1, double y1,
                    double lw, double red, double green, double blue, double opacity);
// A disc in device pixels: pixels whose centre lies within radius of (cx, cy).
void fill_circle_dev(raster *r, double cx, double cy, double radius, double red, double green,
                     double blue, double opacity);
