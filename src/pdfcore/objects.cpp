// The object table. Every indirect object is found by scanning the file for object heads;
// stream extents are settled from /Length or the endstream keyword, apparent objects inside
// stream data are dropped, and one definition per object number is kept. Unpacking object
// streams is objstm.cpp's business; this file only tells their containers apart.

#include "pdfcore/objects.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "pdfcore/lex.h"

namespace {

// Heads are gathered and their dictionaries measured in batches of this many, so the work
// arrays of the first pass stay small whatever the file holds.
constexpr int32_t k_head_batch = 65536;
constexpr int32_t k_unknown = -2;

// The three bytes at which the dictionary-end scan changes state; all others are stepped over.
constexpr bool is_dict_special(uint8_t c) { return c == '<' || c == '>' || c == '('; }

// First occurrence of the kl bytes of kw starting in [from, end - kl], or -1. The search runs
// in windows so that no single call is handed the whole rest of the file: checking tools
// that validate a call's full input range would otherwise make a scan quadratic.
int32_t find_bytes(const uint8_t *data, int32_t end, int32_t from, const char *kw, int32_t kl) {
  constexpr int64_t k_window = 1 << 16;
  int64_t p = from < 0 ? 0 : from;
  while (p + kl <= end) {
    const int64_t stop = std::min<int64_t>(end, p + k_window + kl - 1);
    const void *hit = memmem(data + p, static_cast<size_t>(stop - p), kw, static_cast<size_t>(kl));
    if (hit) return static_cast<int32_t>(static_cast<const uint8_t *>(hit) - data);
    p = stop - kl + 1;
  }
  return -1;
}

// First whole-word kw at or after from: the same answers as find_kw, with memmem jumping
// between candidates so that a search over megabytes of stream data stays cheap.
int32_t find_word(const uint8_t *data, int32_t end, int32_t from, const char *kw, int32_t kl) {
  int64_t p = from < 0 ? 0 : from;
  const int64_t last = static_cast<int64_t>(end) - kl;
  while (p <= last) {
    int32_t q = find_bytes(data, end, static_cast<int32_t>(p), kw, kl);
    if (q < 0) return -1;
    if ((q == 0 || !is_alnum(data[q - 1])) && (q + kl >= end || !is_alnum(data[q + kl])))
      return q;
    p = static_cast<int64_t>(q) + 1;
  }
  return -1;
}

// A forward search ("first match at or after x") answers every later query that starts
// between the previous start and the previous hit with that same hit: nothing matched in
// between. Many heads asking for the next endobj then cost one scan of the file, not one each.
struct forward_cache {
  int32_t from = -1;
  int32_t hit = -1;
  bool valid = false;

  template <class Search>
  int32_t next(int32_t at, Search &&search) {
    if (valid && at >= from && (hit < 0 || at <= hit)) return hit;
    hit = search(at);
    from = at;
    valid = true;
    return hit;
  }
};

// skip_literal for the dictionary-end walks, fast where heads pile up inside one long string
// (10 MB of "1 0 obj <<(" lines makes every walk start inside the first head's string).
// A string opening at x inside a string scanned from L reads the same bytes from x + 1 on,
// with the same escapes, so it closes where L's nesting first falls below the level L held
// right after x. A coarse profile of the last long scan (nesting at block starts, lowest
// nesting reached in each block, and a tree over those minima) finds that place without
// scanning again.
class literal_ends {
 public:
  int32_t skip(const uint8_t *data, int32_t p, int32_t lim) {
    // Without any ")" ahead the string cannot close.
    int32_t rp = rparen_.next(p + 1, [&](int32_t at) {
      if (at >= lim) return -1;
      const void *h = std::memchr(data + at, ')', static_cast<size_t>(lim - at));
      return h ? static_cast<int32_t>(static_cast<const uint8_t *>(h) - data) : -1;
    });
    if (rp < 0) return -1;
    if (lim == lim_ && p > from_ && p < stop_) return from_profile(data, p);
    int32_t r = skip_literal(data, p, lim);
    int64_t span = (r < 0 ? lim : r) - static_cast<int64_t>(p);
    if (span >= k_long) build(data, p, lim, span);
    return r;
  }

 private:
  static constexpr int64_t k_long = 65536;
  static constexpr int32_t k_unset = INT32_MAX;

