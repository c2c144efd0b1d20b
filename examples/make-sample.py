#!/usr/bin/env python3
"""Writes sample.pdf: a four-page letter with a blank back side and a near-empty separator,
as a duplex scan of a short letter would leave them. Run from this folder."""
import zlib

pages = [
    b"BT /F1 24 Tf 72 700 Td (A letter, page one) Tj ET\n"
    b"0 0 0 RG 2 w 72 690 m 540 690 l S",
    b"",  # the blank back side of page one
    b"0.1 0.2 0.6 rg 72 72 468 600 re f\n"
    b"1 1 1 rg 100 100 412 544 re f",
    b"1 1 1 rg 0 0 612 792 re f",  # white paint only: still blank
]

objs = {1: b"<< /Type /Catalog /Pages 2 0 R >>"}
kids = " ".join(f"{3 + 2 * i} 0 R" for i in range(len(pages)))
objs[2] = f"<< /Type /Pages /Kids [{kids}] /Count {len(pages)} >>".encode()
font = 3 + 2 * len(pages)
for i, content in enumerate(pages):
    page, stream = 3 + 2 * i, 4 + 2 * i
    objs[page] = (f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents {stream} 0 R "
                  f"/Resources << /Font << /F1 {font} 0 R >> >> >>").encode()
    data = zlib.compress(content)
    objs[stream] = (f"<< /Length {len(data)} /Filter /FlateDecode >>\nstream\n".encode() + data +
                    b"\nendstream")
objs[font] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"

out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = {}
for num in sorted(objs):
    offsets[num] = len(out)
    out += f"{num} 0 obj\n".encode() + objs[num] + b"\nendobj\n"
xref = len(out)
out += f"xref\n0 {len(objs) + 1}\n0000000000 65535 f \n".encode()
for num in sorted(objs):
    out += f"{offsets[num]:010d} 00000 n \n".encode()
out += f"trailer\n<< /Size {len(objs) + 1} /Root 1 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
open("sample.pdf", "wb").write(out)
