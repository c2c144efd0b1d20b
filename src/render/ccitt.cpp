// CCITT fax decoding for the CCITTFaxDecode filter: Group 3 (one- and two-dimensional) and
// Group 4 coded rows become packed one-bit rows. Codes are matched by table lookup and rows are
// kept as lists of colour changes, so the work is linear in the input plus the output.
#include "render/ccitt.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// A run-code table entry: low byte the code length, the rest the run length plus one (0 means
// no code). Runs of kEolRun mark an end-of-line code.
constexpr int kPeek = 13;
constexpr int kEolRun = 0x7fff;

struct code_def {
  const char *bits;
  int run;
};

// White runs of the one-dimensional code (also the runs of two-dimensional horizontal mode):
// terminating codes for 0..63, then make-up codes for multiples of 64 up to 1728.
const code_def kWhite[] = {
    {"00110101", 0},    {"000111", 1},      {"0111", 2},        {"1000", 3},
    {"1011", 4},        {"1100", 5},        {"1110", 6},        {"1111", 7},
    {"10011", 8},       {"10100", 9},       {"00111", 10},      {"01000", 11},
    {"001000", 12},     {"000011", 13},     {"110100", 14},     {"110101", 15},
    {"101010", 16},     {"101011", 17},     {"0100111", 18},    {"0001100", 19},
    {"0001000", 20},    {"0010111", 21},    {"0000011", 22},    {"0000100", 23},
    {"0101000", 24},    {"0101011", 25},    {"0010011", 26},    {"0100100", 27},
    {"0011000", 28},    {"00000010", 29},   {"00000011", 30},   {"00011010", 31},
    {"00011011", 32},   {"00010010", 33},   {"00010011", 34},   {"00010100", 35},
    {"00010101", 36},   {"00010110", 37},   {"00010111", 38},   {"00101000", 39},
    {"00101001", 40},   {"00101010", 41},   {"00101011", 42},   {"00101100", 43},
    {"00101101", 44},   {"00000100", 45},   {"00000101", 46},   {"00001010", 47},
    {"00001011", 48},   {"01010010", 49},   {"01010011", 50},   {"01010100", 51},
    {"01010101", 52},   {"00100100", 53},   {"00100101", 54},   {"01011000", 55},
    {"01011001", 56},   {"01011010", 57},   {"01011011", 58},   {"01001010", 59},
    {"01001011", 60},   {"00110010", 61},   {"00110011", 62},   {"00110100", 63},
    {"11011", 64},      {"10010", 128},     {"010111", 192},    {"0110111", 256},
    {"00110110", 320},  {"00110111", 384},  {"01100100", 448},  {"01100101", 512},
    {"01101000", 576},  {"01100111", 640},  {"011001100", 704}, {"011001101", 768},
    {"011010010", 832}, {"011010011", 896}, {"011010100", 960}, {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280},
    {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536},
    {"010011010", 1600}, {"011000", 1664},  {"010011011", 1728},
};

// Black runs, laid out as the white ones.
const code_def kBlack[] = {
    {"0000110111", 0},     {"010", 1},            {"11", 2},             {"10", 3},
    {"011", 4},            {"0011", 5},           {"0010", 6},           {"00011", 7},
    {"000101", 8},         {"000100", 9},         {"0000100", 10},       {"0000101", 11},
    {"0000111", 12},       {"00000100", 13},      {"00000111", 14},      {"000011000", 15},
    {"0000010111", 16},    {"0000011000", 17},    {"0000001000", 18},    {"00001100111", 19},
    {"00001101000", 20},   {"00001101100", 21},   {"00000110111", 22},   {"00000101000", 23},
    {"00000010111", 24},   {"00000011000", 25},   {"000011001010", 26},  {"000011001011", 27},
    {"000011001100", 28},  {"000011001101", 29},  {"000001101000", 30},  {"000001101001", 31},
    {"000001101010", 32},  {"000001101011", 33},  {"000011010010", 34},  {"000011010011", 35},
    {"000011010100", 36},  {"000011010101", 37},  {"000011010110", 38},  {"000011010111", 39},
    {"000001101100", 40},  {"000001101101", 41},  {"000011011010", 42},  {"000011011011", 43},
    {"000001010100", 44},  {"000001010101", 45},  {"000001010110", 46},  {"000001010111", 47},
    {"000001100100", 48},  {"000001100101", 49},  {"000001010010", 50},  {"000001010011", 51},
    {"000000100100", 52},  {"000000110111", 53},  {"000000111000", 54},  {"000000100111", 55},
    {"000000101000", 56},  {"000001011000", 57},  {"000001011001", 58},  {"000000101011", 59},
    {"000000101100", 60},  {"000001011010", 61},  {"000001100110", 62},  {"000001100111", 63},
    {"0000001111", 64},    {"000011001000", 128}, {"000011001001", 192}, {"000001011011", 256},
    {"000000110011", 320}, {"000000110100", 384}, {"000000110101", 448},
    {"0000001101100", 512}, {"0000001101101", 576}, {"0000001001010", 640},
    {"0000001001011", 704}, {"0000001001100", 768}, {"0000001001101", 832},
    {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216},
    {"0000001010010", 1280}, {"0000001010011", 1344}, {"0000001010100", 1408},
    {"0000001010101", 1472}, {"0000001011010", 1536}, {"0000001011011", 1600},
    {"0000001100100", 1664}, {"0000001100101", 1728},
};