  void build(const uint8_t *data, int32_t p, int32_t lim, int64_t span) {
    lim_ = -1;
    block_ = std::max<int64_t>(256, span >> 16);
    const int64_t nblocks = span / block_ + 1;
    try {
      entry_q_.assign(static_cast<size_t>(nblocks), 0);
      entry_nest_.assign(static_cast<size_t>(nblocks), 0);
      size_t leaves = 1;
      while (leaves < static_cast<size_t>(nblocks)) leaves *= 2;
      leaves_ = leaves;
      tree_.assign(2 * leaves, k_unset);
    } catch (const std::bad_alloc &) {
      return;
    }
    nblocks_ = nblocks;
    int32_t nest = 0;
    int64_t q = p;
    int64_t k = -1;
    int64_t stop = lim;
    while (q < lim) {
      while (k + 1 < nblocks && q >= p + (k + 1) * block_) {
        ++k;
        entry_q_[static_cast<size_t>(k)] = q;
        entry_nest_[static_cast<size_t>(k)] = nest;
      }
      uint8_t c = data[q];
      if (c == '\\') {
        q += 2;
        continue;
      }
      if (c == '(') {
        nest++;
      } else if (c == ')') {
        --nest;
        int32_t &m = tree_[leaves_ + static_cast<size_t>(k)];
        m = std::min(m, nest);
        if (nest == 0) {
          stop = q + 1;
          break;
        }
      }
      q++;
    }
    nblocks_ = k + 1;
    for (size_t i = leaves_ - 1; i >= 1; --i) tree_[i] = std::min(tree_[2 * i], tree_[2 * i + 1]);
    from_ = p;
    stop_ = static_cast<int32_t>(stop);
    lim_ = lim;
  }

  // The first block at or after b whose lowest nesting is at most v, or -1.
  int64_t first_block_at_most(int64_t b, int32_t v) const {
    if (b >= nblocks_) return -1;
    size_t i = leaves_ + static_cast<size_t>(b);
    for (;;) {
      if (tree_[i] <= v) {
        while (i < leaves_) {
          i *= 2;
          if (tree_[i] > v) ++i;
        }
        return static_cast<int64_t>(i - leaves_);
      }
      while (i & 1) i >>= 1;  // up while a right child; past the root means nothing is left
      if (i == 0) return -1;
      ++i;
    }
  }

  // Scans on from (q, nest) up to `until` for the ")" that brings the nesting to `target`.
  static int64_t find_fall(const uint8_t *data, int64_t q, int32_t nest, int64_t until,
                           int32_t target) {
    while (q < until) {
      uint8_t c = data[q];
      if (c == '\\') {
        q += 2;
        continue;
      }
      if (c == '(') {
        nest++;
      } else if (c == ')') {
        if (--nest == target) return q + 1;
      }
      q++;
    }
    return -1;
  }

  int32_t from_profile(const uint8_t *data, int32_t x) const {
    const int64_t k = (x - static_cast<int64_t>(from_)) / block_;
    int64_t q = entry_q_[static_cast<size_t>(k)];
    int32_t nest = entry_nest_[static_cast<size_t>(k)];
    while (q < x) {
      uint8_t c = data[q];
      if (c == '\\') {
        q += 2;
        continue;
      }
      if (c == '(') nest++;
      if (c == ')') nest--;
      q++;
    }
    // x opens a string of its own; to the scan from `from_` it was either an opening
    // parenthesis (target: the nesting before it) or an escaped byte (one level less).
    int32_t target;
    if (q == x) {
      target = nest;
      nest++;
      q = x + 1;
    } else {
      target = nest - 1;
    }
    const int64_t block_end = std::min<int64_t>(stop_, from_ + (k + 1) * block_);
    int64_t r = find_fall(data, q, nest, block_end, target);
    if (r >= 0) return static_cast<int32_t>(r);
    // Nesting falls only at ")", so the first block reaching the target holds the place.
    int64_t b = first_block_at_most(k + 1, target);
    if (b < 0) return -1;
    r = find_fall(data, entry_q_[static_cast<size_t>(b)], entry_nest_[static_cast<size_t>(b)],
                  std::min<int64_t>(stop_, from_ + (b + 1) * block_), target);
    return static_cast<int32_t>(r);
  }

  forward_cache rparen_;
  int32_t lim_ = -1, from_ = -1, stop_ = -1;
  int64_t block_ = 256, nblocks_ = 0;
  size_t leaves_ = 1;
  std::vector<int64_t> entry_q_;
  std::vector<int32_t> entry_nest_;
  std::vector<int32_t> tree_;  // lowest nesting after a ")" per block, and minima above
};

// find_dict_close for a whole batch of starts (the "<" of each head's value), with the same
// answers. One walk from a start also settles every later start that it passes over, as
// such a start reads the same tokens the walk reads:
//   - a start reached at depth 0 (outside any dictionary) continues exactly as the walk does,
//     so it gets the walk's answer; so does a single "<" inside a hexadecimal string that the
//     walk skips at depth 0, because both strings end at the same ">";
//   - a start reached at depth d >= 1 counts its own depth as the walk's depth less the
//     lowest depth the walk has had since the start (a ">>" with no open dictionary of its
//     own is stepped over). Its dictionary opens at the first "<<" the walk meets at that
//     lowest depth, and closes where the walk closes that "<<".
// Starts that the walk passes inside literal strings, or behind the walk's own end, get walks
// of their own. A file of heads that never close (10 MB of "1 0 obj <") is thus measured in
// one walk instead of one per head.
class dict_closer {
 public:
  // qpos: ascending starts, each holding "<"; qans receives the answers.
  void solve(const uint8_t *data, int32_t len, const int32_t *qpos, int32_t *qans, int32_t nq) {
    for (int32_t i = 0; i < nq; ++i) qans[i] = k_unknown;
    for (int32_t i = 0; i < nq; ++i)
      if (qans[i] == k_unknown) walk(data, len, qpos, qans, nq, i);
  }

