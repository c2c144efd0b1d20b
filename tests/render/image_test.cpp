// Image decoding (depths, colour spaces, palettes, /Decode, soft and stencil masks, short
// data, the size limit) and nearest-neighbour drawing into the raster.

#include "render/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdfcore/document.h"
#include "render/image_draw.h"
#include "render/interp.h"
#include "support/pdf_builder.h"

namespace {

std::string bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s += static_cast<char>(b);
  return s;
}

struct decoded {
  bool ok = false;
  int w = 0, h = 0, stencil = 0, unreadable = 0;
  std::vector<uint8_t> px, alpha;
  std::vector<int> rgb(int i) const { return {px[i * 4], px[i * 4 + 1], px[i * 4 + 2]}; }
};

class Images : public ::testing::Test {
 protected:
  pdf_builder b;
  pdf_doc doc;
  int next = 10;

  void SetUp() override {
    b.obj(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>");
  }
  int image(const std::string &dict, const std::string &data) {
    b.stream(next, "/Type /XObject /Subtype /Image " + dict, data);
    return next++;
  }
  void load() {
    b.xref_trailer("/Root 1 0 R");
    const std::string &pdf = b.str();
    c_ptr<uint8_t> mem(static_cast<uint8_t *>(std::malloc(pdf.size())));
    std::memcpy(mem.get(), pdf.data(), pdf.size());
    ASSERT_EQ(doc_load_bytes(std::move(mem), static_cast<int32_t>(pdf.size()), "t", doc), 0);
  }
  decoded dec(int num) {
    decoded d;
    const pdf_obj *o = obj_find(doc.objs, num);
    if (!o) return d;
    c_ptr<uint8_t> alpha;
    c_ptr<uint8_t> px = decode_image(doc, *o, &d.w, &d.h, &alpha, &d.stencil, &d.unreadable);
    if (!px) return d;
    d.ok = true;
    d.px.assign(px.get(), px.get() + static_cast<size_t>(d.w) * d.h * 4);
    if (alpha) d.alpha.assign(alpha.get(), alpha.get() + static_cast<size_t>(d.w) * d.h);
    return d;
  }
};

using V = std::vector<int>;

TEST_F(Images, ConversionTable) {
  struct row {
    const char *dict;
    std::string data;
    int pixel;
    V want;
    int unreadable;
  };
  const std::vector<row> rows = {
      // 1 bit: each row starts on a new byte; set bits are white unless /Decode inverts.
      {"/Width 10 /Height 2 /BitsPerComponent 1 /ColorSpace /DeviceGray", bytes({0, 0, 0x80, 0}),
       10, {255, 255, 255}, 0},
      {"/Width 10 /Height 2 /BitsPerComponent 1 /ColorSpace /DeviceGray", bytes({0, 0, 0x80, 0}),
       9, {0, 0, 0}, 0},
      {"/Width 8 /Height 1 /BitsPerComponent 1 /ColorSpace /DeviceGray /Decode [1 0]",
       bytes({0x80}), 0, {0, 0, 0}, 0},
      {"/Width 4 /Height 1 /BitsPerComponent 2 /ColorSpace /DeviceGray", bytes({0x1B}), 1,
       {85, 85, 85}, 0},
      {"/Width 2 /Height 1 /BitsPerComponent 4 /ColorSpace /DeviceGray", bytes({0x3F}), 0,
       {51, 51, 51}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceRGB", bytes({10, 20, 30}), 0,
       {10, 20, 30}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceCMYK", bytes({0, 0, 0, 255}),
       0, {0, 0, 0}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceCMYK", bytes({0, 0, 0, 0}), 0,
       {255, 255, 255}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray", bytes({77}), 0,
       {77, 77, 77}, 0},
      // An inverted 8-bit scan: black where the samples say white.
      {"/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /Decode [1 0]",
       bytes({255}), 0, {0, 0, 0}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8", bytes({1, 2, 3}), 0, {1, 2, 3}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8", bytes({9}), 0, {9, 9, 9}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 8", bytes({9, 9}), 0, {255, 255, 255}, 1},
      {"/Width 1 /Height 1 /BitsPerComponent 16 /ColorSpace /DeviceRGB",
       bytes({0xFF, 0xFF, 0x80, 0x00, 0, 0}), 0, {255, 127, 0}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 16 /ColorSpace /DeviceGray", bytes({0x40, 0}), 0,
       {63, 63, 63}, 0},
      {"/Width 1 /Height 1 /BitsPerComponent 16 /ColorSpace /DeviceCMYK",
       bytes({0, 0, 0, 0, 0, 0, 0xFF, 0xFF}), 0, {0, 0, 0}, 0},
      {"/Width 1 /Height 1 /ColorSpace /Separation", bytes({0}), 0, {255, 255, 255}, 1},
      {"/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter /LZWDecode", bytes({0}), 0, {0, 0, 0},
       1},
      // Short data are padded with zeros, and the page is not judged on them.
      {"/Width 2 /Height 1 /ColorSpace /DeviceGray", bytes({255}), 1, {0, 0, 0}, 1},
  };
  std::vector<int> nums;
  for (const row &r : rows) nums.push_back(image(r.dict, r.data));
  load();
  for (size_t i = 0; i < rows.size(); i++) {
    decoded d = dec(nums[i]);
    ASSERT_TRUE(d.ok) << rows[i].dict;
    EXPECT_EQ(d.rgb(rows[i].pixel), rows[i].want) << rows[i].dict;
    EXPECT_EQ(d.px[rows[i].pixel * 4 + 3], 255);
    EXPECT_EQ(d.unreadable, rows[i].unreadable) << rows[i].dict;
  }
}

TEST_F(Images, PalettesAtEveryDepthWithTheirBaseSpace) {
  const std::string pal = "[/Indexed /DeviceRGB 3 <FFFFFF FF0000 00FF00 000000>]";
  int p1 = image("/Width 2 /Height 1 /BitsPerComponent 1 /ColorSpace " + pal, bytes({0x40}));
  int p2 = image("/Width 4 /Height 1 /BitsPerComponent 2 /ColorSpace " + pal, bytes({0x1B}));
  int p4 = image("/Width 2 /Height 1 /BitsPerComponent 4 /ColorSpace " + pal, bytes({0x23}));
  int p8 = image("/Width 2 /Height 1 /ColorSpace " + pal, bytes({1, 200}));  // 200 clamps to 3
  int cmyk = image("/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceCMYK 1 <00000000 000000FF>]",
                   bytes({0, 1}));
  b.stream(40, "", bytes({0, 0, 255, 255, 255, 0}));
  int stream = image("/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 40 0 R]",
                     bytes({0, 1}));
  int lit = image("/Width 1 /Height 1 /ColorSpace [/I /RGB 0 (\\001\\002\\003)]", bytes({0}));
  int shortp = image("/Width 2 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF0000>]",
                     bytes({0, 1}));
  int icc = image("/Width 1 /Height 1 /ColorSpace [/ICCBased 99 0 R]", bytes({0}));
  load();
  decoded d = dec(p1);
  EXPECT_EQ(d.rgb(0), (V{255, 255, 255}));
  EXPECT_EQ(d.rgb(1), (V{255, 0, 0}));
  d = dec(p2);
  EXPECT_EQ(d.rgb(0), (V{255, 255, 255}));
  EXPECT_EQ(d.rgb(3), (V{0, 0, 0}));
  d = dec(p4);
  EXPECT_EQ(d.rgb(0), (V{0, 255, 0}));
  EXPECT_EQ(d.rgb(1), (V{0, 0, 0}));
  d = dec(p8);
  EXPECT_EQ(d.rgb(0), (V{255, 0, 0}));
  EXPECT_EQ(d.rgb(1), (V{0, 0, 0}));
  d = dec(cmyk);
  EXPECT_EQ(d.rgb(0), (V{255, 255, 255}));
  EXPECT_EQ(d.rgb(1), (V{0, 0, 0}));
  d = dec(stream);
  EXPECT_EQ(d.rgb(0), (V{0, 0, 255}));
  EXPECT_EQ(d.rgb(1), (V{255, 255, 0}));
  EXPECT_EQ(dec(lit).rgb(0), (V{1, 2, 3}));
  d = dec(shortp);  // entries the lookup does not cover are black, never read past it
  EXPECT_EQ(d.rgb(1), (V{0, 0, 0}));
  EXPECT_EQ(d.unreadable, 1);
  d = dec(icc);  // a profile that is missing: the space is not understood
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.unreadable, 1);
}

TEST_F(Images, PngPredictorsOfFlateDataAreUndone) {
  b.flate_stream(50, "/Type /XObject /Subtype /Image /Width 2 /Height 3 /ColorSpace /DeviceGray "
                     "/DecodeParms << /Predictor 15 /Columns 2 >>",
                 bytes({1, 10, 5, 2, 1, 1, 4, 2, 3}));
  b.flate_stream(51, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                     "/DecodeParms << /Predictor 2 >>", bytes({7}));
  load();
  decoded d = dec(50);
  ASSERT_TRUE(d.ok);
  // Sub, then Up, then Paeth (which picks the byte above in both columns here).
  EXPECT_EQ((V{d.rgb(0)[0], d.rgb(1)[0], d.rgb(2)[0], d.rgb(3)[0], d.rgb(4)[0], d.rgb(5)[0]}),
            (V{10, 15, 11, 16, 13, 19}));
  EXPECT_EQ(d.unreadable, 0);
  // The TIFF predictor of one 8-bit sample leaves it as it is.
  decoded t = dec(51);
  EXPECT_EQ(t.unreadable, 0);
  EXPECT_EQ(t.rgb(0)[0], 7);
}

TEST_F(Images, SoftMaskIsAnImageOfItsOwnSize) {
  b.stream(30, "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray",
           bytes({0, 255, 128, 7}));
  b.stream(31, "/Width 8 /Height 1 /BitsPerComponent 1 /ColorSpace /DeviceGray", bytes({0xF0}));
  int big = image("/Width 4 /Height 4 /ColorSpace /DeviceGray /SMask 30 0 R",
                  std::string(16, '\0'));
  int onebit = image("/Width 2 /Height 1 /ColorSpace /DeviceGray /SMask 31 0 R", bytes({0, 0}));
  int missing = image("/Width 1 /Height 1 /ColorSpace /DeviceGray /SMask 99 0 R", bytes({0}));
  load();
  decoded d = dec(big);
  ASSERT_EQ(d.alpha.size(), 16u);
  EXPECT_EQ((V{d.alpha[0], d.alpha[1], d.alpha[2], d.alpha[3]}), (V{0, 0, 255, 255}));
  EXPECT_EQ((V{d.alpha[12], d.alpha[13], d.alpha[14], d.alpha[15]}), (V{128, 128, 7, 7}));
  d = dec(onebit);  // mask columns 0..7 sampled at 0 and 4
  ASSERT_EQ(d.alpha.size(), 2u);
  EXPECT_EQ((V{d.alpha[0], d.alpha[1]}), (V{255, 0}));
  d = dec(missing);
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.alpha.empty());
}

