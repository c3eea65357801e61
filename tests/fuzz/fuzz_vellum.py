"""Python-level fuzz target: loads on arbitrary bytes and str (also with
parse_float=Decimal), dumps on generated object graphs with every option
bit, Decimals, hostile default functions,
hostile dict keys, date-times, UUIDs, enums and dataclasses whose tzinfo,
value and attribute code changes what is being written, and numpy arrays and
scalars of every dtype, layout and byte order.

    python tests/fuzz/fuzz_vellum.py [libFuzzer flags] CORPUS_DIR [SEED_DIR...]

A crash, or any check below that fails, stops the run with the input saved
by libFuzzer.
"""

import dataclasses
import datetime
import decimal
import enum
import gc
import json
import math
import pathlib
import sys
import uuid
import zoneinfo

import atheris
import numpy

import vellum

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
from support import same  # noqa: E402

ZONEINFO = zoneinfo.ZoneInfo("Europe/Berlin")
MAX_DEPTH = 1023  # the deepest container loads accepts (the root is 0)


class Finding(AssertionError):
    pass


def expect(condition, *what):
    if not condition:
        raise Finding(*what)


# ---------------------------------------------------------------- loads


def outside_vellum(value):
    """True when the json module's reading holds what vellum refuses on
    purpose: non-finite numbers, lone surrogates, nesting past its limit."""
    stack, containers = [(value, 0)], 0
    while stack:
        v, depth = stack.pop()
        if isinstance(v, float) and not math.isfinite(v):
            return True
        if isinstance(v, str) and any(0xD800 <= ord(c) <= 0xDFFF for c in v):
            return True
        if isinstance(v, dict):
            if depth > MAX_DEPTH:
                return True
            stack += [(k, depth + 1) for k in v] + [(x, depth + 1) for x in v.values()]
        elif isinstance(v, list):
            if depth > MAX_DEPTH:
                return True
            stack += [(x, depth + 1) for x in v]
    return False


def same_exact(oracle, value):
    """The json module's reading with parse_float=Decimal and vellum's: the
    same values, a Decimal with the same digits and exponent. An integer
    beyond 64 bits, an int there, is a Decimal of exponent 0 here."""
    if type(oracle) is decimal.Decimal or type(oracle) is int and not -(2**63) <= oracle < 2**64:
        exponent = 0 if type(oracle) is int else oracle.as_tuple().exponent
        return type(value) is decimal.Decimal and value == oracle and value.as_tuple().exponent == exponent
    if type(oracle) is list:
        return type(value) is list and len(value) == len(oracle) and all(map(same_exact, oracle, value))
    if type(oracle) is dict:
        return type(value) is dict and list(value) == list(oracle) and all(map(same_exact, oracle.values(),
                                                                               value.values()))
    return same(oracle, value)


def check_decimal(doc, text):
    """loads with parse_float=Decimal reads what the json module reads with
    it, and refuses what loads refuses, except numbers a double cannot hold."""
    try:
        value = vellum.loads(doc, parse_float=decimal.Decimal)
    except vellum.JSONDecodeError as exc:
        try:
            vellum.loads(doc)
        except vellum.JSONDecodeError as plain:
            # A number a double cannot hold is read: what follows it may fail.
            past_infinity = plain.msg == "number is infinity when parsed as double" and exc.pos >= plain.pos
            expect(str(exc) == str(plain) or past_infinity, "refused otherwise with parse_float", exc, plain)
        else:
            raise Finding("refused with parse_float only", exc) from None
        return
    except decimal.InvalidOperation as exc:
        # Decimal refuses an exponent beyond its limits, under the json
        # module too; invalid UTF-8 after the number leaves nothing to compare.
        if text is None:
            return
        try:
            json.loads(text, parse_float=decimal.Decimal)
        except (decimal.InvalidOperation, RecursionError):
            return
        except ValueError:
            pass
        raise Finding("parse_float refused a number the json module's reads", exc) from None
    expect(text is not None, "accepted invalid UTF-8 with parse_float")
    try:
        oracle = json.loads(text, parse_float=decimal.Decimal)
    except RecursionError:
        return
    except ValueError as exc:
        raise Finding("accepted with parse_float what the json module refuses", exc) from None
    expect(same_exact(oracle, value), "read differently from the json module with parse_float")
    # Written back with OPT_DECIMAL, it reads the same.
    try:
        again = vellum.loads(vellum.dumps(value, option=vellum.OPT_DECIMAL), parse_float=decimal.Decimal)
    except vellum.JSONEncodeError as exc:  # past dumps' own nesting limit, or a 64-bit int
        expect(str(exc) in ("Recursion limit reached", "Integer exceeds 64-bit range"), "could not write back", exc)
        return
    expect(same_exact(value, again), "round trip with OPT_DECIMAL changed the value")