  // Room for batches of n starts; no walk allocates afterwards.
  bool reserve(int32_t n) {
    try {
      const size_t m = static_cast<size_t>(n);
      at_zero_.reserve(m);
      waiting_.reserve(m);
      groups_.reserve(m);
      attached_.reserve(m);
      opens_.reserve(m);
      return true;
    } catch (const std::bad_alloc &) {
      return false;
    }
  }

 private:
  // Starts waiting for their first "<<", the walk's lowest depth since each of them being
  // `depth`: waiting_[begin] up to the next group's begin. Depths rise from group to group.
  struct group {
    int32_t depth;
    int32_t begin;
  };
  // A "<<" that opened the dictionary of the starts attached_[begin, end).
  struct open_at {
    int32_t depth;  // the walk's depth before it
    int32_t begin;
    int32_t end;
  };

  void wait(int32_t q, int32_t depth) {
    if (groups_.empty() || groups_.back().depth < depth)
      groups_.push_back({depth, static_cast<int32_t>(waiting_.size())});
    waiting_.push_back(q);
  }

  void walk(const uint8_t *data, int32_t len, const int32_t *qpos, int32_t *qans, int32_t nq,
            int32_t i) {
    at_zero_.clear();
    waiting_.clear();
    groups_.clear();
    attached_.clear();
    opens_.clear();
    int32_t depth = 0;
    int32_t result = -1;
    bool failed = true;
    int32_t j = i;
    int32_t p = qpos[i];
    auto settle_here = [&](int32_t q) {
      if (depth == 0)
        at_zero_.push_back(q);
      else
        wait(q, depth);
    };
    while (p < len) {
      uint8_t c = data[p];
      if (c == '<') {
        while (j < nq && qpos[j] < p) ++j;
        const bool start_here = j < nq && qpos[j] == p;
        if (p + 1 >= len) {
          if (start_here) at_zero_.push_back(j);  // it fails the same way
          break;
        }
        if (start_here) settle_here(j++);
        if (data[p + 1] == '<') {
          if (!groups_.empty() && groups_.back().depth == depth) {
            const int32_t b = static_cast<int32_t>(attached_.size());
            attached_.insert(attached_.end(), waiting_.begin() + groups_.back().begin,
                             waiting_.end());
            waiting_.resize(static_cast<size_t>(groups_.back().begin));
            groups_.pop_back();
            opens_.push_back({depth, b, static_cast<int32_t>(attached_.size())});
          }
          ++depth;
          p += 2;
        } else {
          int32_t gt = gt_.next(p + 1, [&](int32_t at) {
            if (at >= len) return -1;
            const void *h = std::memchr(data + at, '>', static_cast<size_t>(len - at));
            return h ? static_cast<int32_t>(static_cast<const uint8_t *>(h) - data) : -1;
          });
          if (gt < 0) {
            // No ">" anywhere after p: no later start can close a dictionary either.
            for (; j < nq; ++j) at_zero_.push_back(j);
            break;
          }
          // A single "<" inside the string opens a string ending at the same ">".
          for (; j < nq && qpos[j] < gt; ++j)
            if (data[qpos[j] + 1] != '<') settle_here(j);
          p = gt + 1;
        }
      } else if (c == '>') {
        if (p + 1 >= len) break;
        if (data[p + 1] == '>') {
          if (depth > 0) {
            --depth;
            if (!opens_.empty() && opens_.back().depth == depth) {
              const open_at &o = opens_.back();
              for (int32_t k = o.begin; k < o.end; ++k) qans[attached_[static_cast<size_t>(k)]] = p;
              attached_.resize(static_cast<size_t>(o.begin));
              opens_.pop_back();
            }
            if (depth == 0) {
              result = p;
              failed = false;
              break;
            }
            int32_t begin = -1;
            while (!groups_.empty() && groups_.back().depth > depth) {
              begin = groups_.back().begin;
              groups_.pop_back();
            }
            if (begin >= 0 && (groups_.empty() || groups_.back().depth < depth))
              groups_.push_back({depth, begin});
          }
          p += 2;
        } else {
          ++p;
        }
      } else if (c == '(') {
        p = literals_.skip(data, p, len);
        if (p < 0) break;
      } else {
        ++p;
        while (p < len && !is_dict_special(data[p])) ++p;
      }
    }
    for (int32_t q : at_zero_) qans[q] = result;
    if (failed) {
      // Every start still inside the walk reads the same bytes up to the failure.
      for (int32_t q : waiting_) qans[q] = -1;
      for (int32_t q : attached_) qans[q] = -1;
    }
    // After a successful end the starts still waiting read on past it: they get walks of
    // their own.
  }

