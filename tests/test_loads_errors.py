import pytest

import vellum
from vellum import JSONDecodeError

END = "unexpected end of data"
CHAR = "unexpected character"


def decode_error(obj):
    with pytest.raises(JSONDecodeError) as info:
        vellum.loads(obj)
    return info.value


CASES = [
    # structure
    ("   ", "input data is empty", 0),
    ("[", END, 1),
    ("[tru", END, 4),
    ("nul", END, 3),
    ("trux", "invalid literal", 0),
    ("[1,]", "trailing comma is not allowed", 2),
    ('{"a":1,}', "trailing comma is not allowed", 6),
    ("[1 , ]", "trailing comma is not allowed", 3),
    ("[1 2]", CHAR, 3),
    ("{1:2}", CHAR, 1),
    ('{"a" 1}', CHAR, 5),
    ("[}", CHAR, 1),
    ('{"a":]', CHAR, 5),
    ("1 2", "unexpected content after document", 2),
    ("[1]x", "unexpected content after document", 3),
    ("truex", "unexpected content after document", 4),
    ("\ufeff[]", CHAR, 0),
    ("/", CHAR, 0),
    ("[\x00]", CHAR, 1),
    ("1\x00", "unexpected content after document", 1),
    ("[1.5x]", CHAR, 4),
    # numbers
    ("01", "number with leading zero is not allowed", 0),
    ("-01", "number with leading zero is not allowed", 1),
    ("-", END, 1),
    ("-a", "no digit after minus sign", 1),
    ("+1", CHAR, 0),
    (".5", CHAR, 0),
    ("-.5", "no digit after minus sign", 1),
    ("1.", END, 2),
    ("1.e5", "no digit after decimal point", 2),
    ("1e", END, 2),
    ("1e+", END, 3),
    ("1e+x", "no digit after exponent sign", 3),
    ("1e309", "number is infinity when parsed as double", 0),
    ("[-1e309]", "number is infinity when parsed as double", 1),
    ("1e99999999999999999999", "number is infinity when parsed as double", 0),
    # strings
    ('"\\ud83d"', "no low surrogate in string", 7),
    ('"\\ude00"', "invalid high surrogate in string", 1),
    ('"\\ud83d\\u0041"', "invalid low surrogate in string", 7),
    ('"\\x"', "invalid escaped character in string", 2),
    ('"\\u12G4"', "invalid escaped sequence in string", 1),
    ('"a\tb"', "unexpected control character in string", 2),
    ('"abc', END, 4),
    ('"\\u12', END, 5),
    ('"\\', END, 2),
    ('"\\ud83d\\', END, 8),
]


@pytest.mark.parametrize("text,message,pos", CASES)
@pytest.mark.parametrize("kind", [bytes, str])
def test_error_table(text, message, pos, kind):
    err = decode_error(text.encode() if kind is bytes else text)
    assert (err.msg, err.pos) == (message, pos)
    assert err.doc == text


def test_depth_limit():
    assert vellum.loads("[" * 1024 + "]" * 1024) is not None
    err = decode_error("[" * 1025 + "]" * 1025)
    assert (err.msg, err.pos) == ("array and object recursion depth exceeded", 1025)
    err = decode_error("[" * 1025)
    assert (err.msg, err.pos) == (END, 1025)
    err = decode_error('{"a":' * 1025)
    assert (err.msg, err.pos) == ("array and object recursion depth exceeded", 5 * 1024 + 1)


def test_positions_count_characters():
    err = decode_error('["é", x]'.encode())
    assert (err.pos, err.colno) == (6, 7)
    err = decode_error('["\U0001f600€", x]')
    assert err.pos == 7


def test_line_and_column():
    text = '{\n  "a": 1,\n  "é": [1 2]\n}'
    err = decode_error(text.encode())
    assert (err.lineno, err.colno, err.pos) == (3, 11, text.index("2]"))
    assert err.msg == CHAR
    assert str(err) == f"{CHAR}: line 3 column 11 (char {err.pos})"


def test_truncated_input_reports_its_length():
    for text in ['{"a": [1, 2', '["é', '{"key', "[1.5e"]:
        err = decode_error(text)
        assert (err.msg, err.pos) == (END, len(text))


def test_doc_for_str_input_is_equal_not_identical():
    text = "[1, 2" + "x" * 10
    err = decode_error(text)
    assert err.doc == text
    assert err.doc is not text


def test_surrogate_str_error_replaces_encoder_error():
    err = decode_error('["\ud800"]')
    assert err.msg == "str is not valid UTF-8: surrogates not allowed"
    assert err.__cause__ is None


def test_error_is_value_error_and_json_error():
    import json

    with pytest.raises(json.JSONDecodeError):
        vellum.loads("[")
    with pytest.raises(ValueError):
        vellum.loads("[")
