"""Python code run while a container is written (through default) may change
that container; dumps must stay within live memory and keep its references
balanced."""

import gc
import sys

import pytest

import vellum
from vellum import JSONEncodeError


class Trigger:
    def __init__(self, action):
        self.action = action


def default(obj):
    obj.action()
    return "t"


@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2])
def test_list_cleared_while_written(option):
    victim = [[1, 2, 3] * 100 for _ in range(10)]
    data = [None, victim]
    data[0] = Trigger(lambda: (victim.clear(), data.clear()))
    out = vellum.dumps(data, default, option=option)
    assert out.replace(b"\n", b"").replace(b" ", b"") == b'["t"]'


def test_list_shrinks_under_the_walk():
    items = list(range(100))
    items.insert(0, Trigger(lambda: items.__delitem__(slice(1, None))))
    assert vellum.dumps(items, default) == b'["t"]'


def test_list_grows_under_the_walk():
    items = [0]
    items.insert(0, Trigger(lambda: items.extend(range(3))))
    assert vellum.dumps(items, default) == b'["t",0,0,1,2]'


def test_nested_list_freed_by_default():
    inner = [[Trigger(None), "x" * 50]]
    outer = [inner]

    def drop():
        outer.clear()
        inner.clear()

    inner[0][0].action = drop
    del inner[0:0]
    out = vellum.dumps(outer, default)
    assert out.startswith(b'[[["t"')


@pytest.mark.parametrize("option", [0, vellum.OPT_SORT_KEYS, vellum.OPT_INDENT_2])
def test_dict_cleared_while_written(option):
    data = {}
    values = {f"k{i}": [i] * 50 for i in range(20)}
    data["a"] = Trigger(lambda: (data.clear(), values.clear()))
    data.update(values)
    out = vellum.dumps(data, default, option=option)
    assert out.replace(b"\n", b"").replace(b" ", b"").startswith(b'{"a":"t"')


@pytest.mark.parametrize("option", [0, vellum.OPT_SORT_KEYS])
def test_dict_value_replaced_while_written(option):
    data = {"a": None, "b": ["x" * 100]}
    data["a"] = Trigger(lambda: data.__setitem__("b", None))
    out = vellum.dumps(data, default, option=option)
    assert out in (b'{"a":"t","b":null}', b'{"a":"t","b":["' + b"x" * 100 + b'"]}')


def test_dict_grows_while_written():
    data = {}
    data["a"] = Trigger(lambda: data.update({f"n{i}": i for i in range(100)}))
    out = vellum.dumps(data, default)
    assert out == b'{"a":"t"}'


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread may hold references a while
def test_references_balanced_after_mutation():
    victim = ["y" * 20]
    before = sys.getrefcount(victim)
    data = [Trigger(lambda: data.clear()), victim]
    vellum.dumps(data, default)
    del data
    gc.collect()
    assert sys.getrefcount(victim) == before
