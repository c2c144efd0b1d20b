"""The Python binding against the command-line tool and against fixtures whose verdicts are
known: the same results through both doors, errors raised rather than crashes, and calls
from several threads kept apart."""
import filecmp
import os
import pathlib
import threading

import pytest

import leafsift
from conftest import FIXTURES, json_lines, make_pdf, TEXT, WHITE

# keyword options of the binding -> the tool's flags for the same run
RULES = [
    ({}, []),
    ({"threshold": 50}, ["-t", "50"]),
    ({"threshold": 100}, ["-t", "100"]),
    ({"rule": "scan"}, ["--rule", "scan"]),
    ({"rule": "scan", "max_ink_mm2": 500, "contrast": 40}, ["--rule", "scan", "--max-ink", "500",
                                                           "--contrast", "40"]),
    ({"rule": "scan", "margin_mm": 0, "speck_mm2": 0.5, "faint_mm2": 20},
     ["--rule", "scan", "--margin", "0", "--speck", "0.5", "--faint", "20"]),
]
RULE_IDS = ["default", "t50", "t100", "scan", "scan-loose", "scan-margins"]
FILES = sorted(FIXTURES) + ["sample"]


def fixture_path(name, pdf_dir, sample_pdf):
    return sample_pdf if name == "sample" else pdf_dir / name


def test_library_is_the_copy_next_to_the_package():
    package_dir = pathlib.Path(leafsift.__file__).resolve().parent
    loaded = pathlib.Path(leafsift._library_path)
    assert loaded.parent == package_dir
    with open("/proc/self/maps") as maps:
        assert str(loaded) in maps.read()
    source = os.environ.get("LEAFSIFT_LIBRARY")
    if source:
        assert filecmp.cmp(loaded, os.path.realpath(source), shallow=False)


@pytest.mark.parametrize("name,expected", [(n, b) for n, (_, b) in sorted(FIXTURES.items())])
def test_known_verdicts(pdf_dir, name, expected):
    assert leafsift.detect(pdf_dir / name) == expected
    pages = leafsift.analyze(pdf_dir / name)
    assert [p["page"] for p in pages] == list(range(1, len(FIXTURES[name][0]) + 1))
    assert [p["page"] for p in pages if p["blank"]] == expected


def test_text_page_is_never_rendered(pdf_dir):
    text_page = leafsift.analyze(pdf_dir / "mixed.pdf")[2]
    assert text_page["text"] is True and text_page["blank"] is False
    assert text_page["light"] is None and text_page["ink_mm2"] is None


@pytest.mark.parametrize("kwargs,flags", RULES, ids=RULE_IDS)
@pytest.mark.parametrize("name", FILES)
def test_detect_and_analyze_match_the_tool(tool, pdf_dir, sample_pdf, name, kwargs, flags):
    path = fixture_path(name, pdf_dir, sample_pdf)
    run = tool("detect", "--json", *flags, path)
    assert run.returncode == 0, run.stderr
    [line] = json_lines(run.stdout)
    assert leafsift.detect(path, **kwargs) == line["blank"]

    run = tool("pages", "--json", *flags, path)
    assert run.returncode == 0, run.stderr
    figure = "ink_mm2" if kwargs.get("rule") == "scan" else "light"
    want = [{"page": r["page"], "text": r["text"], figure: r[figure], "blank": r["blank"],
             "unread": r.get("unread", False)} for r in json_lines(run.stdout)]
    got = [{k: p[k] for k in ("page", "text", figure, "blank", "unread")}
           for p in leafsift.analyze(path, **kwargs)]
    assert got == want


@pytest.mark.parametrize("kwargs,flags", [RULES[0], RULES[3]], ids=["default", "scan"])
@pytest.mark.parametrize("name", ["mixed.pdf", "none-blank.pdf", "sample"])
def test_remove_matches_the_tool(tool, tmp_path, pdf_dir, sample_pdf, name, kwargs, flags):
    path = fixture_path(name, pdf_dir, sample_pdf)
    ours, theirs = tmp_path / "ours.pdf", tmp_path / "theirs.pdf"
    stats = leafsift.remove(path, ours, **kwargs)
    run = tool("remove", *flags, path, theirs)
    assert run.returncode == 0, run.stderr
    assert stats == json_lines(run.stdout)[0]
    assert stats["removed"] == leafsift.detect(path, **kwargs)
    assert stats["after"] == stats["before"] - len(stats["removed"])
    assert ours.read_bytes() == theirs.read_bytes()
    assert leafsift.detect(ours, **kwargs) == []
    assert len(leafsift.analyze(ours)) == stats["after"]


@pytest.mark.parametrize("make_path", [str, os.fsencode, pathlib.Path],
                         ids=["str", "bytes", "pathlike"])
def test_path_types(pdf_dir, make_path):
    assert leafsift.detect(make_path(str(pdf_dir / "mixed.pdf"))) == FIXTURES["mixed.pdf"][1]


def test_non_utf8_name(tmp_path):
    raw = os.fsencode(tmp_path) + b"/caf\xe9-\xff.pdf"
    with open(raw, "wb") as f:
        f.write(make_pdf([TEXT, WHITE]))
    [listed] = os.listdir(tmp_path)
    assert leafsift.detect(tmp_path / listed) == [2]
    assert leafsift.detect(raw) == [2]
    out = os.fsencode(tmp_path) + b"/out-\xfe.pdf"
    assert leafsift.remove(raw, out)["after"] == 1
    assert leafsift.analyze(out)[0]["text"] is True


