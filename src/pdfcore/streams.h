// The bytes other modules work on: decoded stream data, page contents, resource dictionaries.
#pragma once

#include <cstdint>

#include "pdfcore/buf.h"
#include "pdfcore/document.h"
#include "pdfcore/mem.h"
#include "pdfcore/objects.h"

inline constexpr uint64_t k_max_decoded_stream = 1073741824;  // 1 GiB per stream

// The stream's data, Flate-decoded into `out` (appended, NUL behind) when its dictionary names
// /FlateDecode, else a pointer into the file bytes. Null when there are none.
const uint8_t *decoded_stream(const pdf_obj &obj, const uint8_t *data, int32_t len, buf &out,
                              uint64_t *n);

// Content of a page (or of a form XObject): the streams its /Contents names, joined with one
// line feed between them, or its own data. The content is copied into `out`.
int get_page_content(const uint8_t *data, int32_t len, const objvec &objs, const pdf_obj &obj,
                     buf &out);

c_ptr<uint8_t> page_resources_dict(const uint8_t *data, int32_t len, const objvec &objs,
                                   const uint8_t *text, int32_t text_len);
c_ptr<uint8_t> page_resources_dict_deep(const uint8_t *data, int32_t len, const objvec &objs,
                                        const uint8_t *text, int32_t text_len, int levels);
c_ptr<uint8_t> pdfcore_page_resources(const pdf_doc &doc, int32_t index);
c_ptr<uint8_t> pdfcore_obj_resources(const pdf_doc &doc, int32_t num);
