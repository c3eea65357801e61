"""Every public name of vellum in use: checked by `mypy --strict` against the
package's stubs, and run by the interpreter. The calls in `_rejected` are
errors the stubs must catch; --strict reports any of those ignores that has
become unneeded."""

import io
import tempfile
from collections.abc import Iterator
from decimal import Decimal
from typing import TYPE_CHECKING, Any

import vellum
from vellum import (
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
    Fragment,
    JSONDecodeError,
    JSONEncodeError,
    dump,
    dump_lines,
    dumps,
    load,
    load_lines,
    loads,
)

OPTIONS: list[int] = [
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
]


def as_text(obj: Any) -> Any:
    if isinstance(obj, Decimal):
        return str(obj)
    raise TypeError(f"cannot serialize {type(obj).__name__}")


def main() -> None:
    combined = 0
    for flag in OPTIONS:
        combined |= flag
    assert combined == 8191

    out: bytes = dumps({"b": Decimal("1.5"), "a": [1, None]}, default=as_text,
                       option=OPT_SORT_KEYS | OPT_INDENT_2)
    assert loads(out) == {"a": [1, None], "b": "1.5"}
    assert dumps([Fragment(b"[1]"), Fragment("{}")], None, None) == b"[[1],{}]"
    for source in (out, bytearray(out), memoryview(out), out.decode()):
        assert loads(source) == loads(out)

    try:
        loads(b'{"a": ')
    except JSONDecodeError as e:
        where: tuple[str, str, int, int, int] = (e.msg, e.doc, e.pos, e.lineno, e.colno)
        assert where == ("unexpected end of data", '{"a": ', 6, 1, 7)
    try:
        dumps(object())
    except JSONEncodeError as e:
        message: str = str(e)
        assert message == "Type is not JSON serializable: object"
    version: str = vellum.__version__
    assert version

    binary = io.BytesIO()
    dump({"a": [1]}, binary, as_text, OPT_SORT_KEYS)
    binary.seek(0)
    assert load(binary) == {"a": [1]}
    text = io.StringIO()
    dump(Decimal("2"), text, default=as_text, option=None)
    text.seek(0)
    assert load(text) == "2"
    with tempfile.TemporaryFile("w+b") as f:
        dump_lines(iter([[1], {"b": None}]), f)
        f.seek(0)
        docs: Iterator[Any] = load_lines(f)
        assert list(docs) == [[1], {"b": None}]
    with tempfile.TemporaryFile("w+", encoding="utf-8") as t:
        dump_lines([Decimal("1.5")], t, default=as_text)
        t.seek(0)
        assert list(load_lines(t)) == ["1.5"]
    assert list(load_lines([b"[1]\n", "\n", "[2]"])) == [[1], [2]]

    exact: bytes = dumps([Decimal("1.50")], option=OPT_DECIMAL)
    assert loads(exact, parse_float=Decimal) == [Decimal("1.50")]
    assert loads(b"[0.5]", parse_float=str) == ["0.5"]
    assert load(io.BytesIO(exact), parse_float=Decimal) == [Decimal("1.50")]
    assert list(load_lines([exact], parse_float=Decimal)) == [[Decimal("1.50")]]


def _rejected() -> None:
    loads(1)  # type: ignore[arg-type]
    loads(b"1", Decimal)  # type: ignore[call-arg]
    loads(b"1", parse_float=1)  # type: ignore[arg-type]
    dumps(obj=1)  # type: ignore[call-arg]
    dumps(1, option="2")  # type: ignore[arg-type]
    dumps(1, default=1)  # type: ignore[arg-type]
    text: str = dumps(1)  # type: ignore[assignment]
    Fragment(content=b"1")  # type: ignore[call-arg]
    Fragment(1)  # type: ignore[arg-type]
    vellum.OPT_INDENT_2 = 2  # type: ignore[misc]
    load(b"[1]")  # type: ignore[arg-type]
    dump(1, "out.json")  # type: ignore[arg-type]
    dump_lines([1], io.BytesIO(), option="2")  # type: ignore[arg-type]
    load_lines(1)  # type: ignore[arg-type]
    del text


if TYPE_CHECKING:
    class Derived(Fragment):  # type: ignore[misc]
        pass


if __name__ == "__main__":
    main()
    print("ok")
