#!/usr/bin/python3
"""Regenerates the seed corpora in fuzz/corpus/<target>/.

Everything is made here from generated pictures and texts, with tools of the Debian image
(cjpeg, pnmtotiff, tiffcp) and Python's zlib; the one real font is a Liberation file from
the system's font folder. The files are checked in: run this again only to change them.

    /usr/bin/python3 fuzz/make_seeds.py
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
FONT_DIR = "/usr/share/fonts/truetype/liberation"
TMP = tempfile.mkdtemp(prefix="leafsift-seeds-")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def run(*cmd, stdin=None):
    return subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE, check=True).stdout


# ---------------------------------------------------------------- pictures


def grey_picture(w, h, seed=0):
    """A grey picture with gradients, a bar and some noise, as binary PGM."""
    px = bytearray()
    for y in range(h):
        for x in range(w):
            v = (x * 255 // max(1, w - 1) + y * 97 // max(1, h - 1) + seed) & 0xFF
            if w // 3 <= x < w // 2:
                v = 20
            v ^= ((x * 7919 + y * 104729 + seed) >> 3) & 0x0F
            px.append(v)
    return b"P5\n%d %d\n255\n" % (w, h) + bytes(px)


def colour_picture(w, h, seed=0):
    px = bytearray()
    for y in range(h):
        for x in range(w):
            px += bytes(((x * 255 // max(1, w - 1)) & 0xFF,
                         (y * 255 // max(1, h - 1)) & 0xFF,
                         ((x ^ y) * 16 + seed) & 0xFF))
    return b"P6\n%d %d\n255\n" % (w, h) + bytes(px)


def bilevel_rows(w, h, kind):
    """Packed one-bit rows (1 = black, PBM's sense) of a few page-like patterns."""
    rows = []
    for y in range(h):
        bits = []
        for x in range(w):
            if kind == "text":
                on = (y % 12) in (3, 4, 5, 6) and (x // 5) % 3 != 2 and 10 <= x < w - 10
            elif kind == "border":
                on = x < 3 or y < 3 or x >= w - 3 or y >= h - 3
            elif kind == "checker":
                on = ((x // 4) + (y // 4)) % 2 == 0
            elif kind == "diagonal":
                on = abs(x - y * w // max(1, h)) < 2
            else:
                on = False
            bits.append(1 if on else 0)
        row = bytearray((w + 7) // 8)
        for x, b in enumerate(bits):
            if b:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return rows


def pbm(w, h, kind):
    return b"P4\n%d %d\n" % (w, h) + b"".join(bilevel_rows(w, h, kind))


# ---------------------------------------------------------------- JPEG


def make_jpegs():
    jpegs = {}
    cases = [
        ("grey16.jpg", grey_picture(16, 16), []),
        ("grey33x17.jpg", grey_picture(33, 17, 5), ["-quality", "60"]),
        ("rgb24.jpg", colour_picture(24, 24), []),
        ("rgb40x23_420.jpg", colour_picture(40, 23, 3), ["-sample", "2x2"]),
        ("rgb17_444.jpg", colour_picture(17, 17, 9), ["-sample", "1x1"]),
        ("rgb32_422_restart.jpg", colour_picture(32, 16, 1), ["-sample", "2x1", "-restart", "1"]),
        ("rgb16_optimized.jpg", colour_picture(16, 16, 7), ["-optimize", "-quality", "95"]),
        ("grey16_progressive.jpg", grey_picture(16, 16, 2), ["-progressive"]),
        ("rgb40_progressive.jpg", colour_picture(40, 24, 4), ["-progressive"]),
        ("rgb24_progressive_restart.jpg", colour_picture(24, 24, 6),
         ["-progressive", "-restart", "1", "-sample", "1x1"]),
        ("rgb8_q10_progressive.jpg", colour_picture(8, 8, 8),
         ["-progressive", "-quality", "10", "-baseline"]),
    ]
    for name, picture, args in cases:
        data = run("cjpeg", *args, stdin=picture)
        jpegs[name] = data
        put("jpeg", name, data)
    # A cut-off progressive file: decoding keeps what the first scans gave.
    prog = jpegs["rgb40_progressive.jpg"]
    put("jpeg", "rgb40_progressive_cut.jpg", prog[: len(prog) * 2 // 3])
    base = jpegs["rgb24.jpg"]
    put("jpeg", "rgb24_cut.jpg", base[: len(base) // 2])
    return jpegs


# ---------------------------------------------------------------- flate


def make_inflate():
    text = b"".join(b"line %d: the quick brown fox jumps over the lazy dog\n" % i
                    for i in range(200))
    binary = bytes((i * 31 + (i >> 5)) & 0xFF for i in range(5000))
    # The first byte selects the output buffer: 1 KiB << (b % 14).
    big, small = b"\x07", b"\x00"
    put("inflate", "text_level6", big + zlib.compress(text, 6))
    put("inflate", "text_level9", big + zlib.compress(text, 9))
    put("inflate", "text_stored", big + zlib.compress(text, 0))
    put("inflate", "binary_level1", big + zlib.compress(binary, 1))
    for name, strategy in (("fixed", zlib.Z_FIXED), ("huffman_only", zlib.Z_HUFFMAN_ONLY),
                           ("rle", zlib.Z_RLE)):
        c = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
        put("inflate", "text_" + name, big + c.compress(text) + c.flush())
    c = zlib.compressobj(6, zlib.DEFLATED, 15, 8)
    flushed = c.compress(text[:3000]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(text[3000:])
    put("inflate", "text_full_flush", big + flushed + c.flush())
    put("inflate", "empty_stream", big + zlib.compress(b""))
    put("inflate", "output_too_small", small + zlib.compress(text, 6))
    whole = zlib.compress(text, 6)
    put("inflate", "truncated", big + whole[: len(whole) // 2])
    damaged = bytearray(whole)
    damaged[len(damaged) // 3] ^= 0x5A
    put("inflate", "damaged", big + bytes(damaged))
    c = zlib.compressobj(9, zlib.DEFLATED, 9)
    put("inflate", "small_window", big + c.compress(text) + c.flush())


# ---------------------------------------------------------------- LZW, RunLength, predictors


def lzw_encode(data, early_change=1):
    """LZW as PDF and TIFF write it: MSB-first codes of 9 to 12 bits, 256 clear, 257 end."""
    out, acc, nbits = bytearray(), 0, 0
    width = 9

    def emit(code):
        nonlocal acc, nbits
        acc = (acc << width) | code
        nbits += width
        while nbits >= 8:
            nbits -= 8
            out.append((acc >> nbits) & 0xFF)

    table = {bytes([i]): i for i in range(256)}
    next_code = 258
    emit(256)
    w = b""
    for byte in data:
        wc = w + bytes([byte])
        if wc in table:
            w = wc
            continue
        emit(table[w])
        table[wc] = next_code
        next_code += 1
        if next_code + early_change > (1 << width) and width < 12:
            width += 1
        if next_code >= 4094:
            emit(256)
            table = {bytes([i]): i for i in range(256)}
            next_code = 258
            width = 9
        w = bytes([byte])
    if w:
        emit(table[w])
    emit(257)
    if nbits:
        out.append((acc << (8 - nbits)) & 0xFF)
    return bytes(out)


def make_lzw():
    text = b"".join(b"%d TOBEORNOTTOBEORTOBEORNOT " % i for i in range(400))
    noise = bytes((i * 2654435761 >> 13) & 0xFF for i in range(9000))
    # First byte: bit 0 early change, (b >> 1) % 25 the log2 of the output bound.
    bound = 22 << 1
    put("lzw", "text_early", bytes([bound | 1]) + lzw_encode(text, 1))
    put("lzw", "text_late", bytes([bound]) + lzw_encode(text, 0))
    put("lzw", "noise_table_resets", bytes([bound | 1]) + lzw_encode(noise, 1))
    put("lzw", "short", bytes([bound | 1]) + lzw_encode(b"-----A---B", 1))
    put("lzw", "bound_too_small", bytes([(4 << 1) | 1]) + lzw_encode(text, 1))
    enc = lzw_encode(text, 1)
    put("lzw", "no_end_code", bytes([bound | 1]) + enc[:-2])


def runlength_encode(data):
    out, i = bytearray(), 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 128 and data[j] == data[i]:
            j += 1
        if j - i >= 2:
            out += bytes([257 - (j - i), data[i]])
            i = j
            continue
        j = i
        while j < len(data) and j - i < 128 and (j + 1 >= len(data) or data[j] != data[j + 1]):
            j += 1
        j = max(j, i + 1)
        out.append(j - i - 1)
        out += data[i:j]
        i = j
    return bytes(out) + b"\x80"


def make_runlength():
    data = b"\x00" * 300 + bytes(range(200)) + b"\xff" * 129 + b"abcabc" * 20
    bound = bytes([20])
    put("runlength", "mixed", bound + runlength_encode(data))
    put("runlength", "no_end_byte", bound + runlength_encode(data)[:-1])
    put("runlength", "cut_in_literal", bound + bytes([100]) + b"short")
    put("runlength", "bound_too_small", bytes([6]) + runlength_encode(data))
    put("runlength", "end_then_more", bound + b"\x02abc\x80\xfe\x41")


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png_filter(rows, bpp, filters):
    out, prev = bytearray(), bytes(len(rows[0]))
    for k, row in enumerate(rows):
        f = filters[k % len(filters)]
        out.append(f)
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][f]
            out.append((x - pred) & 0xFF)
        prev = row
    return bytes(out)


def predictor_header(predictor_index, colours, bits_index, columns):
    # Indices into the target's tables: predictors {1, 2, 10..15, ...}, bits {1, 2, 4, 8, 16, ...}.
    return bytes([predictor_index, colours, bits_index]) + struct.pack(">H", columns + 1)


def make_predictor():
    cols, colours = 16, 3
    rows = [bytes(((x * 13 + y * 7 + c * 50) & 0xFF) for x in range(cols) for c in range(colours))
            for y in range(8)]
    # PNG predictors 10 to 15 (indices 2 to 7): every filter type, and each one alone.
    put("predictor", "png_all_filters",
        predictor_header(7, colours, 3, cols) + png_filter(rows, colours, [0, 1, 2, 3, 4]))
    for f in range(5):
        put("predictor", "png_filter_%d" % f,
            predictor_header(2 + f, colours, 3, cols) + png_filter(rows, colours, [f]))
    grey16 = [b"".join(struct.pack(">H", (x * 3000 + y * 500) & 0xFFFF) for x in range(10))
              for y in range(4)]
    put("predictor", "png_16bit", predictor_header(7, 1, 4, 10) + png_filter(grey16, 2, [1, 4]))
    put("predictor", "png_bad_filter_byte",
        predictor_header(7, 1, 3, 4) + b"\x01\x01\x01\x01\x01\x07\x00\x00\x00\x00")
    put("predictor", "png_last_row_short",
        predictor_header(7, 1, 3, 8) + png_filter(rows[:2], 1, [2])[:-3])
    # The TIFF predictor (index 1): differences from the sample to the left.
    def tiff_diff(row, bpp):
        return bytes(((row[i] - (row[i - bpp] if i >= bpp else 0)) & 0xFF)
                     for i in range(len(row)))
    put("predictor", "tiff_8bit_rgb",
        predictor_header(1, colours, 3, cols) + b"".join(tiff_diff(r, colours) for r in rows))
    put("predictor", "tiff_1bit", predictor_header(1, 1, 0, 24) + b"\xf0\x0f\xaa" * 6)
    put("predictor", "tiff_4bit", predictor_header(1, 2, 2, 5) + bytes(range(0, 250, 7)))
    put("predictor", "tiff_16bit", predictor_header(1, 1, 4, 10) + b"".join(grey16))
    put("predictor", "none", predictor_header(0, 1, 3, 1) + b"plain bytes")
    put("predictor", "unsupported", predictor_header(8, 1, 3, 4) + b"abcd")


# ---------------------------------------------------------------- CCITT


def tiff_strip(path):
    """The bytes of a single-strip TIFF's one strip (StripOffsets 273, StripByteCounts 279)."""
    data = open(path, "rb").read()
    order = "<" if data[:2] == b"II" else ">"
    ifd = struct.unpack(order + "I", data[4:8])[0]
    n = struct.unpack(order + "H", data[ifd:ifd + 2])[0]
    tags = {}
    for i in range(n):
        e = data[ifd + 2 + 12 * i: ifd + 14 + 12 * i]
        tag, typ, count = struct.unpack(order + "HHI", e[:8])
        if tag not in (273, 279):
            continue
        if count != 1:
            raise SystemExit("%s: tag %d has %d values: expected one strip" % (path, tag, count))
        val = struct.unpack(order + ("H" if typ == 3 else "I"), e[8:10] if typ == 3 else e[8:12])[0]
        tags[tag] = val
    off, cnt = tags[273], tags[279]
    return data[off:off + cnt]


def ccitt_header(flags, k, columns, rows):
    # flags: 1 BlackIs1, 2 EncodedByteAlign, 4 EndOfLine, 8 EndOfBlock, 0x10 columns as given.
    return bytes([flags | 0x10, k & 0xFF]) + struct.pack(">HH", columns, rows)


def make_ccitt():
    cases = [("text", 200, 60), ("border", 64, 40), ("checker", 48, 48), ("diagonal", 90, 30)]
    for kind, w, h in cases:
        src = os.path.join(TMP, kind + ".pbm")
        raw = os.path.join(TMP, kind + ".tif")
        with open(src, "wb") as f:
            f.write(pbm(w, h, kind))
        with open(raw, "wb") as f:
            f.write(run("pnmtotiff", "-none", src))
        for tag, comp, k, flags in (("g4", "g4", -1, 8), ("g3", "g3", 0, 4 | 8),
                                    ("g3_2d", "g3:2d", 1, 4 | 8),
                                    ("g3_fill", "g3:fill", 0, 4 | 8)):
            out = os.path.join(TMP, "%s_%s.tif" % (kind, tag))
            subprocess.run(["tiffcp", "-c", comp, "-r", str(h), raw, out], check=True)
            strip = tiff_strip(out)
            # TIFF writes 0 as white, the filter's default; BlackIs1 false.
            put("ccitt", "%s_%s" % (kind, tag), ccitt_header(flags, k, w, h) + strip)
            if kind == "text" and tag == "g4":
                put("ccitt", "text_g4_black_is_1", ccitt_header(flags | 1, k, w, 0) + strip)
                put("ccitt", "text_g4_cut", ccitt_header(flags, k, w, 0) + strip[: len(strip) // 2])
                put("ccitt", "text_g4_row_bound",
                    bytes([0x10 | 0x20 | flags, 0xFF]) + struct.pack(">HH", w, 0) + b"\x03" + strip)
    put("ccitt", "all_white_g4_rows", ccitt_header(8, -1, 1728, 3) + b"\x80\x08\x00\x80\x08\x00")


# ---------------------------------------------------------------- TrueType


def ttf_checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def ttf_build(tables):
    tags = sorted(tables)
    n = len(tags)
    es = max(i for i in range(8) if (1 << i) <= n)
    head = struct.pack(">IHHHH", 0x00010000, n, 16 << es, es, n * 16 - (16 << es))
    offset = 12 + 16 * n
    directory, body = b"", b""
    for t in tags:
        d = tables[t]
        directory += struct.pack(">4sIII", t.encode(), ttf_checksum(d), offset + len(body), len(d))
        body += d + b"\0" * (-len(d) % 4)
    return head + directory + body


def glyph_simple(contours):
    """A simple glyph from contours of (x, y, on) points, coordinates as 16-bit deltas."""
    pts = [p for c in contours for p in c]
    ends, k = [], -1
    for c in contours:
        k += len(c)
        ends.append(k)
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    out = struct.pack(">hhhhh", len(contours), min(xs), min(ys), max(xs), max(ys))
    out += struct.pack(">%dH" % len(ends), *ends) + struct.pack(">H", 0)
    flags, dx, dy = bytearray(), b"", b""
    px = py = 0
    for x, y, on in pts:
        f = 1 if on else 0
        ddx, ddy = x - px, y - py
        if -255 <= ddx <= 255 and ddx != 0:
            f |= 0x02 | (0x10 if ddx > 0 else 0)
            dx += bytes([abs(ddx)])
        elif ddx == 0:
            f |= 0x10
        else:
            dx += struct.pack(">h", ddx)
        dy += struct.pack(">h", ddy)
        flags.append(f)
        px, py = x, y
    return out + bytes(flags) + dx + dy


def glyph_composite(parts):
    """parts: (glyph id, dx, dy, scale or None)."""
    xs = [0, 1000]
    out = struct.pack(">hhhhh", -1, 0, 0, max(xs), 800)
    for i, (gid, dx, dy, scale) in enumerate(parts):
        f = 0x0001 | 0x0002  # word arguments, as x/y offsets
        if i + 1 < len(parts):
            f |= 0x0020
        if scale is not None:
            f |= 0x0008
        out += struct.pack(">HHhh", f, gid, dx, dy)
        if scale is not None:
            out += struct.pack(">h", int(scale * 16384))
    return out


def cmap_table(kind, mapping):
    codes = sorted(mapping)
    if kind == 0:
        arr = bytearray(256)
        for c in codes:
            if c < 256:
                arr[c] = mapping[c]
        sub = struct.pack(">HHH", 0, 262, 0) + bytes(arr)
        pid, eid = 1, 0
    elif kind == 6:
        first, last = codes[0], codes[-1]
        ids = [mapping.get(c, 0) for c in range(first, last + 1)]
        sub = struct.pack(">HHHHH", 6, 10 + 2 * len(ids), 0, first, len(ids))
        sub += struct.pack(">%dH" % len(ids), *ids)
        pid, eid = 1, 0
    elif kind == 12:
        groups = [(c, c, mapping[c]) for c in codes]
        sub = struct.pack(">HHIII", 12, 0, 16 + 12 * len(groups), 0, len(groups))
        for g in groups:
            sub += struct.pack(">III", *g)
        pid, eid = 3, 10
    else:  # format 4, one segment per code plus the closing one
        segs = [(c, c, (mapping[c] - c) & 0xFFFF) for c in codes] + [(0xFFFF, 0xFFFF, 1)]
        n = len(segs)
        es = max(i for i in range(16) if (1 << i) <= n)
        body = struct.pack(">%dH" % n, *[s[1] for s in segs]) + b"\0\0"
        body += struct.pack(">%dH" % n, *[s[0] for s in segs])
        body += struct.pack(">%dH" % n, *[s[2] for s in segs])
        body += struct.pack(">%dH" % n, *([0] * n))
        sub = struct.pack(">HHHHHHH", 4, 14 + len(body), 0, 2 * n, 2 << es, es, 2 * n - (2 << es))
        sub += body
        pid, eid = 3, 1
    return struct.pack(">HHHHI", 0, 1, pid, eid, 12) + sub


def make_font(cmap_kind, long_loca, composite=True):
    square = [[(100, 0, 1), (100, 700, 1), (600, 700, 1), (600, 0, 1)]]
    curve = [[(50, 0, 1), (300, 700, 0), (550, 0, 1)], [(200, 100, 1), (300, 300, 0), (400, 100, 1)]]
    glyphs = [b"", glyph_simple(square), glyph_simple(curve)]
    if composite:
        glyphs.append(glyph_composite([(1, 0, 0, None), (2, 300, 50, 0.5)]))
        glyphs.append(glyph_composite([(4, 10, 10, None)]))  # names itself: the depth bound ends it
    glyf, loca = b"", []
    for g in glyphs:
        loca.append(len(glyf))
        glyf += g + b"\0" * (-len(g) % 4)
    loca.append(len(glyf))
    loca_data = (struct.pack(">%dI" % len(loca), *loca) if long_loca
                 else struct.pack(">%dH" % len(loca), *[x // 2 for x in loca]))
    n = len(glyphs)
    head = struct.pack(">IIIIHHQQhhhhHHhhh", 0x00010000, 0x00010000, 0, 0x5F0F3CF5, 0, 1000,
                       0, 0, 0, 0, 1000, 800, 0, 8, 2, 1 if long_loca else 0, 0)
    hhea = struct.pack(">IhhhHhhhhhhhhhhhH", 0x00010000, 800, -200, 0, 700, 0, 0, 700, 1, 0, 0,
                       0, 0, 0, 0, 0, n - 1)
    hmtx = b"".join(struct.pack(">Hh", 500 + 50 * i, 0) for i in range(n - 1)) + struct.pack(">h", 0)
    maxp = struct.pack(">IH", 0x00010000, n) + b"\0" * 26
    mapping = {0x41: 1, 0x42: 2}
    if composite:
        mapping.update({0x43: 3, 0x44: 4})
    if cmap_kind == 12:
        mapping[0x1F600] = 2
    tables = {"head": head, "hhea": hhea, "hmtx": hmtx, "maxp": maxp, "loca": loca_data,
              "glyf": glyf, "cmap": cmap_table(cmap_kind, mapping)}
    return ttf_build(tables)


def make_truetype():
    put("truetype", "small_cmap4_short_loca.ttf", make_font(4, False))
    put("truetype", "small_cmap12_long_loca.ttf", make_font(12, True))
    put("truetype", "small_cmap6.ttf", make_font(6, False, composite=False))
    put("truetype", "small_cmap0.ttf", make_font(0, True))
    f = bytearray(make_font(4, False))
    put("truetype", "small_truncated.ttf", bytes(f[: len(f) * 3 // 4]))
    # The smallest real font of the built-in three, as it stands.
    shutil.copy(os.path.join(FONT_DIR, "LiberationMono-Regular.ttf"),
                os.path.join(CORPUS, "truetype", "LiberationMono-Regular.ttf"))


# ---------------------------------------------------------------- content streams and options


def make_interp():
    streams = {
        "paths": b"q 1 0 0 RG 0 1 0 rg 10 w 50 50 m 300 400 l 500 100 300 600 100 200 c "
                 b"200 200 v 300 300 y h B* Q 0 0 612 792 re S 100 100 200 200 re f* n",
        "clip_and_states": b"q 100 100 300 300 re W n 0 0 612 792 re f Q q /GS0 gs 0.5 g "
                           b"200 200 100 100 re f Q 1 j 2 J [3 5] 0 d 4 M 20 w 10 10 m 600 780 l S",
        "colour_spaces": b"/CS0 cs 0.2 0.4 0.6 scn 0 0 50 50 re f /CS1 CS 1 SC 0 0 m 612 792 l S "
                         b"/CS2 cs 0.7 scn 10 10 90 90 re f /CS3 cs 0.3 sc 0 0 1 k 0 0 0 1 K "
                         b"/CS4 cs /P0 scn 0 0 10 10 re f /Sh0 sh",
        "text": b"BT /F1 24 Tf 72 700 Td (Hello) Tj 0 -30 TD [(A) -200 (B)] TJ 14 TL T* "
                b"(next) ' 1 2 (third) \" 3 Tr (invisible) Tj 0 Tr 2 Tz 1 Tc 2 Tw ET",
        "fonts": b"BT /F2 40 Tf 100 100 Td (ABBA) Tj /F3 30 Tf 100 300 Td (mono text) Tj "
                 b"/F4 20 Tf <0001000200030004> Tj /F5 10 Tf (missing) Tj ET",
        "text_matrix_clip": b"BT 2 0 0.5 2 50 50 Tm /F1 12 Tf 7 Tr (clipped) Tj ET 0 0 612 792 re f",
        "images": b"q 200 0 0 200 50 50 cm /Im1 Do Q q 100 0 0 50 300 300 cm 1 0 0 rg /Im2 Do Q "
                  b"q 80 0 0 80 400 500 cm /Im3 Do Q q 60 0 0 60 10 700 cm /Im4 Do Q /Bad Do",
        "forms": b"/Fm1 Do q 0.5 0 0 0.5 0 0 cm /Fm2 Do Q /Fm3 Do /Missing Do",
        "inline_image": b"q 100 0 0 100 200 200 cm BI /W 4 /H 4 /CS /G /BPC 8 ID "
                        b"\x00\x40\x80\xc0\x00\x40\x80\xc0\x00\x40\x80\xc0\x00\x40\x80\xc0\nEI Q "
                        b"BI /W 8 /H 1 /IM true ID \xaa EI",
        "nesting": b"q " * 40 + b"2 0 0 2 0 0 cm " + b"Q " * 45 + b"[[[[<<>>]]]] {} ) ( unbalanced",
        "numbers": b"1e5 -.5 +3 4. --5 0.000001 99999999999999999999 1 2 3 4 5 6 cm 0 0 m 1 1 l S",
        "marked_content": b"/OC /oc1 BDC BX /Foo 1 2 unknownop EX EMC /P <</MCID 0>> BDC EMC "
                          b"BMC EMC d0 1 0 0 0 1 1 d1",
    }
    for name, data in streams.items():
        put("interp", name, data)


def make_options():
    texts = [
        b"{}",
        b'{"rule":"light","threshold":97}',
        b'{"rule":"scan"}',
        b'{"rule":"scan","margin_mm":8,"speck_mm2":0.5,"contrast":40,'
        b'"max_ink_mm2":25,"faint_mm2":100}',
        b'  {  "threshold" : 100 , "rule" : "light" }  ',
        b'{"rule":"scan","margin_mm":50.0,"speck_mm2":1e2,"contrast":255}',
        b'{"rule":"dark"}',
        b'{"threshold":"99"}',
        b'{"margin_mm":-1}',
        b'{"rule":"scan","rule":"light"}',
        b'{"unknown":1}',
        b'{"rule":"sc\\u0061n"}',
        b"[1,2]",
        b'{"threshold":99,}',
        b'{"contrast":1.5e}',
    ]
    for i, t in enumerate(texts):
        put("options", "options_%02d" % i, t)


# ---------------------------------------------------------------- whole files


class Pdf:
    """A small PDF writer after the tests' builder: objects, streams and xref tables."""

    def __init__(self, header=b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n"):
        self.out = bytearray(header)
        self.offsets = {}
        self.pending = {}
        self.last_xref = -1

    def obj(self, num, body):
        if isinstance(body, str):
            body = body.encode("latin-1")
        self.offsets[num] = self.pending[num] = len(self.out)
        self.out += b"%d 0 obj\n" % num + body + b"\nendobj\n"

    def stream(self, num, dictionary, data, flate=False):
        if flate:
            data = zlib.compress(data, 6)
            dictionary += " /Filter /FlateDecode"
        self.obj(num, ("<< %s /Length %d >>\nstream\n" % (dictionary, len(data))).encode("latin-1")
                 + data + b"\nendstream")

    def xref(self, trailer):
        at = len(self.out)
        x = b"xref\n0 1\n0000000000 65535 f \n"
        for num, off in sorted(self.pending.items()):
            x += b"%d 1\n%010d 00000 n \n" % (num, off)
        size = max(self.offsets) + 1
        prev = " /Prev %d" % self.last_xref if self.last_xref >= 0 else ""
        x += ("trailer\n<< /Size %d %s%s >>\nstartxref\n%d\n%%%%EOF\n"
              % (size, trailer, prev, at)).encode("latin-1")
        self.out += x
        self.last_xref = at
        self.pending = {}

    def bytes(self):
        return bytes(self.out)


def pages_pdf(contents, box="[0 0 200 200]", resources="<< >>", extra=None):
    p = Pdf()
    kids = " ".join("%d 0 R" % (10 + 2 * i) for i in range(len(contents)))
    p.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
    p.obj(2, "<< /Type /Pages /Kids [%s] /Count %d /MediaBox %s /Resources %s >>"
          % (kids, len(contents), box, resources))
    for i, c in enumerate(contents):
        p.obj(10 + 2 * i, "<< /Type /Page /Parent 2 0 R /Contents %d 0 R >>" % (11 + 2 * i))
        p.stream(11 + 2 * i, "", c, flate=(i % 2 == 1))
    if extra:
        extra(p)
    p.xref("/Root 1 0 R")
    return p.bytes()


def make_documents(jpegs):
    docs = {}
    docs["blank_and_ink"] = pages_pdf([b"", b"0 0 1 rg 20 20 100 100 re f", b"1 g 0 0 200 200 re f"])
    docs["text"] = pages_pdf([b"BT /F1 12 Tf 20 100 Td (Hello) Tj ET", b""],
                             resources="<< /Font << /F1 << /Type /Font /Subtype /Type1 "
                                       "/BaseFont /Times-Roman >> >> >>")
    docs["faint_marks"] = pages_pdf([b"0.9 g 50 50 2 2 re f 0.95 g 100 100 60 1 re f",
                                     b"0 g 1 1 3 3 re f 196 196 3 3 re f",
                                     b"0 g 0.2 w 10 10 m 190 190 l S"])

    jpeg = jpegs["rgb24.jpg"]
    prog = jpegs["grey16_progressive.jpg"]

    def images(p):
        p.stream(30, "/Type /XObject /Subtype /Image /Width 24 /Height 24 /ColorSpace /DeviceRGB "
                     "/BitsPerComponent 8 /Filter /DCTDecode", jpeg)
        p.stream(31, "/Type /XObject /Subtype /Image /Width 16 /Height 16 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 8 /Filter /DCTDecode", prog)
        grey = bytes((x * 16) & 0xFF for x in range(64))
        p.stream(32, "/Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 8", grey, flate=True)

    docs["images"] = pages_pdf(
        [b"q 100 0 0 100 10 10 cm /A Do Q", b"q 100 0 0 100 50 50 cm /B Do Q",
         b"q 190 0 0 190 5 5 cm /C Do Q"],
        resources="<< /XObject << /A 30 0 R /B 31 0 R /C 32 0 R >> >>", extra=images)

    # A scanned page: a Group 4 strip as a /CCITTFaxDecode image, and one made all white.
    def scans(p):
        src = os.path.join(TMP, "scan.pbm")
        with open(src, "wb") as f:
            f.write(pbm(160, 160, "text"))
        raw, g4 = os.path.join(TMP, "scan.tif"), os.path.join(TMP, "scan_g4.tif")
        with open(raw, "wb") as f:
            f.write(run("pnmtotiff", "-none", src))
        subprocess.run(["tiffcp", "-c", "g4", "-r", "160", raw, g4], check=True)
        strip = tiff_strip(g4)
        p.stream(30, "/Type /XObject /Subtype /Image /Width 160 /Height 160 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 1 /Filter /CCITTFaxDecode /DecodeParms << /K -1 /Columns 160 "
                     "/Rows 160 /BlackIs1 false >>", strip)
        p.stream(31, "/Type /XObject /Subtype /Image /Width 160 /Height 160 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 1 /Decode [1 0] /Filter /CCITTFaxDecode /DecodeParms "
                     "<< /K -1 /Columns 160 /Rows 160 >>", strip)
        lzw_img = lzw_encode(bytes((x * 3) & 0xFF for x in range(32 * 32)))
        p.stream(32, "/Type /XObject /Subtype /Image /Width 32 /Height 32 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 8 /Filter /LZWDecode", lzw_img)
        rl = runlength_encode(b"\xff" * 500 + b"\x00" * 24 + b"\xff" * 500)
        p.stream(33, "/Type /XObject /Subtype /Image /Width 32 /Height 32 /ColorSpace /DeviceGray "
                     "/BitsPerComponent 8 /Filter /RunLengthDecode", rl)

    docs["scans"] = pages_pdf(
        [b"q 200 0 0 200 0 0 cm /S Do Q", b"q 200 0 0 200 0 0 cm /W Do Q",
         b"q 200 0 0 200 0 0 cm /L Do Q", b"q 200 0 0 200 0 0 cm /R Do Q"],
        resources="<< /XObject << /S 30 0 R /W 31 0 R /L 32 0 R /R 33 0 R >> >>", extra=scans)

    # Objects packed in an object stream, found through a cross-reference stream.
    p = Pdf()
    objs = [(1, b"<< /Type /Catalog /Pages 2 0 R >>"),
            (2, b"<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>"),
            (3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R >>"),
            (5, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Rotate 90 >>")]
    head, body = b"", b""
    for n, text in objs:
        head += b"%d %d " % (n, len(body))
        body += text + b"\n"
    p.stream(4, "", b"0 0 50 50 re f")
    p.stream(6, "/Type /ObjStm /N %d /First %d" % (len(objs), len(head) + 1), head + b"\n" + body,
             flate=True)
    xref_at = len(p.out)
    index = {n: i for i, (n, _) in enumerate(objs)}
    rows = [(0, 0, 0xFFFF)]
    for n in range(1, 8):
        if n in index:
            rows.append((2, 6, index[n]))
        else:
            rows.append((1, {4: p.offsets[4], 6: p.offsets[6], 7: xref_at}[n], 0))
    xdata = b"".join(struct.pack(">BIH", t, a, b) for t, a, b in rows)
    p.stream(7, "/Type /XRef /Size 8 /W [1 4 2] /Root 1 0 R", xdata, flate=True)
    p.out += b"startxref\n%d\n%%%%EOF\n" % xref_at
    docs["object_streams"] = p.bytes()

    # An incremental update that replaces a page's content.
    p = Pdf()
    p.obj(1, "<< /Type /Catalog /Pages 2 0 R >>")
    p.obj(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
    p.obj(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R "
             "/Annots [<< /Type /Annot /Subtype /Square /Rect [10 10 50 50] /C [1 0 0] >>] >>")
    p.stream(4, "", b"")
    p.xref("/Root 1 0 R")
    p.stream(4, "", b"0 0 1 rg 10 10 20 20 re f")
    p.xref("/Root 1 0 R")
    docs["incremental_update"] = p.bytes()

    # A file whose xref offsets are wrong: the loader has to find the objects itself.
    broken = bytearray(pages_pdf([b"0 g 10 10 50 50 re f", b""]))
    at = broken.rfind(b"startxref\n") + len(b"startxref\n")
    broken[at:at + 1] = b"9"
    docs["broken_xref"] = bytes(broken)

    # Forms, a Type 3 font, inherited boxes and a crop box.
    def forms(p):
        p.stream(30, "/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources << /XObject "
                     "<< /G 31 0 R >> >>", b"0.5 g 0 0 50 50 re f /G Do")
        p.stream(31, "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Matrix [2 0 0 2 0 0]",
                 b"0 0 1 rg 1 1 5 5 re f")
        p.obj(32, "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [0.01 0 0 0.01 0 0] "
                  "/CharProcs << /a 33 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 "
                  "/LastChar 97 /Widths [100] >>")
        p.stream(33, "", b"100 0 d0 0 0 80 80 re f")

    docs["forms_type3"] = pages_pdf(
        [b"/F Do", b"BT /T 20 Tf 10 10 Td (aaa) Tj ET"], box="[0 0 150 150]",
        resources="<< /XObject << /F 30 0 R >> /Font << /T 32 0 R >> >>", extra=forms)

    for name, data in docs.items():
        for target in ("detect", "analyze_scan", "remove"):
            put(target, name + ".pdf", data)


def main():
    for tool in ("cjpeg", "pnmtotiff", "tiffcp"):
        if not shutil.which(tool):
            sys.exit("%s is missing (Debian packages libjpeg-turbo-progs, netpbm, libtiff-tools)"
                     % tool)
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    try:
        jpegs = make_jpegs()
        make_inflate()
        make_lzw()
        make_runlength()
        make_predictor()
        make_ccitt()
        make_truetype()
        make_interp()
        make_options()
        make_documents(jpegs)
    finally:
        shutil.rmtree(TMP, ignore_errors=True)


if __name__ == "__main__":
    main()
