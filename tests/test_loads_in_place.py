"""loads reads a bytes object's text and a str's UTF-8 where they lie, and
copies a bytearray's or a memoryview's. Each kind of input is laid here at
the very end of a mapped page whose successor is inaccessible: any read past
what loads may read faults. The objects are made by hand in that memory
(their reference counts immortal, so the interpreter never frees them), and
loads must make of each exactly what it makes of an ordinary bytes object."""

import ctypes
import mmap
import sys

import pytest

import vellum

PAGE = mmap.PAGESIZE
PROT_NONE = 0
IMMORTAL = ctypes.c_ssize_t.from_address(id(None)).value

# Header sizes of the running interpreter's records (64-bit; 3.11's str
# record holds a wide-character pointer more, and its compact record the
# wide-character length too).
BYTES_HEADER = sys.getsizeof(b"") - 1  # refcount, type, size, hash
ASCII_HEADER = sys.getsizeof("") - 1  # refcount, type, length, hash, state
COMPACT_HEADER = ASCII_HEADER + (16 if sys.version_info >= (3, 12) else 24)  # then the UTF-8 length and pointer
# 3.11 also marks a str ready (bit 7), a flag that 3.12 dropped.
READY = 1 << 7 if sys.version_info < (3, 12) else 0
STATE_COMPACT_ASCII = 1 << 2 | 1 << 5 | 1 << 6 | READY  # one byte per character, compact, ASCII
STATE_COMPACT_LATIN1 = 1 << 2 | 1 << 5 | READY


class GuardedPage:
    """One writable page followed by an inaccessible one."""

    def __init__(self):
        self.map = mmap.mmap(-1, 2 * PAGE)
        self.anchor = ctypes.c_char.from_buffer(self.map)
        self.base = ctypes.addressof(self.anchor)
        libc = ctypes.CDLL(None, use_errno=True)
        libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
        if libc.mprotect(self.base + PAGE, PAGE, PROT_NONE) != 0:
            pytest.skip("mprotect refused")
        self.end = self.base + PAGE

    def place(self, size, slack):
        """The address of `size` bytes whose end lies `slack` bytes, or a
        few more so that the start is 8-aligned, before the page's end."""
        return (self.end - slack - size) & ~7


@pytest.fixture(scope="module")
def page():
    return GuardedPage()


def write(address, data):
    ctypes.memmove(address, data, len(data))


def header(address, type_, size):
    ctypes.c_ssize_t.from_address(address).value = IMMORTAL
    ctypes.c_void_p.from_address(address + 8).value = id(type_)
    ctypes.c_ssize_t.from_address(address + 16).value = size
    ctypes.c_ssize_t.from_address(address + 24).value = -1  # hash not computed


def as_object(address):
    return ctypes.cast(address, ctypes.py_object).value


def bytes_at_end(page, data, slack):
    # The text's zero byte lies `slack` bytes (up to 7 more) before the end.
    address = page.place(BYTES_HEADER + len(data) + 1, slack)
    header(address, bytes, len(data))
    write(address + BYTES_HEADER, data + b"\0")
    return as_object(address)


def ascii_str_at_end(page, data, slack):
    address = page.place(ASCII_HEADER + len(data) + 1, slack)
    header(address, str, len(data))
    ctypes.c_uint32.from_address(address + 32).value = STATE_COMPACT_ASCII
    write(address + ASCII_HEADER, data + b"\0")
    return as_object(address)


# Records of non-ASCII strs live in ordinary memory; only their cached UTF-8
# lies at the page's end.
_records = []


def latin1_str_with_utf8_at_end(page, text, slack):
    utf8 = text.encode()
    at = page.place(len(utf8) + 1, slack)
    write(at, utf8 + b"\0")
    chars = text.encode("latin-1")
    record = ctypes.create_string_buffer(COMPACT_HEADER + len(chars) + 1)
    _records.append(record)
    address = ctypes.addressof(record)
    header(address, str, len(text))
    ctypes.c_uint32.from_address(address + 32).value = STATE_COMPACT_LATIN1
    ctypes.c_ssize_t.from_address(address + ASCII_HEADER).value = len(utf8)
    ctypes.c_void_p.from_address(address + ASCII_HEADER + 8).value = at
    write(address + COMPACT_HEADER, chars + b"\0")
    return as_object(address)


def memoryview_at_end(page, data, slack):
    offset = PAGE - slack - len(data)
    page.map[offset:offset + len(data)] = data
    return memoryview(page.map)[offset:offset + len(data)]


def bytearray_at_end(page, data, slack):
    # A bytearray record in ordinary memory whose storage ends at the page's
    # end, with no zero byte after it when slack is 0.
    at = page.end - slack - len(data)
    write(at, data)
    record = ctypes.create_string_buffer(bytearray.__basicsize__)
    _records.append(record)
    address = ctypes.addressof(record)
    header(address, bytearray, len(data))
    ctypes.c_ssize_t.from_address(address + 24).value = len(data)  # ob_alloc
    ctypes.c_void_p.from_address(address + 32).value = at  # ob_bytes
    ctypes.c_void_p.from_address(address + 40).value = at  # ob_start
    return as_object(address)


TEXTS = [
    b"1", b"-12", b"123456789012345678901", b"1.5e300", b"-0.00000000000000000000000000001", b"-", b"1.", b"1e+",
    b"true", b"fals", b"null", b"nul", b'"abc"', b'"a\\u00e9"', b'"a\\u00', b'"\\ud83d\\ude00"', b'"\\', b'"abc',
    b"[1,2,3]", b"[1,2,3", b"[1,2,", b'{"a":12345678901234567}', b'{"a":true}', b"[false]", b"[nul", b"[tru]",
    b" [ 1 , 2.25 ] ", b'["' + b"x" * 200 + b'"]', b'["' + b"x" * 200 + b'\\n"]', b'["' + b"\xc3\xa9" * 50 + b'"]',
    b'["' + b"\xc3" * 9 + b'"', b"[12345678901234567890123456789]", b"[1e400]", b"[" * 40 + b"]" * 40,
    b'{"' + b"k" * 70 + b'": "' + b"v" * 130 + b'"}', b'"\xe2\x82\xac', b"[1, \xff]",
]


def outcome(obj):
    try:
        return "ok", vellum.loads(obj)
    except vellum.JSONDecodeError as e:
        return "error", e.msg, e.pos


@pytest.mark.parametrize("text", TEXTS, ids=range(len(TEXTS)))
def test_byte_inputs_at_the_end_of_a_page(page, text):
    expected = outcome(bytes(text))
    for slack in range(0, 10):
        assert outcome(bytes_at_end(page, text, slack)) == expected, ("bytes", slack)
        assert outcome(memoryview_at_end(page, text, slack)) == expected, ("memoryview", slack)
        assert outcome(bytearray_at_end(page, text, slack)) == expected, ("bytearray", slack)
        try:
            text.decode()
        except UnicodeDecodeError:
            continue
        if text.isascii():
            assert outcome(ascii_str_at_end(page, text, slack)) == expected, ("str", slack)


@pytest.mark.parametrize("text", ['["é"]', '{"ÿ": "a\\u00e9"}', '"' + "é" * 70 + '"', '"é', '["é", 1.5', "[1, 2é]"])
def test_str_utf8_at_the_end_of_a_page(page, text):
    expected = outcome(text.encode())
    for slack in range(0, 10):
        assert outcome(latin1_str_with_utf8_at_end(page, text, slack)) == expected, slack
