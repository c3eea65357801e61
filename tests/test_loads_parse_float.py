"""loads' parse_float: numbers that would be floats read as Decimal exactly as
written, or handed to any callable as text; the callable is the caller's
code, which may raise, re-enter loads or return anything."""

import gc
import io
import json
import sys
from decimal import Decimal

import pytest

import vellum

from support import decode_error, same

EXACT = [
    ("1.50", Decimal("1.50")),
    ("-0.0", Decimal("-0.0")),
    ("0.000", Decimal("0.000")),
    ("1e5", Decimal("1E+5")),
    ("1E-400", Decimal("1E-400")),
    ("-2.5e+308", Decimal("-2.5E+308")),
    ("1e999999", Decimal("1E+999999")),
    ("3.14159265358979323846264338327950288419716939937510", Decimal("3.14159265358979323846264338327950288419716939937510")),
    ("0.1", Decimal("0.1")),
    # Integers beyond 64 bits, which are floats without parse_float.
    ("18446744073709551616", Decimal("18446744073709551616")),
    ("-9223372036854775809", Decimal("-9223372036854775809")),
    ("1" * 400, Decimal("1" * 400)),
]


@pytest.mark.parametrize("text,expected", EXACT, ids=[t[:24] for t, _ in EXACT])
def test_decimal_exactly_as_written(text, expected):
    for document in (text, f"[{text}]", f' {{"k": [{text}, 1]}} '):
        got = vellum.loads(document.encode(), parse_float=Decimal)
        assert got == json.loads(document, parse_float=Decimal)  # json's wide ints equal these
        value = got if document == text else (got[0] if isinstance(got, list) else got["k"][0])
        assert type(value) is Decimal
        assert value.as_tuple() == expected.as_tuple()


@pytest.mark.parametrize("text", ["0", "-0", "7", "-9223372036854775808", "18446744073709551615"])
def test_integers_within_64_bits_stay_int(text):
    assert same(vellum.loads(f"[{text}]", parse_float=Decimal), [int(text)])


def test_none_is_the_default():
    document = b'[1.5, 2, "x", 1e-400, 123456789012345678901234567890]'
    assert same(vellum.loads(document, parse_float=None), vellum.loads(document))
    assert same(vellum.loads(document), [1.5, 2, "x", 0.0, 1.2345678901234568e29])
    # A number a double cannot hold is refused without a callable.
    assert str(decode_error_with(b"[1e400]", None)) == str(decode_error(b"[1e400]"))
    assert vellum.loads(b"[1e400]", parse_float=float) == [float("inf")]


@pytest.mark.parametrize("data", [b"[1.5, -2e3]", "[1.5, -2e3]", bytearray(b"[1.5, -2e3]"), memoryview(b"[1.5, -2e3]")])
def test_every_input_type(data):
    assert vellum.loads(data, parse_float=Decimal) == [Decimal("1.5"), Decimal("-2E+3")]


def test_corpus_against_json():
    from pathlib import Path

    for path in sorted((Path(__file__).parent.parent / "bench" / "data").glob("*.json")):
        data = path.read_bytes()
        assert vellum.loads(data, parse_float=Decimal) == json.loads(data, parse_float=Decimal), path.name


def test_other_callables_get_the_text():
    seen = []

    def record(text):
        seen.append(text)
        return ("parsed", text)

    document = b'{"a": [1.0, 2, -3.25e-2, 99999999999999999999], "b": 1E3}'
    assert vellum.loads(document, parse_float=record) == {
        "a": [("parsed", "1.0"), 2, ("parsed", "-3.25e-2"), ("parsed", "99999999999999999999")],
        "b": ("parsed", "1E3"),
    }
    assert seen == ["1.0", "-3.25e-2", "99999999999999999999", "1E3"]
    assert all(type(t) is str for t in seen)
    assert vellum.loads("[0.5]", parse_float=float) == [0.5]
    assert vellum.loads("[0.5]", parse_float=str) == ["0.5"]


@pytest.mark.parametrize("error", [ValueError("no"), KeyboardInterrupt(), SystemExit(3), MemoryError()])
def test_callable_raising_ends_the_call_with_its_exception(error):
    def fail(text):
        raise error

    # Even where the bytes hold invalid UTF-8 further on, which would be
    # reported otherwise.
    for document in (b"[1, 2.5, 3]", b'[2.5, "\xff"]', b"[2.5, tru"):
        with pytest.raises(type(error)) as info:
            vellum.loads(document, parse_float=fail)
        assert info.value is error


