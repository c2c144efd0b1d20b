// Baseline sequential JPEG decoder used for DCTDecode image data: marker segments up to the first
// scan, one Huffman-coded scan into a sample plane per component, a double-precision inverse DCT,
// and conversion to RGBA. What a failure means for the page is left to image decoding.
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

uint8_t clamp_int(int v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// a * b / 255 rounded, for ink coverage products of two 8-bit values.
uint8_t mul255(int a, int b) { return uint8_t((a * b + 127) / 255); }

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

  quant_table quant[4] = {};
  bool frame_read = false;
  uint32_t X = 0, Y = 0;
  int nf = 0;
  uint32_t ri = 0;
  bool adobe = false;
  int transform = 0;
  uint64_t scan_start = 0;

  uint64_t pos = 2;
  for (;;) {
    if (pos > length || length - pos < 4) return fail("jpeg: no scan data", message);
    if (data[pos] != 0xFF) return fail("jpeg: corrupt stream", message);
    while (pos < length && data[pos] == 0xFF) ++pos;
    if (pos >= length) return fail("jpeg: no scan data", message);
    uint8_t code = data[pos];
    if (code == 0x00) continue;
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD9)) {
      ++pos;
      continue;
    }
    uint64_t mark = pos - 1;
    if (length - mark < 4) return fail("jpeg: no scan data", message);
    uint32_t seg_len = (uint32_t(data[pos + 1]) << 8) | data[pos + 2];
    if (seg_len < 2) return fail("jpeg: bad segment length", message);
    uint64_t seg_end = pos + 1 + seg_len;
    if (seg_end > length) return fail("jpeg: truncated segment", message);
    const uint8_t *p = data + pos + 3;
    uint64_t plen = seg_len - 2;

    if (code == 0xC0 || code == 0xC2) {
      if (plen <= 6) return fail("jpeg: bad SOF", message);
      if (p[0] != 8) return fail("jpeg: only 8-bit samples supported", message);
      Y = (uint32_t(p[1]) << 8) | p[2];
      X = (uint32_t(p[3]) << 8) | p[4];
      nf = p[5];
      if (nf < 1 || nf > 4 || X == 0 || Y == 0 || uint64_t(X) * Y > k_jpeg_max_pixels)
        return fail("jpeg: unsupported SOF", message);
      if (6 + 3 * uint64_t(nf) > plen) return fail("jpeg: bad SOF", message);
      for (int i = 0; i < nf; ++i) {
        const uint8_t *s = p + 6 + 3 * i;
        component &cp = comps.get()[i];
        cp.id = s[0];
        cp.h = s[1] >> 4;
        cp.v = s[1] & 15;
        cp.tq = s[2];
        if (cp.h == 0 || cp.v == 0 || cp.tq > 3) return fail("jpeg: bad component spec", message);
      }
      frame_read = true;
    } else if (code == 0xDB) {
      uint64_t q = 0;
      while (q < plen) {
        int pq = p[q] >> 4;
        int tq = p[q] & 15;
        if (tq & 0x0C) return fail("jpeg: bad quant table id", message);
        uint64_t size = pq == 0 ? 65 : 129;
        if (plen - q < size) return fail("jpeg: truncated DQT", message);
        for (int i = 0; i < 64; ++i) {
          int32_t v = pq == 0 ? p[q + 1 + i]
                              : int32_t((uint32_t(p[q + 1 + 2 * i]) << 8) | p[q + 2 + 2 * i]);
          if (v < 1 || v > 255) return fail("jpeg: bad quant value", message);
          quant[tq].q[ZZ[i]] = v;
        }
        quant[tq].defined = true;
        q += size;
      }
    } else if (code == 0xC4) {
      uint64_t q = 0;
      while (q < plen) {
        int tc = p[q] >> 4;
        int th = p[q] & 15;
        if (tc > 1 || th > 3) return fail("jpeg: bad DHT", message);
        if (plen - q < 17) return fail("jpeg: truncated DHT", message);
        const uint8_t *counts = p + q + 1;
        uint64_t total = 0;
        for (int i = 0; i < 16; ++i) total += counts[i];
        if (plen - q < 17 + total) return fail("jpeg: truncated DHT", message);
        huff_table &t = tc == 0 ? dc_tabs.get()[th] : ac_tabs.get()[th];
        for (int32_t &e : t.lookup) e = -1;
        for (int32_t &e : t.maxcode) e = -1;
        t.defined = false;
        const uint8_t *sym = counts + 16;
        uint32_t c = 0;
        for (int len = 1; len <= 16; ++len) {
          for (int i = 0; i < counts[len - 1]; ++i) {
            // Counts that overflow the code space of their length make codes no 16-bit
            // reader could tell apart.
            if (c >= (uint32_t(1) << len)) return fail("jpeg: bad DHT", message);
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
      if (plen >= 2) ri = (uint32_t(p[0]) << 8) | p[1];
    } else if (code == 0xEE) {
      if (plen >= 12 && std::memcmp(p, "Adobe", 5) == 0) {
        adobe = true;
        transform = p[11];
      }
    } else if (code == 0xDA) {
      if (plen == 0) return fail("jpeg: bad SOS", message);
      int ns = p[0];
      if (ns > 4) return fail("jpeg: bad SOS count", message);
      if (ns == 0 || 1 + 2 * uint64_t(ns) > plen) return fail("jpeg: bad SOS", message);
      for (int i = 0; i < ns; ++i) {
        uint8_t id = p[1 + 2 * i];
        int td = p[2 + 2 * i] >> 4;
        int ta = p[2 + 2 * i] & 15;
        component *cp = nullptr;
        for (int j = 0; frame_read && j < nf; ++j) {
          if (comps.get()[j].id == id) {
            cp = &comps.get()[j];
            break;
          }
        }
        if (cp == nullptr) return fail("jpeg: unknown SOS component", message);
        if (!quant[cp->tq].defined) return fail("jpeg: missing quant table", message);
        if (td > 3 || ta > 3 || !dc_tabs.get()[td].defined || !ac_tabs.get()[ta].defined)
          return fail("jpeg: missing Huffman table", message);
        std::memcpy(cp->quant, quant[cp->tq].q, sizeof cp->quant);
        std::memcpy(&cp->dc, &dc_tabs.get()[td], sizeof(huff_table));
        std::memcpy(&cp->ac, &ac_tabs.get()[ta], sizeof(huff_table));
        cp->in_scan = true;
      }
      // Every frame component is decoded in each MCU; one the scan does not name (a
      // non-interleaved or progressive first scan) has no tables to decode it with.
      for (int j = 0; j < nf; ++j)
        if (!comps.get()[j].in_scan) return fail("jpeg: missing Huffman table", message);
      scan_start = seg_end;
      break;
    }
    pos = seg_end;
  }

  component *cs = comps.get();
  int hmax = 1, vmax = 1;
  for (int i = 0; i < nf; ++i) {
    if (cs[i].h > hmax) hmax = cs[i].h;
    if (cs[i].v > vmax) vmax = cs[i].v;
  }
  uint64_t mcus_x = (uint64_t(X) + 8 * hmax - 1) / (8 * hmax);
  uint64_t mcus_y = (uint64_t(Y) + 8 * vmax - 1) / (8 * vmax);
  // Zeroed planes: areas no block reaches (a scan cut short) read as 0, never as stale memory.
  c_ptr<uint8_t> planes[4];
  for (int i = 0; i < nf; ++i) {
    cs[i].pw = uint64_t(cs[i].h) * mcus_x * 8;
    cs[i].ph = uint64_t(cs[i].v) * mcus_y * 8;
    planes[i].reset(static_cast<uint8_t *>(std::calloc(cs[i].pw * cs[i].ph, 1)));
    if (!planes[i]) return fail("jpeg: out of memory", message);
    cs[i].plane = planes[i].get();
  }

  bit_reader br{data, length, scan_start, 0, 0, k_status_reading};
  if (!decode_scan(br, cs, nf, mcus_x, mcus_y, ri)) {
    uint64_t at = br.position();
    bool eoi = at + 1 < length && data[at] == 0xFF && data[at + 1] == 0xD9;
    if (!eoi) return fail("jpeg: decode error in scan data", message);
  }
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
  *width = int32_t(X);
  *height = int32_t(Y);
  return out.release();
}
