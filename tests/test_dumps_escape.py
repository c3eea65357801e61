import json

import pytest

import vellum


@pytest.mark.parametrize(
    "text,expected",
    [
        ("", b'""'),
        ('a"b\\c', b'"a\\"b\\\\c"'),
        ("/", b'"/"'),
        ("\x1f\x0b\x7f", b'"\\u001f\\u000b\x7f"'),
        ("\b\t\n\f\r", b'"\\b\\t\\n\\f\\r"'),
        ("é\u2028\u2029", '"é\u2028\u2029"'.encode()),
        ("\U0001f600", '"\U0001f600"'.encode()),
    ],
)
def test_escapes(text, expected):
    assert vellum.dumps(text) == expected
    assert vellum.dumps({text: text}) == b"{" + expected + b":" + expected + b"}"


def test_every_control_character():
    for code in range(0x20):
        expected = json.dumps(chr(code)).encode()
        assert vellum.dumps(chr(code)) == expected


@pytest.mark.parametrize("length", [0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 300])
@pytest.mark.parametrize("special", ['"', "\\", "\x00", "\x1f", "é", "€", "\U0001f600"])
def test_escape_positions(length, special):
    for pos in {0, length // 2, max(length - 1, 0), 15, 16, 31, 32}:
        if pos > length:
            continue
        text = "a" * pos + special + "b" * (length - pos)
        assert json.loads(vellum.dumps(text)) == text
        assert vellum.dumps(text) == json.dumps(text, ensure_ascii=False).encode()


def test_worst_case_strings():
    text = "\x01" * 5000
    assert vellum.dumps(text) == b'"' + b"\\u0001" * 5000 + b'"'
    assert json.loads(vellum.dumps([text] * 3)) == [text] * 3


@pytest.mark.parametrize(
    "text",
    ["ascii only", "latin-1 é", "bmp €", "astral \U0001f600", "mixed é€\U0001f600\n"],
)
def test_cached_and_uncached_utf8(text):
    fresh = "".join(list(text))
    assert vellum.dumps(fresh) == json.dumps(text, ensure_ascii=False).encode()
    fresh.encode()  # unchanged text after the interpreter's own encoder ran
    assert vellum.dumps(fresh) == json.dumps(text, ensure_ascii=False).encode()


# Texts longer than one escaping piece (64 KiB) are escaped a piece at a
# time: escapes at, just before and just after every piece boundary, and
# texts ending on one.
PIECE = 64 * 1024


@pytest.mark.parametrize("length", [PIECE - 1, PIECE, PIECE + 1, 2 * PIECE, 2 * PIECE + 1, 3 * PIECE + 5])
@pytest.mark.parametrize("special", ['"', "\\", "\n", "\x01", "é", "\U0001f600"])
def test_long_texts_across_piece_boundaries(length, special):
    for at in sorted({0, 1, PIECE - 2, PIECE - 1, PIECE, PIECE + 1, 2 * PIECE - 1, 2 * PIECE, length - 1}):
        if at >= length:
            continue
        text = "a" * at + special + "b" * (length - at - 1)
        expected = json.dumps(text, ensure_ascii=False).encode()
        assert vellum.dumps(text) == expected, at
        assert vellum.dumps([text], option=vellum.OPT_INDENT_2) == b"[\n  " + expected + b"\n]"


def test_long_text_of_escapes_only():
    text = "\x00\"\\" * (PIECE + 7)
    assert vellum.dumps(text) == json.dumps(text).encode()


# Texts of up to 16 bytes are written inline when nothing needs escaping:
# every length, with a byte to escape (or a wide character) at every place.
@pytest.mark.parametrize("length", range(1, 18))
def test_short_texts_with_a_special_byte_anywhere(length):
    for at in range(length):
        for special in ('"', "\\", "\n", "\x00", "\x1f", "\x7f", "é", "\U0001f600"):
            text = "a" * at + special + "b" * (length - at - 1)
            expected = json.dumps(text, ensure_ascii=False).encode()
            assert vellum.dumps(text) == expected
            assert vellum.dumps({text: [text]}) == b"{" + expected + b":[" + expected + b"]}"
