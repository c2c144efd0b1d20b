// Image decoding: the dictionary read, samples unpacked at 1, 2, 4, 8 and 16 bits with their
// /Decode ranges, converted through gray, RGB, CMYK or a palette to RGBA. Every size is
// computed in 64 bits and checked before anything is allocated.

#include "render/image.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pdfcore/lex.h"
#include "render/filters.h"
#include "render/interp.h"
#include "render/jpeg.h"
#include "render/tokenizer.h"

namespace {

enum img_kind { IK_NONE, IK_GRAY, IK_RGB, IK_CMYK, IK_INDEXED, IK_UNKNOWN };

struct img_space {
  int kind = IK_NONE;
  int ncomp = 1;
  int count = 0;                 // palette entries (Indexed)
  std::vector<uint8_t> palette;  // count x 3 bytes, already RGB
};

struct dict_text {
  const uint8_t *t = nullptr;
  int32_t len = 0;
  int32_t open = 0;  // the "<<" of the dictionary
};

bool name_char(uint8_t c) { return is_alnum(c) || c == '_' || c == '+' || c == '-' || c == '.'; }

bool name_is(const uint8_t *t, int32_t end, int32_t p, const char *s) {
  if (p >= end || t[p] != '/') return false;
  int32_t k = static_cast<int32_t>(std::strlen(s));
  if (p + 1 + k > end || std::memcmp(t + p + 1, s, static_cast<size_t>(k)) != 0) return false;
  return p + 1 + k == end || !name_char(t[p + 1 + k]);
}

// Position of the value of a key (its inline abbreviation tried as well), or -1.
int32_t key_value(const dict_text &d, const char *key, const char *abbrev, bool abbreviations) {
  int32_t v = dict_value(d.t, d.open, d.len, key);
  if (v < 0 && abbreviations && abbrev) v = dict_value(d.t, d.open, d.len, abbrev);
  if (v < 0) return -1;
  v = skip_blank(d.t, v, d.len);
  return v < d.len ? v : -1;
}

int kind_of_name(const uint8_t *t, int32_t end, int32_t p) {
  if (name_is(t, end, p, "DeviceGray") || name_is(t, end, p, "G") || name_is(t, end, p, "CalGray"))
    return IK_GRAY;
  if (name_is(t, end, p, "DeviceRGB") || name_is(t, end, p, "RGB") || name_is(t, end, p, "CalRGB"))
    return IK_RGB;
  if (name_is(t, end, p, "DeviceCMYK") || name_is(t, end, p, "CMYK")) return IK_CMYK;
  return IK_UNKNOWN;
}

int ncomp_of(int kind) { return kind == IK_RGB ? 3 : kind == IK_CMYK ? 4 : 1; }

void to_rgb(int kind, const double *v, double *rgb) {
  auto u = [](double x) { return std::clamp(x, 0.0, 1.0); };
  if (kind == IK_RGB) {
    for (int i = 0; i < 3; i++) rgb[i] = u(v[i]);
  } else if (kind == IK_CMYK) {
    double k = u(v[3]);
    for (int i = 0; i < 3; i++) rgb[i] = (1 - u(v[i])) * (1 - k);
  } else {
    rgb[0] = rgb[1] = rgb[2] = u(v[0]);
  }
}

uint8_t channel(double v) {
  return static_cast<uint8_t>(std::floor(255.0 * std::clamp(v, 0.0, 1.0)));
}

int hexval(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes of a palette's lookup: a hexadecimal or literal string, or a stream or string
// object by reference. False when none can be read.
bool lookup_bytes(const pdf_doc &doc, res_span v, std::vector<uint8_t> &out, int *unreadable) {
  const pdf_obj *o = nullptr;
  res_span s;
  if (!res_deref(&doc, v, &s, &o)) return false;
  if (o && o->is_stream) {
    int32_t n = 0;
    int status = DECODE_FAILED;
    c_ptr<uint8_t> data = rvx_stream_decode(doc, *o, &n, &status);
    if (!data) return false;
    if (status != DECODE_OK) *unreadable = 1;
    out.assign(data.get(), data.get() + n);
    return true;
  }
  const uint8_t *t = s.data;
  int32_t p = s.pos, end = s.end;
  if (p >= end) return false;
  if (t[p] == '<') {
    if (p + 1 < end && t[p + 1] == '<') return false;
    int hi = -1;
    for (p++; p < end && t[p] != '>'; p++) {
      int h = hexval(t[p]);
      if (h < 0) {
        if (is_c_space(t[p])) continue;
        break;
      }
      if (hi < 0) {
        hi = h;
      } else {
        out.push_back(static_cast<uint8_t>(hi * 16 + h));
        hi = -1;
      }
    }
    if (hi >= 0) out.push_back(static_cast<uint8_t>(hi * 16));
    return true;
  }
  if (t[p] == '(') {
    int depth = 1;
    for (p++; p < end; p++) {
      uint8_t c = t[p];
      if (c == '\\' && p + 1 < end) {
        uint8_t e = t[++p];
        if (e >= '0' && e <= '7') {
          int val = 0;
          for (int k = 0; k < 3 && p < end && t[p] >= '0' && t[p] <= '7'; k++, p++)
            val = val * 8 + (t[p] - '0');
          p--;
          out.push_back(static_cast<uint8_t>(val));
        } else if (e == '\r' || e == '\n') {
          if (e == '\r' && p + 1 < end && t[p + 1] == '\n') p++;
        } else {
          const char *from = "nrtbf", *to = "\n\r\t\b\f";
          const char *q = std::strchr(from, e);
          out.push_back(q && e ? static_cast<uint8_t>(to[q - from]) : e);
        }
        continue;
      }
      if (c == '(') depth++;
      if (c == ')' && --depth == 0) break;
      out.push_back(c);
    }
    return true;
  }
  return false;
}

bool read_space(const pdf_doc &doc, res_span v, const image_options &opt, img_space *cs, int depth,
                int *unreadable);

// [/Indexed base hival lookup]
bool read_indexed(const pdf_doc &doc, res_span a, const image_options &opt, img_space *cs,
                  int depth, int *unreadable) {
  int32_t pb = array_item(a.data, a.pos, a.end, 1);
  int32_t ph = array_item(a.data, a.pos, a.end, 2);
  int32_t pl = array_item(a.data, a.pos, a.end, 3);
  if (pb < 0 || ph < 0 || pl < 0) return false;
  img_space base;
  if (!read_space(doc, res_span{a.data, pb, a.end}, opt, &base, depth + 1, unreadable) ||
      base.kind == IK_INDEXED || base.kind == IK_UNKNOWN || base.kind == IK_NONE)
    return false;
  int32_t q = skip_blank(a.data, ph, a.end);
  double hival = 0;
  if (!read_real(a.data, a.end, &q, &hival) || hival < 0) return false;
  int count = static_cast<int>(std::min(hival, 255.0)) + 1;
  std::vector<uint8_t> raw;
  if (!lookup_bytes(doc, res_span{a.data, pl, a.end}, raw, unreadable)) return false;
  cs->kind = IK_INDEXED;
  cs->ncomp = 1;
  cs->count = count;
  cs->palette.assign(static_cast<size_t>(count) * 3, 0);
  const size_t n = static_cast<size_t>(base.ncomp);
  // A lookup shorter than its entries is damaged: what it lacks is made up.
  if (raw.size() < static_cast<size_t>(count) * n) *unreadable = 1;
  for (int i = 0; i < count; i++) {
    double v[4] = {0, 0, 0, 0}, rgb[3];
    // Entries the lookup data do not cover stay black.
    if ((static_cast<size_t>(i) + 1) * n > raw.size()) continue;
    for (size_t k = 0; k < n; k++) v[k] = raw[static_cast<size_t>(i) * n + k] / 255.0;
    to_rgb(base.kind, v, rgb);
    for (int k = 0; k < 3; k++) cs->palette[static_cast<size_t>(i) * 3 + k] = channel(rgb[k]);
  }
  return true;
}

// A colour space written as a name, an array or a reference to either. False only when an
// Indexed space's palette cannot be read; a space not understood is IK_UNKNOWN.
bool read_space(const pdf_doc &doc, res_span v, const image_options &opt, img_space *cs, int depth,
                int *unreadable) {
  cs->kind = IK_UNKNOWN;
  if (depth > 4) return true;
  res_span s;
  if (!res_deref(&doc, v, &s)) return true;
  const uint8_t *t = s.data;
  if (s.pos >= s.end) return true;
  if (t[s.pos] == '/') {
    int k = kind_of_name(t, s.end, s.pos);
    if (k == IK_UNKNOWN && opt.abbreviations && opt.resources) {
      token name;
      token_next(t, s.end, s.pos, &name);
      res_span named;
      if (name.type == TOK_NAME &&
          res_named(&doc, opt.resources, opt.resources_len, "ColorSpace", name.name, &named)) {
        token_release(&name);
        return read_space(doc, named, opt, cs, depth + 1, unreadable);
      }
      token_release(&name);
    }
    cs->kind = k;
    cs->ncomp = ncomp_of(k);
    return true;
  }
  if (t[s.pos] != '[') return true;
  int32_t first = array_item(t, s.pos, s.end, 0);
  if (first < 0) return true;
  first = skip_blank(t, first, s.end);
  if (name_is(t, s.end, first, "Indexed") || name_is(t, s.end, first, "I"))
    return read_indexed(doc, s, opt, cs, depth, unreadable);
  if (name_is(t, s.end, first, "ICCBased")) {
    int32_t pr = array_item(t, s.pos, s.end, 1);
    const pdf_obj *o = nullptr;
    res_span prof;
    if (pr < 0 || !res_deref(&doc, res_span{t, pr, s.end}, &prof, &o) || !o) return true;
    const uint8_t *dt = nullptr;
    int32_t dl = 0;
    if (!obj_dict_text(doc.data.get(), doc.len, *o, &dt, &dl)) return true;
    int32_t np = find_name(dt, dl, 0, dl, "N");
    if (np < 0) return true;
    int32_t q = np + 2;
    int n = parse_int_at(dt, dl, &q);
    cs->kind = n == 1 ? IK_GRAY : n == 3 ? IK_RGB : n == 4 ? IK_CMYK : IK_UNKNOWN;
    cs->ncomp = ncomp_of(cs->kind);
    return true;
  }
  int k = kind_of_name(t, s.end, first);  // [/CalRGB << ... >>] and the like
  cs->kind = k;
  cs->ncomp = ncomp_of(k);
  return true;
}

bool flag_true(const dict_text &d, const char *key, const char *abbrev, bool abbreviations) {
  int32_t p = key_value(d, key, abbrev, abbreviations);
  return p >= 0 && kw_at(d.t, p, d.len, "true");
}

c_ptr<uint8_t> alloc_bytes(uint64_t n) {
  if (n == 0 || n > static_cast<uint64_t>(SIZE_MAX / 2)) return nullptr;
  return c_ptr<uint8_t>(static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n))));
}

