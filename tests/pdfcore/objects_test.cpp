// The object table: object heads found by the file scan, stream extents, removal of apparent
// objects inside stream data, the newest definition per number, and the cached searches
// checked against a plain uncached scan on random input.

#include "pdfcore/objects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pdfcore/lex.h"
#include "pdfcore/objstm.h"
#include "support/pdf_builder.h"

namespace {

const uint8_t *bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }
int32_t size32(const std::string &s) { return static_cast<int32_t>(s.size()); }

struct loaded {
  objvec objs;
  arena a;
  int32_t max_num = 0;
};

// The load order of the document reader.
void load(const std::string &pdf, loaded &l) {
  scan_pass1(bytes(pdf), size32(pdf), l.objs);
  scan_pass2(bytes(pdf), size32(pdf), l.objs);
  extract_all_objstm(bytes(pdf), size32(pdf), l.objs, l.a);
  l.max_num = scan_final_pass(bytes(pdf), size32(pdf), l.objs);
}

// The dictionary text of an object, wherever it is stored.
std::string dict_of(const std::string &pdf, const pdf_obj *o) {
  const uint8_t *t;
  int32_t n;
  if (!o || !obj_dict_text(bytes(pdf), size32(pdf), *o, &t, &n)) return "";
  return std::string(reinterpret_cast<const char *>(t), static_cast<size_t>(n));
}

std::string stream_data(const std::string &pdf, const pdf_obj *o) {
  if (!o || !o->is_stream || o->stream_start < 0 || o->stream_end < o->stream_start)
    return "<none>";
  return pdf.substr(static_cast<size_t>(o->stream_start),
                    static_cast<size_t>(o->stream_end - o->stream_start));
}

TEST(ObjectTable, LaterIncrementalUpdateWins) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(5, "<< /V (old) >>");
  b.xref_trailer("/Root 1 0 R");
  b.obj(5, "<< /V (new) >>");
  b.xref_trailer("/Root 1 0 R");
  loaded l;
  load(b.str(), l);
  ASSERT_EQ(l.objs.count(), 2);
  EXPECT_NE(dict_of(b.str(), obj_find(l.objs, 5)).find("(new)"), std::string::npos);
  EXPECT_EQ(l.max_num, 5);
}

// An update may store its new definition in an object stream, or directly after an older
// object stream; either way the definition standing later in the file is the one read.
TEST(ObjectTable, DirectAndPackedDefinitionsLaterInFileWins) {
  for (bool packed_is_newer : {true, false}) {
    SCOPED_TRACE(packed_is_newer ? "object stream is the update" : "direct object is the update");
    pdf_builder b;
    b.obj(1, "<< /Type /Catalog >>");
    if (packed_is_newer) {
      b.obj(5, "<< /V (old) >>");
      b.object_stream(10, {{5, "<< /V (new) >>"}, {6, "<< /W 1 >>"}});
    } else {
      b.object_stream(10, {{5, "<< /V (old) >>"}, {6, "<< /W 1 >>"}});
      b.obj(5, "<< /V (new) >>");
    }
    loaded l;
    load(b.str(), l);
    const pdf_obj *o = obj_find(l.objs, 5);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->in_objstm != 0, packed_is_newer);
    EXPECT_NE(dict_of(b.str(), o).find("(new)"), std::string::npos);
    EXPECT_NE(obj_find(l.objs, 6), nullptr);
    EXPECT_EQ(obj_find(l.objs, 10), nullptr) << "the container leaves the table";
    EXPECT_EQ(l.objs.count(), 3);
  }
}

TEST(ObjectTable, LaterEntryOfOneContainerWins) {
  pdf_builder b;
  b.object_stream(10, {{5, "<< /V (first) >>"}, {5, "<< /V (second) >>"}});
  loaded l;
  load(b.str(), l);
  EXPECT_NE(dict_of(b.str(), obj_find(l.objs, 5)).find("(second)"), std::string::npos);
}

