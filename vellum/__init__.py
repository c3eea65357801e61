"""Fast, correct JSON for CPython, written in C++20.

dumps(obj) serializes Python objects to UTF-8 JSON bytes and loads(data)
parses bytes, bytearray, memoryview or str; dump and load do the same on
files, dump_lines and load_lines on JSON Lines. option takes the OPT_ flags
combined with |, and default a function for objects dumps cannot write.
Fragment holds JSON that dumps copies unchanged. Failures raise
JSONEncodeError (which is TypeError) or JSONDecodeError (a
json.JSONDecodeError). python -m vellum checks and reformats JSON files.
"""

from .vellum import (
    Fragment,
    JSONDecodeError,
    JSONEncodeError,
    OPT_APPEND_NEWLINE,
    OPT_DECIMAL,
    OPT_INDENT_2,
    OPT_NAIVE_UTC,
    OPT_NON_STR_KEYS,
    OPT_OMIT_MICROSECONDS,
    OPT_PASSTHROUGH_DATACLASS,
    OPT_PASSTHROUGH_DATETIME,
    OPT_PASSTHROUGH_SUBCLASS,
    OPT_SERIALIZE_DATACLASS,
    OPT_SERIALIZE_NUMPY,
    OPT_SERIALIZE_UUID,
    OPT_SORT_KEYS,
    OPT_STRICT_INTEGER,
    OPT_UTC_Z,
    __version__,
    dumps,
    loads,
)
from ._files import dump, dump_lines, load, load_lines

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

# The import system binds the native submodule here only when it first loads
# it; a re-import that finds it cached, or a reload, gets no such name.
globals().pop("vellum", None)
