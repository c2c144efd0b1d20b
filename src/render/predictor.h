// Predictors of the Flate and LZW filters: the TIFF predictor (2), which stores each sample as
// its difference from the sample to its left, and the PNG row filters (10 to 15), where each
// row starts with a byte naming its filter.
#pragma once

#include <cstdint>

#include "pdfcore/mem.h"

// The /DecodeParms entries that shape the rows, with the format's defaults.
struct predictor_params {
  int predictor = 1;  // 1 none, 2 TIFF, 10 to 15 PNG (the row's own byte decides)
  int colors = 1;
  int bits_per_component = 8;
  int columns = 1;
};

// True when the parameters describe rows this library can undo (predictor 1, 2 or 10 to 15;
// 1 to 32 colours; 1, 2, 4, 8 or 16 bits; at least one column).
bool predictor_supported(const predictor_params &p);

// The rows of src[0..n-1] with the predictor undone: never longer than the input. A last row
// that is cut short is undone as far as it goes; a PNG row naming an unknown filter ends the
// data there. *complete (when given) is 1 when every row was whole and known. Null when the
// parameters are not supported or memory runs out; an empty result is a valid block.
c_ptr<uint8_t> predictor_undo(const uint8_t *src, int32_t n, const predictor_params &p,
                              int32_t *out_len, int *complete);
