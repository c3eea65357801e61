import math
import random
import struct

import pytest

import vellum
from vellum import JSONEncodeError

STRICT = vellum.OPT_STRICT_INTEGER


@pytest.mark.parametrize(
    "value",
    [0, 1, -1, 9, 10, 99, 100, 2**30 - 1, 2**30, -(2**30), 2**31, 2**32 - 1, 2**32, 10**15, 2**53, 2**60 - 1,
     2**60, -(2**60), 2**63 - 1, 2**63, -(2**63), 2**64 - 1, 10**19, -(10**18)],
)
def test_integers_exact(value):
    assert vellum.dumps(value) == str(value).encode()
    assert vellum.dumps([value]) == f"[{value}]".encode()


@pytest.mark.parametrize("value", [2**64, -(2**63) - 1, 2**90, -(2**200), 10**100])
def test_integers_beyond_64_bits(value):
    with pytest.raises(JSONEncodeError, match="^Integer exceeds 64-bit range$"):
        vellum.dumps(value)
    with pytest.raises(JSONEncodeError, match="^Integer exceeds 64-bit range$"):
        vellum.dumps(value, option=STRICT)


def test_strict_integer_range():
    for value in (2**53 - 1, -(2**53 - 1), 0, 2**30):
        assert vellum.dumps(value, option=STRICT) == str(value).encode()
    for value in (2**53, -(2**53), 2**63):
        with pytest.raises(JSONEncodeError, match="^Integer exceeds 53-bit range$"):
            vellum.dumps(value, option=STRICT)


def test_random_integers():
    rng = random.Random(5)
    values = [rng.randrange(-(2**63), 2**64) >> rng.randrange(64) for _ in range(20000)]
    assert vellum.dumps(values) == ("[" + ",".join(map(str, values)) + "]").encode()


def test_int_subclass_value_read_directly():
    class Weird(int):
        def __int__(self):
            return 5

        def __index__(self):
            return 5

        def __repr__(self):
            return "5"

    assert vellum.dumps(Weird(7)) == b"7"


@pytest.mark.parametrize(
    "value,text",
    [
        (0.0, "0.0"), (-0.0, "-0.0"), (1.0, "1.0"), (0.1, "0.1"), (1 / 3, "0.3333333333333333"),
        (1e-05, "0.00001"), (1e-06, "1e-6"), (2.5e-05, "0.000025"), (1e15, "1000000000000000.0"),
        (1e16, "1e+16"), (1.5e16, "1.5e+16"), (100.0, "100.0"), (123.456, "123.456"),
        (5e-324, "5e-324"), (1.7976931348623157e308, "1.7976931348623157e+308"), (-1.5, "-1.5"),
        (2.2250738585072014e-308, "2.2250738585072014e-308"), (9007199254740993.0, "9007199254740992.0"),
    ],
)
def test_float_text(value, text):
    assert vellum.dumps(value) == text.encode()


def expected_float_text(value):
    # repr's digits in this library's layout.
    if value == 0:
        return "-0.0" if math.copysign(1, value) < 0 else "0.0"
    sign = "-" if value < 0 else ""
    mantissa, exponent = f"{abs(value):.17e}".split("e")
    digits_repr = repr(abs(value))
    # shortest digits from repr
    if "e" in digits_repr:
        m, e = digits_repr.split("e")
        exp = int(e)
        digits = m.replace(".", "")
    else:
        whole, frac = digits_repr.split(".")
        digits = (whole + frac).lstrip("0")
        exp = len(whole) - 1 if whole != "0" else -(len(frac) - len(frac.lstrip("0")) + 1)
    digits = digits.rstrip("0") or "0"
    k = len(digits)
    if -5 <= exp <= 15:
        if exp < 0:
            return sign + "0." + "0" * (-exp - 1) + digits
        if exp < k - 1:
            return sign + digits[: exp + 1] + "." + digits[exp + 1 :]
        return sign + digits + "0" * (exp - k + 1) + ".0"
    body = digits[0] + ("." + digits[1:] if k > 1 else "")
    return f"{sign}{body}e{'-' if exp < 0 else '+'}{abs(exp)}"


def test_random_doubles_match_repr_and_read_back():
    rng = random.Random(11)
    values = []
    while len(values) < 20000:
        value = struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]
        if math.isfinite(value):
            values.append(value)
    values += [10.0**e for e in range(-320, 309)] + [2.0**e for e in range(-1074, 1024)]
    for value in values:
        text = vellum.dumps(value).decode()
        assert text == expected_float_text(value), value
        assert float(text) == value
