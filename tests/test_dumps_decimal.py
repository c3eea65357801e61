"""decimal.Decimal under OPT_DECIMAL: its exact digits as values and keys,
what is not finite, subclasses, and what stays as it was without the
option."""

import json
import sys
from decimal import Decimal, localcontext

import pytest

import vellum

from support import encode_error

DEC = vellum.OPT_DECIMAL
KEYS = vellum.OPT_NON_STR_KEYS

# Decimal's own text for every form of exponent and sign: each is a JSON
# number that reads back as the same digits.
FINITE = [
    ("0", "0"),
    ("-0", "-0"),
    ("0.0", "0.0"),
    ("-0.000", "-0.000"),
    ("1.50", "1.50"),
    ("-12345.6789", "-12345.6789"),
    ("0.000001", "0.000001"),
    ("1E-7", "1E-7"),
    ("0E-7", "0E-7"),
    ("-0E+3", "-0E+3"),
    ("1E+3", "1E+3"),
    ("1.23E+5", "1.23E+5"),
    ("12300", "12300"),
    ("1e999999999", "1E+999999999"),
    ("-1e-999999999", "-1E-999999999"),
    ("0.1", "0.1"),
    ("3.141592653589793238462643383279502884197169399375105820974944592307816406286", None),
    ("123456789012345678901234567890", "123456789012345678901234567890"),
    ("-9" * 1 + "9" * 200 + ".5", None),
]


@pytest.mark.parametrize("text,expected", FINITE, ids=[t[:20] for t, _ in FINITE])
def test_exact_digits(text, expected):
    value = Decimal(text)
    expected = expected or text
    assert vellum.dumps(value, option=DEC) == expected.encode()
    assert vellum.dumps([value, value], option=DEC | vellum.OPT_INDENT_2) == f"[\n  {expected},\n  {expected}\n]".encode()
    # Read back as the same digits and exponent (an integral one as the int it writes).
    for back in (json.loads(vellum.dumps(value, option=DEC), parse_float=Decimal),
                 vellum.loads(vellum.dumps(value, option=DEC), parse_float=Decimal)):
        if isinstance(back, Decimal):
            assert back.as_tuple() == value.as_tuple()
        else:
            assert type(back) is int and back == value


def test_digits_beyond_the_context_precision():
    with localcontext() as context:
        context.prec = 3
        value = Decimal("1.23456789")  # construction keeps every digit
        assert vellum.dumps(value, option=DEC) == b"1.23456789"


@pytest.mark.parametrize("text", ["NaN", "-NaN", "sNaN", "-sNaN", "NaN123", "Infinity", "-Infinity"])
def test_not_finite_is_null_like_a_float(text):
    value = Decimal(text)
    assert vellum.dumps([value, float("nan")], option=DEC) == b"[null,null]"
    if not value.is_snan():  # which cannot be hashed
        assert vellum.dumps({value: 1}, option=DEC | KEYS) == b'{"null":1}'


def test_without_the_option_goes_to_default():
    value = Decimal("1.5")
    assert vellum.dumps(value, default=str) == b'"1.5"'
    err = encode_error(value)
    assert str(err) == "Type is not JSON serializable: decimal.Decimal"
    assert err.__cause__ is None
    assert str(encode_error({value: 1}, option=KEYS)) == "Dict key must a type serializable with OPT_NON_STR_KEYS"
    # Other options do not bring it in.
    assert vellum.dumps(value, default=str, option=vellum.OPT_SERIALIZE_NUMPY | KEYS) == b'"1.5"'


class Money(Decimal):
    def __str__(self):
        return "not a number"


def test_subclass_written_with_decimal_text_unless_passed_through():
    value = Money("-2.50")
    assert vellum.dumps([value], option=DEC) == b"[-2.50]"
    assert vellum.dumps({value: value}, option=DEC | KEYS) == b'{"-2.50":-2.50}'
    calls = []

    def default(obj):
        calls.append(obj)
        return "from default"

    option = DEC | vellum.OPT_PASSTHROUGH_SUBCLASS
    assert vellum.dumps(value, default=default, option=option) == b'"from default"'
    assert calls == [value]
    # A key is what it is, whatever the passthrough options.
    assert vellum.dumps({value: 1}, option=option | KEYS) == b'{"-2.50":1}'
    assert str(encode_error(value, option=vellum.OPT_PASSTHROUGH_SUBCLASS)) == \
        "Type is not JSON serializable: Money"


def test_keys_of_any_length_sorted_with_the_others():
    long = Decimal("7" * 300 + ".25")
    document = {long: "long", Decimal("1E+2"): "exp", Decimal("-0.5"): "neg", "b": "str", 3: "int"}
    out = vellum.dumps(document, option=DEC | KEYS | vellum.OPT_SORT_KEYS)
    assert out == ('{"-0.5":"neg","1E+2":"exp","3":"int","' + "7" * 300 + '.25":"long","b":"str"}').encode()


def test_inside_containers_and_beside_other_numbers():
    document = {"price": Decimal("19.99"), "rows": [(Decimal("1"), 1, 1.0), [Decimal("-1E-3")]]}
    assert vellum.dumps(document, option=DEC) == b'{"price":19.99,"rows":[[1,1,1.0],[-0.001]]}'


def test_many_decimals():
    values = [Decimal(i).scaleb(-(i % 9)) for i in range(-2000, 2000)]
    out = vellum.dumps(values, option=DEC)
    assert out == ("[" + ",".join(map(str, values)) + "]").encode()


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread may hold references a while
def test_references():
    value = Decimal("1.25")
    key = Decimal("2.5")
    before = sys.getrefcount(value), sys.getrefcount(key)
    for _ in range(100):
        vellum.dumps([value, {key: value}], option=DEC | KEYS)
        vellum.dumps([value], default=str)
    assert (sys.getrefcount(value), sys.getrefcount(key)) == before


def test_default_returning_a_decimal():
    class Price:
        pass

    assert vellum.dumps(Price(), default=lambda _: Decimal("0.10"), option=DEC) == b"0.10"