// The sample of component k of pixel c in a row, at b bits.
inline uint32_t sample_at(const uint8_t *row, uint64_t index, int b) {
  switch (b) {
    case 8:
      return row[index];
    case 16:
      return (static_cast<uint32_t>(row[index * 2]) << 8) | row[index * 2 + 1];
    default: {
      uint64_t bit = index * static_cast<uint64_t>(b);
      uint32_t byte = row[bit >> 3];
      int shift = 8 - b - static_cast<int>(bit & 7);
      return (byte >> shift) & ((1u << b) - 1);
    }
  }
}

}  // namespace

bool read_real(const uint8_t *data, int32_t end, int32_t *pos, double *out) {
  int32_t p = skip_blank(data, *pos, end);
  bool neg = false;
  if (p < end && (data[p] == '-' || data[p] == '+')) neg = data[p++] == '-';
  double v = 0, scale = 1;
  bool digits = false, frac = false;
  for (; p < end; p++) {
    uint8_t c = data[p];
    if (c == '.' && !frac) {
      frac = true;
    } else if (is_digit(c)) {
      digits = true;
      if (frac) {
        scale /= 10;
        v += (c - '0') * scale;
      } else {
        v = v * 10 + (c - '0');
      }
    } else {
      break;
    }
  }
  if (!digits || !std::isfinite(v)) return false;
  *out = neg ? -v : v;
  *pos = p;
  return true;
}

