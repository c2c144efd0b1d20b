#include "deflate.h"

#include "pdfcore/deflate_tables.h"

#include <algorithm>
#include <queue>
#include <utility>

namespace {

constexpr int k_window = 32768;
constexpr int k_min_match = 3;
constexpr int k_max_match = 258;
constexpr int k_hash_bits = 15;
// Candidates tried per position: enough for the long runs of a mostly white page, bounded so
// that noisy scans stay quick.
constexpr int k_max_chain = 48;
constexpr size_t k_block_tokens = size_t{1} << 16;

struct bit_writer {
  std::vector<uint8_t> &out;
  uint64_t acc = 0;
  int count = 0;

  void put(uint32_t bits, int n) {
    acc |= static_cast<uint64_t>(bits) << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      count -= 8;
    }
  }
  void flush() {
    if (count > 0) out.push_back(static_cast<uint8_t>(acc));
    acc = 0;
    count = 0;
  }
};

// A literal when dist is 0, else a match of length len_or_lit at distance dist.
struct token {
  uint16_t len_or_lit;
  uint16_t dist;
};

int len_code(int len) {
  int c = 28;
  while (k_deflate_len_base[c] > len) --c;
  return c;
}

int dist_code(int dist) {
  int c = 29;
  while (k_deflate_dist_base[c] > dist) --c;
  return c;
}

// Huffman code lengths for the frequencies, none longer than limit. When the optimal tree is
// too deep the frequencies are halved (used symbols stay used) until it fits; with all of them
// at 1 the tree is balanced, which every limit used here allows.
void code_lengths(std::vector<uint32_t> freq, int limit, std::vector<uint8_t> &lengths) {
  const int n = static_cast<int>(freq.size());
  lengths.assign(n, 0);
  for (;;) {
    std::vector<uint64_t> weight;
    std::vector<int> parent;
    using item = std::pair<uint64_t, int>;
    std::priority_queue<item, std::vector<item>, std::greater<item>> heap;
    std::vector<int> leaf_node(n, -1);
    for (int i = 0; i < n; ++i) {
      if (freq[i] == 0) continue;
      leaf_node[i] = static_cast<int>(weight.size());
      heap.push({freq[i], leaf_node[i]});
      weight.push_back(freq[i]);
      parent.push_back(-1);
    }
    if (weight.size() < 2) {
      for (int i = 0; i < n; ++i)
        if (leaf_node[i] >= 0) lengths[i] = 1;
      return;
    }
    while (heap.size() > 1) {
      const item a = heap.top();
      heap.pop();
      const item b = heap.top();
      heap.pop();
      const int node = static_cast<int>(weight.size());
      weight.push_back(a.first + b.first);
      parent.push_back(-1);
      parent[a.second] = node;
      parent[b.second] = node;
      heap.push({a.first + b.first, node});
    }
    // Parents are made after their children, so depths fill in from the root down.
    std::vector<int> depth(weight.size(), 0);
    for (int node = static_cast<int>(weight.size()) - 2; node >= 0; --node)
      depth[node] = depth[parent[node]] + 1;
    int deepest = 0;
    for (int i = 0; i < n; ++i)
      if (leaf_node[i] >= 0) deepest = std::max(deepest, depth[leaf_node[i]]);
    if (deepest <= limit) {
      for (int i = 0; i < n; ++i)
        if (leaf_node[i] >= 0) lengths[i] = static_cast<uint8_t>(depth[leaf_node[i]]);
      return;
    }
    for (uint32_t &f : freq)
      if (f > 0) f = std::max<uint32_t>(1, f >> 1);
  }
}