// Each case: the stream object 4 with data ABCDEFGHIJ written by `obj4`, plus other objects.
// Wrong and unreadable lengths alike end the data at the end-of-line before endstream.
TEST(ObjectTable, StreamExtentFromLengthOrEndstream) {
  struct kase {
    const char *name;
    std::string obj4;
    std::string extra;  // objects written before object 4
    const char *data;
  };
  const std::string tail = "stream\nABCDEFGHIJ\nendstream\nendobj\n";
  const kase cases[] = {
      {"correct length", "4 0 obj\n<< /Length 10 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"too short", "4 0 obj\n<< /Length 4 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"too long", "4 0 obj\n<< /Length 40 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"beyond the file", "4 0 obj\n<< /Length 2147483000 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"largest int", "4 0 obj\n<< /Length 2147483647 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"negative", "4 0 obj\n<< /Length -3 >>\n" + tail, "", "ABCDEFGHIJ"},
      {"array", "4 0 obj\n<< /Length [3 10] >>\n" + tail, "", "ABCDEFGHIJ"},
      {"no length", "4 0 obj\n<< /Filter /None >>\n" + tail, "", "ABCDEFGHIJ"},
      {"reference to integer", "4 0 obj\n<< /Length 7 0 R >>\n" + tail, "7 0 obj\n10\nendobj\n",
       "ABCDEFGHIJ"},
      {"reference to wrong integer", "4 0 obj\n<< /Length 7 0 R >>\n" + tail,
       "7 0 obj 3 endobj\n", "ABCDEFGHIJ"},
      {"reference to missing object", "4 0 obj\n<< /Length 7 0 R >>\n" + tail, "",
       "ABCDEFGHIJ"},
      {"reference to a stream", "4 0 obj\n<< /Length 7 0 R >>\n" + tail,
       "7 0 obj\n<< /Length 2 >>\nstream\n10\nendstream\nendobj\n", "ABCDEFGHIJ"},
      {"CR LF before endstream",
       "4 0 obj\n<< /Length 3 >>\nstream\r\nABCDEFGHIJ\r\nendstream\r\nendobj\n", "",
       "ABCDEFGHIJ"},
      {"CR before endstream", "4 0 obj\n<< /Length 3 >>\nstream\rABCDEFGHIJ\rendstream endobj\n",
       "", "ABCDEFGHIJ"},
      {"no end-of-line before endstream", "4 0 obj\n<< >>\nstream\nABCDEFGHI)endstream endobj",
       "", "ABCDEFGHI)"},
      {"exact length, no end-of-line",
       "4 0 obj\n<< /Length 10 >>\nstream\nABCDEFGHIJendstream endobj",
       "", "ABCDEFGHIJ"},
      {"length ending in the end-of-line", "4 0 obj\n<< /Length 11 >>\n" + tail, "",
       "ABCDEFGHIJ\n"},
  };
  for (const kase &c : cases) {
    SCOPED_TRACE(c.name);
    std::string pdf = "%PDF-1.4\n" + c.extra + c.obj4;
    loaded l;
    load(pdf, l);
    const pdf_obj *o = obj_find(l.objs, 4);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(stream_data(pdf, o), c.data);
    EXPECT_EQ(o->obj_end, o->endobj + 6);
    EXPECT_EQ(pdf.compare(static_cast<size_t>(o->endobj), 6, "endobj"), 0);
  }
}

// A length held in an object stream is legal; the stream must still be read in full.
TEST(ObjectTable, LengthInsideObjectStreamKeepsTheStream) {
  pdf_builder b;
  b.object_stream(20, {{7, "10"}});
  b.raw("4 0 obj\n<< /Length 7 0 R >>\nstream\nABCDEFGHIJ\nendstream\nendobj\n");
  loaded l;
  load(b.str(), l);
  EXPECT_EQ(stream_data(b.str(), obj_find(l.objs, 4)), "ABCDEFGHIJ");
  ASSERT_NE(obj_find(l.objs, 7), nullptr);
  EXPECT_TRUE(obj_find(l.objs, 7)->in_objstm);
}

TEST(ObjectTable, StreamWithoutEndstreamOrEndobj) {
  // Without endstream the data run to the end of the file, and then no endobj follows.
  std::string pdf = "1 0 obj << >> endobj\n4 0 obj\n<< /Length 999 >>\nstream\nABC";
  loaded l;
  load(pdf, l);
  EXPECT_EQ(obj_find(l.objs, 4), nullptr);
  EXPECT_NE(obj_find(l.objs, 1), nullptr);
}

TEST(ObjectTable, DataStartAfterStreamKeyword) {
  struct kase {
    const char *after_kw;
    int32_t offset;  // of the data start from the keyword
  };
  const kase cases[] = {{"\r\n", 8}, {"\n", 7}, {"\r", 7}, {"   \n", 10}, {" \t\r\n", 10},
                        {"%", 7},    {"  X", 7}};
  for (const kase &c : cases) {
    SCOPED_TRACE(c.after_kw);
    std::string pdf =
        "4 0 obj\n<< >>\nstream" + std::string(c.after_kw) + "DATA\nendstream\nendobj\n";
    objvec objs;
    scan_pass1(bytes(pdf), size32(pdf), objs);
    ASSERT_EQ(objs.count(), 1);
    const pdf_obj &o = objs.items[0];
    EXPECT_EQ(o.stream_kw, static_cast<int32_t>(pdf.find("stream")));
    EXPECT_EQ(o.stream_start - o.stream_kw, c.offset);
    EXPECT_EQ(o.endobj, -1) << "the second pass settles streams";
  }
}

TEST(ObjectTable, HeadsInsideStreamDataNeverEnter) {
  // With a correct length the data may hold a whole stream object; without one they end at
  // the first endstream, so there the embedded stream is left unfinished.
  const std::string whole =
      "9 0 obj\n<< /Type /Page >>\nendobj\n8 0 obj\n<< >>\nstream\nx\nendstream\nendobj\n";
  const std::string unfinished = "9 0 obj\n<< /Type /Page >>\nendobj\n8 0 obj\n<< >>\nstream\nx";
  for (bool with_length : {true, false}) {
    SCOPED_TRACE(with_length ? "with /Length" : "without /Length");
    const std::string &inner = with_length ? whole : unfinished;
    pdf_builder b;
    b.obj(1, "<< /Type /Catalog >>");
    b.stream(4, "", inner, with_length);
    b.obj(5, "<< >>");
    loaded l;
    load(b.str(), l);
    EXPECT_EQ(obj_find(l.objs, 9), nullptr);
    EXPECT_EQ(obj_find(l.objs, 8), nullptr);
    EXPECT_NE(obj_find(l.objs, 1), nullptr);
    EXPECT_NE(obj_find(l.objs, 5), nullptr);
    EXPECT_EQ(stream_data(b.str(), obj_find(l.objs, 4)), inner);
    EXPECT_EQ(l.objs.count(), 3);
  }
}

// Which texts count as object heads, and the number found.
TEST(ObjectTable, ObjectHeads) {
  struct kase {
    std::string text;
    int32_t num;   // expected object number, 0 for none
    int32_t head;  // expected head position
  };
  const kase cases[] = {
      {"1 0 obj\n<< >>\nendobj", 1, 0},
      {"12 0 obj 5 endobj", 12, 0},
      {"12 0obj 5 endobj", 0, 0},
      {"12 0 objx 5 endobj", 0, 0},
      {"5 obj 5 endobj", 0, 0},
      {"x12 0 obj 5 endobj", 0, 0},
      {">12 0 obj 5 endobj", 12, 1},
      {")12\n\t0\r\nobj 5 endobj", 12, 1},
      {"12\x0b" "0 obj 5 endobj", 12, 0},
      {"0 0 obj 5 endobj", 0, 0},
      {"12 0 obj 5", 0, 0},
      {"4294967297 0 obj 5 endobj", 1, 0},  // 32-bit wrap-around, as the format's readers do
  };
  for (const kase &c : cases) {
    SCOPED_TRACE(c.text);
    objvec objs;
    scan_pass1(bytes(c.text), size32(c.text), objs);
    if (c.num == 0) {
      EXPECT_EQ(objs.count(), 0);
      continue;
    }
    ASSERT_EQ(objs.count(), 1);
    EXPECT_EQ(objs.items[0].num, c.num);
    EXPECT_EQ(objs.items[0].head, c.head);
  }
}

TEST(ObjectTable, NumberLimits) {
  std::string pdf =
      "8388608 0 obj << /Big 1 >> endobj\n8388607 0 obj << /Max 1 >> endobj\n"
      "3 0 obj << >> endobj\n";
  loaded l;
  load(pdf, l);
  EXPECT_EQ(l.objs.count(), 2);
  EXPECT_EQ(obj_find(l.objs, 8388608), nullptr);
  EXPECT_NE(obj_find(l.objs, 8388607), nullptr);
  EXPECT_EQ(obj_find(l.objs, 0), nullptr);
  EXPECT_EQ(l.max_num, 8388607);
  // Packed objects obey the same limits.
  pdf_builder b;
  b.object_stream(10, {{8388608, "1"}, {0, "2"}, {4, "3"}}, false);
  loaded m;
  load(b.str(), m);
  ASSERT_EQ(m.objs.count(), 1);
  EXPECT_EQ(m.objs.items[0].num, 4);
}

TEST(ObjectTable, FindBeforeAndAfterFinalPass) {
  std::string pdf = "2 0 obj (a) endobj\n2 0 obj (b) endobj\n3 0 obj (c) endobj\n";
  loaded l;
  scan_pass1(bytes(pdf), size32(pdf), l.objs);
  scan_pass2(bytes(pdf), size32(pdf), l.objs);
  EXPECT_TRUE(l.objs.index.empty());
  EXPECT_EQ(obj_find(l.objs, 2)->head, 0) << "the first entry before the final pass";
  scan_final_pass(bytes(pdf), size32(pdf), l.objs);
  ASSERT_FALSE(l.objs.index.empty());
  EXPECT_EQ(obj_find(l.objs, 2)->head, static_cast<int32_t>(pdf.find("2 0 obj (b)")));
  EXPECT_EQ(obj_find(l.objs, 3)->num, 3);
  EXPECT_EQ(obj_find(l.objs, 1), nullptr);
  EXPECT_EQ(obj_find(l.objs, 4), nullptr);
  EXPECT_EQ(obj_find(l.objs, -5), nullptr);
}

TEST(ObjectTable, ParseLength) {
  struct kase {
    const char *dict;
    int32_t direct, ref;
  };
  const kase cases[] = {
      {"<< /Length 12 >>", 12, -1},      {"<< /Length 7 0 R >>", -1, 7},
      {"<< /Length 7 0 Rx >>", 7, -1},   {"<< /Length1 5 /Length 6 >>", 6, -1},
      {"<< /Length /X /Length 9 >>", 9, -1}, {"<< /Length -4 /Length 3 >>", 3, -1},
      {"<< /Length [1 -2 ] >>", 1, -1},  {"<< /Length [] /Length 2 >>", 2, -1},
      {"<< /Type /X >>", -1, -1},        {"<< /Length 8 9 >>", 8, -1},
  };
  for (const kase &c : cases) {
    SCOPED_TRACE(c.dict);
    std::string d = c.dict;
    int32_t direct = 0, ref = 0;
    parse_length(bytes(d), size32(d), 0, size32(d), &direct, &ref);
    EXPECT_EQ(direct, c.direct);
    EXPECT_EQ(ref, c.ref);
  }
}

TEST(ObjectTable, DictTextRanges) {
  std::string pdf =
      "1 0 obj << /A 1 >> endobj\n2 0 obj << /B 2 >>\nstream\nxy\nendstream\nendobj\n"
      "3 0 obj 7 endobj";
  loaded l;
  load(pdf, l);
  EXPECT_EQ(dict_of(pdf, obj_find(l.objs, 1)), "<< /A 1 >> ");
  EXPECT_EQ(dict_of(pdf, obj_find(l.objs, 2)), "<< /B 2 >>\n");
  const uint8_t *t;
  int32_t n;
  EXPECT_FALSE(obj_dict_text(bytes(pdf), size32(pdf), *obj_find(l.objs, 3), &t, &n));
}

// ---- Hostile input -------------------------------------------------------------------

// Ten megabytes of heads that never close: every head searches forward for its dictionary's
// end and for endobj, which must not cost a scan of the rest of the file each.
TEST(ObjectTableHostile, TenMegabytesOfOpenHeads) {
  const std::string line = "1 0 obj <\n";
  std::string pdf;
  pdf.reserve(10u << 20);
  while (pdf.size() < (10u << 20)) pdf += line;
  const int32_t heads = static_cast<int32_t>(pdf.size() / line.size());
  {
    loaded l;
    load(pdf, l);
    EXPECT_EQ(l.objs.count(), 0) << "no head finds its endobj";
  }
  for (const char *ending : {"endobj", ">> endobj", ">>stream\nx\nendstream endobj"}) {
    SCOPED_TRACE(ending);
    std::string p2 = pdf + ending;
    if (std::strcmp(ending, "endobj") == 0) {
      objvec objs;
      scan_pass1(bytes(p2), size32(p2), objs);
      EXPECT_EQ(objs.count(), heads) << "every head finds the one endobj";
    }
    loaded l;
    load(p2, l);
    ASSERT_EQ(l.objs.count(), 1);
    EXPECT_EQ(l.objs.items[0].head, size32(pdf) - size32(line));
  }
}

TEST(ObjectTableHostile, ManyNestedOpenDictionaries) {
  std::string pdf;
  for (int i = 0; i < 200000; ++i) pdf += "2 0 obj <<\n";
  std::string closed = pdf;
  for (int i = 0; i < 200000; ++i) closed += ">>";
  closed += "\nstream\nxx\nendstream\nendobj";
  loaded l;
  load(pdf, l);
  EXPECT_EQ(l.objs.count(), 0);
  objvec objs;
  scan_pass1(bytes(closed), size32(closed), objs);
  ASSERT_EQ(objs.count(), 200000);
  EXPECT_TRUE(objs.items[0].is_stream) << "only the outermost dictionary ends before stream";
  EXPECT_FALSE(objs.items[1].is_stream);
}

// ---- The cached scan against a plain one ----------------------------------------------

// The first and second passes written as plainly as possible: every byte tested for obj,
// every search run from its own start.
int32_t plain_data_start(const uint8_t *d, int32_t len, int32_t k) {
  int32_t q = k + 6;
  while (q < len && (d[q] == ' ' || d[q] == '\t')) ++q;
  if (q < len && d[q] == '\r') return q + 1 < len && d[q + 1] == '\n' ? q + 2 : q + 1;
  if (q < len && d[q] == '\n') return q + 1;
  return k + 7 < len ? k + 7 : len;
}

std::vector<pdf_obj> plain_pass1(const uint8_t *d, int32_t len) {
  std::vector<pdf_obj> out;
  for (int32_t p = 0; p <= len - 4; ++p) {
    if (!kw_at(d, p, len, "obj")) continue;
    int32_t num, gen;
    int32_t head = parse_obj_head(d, p, &num, &gen);
    if (head < 0) continue;
    pdf_obj e;
    e.num = num;
    e.gen = gen;
    e.head = head;
    e.file_pos = head;
    int32_t v = skip_ws(d, p + 3, len);
    while (v < len && d[v] == '%') {  // a comment between obj and the value is white space
      while (v < len && d[v] != '\n' && d[v] != '\r') ++v;
      v = skip_ws(d, v, len);
    }
    if (v < len && d[v] == '<') {
      e.dict = v;
      int32_t k = dict_stream_kw(d, len, v);
      if (k >= 0) {
        e.is_stream = 1;
        e.stream_kw = k;
        e.stream_start = plain_data_start(d, len, k);
        out.push_back(e);
        continue;
      }
      e.endobj = find_kw(d, len, v, "endobj");
    } else {
      e.endobj = find_kw(d, len, p + 3, "endobj");
    }
    if (e.endobj < 0) continue;
    e.obj_end = e.endobj + 6;
    out.push_back(e);
  }
  return out;
}

std::vector<pdf_obj> plain_scan(const uint8_t *d, int32_t len) {
  std::vector<pdf_obj> out = plain_pass1(d, len);
  // Second pass, phase 1.
  for (pdf_obj &o : out) {
    if (!o.is_stream) continue;
    int32_t direct, ref;
    parse_length(d, len, o.dict, o.stream_kw, &direct, &ref);
    int64_t length = direct;
    if (direct < 0 && ref >= 0) {
      const pdf_obj *t = nullptr;
      for (const pdf_obj &x : out)
        if (x.num == ref) {
          t = &x;
          break;
        }
      length = -1;
      if (t && !t->is_stream) {
        int32_t q = t->head;
        while (q < len && is_digit(d[q])) ++q;
        q = skip_ws(d, q, len);
        if (q < len && is_digit(d[q])) {
          while (q < len && is_digit(d[q])) ++q;
          q = skip_ws(d, q, len);
        }
        if (kw_at(d, q, len, "obj")) q = skip_ws(d, q + 3, len);
        length = parse_int_at(d, len, &q);
      }
    }
    int64_t end = -1;
    if (length >= 0 && o.stream_start + length <= len) {
      int64_t q = o.stream_start + length;
      while (q < len && is_c_space(d[q])) ++q;
      if (q + 9 <= len && std::memcmp(d + q, "endstream", 9) == 0) end = o.stream_start + length;
    }
    if (end < 0) {
      int32_t f = find_kw(d, len, o.stream_start + 1, "endstream");
      if (f < 0) {
        end = len;
      } else {
        end = f;
        if (d[end - 1] == '\n') {
          --end;
          if (end - 1 > o.stream_start && d[end - 1] == '\r') --end;
        } else if (d[end - 1] == '\r') {
          --end;
        }
      }
    }
    if (end < o.stream_start) end = o.stream_start;
    o.stream_end = static_cast<int32_t>(end);
    o.endobj = end + 1 <= len ? find_kw(d, len, static_cast<int32_t>(end + 1), "endobj") : -1;
    o.obj_end = o.endobj >= 0 ? o.endobj + 6 : -1;
  }
  // Phase 2, entry against entry.
  std::vector<pdf_obj> kept;
  for (const pdf_obj &o : out) {
    bool drop = o.is_stream && o.endobj < 0;
    for (const pdf_obj &s : out)
      if (s.is_stream && s.stream_start >= 0 && o.head >= s.stream_start && o.head < s.stream_end)
        drop = true;
    if (!drop) kept.push_back(o);
  }
  return kept;
}

std::string describe(const pdf_obj &o) {
  return std::to_string(o.num) + " " + std::to_string(o.gen) + " h" + std::to_string(o.head) +
         " d" + std::to_string(o.dict) + " k" + std::to_string(o.stream_kw) + " s" +
         std::to_string(o.stream_start) + "-" + std::to_string(o.stream_end) + " e" +
         std::to_string(o.endobj) + "/" + std::to_string(o.obj_end) + " S" +
         std::to_string(o.is_stream);
}

std::string random_pdfish(std::mt19937 &rng) {
  static const char *const tokens[] = {
      "1 0 obj", "2 0 obj", "3 0 obj ", "7 0 obj\n", " ", "\n", "\r\n", "<<", ">>", "<", ">",
      "(", ")", "\\", "/Length 3", "/Length 2 0 R", "/Length 7 0 R", "/Length 40", " 5 ",
      "stream\n", "stream\r\n", "stream", "\nendstream", "endstream", "endobj", "abc", "[",
      "]", "0", "12", "R", "/Type /ObjStm", "<a>", "\t", "%", "obj", "endobj\n"};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(tokens)) - 1);
  std::uniform_int_distribution<int> count(1, 120);
  std::string s;
  for (int n = count(rng); n > 0; --n) s += tokens[pick(rng)];
  return s;
}

