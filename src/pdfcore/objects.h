// The object table. Objects are found by scanning the file for object heads, never through
// the cross-reference table, so damaged files and files with many incremental updates load
// the same way as clean ones.
#pragma once

#include <cstdint>
#include <vector>

inline constexpr int32_t k_max_obj_num = 8388607;  // 0x7FFFFF

struct pdf_obj {
  int32_t num = 0;
  int32_t gen = 0;
  int32_t head = -1;          // first digit of the object number in "num gen obj"
  int32_t dict = -1;          // the "<" starting the value, when the value starts with "<"
  int32_t stream_kw = -1;     // the stream keyword after the dictionary
  int32_t stream_start = -1;  // first byte of stream data
  int32_t stream_end = -1;    // one past the last byte of stream data
  int32_t endobj = -1;        // the endobj keyword closing the object
  int32_t obj_end = -1;       // endobj + 6
  int32_t is_stream = 0;
  int32_t in_objstm = 0;
  const uint8_t *text = nullptr;  // own bytes of an object from an object stream
  int32_t text_len = 0;
  // Where the object stands in the file, for deciding which definition is newest: the head
  // of a directly stored object, the head of the containing stream for a packed one.
  int32_t file_pos = -1;
};

struct objvec {
  std::vector<pdf_obj> items;
  // After the final pass: entry index per object number (-1 for none), so lookups are O(1).
  std::vector<int32_t> index;
  int32_t count() const { return static_cast<int32_t>(items.size()); }
};

void scan_pass1(const uint8_t *data, int32_t len, objvec &objs);
void scan_pass2(const uint8_t *data, int32_t len, objvec &objs);
// Leaves one entry per object number (the definition standing last in the file wins), drops
// object-stream containers and numbers above k_max_obj_num, builds the index. Returns the
// largest object number kept (0 for an empty table).
int32_t scan_final_pass(const uint8_t *data, int32_t len, objvec &objs);

int32_t parse_obj_head(const uint8_t *data, int32_t pos, int32_t *num, int32_t *gen);
void parse_length(const uint8_t *data, int32_t len, int32_t dict, int32_t end, int32_t *direct,
                  int32_t *ref);
pdf_obj *objvec_push(objvec &objs, const pdf_obj &entry);
// The first entry with that number, or null.
const pdf_obj *obj_find(const objvec &objs, int32_t num);

// The dictionary text of an object: its own bytes for a packed object, else its dictionary
// range in the file (from dict to stream_kw, else to endobj, else to the end of the file).
// Returns false when the object has none.
bool obj_dict_text(const uint8_t *data, int32_t len, const pdf_obj &obj, const uint8_t **text,
                   int32_t *text_len);

// find_name over many ranges that share their end (several heads whose dictionaries close at
// one stream keyword): a start between the previous start and the previous hit gets that hit.
struct name_search {
  const char *name;
  int32_t end = -1, from = -1, hit = -1;
  bool valid = false;
  int32_t find(const uint8_t *data, int32_t len, int32_t start, int32_t stop);
};
// A container of packed objects: a directly stored stream whose dictionary range holds
// /ObjStm. `cache`, when given, must be a name_search for "ObjStm".
bool obj_is_objstm(const uint8_t *data, int32_t len, const pdf_obj &obj,
                   name_search *cache = nullptr);
