// Replacing the output file in one step: the bytes go to a temporary file beside it, which is
// renamed over the output path only once it is complete and closed, so a failed write never
// leaves a damaged or half-written file behind.
#pragma once

#include <cstdint>

// 1 when path now holds exactly the n bytes. 0 with the error text set ("cannot write %s",
// "short write to %s", "close error on %s"); path is then untouched and no temporary is left.
int lsf_replace_file(const char *path, const uint8_t *bytes, uint64_t n);
