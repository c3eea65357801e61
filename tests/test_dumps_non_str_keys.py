"""OPT_NON_STR_KEYS: every key type's text, order with and without sorting,
failures, and the memory collected for one dict."""

import datetime as dt
import enum
import gc
import sys
import uuid

import pytest

import vellum
from vellum import JSONEncodeError

from support import Trigger, encode_error, run_trigger

KEYS = vellum.OPT_NON_STR_KEYS
SORT = vellum.OPT_SORT_KEYS
UNSUPPORTED = "Dict key must a type serializable with OPT_NON_STR_KEYS"


class MyStr(str):
    pass


class MyInt(int):
    pass


class MyFloat(float):
    pass


class Level(enum.IntEnum):
    LOW = 1


class Kind(enum.Enum):
    A = "a"
    N = 2


@pytest.mark.parametrize(
    "key,text",
    [
        ("plain", "plain"),
        ("", ""),
        ('q"\\\n', 'q\\"\\\\\\n'),
        ("é\U0001f600", "é\U0001f600"),
        (1, "1"),
        (0, "0"),
        (-1, "-1"),
        (2**64 - 1, "18446744073709551615"),
        (-(2**63), "-9223372036854775808"),
        (2**31, "2147483648"),
        (MyInt(-7), "-7"),
        (Level.LOW, "1"),
        (True, "true"),
        (False, "false"),
        (None, "null"),
        (1.5, "1.5"),
        (1.0, "1.0"),
        (-0.0, "-0.0"),
        (1e300, "1e+300"),
        (float("nan"), "null"),
        (float("inf"), "null"),
        (float("-inf"), "null"),
        (dt.datetime(2024, 1, 2, 3, 4, 5, 6), "2024-01-02T03:04:05.000006"),
        (dt.date(2024, 1, 2), "2024-01-02"),
        (dt.time(3, 4, 5), "03:04:05"),
        (uuid.UUID(int=255), "00000000-0000-0000-0000-0000000000ff"),
        (Kind.A, "a"),
        (Kind.N, "2"),
        (MyStr('m"'), 'm\\"'),
    ],
)
def test_key_text(key, text):
    for option in (KEYS, KEYS | SORT):
        assert vellum.dumps({key: 1}, option=option) == f'{{"{text}":1}}'.encode()
    assert vellum.dumps({key: [1]}, option=KEYS | vellum.OPT_INDENT_2) == f'{{\n  "{text}": [\n    1\n  ]\n}}'.encode()


def test_float_keys_as_their_value_text():
    for value in [0.1, 1 / 3, 5e-324, 1.7976931348623157e308, 123456789.0, 1e16, 1e-7]:
        # The value's own text, which reads back as the same float.
        text = vellum.dumps(value)
        assert vellum.dumps({value: 0}, option=KEYS) == b'{"' + text + b'":0}'
        assert float(text) == value


@pytest.mark.parametrize(
    "option,expected",
    [
        (0, "2024-01-02T03:04:05.000006"),
        (vellum.OPT_OMIT_MICROSECONDS, "2024-01-02T03:04:05"),
        (vellum.OPT_NAIVE_UTC, "2024-01-02T03:04:05.000006+00:00"),
        (vellum.OPT_NAIVE_UTC | vellum.OPT_UTC_Z, "2024-01-02T03:04:05.000006Z"),
        (vellum.OPT_PASSTHROUGH_DATETIME, "2024-01-02T03:04:05.000006"),
    ],
)
def test_datetime_key_options(option, expected):
    key = dt.datetime(2024, 1, 2, 3, 4, 5, 6)
    assert vellum.dumps({key: 1}, option=KEYS | option) == f'{{"{expected}":1}}'.encode()


def test_passthrough_options_do_not_apply_to_keys():
    option = KEYS | vellum.OPT_PASSTHROUGH_SUBCLASS | vellum.OPT_PASSTHROUGH_DATETIME
    data = {MyStr("s"): 1, MyInt(2): 2, Level.LOW: 3, dt.date(2020, 1, 1): 4, dt.time(1): 5}
    assert vellum.dumps(data, option=option) == b'{"s":1,"2":2,"1":3,"2020-01-01":4,"01:00:00":5}'


def test_order():
    data = {10: "a", 9: "b", 1: "c"}
    assert vellum.dumps(data, option=KEYS) == b'{"10":"a","9":"b","1":"c"}'
    assert vellum.dumps(data, option=KEYS | SORT) == b'{"1":"c","10":"a","9":"b"}'
    mixed = {"b": 1, 2: 2, None: 3, True: 4, dt.date(2020, 1, 1): 5, "é": 6, 1.5: 7}
    out = vellum.dumps(mixed, option=KEYS | SORT)
    assert out == '{"1.5":7,"2":2,"2020-01-01":5,"b":1,"null":3,"true":4,"é":6}'.encode()


