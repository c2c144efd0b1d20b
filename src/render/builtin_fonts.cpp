// The slots of the built-in fonts: filled with the embedded files at initialisation, each
// replaced by a copy of the same file when one is found on disk, emptied at cleanup.

#include "render/builtin_fonts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

extern "C" {
extern const uint8_t g_fontdata_0[], g_fontdata_0_end[];
extern const uint8_t g_fontdata_1[], g_fontdata_1_end[];
extern const uint8_t g_fontdata_2[], g_fontdata_2_end[];
}

const char *const g_font_names[k_builtin_slots] = {
    "LiberationSans-Regular.ttf", "LiberationSerif-Regular.ttf", "LiberationMono-Regular.ttf"};
const uint8_t *g_font_files[k_builtin_slots] = {};
int g_font_lens[k_builtin_slots] = {};
char g_exe_dir[512] = {};

namespace {

struct constant_font {
  const uint8_t *begin;
  const uint8_t *end;
};

const constant_font k_constant_fonts[k_builtin_slots] = {
    {g_fontdata_0, g_fontdata_0_end},
    {g_fontdata_1, g_fontdata_1_end},
    {g_fontdata_2, g_fontdata_2_end},
};

// Files no larger than this are not fonts worth using: a stub or a broken copy.
constexpr long k_min_font_file = 4096;

// A whole file in a new block, or null; the block is the slot's from then on.
uint8_t *read_whole(FILE *f, int *out_len) {
  if (std::fseek(f, 0, SEEK_END) != 0) return nullptr;
  long size = std::ftell(f);
  if (size <= k_min_font_file || size > (1L << 30)) return nullptr;
  if (std::fseek(f, 0, SEEK_SET) != 0) return nullptr;
  uint8_t *block = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size)));
  if (!block) return nullptr;
  if (std::fread(block, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size)) {
    std::free(block);
    return nullptr;
  }
  *out_len = static_cast<int>(size);
  return block;
}

// The running executable's directory: its path cut at the last '/'.
void find_exe_dir() {
  g_exe_dir[0] = 0;
  char path[520];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n < 1) return;
  path[n] = 0;
  char *slash = std::strrchr(path, '/');
  if (slash) *slash = 0;
  std::snprintf(g_exe_dir, sizeof g_exe_dir, "%.511s", path);
}

}  // namespace

const uint8_t *builtin_font_constant(int slot) {
  return slot >= 0 && slot < k_builtin_slots ? k_constant_fonts[slot].begin : nullptr;
}

int builtin_font_constant_len(int slot) {
  if (slot < 0 || slot >= k_builtin_slots) return 0;
  return static_cast<int>(k_constant_fonts[slot].end - k_constant_fonts[slot].begin);
}

int builtin_font_dirs(char out[6][600]) {
  int n = 0;
  std::snprintf(out[n++], 600, "%s", "/usr/share/fonts/truetype/liberation/");
  std::snprintf(out[n++], 600, "%s", "/usr/share/fonts/truetype/");
  if (g_exe_dir[0]) {
    std::snprintf(out[n++], 600, "%s/fonts/", g_exe_dir);
    std::snprintf(out[n++], 600, "%s/", g_exe_dir);
  }
  std::snprintf(out[n++], 600, "%s", "./");
  std::snprintf(out[n++], 600, "%s", "fonts/");
  return n;
}

void load_font_files() {
  find_exe_dir();
  char dirs[6][600];
  const int ndirs = builtin_font_dirs(dirs);
  load_font_files_from(dirs, ndirs);
}

void load_font_files_from(const char (*dirs)[600], int ndirs) {
  lsf_free_fonts();
  for (int s = 0; s < k_builtin_slots; s++) {
    g_font_files[s] = builtin_font_constant(s);
    g_font_lens[s] = builtin_font_constant_len(s);
  }
  for (int s = 0; s < k_builtin_slots; s++) {
    for (int d = 0; d < ndirs; d++) {
      char path[512];
      int w = std::snprintf(path, sizeof path, "%s%s", dirs[d], g_font_names[s]);
      if (w < 0 || w >= static_cast<int>(sizeof path)) continue;
      FILE *f = std::fopen(path, "rb");
      if (!f) continue;
      // The first directory holding the file decides, whether its copy is usable or not.
      int len = 0;
      uint8_t *block = read_whole(f, &len);
      std::fclose(f);
      if (block) {
        g_font_files[s] = block;
        g_font_lens[s] = len;
      }
      break;
    }
  }
}

void lsf_load_fonts() { load_font_files(); }

void lsf_free_fonts() {
  for (int s = 0; s < k_builtin_slots; s++) {
    if (g_font_files[s] && g_font_files[s] != builtin_font_constant(s))
      std::free(const_cast<uint8_t *>(g_font_files[s]));
    g_font_files[s] = nullptr;
    g_font_lens[s] = 0;
  }
}
