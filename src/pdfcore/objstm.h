// Compressed object streams: each is unpacked once into the document's arena, and its
// objects enter the table pointing into the unpacked bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "pdfcore/mem.h"
#include "pdfcore/objects.h"

// What the unpacked object streams of one document, with the table entries they bring, may
// hold in all: a file of a few megabytes must not unpack into all of memory.
inline constexpr uint64_t k_objstm_budget = 1073741824;  // 1 GiB

struct arena {
  std::vector<c_ptr<uint8_t>> blocks;
  uint64_t held = 0;  // bytes charged against k_objstm_budget
  int32_t count() const { return static_cast<int32_t>(blocks.size()); }
};

uint8_t *arena_alloc(arena &a, uint64_t size);
int extract_objstm(const uint8_t *data, int32_t len, const pdf_obj &obj, objvec &objs, arena &a);
void extract_all_objstm(const uint8_t *data, int32_t len, objvec &objs, arena &a);