def test_failures_after_calls_are_reported_as_without_it():
    calls = []

    def record(text):
        calls.append(text)
        return Decimal(text)

    for document in (b'[2.5, "\xff"]', b"[2.5, tru", b"[2.5, 1.]"):
        assert str(decode_error_with(document, record)) == str(decode_error(document))
    assert calls == ["2.5"] * 3


def decode_error_with(document, parse_float):
    with pytest.raises(vellum.JSONDecodeError) as info:
        vellum.loads(document, parse_float=parse_float)
    return info.value


def test_callable_reentering_loads():
    def nested(text):
        return vellum.loads(f'{{"text": "{text}", "again": [{text}]}}', parse_float=Decimal)

    got = vellum.loads(b'[0.5, {"k": 1e2}]', parse_float=nested)
    assert got == [
        {"text": "0.5", "again": [Decimal("0.5")]},
        {"k": {"text": "1e2", "again": [Decimal("1E+2")]}},
    ]


def test_callable_returning_anything():
    shared = [1, 2]
    results = iter([None, shared, shared, "s", vellum])
    got = vellum.loads(b'{"a": 1.0, "b": [2.0, 3.0], "c": 4.0, "d": 5.0}', parse_float=lambda _: next(results))
    assert got == {"a": None, "b": [shared, shared], "c": "s", "d": vellum}
    assert got["b"][0] is shared


def test_callable_that_collects_and_disables_the_collector():
    # A document large enough that a read without Python code would pause
    # the collector; the callable's own collector settings stand afterwards.
    document = ("[" + ",".join(f'{{"v": {i}.5}}' for i in range(2000)) + "]").encode()

    def toggle(text):
        gc.collect(0)
        gc.disable()
        return Decimal(text)

    was = gc.isenabled()
    try:
        got = vellum.loads(document, parse_float=toggle)
        assert not gc.isenabled()
    finally:
        if was:
            gc.enable()
    assert got == [{"v": Decimal(i) + Decimal("0.5")} for i in range(2000)]


def test_references():
    def keep(text):
        return text

    parse_float = keep
    before = sys.getrefcount(parse_float), sys.getrefcount(Decimal)
    for _ in range(100):
        vellum.loads(b"[1.5, 2.5]", parse_float=parse_float)
        vellum.loads(b"[1.5, 2.5]", parse_float=Decimal)
        with pytest.raises(ZeroDivisionError):
            vellum.loads(b"[1.5, 2.5]", parse_float=lambda _: 1 / 0)
    assert (sys.getrefcount(parse_float), sys.getrefcount(Decimal)) == before


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: vellum.loads(b"1.5", parse_float=1), "parse_float must be callable or None, not int"),
        (lambda: vellum.loads(b"1.5", parse_float="Decimal"), "parse_float must be callable or None, not str"),
        (lambda: vellum.loads(parse_float=Decimal), "vellum.loads() takes exactly one argument (0 given)"),
        (lambda: vellum.loads(b"1", b"2", parse_float=Decimal), "vellum.loads() takes exactly one argument (2 given)"),
        (lambda: vellum.loads(b"1", parse_float=Decimal, x=1), "vellum.loads() takes no keyword arguments"),
        # What a call without the keyword meets, as before it existed.
        (lambda: vellum.loads(), "vellum.loads() takes exactly one argument (0 given)"),
        (lambda: vellum.loads(b"1", b"2"), "vellum.loads() takes exactly one argument (2 given)"),
        (lambda: vellum.loads(obj=b"1"), "vellum.loads() takes no keyword arguments"),
        (lambda: vellum.loads(b"1", parse_floats=Decimal), "vellum.loads() takes no keyword arguments"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_keyword_name_built_at_run_time():
    name = "".join(["parse", "_", "float"])
    assert vellum.loads(b"[2.5]", **{name: Decimal}) == [Decimal("2.5")]


def test_files_take_it_too():
    assert vellum.load(io.BytesIO(b"[0.10]"), parse_float=Decimal) == [Decimal("0.10")]
    assert vellum.load(io.StringIO("[0.10]")) == [0.1]
    lines = [b"1.10\n", b"\n", b'{"a": 2.20}\n']
    assert list(vellum.load_lines(lines, parse_float=Decimal)) == [Decimal("1.10"), {"a": Decimal("2.20")}]
    with pytest.raises(vellum.JSONDecodeError) as info:
        list(vellum.load_lines([b"1.5\n", b"[1.5,]\n"], parse_float=Decimal))
    assert info.value.lineno == 2
