// Images are converted only where the raster takes pixels. That must change nothing: every
// page here is rendered both ways, and pixels and marks must be identical.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <random>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/render.h"
#include "support/pdf_builder.h"
#include "support/stream_fixture.h"
#include "support/test_paths.h"

namespace {

std::string noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  // Smooth ramps with noise, so neighbouring samples differ and a wrong pick shows.
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + rng() % 23) & 0xFF);
  return s;
}

// A JPEG of a generated picture, made by cjpeg; "" when cjpeg is not there.
std::string generated_jpeg(int w, int h) {
  const std::string dir = scratch_dir();
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  ppm += noise(static_cast<size_t>(w) * h * 3, 99);
  if (!write_file(dir + "/in.ppm", ppm)) return "";
  if (run_command("cjpeg -quality 80 -outfile '" + dir + "/out.jpg' '" + dir + "/in.ppm' 2>/dev/null") != 0)
    return "";
  return read_file(dir + "/out.jpg");
}

bool same_render(const pdf_doc &doc, int page, int dpi, std::string *why) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  render_marks m1, m2;
  c_ptr<uint8_t> fast = lsf_render_page(doc, page, dpi, &w1, &h1, &m1, false, false);
  c_ptr<uint8_t> full = lsf_render_page(doc, page, dpi, &w2, &h2, &m2, false, true);
  if (!fast != !full) {
    *why = "only one render succeeded";
    return false;
  }
  if (!fast) return true;
  if (w1 != w2 || h1 != h2) {
    *why = "sizes differ";
    return false;
  }
  if (m1.text_shown != m2.text_shown || m1.unreadable != m2.unreadable || m1.shading != m2.shading) {
    *why = "marks differ";
    return false;
  }
  const size_t n = static_cast<size_t>(w1) * h1 * 4;
  for (size_t i = 0; i < n; ++i)
    if (fast.get()[i] != full.get()[i]) {
      *why = "pixel " + std::to_string(i / 4) + " differs";
      return false;
    }
  return true;
}

TEST(ImageSampling, EveryKindOfImageGivesTheSamePixels) {
  pdf_builder b;
  b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  const std::string img = "/Type /XObject /Subtype /Image ";
  b.stream(10, img + "/Width 300 /Height 400 /ColorSpace /DeviceGray /BitsPerComponent 8",
           noise(300 * 400, 1));
  b.stream(11, img + "/Width 257 /Height 129 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                     "/Decode [1 0 0.2 0.9 1 0]",
           noise(257 * 129 * 3, 2));
  b.stream(12, img + "/Width 333 /Height 201 /ColorSpace /DeviceGray /BitsPerComponent 1",
           noise((333 + 7) / 8 * 201, 3));
  b.stream(13, img + "/Width 333 /Height 201 /ImageMask true", noise((333 + 7) / 8 * 201, 4));
  b.stream(14, img + "/Width 100 /Height 80 /ColorSpace [/Indexed /DeviceRGB 15 <" +
                   std::string(96, 'A') + ">] /BitsPerComponent 4",
           noise(50 * 80, 5));
  b.stream(15, img + "/Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 16",
           noise(64 * 64 * 2, 6));
  b.stream(16, img + "/Width 50 /Height 40 /ColorSpace /DeviceGray /BitsPerComponent 8",
           noise(50 * 40, 7));
  b.stream(17, img + "/Width 200 /Height 150 /ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 16 0 R",
           noise(200 * 150 * 3, 8));
  b.stream(18, img + "/Width 120 /Height 90 /ColorSpace /DeviceCMYK /BitsPerComponent 8",
           noise(120 * 90 * 4, 9));
  b.stream(19, img + "/Width 100 /Height 100 /ColorSpace /DeviceGray /BitsPerComponent 8",
           noise(100 * 50, 10));  // half its data: unreadable, drawn from what there is
  b.stream(20, img + "/Width 10 /Height 10 /ColorSpace /Lab /BitsPerComponent 8", noise(300, 11));
  const std::string jpeg = generated_jpeg(233, 177);
  if (!jpeg.empty())
    b.stream(21, img + "/Width 233 /Height 177 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
                       "/Filter /DCTDecode",
             jpeg);
  // Each image drawn large, small, mirrored, off the page's edge and through a clip.
  std::string content, xobjects;
  const char *placements[] = {
      "400 0 0 300 20 400 cm", "9 0 0 7 500 50 cm", "-200 0 0 -150 590 780 cm",
      "300 0 0 200 450 -100 cm", "0 300 -200 0 300 100 cm",
  };
  int k = 0;
  for (int num = 10; num <= 21; ++num) {
    if (num == 16 || (num == 21 && jpeg.empty())) continue;
    xobjects += "/I" + std::to_string(num) + " " + std::to_string(num) + " 0 R ";
    for (const char *place : placements) {
      const std::string clip = (k++ % 3 == 0) ? "100 100 211 333 re W n " : "";
      content += "q " + clip + place + " /I" + std::to_string(num) + " Do Q\n";
    }
  }
  content += "q 120 0 0 90 30 30 cm BI /W 40 /H 30 /CS /G /BPC 8 ID " + noise(1200, 12) + " EI Q\n";
  b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
           "/Resources << /XObject << " + xobjects + ">> >> >>");
  b.stream(4, "", content);
  b.xref_trailer("/Root 1 0 R");
  pdf_doc doc;
  ASSERT_TRUE(load_pdf_text(b.str(), doc));
  for (int dpi : {48, 75, 150, 300}) {
    std::string why;
    EXPECT_TRUE(same_render(doc, 0, dpi, &why)) << dpi << " dpi: " << why;
  }
}

// Every page of the shared corpus, at the resolutions of both rules.
TEST(ImageSampling, CorpusPagesGiveTheSamePixels) {
  const std::string shared = shared_dir();
  if (shared.empty()) GTEST_SKIP() << "../shared is absent: no corpus to compare on";
  int pages = 0;
  for (const char *folder : {"/corpus/scans", "/corpus/real"}) {
    const std::string dir = shared + folder;
    DIR *d = opendir(dir.c_str());
    if (!d) continue;
    std::vector<std::string> files;
    while (dirent *e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0) files.push_back(dir + "/" + name);
    }
    closedir(d);
    for (const std::string &f : files) {
      pdf_doc doc;
      if (!pdfcore_load(f.c_str(), doc)) continue;
      for (int p = 0; p < doc.pages.count(); ++p, ++pages)
        for (int dpi : {48, 75}) {
          std::string why;
          EXPECT_TRUE(same_render(doc, p, dpi, &why)) << f << " page " << p + 1 << " at " << dpi << ": " << why;
        }
    }
  }
  EXPECT_GT(pages, 0);
}

}  // namespace
