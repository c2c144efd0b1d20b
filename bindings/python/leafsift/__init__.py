"""Blank-page detection and removal for PDF files, over the leafsift shared library.

detect() lists the blank pages of a file, remove() writes a copy without them and analyze()
shows the figures each verdict rests on. Every call goes through one process-wide lock: the
library keeps its result and error texts in shared buffers, so threads take turns; run
several processes for parallel work.
"""
import atexit
import ctypes
import ctypes.util
import glob
import json
import math
import numbers
import os
import threading

__version__ = "0.1.0"
__all__ = ["detect", "remove", "analyze", "LeafsiftError", "__version__"]


class LeafsiftError(Exception):
    """A call the library refused or could not complete; str() is the library's reason."""


_OPTION_KEYS = ("margin_mm", "speck_mm2", "contrast", "max_ink_mm2", "faint_mm2")


def _candidates():
    # A copy placed in the package at install time wins over whatever the loader would find,
    # so an installed package always talks to the library it was built against.
    here = os.path.dirname(os.path.abspath(__file__))
    for path in sorted(glob.glob(os.path.join(here, "libleafsift.so*"))):
        if os.path.isfile(path):
            yield path
    yield "libleafsift.so.0"
    yield "libleafsift.so"
    found = ctypes.util.find_library("leafsift")
    if found:
        yield found


def _load():
    failures = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate), candidate
        except OSError as e:
            failures.append(f"{candidate}: {e}")
    raise LeafsiftError(
        "cannot load the leafsift shared library; install the package with "
        "LEAFSIFT_LIBRARY=/path/to/libleafsift.so, or put libleafsift.so.0 on the loader's "
        "path (LD_LIBRARY_PATH or ldconfig). Tried: " + "; ".join(failures))


_lib, _library_path = _load()

_lib.leafsift_init.restype = ctypes.c_int
_lib.leafsift_init.argtypes = []
_lib.leafsift_cleanup.restype = None
_lib.leafsift_cleanup.argtypes = []
_lib.leafsift_last_error.restype = ctypes.c_char_p
_lib.leafsift_last_error.argtypes = []
_lib.leafsift_stats.restype = ctypes.c_char_p
_lib.leafsift_stats.argtypes = []
_lib.leafsift_detect_ex.restype = ctypes.c_char_p
_lib.leafsift_detect_ex.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_lib.leafsift_remove_ex.restype = ctypes.c_int
_lib.leafsift_remove_ex.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]
_lib.leafsift_analyze.restype = ctypes.c_char_p
_lib.leafsift_analyze.argtypes = [ctypes.c_char_p, ctypes.c_char_p]

# Held from each call until its result or error text has been copied out: the next call
# would overwrite them.
_lock = threading.Lock()

with _lock:
    _lib.leafsift_init()


def _cleanup():
    with _lock:
        _lib.leafsift_cleanup()


atexit.register(_cleanup)


def _path_bytes(path, what):
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"{what} must be str, bytes or os.PathLike, not {type(path).__name__}")
    try:
        raw = os.fsencode(path)
    except UnicodeEncodeError as e:
        raise LeafsiftError(f"{what} cannot be encoded as a file name: {e}") from None
    # ctypes would end the C string at the first NUL and quietly open another file.
    if b"\0" in raw:
        raise LeafsiftError(f"{what} contains a NUL byte")
    return raw


def _number_text(value):
    if isinstance(value, numbers.Integral):
        return json.dumps(int(value))
    value = float(value)
    if math.isfinite(value):
        return json.dumps(value)
    # JSON has no infinity or NaN; a number past every range lets the library refuse it
    # with its own message naming the key.
    return "-1e999" if value < 0 else "1e999"


def _options_text(threshold, rule, options):
    if not isinstance(rule, str):
        raise TypeError(f"rule must be a str, not {type(rule).__name__}")
    if isinstance(threshold, bool) or not isinstance(threshold, numbers.Integral):
        raise TypeError(f"threshold must be an int, not {type(threshold).__name__}")
    fields = [("rule", json.dumps(rule)), ("threshold", json.dumps(int(threshold)))]
    for key, value in options.items():
        if key not in _OPTION_KEYS:
            raise TypeError(f"unexpected keyword argument {key!r}; the options are "
                            + ", ".join(_OPTION_KEYS))
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise TypeError(f"{key} must be a number, not {type(value).__name__}")
        fields.append((key, _number_text(value)))
    return ("{" + ",".join(json.dumps(k) + ":" + v for k, v in fields) + "}").encode()


def _error():
    # Called with the lock held. The text may quote a file name that is not UTF-8.
    return LeafsiftError(_lib.leafsift_last_error().decode("utf-8", "backslashreplace"))


def detect(path, threshold=99, rule="light", **options):
    """The blank pages of the PDF file at path, as a list of 1-based page numbers.

    threshold is the light rule's percentage (1..100; 0 or less means 99). rule is "light"
    or "scan"; the scan rule takes margin_mm, speck_mm2, contrast, max_ink_mm2 and faint_mm2.
    Raises LeafsiftError when the file cannot be read or an option is out of range."""
    text = _options_text(threshold, rule, options)
    raw = _path_bytes(path, "path")
    with _lock:
        result = _lib.leafsift_detect_ex(raw, text)
        if result is None:
            raise _error()
    return json.loads(result)


def remove(path, output, threshold=99, rule="light", **options):
    """Writes output as a copy of the PDF file at path without its blank pages.

    Returns {"before": pages in, "after": pages out, "removed": [page numbers]}. Options as
    for detect(). On failure output is left untouched and LeafsiftError is raised."""
    text = _options_text(threshold, rule, options)
    raw_in = _path_bytes(path, "path")
    raw_out = _path_bytes(output, "output")
    with _lock:
        if not _lib.leafsift_remove_ex(raw_in, raw_out, text):
            raise _error()
        stats = _lib.leafsift_stats()
    if stats is None:
        raise LeafsiftError("the library reported success but gave no counts")
    return json.loads(stats)


def analyze(path, threshold=99, rule="light", **options):
    """One dict per page of the PDF file at path: "page", "text", "unread", "light",
    "ink_mm2" and "blank", the figures the verdicts of detect() rest on. Options as for
    detect()."""
    text = _options_text(threshold, rule, options)
    raw = _path_bytes(path, "path")
    with _lock:
        result = _lib.leafsift_analyze(raw, text)
        if result is None:
            raise _error()
    return json.loads(result)["pages"]