// Make-up codes shared by both colours for runs beyond 1728 (a longer run repeats 2560), and
// the EOL code, eleven zeros and a one.
const code_def kExtended[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},
    {"000000010010", 1984}, {"000000010011", 2048}, {"000000010100", 2112},
    {"000000010101", 2176}, {"000000010110", 2240}, {"000000010111", 2304},
    {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560}, {"000000000001", kEolRun},
};

enum mode { kBad, kPass, kHoriz, kV0, kVR1, kVR2, kVR3, kVL1, kVL2, kVL3, kEscape };

struct tables {
  uint32_t white[1 << kPeek];
  uint32_t black[1 << kPeek];
  uint8_t mode_code[1 << 7];  // mode in the high nibble, length in the low
};

void add_code(uint32_t *table, int peek, const char *bits, uint32_t value) {
  int len = static_cast<int>(std::strlen(bits));
  uint32_t code = 0;
  for (int i = 0; i < len; i++) code = (code << 1) | static_cast<uint32_t>(bits[i] - '0');
  uint32_t first = code << (peek - len);
  uint32_t count = 1u << (peek - len);
  for (uint32_t i = 0; i < count; i++) table[first + i] = value;
}

tables make_tables() {
  tables t{};
  for (const code_def &c : kWhite)
    add_code(t.white, kPeek, c.bits, (static_cast<uint32_t>(c.run + 1) << 8) | std::strlen(c.bits));
  for (const code_def &c : kBlack)
    add_code(t.black, kPeek, c.bits, (static_cast<uint32_t>(c.run + 1) << 8) | std::strlen(c.bits));
  for (const code_def &c : kExtended) {
    uint32_t v = (static_cast<uint32_t>(c.run + 1) << 8) | std::strlen(c.bits);
    add_code(t.white, kPeek, c.bits, v);
    add_code(t.black, kPeek, c.bits, v);
  }
  // The two-dimensional mode codes: vertical (a1 within 3 of b1), horizontal, pass. Seven
  // zeros open an EOL or the uncompressed-mode extension, which is not read.
  const struct {
    const char *bits;
    int m;
  } modes[] = {{"1", kV0},        {"011", kVR1},     {"010", kVL1},    {"001", kHoriz},
               {"0001", kPass},   {"000011", kVR2},  {"000010", kVL2}, {"0000011", kVR3},
               {"0000010", kVL3}, {"0000001", kEscape}, {"0000000", kEscape}};
  uint32_t tmp[1 << 7] = {};
  for (const auto &m : modes)
    add_code(tmp, 7, m.bits,
             (static_cast<uint32_t>(m.m) << 4) | static_cast<uint32_t>(std::strlen(m.bits)));
  for (int i = 0; i < (1 << 7); i++) t.mode_code[i] = static_cast<uint8_t>(tmp[i]);
  return t;
}

const tables &code_tables() {
  static const tables t = make_tables();
  return t;
}

class bit_reader {
 public:
  bit_reader(const uint8_t *data, int32_t len)
      : data_(data), len_(len), nbits_(static_cast<int64_t>(len) * 8) {}

  // The next n (<= 24) bits, zeros past the end of the data.
  uint32_t peek(int n) const {
    int64_t byte = pos_ >> 3;
    uint32_t w = 0;
    if (byte + 4 <= len_) {
      w = (static_cast<uint32_t>(data_[byte]) << 24) |
          (static_cast<uint32_t>(data_[byte + 1]) << 16) |
          (static_cast<uint32_t>(data_[byte + 2]) << 8) | data_[byte + 3];
    } else {
      for (int i = 0; i < 4; i++) {
        w <<= 8;
        if (byte + i < len_) w |= data_[byte + i];
      }
    }
    w <<= (pos_ & 7);
    return w >> (32 - n);
  }
  void skip(int n) { pos_ += n; }
  bool overrun() const { return pos_ > nbits_; }
  bool at_end() const { return pos_ >= nbits_; }
  // True when no 1 bit is left: the data ended, perhaps after zero padding.
  bool rest_is_zero() const {
    if (at_end()) return true;
    int64_t byte = pos_ >> 3;
    if (static_cast<uint8_t>(data_[byte] << (pos_ & 7)) != 0) return false;
    for (int64_t i = byte + 1; i < len_; i++)
      if (data_[i]) return false;
    return true;
  }
  void align() { pos_ = (pos_ + 7) & ~int64_t{7}; }
  int64_t pos() const { return pos_; }
  void seek(int64_t p) { pos_ = p; }

