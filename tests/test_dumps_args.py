import inspect

import pytest

import vellum
from vellum import JSONEncodeError

MISSING = "dumps() missing 1 required positional argument: 'obj'"
UNEXPECTED = "dumps() got an unexpected keyword argument"
MULTIPLE_DEFAULT = "dumps() got multiple values for argument: 'default'"
MULTIPLE_OPTION = "dumps() got multiple values for argument: 'option'"
INVALID = "Invalid opts"


def raised(call):
    with pytest.raises(JSONEncodeError) as info:
        call()
    assert info.value.__cause__ is None
    return info.value


def message(call):
    return str(raised(call))


@pytest.mark.parametrize(
    "call,expected",
    [
        (lambda: vellum.dumps(), MISSING),
        (lambda: vellum.dumps(obj=1), MISSING),
        (lambda: vellum.dumps(1, None, None, option=0), MULTIPLE_OPTION),
        (lambda: vellum.dumps(1, None, None, default=None), MULTIPLE_DEFAULT),
        (lambda: vellum.dumps(1, None, None, other=1), UNEXPECTED),
        (lambda: vellum.dumps(1, None, default=None), MULTIPLE_DEFAULT),
        (lambda: vellum.dumps(1, None, other=None), UNEXPECTED),
        (lambda: vellum.dumps(1, other=None), UNEXPECTED),
        (lambda: vellum.dumps(1, option=0, other=None), UNEXPECTED),
        (lambda: vellum.dumps(1, obj=1), UNEXPECTED),
        (lambda: vellum.dumps(1, None, None, None), "dumps() takes at most 3 positional arguments"),
    ],
)
def test_argument_errors(call, expected):
    assert message(call) == expected


class Name(str):
    def __repr__(self):
        raise KeyboardInterrupt


@pytest.mark.parametrize(
    "kwargs,shown",
    [
        ({"indent": 2}, "'indent'"),
        ({"option": 0, "sort_keys": True}, "'sort_keys'"),
        ({"é" * 41: 1}, repr("é" * 40) + "..."),
        # The name's text, without calling the subclass's repr.
        ({Name("indent"): 2}, "'indent'"),
    ],
)
def test_unexpected_keyword_is_named_in_a_note(kwargs, shown):
    # The message is the one callers match on; the note names the keyword.
    error = raised(lambda: vellum.dumps(1, **kwargs))
    assert (str(error), error.__notes__) == (UNEXPECTED, [f"unexpected keyword: {shown}"])


class Flags(int):
    pass


class Hostile:
    def __repr__(self):
        raise KeyboardInterrupt


@pytest.mark.parametrize(
    "option,shown",
    [
        (True, "True"),
        (False, "False"),
        (-1, "-1"),
        (8192, "8192"),
        (-(2**63), str(-(2**63))),
        (2**63, "an int of 64 bits or more"),
        (2**64, "an int of 64 bits or more"),
        (-(2**64), "an int of 64 bits or more"),
        (10**5000, "an int of 64 bits or more"),
        (1.0, "1.0"),
        ("1", "'1'"),
        ("x" * 41, repr("x" * 40) + "..."),
        (object(), "an object of type object"),
        # Neither an int subclass's repr nor any other object's is called.
        (Flags(1), "an object of type Flags"),
        (Hostile(), "an object of type Hostile"),
    ],
    ids=lambda value: value if isinstance(value, str) else type(value).__name__,
)
def test_invalid_options(option, shown):
    note = f"option given: {shown}; expected None or an int from 0 to 8191, OPT_ flags combined with |"
    for call in (lambda: vellum.dumps(1, option=option), lambda: vellum.dumps(1, None, option)):
        error = raised(call)
        assert (str(error), error.__notes__) == (INVALID, [note])


@pytest.mark.parametrize("option", [0, 8191, None, 1, 2048, 4096])
def test_valid_options(option):
    assert vellum.dumps([], option=option).startswith(b"[]")


def test_keywords_in_any_order_and_positionally():
    def default(obj):
        return "d"

    expected = b'[\n  "d"\n]'
    assert vellum.dumps([object()], default, vellum.OPT_INDENT_2) == expected
    assert vellum.dumps([object()], default, option=vellum.OPT_INDENT_2) == expected
    assert vellum.dumps([object()], option=vellum.OPT_INDENT_2, default=default) == expected


def test_runtime_built_keyword_names_are_accepted():
    # A mapping read at run time holds equal but non-interned names.
    name = "".join(["opt", "ion"])
    assert name == "option" and name is not "option"  # noqa: F632
    assert vellum.dumps([1], **{name: vellum.OPT_INDENT_2}) == b"[\n  1\n]"
    other = "".join(["def", "ault"])
    assert vellum.dumps(object(), **{other: lambda o: 7}) == b"7"


def test_explicit_none_default_is_no_default():
    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps(object(), default=None)
    assert str(info.value) == "Type is not JSON serializable: object"
    assert info.value.__cause__ is None


def test_option_constants_without_effect():
    data = {"a": [1, 2]}
    plain = vellum.dumps(data)
    assert vellum.dumps(data, option=vellum.OPT_SERIALIZE_DATACLASS | vellum.OPT_SERIALIZE_UUID) == plain


@pytest.mark.not_hostile  # the hostile mode wraps dumps
def test_signatures():
    assert vellum.dumps.__text_signature__ == "(obj, /, default=None, option=None)"
    assert str(inspect.signature(vellum.dumps)) == "(obj, /, default=None, option=None)"
    assert vellum.dumps.__module__ == "vellum"


def test_result_is_exact_bytes():
    out = vellum.dumps({"a": "b" * 5000})
    assert type(out) is bytes
    assert len(out) == 5008
    import sys

    assert sys.getsizeof(out) == sys.getsizeof(b"") + 5008