TEST_F(Images, StencilMasksMarkOnlyTheirZeroSamples) {
  int plain = image("/Width 8 /Height 1 /ImageMask true", bytes({0x0F}));
  int inverted = image("/Width 8 /Height 1 /ImageMask true /Decode [1 0]", bytes({0x0F}));
  load();
  for (int num : {plain, inverted}) {
    decoded d = dec(num);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.stencil, 1);
    int marks = num == plain ? 255 : 0;
    EXPECT_EQ(d.px[0 * 4 + 3], marks);
    EXPECT_EQ(d.px[7 * 4 + 3], 255 - marks);
  }
}

TEST_F(Images, SizeLimitsAndBadDepths) {
  int ok = image("/Width 20000 /Height 1 /ColorSpace /DeviceGray", std::string(20000, 'x'));
  int wide = image("/Width 20001 /Height 1 /ColorSpace /DeviceGray", "x");
  int none = image("/Height 1 /ColorSpace /DeviceGray", "x");
  int depth = image("/Width 1 /Height 1 /BitsPerComponent 3 /ColorSpace /DeviceGray", "x");
  // Short data at the widest size: sizes are computed in 64 bits, missing samples read as 0.
  int wide16 = image("/Width 20000 /Height 2 /BitsPerComponent 16 /ColorSpace /DeviceRGB", "x");
  load();
  EXPECT_TRUE(dec(ok).ok);
  EXPECT_FALSE(dec(wide).ok);
  EXPECT_FALSE(dec(none).ok);
  EXPECT_FALSE(dec(depth).ok);
  decoded d = dec(wide16);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.rgb(2 * 20000 - 1), (V{0, 0, 0}));
  EXPECT_EQ(d.unreadable, 1);
}