  // Consumes an end-of-line code with any zero fill before it; false (nothing consumed) when
  // none follows.
  bool take_eol() {
    int64_t start = pos_;
    int zeros = 0;
    while (!at_end() && peek(1) == 0) {
      skip(1);
      zeros++;
    }
    if (zeros >= 11 && !at_end()) {
      skip(1);
      return true;
    }
    pos_ = start;
    return false;
  }

 private:
  const uint8_t *data_;
  int64_t len_;
  int64_t nbits_;
  int64_t pos_ = 0;
};

enum run_result { kRunOk, kRunEol, kRunBad };

// Reads one run (make-up codes then a terminating code) of the given colour.
run_result read_run(bit_reader &br, const uint32_t *table, int columns, int *run) {
  int64_t total = 0;
  for (;;) {
    uint32_t e = table[br.peek(kPeek)];
    if (e == 0) return kRunBad;
    int value = static_cast<int>(e >> 8) - 1;
    if (value == kEolRun) return kRunEol;
    br.skip(static_cast<int>(e & 0xff));
    if (br.overrun()) return kRunBad;
    total += value;
    if (total > columns) total = columns + 1;
    if (value < 64) break;
  }
  *run = static_cast<int>(total);
  return kRunOk;
}

// Appends a colour change at x, where a change at the same place as the last one cancels it:
// list parity then always tells the colour after each change (even index: to black).
void add_change(std::vector<int> &cur, int x, int columns) {
  if (x >= columns) return;
  if (!cur.empty() && cur.back() == x) {
    cur.pop_back();
    return;
  }
  cur.push_back(x);
}

// kRowShort: an EOL came before the row was full; kRowEnd: the end-of-block code.
enum row_result { kRowOk, kRowShort, kRowEnd, kRowBad };

row_result decode_1d(bit_reader &br, int columns, std::vector<int> &cur) {
  const tables &t = code_tables();
  int a0 = 0;
  int color = 0;
  while (a0 < columns) {
    int run = 0;
    run_result r = read_run(br, color ? t.black : t.white, columns, &run);
    if (r == kRunEol) return kRowShort;
    if (r == kRunBad) return kRowBad;
    a0 = a0 + run > columns ? columns : a0 + run;
    add_change(cur, a0, columns);
    color ^= 1;
  }
  return kRowOk;
}

// ref holds the reference row's changes followed by sentinels at columns.
row_result decode_2d(bit_reader &br, int columns, const std::vector<int> &ref,
                     std::vector<int> &cur, bool group4) {
  const tables &t = code_tables();
  int a0 = -1;
  int color = 0;
  size_t bi = 0;
  while (a0 < columns) {
    while (bi > 0 && ref[bi - 1] > a0) bi--;
    while (ref[bi] <= a0 && ref[bi] < columns) bi++;
    if ((bi & 1) != static_cast<size_t>(color)) bi++;
    int b1 = ref[bi];
    int b2 = ref[bi + 1];
    int start = a0 < 0 ? 0 : a0;
    uint8_t m = t.mode_code[br.peek(7)];
    int mode_id = m >> 4;
    if (mode_id == kEscape) {
      if (br.peek(12) == 1) return group4 ? kRowEnd : kRowShort;
      return kRowBad;
    }
    br.skip(m & 15);
    if (br.overrun()) return kRowBad;
    switch (mode_id) {
      case kPass:
        a0 = b2;
        break;
      case kHoriz: {
        int r1 = 0;
        int r2 = 0;
        if (read_run(br, color ? t.black : t.white, columns, &r1) != kRunOk) return kRowBad;
        if (read_run(br, color ? t.white : t.black, columns, &r2) != kRunOk) return kRowBad;
        int a1 = start + r1 > columns ? columns : start + r1;
        int a2 = a1 + r2 > columns ? columns : a1 + r2;
        add_change(cur, a1, columns);
        add_change(cur, a2, columns);
        a0 = a2;
        break;
      }
      default: {
        static const int kDelta[] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};
        int a1 = b1 + kDelta[mode_id];
        if (a1 < start) return kRowBad;
        if (a1 > columns) a1 = columns;
        add_change(cur, a1, columns);
        a0 = a1;
        color ^= 1;
        break;
      }
    }
  }
  return kRowOk;
}

