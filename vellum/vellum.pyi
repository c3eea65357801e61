"""The native module behind the package (vellum/__init__.py re-exports its
names); typed here so that the checker sees the module as it is."""

import json
from collections.abc import Callable
from typing import Any, Final, Self, final

__version__: Final[str]

def dumps(
    obj: Any,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> bytes:
    """Serialize obj to compact (or OPT_INDENT_2) UTF-8 JSON bytes."""

def loads(
    obj: bytes | bytearray | memoryview | str,
    /,
    *,
    parse_float: Callable[[str], Any] | None = None,
) -> Any:
    """Parse one JSON document from bytes, bytearray, memoryview or str.

    parse_float, when given, is called with the text of every number that
    would otherwise be a float (a fraction, an exponent, or an integer beyond
    64 bits); decimal.Decimal keeps such numbers exactly as written."""

@final
class Fragment:
    """Already-serialized JSON that dumps copies into its output unchanged."""

    def __new__(cls, content: bytes | str, /) -> Self: ...

class JSONDecodeError(json.JSONDecodeError):
    """Raised by loads, load and load_lines for input that is not valid JSON."""

JSONEncodeError = TypeError

OPT_APPEND_NEWLINE: Final = 1024
OPT_DECIMAL: Final = 4096
OPT_INDENT_2: Final = 1
OPT_NAIVE_UTC: Final = 2
OPT_NON_STR_KEYS: Final = 4
OPT_OMIT_MICROSECONDS: Final = 8
OPT_PASSTHROUGH_DATACLASS: Final = 2048
OPT_PASSTHROUGH_DATETIME: Final = 512
OPT_PASSTHROUGH_SUBCLASS: Final = 256
OPT_SERIALIZE_DATACLASS: Final = 0
OPT_SERIALIZE_NUMPY: Final = 16
OPT_SERIALIZE_UUID: Final = 0
OPT_SORT_KEYS: Final = 32
OPT_STRICT_INTEGER: Final = 64
OPT_UTC_Z: Final = 128
