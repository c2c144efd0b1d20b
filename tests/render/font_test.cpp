// Font resolution: the built-in slot a base name chooses, embedded programs before built-in
// fonts, the reading of /Widths with its quirks, Type 0 and Type 3 records, the one-byte code
// to Unicode rule, the per-state cache, the two ways /Font is written, and the built-in slots
// themselves.
#include "render/font.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "render/builtin_fonts.h"
#include "render/text_support.h"
#include "render/truetype.h"
#include "support/test_paths.h"

namespace {

using text_test::TextDoc;

class Fonts : public TextDoc {
 protected:
  pdf_font *resolve(const std::string &font_dict) {
    b.obj(10, font_dict);
    load();
    run("", "<< /Font << /F 10 0 R >> >>");
    return font_get(st.get(), "F");
  }
};

TEST_F(Fonts, BaseNameChoosesTheBuiltInSlot) {
  struct row {
    const char *base;
    int slot;
  } rows[] = {
      {"/BaseFont /ABCDEF+TimesNewRomanPSMT", 1}, {"/BaseFont /Helvetica-Bold", 0},
      {"/BaseFont /Arial,Bold", 0},              {"/BaseFont /CourierNewPSMT", 2},
      {"/BaseFont /DejaVuSansMono", 2},          {"/BaseFont /Palatino-Roman", 1},
      {"/BaseFont /Symbol", -1},                 {"/BaseFont /ZapfDingbats", -1},
      {"", 0},                                   {"/BaseFont (Times)", 0},
  };
  for (const row &c : rows) {
    pdf_builder fresh;
    b = fresh;
    TextDoc::SetUp();
    pdf_font *f = resolve(std::string("<< /Type /Font /Subtype /Type1 ") + c.base + " >>");
    ASSERT_NE(f, nullptr) << c.base;
    EXPECT_EQ(f->kind, FONT_SIMPLE);
    EXPECT_EQ(f->builtin, c.slot) << c.base;
    EXPECT_EQ(f->shared_map, c.slot >= 0 ? 1 : 0) << c.base;
    EXPECT_EQ(f->glyph_map != nullptr, c.slot >= 0) << c.base;
    if (c.slot >= 0) {
      EXPECT_EQ(f->glyph_map, font_base_cmap(c.slot));
      EXPECT_EQ(f->units_per_em, 2048);
    }
  }
}

TEST_F(Fonts, WidthsAreReadOnPastTheirList) {
  pdf_font *f = resolve("<< /Type /Font /Subtype /Type1 /BaseFont /Symbol /FirstChar 32 "
                        "/Widths [278 556] >>");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(f->widths, nullptr);
  EXPECT_EQ(f->widths.get()[31], 0);
  EXPECT_DOUBLE_EQ(f->widths.get()[32], 0.278);
  EXPECT_DOUBLE_EQ(f->widths.get()[33], 0.556);
  EXPECT_DOUBLE_EQ(f->widths.get()[34], 0.5);  // the ']' is read as a failed value
  EXPECT_DOUBLE_EQ(f->widths.get()[255], 0.5);
}

TEST_F(Fonts, AnEmbeddedProgramIsUsedWhateverTheBaseName) {
  b.obj(11, "<< /Type /FontDescriptor /FontName /Courier /FontFile2 12 0 R >>");
  b.stream(12, "", text_test::builtin_bytes(0));
  pdf_font *f = resolve("<< /Type /Font /Subtype /TrueType /BaseFont /Courier "
                        "/FirstChar 0 /Widths [111] /FontDescriptor 11 0 R >>");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->builtin, -1);
  EXPECT_EQ(f->shared_map, 0);
  EXPECT_EQ(f->file_len, builtin_font_constant_len(0));
  EXPECT_EQ(f->units_per_em, 2048);
  ASSERT_NE(f->glyph_map, nullptr);
  EXPECT_EQ(f->glyph_map, f->owned_map.get());
  // Code 0 has no glyph in the font: its advance falls back to the PDF's width.
  EXPECT_EQ(f->glyph_map[0].glyph, 0u);
  EXPECT_DOUBLE_EQ(f->glyph_map[0].advance, 0.111);
  EXPECT_NE(f->glyph_map['A'].glyph, 0u);
  EXPECT_DOUBLE_EQ(f->glyph_map['A'].advance, 1366.0 / 2048);  // Liberation Sans' A
}

