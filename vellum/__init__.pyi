import json
from typing import Any, Callable, Final, Self, final

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
    "dumps",
    "loads",
]

__version__: Final[str]

def dumps(
    obj: Any,
    /,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
) -> bytes: ...
def loads(obj: bytes | bytearray | memoryview | str, /) -> Any: ...

# Already-serialized JSON that dumps copies into its output unchanged.
@final
class Fragment:
    def __new__(cls, content: bytes | str, /) -> Self: ...

class JSONDecodeError(json.JSONDecodeError): ...

JSONEncodeError = TypeError

OPT_APPEND_NEWLINE: Final = 1024
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
