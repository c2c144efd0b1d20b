// JPEG decoder used for DCTDecode image data: a sequential frame's one Huffman-coded scan goes
// straight into a sample plane per component; a progressive frame's scans are gathered as
// coefficients first. Both share the double-precision inverse DCT and the conversion to RGBA.
// What a failure means for the page is left to image decoding.
#include "render/jpeg.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "pdfcore/mem.h"

namespace {

// Natural (row-major) position of the i-th coefficient in coded order (ITU T.81, figure A.6).
const uint8_t ZZ[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                        12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                        35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                        58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Process-wide state: the inverse DCT basis (filled once), and the failure message text.
double s_costab[8][8];  // [u][x] = 0.5 * C(u) * cos((2x + 1) * u * pi / 16)
bool s_costab_ready = false;
char s_message[256];

constexpr int k_status_reading = 0;
constexpr int k_status_stopped = 1;  // end of data or an invalid code
constexpr int k_status_marker = 2;   // 0xFF followed by a marker code inside the data
constexpr int k_fast_bits = 9;       // codes this short are found with one table look

// Codes are looked up by their numeric value: canonical codes of different lengths never share
// a value, and maxcode tells at which length a value is complete.
struct huff_table {
  int32_t lookup[65536];  // symbol, or -1 where no code ends
  int32_t maxcode[17];    // largest code value of each length, -1 where a length has none
  int16_t fast[1 << k_fast_bits];  // length << 8 | symbol for short codes, 0 otherwise
  bool defined;
};

struct quant_table {
  int32_t q[64];  // natural order
  bool defined;
};

// Each component carries its own tables so that decoding a block touches only its record.
struct component {
  uint8_t id;
  int h, v, tq;
  bool in_scan;
  int32_t pred;
  int32_t quant[64];
  huff_table dc, ac;
  uint64_t pw, ph;  // plane width and height
  uint8_t *plane;   // owned by the caller's c_ptr array
  // Progressive frames: coefficients in natural order, 64 per block, rows of bw blocks; bw * bh
  // covers the padding to whole MCUs, cbw * cbh the blocks that hold samples of the image (the
  // blocks a scan of this component alone goes through).
  int16_t *coef;  // owned by the caller's c_ptr array
  uint64_t bw, bh, cbw, cbh;
  bool quant_set;  // the quantization table is taken when the component's first scan begins
};

// Bytes are taken ahead into an accumulator, but never a 0xFF: a stuffed byte or a marker is
// only met one bit at a time with the accumulator empty, so every byte still whole in it is one
// input byte and the reading position is recovered exactly from the count of bits held.
struct bit_reader {
  const uint8_t *data;
  uint64_t length;
  uint64_t fetch;  // next byte to take into acc
  uint64_t acc;    // the low nbits bits are unread, most significant first
  int nbits;
  int status;

  uint64_t position() const { return fetch - uint64_t(nbits / 8); }

  void restart_at(uint64_t pos) {
    fetch = pos;
    nbits = 0;
  }

  void fill() {
    while (nbits <= 56 && fetch < length && data[fetch] != 0xFF) {
      acc = (acc << 8) | data[fetch++];
      nbits += 8;
    }
  }

  // A stuffed 0xFF 0x00 is one data byte 0xFF; any other byte after 0xFF is a marker, where
  // reading halts on the marker code until the caller clears the status.
  int bit() {
    if (nbits == 0) {
      if (status != k_status_reading) return 0;
      if (fetch >= length) {
        status = k_status_stopped;
        return 0;
      }
      uint8_t b = data[fetch];
      if (b == 0xFF) {
        if (fetch + 1 >= length) {
          status = k_status_stopped;
          return 0;
        }
        if (data[fetch + 1] != 0x00) {
          status = k_status_marker;
          fetch += 1;
          return 0;
        }
        fetch += 2;
      } else {
        fetch += 1;
      }
      acc = b;
      nbits = 8;
    }
    --nbits;
    return int((acc >> nbits) & 1);
  }

  int32_t bits(int n) {
    if (nbits < n && status == k_status_reading) fill();
    if (nbits >= n) {
      nbits -= n;
      return int32_t((acc >> nbits) & ((uint64_t(1) << n) - 1));
    }
    int32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }

  // A magnitude category s and its s bits give the signed value (ITU T.81, F.2.2.1 EXTEND).
  int32_t receive_extend(int s) {
    int32_t v = bits(s);
    if (v >= (int32_t(1) << (s - 1))) return v;
    return v - (int32_t(1) << s) + 1;
  }

  int32_t decode(const huff_table &t) {
    if (status == k_status_reading) {
      if (nbits < k_fast_bits) fill();
      if (nbits >= k_fast_bits) {
        int e = t.fast[(acc >> (nbits - k_fast_bits)) & ((1 << k_fast_bits) - 1)];
        if (e != 0) {
          nbits -= e >> 8;
          return e & 255;
        }
      }
    }
    int32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
      code = (code << 1) | bit();
      if (status != k_status_reading) return 0;
      if (code <= t.maxcode[len]) {
        int32_t sym = t.lookup[code];
        if (sym < 0) status = k_status_stopped;
        return sym;
      }
    }
    status = k_status_stopped;
    return 0;
  }
};

// The answer of the bit-at-a-time search for every pattern of the first k_fast_bits bits,
// where that search ends within them on a symbol; 0 where it reads further or fails.
void build_fast(huff_table &t) {
  for (int p = 0; p < (1 << k_fast_bits); ++p) {
    t.fast[p] = 0;
    for (int len = 1; len <= k_fast_bits; ++len) {
      int32_t code = p >> (k_fast_bits - len);
      if (code <= t.maxcode[len]) {
        if (t.lookup[code] >= 0) t.fast[p] = int16_t(len << 8 | t.lookup[code]);
        break;
      }
    }
  }
}

uint8_t *fail(const char *text, const char **message) {
  std::snprintf(s_message, sizeof s_message, "%s", text);
  *message = s_message;
  return nullptr;
}

void build_costab() {
  const double pi = 3.14159265358979323846;
  for (int u = 0; u < 8; ++u) {
    double cu = u == 0 ? 0.7071067811865476 : 1.0;
    for (int x = 0; x < 8; ++x) s_costab[u][x] = 0.5 * cu * std::cos((2 * x + 1) * u * pi * 0.0625);
  }
  s_costab_ready = true;
}

uint8_t clamp_sample(double p) {
  if (p < 0) return 0;
  if (p > 255) return 255;
  return uint8_t(int(p + 0.5));  // truncation is the floor here: p + 0.5 is positive
}

// The separable product t = C^T c (rows), p = C^T t (columns), plus 128. Zero terms are skipped:
// adding an exact zero leaves every sum unchanged, so the samples are those of the full product.
// A block with only its DC term is one value, as every basis entry of u = 0 is the same number.
// rows: bit r set when row r of c may hold a nonzero value; any_ac: some term besides c[0] may.
void inverse_dct(const double *c, unsigned rows, bool any_ac, uint8_t *out, uint64_t stride) {
  if (!any_ac) {
    double t = 0.0;
    if (c[0] != 0) t += s_costab[0][0] * c[0];
    double p = 0.0;
    if (t != 0) p += s_costab[0][0] * t;
    uint8_t s = clamp_sample(p + 128);
    for (int y = 0; y < 8; ++y) std::memset(out + y * stride, s, 8);
    return;
  }
  double t[8][8];
  bool row_used[8];
  for (int r = 0; r < 8; ++r) {
    const double *cr = c + r * 8;
    row_used[r] = false;
    if (!(rows >> r & 1)) continue;
    for (int x = 0; x < 8; ++x) t[r][x] = 0.0;
    for (int u = 0; u < 8; ++u) {
      if (cr[u] == 0) continue;
      row_used[r] = true;
      for (int x = 0; x < 8; ++x) t[r][x] += s_costab[u][x] * cr[u];
    }
  }
  for (int y = 0; y < 8; ++y) {
    double p[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int r = 0; r < 8; ++r) {
      if (!row_used[r]) continue;
      double k = s_costab[r][y];
      for (int x = 0; x < 8; ++x) p[x] += k * t[r][x];
    }
    uint8_t *o = out + y * stride;
    for (int x = 0; x < 8; ++x) o[x] = clamp_sample(p[x] + 128);
  }
}

enum class block_end { done, skip_row, stop };

// One 8x8 block of one component. A marker met while the DC symbol is read leaves the block
// unwritten; met later, it ends the block as an end-of-block code would.
block_end decode_block(bit_reader &br, component &cp, uint64_t px, uint64_t py) {
  // Coefficients are dequantized as they are read; positions never read stay exact zeros.
  double c[64] = {0};
  unsigned rows = 1;
  bool any_ac = false;
  int32_t s = br.decode(cp.dc);
  if (br.status == k_status_marker) {
    br.status = k_status_reading;
    return block_end::skip_row;
  }
  if (br.status == k_status_stopped) return block_end::stop;
  // Baseline DC differences need at most 11 bits; a longer category cannot be read into a
  // 32-bit value and can only come from a damaged table.
  if (s > 16) return block_end::stop;
  if (s > 0) {
    int32_t diff = br.receive_extend(s);
    cp.pred = int32_t(uint32_t(cp.pred) + uint32_t(diff));
  }
  c[0] = double(int64_t(cp.pred) * cp.quant[0]);
  bool stop = false;
  int k = 1;
  while (k < 64) {
    if (br.status != k_status_reading) break;
    int32_t rs = br.decode(cp.ac);
    if (br.status != k_status_reading || rs == 0) break;
    int r = rs >> 4;
    int sz = rs & 15;
    k += (r == 15 && sz == 0) ? 16 : r;
    if (k > 63) {
      stop = true;
      break;
    }
    if (sz > 0) {
      int z = ZZ[k];
      c[z] = double(int64_t(br.receive_extend(sz)) * cp.quant[z]);
      rows |= 1u << (z >> 3);
      any_ac = true;
      ++k;
    }
  }
  if (br.status == k_status_marker) br.status = k_status_reading;
  if (br.status == k_status_stopped) stop = true;

  inverse_dct(c, rows, any_ac, cp.plane + py * cp.pw + px, cp.pw);
  return stop ? block_end::stop : block_end::done;
}

// Returns true when every MCU was decoded; false when decoding stopped early.
bool decode_scan(bit_reader &br, component *comps, int nf, uint64_t mcus_x, uint64_t mcus_y,
                 uint32_t ri) {
  uint64_t total = mcus_x * mcus_y;
  uint64_t n = 0;
  for (uint64_t my = 0; my < mcus_y; ++my) {
    for (uint64_t mx = 0; mx < mcus_x; ++mx) {
      for (int ci = 0; ci < nf; ++ci) {
        component &cp = comps[ci];
        for (int by = 0; by < cp.v; ++by) {
          for (int bx = 0; bx < cp.h; ++bx) {
            uint64_t px = (mx * cp.h + bx) * 8;
            uint64_t py = (my * cp.v + by) * 8;
            block_end e = decode_block(br, cp, px, py);
            if (e == block_end::stop) return false;
            if (e == block_end::skip_row) break;
          }
        }
      }
      ++n;
      // Restart markers carry no sequence check; the one after the last MCU is never needed
      // (an encoder puts the end of image there).
      if (ri > 0 && n % ri == 0 && n < total) {
        uint64_t p = br.position();
        if (p + 1 >= br.length || br.data[p] != 0xFF || br.data[p + 1] < 0xD0 ||
            br.data[p + 1] > 0xD7)
          return false;
        br.restart_at(p + 2);
        for (int ci = 0; ci < nf; ++ci) comps[ci].pred = 0;
      }
    }
  }
  return true;
}

// ---- Progressive frames ----

// Scans may visit each coefficient of the frame this many times on average. A file that codes
// every coefficient once per bit position (a first scan and 13 refinements) stays below it;
// more scans could only repeat work, and on a large frame they would take without end.
constexpr uint64_t k_scan_passes = 16;

// One scan of a progressive frame: its components in header order with their tables, the band
// Ss..Se of coded-order positions, and the bit positions Ah (already sent) and Al (this scan).
struct prog_scan {
  int ns;
  component *comp[4];
  const huff_table *dc[4], *ac[4];
  int ss, se, ah, al;
};

// A value sent at bit position al stands for value * 2^al. A damaged stream can make any
// value; it is kept modulo 2^16 rather than overflowing.
int16_t scaled(int32_t v, int al) { return int16_t(uint16_t(uint32_t(v) << al)); }

// A correction bit adds the magnitude bit p1 to a coefficient that is already nonzero.
void refine(bit_reader &br, int16_t &c, int32_t p1) {
  if (br.bit() && (c & p1) == 0) c = int16_t(uint16_t(c >= 0 ? c + p1 : c - p1));
}

// One block of one scan; false when the data stop inside it. eobrun counts the blocks after
// this one that an end-of-band run still covers.
bool decode_prog_block(bit_reader &br, const prog_scan &sc, int i, int16_t *blk,
                       uint32_t &eobrun) {
  const int32_t p1 = int32_t(1) << sc.al;
  if (sc.ss == 0) {
    if (sc.ah != 0) {
      if (br.bit()) blk[0] = int16_t(uint16_t(blk[0] | p1));
      return br.status == k_status_reading;
    }
    component &cp = *sc.comp[i];
    int32_t s = br.decode(*sc.dc[i]);
    if (br.status != k_status_reading) return false;
    if (s > 16) {
      br.status = k_status_stopped;
      return false;
    }
    if (s > 0) cp.pred = int32_t(uint32_t(cp.pred) + uint32_t(br.receive_extend(s)));
    blk[0] = scaled(cp.pred, sc.al);
    return br.status == k_status_reading;
  }
  const huff_table &t = *sc.ac[i];
  if (sc.ah == 0) {
    if (eobrun > 0) {
      --eobrun;
      return true;
    }
    for (int k = sc.ss; k <= sc.se;) {
      int32_t rs = br.decode(t);
      if (br.status != k_status_reading) return false;
      int r = rs >> 4, s = rs & 15;
      if (s == 0) {
        if (r < 15) {
          // EOBr: this block and 2^r - 1 + (r more bits) blocks after it end their band here.
          eobrun = (uint32_t(1) << r) - 1;
          if (r > 0) eobrun += uint32_t(br.bits(r));
          break;
        }
        k += 16;
        continue;
      }
      k += r;
      if (k > sc.se) {
        br.status = k_status_stopped;
        return false;
      }
      blk[ZZ[k]] = scaled(br.receive_extend(s), sc.al);
      ++k;
    }
    return br.status == k_status_reading;
  }
  // Refinement: a run counts only positions still zero; every nonzero one passed on the way
  // takes a correction bit, and so does each nonzero one left in a band an end-of-band closes.
  int k = sc.ss;
  if (eobrun == 0) {
    for (; k <= sc.se; ++k) {
      int32_t rs = br.decode(t);
      if (br.status != k_status_reading) return false;
      int r = rs >> 4, s = rs & 15;
      int32_t v = 0;
      if (s != 0) {
        v = br.bit() ? p1 : -p1;  // a newly nonzero value is always of magnitude 1 here
      } else if (r != 15) {
        eobrun = uint32_t(1) << r;
        if (r > 0) eobrun += uint32_t(br.bits(r));
        break;
      }
      for (; k <= sc.se; ++k) {
        int16_t &c = blk[ZZ[k]];
        if (c != 0) {
          refine(br, c, p1);
        } else {
          if (r == 0) {
            if (v != 0) c = int16_t(v);
            break;
          }
          --r;
        }
      }
    }
  }
  if (eobrun > 0) {
    for (; k <= sc.se; ++k)
      if (blk[ZZ[k]] != 0) refine(br, blk[ZZ[k]], p1);
    --eobrun;
  }
  return br.status == k_status_reading;
}

// The blocks of one scan in its order: a component alone goes through the blocks that hold its
// samples row by row; several go MCU by MCU, padding blocks included. True when every block was
// read.
bool decode_prog_scan(bit_reader &br, const prog_scan &sc, uint64_t mcus_x, uint64_t mcus_y,
                      uint32_t ri) {
  uint32_t eobrun = 0;
  for (int i = 0; i < sc.ns; ++i) sc.comp[i]->pred = 0;
  uint64_t n = 0;
  auto next_unit = [&](uint64_t total) {
    ++n;
    if (ri == 0 || n % ri != 0 || n >= total) return true;
    uint64_t p = br.position();
    if (p + 1 >= br.length || br.data[p] != 0xFF || br.data[p + 1] < 0xD0 ||
        br.data[p + 1] > 0xD7)
      return false;
    br.restart_at(p + 2);
    eobrun = 0;  // a run never crosses a restart
    for (int i = 0; i < sc.ns; ++i) sc.comp[i]->pred = 0;
    return true;
  };
  if (sc.ns == 1) {
    component &cp = *sc.comp[0];
    const uint64_t total = cp.cbw * cp.cbh;
    for (uint64_t by = 0; by < cp.cbh; ++by) {
      for (uint64_t bx = 0; bx < cp.cbw; ++bx) {
        if (!decode_prog_block(br, sc, 0, cp.coef + (by * cp.bw + bx) * 64, eobrun)) return false;
        if (!next_unit(total)) return false;
      }
    }
    return true;
  }
  const uint64_t total = mcus_x * mcus_y;
  for (uint64_t my = 0; my < mcus_y; ++my) {
    for (uint64_t mx = 0; mx < mcus_x; ++mx) {
      for (int i = 0; i < sc.ns; ++i) {
        component &cp = *sc.comp[i];
        for (int by = 0; by < cp.v; ++by) {
          for (int bx = 0; bx < cp.h; ++bx) {
            uint64_t b = (my * cp.v + by) * cp.bw + mx * cp.h + bx;
            if (!decode_prog_block(br, sc, i, cp.coef + b * 64, eobrun)) return false;
          }
        }
      }
      if (!next_unit(total)) return false;
    }
  }
  return true;
}

// Coefficient positions a scan visits, for the frame's budget of k_scan_passes.
uint64_t scan_cost(const prog_scan &sc, uint64_t mcus_x, uint64_t mcus_y) {
  if (sc.ns == 1) return sc.comp[0]->cbw * sc.comp[0]->cbh * uint64_t(sc.se - sc.ss + 1);
  uint64_t per_mcu = 0;
  for (int i = 0; i < sc.ns; ++i) per_mcu += uint64_t(sc.comp[i]->h) * sc.comp[i]->v;
  return mcus_x * mcus_y * per_mcu;
}

// Where the segments after a complete scan begin: the first marker past its data other than a
// restart (one may stand after the last MCU), or the end of the data.
uint64_t next_marker(const uint8_t *data, uint64_t length, uint64_t p) {
  for (; p + 1 < length; ++p) {
    if (data[p] != 0xFF) continue;
    uint8_t c = data[p + 1];
    if (c != 0x00 && (c < 0xD0 || c > 0xD7)) return p;
  }
  return length;
}

// A scan that stops early still counts when it stops right before the end of image, as a
// sequential scan does.
bool stopped_at_eoi(const bit_reader &br) {
  uint64_t at = br.status == k_status_marker ? br.fetch - 1 : br.position();
  return at + 1 < br.length && br.data[at] == 0xFF && br.data[at + 1] == 0xD9;
}

// Every block of a progressive frame, dequantized, through the inverse DCT sequential scans
// use; the rows it may skip are those whose coefficients are all zero.
void output_blocks(const component &cp) {
  for (uint64_t by = 0; by < cp.bh; ++by) {
    for (uint64_t bx = 0; bx < cp.bw; ++bx) {
      const int16_t *k = cp.coef + (by * cp.bw + bx) * 64;
      double c[64];
      unsigned rows = 1;
      bool any_ac = false;
      for (int z = 0; z < 64; ++z) {
        c[z] = 0.0;
        if (z == 0) {
          c[0] = double(int64_t(k[0]) * cp.quant[0]);
        } else if (k[z] != 0) {
          c[z] = double(int64_t(k[z]) * cp.quant[z]);
          rows |= 1u << (z >> 3);
          any_ac = true;
        }
      }
      inverse_dct(c, rows, any_ac, cp.plane + by * 8 * cp.pw + bx * 8, cp.pw);
    }
  }
}

// MCU counts and, per component, plane and block extents of the frame.
void frame_geometry(component *cs, int nf, uint32_t X, uint32_t Y, uint64_t *mcus_x,
                    uint64_t *mcus_y) {
  int hmax = 1, vmax = 1;
  for (int i = 0; i < nf; ++i) {
    if (cs[i].h > hmax) hmax = cs[i].h;
    if (cs[i].v > vmax) vmax = cs[i].v;
  }
  *mcus_x = (uint64_t(X) + 8 * hmax - 1) / (8 * hmax);
  *mcus_y = (uint64_t(Y) + 8 * vmax - 1) / (8 * vmax);
  for (int i = 0; i < nf; ++i) {
    component &cp = cs[i];
    cp.pw = uint64_t(cp.h) * *mcus_x * 8;
    cp.ph = uint64_t(cp.v) * *mcus_y * 8;
    cp.bw = cp.pw / 8;
    cp.bh = cp.ph / 8;
    // A component's samples span ceil(X * h / hmax) columns and ceil(Y * v / vmax) rows.
    cp.cbw = ((uint64_t(X) * cp.h + hmax - 1) / hmax + 7) / 8;
    cp.cbh = ((uint64_t(Y) * cp.v + vmax - 1) / vmax + 7) / 8;
  }
}

uint8_t clamp_int(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// a * b / 255 rounded, for ink coverage products of two 8-bit values.
uint8_t mul255(int a, int b) { return uint8_t((a * b + 127) / 255); }

// What the markers before and between scans have set up.
struct parser {
  const uint8_t *data;
  uint64_t length;
  component *cs;
  huff_table *dc_tabs, *ac_tabs;
  quant_table quant[4];
  bool frame_read;
  bool progressive;  // the frame header was SOF2
  bool frame_fixed;  // a progressive frame's coefficients exist: its header may not change
  uint32_t X, Y;
  int nf;
  uint32_t ri;
  bool adobe;
  int transform;
  prog_scan scan;  // the last progressive scan header
};

enum class event { segment, standalone, scan };

// Reads the marker or segment at *pos and moves *pos past it (after a scan header, to the
// scan's first data byte). Returns null, or the failure message.
const char *read_segment(parser &ps, uint64_t *pos_io, event *ev, uint8_t *marker) {
  const uint8_t *data = ps.data;
  const uint64_t length = ps.length;
  component *comps = ps.cs;
  uint64_t pos = *pos_io;
  *ev = event::segment;
  if (pos > length || length - pos < 4) return "jpeg: no scan data";
  if (data[pos] != 0xFF) return "jpeg: corrupt stream";
  while (pos < length && data[pos] == 0xFF) ++pos;
  if (pos >= length) return "jpeg: no scan data";
  uint8_t code = data[pos];
  *marker = code;
  if (code == 0x00) {
    *pos_io = pos;  // read again, where no marker begins
    return nullptr;
  }
  if (code == 0x01 || (code >= 0xD0 && code <= 0xD9)) {
    *ev = event::standalone;
    *pos_io = pos + 1;
    return nullptr;
  }
  uint64_t mark = pos - 1;
  if (length - mark < 4) return "jpeg: no scan data";
  uint32_t seg_len = (uint32_t(data[pos + 1]) << 8) | data[pos + 2];
  if (seg_len < 2) return "jpeg: bad segment length";
  uint64_t seg_end = pos + 1 + seg_len;
  if (seg_end > length) return "jpeg: truncated segment";
  const uint8_t *p = data + pos + 3;
  uint64_t plen = seg_len - 2;

  if (code == 0xC0 || code == 0xC2) {
    if (ps.frame_fixed) return "jpeg: bad SOF";
    if (plen <= 6) return "jpeg: bad SOF";
    if (p[0] != 8) return "jpeg: only 8-bit samples supported";
    ps.Y = (uint32_t(p[1]) << 8) | p[2];
    ps.X = (uint32_t(p[3]) << 8) | p[4];
    ps.nf = p[5];
    if (ps.nf < 1 || ps.nf > 4 || ps.X == 0 || ps.Y == 0 ||
        uint64_t(ps.X) * ps.Y > k_jpeg_max_pixels)
      return "jpeg: unsupported SOF";
    // Every 8 x 8 block of the fullest component takes at least one bit of entropy-coded
    // data, so a frame larger than its data could code is not decoded: a header of a few
    // bytes must not claim planes of a gigabyte.
    if (uint64_t(ps.X) * ps.Y > k_jpeg_pixels_per_byte * length + k_jpeg_free_pixels)
      return "jpeg: frame larger than its data";
    if (6 + 3 * uint64_t(ps.nf) > plen) return "jpeg: bad SOF";
    for (int i = 0; i < ps.nf; ++i) {
      const uint8_t *s = p + 6 + 3 * i;
      component &cp = comps[i];
      cp.id = s[0];
      cp.h = s[1] >> 4;
      cp.v = s[1] & 15;
      cp.tq = s[2];
      if (cp.h == 0 || cp.v == 0 || cp.tq > 3) return "jpeg: bad component spec";
    }
    ps.frame_read = true;
    ps.progressive = code == 0xC2;
  } else if (code == 0xDB) {
    uint64_t q = 0;
    while (q < plen) {
      int pq = p[q] >> 4;
      int tq = p[q] & 15;
      if (tq & 0x0C) return "jpeg: bad quant table id";
      uint64_t size = pq == 0 ? 65 : 129;
      if (plen - q < size) return "jpeg: truncated DQT";
      for (int i = 0; i < 64; ++i) {
        int32_t v = pq == 0 ? p[q + 1 + i]
                            : int32_t((uint32_t(p[q + 1 + 2 * i]) << 8) | p[q + 2 + 2 * i]);
        if (v < 1 || v > 255) return "jpeg: bad quant value";
        ps.quant[tq].q[ZZ[i]] = v;
      }
      ps.quant[tq].defined = true;
      q += size;
    }
  } else if (code == 0xC4) {
    uint64_t q = 0;
    while (q < plen) {
      int tc = p[q] >> 4;
      int th = p[q] & 15;
      if (tc > 1 || th > 3) return "jpeg: bad DHT";
      if (plen - q < 17) return "jpeg: truncated DHT";
      const uint8_t *counts = p + q + 1;
      uint64_t total = 0;
      for (int i = 0; i < 16; ++i) total += counts[i];
      if (plen - q < 17 + total) return "jpeg: truncated DHT";
      huff_table &t = tc == 0 ? ps.dc_tabs[th] : ps.ac_tabs[th];
      for (int32_t &e : t.lookup) e = -1;
      for (int32_t &e : t.maxcode) e = -1;
      t.defined = false;
      const uint8_t *sym = counts + 16;
      uint32_t c = 0;
      for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i) {
          // Counts that overflow the code space of their length make codes no 16-bit
          // reader could tell apart.
          if (c >= (uint32_t(1) << len)) return "jpeg: bad DHT";
          t.lookup[c] = *sym++;
          ++c;
        }
        t.maxcode[len] = counts[len - 1] > 0 ? int32_t(c) - 1 : -1;
        c <<= 1;
      }
      build_fast(t);
      t.defined = true;
      q += 17 + total;
    }
  } else if (code == 0xDD) {
    if (plen >= 2) ps.ri = (uint32_t(p[0]) << 8) | p[1];
  } else if (code == 0xEE) {
    if (plen >= 12 && std::memcmp(p, "Adobe", 5) == 0) {
      ps.adobe = true;
      ps.transform = p[11];
    }
  } else if (code == 0xDA && ps.progressive) {
    if (plen == 0) return "jpeg: bad SOS";
    int ns = p[0];
    if (ns > 4) return "jpeg: bad SOS count";
    if (ns == 0 || 4 + 2 * uint64_t(ns) > plen) return "jpeg: bad SOS";
    prog_scan &sc = ps.scan;
    const uint8_t *a = p + 1 + 2 * ns;
    sc.ns = ns;
    sc.ss = a[0];
    sc.se = a[1];
    sc.ah = a[2] >> 4;
    sc.al = a[2] & 15;
    // A band is the DC term alone, or AC terms of one component. No 8-bit sample's coefficient
    // has bits above position 13 left to send.
    if (sc.ss > sc.se || sc.se > 63 || (sc.ss == 0 && sc.se != 0) || (sc.ss > 0 && ns != 1) ||
        sc.ah > 13 || sc.al > 13)
      return "jpeg: bad SOS";
    const bool dc_first = sc.ss == 0 && sc.ah == 0;
    for (int i = 0; i < ns; ++i) {
      uint8_t id = p[1 + 2 * i];
      int td = p[2 + 2 * i] >> 4;
      int ta = p[2 + 2 * i] & 15;
      component *cp = nullptr;
      for (int j = 0; j < ps.nf; ++j) {
        if (comps[j].id == id) {
          cp = &comps[j];
          break;
        }
      }
      if (cp == nullptr) return "jpeg: unknown SOS component";
      if (!cp->quant_set) {
        if (!ps.quant[cp->tq].defined) return "jpeg: missing quant table";
        std::memcpy(cp->quant, ps.quant[cp->tq].q, sizeof cp->quant);
        cp->quant_set = true;
      }
      // DC refinement bits are sent raw; only first DC scans and AC scans need a table.
      if ((dc_first && (td > 3 || !ps.dc_tabs[td].defined)) ||
          (sc.ss > 0 && (ta > 3 || !ps.ac_tabs[ta].defined)))
        return "jpeg: missing Huffman table";
      sc.comp[i] = cp;
      sc.dc[i] = dc_first ? &ps.dc_tabs[td] : nullptr;
      sc.ac[i] = sc.ss > 0 ? &ps.ac_tabs[ta] : nullptr;
    }
    *ev = event::scan;
  } else if (code == 0xDA) {
    if (plen == 0) return "jpeg: bad SOS";
    int ns = p[0];
    if (ns > 4) return "jpeg: bad SOS count";
    if (ns == 0 || 1 + 2 * uint64_t(ns) > plen) return "jpeg: bad SOS";
    for (int i = 0; i < ns; ++i) {
      uint8_t id = p[1 + 2 * i];
      int td = p[2 + 2 * i] >> 4;
      int ta = p[2 + 2 * i] & 15;
      component *cp = nullptr;
      for (int j = 0; ps.frame_read && j < ps.nf; ++j) {
        if (comps[j].id == id) {
          cp = &comps[j];
          break;
        }
      }
      if (cp == nullptr) return "jpeg: unknown SOS component";
      if (!ps.quant[cp->tq].defined) return "jpeg: missing quant table";
      if (td > 3 || ta > 3 || !ps.dc_tabs[td].defined || !ps.ac_tabs[ta].defined)
        return "jpeg: missing Huffman table";
      std::memcpy(cp->quant, ps.quant[cp->tq].q, sizeof cp->quant);
      std::memcpy(&cp->dc, &ps.dc_tabs[td], sizeof(huff_table));
      std::memcpy(&cp->ac, &ps.ac_tabs[ta], sizeof(huff_table));
      cp->in_scan = true;
    }
    // Every frame component is decoded in each MCU; one the scan does not name (a
    // non-interleaved first scan) has no tables to decode it with.
    for (int j = 0; j < ps.nf; ++j)
      if (!comps[j].in_scan) return "jpeg: missing Huffman table";
    *ev = event::scan;
  }
  *pos_io = seg_end;
  return nullptr;
}