  std::vector<int32_t> at_zero_;
  std::vector<int32_t> waiting_;
  std::vector<group> groups_;
  std::vector<int32_t> attached_;
  std::vector<open_at> opens_;
  forward_cache gt_;
  literal_ends literals_;
};

// Where stream data begin, from the stream keyword at k: past spaces and tabs and then one
// end-of-line (CR LF, CR or LF); with anything else there, at k + 7 as the keyword's
// single following byte is taken for the end-of-line.
int32_t stream_data_start(const uint8_t *data, int32_t len, int32_t k) {
  int64_t q = static_cast<int64_t>(k) + 6;
  while (q < len && (data[q] == ' ' || data[q] == '\t')) ++q;
  if (q < len && data[q] == '\r')
    return static_cast<int32_t>(q + 1 < len && data[q + 1] == '\n' ? q + 2 : q + 1);
  if (q < len && data[q] == '\n') return static_cast<int32_t>(q + 1);
  // A stream keyword at the very end of the file leaves no data.
  return static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(k) + 7, len));
}

struct head_cand {
  int32_t kw;     // the obj keyword
  int32_t head;   // first digit of the object number
  int32_t num;
  int32_t gen;
  int32_t value;  // first byte after obj and white space
};

// Turns one head into a table entry (or nothing, when its object never ends).
void enter_head(const uint8_t *data, int32_t len, const head_cand &h, int32_t close,
                forward_cache &endobj, objvec &objs) {
  pdf_obj e;
  e.num = h.num;
  e.gen = h.gen;
  e.head = h.head;
  e.file_pos = h.head;
  auto next_endobj = [&](int32_t at) {
    return endobj.next(at, [&](int32_t a) { return find_word(data, len, a, "endobj", 6); });
  };
  if (h.value < len && data[h.value] == '<') {
    e.dict = h.value;
    int32_t k = -1;
    if (close >= 0) {
      int32_t s = skip_ws(data, close + 2, len);
      if (kw_at(data, s, len, "stream")) k = s;
    }
    if (k >= 0) {
      e.is_stream = 1;
      e.stream_kw = k;
      e.stream_start = stream_data_start(data, len, k);
      objvec_push(objs, e);
      return;
    }
    e.endobj = next_endobj(e.dict);
  } else {
    e.endobj = next_endobj(h.kw + 3);
  }
  if (e.endobj < 0) return;
  e.obj_end = e.endobj + 6;
  objvec_push(objs, e);
}

// Measures the dictionaries of a batch of heads and enters them.
void enter_batch(const uint8_t *data, int32_t len, const head_cand *hc, int32_t n,
                 std::vector<int32_t> &qpos, std::vector<int32_t> &qans, dict_closer &closer,
                 forward_cache &endobj, objvec &objs) {
  qpos.clear();
  for (int32_t i = 0; i < n; ++i)
    if (hc[i].value < len && data[hc[i].value] == '<') qpos.push_back(hc[i].value);
  qans.resize(qpos.size());
  closer.solve(data, len, qpos.data(), qans.data(), static_cast<int32_t>(qpos.size()));
  int32_t qi = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t close = -1;
    if (qi < static_cast<int32_t>(qpos.size()) && qpos[qi] == hc[i].value) close = qans[qi++];
    enter_head(data, len, hc[i], close, endobj, objs);
  }
}

// /Length read from a stream's dictionary range: the first usable occurrence at or after
// `dict`, and where its "/" stands (-1 with no usable occurrence).
struct length_value {
  int32_t slash = -1;
  int32_t direct = -1;
  int32_t ref = -1;
};