def missing(d):
    return d / "no-such-file.pdf"


def broken(d):
    return d / "not-a-pdf.pdf"


def good(d):
    return d / "mixed.pdf"


# (path maker, keyword options, exception, words its message must hold)
ERRORS = [
    (good, {"colour": 3}, TypeError, "colour"),
    (good, {"rule": 1}, TypeError, "rule"),
    (good, {"rule": "dark"}, leafsift.LeafsiftError, '"rule"'),
    (good, {"threshold": "99"}, TypeError, "threshold"),
    (good, {"threshold": 99.5}, TypeError, "threshold"),
    (good, {"threshold": True}, TypeError, "threshold"),
    (good, {"threshold": 10**30}, leafsift.LeafsiftError, '"threshold"'),
    (good, {"margin_mm": "8"}, TypeError, "margin_mm"),
    (good, {"margin_mm": None}, TypeError, "margin_mm"),
    (good, {"speck_mm2": False}, TypeError, "speck_mm2"),
    (good, {"margin_mm": 51}, leafsift.LeafsiftError, '"margin_mm"'),
    (good, {"speck_mm2": -1}, leafsift.LeafsiftError, '"speck_mm2"'),
    (good, {"contrast": 0}, leafsift.LeafsiftError, '"contrast"'),
    (good, {"max_ink_mm2": float("inf")}, leafsift.LeafsiftError, '"max_ink_mm2"'),
    (good, {"faint_mm2": float("nan")}, leafsift.LeafsiftError, '"faint_mm2"'),
    (missing, {}, leafsift.LeafsiftError, "no-such-file.pdf"),
    (broken, {}, leafsift.LeafsiftError, "not-a-pdf.pdf"),
    (lambda d: "\ud800.pdf", {}, leafsift.LeafsiftError, "encode"),
    (lambda d: str(good(d)) + "\0trailing", {}, leafsift.LeafsiftError, "NUL"),
    (lambda d: os.fsencode(good(d)) + b"\0", {}, leafsift.LeafsiftError, "NUL"),
    (lambda d: 5, {}, TypeError, "int"),
    (lambda d: None, {}, TypeError, "NoneType"),
]


@pytest.mark.parametrize("call", ["detect", "remove", "analyze"])
@pytest.mark.parametrize("make_path,kwargs,error,words", ERRORS)
def test_errors(tmp_path, pdf_dir, call, make_path, kwargs, error, words):
    path = make_path(pdf_dir)
    out = tmp_path / "out.pdf"
    args = (path, out) if call == "remove" else (path,)
    with pytest.raises(error) as caught:
        getattr(leafsift, call)(*args, **kwargs)
    assert words in str(caught.value)
    if error is leafsift.LeafsiftError:
        assert str(caught.value)
    assert not out.exists()
    # A failure leaves nothing behind: the next call works as before.
    assert leafsift.detect(good(pdf_dir)) == FIXTURES["mixed.pdf"][1]


def test_bad_output_path(pdf_dir, tmp_path):
    with pytest.raises(leafsift.LeafsiftError):
        leafsift.remove(good(pdf_dir), tmp_path / "no-such-dir" / "out.pdf")
    for bad in (7, "x\0.pdf"):
        with pytest.raises((TypeError, leafsift.LeafsiftError)):
            leafsift.remove(good(pdf_dir), bad)


def outcome(call, *args):
    try:
        return call(*args)
    except leafsift.LeafsiftError as e:
        return ("error", str(e))


def test_threads_keep_their_results(pdf_dir, tmp_path):
    # Files with different answers, and two failures with different texts, taken in a
    # different order by each thread: a result or error text read outside the lock would
    # show up as another file's answer.
    paths = [pdf_dir / n for n in sorted(FIXTURES)] + [broken(pdf_dir), missing(pdf_dir)]
    calls = [leafsift.detect, leafsift.analyze]
    want = {(c, p): outcome(c, p) for c in calls for p in paths}
    wrong = []
    start = threading.Barrier(6)

    def work(offset):
        start.wait()
        for i in range(60):
            call, path = calls[i % 2], paths[(i * (offset + 1) + offset) % len(paths)]
            got = outcome(call, path)
            if got != want[call, path]:
                wrong.append((call.__name__, path.name, got))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert wrong == []


@pytest.mark.parametrize("flags,kwargs", [([], {}), (["--rule", "scan"], {"rule": "scan"})],
                         ids=["light", "scan"])
def test_corpus_scans_match_the_tool(corpus, tool, flags, kwargs):
    files = sorted((corpus / "scans").glob("*.pdf"))
    assert files
    run = tool("detect", "--json", *flags, *files)
    lines = json_lines(run.stdout)
    assert [line["file"] for line in lines] == [str(f) for f in files]
    for f, line in zip(files, lines):
        if "error" in line:
            with pytest.raises(leafsift.LeafsiftError) as caught:
                leafsift.detect(f, **kwargs)
            assert str(caught.value) == line["error"]
        else:
            assert leafsift.detect(f, **kwargs) == line["blank"], f.name