// The sample planes as RGBA pixels.
uint8_t *to_rgba(const component *cs, int nf, uint32_t X, uint32_t Y, bool adobe, int transform,
                 const char **message) {
  // Nearest-neighbour sampling by plane-size ratio, with component 0 as the reference grid.
  c_ptr<uint32_t> colmap[4];
  for (int i = 0; i < nf; ++i) {
    colmap[i].reset(static_cast<uint32_t *>(std::malloc(sizeof(uint32_t) * uint64_t(X))));
    if (!colmap[i]) return fail("jpeg: out of memory", message);
  }
  c_ptr<uint8_t> out(static_cast<uint8_t *>(std::malloc(uint64_t(X) * Y * 4)));
  if (!out) return fail("jpeg: out of memory", message);
  const uint64_t w0 = cs[0].pw, h0 = cs[0].ph;
  for (uint64_t x = 0; x < X; ++x) {
    uint64_t x0 = x < w0 - 1 ? x : w0 - 1;
    colmap[0].get()[x] = uint32_t(x0);
    for (int i = 1; i < nf; ++i) {
      uint64_t xc = x0 * cs[i].pw / w0;
      colmap[i].get()[x] = uint32_t(xc < cs[i].pw - 1 ? xc : cs[i].pw - 1);
    }
  }
  uint8_t *o = out.get();
  for (uint64_t y = 0; y < Y; ++y) {
    uint64_t y0 = y < h0 - 1 ? y : h0 - 1;
    const uint8_t *row[4] = {nullptr, nullptr, nullptr, nullptr};
    row[0] = cs[0].plane + y0 * w0;
    for (int i = 1; i < nf; ++i) {
      uint64_t yc = y0 * cs[i].ph / h0;
      if (yc > cs[i].ph - 1) yc = cs[i].ph - 1;
      row[i] = cs[i].plane + yc * cs[i].pw;
    }
    const uint32_t *m0 = colmap[0].get();
    if (nf == 1) {
      // One plane at least as wide as the image: the column map is the identity here.
      const uint8_t *src = row[0];
      for (uint64_t x = 0; x < X; ++x, o += 4) {
        uint32_t g = src[x];
        uint8_t px4[4] = {uint8_t(g), uint8_t(g), uint8_t(g), 255};
        std::memcpy(o, px4, 4);
      }
      continue;
    }
    if (nf == 2) {
      // Two-component frames have no defined colour model; their first plane is shown as grey.
      for (uint64_t x = 0; x < X; ++x, o += 4) {
        uint8_t g = row[0][m0[x]];
        o[0] = g;
        o[1] = g;
        o[2] = g;
        o[3] = 255;
      }
      continue;
    }
    const uint32_t *m1 = colmap[1].get(), *m2 = colmap[2].get();
    const uint32_t *m3 = nf == 4 ? colmap[3].get() : nullptr;
    for (uint64_t x = 0; x < X; ++x, o += 4) {
      int c0 = row[0][m0[x]], c1 = row[1][m1[x]], c2 = row[2][m2[x]];
      int r, g, b;
      if (nf == 4 && !(adobe && transform == 2)) {
        int c3 = row[3][m3[x]];
        // Adobe stores CMYK inverted (255 is no ink); other writers store ink amounts.
        if (adobe) {
          r = mul255(c0, c3);
          g = mul255(c1, c3);
          b = mul255(c2, c3);
        } else {
          r = mul255(255 - c0, 255 - c3);
          g = mul255(255 - c1, 255 - c3);
          b = mul255(255 - c2, 255 - c3);
        }
      } else {
        double yy = c0, cb = c1 - 128.0, cr = c2 - 128.0;
        r = clamp_int(int(yy + 1.402 * cr));
        g = clamp_int(int(yy - 0.344136 * cb - 0.714136 * cr));
        b = clamp_int(int(yy + 1.772 * cb));
        if (nf == 4) {
          // YCCK: the YCbCr part gives the inverted CMY, and K is stored inverted as well.
          int c3 = row[3][m3[x]];
          r = mul255(r, c3);
          g = mul255(g, c3);
          b = mul255(b, c3);
        }
      }
      o[0] = uint8_t(r);
      o[1] = uint8_t(g);
      o[2] = uint8_t(b);
      o[3] = 255;
    }
  }
  return out.release();
}

}  // namespace