c_ptr<uint8_t> decode_image(const pdf_doc &doc, const pdf_obj &img, int *out_width, int *out_height,
                            c_ptr<uint8_t> *out_alpha, int *out_stencil, int *unreadable,
                            const image_options &opt, bool *out_sampled) {
  int dummy = 0;
  if (!unreadable) unreadable = &dummy;
  if (out_sampled) *out_sampled = false;
  if (out_alpha) out_alpha->reset();
  if (out_stencil) *out_stencil = 0;
  dict_text d;
  if (!obj_dict_text(doc.data.get(), doc.len, img, &d.t, &d.len) || !d.t || d.len < 2)
    return nullptr;
  while (d.open + 1 < d.len && !(d.t[d.open] == '<' && d.t[d.open + 1] == '<')) d.open++;
  if (d.open + 1 >= d.len) return nullptr;
  const bool ab = opt.abbreviations;

  auto int_key = [&](const char *key, const char *abbrev, int missing) {
    int32_t p = key_value(d, key, abbrev, ab);
    if (p < 0) return missing;
    double v = 0;
    if (!read_real(d.t, d.len, &p, &v)) return -1;
    return v < -1e9 || v > 1e9 ? -1 : static_cast<int>(v);
  };
  const int W = int_key("Width", "W", 0), H = int_key("Height", "H", 0);
  if (W < 1 || W > k_image_max_side || H < 1 || H > k_image_max_side) return nullptr;
  const bool stencil = flag_true(d, "ImageMask", "IM", ab);
  int b = int_key("BitsPerComponent", "BPC", stencil ? 1 : 8);
  if (stencil) b = 1;
  if (b != 1 && b != 2 && b != 4 && b != 8 && b != 16) {
    *unreadable = 1;
    return nullptr;
  }

  img_space cs;
  if (!stencil) {
    int32_t p = key_value(d, "ColorSpace", "CS", ab);
    if (p >= 0) {
      if (!read_space(doc, res_span{d.t, p, d.len}, opt, &cs, 0, unreadable)) {
        *unreadable = 1;
        return nullptr;
      }
    }
  }

  int32_t L = 0;
  int status = DECODE_FAILED;
  c_ptr<uint8_t> data = rvx_stream_decode(doc, img, &L, &status);
  if (!data) {
    *unreadable = 1;
    return nullptr;
  }
  const uint64_t npix = static_cast<uint64_t>(W) * static_cast<uint64_t>(H);
  if (opt.source_pixels) *opt.source_pixels = npix;
  // The image rows and columns the drawing reads, when they are fewer than the image's pixels;
  // otherwise every pixel is converted.
  std::vector<uint32_t> rows, cols;
  if (opt.sample_only && out_sampled) {
    const image_box &bx = *opt.sample_only;
    const uint64_t nr = bx.yb > bx.ya ? static_cast<uint64_t>(bx.yb - bx.ya) : 0;
    const uint64_t ncl = bx.xb > bx.xa ? static_cast<uint64_t>(bx.xb - bx.xa) : 0;
    if (nr > 0 && ncl > 0 && nr * ncl < npix) {
      rows.resize(nr);
      cols.resize(ncl);
      for (uint64_t i = 0; i < nr; i++)
        rows[i] = static_cast<uint32_t>(source_index(bx.ya + static_cast<long>(i), bx.ylo, bx.yhi, H));
      for (uint64_t j = 0; j < ncl; j++)
        cols[j] = static_cast<uint32_t>(source_index(bx.xa + static_cast<long>(j), bx.xlo, bx.xhi, W));
    }
  }
  const bool sampled = !rows.empty();
  // Converted whole, an image takes four bytes a pixel: beyond this many pixels (a soft mask
  // the size of a wall, say) it is not had, and the page is not judged without it.
  if (!sampled && npix > k_image_max_full_pixels) {
    *unreadable = 1;
    return nullptr;
  }
  const int OW = sampled ? static_cast<int>(cols.size()) : W;
  const int OH = sampled ? static_cast<int>(rows.size()) : H;
  const uint64_t nout = static_cast<uint64_t>(OW) * static_cast<uint64_t>(OH);
  // Image pixel of output pixel (i, j): itself, or the grid's.
  auto src_row = [&](int i) -> uint64_t { return sampled ? rows[static_cast<size_t>(i)] : static_cast<uint64_t>(i); };
  auto src_col = [&](int j) -> uint64_t { return sampled ? cols[static_cast<size_t>(j)] : static_cast<uint64_t>(j); };
  c_ptr<uint8_t> out = alloc_bytes(nout * 4);
  if (!out) {
    *unreadable = 1;
    return nullptr;
  }

  // The soft mask is attached, and the size reported, once the pixels are there.
  auto finish = [&](c_ptr<uint8_t> pixels) -> c_ptr<uint8_t> {
    // The soft mask is an image of its own: decoded as its dictionary says, then sampled at
    // each pixel of this one. A mask that cannot be had leaves the image opaque, and the
    // page unreadable.
    int32_t sp = opt.no_smask || stencil ? -1 : key_value(d, "SMask", nullptr, false);
    if (sp >= 0 && is_digit(d.t[sp]) && out_alpha) {
      int32_t q = sp;
      const pdf_obj *mo = obj_find(doc.objs, parse_int_at(d.t, d.len, &q));
      if (mo && mo->num != img.num) {
        image_options mopt;
        mopt.no_smask = true;
        int mw = 0, mh = 0, mst = 0, mun = 0;
        c_ptr<uint8_t> mask_alpha;
        c_ptr<uint8_t> mask = decode_image(doc, *mo, &mw, &mh, &mask_alpha, &mst, &mun, mopt);
        // Drawn opaque, an image would cover what its mask lets through: a page drawn so is
        // not judged blank.
        if (!mask || mun) *unreadable = 1;
        c_ptr<uint8_t> plane = mask ? alloc_bytes(nout) : nullptr;
        if (plane) {
          for (int i = 0; i < OH; i++) {
            uint64_t mr = src_row(i) * static_cast<uint64_t>(mh) / static_cast<uint64_t>(H);
            for (int j = 0; j < OW; j++) {
              uint64_t mc = src_col(j) * static_cast<uint64_t>(mw) / static_cast<uint64_t>(W);
              plane.get()[static_cast<uint64_t>(i) * OW + j] =
                  mask.get()[(mr * static_cast<uint64_t>(mw) + mc) * 4];
            }
          }
          *out_alpha = std::move(plane);
        }
      }
    }
    *out_width = OW;
    *out_height = OH;
    if (out_sampled) *out_sampled = sampled;
    return pixels;
  };

  // JPEG data are recognised by their start, whatever the /Filter says, and resampled to the
  // dictionary's size when the frame differs. Data the decoder refuses are read as plain
  // samples below, and the page is not judged on them.
  if (L >= 4 && data.get()[0] == 0xFF && data.get()[1] == 0xD8) {
    int32_t jw = 0, jh = 0;
    const char *message = nullptr;
    c_ptr<uint8_t> jpx(
        qx_jpeg_decode_impl(data.get(), static_cast<uint64_t>(L), &jw, &jh, &message));
    if (jpx && jw > 0 && jh > 0) {
      uint8_t *o = out.get();
      for (int i = 0; i < OH; i++) {
        uint64_t jr = std::min<uint64_t>(
            src_row(i) * static_cast<uint64_t>(jh) / static_cast<uint64_t>(H),
            static_cast<uint64_t>(jh - 1));
        for (int j = 0; j < OW; j++, o += 4) {
          uint64_t jc = std::min<uint64_t>(
              src_col(j) * static_cast<uint64_t>(jw) / static_cast<uint64_t>(W),
              static_cast<uint64_t>(jw - 1));
          std::memcpy(o, jpx.get() + (jr * static_cast<uint64_t>(jw) + jc) * 4, 4);
        }
      }
      return finish(std::move(out));
    }
    *unreadable = 1;
  } else if (status != DECODE_OK) {
    *unreadable = 1;
  }

  if (cs.kind == IK_NONE && !stencil) {
    // No colour space: a data length that matches RGB or gray samples at 8 bits decides.
    if (b == 8 && static_cast<uint64_t>(L) == npix * 3) {
      cs.kind = IK_RGB;
    } else if (b == 8 && static_cast<uint64_t>(L) == npix) {
      cs.kind = IK_GRAY;
    } else if (b == 8) {
      cs.kind = IK_UNKNOWN;
    } else {
      cs.kind = IK_GRAY;
    }
    cs.ncomp = ncomp_of(cs.kind);
  }
  if (cs.kind == IK_UNKNOWN) {
    *unreadable = 1;
    std::memset(out.get(), 255, static_cast<size_t>(nout * 4));
    *out_width = OW;
    *out_height = OH;
    if (out_sampled) *out_sampled = sampled;
    return out;
  }
  const int nc = cs.ncomp;

  const uint64_t stride =
      (static_cast<uint64_t>(W) * static_cast<uint64_t>(nc) * static_cast<uint64_t>(b) + 7) / 8;
  const uint64_t need = stride * static_cast<uint64_t>(H);
  // Rows past the data's end all read from one row of zeros: a short stream claiming a huge
  // image costs the rows it has, not the rows it claims.
  uint64_t zero_row = static_cast<uint64_t>(H);
  if (static_cast<uint64_t>(L) < need) {
    // Missing samples read as 0; the page is not judged on what was made up.
    *unreadable = 1;
    zero_row = static_cast<uint64_t>(L) / stride + 1;  // the partly filled row comes before
    const uint64_t kept = std::min(need, (zero_row + 1) * stride);
    c_ptr<uint8_t> padded = alloc_bytes(kept);
    if (!padded) return nullptr;
    std::memcpy(padded.get(), data.get(), static_cast<size_t>(L));
    std::memset(padded.get() + L, 0, static_cast<size_t>(kept - static_cast<uint64_t>(L)));
    data = std::move(padded);
  }
  auto row_at = [&](uint64_t r) { return data.get() + stride * std::min(r, zero_row); };

  // The /Decode ranges, one pair per component; an Indexed image's range is in index units.
  const double maxv = static_cast<double>((1u << b) - 1);
  double dmin[4], dmax[4];
  for (int k = 0; k < nc; k++) {
    dmin[k] = 0;
    dmax[k] = cs.kind == IK_INDEXED ? maxv : 1;
  }
  int32_t dp = key_value(d, "Decode", "D", ab);
  if (dp >= 0 && d.t[dp] == '[') {
    int32_t q = dp + 1;
    double vals[8];
    int got = 0;
    while (got < 2 * nc && read_real(d.t, d.len, &q, &vals[got])) got++;
    if (got == 2 * nc)
      for (int k = 0; k < nc; k++) {
        dmin[k] = vals[2 * k];
        dmax[k] = vals[2 * k + 1];
      }
  }

  // One pixel from its decoded components.
  auto convert = [&](const double *v, uint8_t *o) {
    if (stencil) {
      o[0] = o[1] = o[2] = 0;
      o[3] = v[0] < 0.5 ? 255 : 0;  // a sample that decodes to 0 marks
      return;
    }
    if (cs.kind == IK_INDEXED) {
      long idx = std::clamp(std::lround(v[0]), 0L, static_cast<long>(cs.count - 1));
      std::memcpy(o, cs.palette.data() + idx * 3, 3);
    } else {
      double rgb[3];
      to_rgb(cs.kind, v, rgb);
      for (int k = 0; k < 3; k++) o[k] = channel(rgb[k]);
    }
    o[3] = 255;
  };
  auto decoded = [&](int k, uint32_t s) { return dmin[k] + s * (dmax[k] - dmin[k]) / maxv; };

  uint8_t *o = out.get();
  if (sampled) {
    // Only the grid's pixels, each through the same steps as below.
    uint8_t lut[256][4];
    if (nc == 1 && b <= 8)
      for (uint32_t s = 0; s < (1u << b); s++) {
        double v[4] = {decoded(0, s), 0, 0, 0};
        convert(v, lut[s]);
      }
    for (int i = 0; i < OH; i++) {
      const uint8_t *row = row_at(src_row(i));
      for (int j = 0; j < OW; j++, o += 4) {
        const uint64_t c = src_col(j);
        if (nc == 1 && b <= 8) {
          std::memcpy(o, lut[sample_at(row, c, b)], 4);
          continue;
        }
        double v[4] = {0, 0, 0, 0};
        for (int k = 0; k < nc; k++) v[k] = decoded(k, sample_at(row, c * nc + k, b));
        convert(v, o);
      }
    }
  } else if (nc == 1 && b <= 8) {
    // A one-component pixel depends on its sample alone: convert each of the at most 256
    // sample values once, through the same steps, and look pixels up.
    uint8_t lut[256][4];
    for (uint32_t s = 0; s < (1u << b); s++) {
      double v[4] = {decoded(0, s), 0, 0, 0};
      convert(v, lut[s]);
    }
    for (int r = 0; r < H; r++) {
      const uint8_t *row = row_at(static_cast<uint64_t>(r));
      if (b == 8) {
        for (int c = 0; c < W; c++, o += 4) std::memcpy(o, lut[row[c]], 4);
      } else if (b == 1) {
        // Black-and-white scans: eight pixels per byte, taken from the top bit down.
        int c = 0;
        for (; c + 8 <= W; c += 8) {
          const uint8_t byte = row[c >> 3];
          for (int k = 7; k >= 0; k--, o += 4) std::memcpy(o, lut[(byte >> k) & 1], 4);
        }
        for (; c < W; c++, o += 4)
          std::memcpy(o, lut[sample_at(row, static_cast<uint64_t>(c), b)], 4);
      } else {
        for (int c = 0; c < W; c++, o += 4)
          std::memcpy(o, lut[sample_at(row, static_cast<uint64_t>(c), b)], 4);
      }
    }
  } else {
    for (int r = 0; r < H; r++) {
      const uint8_t *row = row_at(static_cast<uint64_t>(r));
      for (int c = 0; c < W; c++, o += 4) {
        double v[4] = {0, 0, 0, 0};
        for (int k = 0; k < nc; k++)
          v[k] = decoded(k, sample_at(row, static_cast<uint64_t>(c) * nc + k, b));
        convert(v, o);
      }
    }
  }
  if (out_stencil) *out_stencil = stencil ? 1 : 0;

  return finish(std::move(out));
}
