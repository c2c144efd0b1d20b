// The scan-aware blank judgement of one rendered page: the page's own paper tone is found, marks
// clearly darker than it are traced, dust and scanner artefacts are set aside, and the page is
// blank while the ink that is left stays below a small area. Rendering and the text test are
// left to the caller.
#pragma once

#include <cstdint>

struct scan_params {
  double margin_mm = 20.0;   // outer margin where edge-touching/marginal dark marks are artefacts
  double speck_mm2 = 1.5;    // smallest mark that counts, by the box it spans
  double contrast = 40.0;    // how much darker than paper, in luminance units 0..255
  double max_ink_mm2 = 0.5;  // page is blank while counted ink stays below this
  double faint_mm2 = 20.0;   // faint marks (never below 40 % of paper) count from this much
};

// Fine enough that a 10 pt page number stays a few marks of several pixels each, coarse enough
// that judging costs little beside rendering the scan.
inline constexpr int k_scan_dpi = 75;

struct scan_figures {
  double paper = 0;         // estimated paper luminance 0..255
  double ink_mm2 = 0;       // ink that counts
  bool blank = false;
  int marks = 0;            // marks whose ink counts
  double faint_mm2 = 0;     // ink in faint marks, counted only from faint_mm2 on
  double dust_mm2 = 0;      // ink in marks smaller than a speck
  double artefact_mm2 = 0;  // ink in edge bands, edge lines and punch holes
};

// rgba: width*height*4 bytes (R,G,B,A rows top first, as lsf_render_page gives), rendered at dpi.
// A page that cannot be judged (no pixels, a bad size or resolution, no memory) is not blank.
scan_figures scan_judge(const uint8_t *rgba, int width, int height, int dpi, const scan_params &p);
