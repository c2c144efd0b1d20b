// The content-stream interpreter on arbitrary content, run against one fixed document whose
// page resources name a little of everything the operators look up: fonts of each kind (a
// standard font drawn with a built-in face, an embedded TrueType program, a Type 3 font),
// images (plain, masked, Flate-compressed, indexed), forms (one that calls itself), colour
// spaces, a shading and a graphics state. The raster is small so each run stays quick.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "pdfcore/document.h"
#include "render/builtin_fonts.h"
#include "render/interp.h"
#include "render/raster.h"

namespace {

constexpr int k_raster = 48;
// Content longer than this only repeats what shorter content reaches, more slowly.
constexpr size_t k_max_content = 1 << 18;

// A stored (uncompressed) zlib stream: the decoder's input format without needing a
// compressor here.
std::string zlib_stored(const std::string &data) {
  std::string out = "\x78\x01";
  size_t pos = 0;
  do {
    size_t n = data.size() - pos > 65535 ? 65535 : data.size() - pos;
    bool last = pos + n == data.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(n & 0xFF));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(~n & 0xFF));
    out.push_back(static_cast<char>((~n >> 8) & 0xFF));
    out.append(data, pos, n);
    pos += n;
  } while (pos < data.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  uint32_t adler = b << 16 | a;
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<char>((adler >> s) & 0xFF));
  return out;
}

