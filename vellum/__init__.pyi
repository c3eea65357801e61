import json
from collections.abc import Callable, Iterable, Iterator
from typing import Any, Final, Protocol, Self, final, type_check_only

__all__ = [
    "Fragment",
    "JSONDecodeError",
    "JSONEncodeError",
    "OPT_APPEND_NEWLINE",
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

__version__: Final[str]

@type_check_only
class _Reader(Protocol):
    def read(self) -> bytes | bytearray | memoryview | str: ...

@type_check_only
class _Writer(Protocol):
    # Text files get str, other writers bytes: both satisfy one of the two.
    def write(self, data: Any, /) -> object: ...

def dumps(
    obj: Any,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> bytes:
    """Serialize obj to compact (or OPT_INDENT_2) UTF-8 JSON bytes."""

def loads(obj: bytes | bytearray | memoryview | str, /) -> Any:
    """Parse one JSON document from bytes, bytearray, memoryview or str."""

def dump(
    obj: Any,
    fp: _Writer,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> None:
    """Write obj to a file as dumps does: str to a text file, bytes to any other."""

def load(fp: _Reader, /) -> Any:
    """Parse the document that fp.read() returns (bytes or str)."""

def dump_lines(
    iterable: Iterable[Any],
    fp: _Writer,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> None:
    """Write each object as one compact line of JSON Lines."""

def load_lines(fp: Iterable[bytes | bytearray | memoryview | str], /) -> Iterator[Any]:
    """Iterate the documents of JSON Lines, a line at a time; blank lines are skipped."""

@final
class Fragment:
    """Already-serialized JSON that dumps copies into its output unchanged."""

    def __new__(cls, content: bytes | str, /) -> Self: ...

class JSONDecodeError(json.JSONDecodeError):
    """Raised by loads, load and load_lines for input that is not valid JSON."""

JSONEncodeError = TypeError

OPT_APPEND_NEWLINE: Final[int]
OPT_INDENT_2: Final[int]
OPT_NAIVE_UTC: Final[int]
OPT_NON_STR_KEYS: Final[int]
OPT_OMIT_MICROSECONDS: Final[int]
OPT_PASSTHROUGH_DATACLASS: Final[int]
OPT_PASSTHROUGH_DATETIME: Final[int]
OPT_PASSTHROUGH_SUBCLASS: Final[int]
OPT_SERIALIZE_DATACLASS: Final[int]
OPT_SERIALIZE_NUMPY: Final[int]
OPT_SERIALIZE_UUID: Final[int]
OPT_SORT_KEYS: Final[int]
OPT_STRICT_INTEGER: Final[int]
OPT_UTC_Z: Final[int]
