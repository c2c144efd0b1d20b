// Decoder of zlib-wrapped Deflate streams (RFC 1950 around RFC 1951) into a caller-supplied
// buffer. It allocates nothing and keeps no state between calls apart from its fixed tables.
//
// inflate_decompress(src, src_len, dst, dst_cap, out_len):
//   *out_len is set to 0 on entry.
//   0  : the first *out_len bytes of dst are the decoded data, complete or cut short where the
//        data turned invalid (a damaged stream still yields what came before the damage).
//   -1 : no data (*out_len stays 0): src_len below 2, dst_cap above 2^30, a header with a
//        method other than 8 or with a preset dictionary, input that ends before the last
//        block does, or output that would pass dst_cap. dst may hold bytes written before.
//   The Adler-32 trailer and any bytes after the last block are ignored; so are the header's
//   check bits and window size. dst is never written at or past dst_cap, but bytes past
//   *out_len may be overwritten (copies run ahead in 16-byte pieces where there is room).
#pragma once

#include <cstdint>

inline constexpr uint64_t k_inflate_max_out = 1073741824;  // 2^30

int inflate_decompress(const uint8_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap,
                       uint64_t *out_len);
// The same, and *complete (when given) tells how decoding ended: 1 at the end of the last block,
// 0 when damage cut it short (an intact empty stream is 1, data that yield nothing are 0), and
// k_inflate_output_full on a -1 that a larger buffer would avoid.
inline constexpr int k_inflate_output_full = 2;
int inflate_decompress_ex(const uint8_t *src, uint64_t src_len, uint8_t *dst, uint64_t dst_cap,
                          uint64_t *out_len, int *complete);