length_value first_length(const uint8_t *data, int32_t len, int32_t dict, int32_t end) {
  length_value out;
  const int32_t lim = std::min(len, end);
  for (int32_t at = find_name(data, len, dict, end, "Length"); at >= 0;
       at = find_name(data, len, at + 1, end, "Length")) {
    // The byte right after the name is passed over unseen: it can only be a delimiter.
    int32_t p = skip_ws(data, at + 8, lim);
    if (p >= lim) continue;
    if (data[p] == '[') {
      // An array length counts by its last non-negative integer.
      int32_t last = -1;
      int32_t q = p + 1;
      while (q < lim && data[q] != ']') {
        if (is_digit(data[q]) || data[q] == '-') {
          int32_t before = q;
          int32_t v = parse_int_at(data, lim, &q);
          if (v >= 0) last = v;
          if (q == before) ++q;
        } else {
          ++q;
        }
      }
      if (last < 0) continue;
      out.slash = at;
      out.direct = last;
      return out;
    }
    if (!is_digit(data[p]) && data[p] != '-') continue;
    int32_t v = parse_int_at(data, lim, &p);
    if (v < 0) continue;
    out.slash = at;
    int32_t q = skip_ws(data, p, lim);
    if (q < lim && is_digit(data[q])) {
      parse_int_at(data, lim, &q);
      q = skip_ws(data, q, lim);
      if (q < lim && data[q] == 'R' && (q + 1 >= lim || !is_alnum(data[q + 1]))) {
        out.ref = v;
        return out;
      }
    }
    out.direct = v;
    return out;
  }
  return out;
}

// The integer stored in a plain object "num gen obj value": the length a reference names.
int32_t int_after_head(const uint8_t *data, int32_t len, int32_t head) {
  if (head < 0 || head >= len) return -1;
  int32_t p = head;
  while (p < len && is_digit(data[p])) ++p;
  p = skip_ws(data, p, len);
  if (p < len && is_digit(data[p])) {
    while (p < len && is_digit(data[p])) ++p;
    p = skip_ws(data, p, len);
  }
  if (kw_at(data, p, len, "obj")) p = skip_ws(data, p + 3, len);
  return parse_int_at(data, len, &p);
}

// Lengths held in other objects, looked up by object number during the second pass. The
// table still holds every head then, so a linear obj_find per stream would be quadratic;
// each referenced object is also read only once however many streams name it.
class ref_lengths {
 public:
  explicit ref_lengths(const objvec &objs) : objs_(objs) {}

  // -1 when the length is undetermined: no such object (one inside an object stream is not
  // in the table yet), a stream, or no integer after the head.
  int32_t get(const uint8_t *data, int32_t len, int32_t num) {
    if (!built_) build();
    if (!ok_) return read(data, len, obj_find(objs_, num));
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(),
                               std::pair<int32_t, int32_t>(num, -1));
    if (it == sorted_.end() || it->first != num) return -1;
    int32_t &memo = value_[static_cast<size_t>(it->second)];
    if (memo == k_unknown) memo = read(data, len, &objs_.items[static_cast<size_t>(it->second)]);
    return memo;
  }

 private:
  static int32_t read(const uint8_t *data, int32_t len, const pdf_obj *target) {
    if (!target || target->is_stream) return -1;
    int32_t v = int_after_head(data, len, target->head);
    return v < 0 ? -1 : v;
  }

  void build() {
    built_ = true;
    try {
      sorted_.reserve(objs_.items.size());
      for (size_t i = 0; i < objs_.items.size(); ++i)
        sorted_.emplace_back(objs_.items[i].num, static_cast<int32_t>(i));
      std::sort(sorted_.begin(), sorted_.end());  // the first entry of a number sorts first
      value_.assign(objs_.items.size(), k_unknown);
      ok_ = true;
    } catch (const std::bad_alloc &) {
      std::vector<std::pair<int32_t, int32_t>>().swap(sorted_);
    }
  }

  const objvec &objs_;
  std::vector<std::pair<int32_t, int32_t>> sorted_;
  std::vector<int32_t> value_;
  bool built_ = false;
  bool ok_ = false;
};

// Everything the second pass reuses between streams.
struct pass2_state {
  explicit pass2_state(const objvec &objs) : refs(objs) {}
  ref_lengths refs;
  forward_cache endstream, endobj, nonspace;
  // The last /Length answer serves another stream whose dictionary range has the same end and
  // starts between the last start and the occurrence found.
  int32_t len_end = -1, len_from = -1;
  length_value len_val;
  bool len_valid = false;
};

int64_t stream_length(const uint8_t *data, int32_t len, const pdf_obj &o, pass2_state &st) {
  if (!(st.len_valid && st.len_end == o.stream_kw && o.dict >= st.len_from &&
        (st.len_val.slash < 0 || o.dict <= st.len_val.slash))) {
    st.len_val = first_length(data, len, o.dict, o.stream_kw);
    st.len_end = o.stream_kw;
    st.len_from = o.dict;
    st.len_valid = true;
  }
  if (st.len_val.direct >= 0) return st.len_val.direct;
  if (st.len_val.ref < 0) return -1;
  return st.refs.get(data, len, st.len_val.ref);
}