TEST(ObjectTableCache, SameTableAsPlainScan) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 2000; ++round) {
    std::string s = random_pdfish(rng);
    objvec objs;
    scan_pass1(bytes(s), size32(s), objs);
    scan_pass2(bytes(s), size32(s), objs);
    std::vector<pdf_obj> want = plain_scan(bytes(s), size32(s));
    std::string got_text, want_text;
    for (const pdf_obj &o : objs.items) got_text += describe(o) + "\n";
    for (const pdf_obj &o : want) want_text += describe(o) + "\n";
    ASSERT_EQ(got_text, want_text) << "input:\n" << s;
  }
}

// Heads are measured in batches; a walk never reaches into the next batch, which may cost
// time but must not change an answer.
TEST(ObjectTableCache, SameFirstPassAcrossBatches) {
  std::mt19937 rng(99);
  std::string s;
  while (s.size() < 2200000) {
    // Without literal strings, which would make the plain scan too slow at this size.
    std::string piece = random_pdfish(rng).substr(0, rng() % 24);
    for (char &c : piece)
      if (c == '(') c = ' ';
    s += "5 0 obj " + piece + " endobj\n";
  }
  objvec objs;
  scan_pass1(bytes(s), size32(s), objs);
  std::vector<pdf_obj> want = plain_pass1(bytes(s), size32(s));
  ASSERT_GT(want.size(), 66000u) << "more heads than one batch";
  ASSERT_EQ(objs.items.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(describe(objs.items[i]), describe(want[i])) << "entry " << i;
}

// Heads inside long literal strings, with nested and escaped parentheses: the walks answer
// them from the profile of the string they lie in.
TEST(ObjectTableCache, SameFirstPassInsideLongStrings) {
  static const char *const pieces[] = {"(", ")", "\\(", "\\)", "\\\\", "(x)", " abc ",
                                       "\n", "<<", ">>", "<a>", "stream\n", "endobj "};
  std::mt19937 rng(5);
  for (int round = 0; round < 2; ++round) {
    std::string s;
    while (s.size() < 200000) {
      if (rng() % 40 == 0) s += "4 0 obj <<(";
      s += pieces[rng() % std::size(pieces)];
    }
    s += ")>>stream\nx\nendstream endobj";
    objvec objs;
    scan_pass1(bytes(s), size32(s), objs);
    std::vector<pdf_obj> want = plain_pass1(bytes(s), size32(s));
    ASSERT_GT(want.size(), 1000u);
    ASSERT_EQ(objs.items.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(describe(objs.items[i]), describe(want[i])) << "entry " << i;
  }
}

// Random and cut-off input must load without reading outside the bytes (run under the
// sanitizers) and leave a table that satisfies the final pass's promises.
TEST(ObjectTableHostile, RandomAndTruncatedInput) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  b.obj(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>");
  b.stream(4, "", "0 0 m 10 10 l S");
  b.object_stream(5, {{6, "<< /A (x) >>"}, {7, "[1 2 3]"}});
  b.raw("8 0 obj\n<< /Length 9 0 R >>\nstream\nabc\nendstream\nendobj\n9 0 obj 3 endobj\n");
  b.xref_trailer("/Root 1 0 R");
  const std::string full = b.str();
  auto check = [](const std::string &s) {
    // A copy of exactly the given size, so that any read past the end is caught.
    std::vector<uint8_t> copy(s.begin(), s.end());
    loaded l;
    const uint8_t *d = copy.empty() ? nullptr : copy.data();
    scan_pass1(d, size32(s), l.objs);
    scan_pass2(d, size32(s), l.objs);
    extract_all_objstm(d, size32(s), l.objs, l.a);
    scan_final_pass(d, size32(s), l.objs);
    for (const pdf_obj &o : l.objs.items) {
      ASSERT_GE(o.num, 1);
      ASSERT_LE(o.num, k_max_obj_num);
      ASSERT_EQ(obj_find(l.objs, o.num), &o);
      if (o.is_stream) {
        ASSERT_LE(0, o.stream_start);
        ASSERT_LE(o.stream_start, o.stream_end);
        ASSERT_LE(o.stream_end, size32(s));
      }
    }
  };
  for (size_t n = 0; n <= full.size(); ++n) check(full.substr(0, n));
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 300; ++round) {
    std::string s = random_pdfish(rng);
    for (int flips = 0; flips < 5 && !s.empty(); ++flips)
      s[static_cast<size_t>(rng() % s.size())] = static_cast<char>(byte(rng));
    check(s);
    std::string damaged = full;
    for (int flips = 0; flips < 8; ++flips)
      damaged[static_cast<size_t>(rng() % damaged.size())] = static_cast<char>(byte(rng));
    check(damaged);
  }
}

}  // namespace

TEST(ObjectTable, CommentBetweenObjAndTheDictionary) {
  const std::string file = "1 0 obj % the catalog\n<< /Type /Catalog >>\nendobj\n"
                           "2 0 obj %a\r%b\n<< /Length 2 >>\nstream\nab\nendstream\nendobj\n";
  const uint8_t *d = reinterpret_cast<const uint8_t *>(file.data());
  objvec objs;
  scan_pass1(d, static_cast<int32_t>(file.size()), objs);
  scan_pass2(d, static_cast<int32_t>(file.size()), objs);
  ASSERT_EQ(objs.count(), 2);
  EXPECT_EQ(objs.items[0].dict, static_cast<int32_t>(file.find("<<")));
  EXPECT_EQ(objs.items[1].is_stream, 1);
  EXPECT_EQ(objs.items[1].stream_end - objs.items[1].stream_start, 2);
}
