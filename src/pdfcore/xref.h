// The cross-reference chain and trailers, read only for the catalog's number and for
// refusing encrypted documents; objects themselves are located by the file scan.
#pragma once

#include <cstdint>

struct xref_info {
  int32_t root = -1;      // object number named by /Root, or -1
  int32_t encrypted = 0;  // some trailer or cross-reference stream dictionary has /Encrypt
};

void parse_xref(const uint8_t *data, int32_t len, xref_info &xi);
void parse_trailer_dict(const uint8_t *data, int32_t len, int32_t pos, xref_info &xi);
// 1 when any trailer dictionary, or any stream dictionary with /Type /XRef, anywhere in the
// file holds /Encrypt: an encrypted file must be refused even when its startxref is broken.
int encrypt_anywhere(const uint8_t *data, int32_t len);