def check_loads(doc):
    text = doc if isinstance(doc, str) else doc.decode("utf-8", "surrogatepass") if valid_utf8(doc) else None
    check_decimal(doc, text)
    try:
        value = vellum.loads(doc)
    except vellum.JSONDecodeError as exc:
        expect(type(exc) is vellum.JSONDecodeError, "wrong exception", exc)
        expect(0 <= exc.pos <= len(exc.doc), "position outside the input", exc.pos, len(exc.doc))
        if text is None or exc.msg == "str is not valid UTF-8: surrogates not allowed":
            return
        expect(exc.doc == text, "doc is not the input")
        try:
            value = json.loads(text)
        except (ValueError, RecursionError):
            return
        expect(outside_vellum(value), "refused what the json module reads", exc.msg, exc.pos)
        return
    expect(text is not None, "accepted invalid UTF-8")
    try:
        oracle = json.loads(text)
    except RecursionError:
        return
    except ValueError as exc:
        raise Finding("accepted what the json module refuses", exc) from None
    expect(same(oracle, value, wide_ints_as_floats=True), "read differently from the json module")
    # What was read writes back to text that reads the same.
    try:
        again = vellum.loads(vellum.dumps(value))
    except vellum.JSONEncodeError as exc:  # past dumps' own nesting limit
        expect(str(exc) == "Recursion limit reached", "could not write back", exc)
        return
    expect(same(again, value), "round trip changed the value")


def valid_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


# ---------------------------------------------------------------- dumps


class Opaque:
    def __init__(self, payload):
        self.payload = payload


class Text(str):
    pass


class Number(int):
    pass


class Items(list):
    pass


class Mapping(dict):
    pass


class HostileKey(str):
    """A str subclass whose hash and equality run code and change things."""

    victims = []

    def __hash__(self):
        for victim in HostileKey.victims:
            victim.clear() if hasattr(victim, "clear") else None
        return str.__hash__(self)

    def __eq__(self, other):
        raise RuntimeError("compared")


DECIMALS = ["0", "-0", "1.50", "-123456789.987654321", "1E+5", "9" * 40, "NaN", "-Infinity", "sNaN"]
FRAGMENTS = [b"1", b'{"a":[1,2]}', b"[]", "\"é\"", b"", b"not json", "\ud800", 1, None, bytearray(b"[1]")]


# Date-times, UUIDs, enums and dataclasses, some of whose methods run code
# that changes or frees what is being written.
class Zone(datetime.tzinfo):
    """A tzinfo whose utcoffset is decided by the fuzzer."""

    victims = []

    def __init__(self, action, minutes):
        self.action, self.minutes = action, minutes

    def utcoffset(self, dt):
        if self.action == 0:
            return datetime.timedelta(minutes=self.minutes)
        if self.action == 1:
            return None
        if self.action == 2:
            raise ValueError("no offset")
        if self.action == 3:
            return self.minutes  # not a timedelta
        for victim in Zone.victims:  # empties the containers being written
            if isinstance(victim, (list, dict)):
                victim.clear()
        gc.collect()
        return datetime.timedelta(seconds=self.minutes * 37)

    def dst(self, dt):
        return None


class Color(enum.Enum):
    RED = 1
    BLUE = "blue"
    NESTED = (1, 2)


