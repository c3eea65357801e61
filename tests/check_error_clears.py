"""Checks that no fallback in the layers swallows an exception that must
reach the caller (MemoryError, KeyboardInterrupt, SystemExit, ...): every
PyErr_Clear() is the line right after a test of
pending_error_passes_through(), or is listed below with the reason it can
clear nothing of the kind; and none of the calls that clear whatever they
meet (PyDict_GetItem, PyObject_HasAttr, ...) is used. Run by ctest:
check_error_clears.py ROOT"""

import re
import sys
from pathlib import Path

LAYERS = ("base", "reader", "kernels", "core", "dumps", "loads", "module")

# (file, the line before the PyErr_Clear()) -> why it is harmless.
ALLOWED = {
    ("core/ffi/compat_api.hpp", "if (exception == nullptr) {"):
        "3.11's PyErr_SetRaisedException(nullptr): the caller restores the state it saved, which was none",
    ("core/ffi/compat_dict.hpp", "} else {"):
        "3.11: interning the version probe's name failed, which raises MemoryError alone; the class then "
        "has no tag and is simply not remembered, and the call that asked goes on correctly",
    ("core/ffi/compat_long.hpp", "if (_PyLong_AsByteArray(v, bytes, n, /*little_endian=*/0, /*is_signed=*/0) == 0) return true;"):
        "3.11 and 3.12: the conversion raises OverflowError alone (negative or too large), which the "
        "caller reports in its own words",
    ("loads/str_cache.cpp", "if (text == nullptr) {"):
        "the slot's str holds valid UTF-8, so encoding it raises MemoryError alone; the lookup then "
        "counts as a miss, which is always a correct answer",
}

CLEAR = re.compile(r"\bPyErr_Clear\(\)")
PASSES_THROUGH = "pending_error_passes_through()"
# Calls that clear any exception they meet; each has a form that reports it.
SWALLOWING = re.compile(r"\b(PyDict_GetItem|PyDict_GetItemString|PyObject_HasAttr|PyObject_HasAttrString|"
                        r"PyMapping_HasKey|PyMapping_HasKeyString)\(")


def check_file(path: str, text: str):
    previous = ""
    for number, line in enumerate(text.splitlines(), 1):
        code = line.split("//", 1)[0]
        if CLEAR.search(code) and PASSES_THROUGH not in previous and (path, previous.strip()) not in ALLOWED:
            yield f"{path}:{number}: PyErr_Clear() not preceded by a test of {PASSES_THROUGH}"
        if match := SWALLOWING.search(code):
            yield f"{path}:{number}: {match.group(1)} clears any exception: use its form that reports it"
        if code.strip():
            previous = code


def main(root: Path) -> int:
    problems = []
    used = set()
    for layer in LAYERS:
        for file in sorted((root / layer).rglob("*")):
            if file.suffix in (".hpp", ".cpp"):
                path = file.relative_to(root).as_posix()
                text = file.read_text()
                problems += check_file(path, text)
                used |= {key for key in ALLOWED if key[0] == path and key[1] in text}
    # An entry whose call went away would excuse the next one written there.
    problems += [f"{path}: no PyErr_Clear() after {line!r} any more: remove it from ALLOWED"
                 for path, line in sorted(set(ALLOWED) - used)]
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1])))
