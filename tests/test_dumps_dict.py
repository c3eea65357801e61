import pytest

import vellum
from vellum import JSONEncodeError

SORT = vellum.OPT_SORT_KEYS


class MyStr(str):
    pass


@pytest.mark.parametrize("option", [0, SORT, vellum.OPT_INDENT_2, SORT | vellum.OPT_INDENT_2, vellum.OPT_NON_STR_KEYS])
def test_empty_dict(option):
    assert vellum.dumps({}, option=option) == b"{}"


def test_insertion_order_and_sorted_order():
    assert vellum.dumps({"b": 1, "a": 2}) == b'{"b":1,"a":2}'
    assert vellum.dumps({"b": 1, "a": 2}, option=SORT) == b'{"a":2,"b":1}'


@pytest.mark.parametrize(
    "keys,expected",
    [
        (["a", "ab", "B"], ["B", "a", "ab"]),
        (["é", "z"], ["z", "é"]),
        (["\U0001f600", "\uffff", "\u00ff", "~"], ["~", "\u00ff", "\uffff", "\U0001f600"]),
        (["", "\x00", "a\x00", "a"], ["", "\x00", "a", "a\x00"]),
    ],
)
def test_sorted_keys_in_code_point_order(keys, expected):
    out = vellum.dumps(dict.fromkeys(keys, 0), option=SORT)
    assert out == vellum.dumps(dict.fromkeys(expected, 0))
    assert sorted(keys) == expected


def test_sorted_nested_and_indented():
    obj = {"b": {"d": 1, "c": [{"z": 1, "y": 2}]}, "a": None}
    assert vellum.dumps(obj, option=SORT) == b'{"a":null,"b":{"c":[{"y":2,"z":1}],"d":1}}'
    assert vellum.dumps(obj, option=SORT | vellum.OPT_INDENT_2).startswith(b'{\n  "a": null,\n  "b": {\n    "c"')


@pytest.mark.parametrize("key", [1, MyStr("a"), None, 1.5, (1,), b"a"])
@pytest.mark.parametrize("option", [0, SORT])
def test_non_str_keys(key, option):
    with pytest.raises(JSONEncodeError, match="^Dict key must be str$"):
        vellum.dumps({key: 1}, option=option)


def test_non_str_keys_option_keeps_str_keys():
    assert vellum.dumps({"a": 1}, option=vellum.OPT_NON_STR_KEYS) == b'{"a":1}'


def test_sorted_checks_every_key_before_writing():
    class Bad:
        pass

    calls = []

    def default(obj):
        calls.append(obj)
        raise ValueError

    with pytest.raises(JSONEncodeError, match="Dict key must be str"):
        vellum.dumps({"a": Bad(), 1: 2}, default, option=SORT)
    assert calls == []


def test_subclass_dict_read_directly():
    class D(dict):
        def keys(self):
            raise AssertionError

        def items(self):
            raise AssertionError

    assert vellum.dumps(D(b=1, a=2), option=SORT) == b'{"a":2,"b":1}'


def test_many_keys_sorted():
    keys = [f"k{i:05d}" for i in range(5000)][::-1]
    out = vellum.dumps(dict.fromkeys(keys, 1), option=SORT)
    assert out == vellum.dumps(dict.fromkeys(sorted(keys), 1))
