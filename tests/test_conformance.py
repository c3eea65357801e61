"""The grammar's corners, each with its expected acceptance (and value) or
rejection (and message), and agreement with the standard json module
wherever both define the outcome.

Where the two differ on purpose a row says why: the json module accepts
NaN and Infinity, lone surrogate escapes, integers of any size, a byte-order
mark before bytes input and encoded surrogates (it decodes bytes with
surrogatepass); vellum does not, and reads integer literals beyond 64 bits
as floats."""

import json
import math

import pytest

import vellum

END = "unexpected end of data"
CHAR = "unexpected character"
AFTER = "unexpected content after document"
COMMA = "trailing comma is not allowed"
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


def same(a, b):
    # Values compared by type as well (1 is not 1.0), NaN equal to NaN.
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b) or (a != a and b != b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


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


# ---------------------------------------------------------------- structure

# Every structural character in every position of a document.
POSITIONS = {
    "root": "{}",
    "element": "[{}]",
    "after element": "[1{}]",
    "after comma": "[1,{}]",
    "key": "{{{}:1}}",
    "after key": '{{"a"{}1}}',
    "value": '{{"a":{}}}',
    "after value": '{{"a":1{}}}',
    "after document": "[]{}",
}
# Only these placements make a document; every other one is rejected.
ACCEPTED = {
    ("after key", ":"): {"a": 1},
}
# The message and position of each rejection.
REJECTED = {
    ("root", "["): (END, 1), ("root", "{"): (END, 1),
    ("element", "]"): (AFTER, 2), ("element", "["): (END, 3), ("element", "{"): (CHAR, 2),
    ("after element", ","): (COMMA, 2), ("after element", "]"): (AFTER, 3),
    ("after element", "["): (CHAR, 2), ("after element", "{"): (CHAR, 2),
    ("after comma", "]"): (COMMA, 2), ("after comma", "["): (END, 5), ("after comma", "{"): (CHAR, 4),
    ("key", "}"): (AFTER, 2),
    ("value", "["): (CHAR, 6), ("value", "{"): (END, 7),
    ("after value", ","): (COMMA, 6), ("after value", "}"): (AFTER, 7),
}
STRUCTURE = []
for position, template in POSITIONS.items():
    for char in "[]{},:":
        doc = template.format(char)
        if (position, char) in ACCEPTED:
            STRUCTURE.append(case(doc, ACCEPTED[position, char]))
        else:
            msg, pos = REJECTED.get((position, char), (None, None))
            if position == "after document":
                msg, pos = AFTER, 2
            elif msg is None:  # at the character itself
                msg, pos = CHAR, len(template.split("{}")[0].replace("{{", "{"))
            STRUCTURE.append(case(doc, Reject(msg, pos)))

STRUCTURE += [
    case("[]", []), case("{}", {}), case("[[],{},[{}]]", [[], {}, [{}]]),
    case('{"a":{"b":[1,{"c":[]}]}}', {"a": {"b": [1, {"c": []}]}}),
    case(" \t\n\r[ \t\n\r1 \t\n\r, \t\n\r2 \t\n\r] \t\n\r", [1, 2]),
    case('{"a" : 1 , "b" : 2}', {"a": 1, "b": 2}),
    case('{"a":1,"a":2}', {"a": 2}),  # the last duplicate wins
    case("", Reject("Input is a zero-length, empty document", 0)),
    case(" \t\n\r", Reject("input data is empty", 0)),
    case("[1,,2]", Reject(CHAR, 3)), case("[,]", Reject(CHAR, 1)), case("{,}", Reject(CHAR, 1)),
    case('{"a"}', Reject(CHAR, 4)), case('{"a":}', Reject(CHAR, 5)), case('{"a":1 "b":2}', Reject(CHAR, 7)),
    case("{'a':1}", Reject(CHAR, 1)), case("['a']", Reject(CHAR, 1)),
    case("[1]/*c*/", Reject(AFTER, 3)), case("//c\n[1]", Reject(CHAR, 0)),
    case("[1] [2]", Reject(AFTER, 4)),
]

# Other whitespace is no whitespace.
WHITESPACE = [case(f"{ws}1", Reject(CHAR, 0)) for ws in ["\x0b", "\x0c", "\xa0", "\u2028", "\u3000"]]

LITERALS = [
    case("true", True), case("false", False), case("null", None), case("[true,false,null]", [True, False, None]),
    case("True", Reject(CHAR, 0)), case("nul", Reject(END, 3)), case("trux", Reject("invalid literal", 0)),
    case("truex", Reject(AFTER, 4)), case("[truex]", Reject(CHAR, 5)), case("tru e", Reject("invalid literal", 0)),
    case("NaN", Reject(CHAR, 0), "accepts NaN"), case("Infinity", Reject(CHAR, 0), "accepts Infinity"),
    case("-Infinity", Reject("no digit after minus sign", 1), "accepts -Infinity"),
    case("[NaN]", Reject(CHAR, 1), "accepts NaN"), case("undefined", Reject(CHAR, 0)),
]

# ---------------------------------------------------------------- numbers

INF = "number is infinity when parsed as double"
NUMBERS = [
    case("0", 0), case("-0", 0), case("-0.0", -0.0), case("0e0", 0.0), case("-0e5", -0.0), case("0.000", 0.0),
    case("1", 1), case("-1", -1), case("1.5", 1.5), case("1e2", 100.0), case("1E2", 100.0),
    case("1e+2", 100.0), case("1e-2", 0.01), case("1.25E-1", 0.125), case("10.5", 10.5),
    case("9223372036854775807", 9223372036854775807), case("-9223372036854775808", -9223372036854775808),
    case("18446744073709551615", 18446744073709551615),
    case("-9223372036854775809", -9223372036854775809.0, "reads every integer"),
    case("18446744073709551616", 18446744073709551616.0, "reads every integer"),
    case("123456789012345678901234567890", 1.2345678901234568e29, "reads every integer"),
    case("9007199254740993", 9007199254740993),
    case("9007199254740993.0", 9007199254740992.0), case("9007199254740995.0", 9007199254740996.0),
    case("1.7976931348623157e308", 1.7976931348623157e308), case("-1.7976931348623157e308", -1.7976931348623157e308),
    case("1e308", 1e308), case("1e309", Reject(INF, 0), "gives inf"), case("-1e309", Reject(INF, 0), "gives -inf"),
    case("[1.7976931348623159e308]", Reject(INF, 1), "gives inf"),
    case("1e99999999999999999999", Reject(INF, 0), "gives inf"),
    case("4.9e-324", 5e-324), case("2.2250738585072014e-308", 2.2250738585072014e-308),
    case("2.4703282292062327e-324", 0.0), case("2.4703282292062328e-324", 5e-324),
    case("1e-400", 0.0), case("-1e-400", -0.0), case("1e-99999999999999999999", 0.0),
    case("1e0000000000000000000001", 10.0), case("0.1", 0.1), case("0.30000000000000004", 0.30000000000000004),
    case("3.141592653589793238462643383279502884197169399375105820974944", 3.141592653589793),
    case("1" + "0" * 400 + "e-400", 1.0),
    case("01", Reject("number with leading zero is not allowed", 0)), case("00", Reject("number with leading zero is not allowed", 0)),
    case("-01", Reject("number with leading zero is not allowed", 1)),
    case("-", Reject(END, 1)), case("-a", Reject("no digit after minus sign", 1)),
    case("+1", Reject(CHAR, 0)), case(".5", Reject(CHAR, 0)), case("-.5", Reject("no digit after minus sign", 1)),
    case("1.", Reject(END, 2)), case("[1.]", Reject("no digit after decimal point", 3)),
    case("1.e5", Reject("no digit after decimal point", 2)), case("1e", Reject(END, 2)), case("1e+", Reject(END, 3)),
    case("1e+x", Reject("no digit after exponent sign", 3)), case("[1e]", Reject("no digit after exponent sign", 3)),
    case("0x10", Reject(AFTER, 1)), case("1_000", Reject(AFTER, 1)), case("[1.5x]", Reject(CHAR, 4)),
    case("1.0.0", Reject(AFTER, 3)), case("--1", Reject("no digit after minus sign", 1)),
]

# ---------------------------------------------------------------- strings

SIMPLE_ESCAPES = {'"': '"', "\\": "\\", "/": "/", "b": "\b", "f": "\f", "n": "\n", "r": "\r", "t": "\t"}
STRINGS = [case(f'"\\{e}"', v) for e, v in SIMPLE_ESCAPES.items()]
STRINGS += [
    case(f'"\\{chr(c)}"', Reject("invalid escaped character in string", 2))
    for c in range(0x20, 0x7F)
    if chr(c) not in SIMPLE_ESCAPES and chr(c) != "u"
]
STRINGS += [
    case('"\\u0041"', "A"), case('"\\u00e9"', "é"), case('"\\u00E9"', "é"), case('"\\u20ac"', "€"),
    case('"\\uffff"', "\uffff"), case('"\\ud83d\\ude00"', "😀"), case('"\\udbff\\udfff"', "\U0010ffff"),
    case('"\\u0000"', "\x00"), case('"a\\u0000b"', "a\x00b"), case('"\\u001f"', "\x1f"),
    case('"é\\n€"', "é\n€"), case('"\\"\\\\\\/"', '"\\/'),
    case('"\\U0041"', Reject("invalid escaped character in string", 2)),
    case('"\\u12G4"', Reject("invalid escaped sequence in string", 1)),
    case('"\\u12"', Reject("invalid escaped sequence in string", 1)),
    case('"\\u12', Reject(END, 5)), case('"\\', Reject(END, 2)), case('"abc', Reject(END, 4)),
    case('"\\ud83d"', Reject("no low surrogate in string", 7), "accepts a lone surrogate"),
    case('"\\ude00"', Reject("invalid high surrogate in string", 1), "accepts a lone surrogate"),
    case('"\\ud83d\\u0041"', Reject("invalid low surrogate in string", 7), "accepts a lone surrogate"),
    case('"\\ud83dx"', Reject("no low surrogate in string", 7), "accepts a lone surrogate"),
    case('"\\ud83d\\ud83d"', Reject("invalid low surrogate in string", 7), "accepts a lone surrogate"),
    case('"\x7f"', "\x7f"), case('""', ""), case('{"":""}', {"": ""}),
]
# Every raw control character inside a string.
STRINGS += [case(f'"a{chr(c)}b"', Reject("unexpected control character in string", 2)) for c in range(0x20)]

# ---------------------------------------------------------------- bytes

VALID_UTF8 = [
    "\x7f", "\x80", "\u07ff", "\u0800", "\ud7ff", "\ue000", "\uffff", "\U00010000", "\U0010ffff",
]
BYTES = [case(f'"{c}"'.encode(), c) for c in VALID_UTF8]
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
    BYTES += [
        pytest.param(b'"' + seq + b'"', Reject(UTF8, 0), None, id=f"{name} in a string"),
        pytest.param(b"[1," + seq + b"]", Reject(UTF8, 0), None, id=f"{name} between values"),
        pytest.param(b'["x"]' + seq, Reject(UTF8, 0), None, id=f"{name} at the end"),
    ]
for name, seq in {"surrogate ed a0 80": b"\xed\xa0\x80", "surrogate ed bf bf": b"\xed\xbf\xbf"}.items():
    BYTES.append(pytest.param(b'"' + seq + b'"', Reject(UTF8, 0), "decodes with surrogatepass", id=name))
BYTES += [
    case(b"\xef\xbb\xbf[]", Reject(CHAR, 0), "skips a byte-order mark before bytes"),
    case("\ufeff[]", Reject(CHAR, 0)),
    case(b"[\x00]", Reject(CHAR, 1)), case(b"\x00", Reject(CHAR, 0)),
    case(b"1\x00", Reject(AFTER, 1), "takes a NUL in the first bytes for UTF-16"),
    case(b'"\x00"', Reject("unexpected control character in string", 1)),
    case(b'"a\x00b"', Reject("unexpected control character in string", 2)),
]


@pytest.mark.parametrize("doc,expected,json_differs", STRUCTURE + WHITESPACE + LITERALS)
def test_structure(doc, expected, json_differs):
    check(doc, expected, json_differs)


@pytest.mark.parametrize("doc,expected,json_differs", NUMBERS)
def test_numbers(doc, expected, json_differs):
    check(doc, expected, json_differs)


@pytest.mark.parametrize("doc,expected,json_differs", STRINGS)
def test_strings(doc, expected, json_differs):
    check(doc, expected, json_differs)
    if isinstance(doc, str):  # the same text as bytes
        check(doc.encode("utf-8", "surrogatepass"), expected, json_differs)


@pytest.mark.parametrize("doc,expected,json_differs", BYTES)
def test_bytes(doc, expected, json_differs):
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
    with pytest.raises(vellum.JSONDecodeError) as info:
        vellum.loads(text)
    assert (info.value.msg, info.value.pos) == (DEPTH, openings[1024] + 1)
    # Cut short right after the bracket past the limit: the failure is at
    # the end of the input, which makes it the end of data.
    with pytest.raises(vellum.JSONDecodeError) as info:
        vellum.loads(text[: openings[1024] + 1])
    assert (info.value.msg, info.value.pos) == (END, openings[1024] + 1)


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