// Settles where a stream's data end and where its object closes. A length that is
// undetermined or does not land on endstream gives way to a search for the keyword.
void settle_stream(const uint8_t *data, int32_t len, pdf_obj &o, pass2_state &st) {
  int64_t end = -1;
  int64_t length = o.dict >= 0 ? stream_length(data, len, o, st) : -1;
  if (length >= 0) {
    int64_t e = static_cast<int64_t>(o.stream_start) + length;
    if (e <= len) {
      int32_t q = st.nonspace.next(static_cast<int32_t>(e), [&](int32_t at) {
        int32_t p = at;
        while (p < len && is_c_space(data[p])) ++p;
        return p;
      });
      if (static_cast<int64_t>(q) + 9 <= len && std::memcmp(data + q, "endstream", 9) == 0)
        end = e;
    }
  }
  if (end < 0) {
    int64_t from = static_cast<int64_t>(o.stream_start) + 1;
    int32_t f = from > len ? -1 : st.endstream.next(static_cast<int32_t>(from), [&](int32_t at) {
      return find_word(data, len, at, "endstream", 9);
    });
    if (f < 0) {
      end = len;
    } else if (f > o.stream_start) {
      // The end-of-line before endstream belongs to the keyword, not to the data.
      end = f;
      if (data[end - 1] == '\n') {
        --end;
        if (end - 1 > o.stream_start && data[end - 1] == '\r') --end;
      } else if (data[end - 1] == '\r') {
        --end;
      }
    } else {
      end = f;
    }
  }
  end = std::max<int64_t>(end, o.stream_start);
  o.stream_end = static_cast<int32_t>(end);
  o.endobj = -1;
  o.obj_end = -1;
  if (end + 1 <= len) {
    o.endobj = st.endobj.next(static_cast<int32_t>(end + 1), [&](int32_t at) {
      return find_word(data, len, at, "endobj", 6);
    });
  }
  if (o.endobj >= 0) o.obj_end = o.endobj + 6;
}

struct rng {
  int32_t start;
  int32_t end;
};

int qx_rng_cmp(const void *a, const void *b) {
  int32_t x = static_cast<const rng *>(a)->start, y = static_cast<const rng *>(b)->start;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Keeps the entries for which keep() holds, in their order.
template <class Keep>
void compact(objvec &objs, Keep &&keep) {
  size_t out = 0;
  for (size_t i = 0; i < objs.items.size(); ++i)
    if (keep(objs.items[i])) {
      if (out != i) objs.items[out] = objs.items[i];
      ++out;
    }
  objs.items.resize(out);
}

// Drops broken streams and every apparent object whose head lies in some stream's data.
void remove_false_entries(objvec &objs) {
  std::vector<rng> ranges;
  std::vector<int32_t> run_max;
  try {
    for (const pdf_obj &o : objs.items)
      if (o.is_stream && o.stream_start >= 0 && o.stream_start < o.stream_end)
        ranges.push_back({o.stream_start, o.stream_end});
    run_max.resize(ranges.size());
  } catch (const std::bad_alloc &) {
    // Short of memory the same test is made entry against entry. Entries are marked first
    // (number 0, which no head carries) so that every test sees the ranges of the whole table.
    for (pdf_obj &o : objs.items) {
      bool drop = o.is_stream && o.endobj == -1;
      for (size_t k = 0; !drop && k < objs.items.size(); ++k) {
        const pdf_obj &s = objs.items[k];
        drop = &s != &o && s.is_stream && s.stream_start >= 0 && o.head >= s.stream_start &&
               o.head < s.stream_end;
      }
      if (drop) o.num = 0;
    }
    compact(objs, [](const pdf_obj &o) { return o.num != 0; });
    return;
  }
  if (!ranges.empty()) std::qsort(ranges.data(), ranges.size(), sizeof(rng), qx_rng_cmp);
  int32_t m = -1;
  for (size_t i = 0; i < ranges.size(); ++i) {
    m = std::max(m, ranges[i].end);
    run_max[i] = m;
  }
  auto inside = [&](int32_t head) {
    // The last range starting at or before the head; any earlier range reaching past it
    // shows in the running maximum.
    size_t lo = 0, hi = ranges.size();
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (ranges[mid].start <= head)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo > 0 && head < run_max[lo - 1];
  };
  compact(objs, [&](const pdf_obj &o) {
    if (o.is_stream && o.endobj == -1) return false;
    return !(o.head >= 0 && inside(o.head));
  });
}

// The end of an object's dictionary range: the stream keyword, else endobj, else the file end.
int32_t dict_range_end(int32_t len, const pdf_obj &o) {
  if (o.stream_kw > 0) return o.stream_kw;
  if (o.endobj > 0) return o.endobj;
  return len;
}

// Which of two occurrences of one object number is the newer: the one standing later in the
// file, a packed object standing where its container stands; later table order breaks ties.
bool newer_or_same(const pdf_obj &a, const pdf_obj &b) { return a.file_pos >= b.file_pos; }

}  // namespace

