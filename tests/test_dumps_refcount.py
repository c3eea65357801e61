"""Every object dumps creates or borrows is released exactly once, whether the
call succeeds or fails."""

import sys

import pytest

import vellum
from vellum import JSONEncodeError


class Unsupported:
    pass


def counts(objs):
    return [sys.getrefcount(o) for o in objs]


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS])
def test_success_keeps_counts(option):
    key, text, inner = "k" * 30, "v" * 40, [1, 2.5]
    obj = {key: [text, inner, (text,)], "z": {key: inner}}
    tracked = [key, text, inner, obj]
    before = counts(tracked)
    for _ in range(20):
        vellum.dumps(obj, option=option)
    assert counts(tracked) == before


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
@pytest.mark.parametrize("option", [0, vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS])
def test_failure_keeps_counts(option):
    bad = Unsupported()
    text = "v" * 40
    obj = {"a": [text, {"b": [text, bad]}], "c": text}
    tracked = [bad, text, obj]
    before = counts(tracked)
    for _ in range(20):
        with pytest.raises(JSONEncodeError):
            vellum.dumps(obj, option=option)
    assert counts(tracked) == before


def extra_references(objs):
    # References held beyond the list `objs` itself.
    return [sys.getrefcount(objs[i]) - sys.getrefcount([]) - 1 for i in range(len(objs))]


def test_default_results_released():
    made = []

    def default(obj):
        made.append([obj.__class__.__name__, [1.5]])
        return made[-1]

    vellum.dumps([Unsupported() for _ in range(5)], default)
    assert extra_references(made) == [0] * 5


def test_default_result_released_on_failure():
    made = []

    def default(obj):
        if len(made) == 2:
            raise ValueError
        made.append(["ok", float("nan"), Unsupported()])
        return made[-1]

    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps([Unsupported()], default)
    assert type(info.value.__cause__) is ValueError
    assert extra_references(made) == [0, 0]


def test_error_type_payload_released():
    cls = type("Temp", (), {})
    before = sys.getrefcount(cls)
    for _ in range(10):
        with pytest.raises(JSONEncodeError):
            vellum.dumps(cls())
    assert sys.getrefcount(cls) == before


def test_default_callable_not_leaked():
    def default(obj):
        return None

    before = sys.getrefcount(default)
    for _ in range(10):
        vellum.dumps([Unsupported()], default)
        vellum.dumps([Unsupported()], default=default)
    assert sys.getrefcount(default) == before