class Shifty(enum.Enum):
    ONE = 1

    @property
    def value(self):
        for victim in Zone.victims:
            if isinstance(victim, (list, dict)):
                victim.clear()
        return [self._value_]


@dataclasses.dataclass
class Point:
    x: object
    y: object = None


@dataclasses.dataclass(slots=True)
class Slotted:
    a: object


@dataclasses.dataclass
class Derived(Slotted):
    b: object = 0


@dataclasses.dataclass
class Watched:
    field: object

    def __getattribute__(self, name):
        if name == "field":
            for victim in Zone.victims:
                if isinstance(victim, (list, dict)):
                    victim.clear()
        return object.__getattribute__(self, name)


NUMPY_TYPES = ["float64", "float32", "float16", "int64", "int32", "int16", "int8", "uint64", "uint32", "uint16",
               "uint8", "bool", "datetime64[ns]", "datetime64[D]", "datetime64[Y]", "datetime64[10s]", "complex64",
               "object", ">i4", "<U3"]


def array(fdp):
    """A numpy array or scalar of a dtype the fuzzer picks: every supported
    one, and ones that go to default (unsupported, big-endian, strided)."""
    dtype = numpy.dtype(fdp.PickValueInList(NUMPY_TYPES))
    shape = tuple(fdp.ConsumeIntInRange(0, 4) for _ in range(fdp.ConsumeIntInRange(0, 4)))
    raw = fdp.ConsumeBytes(int(numpy.prod(shape, dtype=numpy.int64)) * 8)
    if dtype.kind in "OU":
        a = numpy.zeros(shape, dtype=dtype)
    else:
        a = numpy.frombuffer(raw.ljust(int(numpy.prod(shape, dtype=numpy.int64)) * dtype.itemsize, b"\0"),
                             dtype=dtype, count=int(numpy.prod(shape, dtype=numpy.int64))).reshape(shape)
    pick = fdp.ConsumeIntInRange(0, 3)
    if pick == 0 and a.ndim:
        return a[..., ::2]  # not contiguous
    if pick == 1 and a.size:
        return a.flat[0]  # a scalar
    return a.copy() if pick == 2 else a


def when(fdp, hashable=False):
    """A date-time value: date, time or datetime, naive, with a fixed zone,
    zoneinfo, or (unless it is to be hashed, as a dict key is) a Zone whose
    utcoffset the fuzzer picks."""
    year = fdp.ConsumeIntInRange(1, 9999)
    month, day = fdp.ConsumeIntInRange(1, 12), fdp.ConsumeIntInRange(1, 28)
    hour, minute, second = fdp.ConsumeIntInRange(0, 23), fdp.ConsumeIntInRange(0, 59), fdp.ConsumeIntInRange(0, 59)
    micro = fdp.ConsumeIntInRange(0, 999999)
    kind = fdp.ConsumeIntInRange(0, 4)
    if kind == 0:
        return datetime.date(year, month, day)
    if kind == 1:
        return datetime.time(hour, minute, second, micro)
    zones = [None, datetime.timezone.utc, datetime.timezone(datetime.timedelta(minutes=fdp.ConsumeIntInRange(-1439, 1439))),
             ZONEINFO] + ([] if hashable else [Zone(fdp.ConsumeIntInRange(0, 4), fdp.ConsumeIntInRange(-3000, 3000))])
    zone = fdp.PickValueInList(zones)
    try:
        return datetime.datetime(year, month, day, hour, minute, second, micro, tzinfo=zone, fold=fdp.ConsumeIntInRange(0, 1))
    except (OverflowError, ValueError):
        return datetime.datetime(2000, 1, 1)