// Canonical codes for the lengths, bit-reversed because Deflate sends codes from their top bit
// while the writer fills bytes from the bottom.
std::vector<uint16_t> canonical_codes(const std::vector<uint8_t> &lengths) {
  int count[16] = {};
  for (uint8_t l : lengths) count[l]++;
  count[0] = 0;
  int next[16] = {};
  int code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t i = 0; i < lengths.size(); ++i) {
    const int l = lengths[i];
    if (l == 0) continue;
    int c = next[l]++, r = 0;
    for (int b = 0; b < l; ++b, c >>= 1) r = (r << 1) | (c & 1);
    codes[i] = static_cast<uint16_t>(r);
  }
  return codes;
}

// Some decoders refuse a table with fewer than two codes, so one is added where a table would
// have only one or none.
void keep_two_used(std::vector<uint32_t> &freq) {
  int used = 0;
  for (uint32_t f : freq) used += f > 0;
  for (size_t i = 0; used < 2 && i < freq.size(); ++i)
    if (freq[i] == 0) freq[i] = 1, ++used;
}

void write_block(bit_writer &bw, const std::vector<token> &tokens, bool last) {
  std::vector<uint32_t> lit_freq(286, 0), dist_freq(30, 0);
  for (const token &t : tokens) {
    if (t.dist == 0) {
      lit_freq[t.len_or_lit]++;
    } else {
      lit_freq[257 + len_code(t.len_or_lit)]++;
      dist_freq[dist_code(t.dist)]++;
    }
  }
  lit_freq[256] = 1;
  keep_two_used(lit_freq);
  keep_two_used(dist_freq);
  std::vector<uint8_t> lit_len, dist_len;
  code_lengths(lit_freq, 15, lit_len);
  code_lengths(dist_freq, 15, dist_len);
  int hlit = 286, hdist = 30;
  while (hlit > 257 && lit_len[hlit - 1] == 0) --hlit;
  while (hdist > 1 && dist_len[hdist - 1] == 0) --hdist;

  // The two tables' lengths form one sequence, coded with runs (16: repeat the previous length
  // 3-6 times, 17 and 18: 3-10 and 11-138 zeros).
  std::vector<uint8_t> seq(lit_len.begin(), lit_len.begin() + hlit);
  seq.insert(seq.end(), dist_len.begin(), dist_len.begin() + hdist);
  struct rle_item {
    uint8_t sym, extra;
  };
  std::vector<rle_item> rle;
  for (size_t i = 0; i < seq.size();) {
    const uint8_t v = seq[i];
    size_t run = 1;
    while (i + run < seq.size() && seq[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const size_t take = std::min<size_t>(run, 138);
        rle.push_back({18, static_cast<uint8_t>(take - 11)});
        run -= take;
      }
      if (run >= 3) {
        rle.push_back({17, static_cast<uint8_t>(run - 3)});
        run = 0;
      }
    } else {
      rle.push_back({v, 0});
      --run;
      while (run >= 3) {
        const size_t take = std::min<size_t>(run, 6);
        rle.push_back({16, static_cast<uint8_t>(take - 3)});
        run -= take;
      }
    }
    for (; run > 0; --run) rle.push_back({v, 0});
  }
  std::vector<uint32_t> clen_freq(19, 0);
  for (const rle_item &r : rle) clen_freq[r.sym]++;
  std::vector<uint8_t> clen_len;
  code_lengths(clen_freq, 7, clen_len);
  int hclen = 19;
  while (hclen > 4 && clen_len[k_deflate_clen_order[hclen - 1]] == 0) --hclen;

  const std::vector<uint16_t> lit_code = canonical_codes(lit_len);
  const std::vector<uint16_t> dist_code_of = canonical_codes(dist_len);
  const std::vector<uint16_t> clen_code = canonical_codes(clen_len);

  bw.put(last ? 1 : 0, 1);
  bw.put(2, 2);
  bw.put(static_cast<uint32_t>(hlit - 257), 5);
  bw.put(static_cast<uint32_t>(hdist - 1), 5);
  bw.put(static_cast<uint32_t>(hclen - 4), 4);
  for (int i = 0; i < hclen; ++i) bw.put(clen_len[k_deflate_clen_order[i]], 3);
  for (const rle_item &r : rle) {
    bw.put(clen_code[r.sym], clen_len[r.sym]);
    if (r.sym == 16) bw.put(r.extra, 2);
    if (r.sym == 17) bw.put(r.extra, 3);
    if (r.sym == 18) bw.put(r.extra, 7);
  }
  for (const token &t : tokens) {
    if (t.dist == 0) {
      bw.put(lit_code[t.len_or_lit], lit_len[t.len_or_lit]);
      continue;
    }
    const int lc = len_code(t.len_or_lit);
    bw.put(lit_code[257 + lc], lit_len[257 + lc]);
    bw.put(static_cast<uint32_t>(t.len_or_lit - k_deflate_len_base[lc]), k_deflate_len_extra[lc]);
    const int dc = dist_code(t.dist);
    bw.put(dist_code_of[dc], dist_len[dc]);
    bw.put(static_cast<uint32_t>(t.dist - k_deflate_dist_base[dc]), k_deflate_dist_extra[dc]);
  }
  bw.put(lit_code[256], lit_len[256]);
}