class doc_writer {
 public:
  doc_writer() { out_ = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"; }
  void obj(int num, const std::string &body) {
    offsets_[num] = out_.size();
    out_ += std::to_string(num) + " 0 obj\n" + body + "\nendobj\n";
  }
  void stream(int num, const std::string &dict, const std::string &data) {
    obj(num, "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
                 "\nendstream");
  }
  std::string finish() {
    int size = offsets_.rbegin()->first + 1;
    size_t xref = out_.size();
    out_ += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
    for (int n = 1; n < size; n++) {
      char line[24];
      auto it = offsets_.find(n);
      if (it == offsets_.end())
        std::snprintf(line, sizeof line, "0000000000 65535 f \n");
      else
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", it->second);
      out_ += line;
    }
    out_ += "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R >>\nstartxref\n" +
            std::to_string(xref) + "\n%%EOF\n";
    return out_;
  }

 private:
  std::string out_;
  std::map<int, size_t> offsets_;
};

const char k_resources[] =
    "<< /Font << /F1 10 0 R /F2 11 0 R /F3 14 0 R /F4 16 0 R /F5 99 0 R >>"
    " /XObject << /Im1 20 0 R /Im2 21 0 R /Im3 22 0 R /Im4 23 0 R /Fm1 30 0 R /Fm2 31 0 R"
    " /Fm3 32 0 R /Bad 40 0 R >>"
    " /ColorSpace << /CS0 [/ICCBased 41 0 R] /CS1 [/Indexed /DeviceRGB 1 <ff000000ff00>]"
    " /CS2 [/Separation /Spot /DeviceCMYK 42 0 R] /CS3 /DeviceGray /CS4 [/Pattern] >>"
    " /Shading << /Sh0 << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 1 1] >> >>"
    " /Pattern << /P0 << /PatternType 2 /Shading << /ShadingType 2 >> >> >>"
    " /ExtGState << /GS0 << /LW 3 /CA 0.5 /ca 0.5 >> >> >>";

std::string build_document() {
  doc_writer w;
  w.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
  w.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  w.obj(3, std::string("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources ") +
               k_resources + " >>");
  w.obj(10, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  w.obj(11, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [0.001 0 0 0.001 0 0]"
            " /CharProcs << /A 12 0 R /B 13 0 R >> /Encoding << /Differences [65 /A /B] >>"
            " /FirstChar 65 /LastChar 66 /Widths [600 600] /Resources << /Font << /F2 11 0 R >> >> >>");
  w.stream(12, "", "600 0 0 0 500 500 d1 0 0 500 500 re f");
  w.stream(13, "", "/F2 1 Tf (A) Tj");  // a glyph that draws a glyph of its own font
  const uint8_t *mono = builtin_font_constant(2);
  int mono_len = builtin_font_constant_len(2);
  w.obj(14, "<< /Type /Font /Subtype /TrueType /BaseFont /LiberationMono /FirstChar 32"
            " /LastChar 126 /FontDescriptor 15 0 R >>");
  std::string program;
  if (mono && mono_len > 0) program.assign(reinterpret_cast<const char *>(mono), mono_len);
  w.obj(15, "<< /Type /FontDescriptor /FontName /LiberationMono /Flags 33 /FontFile2 17 0 R >>");
  w.stream(17, "/Length1 " + std::to_string(program.size()), program);
  w.obj(16, "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H"
            " /DescendantFonts [18 0 R] >>");
  w.obj(18, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /FontDescriptor 15 0 R"
            " /W [0 [500 600] 3 10 700] /DW 1000 >>");
  w.stream(20, "/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB"
               " /BitsPerComponent 8",
           std::string("\x00\x00\x00\xff\xff\xff\x80\x80\x80\x10\x20\x30", 12));
  w.stream(21, "/Type /XObject /Subtype /Image /Width 8 /Height 2 /ImageMask true"
               " /Decode [1 0]",
           std::string("\xa5\x5a", 2));
  w.stream(22, "/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray"
               " /BitsPerComponent 8 /Filter /FlateDecode /DecodeParms << /Predictor 12"
               " /Columns 4 >>",
           zlib_stored(std::string("\x02\x00\x40\x80\xc0\x02\x01\x01\x01\x01"
                                   "\x02\x10\x10\x10\x10\x02\x20\x20\x20\x20", 20)));
  w.stream(23, "/Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace"
               " [/Indexed /DeviceGray 1 <00ff>] /BitsPerComponent 1 /SMask 20 0 R",
           std::string("\x80", 1));
  w.stream(30, "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [2 0 0 2 10 10]",
           "0 0 50 50 re f /Im1 Do");
  w.stream(31, "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources << /XObject"
               " << /Self 31 0 R >> >>",
           "0.5 0 0 0.5 1 1 cm /Self Do");
  w.stream(32, "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Group << /S /Transparency >>",
           "BT /F1 12 Tf (x) Tj ET");
  w.obj(40, "<< /Type /XObject /Subtype /Image >>");
  w.stream(41, "/N 3 /Alternate /DeviceRGB", "profile");
  w.obj(42, "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0 0 1] /N 1 >>");
  return w.finish();
}

pdf_doc *g_doc = nullptr;
const uint8_t *g_res = nullptr;
int32_t g_res_len = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  lsf_load_fonts();
  std::string pdf = build_document();
  c_ptr<uint8_t> bytes(static_cast<uint8_t *>(std::malloc(pdf.size())));
  if (!bytes) std::abort();
  std::memcpy(bytes.get(), pdf.data(), pdf.size());
  g_doc = new pdf_doc;
  if (doc_load_bytes(std::move(bytes), static_cast<int32_t>(pdf.size()), "fuzz", *g_doc) != 0)
    std::abort();  // the fixture itself must load, or every run tests nothing
  g_res = reinterpret_cast<const uint8_t *>(k_resources);
  g_res_len = static_cast<int32_t>(sizeof k_resources - 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > k_max_content) return 0;
  raster r;
  if (!raster_init(r, k_raster, k_raster)) return 0;
  // The page (612 x 792) onto the raster, y downwards, as a page render sets it up.
  const double s = double(k_raster) / 792.0;
  const matrix ctm0 = {s, 0, 0, -s, 0, double(k_raster)};
  auto st = std::make_unique<interp_state>();
  interp_state_setup(*st, g_doc, &r, g_res, g_res_len, ctm0);
  interp_execute(st.get(), data, static_cast<int32_t>(size));
  if (st->ctm_depth < 1 || st->ctm_depth > k_ctm_stack_size) std::abort();
  return 0;
}
