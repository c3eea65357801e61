"""Leak check: every failure kind of dumps and loads, and every success path
on the benchmark documents, run many times over; neither the interpreter's
allocated blocks, nor the heap bytes in use, nor the reference counts of the
objects involved may grow.

    python tests/leak_check.py CORPUS_DIR [--scale S]

--scale multiplies the iteration counts (CI runs 1; `make leaks
LEAK_SCALE=10` runs longer). One line per case with its figures, then a
closing "N passed, N failed" line; the exit status is 1 when any case grew.
"""

import argparse
import array
import ctypes
import dataclasses
import gc
import io
import pathlib
import sys
import time

import vellum

# Growth a case may show without being a leak: the interpreter's own lazily
# filled caches. Every case runs at least 100 times more often than this, so
# that one block (or one small object's bytes) kept per call is caught.
BLOCK_SLACK = 8
HEAP_SLACK = 64 * 1024


class MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                     "keepcost")
    ]


def heap_probe():
    # Bytes the C library's allocator has handed out and not had back: large
    # buffers and objects, which the interpreter's block count does not see.
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except (AttributeError, OSError):
        return lambda: 0
    mallinfo2.restype = MallInfo2
    return lambda: (lambda m: m.uordblks + m.hblkhd)(mallinfo2())


heap_in_use = heap_probe()


@dataclasses.dataclass
class Case:
    name: str
    call: object           # no arguments; raises `expect` when given
    iterations: int
    expect: type = None    # the exception each call must raise
    watched: tuple = ()    # objects whose reference counts must not change


def run_case(case, scale):
    n = max(100, int(case.iterations * scale))

    def once():
        if case.expect is None:
            case.call()
            return
        try:
            case.call()
        except case.expect:
            return
        raise AssertionError(f"{case.name}: no {case.expect.__name__}")

    for _ in range(5):  # the interpreter's and the module's caches
        once()
    gc.collect()
    refs = [sys.getrefcount(o) for o in case.watched]
    blocks, heap = sys.getallocatedblocks(), heap_in_use()
    start = time.perf_counter()
    for _ in range(n):
        once()
    seconds = time.perf_counter() - start
    gc.collect()
    blocks_after, heap_after = sys.getallocatedblocks(), heap_in_use()
    refs_after = [sys.getrefcount(o) for o in case.watched]
    ok = blocks_after - blocks <= BLOCK_SLACK and heap_after - heap <= HEAP_SLACK and refs_after == refs
    print(
        f"{'ok  ' if ok else 'GREW'} {case.name:<60} {n:>7} calls  blocks {blocks:>8} -> {blocks_after:<8}"
        f" heap {heap:>11} -> {heap_after:<11} refs {'same' if refs_after == refs else f'{refs} -> {refs_after}'}"
        f"  {seconds:.2f}s",
        flush=True,
    )
    return ok


# ---------------------------------------------------------------- cases


class Opaque:
    pass


class Text(str):
    pass


def nested(depth, inner, wrap=lambda x: [x]):
    for _ in range(depth):
        inner = wrap(inner)
    return inner


