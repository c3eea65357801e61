"""What loads adds to the reader's grammar, each row with its expected
value or rejection, and agreement with the standard json module wherever
both define the outcome: the int/float boundary, the sign of zero, the UTF-8
of bytes input and of the str it builds, and nesting as deep as the reader
allows. The grammar's own accept/reject rows are the reader's
(tests/cpp/reader_grammar.hpp); values of numbers and strings are the
number and string tests'.

Where the two differ on purpose a row says why: the json module reads
integers of any size and decodes bytes with surrogatepass; vellum reads
integer literals beyond 64 bits as floats and refuses encoded surrogates."""

import json
import math

import pytest

import vellum

from support import decode_error, same

END = "unexpected end of data"
UTF8 = "str is not valid UTF-8: surrogates not allowed"


class Reject:
    def __init__(self, msg=None, pos=None):
        self.msg, self.pos = msg, pos

    def __repr__(self):
        return f"Reject({self.msg!r}, {self.pos!r})"


def case(doc, expected, json_differs=None):
    return pytest.param(doc, expected, json_differs, id=repr(doc)[:60])


def vellum_outcome(doc):
    try:
        return vellum.loads(doc)
    except vellum.JSONDecodeError as exc:
        return Reject(exc.msg, exc.pos)


def json_outcome(doc):
    try:
        return json.loads(doc)
    except (ValueError, RecursionError) as exc:  # JSONDecodeError, UnicodeDecodeError
        return Reject(type(exc).__name__)


def check(doc, expected, json_differs):
    got = vellum_outcome(doc)
    if isinstance(expected, Reject):
        assert isinstance(got, Reject), f"accepted: {got!r}"
        if expected.msg is not None:
            assert got.msg == expected.msg
        if expected.pos is not None:
            assert got.pos == expected.pos
    else:
        assert same(got, expected), f"{got!r} != {expected!r}"
    oracle = json_outcome(doc)
    agrees = isinstance(oracle, Reject) == isinstance(got, Reject) and (
        isinstance(got, Reject) or same(got, oracle)
    )
    if json_differs is None:
        assert agrees, f"json module: {oracle!r}"
    else:
        assert not agrees, f"no longer differs from the json module ({json_differs})"


# ---------------------------------------------------------------- numbers

# Integer literals are ints while they fit 64 bits (signed or not), floats
# beyond; anything with a fraction or an exponent is a float.
INT_FLOAT = [
    case("0", 0), case("-1", -1), case("9223372036854775807", 9223372036854775807),
    case("-9223372036854775808", -9223372036854775808), case("18446744073709551615", 18446744073709551615),
    case("9007199254740993", 9007199254740993), case("9007199254740993.0", 9007199254740992.0),
    case("-9223372036854775809", -9223372036854775809.0, "reads every integer"),
    case("18446744073709551616", 18446744073709551616.0, "reads every integer"),
    case("-18446744073709551615", -18446744073709551615.0, "reads every integer"),
    case("123456789012345678901234567890", 1.2345678901234568e29, "reads every integer"),
    case("1.0", 1.0), case("1e0", 1.0), case("1E2", 100.0), case("10.5", 10.5),
]
# Zero keeps its sign in a float; an integer zero has none.
SIGNED_ZERO = [
    case("-0", 0), case("0e0", 0.0), case("0.000", 0.0), case("-0.0", -0.0), case("-0e5", -0.0),
    case("1e-400", 0.0), case("-1e-400", -0.0), case("-1e-99999999999999999999", -0.0),
]

# ---------------------------------------------------------------- input

VALID_UTF8 = [
    "\x7f", "\x80", "\u07ff", "\u0800", "\ud7ff", "\ue000", "\uffff", "\U00010000", "\U0010ffff",
]
INPUT = [case(f'"{c}"'.encode(), c) for c in VALID_UTF8]
INPUT += [case(f'"{c}"', c) for c in VALID_UTF8]
INVALID_UTF8 = {
    "lone continuation 80": b"\x80", "lone continuation bf": b"\xbf",
    "overlong 2-byte c0 80": b"\xc0\x80", "overlong 2-byte c1 bf": b"\xc1\xbf",
    "overlong 3-byte e0 80 80": b"\xe0\x80\x80", "overlong 3-byte e0 9f bf": b"\xe0\x9f\xbf",
    "overlong 4-byte f0 80 80 80": b"\xf0\x80\x80\x80", "overlong 4-byte f0 8f bf bf": b"\xf0\x8f\xbf\xbf",
    "above U+10FFFF f4 90 80 80": b"\xf4\x90\x80\x80", "lead f5": b"\xf5\x80\x80\x80", "lead fe": b"\xfe",
    "lead ff": b"\xff", "truncated 2-byte": b"\xc3", "truncated 3-byte": b"\xe2\x82", "truncated 4-byte": b"\xf0\x9f\x98",
    "truncated before ASCII": b"\xc3A", "continuation missing in 4-byte": b"\xf0\x9f\x98A",
}
for name, seq in INVALID_UTF8.items():
    INPUT += [
        pytest.param(b'"' + seq + b'"', Reject(UTF8, 1), None, id=f"{name} in a string"),
        pytest.param(b"[1," + seq + b"]", Reject(UTF8, 3), None, id=f"{name} between values"),
        pytest.param(b'["x"]' + seq, Reject(UTF8, 5), None, id=f"{name} at the end"),
    ]
