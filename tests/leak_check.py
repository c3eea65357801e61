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
import ctypes
import dataclasses
import datetime
import decimal
import enum
import gc
import io
import pathlib
import sys
import threading
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
            Case(f"loads {name} parse_float=Decimal", lambda d=data: vellum.loads(d, parse_float=decimal.Decimal),
                 iterations // 4 + 1, watched=watched),
        ]
        for label, option in [
            ("compact", 0),
            ("OPT_INDENT_2", vellum.OPT_INDENT_2),
            ("OPT_SORT_KEYS", vellum.OPT_SORT_KEYS),
            # OPT_STRICT_INTEGER refuses the documents' large ids.
            ("every option but OPT_STRICT_INTEGER", 8191 & ~vellum.OPT_STRICT_INTEGER),
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


class Zone(datetime.tzinfo):
    """A tzinfo whose utcoffset gives `offset` once armed (before that, a
    zero offset, so that it can be hashed as a dict key)."""

    def __init__(self, offset):
        self.offset = offset
        self.armed = False

    def utcoffset(self, d):
        if not self.armed:
            return datetime.timedelta(0)
        if isinstance(self.offset, type):
            raise self.offset("no offset")  # a new one each time: a raised one keeps its traceback
        return self.offset

    def dst(self, d):
        return None


class Routeless(datetime.tzinfo):
    """Offers none of the attributes the time-zone libraries are told apart by."""

    def utcoffset(self, d):
        return None

    @property
    def dst(self):
        raise AttributeError("dst")


def aware(offset, tz=None):
    zone = tz or Zone(offset)
    value = datetime.datetime(2024, 1, 2, 3, 4, 5, tzinfo=zone)
    hash(value)
    zone.armed = True
    return value


class Member(enum.Enum):
    PLAIN = 1
    FAILING = 2

    @property
    def value(self):
        if self is Member.FAILING:
            raise ValueError("no value")
        return self._value_


@dataclasses.dataclass(slots=True)
class Slotted:
    a: object
    b: object = None


class Money(decimal.Decimal):
    pass


def failure_kinds():
    """One case per failure kind of dumps (its message, and what the
    failure holds on its way up), as (name, call, expected exception)."""
    E = vellum.JSONEncodeError
    opaque = Opaque()
    shared = ["text", opaque, {"k": "v"}]
    keys = vellum.OPT_NON_STR_KEYS
    sort = vellum.OPT_SORT_KEYS
    numpy_option = vellum.OPT_SERIALIZE_NUMPY

    def raising_default(obj):
        raise ValueError("no")

    def interrupting_default(obj):
        raise KeyboardInterrupt

    def exhausting_default(obj):
        raise MemoryError

    def self_returning_default(obj):
        return obj

    unset_slot = Slotted.__new__(Slotted)
    far = aware(datetime.timedelta(hours=30))
    not_delta = aware(3600)
    unreadable = aware(ValueError)
    routeless = aware(None, Routeless())

    def on_a_small_stack():
        # The thread's stack ends before the nesting limit: RecursionError is
        # the cause.
        failed = []

        def run():
            try:
                vellum.dumps(nested(254, 1, lambda x: {"k": x}))
            except E as e:
                failed.append(e)

        old = threading.stack_size(64 * 1024)
        try:
            thread = threading.Thread(target=run)
            thread.start()
            thread.join()
        finally:
            threading.stack_size(old)
        if failed:
            raise failed[0]

    kinds = [
        # NotSerializable (holds the type), with and without a cause
        ("not serializable", lambda: vellum.dumps(shared), E),
        ("not serializable, sorted", lambda: vellum.dumps({"a": shared}, option=sort), E),
        ("default raises", lambda: vellum.dumps(shared, default=raising_default), E),
        ("unreadable dataclass slot", lambda: vellum.dumps([Slotted(1), unset_slot]), E),
        ("enum value raises", lambda: vellum.dumps([Member.PLAIN, Member.FAILING]), E),
        ("enum key value raises", lambda: vellum.dumps({Member.PLAIN: 1, Member.FAILING: 2}, option=keys), E),
        # exceptions that pass through as they are
        ("default interrupted", lambda: vellum.dumps(shared, default=interrupting_default), KeyboardInterrupt),
        ("default out of memory", lambda: vellum.dumps(shared, default=exhausting_default), MemoryError),
        # DefaultTooDeep
        ("default recursion limit", lambda: vellum.dumps(shared, default=self_returning_default), E),
        # IntOver64Bits, IntOver53Bits, KeyIntOver64Bits
        ("int over 64 bits", lambda: vellum.dumps([1, 2**64]), E),
        ("int over 53 bits", lambda: vellum.dumps([2**53 + 1], option=vellum.OPT_STRICT_INTEGER), E),
        ("key int over 64 bits", lambda: vellum.dumps({1: 1, 2**64: 2}, option=keys | sort), E),
        # StrNotUtf8
        ("str not UTF-8", lambda: vellum.dumps(["ok", "\ud800"]), E),
        ("str subclass not UTF-8", lambda: vellum.dumps([Text("\udc00")]), E),
        ("key not UTF-8", lambda: vellum.dumps({"\ud800": 1}), E),
        ("key not UTF-8, sorted", lambda: vellum.dumps({"a": 1, "\ud800": 1}, option=sort), E),
        ("key not UTF-8, converted", lambda: vellum.dumps({1: 1, "\ud800": 1}, option=keys), E),
        ("fragment str not UTF-8", lambda: vellum.dumps(vellum.Fragment("\ud800")), E),
        # FragmentBadContent
        ("fragment content", lambda: vellum.dumps([vellum.Fragment(1)]), E),
        # NonStrKey, KeyTypeUnsupported
        ("non-str key", lambda: vellum.dumps({"a": 1, 2: 3}), E),
        ("non-str key, sorted", lambda: vellum.dumps({"a": 1, 2: 3}, option=sort), E),
        ("key type unsupported", lambda: vellum.dumps({1: [2], (3,): 4}, option=keys), E),
        # TooDeep, at the limit and where the thread's stack ends
        ("list too deep", lambda: vellum.dumps(nested(255, 1)), E),
        ("dict too deep", lambda: vellum.dumps(nested(255, 1, lambda x: {"k": x})), E),
        ("small thread stack", on_a_small_stack, E),
        # TimeWithTzinfo, TzUnreadable, TzOffsetOutOfRange (holds its text),
        # TzOffsetNotDelta (holds the type)
        ("time with tzinfo", lambda: vellum.dumps([datetime.time(1, tzinfo=datetime.timezone.utc)]), E),
        ("tzinfo utcoffset raises", lambda: vellum.dumps([unreadable]), E),
        ("tzinfo without a route", lambda: vellum.dumps({routeless: 1}, option=keys), E),
        ("UTC offset out of range", lambda: vellum.dumps([far]), E),
        ("UTC offset out of range, key", lambda: vellum.dumps({1: 2, far: 3}, option=keys | sort), E),
        ("UTC offset not a timedelta", lambda: vellum.dumps([not_delta]), E),
        ("UTC offset not a timedelta, key", lambda: vellum.dumps({not_delta: 1}, option=keys), E),
        # Decimal: without OPT_DECIMAL (as a value and as a key), and written
        # with it (values, keys of any length, what is not finite, subclasses)
        ("Decimal without OPT_DECIMAL", lambda: vellum.dumps([decimal.Decimal("1.5")]), E),
        ("Decimal key without OPT_DECIMAL", lambda: vellum.dumps({decimal.Decimal("1.5"): 1}, option=keys), E),
        ("Decimal to default", lambda: vellum.dumps([decimal.Decimal("1.5")], str), None),
        ("Decimal written", lambda: vellum.dumps([decimal.Decimal("-1.50E+30"), decimal.Decimal("NaN"), Money("2"),
                                                  {decimal.Decimal("7" * 100): 1, decimal.Decimal("0.5"): 2}],
                                                 option=vellum.OPT_DECIMAL | keys | sort), None),
        # the arguments
        ("invalid option", lambda: vellum.dumps(1, option=8192), E),
        ("option of wrong type", lambda: vellum.dumps(1, option="1"), E),
        # each way the failure's note shows the option
        ("option beyond 64 bits", lambda: vellum.dumps(1, option=2**64), E),
        ("option a long str", lambda: vellum.dumps(1, option="x" * 100), E),
        ("option an object", lambda: vellum.dumps(1, option=object()), E),
        ("no argument", lambda: vellum.dumps(), E),
        ("too many arguments", lambda: vellum.dumps(1, None, None, None), E),
        ("unexpected keyword", lambda: vellum.dumps(1, indent=2), E),
        ("option given twice", lambda: vellum.dumps(1, None, 0, option=0), E),
        ("Fragment() arguments", lambda: vellum.Fragment(), E),
    ]
    try:
        import numpy as np
    except ImportError:
        return kinds, (opaque, shared)
    wide = np.arange(12, dtype=np.int32).reshape(3, 4)
    kinds += [
        # ArrayNotContiguous, ArrayNotNativeEndian, ArrayDtypeUnsupported
        # (ArrayMalformed needs a broken interface record, which numpy never
        # gives: tests/test_dumps_numpy_interface.py has its cases)
        ("numpy not contiguous", lambda: vellum.dumps([wide[:, ::2]], option=numpy_option), E),
        ("numpy not contiguous, to default", lambda: vellum.dumps(wide.T, str, numpy_option), None),
        ("numpy byte order", lambda: vellum.dumps(np.zeros(3, ">i4"), option=numpy_option), E),
        ("numpy datatype", lambda: vellum.dumps(np.zeros(3, np.complex128), option=numpy_option), E),
        # Datetime64Message (holds its text): a unit outside the table, a
        # value outside the years it can write, as array and as scalar
        ("datetime64 unit", lambda: vellum.dumps(np.zeros(2, "datetime64[10s]"), option=numpy_option), E),
        ("datetime64 unit, to default", lambda: vellum.dumps(np.zeros(2, "datetime64[10s]"), str, numpy_option),
         None),
        ("datetime64 value", lambda: vellum.dumps(np.array([0, 2**62], "datetime64[s]"), option=numpy_option), E),
        ("datetime64 scalar", lambda: vellum.dumps(np.datetime64(2**62, "s"), option=numpy_option), E),
    ]
    return kinds, (opaque, shared)


def dumps_failure_cases():
    kinds, watched = failure_kinds()
    return [
        Case(f"dumps fails: {name}" if expect else f"dumps falls back: {name}", call, 5000, expect, watched)
        for name, call, expect in kinds
    ]


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
    def raising(text):
        raise ValueError(text)

    def interrupting(text):
        raise KeyboardInterrupt

    Decimal = decimal.Decimal
    with_parse_float = [
        ("parse_float raises", lambda: vellum.loads(b'[1, {"a": 2.5}]', parse_float=raising), ValueError),
        ("parse_float interrupts", lambda: vellum.loads(b"[2.5]", parse_float=interrupting), KeyboardInterrupt),
        ("parse_float not callable", lambda: vellum.loads(b"[2.5]", parse_float=1), TypeError),
        ("parse_float, then invalid", lambda: vellum.loads(b'{"a": [1.5, 2.5e1, 1.]}', parse_float=Decimal), E),
        ("parse_float, then invalid UTF-8", lambda: vellum.loads(b'[1.5, "\xff"]', parse_float=Decimal), E),
        ("unexpected keyword", lambda: vellum.loads(b"[1.5]", parse_floats=Decimal), TypeError),
    ]
    return [
        Case(f"loads fails: {name}", lambda d=data: vellum.loads(d), 5000, expect, (data,))
        for name, data, expect in inputs
    ] + [Case(f"loads fails: {name}", call, 5000, expect) for name, call, expect in with_parse_float]


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