// A 16 x 16 grey JPEG, black above and white below, as cjpeg writes it.
const std::string k_square_jpeg(
      "\xff\xd8\xff\xe0\x00\x10\x4a\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00\xff\xdb\x00\x43\x00\x03\x02\x02\x03\x02\x02\x03"
      "\x03\x03\x03\x04\x03\x03\x04\x05\x08\x05\x05\x04\x04\x05\x0a\x07\x07\x06\x08\x0c\x0a\x0c\x0c\x0b\x0a\x0b\x0b\x0d\x0e\x12\x10\x0d"
      "\x0e\x11\x0e\x0b\x0b\x10\x16\x10\x11\x13\x14\x15\x15\x15\x0c\x0f\x17\x18\x16\x14\x18\x12\x14\x15\x14\xff\xc0\x00\x0b\x08\x00\x10"
      "\x00\x10\x01\x01\x11\x00\xff\xc4\x00\x1f\x00\x00\x01\x05\x01\x01\x01\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x01\x02\x03\x04"
      "\x05\x06\x07\x08\x09\x0a\x0b\xff\xc4\x00\xb5\x10\x00\x02\x01\x03\x03\x02\x04\x03\x05\x05\x04\x04\x00\x00\x01\x7d\x01\x02\x03\x00"
      "\x04\x11\x05\x12\x21\x31\x41\x06\x13\x51\x61\x07\x22\x71\x14\x32\x81\x91\xa1\x08\x23\x42\xb1\xc1\x15\x52\xd1\xf0\x24\x33\x62\x72"
      "\x82\x09\x0a\x16\x17\x18\x19\x1a\x25\x26\x27\x28\x29\x2a\x34\x35\x36\x37\x38\x39\x3a\x43\x44\x45\x46\x47\x48\x49\x4a\x53\x54\x55"
      "\x56\x57\x58\x59\x5a\x63\x64\x65\x66\x67\x68\x69\x6a\x73\x74\x75\x76\x77\x78\x79\x7a\x83\x84\x85\x86\x87\x88\x89\x8a\x92\x93\x94"
      "\x95\x96\x97\x98\x99\x9a\xa2\xa3\xa4\xa5\xa6\xa7\xa8\xa9\xaa\xb2\xb3\xb4\xb5\xb6\xb7\xb8\xb9\xba\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9"
      "\xca\xd2\xd3\xd4\xd5\xd6\xd7\xd8\xd9\xda\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8\xe9\xea\xf1\xf2\xf3\xf4\xf5\xf6\xf7\xf8\xf9\xfa\xff\xda"
      "\x00\x08\x01\x01\x00\x00\x3f\x00\xfc\xaa\xa2\xbf\xaa\x8a\x2b\xff\xd9",
    337);