class Graph:
    """Builds an object graph from the fuzzer's bytes and says whether its
    JSON is known exactly (no default, no fragments of arbitrary content)."""

    def __init__(self, fdp):
        self.fdp = fdp
        self.made = []  # containers, for sharing and cycles
        self.sizes = {}  # id of a container: values in it, counted through sharing
        self.exact = True
        self.budget = 200  # values made
        self.weight = 0  # values that sharing adds to the written output

    def size(self, value):
        return self.sizes.get(id(value), 1)

    def share(self):
        # Shared parts are written once per reference: bounded, so that the
        # output stays small.
        candidates = [c for c in self.made if self.weight + self.size(c) <= 20000]
        if not candidates:
            return None
        picked = self.fdp.PickValueInList(candidates)
        self.weight += self.size(picked)
        return picked

    def value(self, depth=0):
        fdp = self.fdp
        self.budget -= 1
        kind = fdp.ConsumeIntInRange(0, 24) if self.budget > 0 and depth < 300 else fdp.ConsumeIntInRange(0, 4)
        if kind == 0:
            v = None
        elif kind == 1:
            v = fdp.ConsumeBool()
        elif kind == 2:
            v = fdp.ConsumeIntInRange(-(2**65), 2**65) if fdp.ConsumeBool() else fdp.ConsumeIntInRange(-300, 300)
        elif kind == 3:
            v = fdp.ConsumeFloat()
        elif kind == 4:
            v = fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 40))
        elif kind == 5:
            v = [self.value(depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 6))]
        elif kind == 6:
            v = tuple(self.value(depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 6)))
        elif kind == 7:
            v = {fdp.ConsumeUnicode(fdp.ConsumeIntInRange(0, 12)): self.value(depth + 1)
                 for _ in range(fdp.ConsumeIntInRange(0, 6))}
        elif kind == 8:
            v = vellum.Fragment(fdp.PickValueInList(FRAGMENTS))
            self.exact = False
        elif kind == 9:
            v = Text(fdp.ConsumeUnicode(8))
        elif kind == 10:
            v = Number(fdp.ConsumeIntInRange(-(2**64), 2**64))
        elif kind == 11:
            v = Items(self.value(depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3)))
        elif kind == 12:
            v = Mapping({fdp.ConsumeUnicode(4): self.value(depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3))})
        elif kind == 13:
            v = Opaque(self.value(depth + 1))
            self.exact = False
        elif kind == 14:  # keys that are no str, or str subclasses that run code
            v = {fdp.PickValueInList([1, 2.5, None, True, (1,), HostileKey("k"), Text("t")]): self.value(depth + 1)}
        elif kind == 15:  # shared parts: a DAG
            v = self.share()
        elif kind == 16 and self.made:  # a cycle through a container made earlier
            v = fdp.PickValueInList(self.made)
            if isinstance(v, list):
                v.append(v)
            elif isinstance(v, dict):
                v["self"] = v
        elif kind == 17:
            v = when(fdp)
            self.exact = False
        elif kind == 18:
            v = uuid.UUID(int=fdp.ConsumeIntInRange(0, 2**128 - 1))
            self.exact = False
        elif kind == 19:
            v = fdp.PickValueInList([Color.RED, Color.BLUE, Color.NESTED, Shifty.ONE])
            self.exact = False
        elif kind == 20:
            pick = fdp.ConsumeIntInRange(0, 3)
            inner = self.value(depth + 1)
            v = [Point(inner), Slotted(inner), Derived(inner, inner), Watched(inner)][pick]
            self.exact = False
        elif kind == 21:  # date-time, UUID and enum keys, for OPT_NON_STR_KEYS
            v = {fdp.PickValueInList([when(fdp, True), uuid.UUID(int=7), Color.RED, Color.NESTED]): self.value(depth + 1)}
            self.exact = False
        elif kind == 22:
            v = array(fdp)
            self.exact = False
        elif kind == 23:  # written under OPT_DECIMAL, else through default
            v = decimal.Decimal(fdp.PickValueInList(DECIMALS))
            if v.is_finite():
                v = v.scaleb(fdp.ConsumeIntInRange(-400, 400))
            if fdp.ConsumeBool() and not v.is_snan():  # which cannot be hashed
                v = {v: self.value(depth + 1)}
            self.exact = False
        else:
            v = [self.value(depth + 1)]
        if isinstance(v, (list, tuple, dict)) and id(v) not in self.sizes:
            children = v.values() if isinstance(v, dict) else v
            self.sizes[id(v)] = 1 + sum(self.size(c) for c in children if c is not v)
            self.made.append(v)
        return v


