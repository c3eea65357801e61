"""load, dump and JSON Lines over file objects, built on loads and dumps.

The command-line tool reads and writes through the same functions."""

from __future__ import annotations

import errno
import io
import re
import select
from collections.abc import Callable, Iterable, Iterator
from typing import Any

# From the package, whose native names are bound before it imports this
# module (and whose stubs type them).
from . import (
    OPT_APPEND_NEWLINE,
    OPT_INDENT_2,
    JSONDecodeError,
    JSONEncodeError,
    dumps,
    loads,
)

# JSON whitespace: a JSON Lines line made only of it holds no document.
_BLANK_BYTES = re.compile(rb"[ \t\r\n]*")
_BLANK_STR = re.compile(r"[ \t\r\n]*")
_WHITESPACE_BYTES = (b" ", b"\t", b"\r", b"\n")
_WHITESPACE_STR = (" ", "\t", "\r", "\n")


def load(fp: Any, /, *, parse_float: Callable[[str], Any] | None = None) -> Any:
    """Parse the document that fp.read() returns: bytes from a binary file or
    str from a text file. parse_float as for loads."""
    return loads(fp.read(), parse_float=parse_float)


def dump(obj: Any, fp: Any, /, default: Callable[[Any], Any] | None = None,
         option: int | None = None) -> None:
    """Serialize obj as dumps does and write it to fp.

    A text file (an io.TextIOBase) gets str; any other object with a write
    method gets bytes, written in full even to an unbuffered file.
    """
    writer(fp)(dumps(obj, default, option))


def writer(fp: Any) -> Callable[[bytes], object]:
    """A function that writes all of a chunk of UTF-8 to `fp`: decoded for a
    text file, else as bytes, in as many calls as an unbuffered file needs."""
    if isinstance(fp, io.TextIOBase):
        write_text = fp.write
        return lambda data: write_text(data.decode())
    if not isinstance(fp, io.RawIOBase):
        # Buffered files and other writers take everything in one call.
        write: Callable[[bytes], object] = fp.write
        return write
    return lambda data: _write_raw(fp, data)


def _write_raw(fp: io.RawIOBase, data: bytes) -> None:
    view = memoryview(data)
    while view:
        n = fp.write(view)
        if n is not None and not 0 < n <= len(view):
            # Retrying a write that takes nothing would never end, and one
            # that claims too much would lose the rest: io.BufferedWriter
            # refuses both too.
            if n == 0:
                raise OSError(f"raw write() wrote nothing of {len(view)} bytes")
            raise OSError(f"raw write() returned invalid length {n} (should have been between 0 and {len(view)})")
        if n is None:
            # A non-blocking file that is full: wait until it takes more.
            try:
                fd = fp.fileno()
            except (OSError, ValueError):
                raise BlockingIOError(errno.EAGAIN, "the file takes no more data now",
                                      len(data) - len(view)) from None
            select.select([], [fd], [])
            continue
        view = view[n:]


def decode_line(line: bytes | str, number: int, parse_float: Callable[[str], Any] | None = None) -> Any:
    """The document of one JSON Lines line (its end of line included or not).
    A bad line raises JSONDecodeError with the lineno and colno of the file,
    taking `number` as the line's number."""
    # Without its end of line, so that an error at its end stays on it.
    text: Any = line
    if isinstance(line, str):
        if line.endswith("\n"):
            text = line[:-1]
    elif line[-1:] == b"\n":
        text = line[:-1] if len(line) < 4096 else memoryview(line)[:-1]
    try:
        return loads(text, parse_float=parse_float)
    except JSONDecodeError as e:
        # The line holds no line break, so the error's column is the file's.
        raise in_file(e, number) from None


def in_file(error: JSONDecodeError, number: int) -> JSONDecodeError:
    """`error` of one line moved to line `number` of its file: doc is the
    line and pos the offset in it, lineno and colno count in the file."""
    moved = JSONDecodeError(error.msg, error.doc, error.pos)
    moved.lineno = number + error.lineno - 1
    moved.colno = error.colno
    moved.args = (f"{error.msg}: line {moved.lineno} column {moved.colno} (char {error.pos})",)
    return moved


def is_blank(line: bytes | str) -> bool:
    """Whether a JSON Lines line holds only whitespace (and so no document)."""
    first = line[:1]
    if isinstance(line, str):
        return (not first or first in _WHITESPACE_STR) and _BLANK_STR.fullmatch(line) is not None
    return (not first or first in _WHITESPACE_BYTES) and _BLANK_BYTES.fullmatch(line) is not None


def load_lines(fp: Iterable[bytes | str], /, *,
               parse_float: Callable[[str], Any] | None = None) -> Iterator[Any]:
    """Iterate the documents of JSON Lines, reading fp (a binary or text
    file, or any iterable of lines as bytes or str) a line at a time.

    Lines holding only whitespace are skipped. A bad line raises
    JSONDecodeError with the line and column in the whole file. parse_float
    as for loads.
    """
    if isinstance(fp, (str, bytes, bytearray, memoryview)):
        # Iterating these gives characters or numbers, not lines.
        raise TypeError(f"load_lines reads a file or an iterable of lines, not {type(fp).__name__}: "
                        "split the text into lines, or wrap it in io.BytesIO or io.StringIO")
    return _documents(fp, parse_float)


def _documents(lines: Iterable[bytes | str], parse_float: Callable[[str], Any] | None) -> Iterator[Any]:
    for number, line in enumerate(lines, 1):
        if is_blank(line):
            continue
        yield decode_line(line, number, parse_float)


def dump_lines(iterable: Iterable[Any], fp: Any, /, default: Callable[[Any], Any] | None = None,
               option: int | None = None) -> None:
    """Write each object of iterable to fp as one line of compact JSON (JSON
    Lines), one at a time.

    default and option as for dumps; OPT_INDENT_2, and a Fragment holding a
    line break, raise JSONEncodeError. The files taken are those of dump.
    """
    option = (option or 0) | OPT_APPEND_NEWLINE
    if option & OPT_INDENT_2:
        raise JSONEncodeError("OPT_INDENT_2 would spread a document over several lines")
    dumps(None, None, option)  # refuses other options that are not valid, before any output
    write = writer(fp)
    for obj in iterable:
        write(checked_line(dumps(obj, default, option)))


def checked_line(data: bytes) -> bytes:
    """`data`, a compact document and its newline, if it holds no other line
    break (only a Fragment can bring one): no other newline, and no carriage
    return, at which a text-mode reader splits too."""
    if data.find(b"\n", 0, len(data) - 1) >= 0 or data.find(b"\r") >= 0:
        raise JSONEncodeError("A Fragment holds a line break, which would split the JSON Lines document")
    return data
