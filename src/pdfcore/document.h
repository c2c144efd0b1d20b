// Loading a document: the file in memory, the object table, the catalog and the pages in
// document order with their boxes and rotations.
#pragma once

#include <cstdint>
#include <vector>

#include "pdfcore/mem.h"
#include "pdfcore/objects.h"
#include "pdfcore/objstm.h"
#include "pdfcore/xref.h"

struct pageinfo {
  int32_t num = 0;         // object number of the page object
  int32_t inh_rotate = 0;  // rotation inherited from the nearest /Pages ancestor, 0..359
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // page box, lower-left and upper-right
  int32_t rotate = 0;      // the page's rotation, 0..359
};

struct pagevec {
  std::vector<pageinfo> items;
  int32_t count() const { return static_cast<int32_t>(items.size()); }
};

struct pdf_doc {
  c_ptr<uint8_t> data;  // the complete file
  int32_t len = 0;
  xref_info xref;
  objvec objs;
  ::arena arena;
  pagevec pages;
  int32_t root = -1;
  int32_t max_num = 0;
};

// 1 on success; 0 with the error text set, leaving doc empty.
int pdfcore_load(const char *path, pdf_doc &doc);
int doc_load(const char *path, pdf_doc &doc);  // 0 on success, -1 on failure
// Loads from bytes already in memory (the file name is used only in messages).
int doc_load_bytes(c_ptr<uint8_t> bytes, int32_t len, const char *name, pdf_doc &doc);
void pdfcore_doc_free(pdf_doc &doc);

int obj_type(const uint8_t *data, int32_t len, const pdf_obj &obj);
int32_t parse_pages_ref(const uint8_t *data, int32_t len, const pdf_obj &obj);
int parse_box_array(const uint8_t *data, int32_t len, int32_t pos, double *x0, double *y0,
                    double *x1, double *y1);
// With objs, a box given as a reference to an array object is followed.
int obj_box(const uint8_t *data, int32_t len, const pdf_obj &obj, double *x0, double *y0,
            double *x1, double *y1, const objvec *objs = nullptr);
int32_t obj_rotate_own(const uint8_t *data, int32_t len, const pdf_obj &obj);
// The bytes of an object's value, whatever its kind: its own bytes for a packed object, else
// the file bytes from after "obj" up to endobj (or the end of the file). False when none.
bool obj_value_text(const uint8_t *data, int32_t len, const pdf_obj &obj, const uint8_t **text,
                    int32_t *text_len);
