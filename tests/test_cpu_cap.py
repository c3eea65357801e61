"""VELLUM_CPU caps the processor-specific routines below what the host offers,
and every path gives the same bytes and objects."""

import json
import os
import subprocess
import sys

import pytest

CAPS = ["portable", "avx2", "avx512"]
FILLED = 1 << 63

# Runs in a fresh interpreter (the variable is read once, when the module is
# loaded): prints the feature words and what the hot string paths make of a
# set of inputs that cross every block boundary and escape kind.
CHILD = r"""
import ctypes, json, sys, vellum
try:
    import numpy
except ImportError:
    numpy = None
lib = ctypes.PyDLL(sys.modules["vellum.vellum"].__file__)
lib.vellum_host_features.restype = ctypes.c_uint64
lib.vellum_selected_features.restype = ctypes.c_uint64
texts = []
for n in list(range(0, 70)) + [127, 128, 129, 255, 256, 1000, 4099]:
    for fill in ("a", "\u00e9", "\u20ac", "\U0001F600"):
        base = (fill * n)[:n]
        texts.append(base)
        for at in {0, n // 2, max(n - 1, 0)}:
            for special in ('"', "\\", "\n", "\x00", "\x1f", "/"):
                texts.append(base[:at] + special + base[at + 1:])
out = {
    "host": lib.vellum_host_features(),
    "selected": lib.vellum_selected_features(),
    "dumps": [vellum.dumps(t).decode() for t in texts],
    "loads": [vellum.loads(json.dumps(t, ensure_ascii=a)) for t in texts for a in (False, True)],
    "errors": [],
    # Every half-precision value, in an array (blocks and tails) and alone.
    "numpy": None if numpy is None else [
        vellum.dumps(numpy.arange(65536, dtype=numpy.uint16).view(numpy.float16)[:n],
                     option=vellum.OPT_SERIALIZE_NUMPY).decode() for n in (65536, 65535, 65529, 7, 1)
    ] + [vellum.dumps(numpy.float16(h), option=vellum.OPT_SERIALIZE_NUMPY).decode() for h in (0.1, -0.0, 65504)]
    # Rows of singles and doubles of any bits (NaNs, infinities, subnormals)
    # and of short decimals, in runs that end inside and at block edges.
    + [vellum.dumps(row[:n], option=vellum.OPT_SERIALIZE_NUMPY | indent).decode()
       for bits, width in ((numpy.random.default_rng(5).integers(0, 2**64 - 1, 4099, dtype=numpy.uint64, endpoint=True), "8"),
                           (numpy.random.default_rng(6).integers(0, 2**32, 4099, dtype=numpy.uint64), "4"))
       for row in (bits.astype("u" + width).view("f" + width),
                   (numpy.arange(4099) / 1000).astype("f" + width))
       for n in (4099, 257, 256, 17, 16, 9, 8, 1)
       for indent in (0, vellum.OPT_INDENT_2)],
}
for bad in (b'["abc\\x"]', b'"\\ud800"', b'[1, 2', b'\xff', "\u00e9\u00e9[1,]".encode()):
    try:
        vellum.loads(bad)
    except vellum.JSONDecodeError as e:
        out["errors"].append([e.msg, e.pos])
print(json.dumps(out))
"""


def run_with(cap):
    env = dict(os.environ)
    env.pop("VELLUM_CPU", None)
    if cap is not None:
        env["VELLUM_CPU"] = cap
    done = subprocess.run([sys.executable, "-c", CHILD], env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


@pytest.fixture(scope="module")
def runs():
    return {cap: run_with(cap) for cap in [None, "unknown", *CAPS]}


def test_cap_never_exceeds_host(runs):
    for cap, r in runs.items():
        assert r["selected"] & FILLED
        assert r["selected"] & ~r["host"] == 0, cap


def test_no_cap_and_unknown_values_select_everything(runs):
    for cap in (None, "unknown", "avx512"):
        assert runs[cap]["selected"] == runs[cap]["host"], cap


def test_caps_narrow_in_order(runs):
    portable, avx2, avx512 = (runs[c]["selected"] for c in CAPS)
    assert portable == FILLED
    assert portable & ~avx2 == 0 and avx2 & ~avx512 == 0


def test_every_path_gives_the_same_results(runs):
    want = runs["portable"]
    for cap, r in runs.items():
        for key in ("dumps", "loads", "errors", "numpy"):
            assert r[key] == want[key], (cap, key)
    # loads of the texts written without \u escapes are the texts themselves.
    assert want["dumps"] == [json.dumps(t, ensure_ascii=False) for t in want["loads"][::2]]