def corpus_cases(corpus):
    cases = []
    for path in sorted(pathlib.Path(corpus).glob("*.json")):
        data = path.read_bytes()
        text = data.decode()
        doc = vellum.loads(data)
        # About 200 MB through each path per unit of scale.
        iterations = min(5000, max(100, 200_000_000 // len(data)))
        inner = next(iter(doc.values())) if isinstance(doc, dict) else doc[0]
        watched = (data, text, doc, inner)
        name = path.name
        view = memoryview(data)
        mutable = bytearray(data)
        cases += [
            Case(f"loads {name} bytes", lambda d=data: vellum.loads(d), iterations, watched=watched),
            Case(f"loads {name} str", lambda t=text: vellum.loads(t), iterations, watched=watched),
            Case(f"loads {name} bytearray", lambda b=mutable: vellum.loads(b), iterations, watched=(mutable,)),
            Case(f"loads {name} memoryview", lambda v=view: vellum.loads(v), iterations, watched=(view, data)),
        ]
        for label, option in [
            ("compact", 0),
            ("OPT_INDENT_2", vellum.OPT_INDENT_2),
            ("OPT_SORT_KEYS", vellum.OPT_SORT_KEYS),
            # OPT_STRICT_INTEGER refuses the documents' large ids.
            ("every option but OPT_STRICT_INTEGER", 4095 & ~vellum.OPT_STRICT_INTEGER),
        ]:
            cases.append(
                Case(f"dumps {name} {label}", lambda d=doc, o=option: vellum.dumps(d, option=o), iterations,
                     watched=watched)
            )
        # Through default and fragments: every value of the document's top
        # level wrapped, unwrapped again by default or copied as a fragment.
        wrapped = [[Opaque(), vellum.Fragment(data)] for _ in range(3)] + [doc]
        cases.append(
            Case(f"dumps {name} default and Fragment", lambda w=wrapped: vellum.dumps(w, default=lambda o: [1]),
                 iterations, watched=(data, doc, *wrapped))
        )
    return cases


def dumps_failure_cases():
    E = vellum.JSONEncodeError
    opaque = Opaque()
    shared = ["text", opaque, {"k": "v"}]

    def raising_default(obj):
        raise ValueError("no")

    def self_returning_default(obj):
        return obj

    failures = [
        ("not serializable", lambda: vellum.dumps(shared)),
        ("not serializable, sorted", lambda: vellum.dumps({"a": shared}, option=vellum.OPT_SORT_KEYS)),
        ("default raises", lambda: vellum.dumps(shared, default=raising_default)),
        ("default recursion limit", lambda: vellum.dumps(shared, default=self_returning_default)),
        ("int over 64 bits", lambda: vellum.dumps([1, 2**64])),
        ("int over 53 bits", lambda: vellum.dumps([2**53 + 1], option=vellum.OPT_STRICT_INTEGER)),
        ("str not UTF-8", lambda: vellum.dumps(["ok", "\ud800"])),
        ("str subclass not UTF-8", lambda: vellum.dumps([Text("\udc00")])),
        ("key not UTF-8", lambda: vellum.dumps({"\ud800": 1})),
        ("key not UTF-8, sorted", lambda: vellum.dumps({"a": 1, "\ud800": 1}, option=vellum.OPT_SORT_KEYS)),
        ("fragment content", lambda: vellum.dumps([vellum.Fragment(1)])),
        ("fragment str not UTF-8", lambda: vellum.dumps(vellum.Fragment("\ud800"))),
        ("non-str key", lambda: vellum.dumps({"a": 1, 2: 3})),
        ("non-str key, sorted", lambda: vellum.dumps({"a": 1, 2: 3}, option=vellum.OPT_SORT_KEYS)),
        ("list too deep", lambda: vellum.dumps(nested(255, 1))),
        ("dict too deep", lambda: vellum.dumps(nested(255, 1, lambda x: {"k": x}))),
        ("invalid option", lambda: vellum.dumps(1, option=4096)),
        ("option of wrong type", lambda: vellum.dumps(1, option="1")),
        ("no argument", lambda: vellum.dumps()),
        ("too many arguments", lambda: vellum.dumps(1, None, None, None)),
        ("unexpected keyword", lambda: vellum.dumps(1, indent=2)),
        ("option given twice", lambda: vellum.dumps(1, None, 0, option=0)),
        ("Fragment() arguments", lambda: vellum.Fragment()),
    ]
    return [Case(f"dumps fails: {name}", call, 5000, E, (opaque, shared)) for name, call in failures]


def loads_failure_cases():
    E = vellum.JSONDecodeError
    released = memoryview(b"[1]")
    released.release()
    inputs = [
        ("wrong type", 1, vellum.JSONDecodeError),
        ("file object", io.BytesIO(b"[1]"), TypeError),
        ("bytes subclass", type("B", (bytes,), {})(b"[]"), E),
        ("not C-contiguous", memoryview(b"[1,2,3,4]")[::2], E),
        ("released memoryview", released, ValueError),
        ("invalid UTF-8", b"[\xff]", E),
        ("lone surrogate str", '["\ud800"]', E),
        ("empty", b"", E),
        ("only whitespace", b"   ", E),
        ("end of data", b'{"a": [1, 2', E),
        ("unexpected character", b"[1 2]", E),
        ("trailing comma", b'{"a": 1,}', E),
        ("content after document", b"[1] x", E),
        ("invalid literal", b"[trux]", E),
        ("depth exceeded", b"[" * 1025 + b"]" * 1025, E),
        ("leading zero", b"[01]", E),
        ("no digit after minus", b"[-a]", E),
        ("no digit after point", b"[1.e5]", E),
        ("no digit after exponent", b"[1e+x]", E),
        ("infinity", b"[1e309]", E),
        ("control character", b'["a\tb"]', E),
        ("invalid escape", b'["\\x"]', E),
        ("invalid \\u escape", b'["\\u12G4"]', E),
        ("invalid high surrogate", b'["\\ude00"]', E),
        ("no low surrogate", b'["\\ud83d"]', E),
        ("invalid low surrogate", b'["\\ud83d\\u0041"]', E),
        ("error in long input", b'{"a": "' + "é".encode() * 50000 + b'", "b": [1,]}', E),
        ("error in long str input", '{"a": "' + "é" * 50000 + '", "b": [1,]}', E),
    ]
    return [
        Case(f"loads fails: {name}", lambda d=data: vellum.loads(d), 5000, expect, (data,))
        for name, data, expect in inputs
    ]


def small_success_cases():
    doc = {"ascii": "text", "wide": "é€𝄞", "list": [1, -2, 3.5, None, True, False], "empty": {}, "t": (1, "x")}
    data = vellum.dumps(doc)
    return [
        Case("dumps small document", lambda: vellum.dumps(doc), 20000, watched=(doc, doc["wide"])),
        Case("loads small document", lambda: vellum.loads(data), 20000, watched=(data,)),
        Case("loads trivial documents", lambda: (vellum.loads(b"[]"), vellum.loads(b"{}"), vellum.loads(b'""')),
             20000),
        Case("Fragment()", lambda: vellum.Fragment(data), 20000, watched=(data,)),
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("corpus")
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    cases = small_success_cases() + dumps_failure_cases() + loads_failure_cases() + corpus_cases(args.corpus)
    results = [run_case(case, args.scale) for case in cases]
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
