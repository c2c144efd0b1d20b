"""examples/dask_batch.py: the same lines, in input order, whether it runs in one process or
on a local cluster, and the same verdicts as the tool."""
import os
import subprocess
import sys

import pytest

from conftest import FIXTURES, REPO, json_lines, make_pdf, TEXT, WHITE

SCRIPT = REPO / "examples" / "dask_batch.py"


@pytest.fixture(scope="module")
def batch_dir(tmp_path_factory):
    top = tmp_path_factory.mktemp("batch")
    (top / "sub" / "deeper").mkdir(parents=True)
    for i, (name, (pages, _)) in enumerate(sorted(FIXTURES.items())):
        folder = [top, top / "sub", top / "sub" / "deeper"][i % 3]
        (folder / name).write_bytes(make_pdf(pages))
    (top / "sub" / "broken.pdf").write_bytes(b"%PDF-1.4\nthis file ends here")
    (top / "notes.txt").write_bytes(b"not picked up: not a .pdf")
    with open(os.fsencode(top / "sub") + b"/r\xe9sum\xe9.pdf", "wb") as f:
        f.write(make_pdf([TEXT, WHITE, TEXT]))
    return top


def run_batch(*args):
    run = subprocess.run([sys.executable, str(SCRIPT), *map(str, args)], capture_output=True,
                         timeout=300, check=False)
    assert run.returncode in (0, 1), run.stderr.decode(errors="replace")
    return run


def pdfs_in(folder):
    found = []
    for root, _, names in os.walk(os.fsencode(folder)):
        found += [os.path.join(root, n) for n in names if n.endswith(b".pdf")]
    return sorted(found)


def test_workers_give_the_tools_lines_in_order(batch_dir, tool):
    files = pdfs_in(batch_dir)
    sequential = run_batch("--workers", "0", batch_dir)
    cluster = run_batch("--workers", "2", batch_dir)
    assert sequential.returncode == cluster.returncode == 1  # the broken file
    assert cluster.stdout == sequential.stdout
    lines = json_lines(sequential.stdout)
    assert [line["file"] for line in lines] == [os.fsdecode(f) for f in files]

    want = tool("detect", "--json", *files)
    assert lines == json_lines(want.stdout)
    assert sum("error" in line for line in lines) == 1


@pytest.mark.parametrize("flags", [
    ["-t", "40"],
    ["--rule", "scan", "--max-ink", "500", "--margin", "0"],
], ids=["threshold", "scan"])
def test_options_reach_the_workers(batch_dir, tool, flags):
    files = [f for f in pdfs_in(batch_dir) if b"broken" not in f]
    ours = run_batch("--workers", "0", *flags, *map(os.fsdecode, files))
    assert ours.returncode == 0
    assert json_lines(ours.stdout) == json_lines(tool("detect", "--json", *flags, *files).stdout)