TEST_F(Images, JpegDataAreResampledToTheDictionarySize) {
  int good = image("/Width 4 /Height 4 /BitsPerComponent 8 /ColorSpace /DeviceGray "
                   "/Filter /DCTDecode", k_square_jpeg);
  int bad = image("/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter /DCTDecode",
                  bytes({0xFF, 0xD8, 0x12, 0x34, 0x56}));
  load();
  decoded d = dec(good);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ((V{d.w, d.h}), (V{4, 4}));
  EXPECT_LT(d.rgb(0)[0], 8);
  EXPECT_GT(d.rgb(15)[0], 247);
  EXPECT_EQ(d.unreadable, 0);
  d = dec(bad);  // refused by the decoder: read as samples, and the page is not judged
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.rgb(0), (V{255, 255, 255}));
  EXPECT_EQ(d.unreadable, 1);
}

// Drawing: a raster of 8 x 8 with the page CTM the identity.
class Draw : public ::testing::Test {
 protected:
  raster r;
  interp_state st;
  void SetUp() override {
    ASSERT_TRUE(raster_init(r, 8, 8));
    interp_state_setup(st, nullptr, &r, nullptr, 0, k_identity);
  }
  int gray(int x, int y) const { return r.rgb.get()[(y * 8 + x) * 3]; }
};