uint8_t *qx_jpeg_decode_impl(const uint8_t *data, uint64_t length, int32_t *width,
                             int32_t *height, const char **message) {
  *width = 0;
  *height = 0;
  *message = "";
  if (!s_costab_ready) build_costab();

  c_ptr<component> comps(static_cast<component *>(std::calloc(4, sizeof(component))));
  c_ptr<huff_table> dc_tabs(static_cast<huff_table *>(std::calloc(4, sizeof(huff_table))));
  c_ptr<huff_table> ac_tabs(static_cast<huff_table *>(std::calloc(4, sizeof(huff_table))));
  if (!comps || !dc_tabs || !ac_tabs) return fail("jpeg: out of memory", message);
  if (data == nullptr || length <= 5) return fail("jpeg: no scan data", message);

  parser ps{};
  ps.data = data;
  ps.length = length;
  ps.cs = comps.get();
  ps.dc_tabs = dc_tabs.get();
  ps.ac_tabs = ac_tabs.get();
  component *cs = comps.get();

  // A progressive frame is read scan after scan until the end of image. Once one scan has been
  // read whole, whatever cannot be read after it (data cut short, a damaged segment or scan, a
  // bad scan header) ends decoding with the coefficients gathered so far, as a partly received
  // file is shown.
  c_ptr<int16_t> coefs[4];
  uint64_t mcus_x = 0, mcus_y = 0;
  uint64_t budget = 0;
  bool have_scan = false;
  uint64_t pos = 2;
  for (;;) {
    event ev = event::segment;
    uint8_t marker = 0;
    const char *err = read_segment(ps, &pos, &ev, &marker);
    if (err != nullptr) {
      if (have_scan) break;
      return fail(err, message);
    }
    if (ev == event::standalone && marker == 0xD9 && have_scan) break;
    if (ev != event::scan) continue;
    if (!ps.progressive) break;
    if (!ps.frame_fixed) {
      frame_geometry(cs, ps.nf, ps.X, ps.Y, &mcus_x, &mcus_y);
      uint64_t blocks = 0;
      for (int i = 0; i < ps.nf; ++i) blocks += cs[i].bw * cs[i].bh;
      if (blocks * 64 * sizeof(int16_t) > k_jpeg_max_coefficient_bytes)
        return fail("jpeg: out of memory", message);
      for (int i = 0; i < ps.nf; ++i) {
        coefs[i].reset(static_cast<int16_t *>(
            std::calloc(cs[i].bw * cs[i].bh * 64, sizeof(int16_t))));
        if (!coefs[i]) return fail("jpeg: out of memory", message);
        cs[i].coef = coefs[i].get();
      }
      budget = blocks * 64 * k_scan_passes;
      ps.frame_fixed = true;
    }
    uint64_t cost = scan_cost(ps.scan, mcus_x, mcus_y);
    if (cost > budget) break;  // never the first scan: it costs at most one pass
    budget -= cost;
    bit_reader br{data, length, pos, 0, 0, k_status_reading};
    if (decode_prog_scan(br, ps.scan, mcus_x, mcus_y, ps.ri)) {
      have_scan = true;
      pos = next_marker(data, length, br.position());
      continue;
    }
    if (have_scan || stopped_at_eoi(br)) {
      have_scan = true;
      break;
    }
    return fail("jpeg: decode error in scan data", message);
  }

  c_ptr<uint8_t> planes[4];
  if (ps.progressive) {
    for (int i = 0; i < ps.nf; ++i) {
      planes[i].reset(static_cast<uint8_t *>(std::malloc(cs[i].pw * cs[i].ph)));
      if (!planes[i]) return fail("jpeg: out of memory", message);
      cs[i].plane = planes[i].get();
      output_blocks(cs[i]);
      coefs[i].reset();
    }
  } else {
    frame_geometry(cs, ps.nf, ps.X, ps.Y, &mcus_x, &mcus_y);
    // Zeroed planes: areas no block reaches (a scan cut short) read as 0, never as stale memory.
    for (int i = 0; i < ps.nf; ++i) {
      planes[i].reset(static_cast<uint8_t *>(std::calloc(cs[i].pw * cs[i].ph, 1)));
      if (!planes[i]) return fail("jpeg: out of memory", message);
      cs[i].plane = planes[i].get();
    }
    bit_reader br{data, length, pos, 0, 0, k_status_reading};
    if (!decode_scan(br, cs, ps.nf, mcus_x, mcus_y, ps.ri)) {
      uint64_t at = br.position();
      bool eoi = at + 1 < length && data[at] == 0xFF && data[at + 1] == 0xD9;
      if (!eoi) return fail("jpeg: decode error in scan data", message);
    }
  }
  uint8_t *out = to_rgba(cs, ps.nf, ps.X, ps.Y, ps.adobe, ps.transform, message);
  if (out == nullptr) return nullptr;
  *width = int32_t(ps.X);
  *height = int32_t(ps.Y);
  return out;
}
