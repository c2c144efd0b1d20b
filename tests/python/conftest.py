"""Shared pieces of the binding's tests: a small PDF writer for fixture files, the fixture
folder, the command-line tool for comparisons and the corpus beside the checkout."""
import json
import os
import pathlib
import subprocess
import zlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
CORPUS = REPO.parent / "shared" / "corpus"

# Page contents of the fixtures, on US Letter (612 x 792 points).
WHITE = b""
BLACK_BOX = b"0 0 0 rg 100 100 412 592 re f"
TEXT = b"BT /F1 24 Tf 72 700 Td (Quarterly report) Tj ET"
WHITE_PAINT = b"1 1 1 rg 0 0 612 792 re f"
# A grey square of 1 cm: dark enough for the scan rule, a sliver of the page for the light one.
SMALL_MARK = b"0.3 0.3 0.3 rg 300 400 28.35 28.35 re f"


def make_pdf(pages, compress=True):
    """The bytes of a PDF whose pages draw the given content streams, with a Helvetica
    resource for text; offsets and the cross-reference table are computed here."""
    objects = {1: b"<< /Type /Catalog /Pages 2 0 R >>"}
    font = 3 + 2 * len(pages)
    kids = " ".join(f"{3 + 2 * i} 0 R" for i in range(len(pages)))
    objects[2] = f"<< /Type /Pages /Kids [{kids}] /Count {len(pages)} >>".encode()
    for i, content in enumerate(pages):
        page, stream = 3 + 2 * i, 4 + 2 * i
        objects[page] = (f"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                         f"/Contents {stream} 0 R /Resources << /Font << /F1 {font} 0 R >> >> >>"
                         ).encode()
        data = zlib.compress(content) if compress else content
        head = f"<< /Length {len(data)}{' /Filter /FlateDecode' if compress else ''} >>"
        objects[stream] = head.encode() + b"\nstream\n" + data + b"\nendstream"
    objects[font] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"

    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number in sorted(objects):
        offsets.append(len(out))
        out += f"{number} 0 obj\n".encode() + objects[number] + b"\nendobj\n"
    xref = len(out)
    out += f"xref\n0 {len(objects) + 1}\n0000000000 65535 f \n".encode()
    for offset in offsets:
        out += f"{offset:010d} 00000 n \n".encode()
    out += (f"trailer\n<< /Size {len(objects) + 1} /Root 1 0 R >>\n"
            f"startxref\n{xref}\n%%EOF\n").encode()
    return bytes(out)


# name -> (pages, blank pages under the default light rule)
FIXTURES = {
    "mixed.pdf": ([WHITE, BLACK_BOX, TEXT, WHITE_PAINT, SMALL_MARK], [1, 4, 5]),
    "all-blank.pdf": ([WHITE, WHITE_PAINT], [1, 2]),
    "none-blank.pdf": ([TEXT, BLACK_BOX, TEXT], []),
    "single-box.pdf": ([BLACK_BOX], []),
}


@pytest.fixture(scope="session")
def pdf_dir(tmp_path_factory):
    folder = tmp_path_factory.mktemp("pdfs")
    for name, (pages, _) in FIXTURES.items():
        (folder / name).write_bytes(make_pdf(pages))
    (folder / "not-a-pdf.pdf").write_bytes(b"just some text, no PDF header\n")
    return folder


@pytest.fixture(scope="session")
def sample_pdf():
    return REPO / "examples" / "sample.pdf"


@pytest.fixture(scope="session")
def tool():
    """Runs the command-line tool named by LEAFSIFT_TOOL and returns its completed process."""
    path = os.environ.get("LEAFSIFT_TOOL")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("LEAFSIFT_TOOL does not name the built leafsift tool")

    def run(*args):
        return subprocess.run([path, *map(os.fsencode, args)], capture_output=True, check=False)

    return run


def json_lines(data):
    # The tool writes file names as their raw bytes; surrogateescape keeps non-UTF-8 ones
    # comparable with os.fsdecode.
    return [json.loads(line) for line in data.decode("utf-8", "surrogateescape").splitlines()]


@pytest.fixture(scope="session")
def corpus():
    if not CORPUS.is_dir():
        pytest.skip(f"the shared corpus is not at {CORPUS}")
    return CORPUS
