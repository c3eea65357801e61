import inspect

import pytest

import vellum
from vellum import JSONEncodeError

MISSING = "dumps() missing 1 required positional argument: 'obj'"
UNEXPECTED = "dumps() got an unexpected keyword argument"
MULTIPLE_DEFAULT = "dumps() got multiple values for argument: 'default'"
MULTIPLE_OPTION = "dumps() got multiple values for argument: 'option'"
INVALID = "Invalid opts"


def message(call):
    with pytest.raises(JSONEncodeError) as info:
        call()
    assert info.value.__cause__ is None
    return str(info.value)


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


@pytest.mark.parametrize("option", [True, False, -1, 8192, 2**64, -(2**64), 1.0, "1", object()])
def test_invalid_options(option):
    assert message(lambda: vellum.dumps(1, option=option)) == INVALID
    assert message(lambda: vellum.dumps(1, None, option)) == INVALID


@pytest.mark.parametrize("option", [0, 8191, None, 1, 2048, 4096])
def test_valid_options(option):
    assert vellum.dumps([], option=option).startswith(b"[]")


def test_int_subclass_option_is_rejected():
    class Flags(int):
        pass

    assert message(lambda: vellum.dumps(1, option=Flags(1))) == INVALID


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


def test_signatures():
    assert vellum.dumps.__text_signature__ == "(obj, /, default=None, option=None)"
    assert str(inspect.signature(vellum.dumps)) == "(obj, /, default=None, option=None)"
    assert vellum.dumps.__module__ == "vellum"
    assert vellum.dumps.__doc__ == "Serialize Python objects to JSON."


def test_result_is_exact_bytes():
    out = vellum.dumps({"a": "b" * 5000})
    assert type(out) is bytes
    assert len(out) == 5008
    import sys

    assert sys.getsizeof(out) == sys.getsizeof(b"") + 5008
