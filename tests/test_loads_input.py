import array
import io

import pytest

import vellum
from vellum import JSONDecodeError

from support import decode_error

TYPE_MESSAGE = "Input must be bytes, bytearray, memoryview, or str"
UTF8_MESSAGE = "str is not valid UTF-8: surrogates not allowed"
EMPTY_MESSAGE = "Input is a zero-length, empty document"


@pytest.mark.parametrize(
    "obj", [b'{"a":[1]}', bytearray(b'{"a":[1]}'), memoryview(b'{"a":[1]}'), '{"a":[1]}', memoryview(b'x{"a":[1]}')[1:]]
)
def test_input_types(obj):
    assert vellum.loads(obj) == {"a": [1]}


def test_memoryview_of_other_formats_uses_its_bytes():
    data = array.array("B", b"[1,2]")
    assert vellum.loads(memoryview(data)) == [1, 2]
    assert vellum.loads(memoryview(b'"ab"').cast("H")) == "ab"


class MyBytes(bytes):
    pass


class MyStr(str):
    pass


@pytest.mark.parametrize(
    "obj", [MyBytes(b"1"), MyStr("1"), 1, None, [b"1"], array.array("B", b"1"), memoryview(b"[1, 2]")[::2]]
)
def test_rejected_inputs(obj):
    err = decode_error(obj)
    assert (err.msg, err.doc, err.pos, err.lineno, err.colno) == (TYPE_MESSAGE, "", 0, 1, 1)


class Readable:
    def read(self):
        return b"[1]"


class ReadRaises:
    @property
    def read(self):
        raise KeyboardInterrupt


class ReadMissing:
    def __getattr__(self, name):
        raise AttributeError(name)


@pytest.mark.parametrize("make", [io.BytesIO, io.StringIO, lambda: open(__file__, "rb"), Readable])
def test_file_object_is_a_type_error_pointing_at_load(make):
    fp = make()
    try:
        with pytest.raises(TypeError) as info:
            vellum.loads(fp)
        assert not isinstance(info.value, JSONDecodeError)
        assert str(info.value) == f"{TYPE_MESSAGE}: read a file object with vellum.load"
    finally:
        if hasattr(fp, "close"):
            fp.close()


def test_attribute_lookup_of_a_wrong_type_may_raise_or_miss():
    # Whatever looking up `read` raises propagates as it is.
    with pytest.raises(KeyboardInterrupt):
        vellum.loads(ReadRaises())
    err = decode_error(ReadMissing())
    assert err.msg == TYPE_MESSAGE


def test_released_memoryview_is_never_read():
    view = memoryview(b"[1, 2, 3]")
    view.release()
    with pytest.raises(ValueError):
        vellum.loads(view)


@pytest.mark.parametrize("obj,pos", [
    (b"\xff", 0),
    (b'"\xc3"', 1),
    (b'["\xed\xa0\x80"]', 2),
    (bytearray(b"\xc0\x80"), 0),
    (memoryview(b"\xf4\x90\x80\x80"), 0),
    ('{"é":\n  ["€", "x\U0001f600'.encode() + b"\xe0\x80\xbf" + b'"]}', 17),
    # Reported before any other failure, wherever it lies.
    (b'[1 2, "\xff"]', 7),
    (bytearray(b"[1, \xff"), 4),
    (b"[" + b"1," * 2000 + b'"\x80"]', 4002),
])
def test_invalid_utf8_in_bytes_is_placed_in_the_document(obj, pos):
    # doc is the input decoded with each invalid sequence replaced, and pos
    # the first one's index in it: the text before it is valid, so it counts
    # as in the input.
    err = decode_error(obj)
    doc = bytes(obj).decode("utf-8", "replace")
    assert (err.msg, err.doc, err.pos) == (UTF8_MESSAGE, doc, pos)
    assert doc[pos] == "\ufffd"
    assert (err.lineno, err.colno) == (doc.count("\n", 0, pos) + 1, pos - doc.rfind("\n", 0, pos))
    assert err.__cause__ is None


@pytest.mark.parametrize("text", [
    '["é", "x"]', '{"ключ": "значение"}', '["日本語", "é"]', '["\U0001f600 abc", "€"]',
    '["' + "é" * 5000 + '"]', '{"k": ["' + "日本" * 40000 + '", 1]}',
])
def test_str_input_keeps_no_utf8_copy(text):
    # The UTF-8 that loads reads is its own: the caller's str is left as it
    # was, not holding an encoded copy of itself for the rest of its life.
    import json
    import sys

    text = "".join([text[:1], text[1:]])  # a str of its own, never encoded
    size = sys.getsizeof(text)
    assert vellum.loads(text) == json.loads(text)
    assert sys.getsizeof(text) == size


@pytest.mark.parametrize("obj", ["\ud800", '["\udfff"]', '["\U0001f600", "\ud800"]', "[1, 2]\udc00"])
def test_str_with_a_lone_surrogate(obj):
    err = decode_error(obj)
    assert (err.msg, err.doc, err.pos) == (UTF8_MESSAGE, "", 0)
    assert err.__cause__ is None


@pytest.mark.parametrize("obj", [b"", "", bytearray(), memoryview(b"")])
def test_empty_input(obj):
    err = decode_error(obj)
    assert (err.msg, err.doc, err.pos) == (EMPTY_MESSAGE, "", 0)


def test_two_byte_documents():
    assert vellum.loads(b'""') is vellum.loads('""')
    assert vellum.loads(b'""') == ""
    first, second = vellum.loads(b"{}"), vellum.loads(b"{}")
    assert first == {} and first is not second
    first, second = vellum.loads("[]"), vellum.loads("[]")
    assert first == [] and first is not second
    assert vellum.loads(b"12") == 12
    assert vellum.loads(b" 1") == 1


@pytest.mark.parametrize("text", ["[1, 2]", '{"é": "€"}', '["\U0001f600"]', "3.5"])
def test_str_input_of_every_width(text):
    import json

    assert vellum.loads(text) == json.loads(text)
    assert vellum.loads(text.encode()) == json.loads(text)


def test_signature():
    import inspect

    assert vellum.loads.__text_signature__ == "(obj, /, *, parse_float=None)"
    assert str(inspect.signature(vellum.loads)) == "(obj, /, *, parse_float=None)"
    assert vellum.loads.__module__ == "vellum"
