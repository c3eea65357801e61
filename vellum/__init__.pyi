"""Fast, correct JSON for CPython, written in C++20.

dumps(obj) serializes Python objects to UTF-8 JSON bytes and loads(data)
parses bytes, bytearray, memoryview or str; dump and load do the same on
files, dump_lines and load_lines on JSON Lines. option takes the OPT_ flags
combined with |, and default a function for objects dumps cannot write.
Fragment holds JSON that dumps copies unchanged. Failures raise
JSONEncodeError (which is TypeError) or JSONDecodeError (a
json.JSONDecodeError). python -m vellum checks and reformats JSON files.
"""

from collections.abc import Callable, Iterable, Iterator
from typing import Any, Protocol, type_check_only

# The native module's names, typed in vellum/vellum.pyi.
from .vellum import (
    Fragment as Fragment,
    JSONDecodeError as JSONDecodeError,
    JSONEncodeError as JSONEncodeError,
    OPT_APPEND_NEWLINE as OPT_APPEND_NEWLINE,
    OPT_DECIMAL as OPT_DECIMAL,
    OPT_INDENT_2 as OPT_INDENT_2,
    OPT_NAIVE_UTC as OPT_NAIVE_UTC,
    OPT_NON_STR_KEYS as OPT_NON_STR_KEYS,
    OPT_OMIT_MICROSECONDS as OPT_OMIT_MICROSECONDS,
    OPT_PASSTHROUGH_DATACLASS as OPT_PASSTHROUGH_DATACLASS,
    OPT_PASSTHROUGH_DATETIME as OPT_PASSTHROUGH_DATETIME,
    OPT_PASSTHROUGH_SUBCLASS as OPT_PASSTHROUGH_SUBCLASS,
    OPT_SERIALIZE_DATACLASS as OPT_SERIALIZE_DATACLASS,
    OPT_SERIALIZE_NUMPY as OPT_SERIALIZE_NUMPY,
    OPT_SERIALIZE_UUID as OPT_SERIALIZE_UUID,
    OPT_SORT_KEYS as OPT_SORT_KEYS,
    OPT_STRICT_INTEGER as OPT_STRICT_INTEGER,
    OPT_UTC_Z as OPT_UTC_Z,
    __version__ as __version__,
    dumps as dumps,
    loads as loads,
)

__all__ = [
    "Fragment",
    "JSONDecodeError",
    "JSONEncodeError",
    "OPT_APPEND_NEWLINE",
    "OPT_DECIMAL",
    "OPT_INDENT_2",
    "OPT_NAIVE_UTC",
    "OPT_NON_STR_KEYS",
    "OPT_OMIT_MICROSECONDS",
    "OPT_PASSTHROUGH_DATACLASS",
    "OPT_PASSTHROUGH_DATETIME",
    "OPT_PASSTHROUGH_SUBCLASS",
    "OPT_SERIALIZE_DATACLASS",
    "OPT_SERIALIZE_NUMPY",
    "OPT_SERIALIZE_UUID",
    "OPT_SORT_KEYS",
    "OPT_STRICT_INTEGER",
    "OPT_UTC_Z",
    "__version__",
    "dump",
    "dump_lines",
    "dumps",
    "load",
    "load_lines",
    "loads",
]

@type_check_only
class _Reader(Protocol):
    def read(self) -> bytes | bytearray | memoryview | str: ...

@type_check_only
class _Writer(Protocol):
    # Text files get str, other writers bytes: both satisfy one of the two.
    def write(self, data: Any, /) -> object: ...

def dump(
    obj: Any,
    fp: _Writer,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> None:
    """Serialize obj as dumps does and write it to fp.

    A text file (an io.TextIOBase) gets str; any other object with a write
    method gets bytes, written in full even to an unbuffered file.
    """

def load(fp: _Reader, /, *, parse_float: Callable[[str], Any] | None = None) -> Any:
    """Parse the document that fp.read() returns: bytes from a binary file or
    str from a text file. parse_float as for loads."""

def dump_lines(
    iterable: Iterable[Any],
    fp: _Writer,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> None:
    """Write each object of iterable to fp as one line of compact JSON (JSON
    Lines), one at a time.

    default and option as for dumps; OPT_INDENT_2, and a Fragment holding a
    line break, raise JSONEncodeError. The files taken are those of dump.
    """

def load_lines(
    fp: Iterable[bytes | bytearray | memoryview | str],
    /,
    *,
    parse_float: Callable[[str], Any] | None = None,
) -> Iterator[Any]:
    """Iterate the documents of JSON Lines, reading fp (a binary or text
    file, or any iterable of lines as bytes or str) a line at a time.

    Lines holding only whitespace are skipped. A bad line raises
    JSONDecodeError with the line and column in the whole file. parse_float
    as for loads.
    """