uint32_t hash3(const uint8_t *p) {
  return ((static_cast<uint32_t>(p[0]) << 10) ^ (static_cast<uint32_t>(p[1]) << 5) ^ p[2]) &
         ((1u << k_hash_bits) - 1);
}

}  // namespace

std::vector<uint8_t> zlib_deflate(const uint8_t *data, size_t n) {
  std::vector<uint8_t> out = {0x78, 0x9C};
  bit_writer bw{out};
  std::vector<int64_t> head(size_t{1} << k_hash_bits, -1);
  std::vector<int64_t> prev(k_window, -1);
  auto insert = [&](size_t p) {
    if (p + k_min_match > n) return;
    const uint32_t h = hash3(data + p);
    prev[p & (k_window - 1)] = head[h];
    head[h] = static_cast<int64_t>(p);
  };

  std::vector<token> tokens;
  tokens.reserve(k_block_tokens);
  size_t i = 0;
  while (i < n) {
    int best_len = 0, best_dist = 0;
    if (i + k_min_match <= n) {
      const int limit = static_cast<int>(std::min<size_t>(k_max_match, n - i));
      int64_t cand = head[hash3(data + i)];
      for (int chain = k_max_chain; cand >= 0 && chain > 0; --chain) {
        const size_t c = static_cast<size_t>(cand);
        if (i - c > static_cast<size_t>(k_window)) break;
        int len = 0;
        while (len < limit && data[c + len] == data[i + len]) ++len;
        if (len > best_len) {
          best_len = len;
          best_dist = static_cast<int>(i - c);
          if (len == limit) break;
        }
        // A slot reused by a newer position no longer leads further back: stop there.
        const int64_t next = prev[c & (k_window - 1)];
        if (next >= cand) break;
        cand = next;
      }
    }
    if (best_len >= k_min_match) {
      tokens.push_back({static_cast<uint16_t>(best_len), static_cast<uint16_t>(best_dist)});
      for (int k = 0; k < best_len; ++k) insert(i + k);
      i += best_len;
    } else {
      tokens.push_back({data[i], 0});
      insert(i);
      ++i;
    }
    if (tokens.size() == k_block_tokens) {
      write_block(bw, tokens, false);
      tokens.clear();
    }
  }
  write_block(bw, tokens, true);
  bw.flush();

  uint32_t a = 1, b = 0;
  for (size_t k = 0; k < n;) {
    // 5552 bytes is the longest stretch whose sums cannot overflow before the modulo.
    const size_t end = std::min(n, k + 5552);
    for (; k < end; ++k) {
      a += data[k];
      b += a;
    }
    a %= 65521;
    b %= 65521;
  }
  const uint32_t adler = (b << 16) | a;
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(adler >> s));
  return out;
}
