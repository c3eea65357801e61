import collections
import dataclasses
import datetime
import enum
import math
import uuid

import pytest

import vellum

from support import encode_error


class MyStr(str):
    pass


class MyInt(int):
    pass


class MyList(list):
    pass


class MyDict(dict):
    def items(self):  # never consulted
        raise AssertionError

    def __iter__(self):
        raise AssertionError


class MyTuple(tuple):
    pass


class MyFloat(float):
    pass


class Point:
    pass


Pair = collections.namedtuple("Pair", "a b")


class Color(enum.IntEnum):
    RED = 1


def tag(obj):
    return f"<{type(obj).__name__}>"


@pytest.mark.parametrize(
    "obj,expected",
    [
        (MyStr("a\n"), b'"a\\n"'),
        (MyInt(-7), b"-7"),
        (MyList([1, MyList([2])]), b"[1,[2]]"),
        (MyDict(a=1), b'{"a":1}'),
        ((1, (2,), ()), b"[1,[2],[]]"),
        (True, b"true"),
        (False, b"false"),
        (Color.RED, b"1"),
    ],
)
def test_subclasses_and_tuples(obj, expected):
    assert vellum.dumps(obj) == expected


@pytest.mark.parametrize("obj", [MyStr("a"), MyInt(1), MyList([1]), MyDict(a=1)])
def test_passthrough_subclass_goes_to_default(obj):
    assert vellum.dumps(obj, tag, option=vellum.OPT_PASSTHROUGH_SUBCLASS) == f'"<{type(obj).__name__}>"'.encode()


@pytest.mark.parametrize("obj", [Pair(1, 2), MyTuple((1,)), MyFloat(1.5), Point()])
def test_always_to_default(obj):
    assert vellum.dumps(obj, tag) == f'"<{type(obj).__name__}>"'.encode()
    assert vellum.dumps(obj, tag, option=vellum.OPT_PASSTHROUGH_SUBCLASS) == f'"<{type(obj).__name__}>"'.encode()


def test_unsupported_type_message():
    err = encode_error(Point())
    assert str(err) == "Type is not JSON serializable: Point"
    assert str(encode_error([1, {"a": Point()}])) == "Type is not JSON serializable: Point"
    assert str(encode_error(b"bytes")) == "Type is not JSON serializable: bytes"
    assert str(encode_error(collections.OrderedDict)) == "Type is not JSON serializable: type"


@pytest.mark.parametrize(
    "value",
    [datetime.datetime(2020, 1, 1), datetime.date(2020, 1, 1), datetime.time(1, 2), uuid.UUID(int=1)],
)
def test_passthrough_datetime(value):
    option = vellum.OPT_PASSTHROUGH_DATETIME if not isinstance(value, uuid.UUID) else 0
    assert vellum.dumps(value, str, option=option) == f'"{value}"'.encode()


def test_passthrough_dataclass():
    @dataclasses.dataclass
    class D:
        a: int

    assert vellum.dumps(D(1), tag, option=vellum.OPT_PASSTHROUGH_DATACLASS) == b'"<D>"'


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf])
def test_non_finite_floats_are_null(value):
    assert vellum.dumps([value]) == b"[null]"


def test_default_result_is_serialized_in_full():
    calls = []

    def default(obj):
        calls.append(type(obj).__name__)
        if isinstance(obj, Point):
            return {"p": [MyTuple((1,)), set()]}
        if isinstance(obj, set):
            return sorted(obj)
        return "tuple"

    assert vellum.dumps(Point(), default) == b'{"p":["tuple",[]]}'
    assert calls == ["Point", "MyTuple", "set"]


def test_default_recursion_limit():
    calls = 0

    def same(obj):
        nonlocal calls
        calls += 1
        return obj

    err = encode_error(Point(), default=same)
    assert str(err) == "default serializer exceeds recursion limit"
    assert calls == 255


def test_default_depth_is_per_path():
    class N:
        def __init__(self, n):
            self.n = n

    def default(obj):
        return N(obj.n - 1) if obj.n else "end"

    assert vellum.dumps([N(254)] * 3, default) == b'["end","end","end"]'
    assert str(encode_error(N(255), default=default)) == "default serializer exceeds recursion limit"


def test_default_exception_becomes_cause():
    def default(obj):
        raise ValueError("nope")

    err = encode_error({"a": Point()}, default=default)
    assert str(err) == "Type is not JSON serializable: Point"
    assert type(err.__cause__) is ValueError
    assert err.__suppress_context__


def test_non_callable_default():
    err = encode_error(Point(), default=1)
    assert str(err) == "Type is not JSON serializable: Point"
    assert type(err.__cause__) is TypeError


def test_default_calling_dumps_is_independent():
    def default(obj):
        return vellum.dumps([[[1]]]).decode()

    assert vellum.dumps([Point()], default) == b'["[[[1]]]"]'


@pytest.mark.parametrize(
    "content,expected",
    [
        (b'{"a":1}', b'[{"a":1}]'),
        ("x", b"[x]"),
        ("é", "[é]".encode()),
        (b"", b"[]"),
    ],
)
def test_fragment_output(content, expected):
    assert vellum.dumps([vellum.Fragment(content)]) == expected


@pytest.mark.parametrize("content", [1, bytearray(b"1"), memoryview(b"1"), MyStr("1"), None])
def test_fragment_bad_content(content):
    err = encode_error([vellum.Fragment(content)])
    assert str(err) == "vellum.Fragment's content is not of type bytes or str"


def test_fragment_with_surrogate():
    err = encode_error(vellum.Fragment("\ud800"))
    assert str(err) == "str is not valid UTF-8: surrogates not allowed"


def test_lone_surrogates_fail():
    for obj in ["\ud800", ["a", "\udfff"], {"\ud800": 1}, {"a": "\ud800"}, MyStr("\ud800")]:
        err = encode_error(obj)
        assert str(err) == "str is not valid UTF-8: surrogates not allowed"
        assert type(err.__cause__) is UnicodeEncodeError