// Sets bits [x0, x1) of row.
void fill_span(uint8_t *row, int x0, int x1) {
  if (x0 >= x1) return;
  int b0 = x0 >> 3;
  int b1 = (x1 - 1) >> 3;
  uint8_t head = static_cast<uint8_t>(0xff >> (x0 & 7));
  uint8_t tail = static_cast<uint8_t>(0xff << (7 - ((x1 - 1) & 7)));
  if (b0 == b1) {
    row[b0] |= head & tail;
    return;
  }
  row[b0] |= head;
  if (b1 > b0 + 1) std::memset(row + b0 + 1, 0xff, static_cast<size_t>(b1 - b0 - 1));
  row[b1] |= tail;
}

// Writes a row from its change list: black spans become 1 bits, then flipped when black must
// come out as 0.
void paint_row(uint8_t *row, int stride, const std::vector<int> &cur, int columns, bool invert) {
  std::memset(row, 0, static_cast<size_t>(stride));
  for (size_t i = 0; i < cur.size(); i += 2) {
    int x1 = i + 1 < cur.size() ? cur[i + 1] : columns;
    fill_span(row, cur[i], x1);
  }
  if (invert)
    for (int i = 0; i < stride; i++) row[i] = static_cast<uint8_t>(~row[i]);
}

}  // namespace

c_ptr<uint8_t> ccitt_decode(const uint8_t *data, int32_t len, const ccitt_params &params,
                            int32_t max_rows, int32_t *out_len, int32_t *out_rows,
                            int *complete) {
  if (out_len) *out_len = 0;
  if (out_rows) *out_rows = 0;
  if (complete) *complete = 0;
  if (params.columns < 1 || params.columns > 1000000 || max_rows < 1 || len < 0 ||
      (len > 0 && !data))
    return nullptr;
  const int columns = params.columns;
  const int stride = (columns + 7) / 8;
  int64_t limit = max_rows;
  if (params.rows > 0 && params.rows < limit) limit = params.rows;
  if (limit * stride > INT32_MAX) limit = INT32_MAX / stride;
  if (limit < 1) return nullptr;
  const bool invert = params.black_is_1 == 0;
  const bool group4 = params.k < 0;
  const bool align = params.encoded_byte_align != 0;

  c_ptr<uint8_t> out;
  int64_t cap_rows = 0;
  int64_t rows = 0;
  bool clean = false;
  try {
    std::vector<int> prev;
    std::vector<int> ref;
    std::vector<int> cur;
    bit_reader br(data, len);
    // Whether the rows come after EOL codes: asked for by /EndOfLine, else seen before the
    // first row. With byte alignment it decides where the fill goes: before an EOL (which then
    // starts or ends on a byte boundary), or, without EOLs, before the row itself.
    bool eols = params.end_of_line != 0;
    while (rows < limit) {
      if (group4) {
        if (align) br.align();
      } else {
        bool eol = false;
        if (!align || eols || rows == 0) eol = br.take_eol();
        if (!eol && align) {
          br.align();
          if (!eols) eol = br.take_eol();
        }
        if (eol) {
          if (rows == 0) eols = true;
          // A second EOL right after the first (past its tag bit in mixed data) starts the
          // return to control that ends the data.
          int64_t after = br.pos();
          if (params.k > 0) br.skip(1);
          if (br.take_eol()) {
            clean = true;
            break;
          }
          br.seek(after);
        }
      }
      // The data may end on any row boundary, padded with zeros to a byte.
      if (br.rest_is_zero()) {
        clean = true;
        break;
      }
      bool two_d = group4;
      if (params.k > 0) {
        two_d = br.peek(1) == 0;
        br.skip(1);
      }
      ref.assign(prev.begin(), prev.end());
      for (int i = 0; i < 3; i++) ref.push_back(columns);
      cur.clear();
      row_result r = two_d ? decode_2d(br, columns, ref, cur, group4)
                           : decode_1d(br, columns, cur);
      if (r == kRowEnd) {
        clean = true;
        break;
      }
      if (r != kRowOk) break;
      if (rows == cap_rows) {
        int64_t want = cap_rows ? cap_rows * 2 : 64;
        if (want > limit) want = limit;
        void *p = std::realloc(out.get(), static_cast<size_t>(want * stride));
        if (!p) return nullptr;
        (void)out.release();
        out.reset(static_cast<uint8_t *>(p));
        cap_rows = want;
      }
      paint_row(out.get() + rows * stride, stride, cur, columns, invert);
      rows++;
      prev.swap(cur);
    }
    if (rows == limit) clean = true;
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  if (rows == 0) return nullptr;
  if (out_len) *out_len = static_cast<int32_t>(rows * stride);
  if (out_rows) *out_rows = static_cast<int32_t>(rows);
  if (complete) *complete = clean ? 1 : 0;
  return out;
}