def plain(value, options):
    """The value the json module reads back from dumps' output, for graphs
    of plain values; None for a graph whose writing must fail."""
    if isinstance(value, bool) or value is None or isinstance(value, str) and type(value) is str:
        return value
    if type(value) is int:
        if not -(2**63) <= value < 2**64 or options & vellum.OPT_STRICT_INTEGER and abs(value) > 2**53 - 1:
            raise ValueError
        return value
    if type(value) is float:
        return value if math.isfinite(value) else None
    if type(value) in (list, tuple):
        return [plain(v, options) for v in value]
    if type(value) is dict:
        if not all(type(k) is str for k in value):
            raise ValueError
        return {k: plain(v, options) for k, v in value.items()}
    raise LookupError  # subclasses and the rest: not modelled here


def hostile_default(fdp, root, containers):
    """A default function that does one of the things callers do."""
    action = fdp.ConsumeIntInRange(0, 6)
    calls = [0]

    def default(obj):
        calls[0] += 1
        if calls[0] > 50:
            raise ValueError("enough")
        if action == 0:
            raise ValueError("refused")
        if action == 1:
            return obj  # itself: the default-depth limit ends it
        if action == 2:
            # Change the containers being written; obj stays referenced.
            if isinstance(root, list):
                root.append(Opaque(None))
                del root[: len(root) // 2]
            elif isinstance(root, dict):
                root.clear()
            return [obj.payload if isinstance(obj, Opaque) else None]
        if action == 3:
            return [obj]  # through default again and again
        if action == 4:
            # dumps inside default, a few levels deep.
            payload = obj.payload if isinstance(obj, Opaque) else None
            return vellum.Fragment(vellum.dumps(payload, default=default))
        if action == 5:
            gc.collect()
            return {"collected": True}
        # Frees the object it was given (and everything else it can), then
        # raises: the failure still has to name the object's type.
        for container in containers:
            if isinstance(container, (list, dict)):
                container.clear()
        del obj
        gc.collect()
        raise ValueError("freed")

    return default


def check_dumps(fdp):
    graph = Graph(fdp)
    root = graph.value()
    Zone.victims = graph.made
    options = fdp.ConsumeIntInRange(0, 8191)
    with_default = fdp.ConsumeBool()
    default = hostile_default(fdp, root, graph.made) if with_default else None
    try:
        out = vellum.dumps(root, default, options)
    except TypeError as exc:  # JSONEncodeError
        expect(exc.__class__ is TypeError, "wrong exception", exc)
        return
    finally:
        Zone.victims = []
    expect(type(out) is bytes, "not bytes")
    if options & vellum.OPT_APPEND_NEWLINE:
        expect(out.endswith(b"\n"), "no newline")
    if not graph.exact or with_default:
        return
    # Plain graphs: the output is JSON the json module reads, equal to the
    # graph as the json module would see it.
    parsed = json.loads(out)
    try:
        expected = plain(root, options)
    except (ValueError, LookupError, RecursionError):
        return
    expect(same(parsed, expected) or parsed == expected, "wrote something else", out[:200])
    expect(same(vellum.loads(out), parsed), "read back differently")


# ---------------------------------------------------------------- entry


def test_one_input(data):
    if not data:
        return
    mode = data[0] & 3
    if mode == 3:  # the whole input as a document (JSON seeds land here)
        check_loads(data)
        return
    fdp = atheris.FuzzedDataProvider(data[1:])
    if mode == 0:
        check_loads(fdp.ConsumeBytes(fdp.remaining_bytes()))
    elif mode == 1:
        check_loads(fdp.ConsumeUnicode(fdp.remaining_bytes()))
    else:
        check_dumps(fdp)


def main():
    sys.setrecursionlimit(10000)
    # Coverage of the Python side (this harness, the json module): the
    # native module is not instrumented.
    atheris.instrument_all()
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
