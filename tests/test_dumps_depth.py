import dataclasses

import pytest

import vellum
from vellum import JSONEncodeError

LIMIT = "Recursion limit reached"


def nested(depth, inner, wrap=lambda x: [x]):
    obj = inner
    for _ in range(depth):
        obj = wrap(obj)
    return obj


@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2])
def test_list_depth_limit(option):
    assert vellum.dumps(nested(254, 1), option=option).count(b"[") == 254
    with pytest.raises(JSONEncodeError, match=LIMIT):
        vellum.dumps(nested(255, 1), option=option)


def test_empty_containers_at_the_limit():
    # An empty list at depth 255 is written; an empty dict is refused.
    assert vellum.dumps(nested(254, [])).count(b"[") == 255
    with pytest.raises(JSONEncodeError, match=LIMIT):
        vellum.dumps(nested(254, {}))
    assert vellum.dumps(nested(253, {})).endswith(b"{}" + b"]" * 253)


@pytest.mark.parametrize(
    "wrap", [lambda x: {"k": x}, lambda x: (x,)], ids=["dict", "tuple"]
)
def test_other_containers_count(wrap):
    vellum.dumps(nested(254, 1, wrap))
    with pytest.raises(JSONEncodeError, match=LIMIT):
        vellum.dumps(nested(255, 1, wrap))


@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS])
def test_self_containing_containers(option):
    lst = []
    lst.append(lst)
    dct = {}
    dct["self"] = dct
    for obj in (lst, dct):
        with pytest.raises(JSONEncodeError, match=LIMIT):
            vellum.dumps(obj, option=option)


def test_default_does_not_raise_container_depth():
    def default(obj):
        return [1]

    class X:
        pass

    vellum.dumps(nested(253, X()), default)
    with pytest.raises(JSONEncodeError, match=LIMIT):
        vellum.dumps(nested(254, X()), default)
