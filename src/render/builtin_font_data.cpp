// The three Liberation font files, embedded byte for byte by the assembler, so that text can
// always be drawn without any file on disk. The build passes their paths after checking their
// sizes against the release the library was made with.

#include <cstdint>

#ifndef LEAFSIFT_FONT_SANS
#error "the build names the font files (LEAFSIFT_FONT_SANS, _SERIF, _MONO)"
#endif

#define LSF_EMBED(sym, file)                                                     \
  ".section .rodata\n.balign 16\n.globl " #sym "\n.hidden " #sym "\n.type " #sym \
  ", @object\n" #sym ":\n.incbin \"" file "\"\n.globl " #sym "_end\n.hidden " #sym \
  "_end\n" #sym "_end:\n.byte 0\n.previous\n"

asm(LSF_EMBED(g_fontdata_0, LEAFSIFT_FONT_SANS));
asm(LSF_EMBED(g_fontdata_1, LEAFSIFT_FONT_SERIF));
asm(LSF_EMBED(g_fontdata_2, LEAFSIFT_FONT_MONO));