int32_t name_search::find(const uint8_t *data, int32_t len, int32_t start, int32_t stop) {
  if (valid && stop == end && start >= from && (hit < 0 || start <= hit)) return hit;
  hit = find_name(data, len, start, stop, name);
  from = start;
  end = stop;
  valid = true;
  return hit;
}

bool obj_is_objstm(const uint8_t *data, int32_t len, const pdf_obj &obj, name_search *cache) {
  if (!obj.is_stream || obj.in_objstm || obj.dict < 0) return false;
  int32_t end = dict_range_end(len, obj);
  if (cache) return cache->find(data, len, obj.dict, end) >= 0;
  return find_name(data, len, obj.dict, end, "ObjStm") >= 0;
}

int32_t parse_obj_head(const uint8_t *data, int32_t pos, int32_t *num, int32_t *gen) {
  if (!data || pos <= 0) return -1;
  int32_t i = pos - 1;
  while (i >= 0 && is_c_space(data[i])) --i;
  if (i < 0 || !is_digit(data[i])) return -1;
  const int32_t gen_end = i + 1;
  while (i >= 0 && is_digit(data[i])) --i;
  const int32_t gen_start = i + 1;
  if (i < 0) return -1;
  while (i >= 0 && is_c_space(data[i])) --i;
  if (i < 0 || !is_digit(data[i])) return -1;
  const int32_t num_end = i + 1;
  while (i >= 0 && is_digit(data[i])) --i;
  const int32_t num_start = i + 1;
  if (i >= 0 && is_alnum(data[i])) return -1;
  uint32_t n = 0, g = 0;
  for (int32_t k = num_start; k < num_end; ++k) n = n * 10u + static_cast<uint32_t>(data[k] - '0');
  for (int32_t k = gen_start; k < gen_end; ++k) g = g * 10u + static_cast<uint32_t>(data[k] - '0');
  if (static_cast<int32_t>(n) < 1) return -1;
  *num = static_cast<int32_t>(n);
  *gen = static_cast<int32_t>(g);
  return num_start;
}

void parse_length(const uint8_t *data, int32_t len, int32_t dict, int32_t end, int32_t *direct,
                  int32_t *ref) {
  length_value v = data && dict >= 0 ? first_length(data, len, dict, end) : length_value{};
  *direct = v.direct;
  *ref = v.ref;
}

pdf_obj *objvec_push(objvec &objs, const pdf_obj &entry) {
  try {
    if (objs.items.size() == objs.items.capacity())
      objs.items.reserve(objs.items.empty() ? 128 : objs.items.capacity() * 2);
    objs.items.push_back(entry);
  } catch (const std::bad_alloc &) {
    return nullptr;
  } catch (const std::length_error &) {
    return nullptr;
  }
  return &objs.items.back();
}

const pdf_obj *obj_find(const objvec &objs, int32_t num) {
  if (!objs.index.empty()) {
    if (num < 0 || static_cast<size_t>(num) >= objs.index.size()) return nullptr;
    int32_t i = objs.index[static_cast<size_t>(num)];
    if (i < 0) return nullptr;
    if (static_cast<size_t>(i) < objs.items.size() && objs.items[static_cast<size_t>(i)].num == num)
      return &objs.items[static_cast<size_t>(i)];
    // An index that no longer matches the table is not trusted.
  }
  for (const pdf_obj &o : objs.items)
    if (o.num == num) return &o;
  return nullptr;
}

bool obj_dict_text(const uint8_t *data, int32_t len, const pdf_obj &obj, const uint8_t **text,
                   int32_t *text_len) {
  *text = nullptr;
  *text_len = 0;
  if (obj.in_objstm) {
    if (!obj.text || obj.text_len <= 0) return false;
    *text = obj.text;
    *text_len = obj.text_len;
    return true;
  }
  if (!data || obj.dict < 0 || obj.dict >= len) return false;
  int32_t end = std::min(dict_range_end(len, obj), len);
  if (end <= obj.dict) return false;
  *text = data + obj.dict;
  *text_len = end - obj.dict;
  return true;
}

namespace {

// White space after an object's "obj", comments included: producers write "1 0 obj % note"
// before the dictionary, and the object must still be seen as one.
int32_t skip_ws_comments(const uint8_t *data, int32_t p, int32_t len) {
  p = skip_ws(data, p, len);
  while (p < len && data[p] == '%') {
    while (p < len && data[p] != '\n' && data[p] != '\r') ++p;
    p = skip_ws(data, p, len);
  }
  return p;
}

}  // namespace