def test_equal_texts_are_both_written():
    out = vellum.dumps({1: "x", "1": "y"}, option=KEYS)
    assert out == b'{"1":"x","1":"y"}'
    out = vellum.dumps({1: "x", "1": "y"}, option=KEYS | SORT)
    assert out in (b'{"1":"x","1":"y"}', b'{"1":"y","1":"x"}')


def test_many_keys():
    data = {i * 7919 % 100003: i for i in range(20000)}
    expected = {str(k): v for k, v in data.items()}
    import json

    assert json.loads(vellum.dumps(data, option=KEYS)) == expected
    out = vellum.dumps(data, option=KEYS | SORT)
    assert list(json.loads(out)) == sorted(expected)


def test_nested_and_reentrant_dicts_of_every_size():
    # The entries and key texts of large dicts are reused between calls; a
    # dict written inside another (or by a nested dumps in default) must get
    # memory of its own, whatever sizes came before.
    import json

    def nested(size, depth):
        inner = {i / 4: None for i in range(size // 3)}
        if depth:
            inner[-1] = nested(size * 2 + 1, depth - 1)
        return {i: inner if i == 0 else i for i in range(size)}

    class Later:
        def __init__(self, size):
            self.size = size

    def default(obj):
        return vellum.Fragment(vellum.dumps(nested(obj.size, 1), option=KEYS))

    def as_text(obj):
        if isinstance(obj, dict):
            return {k if isinstance(k, str) else json.dumps(k): as_text(v) for k, v in obj.items()}
        if isinstance(obj, list):
            return [as_text(item) for item in obj]
        if isinstance(obj, Later):
            return as_text(nested(obj.size, 1))
        return obj

    for size in (3, 3000, 2, 9000, 700, 9):
        data = nested(size, 2)
        data[10**9] = [Later(size), Later(size * 2 + 1)]
        expected = as_text(data)
        for option in (KEYS, KEYS | SORT):
            assert json.loads(vellum.dumps(data, default, option=option)) == expected


@pytest.mark.parametrize(
    "key,message",
    [
        (2**64, "Dict integer key must be within 64-bit range"),
        (-(2**63) - 1, "Dict integer key must be within 64-bit range"),
        (MyInt(2**70), "Dict integer key must be within 64-bit range"),
        ((1,), UNSUPPORTED),
        (frozenset(), UNSUPPORTED),
        (b"bytes", UNSUPPORTED),
        (MyFloat(1.5), UNSUPPORTED),
        (vellum.Fragment(b"1"), UNSUPPORTED),
        (object(), UNSUPPORTED),
        ("\ud800", "str is not valid UTF-8: surrogates not allowed"),
        (MyStr("\udfff"), "str is not valid UTF-8: surrogates not allowed"),
        (dt.time(1, tzinfo=dt.timezone.utc), "datetime.time must not have tzinfo set"),
    ],
)
@pytest.mark.parametrize("option", [KEYS, KEYS | SORT, KEYS | vellum.OPT_INDENT_2])
def test_key_failures(key, message, option):
    calls = []

    def default(obj):
        calls.append(obj)
        return None

    class Unsupported:
        pass

    # The first failing key ends the dict before any value is written.
    err = encode_error({"a": Unsupported(), key: 1}, option=option)
    assert str(err) == message
    with pytest.raises(JSONEncodeError, match="^" + message.replace("(", r"\(") + "$"):
        vellum.dumps({"a": Unsupported(), key: 1}, default, option=option)
    assert calls == []


def test_strict_integer_does_not_apply_to_keys():
    assert vellum.dumps({2**60: 1}, option=KEYS | vellum.OPT_STRICT_INTEGER) == b'{"1152921504606846976":1}'


def test_dict_subclass_and_nested():
    class D(dict):
        pass

    data = D({1: {2: [D({None: 3})]}})
    assert vellum.dumps(data, option=KEYS) == b'{"1":{"2":[{"null":3}]}}'


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
def test_references_released():
    value = ["v" * 20]
    key_int = 2**40 + 1
    key_str = "k" * 30
    key_uuid = uuid.UUID(int=7)
    good = {key_int: value, key_str: value, key_uuid: value, Kind.A: value}
    bad = {key_int: value, key_str: value, (1,): value}
    tracked = [value, key_int, key_str, key_uuid, good, bad]
    before = [sys.getrefcount(o) for o in tracked]
    for _ in range(20):
        vellum.dumps(good, option=KEYS)
        vellum.dumps(good, option=KEYS | SORT)
        with pytest.raises(JSONEncodeError):
            vellum.dumps(bad, option=KEYS)
        with pytest.raises(JSONEncodeError):
            vellum.dumps({1: [object()]}, option=KEYS | SORT)
    assert [sys.getrefcount(o) for o in tracked] == before


def test_key_conversion_that_clears_the_dict():
    data = {}

    class Clearing(enum.Enum):
        A = 1

        @property
        def value(self):
            data.clear()
            gc.collect()
            return "cleared"

    data["first"] = ["f" * 64] * 10
    data[Clearing.A] = ["c" * 64] * 10
    data["last"] = ["l" * 64] * 10
    for option in (KEYS, KEYS | SORT):
        snapshot = dict(data)
        out = vellum.dumps(data, option=option)
        # The keys read before the change are written with their values.
        assert b'"cleared":["' + b"c" * 64 in out
        assert b'"first":["' + b"f" * 64 in out
        data.update(snapshot)


def test_aware_key_after_naive_ones_is_converted_first():
    # Keys of one type are still told apart one by one: the zone's code
    # sends the dict through the path that takes every member first.
    data = {}

    class Clearing(dt.tzinfo):
        def utcoffset(self, when):
            data.clear()
            gc.collect()
            return dt.timedelta(hours=1)

    data[dt.datetime(2024, 1, 2)] = ["a" * 64] * 10
    data[dt.datetime(2024, 1, 3)] = ["b" * 64] * 10
    data[dt.datetime(2024, 1, 4, tzinfo=Clearing())] = ["c" * 64] * 10
    data[dt.datetime(2024, 1, 5)] = ["d" * 64] * 10
    # (Written one by one, the dict would fail as changed under the walk.)
    out = vellum.dumps(data, option=KEYS)
    assert b'"2024-01-04T00:00:00+01:00":["' + b"c" * 64 in out


@pytest.mark.parametrize(
    "last_key,option",
    [
        # An enum key, or sorting, has every member taken first.
        (Kind.A, KEYS),
        (3.5, KEYS | SORT),
    ],
)
def test_value_that_clears_the_dict(last_key, option):
    data = {}

    class Trigger:
        pass

    def default(obj):
        data.clear()
        gc.collect()
        return "t"

    data[1] = Trigger()
    data[2] = ["x" * 64] * 10
    data[last_key] = {"y": ["y" * 64] * 10}
    out = vellum.dumps(data, default, option=option)
    assert out.startswith(b'{"1":"t","2":["' + b"x" * 64)


def refill(data, keys):
    data.clear()
    data.update(dict.fromkeys(keys, 0))


# Keys that need no Python code are written with their values as they are
# read; a value that changes the dict's size or key table under that walk
# fails the call instead of writing what is left.
@pytest.mark.parametrize(
    "change",
    [
        lambda data: data.clear(),
        lambda data: data.pop(3),
        lambda data: data.__setitem__(4, 0),
        lambda data: refill(data, ["a", "b", "c"]),
    ],
    ids=["clear", "pop", "add", "refill"],
)
@pytest.mark.parametrize("first_key", [1, "s"])
def test_value_that_changes_a_quiet_dict(change, first_key):
    data = {}
    data[first_key] = Trigger(lambda: change(data))
    data[2] = ["x" * 64] * 10
    data[3] = {"y": ["y" * 64] * 10}
    with pytest.raises(JSONEncodeError, match="^dict changed size during serialization$") as error:
        vellum.dumps(data, run_trigger, option=KEYS)
    assert error.value.__cause__ is None


def test_value_that_changes_a_quiet_dict_last():
    # Every member is written by then: nothing is left out.
    data = {1: 0, 2: None}
    data[2] = Trigger(lambda: data.clear())
    assert vellum.dumps(data, run_trigger, option=KEYS) == b'{"1":0,"2":"t"}'


def test_key_swapped_in_by_a_value():
    # A key put in at the same size and in the same table needs Python code
    # of its own; it is converted (and held) as it comes.
    data = {}

    def swap():
        del data[3]
        data[Kind.A] = ["after"]

    data[1] = Trigger(swap)
    data[2] = 3
    data[3] = 4
    out = vellum.dumps(data, run_trigger, option=KEYS)
    assert out == b'{"1":"t","2":3,"a":["after"]}'
