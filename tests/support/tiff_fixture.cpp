#include "support/tiff_fixture.h"

#include <cstdint>

#include "support/pdf_builder.h"
#include "support/test_paths.h"

// An uncompressed TIFF of one strip, little-endian, samples as given.
std::string tiff_file(int w, int h, int spp, int bps, const std::string &samples) {
  std::string t = "II*";
  t += '\0';
  auto u16 = [&](uint32_t v) {
    t += static_cast<char>(v & 0xFF);
    t += static_cast<char>(v >> 8 & 0xFF);
  };
  auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const uint32_t entries = 10;
  const uint32_t ifd = 8, bps_at = ifd + 2 + entries * 12 + 4, data_at = bps_at + 8;
  u32(ifd);
  u16(entries);
  auto tag = [&](uint16_t id, uint16_t type, uint32_t count, uint32_t value) {
    u16(id);
    u16(type);
    u32(count);
    if (type == 3 && count == 1) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  };
  tag(256, 4, 1, static_cast<uint32_t>(w));
  tag(257, 4, 1, static_cast<uint32_t>(h));
  tag(258, 3, static_cast<uint32_t>(spp), spp == 1 ? static_cast<uint32_t>(bps) : bps_at);
  tag(259, 3, 1, 1);
  tag(262, 3, 1, spp == 1 ? 1 : 2);
  tag(273, 4, 1, data_at);
  tag(277, 3, 1, static_cast<uint32_t>(spp));
  tag(278, 4, 1, static_cast<uint32_t>(h));
  tag(279, 4, 1, static_cast<uint32_t>(samples.size()));
  tag(284, 3, 1, 1);
  u32(0);
  for (int i = 0; i < 4; i++) u16(i < spp ? static_cast<uint32_t>(bps) : 0);
  return t + samples;
}

// The data of the one strip of a TIFF file, either byte order, or "" when it cannot be found.
std::string tiff_strip(const std::string &f) {
  if (f.size() < 8 || (f.compare(0, 2, "II") != 0 && f.compare(0, 2, "MM") != 0)) return "";
  const bool be = f[0] == 'M';
  auto get = [&](size_t at, int n) -> uint32_t {
    uint32_t v = 0;
    if (at + static_cast<size_t>(n) > f.size()) return 0;
    for (int i = 0; i < n; i++) {
      uint32_t b = static_cast<uint8_t>(f[at + (be ? static_cast<size_t>(i) : n - 1 - i)]);
      v = v << 8 | b;
    }
    return v;
  };
  const uint32_t ifd = get(4, 4);
  const uint32_t count = get(ifd, 2);
  uint32_t offset = 0, length = 0;
  for (uint32_t i = 0; i < count; i++) {
    const size_t e = ifd + 2 + 12 * static_cast<size_t>(i);
    const uint32_t id = get(e, 2), type = get(e + 2, 2);
    const uint32_t value = type == 3 ? get(e + 8, 2) : get(e + 8, 4);
    if (get(e + 4, 4) != 1) continue;  // one strip: the value stands in the entry
    if (id == 273) offset = value;
    if (id == 279) length = value;
  }
  if (!length || static_cast<size_t>(offset) + length > f.size()) return "";
  return f.substr(offset, length);
}

// The strip of tiffcp's copy of the image under a compression option, or "" when it fails.
std::string tiffcp(int w, int h, int spp, int bps, const std::string &data, const char *how,
                   bool big_endian) {
  const std::string dir = scratch_dir();
  const std::string in = dir + "/in.tif", out = dir + "/out.tif";
  if (!write_file(in, tiff_file(w, h, spp, bps, data))) return "";
  std::string cmd = std::string("tiffcp ") + (big_endian ? "-B " : "") + "-c " + how + " -r " +
                    std::to_string(h) + " " + in + " " + out + " 2>&1";
  if (run_command(cmd) != 0) return "";
  return tiff_strip(read_file(out));
}

bool have_tiffcp() { return run_command("command -v tiffcp >/dev/null 2>&1") == 0; }

