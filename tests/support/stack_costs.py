"""What a level of each kind of nesting costs dumps on the stack, and what
a leaf with a call into Python code takes: the figures behind the reserve
in dumps/stack_limit.hpp. Builds the stackprobe test extension with the
interpreter's compiler, then, in a thread with a large stack, paints the
stack, runs dumps and reads how deep it wrote.

    python tests/support/stack_costs.py

Run it against the build to be measured (PYTHONPATH=build/san/pkg with the
sanitizer runtime preloaded for the sanitized figures).
"""

import datetime
import pathlib
import subprocess
import sys
import sysconfig
import tempfile
import threading
import zoneinfo

import vellum

from nesting import Node, Slotted, Wrapped, default, member, nested

HERE = pathlib.Path(__file__).parent


def build_probe(directory):
    target = pathlib.Path(directory) / ("stackprobe" + sysconfig.get_config_var("EXT_SUFFIX"))
    compiler = (sysconfig.get_config_var("CC") or "cc").split()
    subprocess.run([*compiler, "-shared", "-fPIC", "-O1", "-I", sysconfig.get_paths()["include"],
                    str(HERE / "stackprobe.c"), "-o", str(target)], check=True)
    sys.path.insert(0, str(directory))
    import stackprobe

    return stackprobe


def stack_used(probe, call):
    result = {}

    def run():
        probe.paint()
        call()
        result["used"] = probe.used()

    old = threading.stack_size(16 << 20)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
    return result["used"]


INDENT, SORT, KEYS = vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS, vellum.OPT_NON_STR_KEYS

KINDS = {
    "lists": (lambda n: nested(n, lambda x: [x]), 0),
    "lists, indented": (lambda n: nested(n, lambda x: [x]), INDENT),
    "tuples": (lambda n: nested(n, lambda x: (x,)), 0),
    "dicts": (lambda n: nested(n, lambda x: {"k": x}), 0),
    "dicts, indented": (lambda n: nested(n, lambda x: {"k": x}), INDENT),
    "dicts, sorted": (lambda n: nested(n, lambda x: {"k": x}), SORT),
    "dicts, converted keys": (lambda n: nested(n, lambda x: {1: x}), KEYS),
    "dataclasses": (lambda n: nested(n, Node), 0),
    "dataclasses, fields path": (lambda n: nested(n, Slotted), 0),
    "enum members": (lambda n: nested(n, member), 0),
    "enum keys": (lambda n: {nested(n, member): 1}, KEYS),
    "default calls": (Wrapped, 0),
}

PARIS = zoneinfo.ZoneInfo("Europe/Paris")
LEAVES = {
    "int": 1,
    "datetime, zoneinfo": datetime.datetime(2024, 1, 2, tzinfo=PARIS),
    "default, one call": Wrapped(1),
}


def main():
    with tempfile.TemporaryDirectory() as directory:
        probe = build_probe(directory)
        print(f"{'kind':<28}{'bytes per level':>16}")
        for name, (make, option) in KINDS.items():
            shallow, deep = make(100), make(200)
            used = [stack_used(probe, lambda d=d: vellum.dumps(d, default=default, option=option))
                    for d in (shallow, deep)]
            print(f"{name:<28}{(used[1] - used[0]) / 100:>16.0f}")
        try:
            import numpy

            arrays = [numpy.zeros((1,) * n) for n in (32, 64)]
            used = [stack_used(probe, lambda a=a: vellum.dumps(a, option=vellum.OPT_SERIALIZE_NUMPY))
                    for a in arrays]
            print(f"{'numpy dimensions':<28}{(used[1] - used[0]) / 32:>16.0f}")
        except ImportError:
            pass
        print(f"\n{'leaf (whole call)':<28}{'bytes':>16}")
        for name, value in LEAVES.items():
            print(f"{name:<28}{stack_used(probe, lambda v=value: vellum.dumps(v, default=default)):>16}")


if __name__ == "__main__":
    main()
