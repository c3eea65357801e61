"""The native part of vellum: dumps, loads, Fragment, the OPT_ flags and the
two exceptions. Import them from vellum, which re-exports them."""

# The native module behind the package, typed here so that the checker sees
# it as it is. The docstrings are the module's own: the build writes them
# into it (tools/docstrings.py), and the tests compare.

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
    """Serialize obj to JSON as UTF-8 bytes: compact, or indented with OPT_INDENT_2.

    Writes str, int, float, bool, None, list, tuple, dict, dataclasses, enum
    members, datetime, date, time, uuid.UUID, Fragment and, with
    OPT_SERIALIZE_NUMPY, numpy arrays and scalars (the README tells how).
    default, if given, is called with each other object and returns
    something that dumps can write, or raises. option is None or the OPT_
    flags combined with |. Failures raise JSONEncodeError (which is
    TypeError), with what default raised as its __cause__.
    """

def loads(
    obj: bytes | bytearray | memoryview | str,
    /,
    *,
    parse_float: Callable[[str], Any] | None = None,
) -> Any:
    """Parse one JSON document from bytes, bytearray, memoryview or str.

    Returns dict, list, str, int, float, bool or None. Input that is not
    valid JSON raises JSONDecodeError, whose msg, pos, lineno and colno say
    what is wrong and where; a file object raises TypeError (use load).
    parse_float, if given, is called with the text (a str) of every number
    that would otherwise be a float (a fraction, an exponent, or an integer
    beyond 64 bits) and its result taken instead; decimal.Decimal keeps such
    numbers exactly as written. An exception it raises ends the call as it
    is.
    """

@final
class Fragment:
    """JSON that is already serialized, as bytes or str.

    dumps copies it into its output as it is, without checking or
    re-indenting it.
    """

    def __new__(cls, content: bytes | str, /) -> Self: ...

class JSONDecodeError(json.JSONDecodeError):
    """Raised by loads, load and load_lines for input that is not valid JSON.

    A json.JSONDecodeError (so a ValueError): msg is the message, doc the
    input as str, pos the character offset from 0, lineno and colno the
    line and column from 1.
    """

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