for name, seq in {"surrogate ed a0 80": b"\xed\xa0\x80", "surrogate ed bf bf": b"\xed\xbf\xbf"}.items():
    INPUT.append(pytest.param(b'"' + seq + b'"', Reject(UTF8, 1), "decodes with surrogatepass", id=name))


@pytest.mark.parametrize("doc,expected,json_differs", INT_FLOAT + SIGNED_ZERO)
def test_numbers(doc, expected, json_differs):
    check(doc, expected, json_differs)
    check(doc.encode(), expected, json_differs)


@pytest.mark.parametrize("doc,expected,json_differs", INPUT)
def test_input(doc, expected, json_differs):
    check(doc, expected, json_differs)


# ---------------------------------------------------------------- nesting

DEPTH = "array and object recursion depth exceeded"


@pytest.mark.parametrize("opener", ["[", '{"a":', '[{"a":'], ids=["arrays", "objects", "alternating"])
def test_nesting_at_and_past_the_limit(opener):
    # Containers of depth 0 to 1023 are read; the json module stops earlier,
    # at its recursion limit, which is no outcome of the grammar.
    def document(containers):
        if opener == "[":
            parts = ["["] * containers
        elif opener == '{"a":':
            parts = ['{"a":'] * containers
        else:
            parts = ["[" if i % 2 == 0 else '{"a":' for i in range(containers)]
        text = "".join(parts) + "1" + "".join("]" if p == "[" else "}" for p in reversed(parts))
        return text, [i for i, c in enumerate(text) if c in "[{"]

    text, _ = document(1024)
    value, depth = vellum.loads(text), 0
    while isinstance(value, (list, dict)):
        value, depth = (value[0] if isinstance(value, list) else value["a"]), depth + 1
    assert (value, depth) == (1, 1024)

    text, openings = document(1025)
    err = decode_error(text)
    assert (err.msg, err.pos) == (DEPTH, openings[1024] + 1)
    # Cut short right after the bracket past the limit: the failure is at
    # the end of the input, which makes it the end of data.
    err = decode_error(text[: openings[1024] + 1])
    assert (err.msg, err.pos) == (END, openings[1024] + 1)


# ---------------------------------------------------------------- dumps

@pytest.mark.parametrize(
    "value",
    [0, -1, 2**63 - 1, -(2**63), 2**64 - 1, 0.0, -0.0, 1.5, 1e308, 5e-324, 2.2250738585072014e-308, 0.1,
     1e16, 123456789.123, -1.7976931348623157e308, "", "é€𝄞", "\x00\x1f\x7f", '"\\/', "\u2028\u2029",
     True, False, None, [], {}, [[[]]], {"a": {"b": [1, "c"]}}],
)
def test_dumps_agrees_with_json(value):
    assert vellum.dumps(value) == json.dumps(value, ensure_ascii=False, separators=(",", ":")).encode()
    assert same(vellum.loads(vellum.dumps(value)), json.loads(json.dumps(value)))


@pytest.mark.parametrize("value", [1e-7, 1.5e-10, 1e21, 1e22, 5e-324, 0.1 + 0.2])
def test_dumps_float_forms_read_back(value):
    # Exponents are written without the leading zero that repr() adds.
    text = vellum.dumps(value)
    assert float(text) == value
    assert json.loads(text) == value


@pytest.mark.parametrize("value", [2**64, -(2**63) - 1, 10**30])
def test_dumps_integers_past_64_bits_are_refused(value):
    # The json module writes them; vellum's range is 64 bits.
    with pytest.raises(vellum.JSONEncodeError, match="Integer exceeds 64-bit range"):
        vellum.dumps(value)


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf])
def test_dumps_non_finite_floats_are_null(value):
    # The json module writes NaN and Infinity, which are no JSON.
    assert vellum.dumps([value]) == b"[null]"


def test_dumps_escapes_every_ascii_character_as_json_does():
    text = "".join(map(chr, range(128)))
    assert vellum.dumps(text) == json.dumps(text, ensure_ascii=False).encode()