TEST_F(Draw, NearestNeighbourBlocksRoundingAndClipping) {
  const uint8_t px[16] = {0, 0, 0, 255, 100, 100, 100, 255, 200, 200, 200, 255, 50, 50, 50, 255};
  st.ctm_stack[0] = matrix{4, 0, 0, 4, 0, 0};
  draw_pixels(&st, 1, 1, 2, 2, px, nullptr, 1.0);
  EXPECT_EQ((V{gray(0, 0), gray(1, 1), gray(2, 0), gray(3, 1), gray(0, 2), gray(3, 2)}),
            (V{0, 0, 100, 100, 200, 50}));
  EXPECT_EQ(gray(4, 0), 255);

  // Bounds 0.4 .. 2.6 round to columns 0 to 2; a box under half a pixel paints nothing.
  ASSERT_TRUE(raster_init(r, 8, 8));
  st.ctm_stack[0] = matrix{2.2, 0, 0, 2.2, 0.4, 0.4};
  draw_pixels(&st, 1, 1, 1, 1, px, nullptr, 1.0);
  EXPECT_EQ((V{gray(0, 0), gray(2, 2), gray(3, 3)}), (V{0, 0, 255}));
  ASSERT_TRUE(raster_init(r, 8, 8));
  st.ctm_stack[0] = matrix{0.2, 0, 0, 0.2, 5.2, 5.2};
  draw_pixels(&st, 1, 1, 1, 1, px, nullptr, 1.0);
  EXPECT_EQ(gray(5, 5), 255);

  // A mirrored matrix paints the same box; the clip cuts the image without shifting it.
  ASSERT_TRUE(raster_init(r, 8, 8));
  st.ctm_stack[0] = matrix{4, 0, 0, -4, 0, 4};
  r.clip = pix_box{2, 0, 8, 8};
  draw_pixels(&st, 1, 1, 2, 2, px, nullptr, 1.0);
  EXPECT_EQ((V{gray(1, 0), gray(2, 0), gray(2, 2)}), (V{255, 100, 50}));

  // An alpha-plane value of 0 leaves the raster as it was.
  ASSERT_TRUE(raster_init(r, 8, 8));
  st.ctm_stack[0] = matrix{8, 0, 0, 8, 0, 0};
  const uint8_t alpha[4] = {0, 255, 255, 255};
  draw_pixels(&st, 1, 1, 2, 2, px, alpha, 1.0);
  EXPECT_EQ((V{gray(0, 0), gray(7, 0)}), (V{255, 100}));
}

}  // namespace