TEST_F(Fonts, CodesFollowCodePage1252) {
  pdf_font *f = resolve("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(f->glyph_map, nullptr);
  static uint16_t table[65536];
  int ok = 0;
  tf_build_cmap(g_font_files[0], g_font_lens[0], table, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_NE(table[0x20AC], 0);
  EXPECT_EQ(f->glyph_map[0x80].glyph, table[0x20AC]);  // euro sign
  EXPECT_EQ(f->glyph_map[0x81].glyph, table[0]);       // undefined in 1252
  EXPECT_EQ(f->glyph_map[0x99].glyph, table[0x2122]);  // trade mark
  EXPECT_EQ(f->glyph_map[0xE9].glyph, table[0xE9]);    // e acute, through a mapped segment
}

TEST_F(Fonts, KindsAndTheirRecords) {
  b.obj(11, "<< /Type /Font /Subtype /Type0 /BaseFont /X /DescendantFonts [13 0 R] >>");
  b.obj(12, "<< /Type /Font /Subtype /Type3 /CharProcs << /a 14 0 R /Bee 15 0 R /x 99 0 R "
            ">> /Widths [500 -2] /FirstChar 97 /Resources << /Font << /Q 14 0 R >> >> >>");
  b.stream(14, "", "1 0 0 1 re f");
  b.flate_stream(15, "", "0 0 1 1 re f");
  b.obj(16, "<< /Type /Font /Subtype /Type3 /CharProcs 17 0 R >>");
  b.obj(17, "<< /a 14 0 R >>");
  b.obj(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  load();
  run("", "<< /Font << /Z 11 0 R /T 12 0 R /R 16 0 R /Inline << /Type /Font >> >> >>");

  pdf_font *z = font_get(st.get(), "Z");
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z->kind, FONT_TYPE0);
  EXPECT_EQ(z->glyph_map, nullptr);
  EXPECT_EQ(z->widths, nullptr);
  EXPECT_EQ(z->builtin, -1);

  pdf_font *t = font_get(st.get(), "T");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->kind, FONT_TYPE3);
  ASSERT_NE(t->procs, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(t->procs['a'].get()),
                        static_cast<size_t>(t->proc_lens.get()['a'])),
            "1 0 0 1 re f");
  // Stored under the name's last character; a decoded stream; no object, no procedure.
  EXPECT_EQ(t->proc_lens.get()['e'], 12);
  EXPECT_EQ(t->procs['x'], nullptr);
  EXPECT_DOUBLE_EQ(t->t3_widths.get()['a'], 0.5);
  EXPECT_DOUBLE_EQ(t->t3_widths.get()['b'], 1.0);  // a negative width
  EXPECT_DOUBLE_EQ(t->t3_widths.get()['c'], 1.0);  // read on past the list
  EXPECT_EQ(t->t3_widths.get()['a' - 1], 0);

  // /CharProcs by reference is not followed; a font written in place is not used.
  pdf_font *r3 = font_get(st.get(), "R");
  ASSERT_NE(r3, nullptr);
  for (int c = 0; c < 256; c++) EXPECT_EQ(r3->procs[c], nullptr);
  EXPECT_EQ(font_get(st.get(), "Inline"), nullptr);
  EXPECT_EQ(font_get(st.get(), "Missing"), nullptr);
}

