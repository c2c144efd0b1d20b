// The three built-in fonts that draw text whose PDF font carries no program of its own:
// Liberation Sans, Serif and Mono, Regular. The build embeds the files as constant data;
// initialisation prefers copies of the same files found on disk.
#pragma once

#include <cstdint>

inline constexpr int k_builtin_slots = 3;  // 0 Sans, 1 Serif, 2 Mono

extern const char *const g_font_names[k_builtin_slots];
// The data in use for each slot (a loaded file or the constant array), or null before
// initialisation and after cleanup; and its length, or 0.
extern const uint8_t *g_font_files[k_builtin_slots];
extern int g_font_lens[k_builtin_slots];
// The directory of the running executable, or empty.
extern char g_exe_dir[512];

// The embedded files of the build.
const uint8_t *builtin_font_constant(int slot);
int builtin_font_constant_len(int slot);

// Fills the slots: the constant arrays, replaced by files found on disk in the fixed search
// order. Reports nothing.
void load_font_files();
// The same with the directories given (each ending in '/'), searched in order.
void load_font_files_from(const char (*dirs)[600], int ndirs);
void lsf_load_fonts();
// Releases loaded files and empties every slot.
void lsf_free_fonts();

// The directories searched, in order, for the current g_exe_dir; n receives their number
// (at most 6). For tests and for explaining where a font came from.
int builtin_font_dirs(char out[6][600]);
