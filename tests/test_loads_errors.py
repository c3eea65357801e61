import pytest

import vellum

from support import decode_error

END = "unexpected end of data"
CHAR = "unexpected character"

# Each failure the reader reports, as loads raises it: its position counted
# in characters (non-ASCII text comes first), for str and bytes input. The
# grammar's rows, with positions in bytes, are the reader's
# (tests/cpp/reader_grammar.hpp).
CASES = [
    ("   ", "input data is empty", 0),
    ('["é', END, 3),
    ('["é", [', END, 7),
    ('["é", tru', END, 9),
    ('["é", trux]', "invalid literal", 6),
    ('["é",]', "trailing comma is not allowed", 4),
    ('{"é":1,}', "trailing comma is not allowed", 6),
    ('["é" 1]', CHAR, 5),
    ('"é" 1', "unexpected content after document", 4),
    ('["é", 01]', "number with leading zero is not allowed", 6),
    ('["é", -a]', "no digit after minus sign", 7),
    ('["é", 1.e5]', "no digit after decimal point", 8),
    ('["é", 1e+x]', "no digit after exponent sign", 9),
    ('["é", -1e309]', "number is infinity when parsed as double", 6),
    ('["é\\ud83d"]', "no low surrogate in string", 9),
    ('["é\\ude00"]', "invalid high surrogate in string", 3),
    ('["é\\ud83d\\u0041"]', "invalid low surrogate in string", 9),
    ('["é\\x"]', "invalid escaped character in string", 4),
    ('["é\\u12G4"]', "invalid escaped sequence in string", 3),
    ('["é\\tb\\u0009a\tb"]', "unexpected control character in string", 13),
    ('["\\u20ac€\\', END, 10),
]


@pytest.mark.parametrize("text,message,pos", CASES)
@pytest.mark.parametrize("kind", [bytes, str])
def test_failures_with_character_positions(text, message, pos, kind):
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
