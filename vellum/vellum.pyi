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

def loads(obj: bytes | bytearray | memoryview | str, /) -> Any:
    """Parse one JSON document from bytes, bytearray, memoryview or str."""

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