TEST_F(Fonts, ResolvedOncePerStateWhereverFontIsWritten) {
  b.obj(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
  b.obj(11, "<< /F 10 0 R >>");
  load();
  for (const char *res : {"<< /Font << /F 10 0 R >> >>", "<< /Font 11 0 R >>"}) {
    run("/F 12 Tf /F 9 Tf", res);
    EXPECT_EQ(st->fonts.count, 1) << res;
    ASSERT_NE(st->font, nullptr) << res;
    EXPECT_EQ(st->font->builtin, 1) << res;
    EXPECT_EQ(font_get(st.get(), "F"), st->font) << res;
  }
  // Without resources nothing resolves, and a failure is not remembered.
  run("/F 12 Tf", "");
  EXPECT_EQ(st->font, nullptr);
  EXPECT_EQ(st->fonts.count, 0);
}

TEST_F(Fonts, TheCacheHoldsNinetySixFonts) {
  b.obj(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  load();
  std::string res = "<< /Font <<";
  for (int i = 0; i < 100; i++) res += " /F" + std::to_string(i) + " 10 0 R";
  res += " >> >>";
  run("", res);
  for (int i = 0; i < 96; i++)
    EXPECT_NE(font_get(st.get(), ("F" + std::to_string(i)).c_str()), nullptr) << i;
  EXPECT_EQ(font_get(st.get(), "F96"), nullptr);
  EXPECT_EQ(font_get(st.get(), "F0"), st->fonts.entries[0].font);
  EXPECT_EQ(st->fonts.count, 96);
}

// Every slot takes the first directory holding its file; the embedded copy stands in for a
// missing or unusable one.
TEST(BuiltinFonts, SlotsFilledAtInitialisationAndEmptiedAtCleanup) {
  const int sizes[] = {139512, 152408, 108172};
  for (int s = 0; s < k_builtin_slots; s++) EXPECT_EQ(builtin_font_constant_len(s), sizes[s]);
  lsf_load_fonts();
  for (int s = 0; s < k_builtin_slots; s++) {
    EXPECT_NE(g_font_files[s], nullptr);
    EXPECT_EQ(g_font_lens[s], sizes[s]);
  }
  EXPECT_NE(g_exe_dir[0], 0);
  char dirs[6][600];
  int n = builtin_font_dirs(dirs);
  ASSERT_EQ(n, 6);
  EXPECT_STREQ(dirs[0], "/usr/share/fonts/truetype/liberation/");
  EXPECT_EQ(std::string(dirs[2]), std::string(g_exe_dir) + "/fonts/");
  EXPECT_EQ(std::string(dirs[3]), std::string(g_exe_dir) + "/");
  EXPECT_STREQ(dirs[5], "fonts/");
  lsf_free_fonts();
  for (int s = 0; s < k_builtin_slots; s++) {
    EXPECT_EQ(g_font_files[s], nullptr);
    EXPECT_EQ(g_font_lens[s], 0);
  }
  lsf_load_fonts();
  for (int s = 0; s < k_builtin_slots; s++) EXPECT_EQ(g_font_lens[s], sizes[s]);
}

// The first directory holding a slot's file decides: a stub of 4096 bytes or less keeps the
// embedded copy though a later directory holds a good one; a good file is loaded whole.
TEST(BuiltinFonts, FilesOnDiskReplaceTheEmbeddedCopies) {
  const std::string dir = scratch_dir();
  ASSERT_EQ(run_command("mkdir -p " + dir + "/a " + dir + "/b"), 0);
  ASSERT_TRUE(write_file(dir + "/a/LiberationMono-Regular.ttf", std::string(4096, 'x')));
  ASSERT_TRUE(write_file(dir + "/b/LiberationMono-Regular.ttf", text_test::builtin_bytes(2)));
  const std::string serif = text_test::builtin_bytes(1) + "and a tail";
  ASSERT_TRUE(write_file(dir + "/b/LiberationSerif-Regular.ttf", serif));
  char dirs[2][600];
  std::snprintf(dirs[0], 600, "%s/a/", dir.c_str());
  std::snprintf(dirs[1], 600, "%s/b/", dir.c_str());
  load_font_files_from(dirs, 2);
  EXPECT_EQ(g_font_files[0], builtin_font_constant(0));  // no file anywhere
  EXPECT_NE(g_font_files[1], builtin_font_constant(1));
  EXPECT_EQ(g_font_lens[1], static_cast<int>(serif.size()));
  EXPECT_EQ(g_font_files[2], builtin_font_constant(2));  // the stub decided
  lsf_free_fonts();
  lsf_load_fonts();
}

}  // namespace