void scan_pass1(const uint8_t *data, int32_t len, objvec &objs) {
  if (!data || len < 4) return;
  std::vector<head_cand> batch;
  std::vector<int32_t> qpos, qans;
  dict_closer closer;
  int32_t cap = k_head_batch;
  // Smaller batches only cost walks that cannot be shared; they never change an answer.
  for (;;) {
    try {
      batch.reserve(static_cast<size_t>(cap));
      qpos.reserve(static_cast<size_t>(cap));
      qans.reserve(static_cast<size_t>(cap));
      if (closer.reserve(cap)) break;
    } catch (const std::bad_alloc &) {
    }
    if (cap == 1) return;
    cap /= 16;
    if (cap < 1) cap = 1;
  }
  forward_cache endobj;
  const int32_t last = len - 4;
  int32_t p = 0;
  while (p <= last) {
    p = find_bytes(data, len, p, "obj", 3);
    if (p < 0 || p > last) break;
    int32_t num, gen, head;
    // endobj and other words ending in obj fail the whole-word test here.
    if (kw_at(data, p, len, "obj") && (head = parse_obj_head(data, p, &num, &gen)) >= 0) {
      batch.push_back({p, head, num, gen, skip_ws_comments(data, p + 3, len)});
      if (static_cast<int32_t>(batch.size()) == cap) {
        enter_batch(data, len, batch.data(), cap, qpos, qans, closer, endobj, objs);
        batch.clear();
      }
    }
    ++p;
  }
  enter_batch(data, len, batch.data(), static_cast<int32_t>(batch.size()), qpos, qans, closer,
              endobj, objs);
}

void scan_pass2(const uint8_t *data, int32_t len, objvec &objs) {
  if (!data) return;
  pass2_state st(objs);
  for (pdf_obj &o : objs.items)
    if (o.is_stream && !o.in_objstm && o.stream_start >= 0) settle_stream(data, len, o, st);
  remove_false_entries(objs);
}

int32_t scan_final_pass(const uint8_t *data, int32_t len, objvec &objs) {
  objs.index.clear();
  name_search objstm{"ObjStm"};
  std::vector<char> container;
  int32_t max = 0;
  bool have_flags = true;
  try {
    container.resize(objs.items.size());
  } catch (const std::bad_alloc &) {
    have_flags = false;
  }
  for (size_t j = 0; j < objs.items.size(); ++j) {
    const pdf_obj &o = objs.items[j];
    bool c = obj_is_objstm(data, len, o, &objstm);
    if (have_flags) container[j] = c;
    if (!c && o.num >= 1 && o.num <= k_max_obj_num) max = std::max(max, o.num);
  }
  auto eligible = [&](size_t j) {
    const pdf_obj &o = objs.items[j];
    if (o.num < 1 || o.num > k_max_obj_num) return false;
    return have_flags ? !container[j] : !obj_is_objstm(data, len, o, nullptr);
  };

  std::vector<int32_t> best;
  try {
    best.assign(static_cast<size_t>(max) + 1, -1);
  } catch (const std::bad_alloc &) {
    // Without the index array: order by number and position, keeping table order among
    // equals (stable_sort falls back to an in-place merge without memory), and keep the
    // last of each run.
    compact(objs, [&](const pdf_obj &o) {
      return o.num >= 1 && o.num <= k_max_obj_num && !obj_is_objstm(data, len, o, nullptr);
    });
    std::stable_sort(objs.items.begin(), objs.items.end(), [](const pdf_obj &a, const pdf_obj &b) {
      return a.num != b.num ? a.num < b.num : a.file_pos < b.file_pos;
    });
    size_t out = 0;
    for (size_t i = 0; i < objs.items.size(); ++i) {
      if (i + 1 < objs.items.size() && objs.items[i + 1].num == objs.items[i].num) continue;
      objs.items[out++] = objs.items[i];
    }
    objs.items.resize(out);
    return objs.items.empty() ? 0 : objs.items.back().num;
  }
  for (size_t j = 0; j < objs.items.size(); ++j) {
    if (!eligible(j)) continue;
    int32_t &b = best[static_cast<size_t>(objs.items[j].num)];
    if (b < 0 || newer_or_same(objs.items[j], objs.items[static_cast<size_t>(b)]))
      b = static_cast<int32_t>(j);
  }
  size_t out = 0;
  int32_t kept_max = 0;
  for (size_t j = 0; j < objs.items.size(); ++j) {
    const int32_t num = objs.items[j].num;
    if (num < 1 || num > max || best[static_cast<size_t>(num)] != static_cast<int32_t>(j))
      continue;
    best[static_cast<size_t>(num)] = static_cast<int32_t>(out);  // becomes the index
    if (out != j) objs.items[out] = objs.items[j];
    ++out;
    kept_max = std::max(kept_max, num);
  }
  objs.items.resize(out);
  if (out > 0) objs.index = std::move(best);
  return kept_max;
}
