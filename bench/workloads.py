"""Benchmark workloads: the corpus files plus synthetic documents.

Every generator is seeded, so all libraries (and every run) see the same data.
"""

from __future__ import annotations

import datetime
import decimal
import enum
import json
import random
import string
import uuid
import zoneinfo
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

# Flags understood by the harness; each library maps them to its own options.
SORT_KEYS = "sort_keys"
INDENT_2 = "indent_2"
# Objects that only some libraries write without a default hook (date-times,
# UUIDs, enums, dataclasses, non-str keys); the others are n/a.
NATIVE_TYPES = "native_types"
NON_STR_KEYS = "non_str_keys"
UTC_Z = "utc_z"
# numpy values: vellum writes them natively, the peers get plain Python
# values (`peer_arg`).
NUMPY = "serialize_numpy"
# Numbers as decimal.Decimal, both ways: written exactly (vellum's
# OPT_DECIMAL) and read exactly (each library's Decimal mode).
DECIMAL = "decimal"
# The flags a loads call understands; other flags are dumps' options.
LOADS_FLAGS = frozenset({DECIMAL})


@dataclass
class Workload:
    name: str
    # Object given to dumps, and JSON bytes given to loads (None skips that
    # direction). With `many`, both are lists and one op is one call per item.
    obj: Any = None
    data: bytes | None = None
    flags: frozenset[str] = field(default_factory=frozenset)
    many: bool = False
    note: str = ""
    # The JSON value dumps' output must decode to, where obj is not one.
    expected: Any = None
    # The argument text the peers are called with, when not `x` itself.
    peer_arg: str = "x"
    # Checks one library's dumps output (bytes, library name) -> problem or
    # None, in place of comparing json.loads of it with `obj`.
    check: Callable[[bytes, str], str | None] | None = None
    # Bytes of compact JSON per op, when `obj` is not plain JSON data.
    json_size: int | None = None

    @property
    def calls(self) -> int:
        if not self.many:
            return 1
        return len(self.obj if self.obj is not None else self.data)

    @property
    def size(self) -> int:
        """Bytes of JSON handled by one op (compact form)."""
        if self.json_size is not None:
            return self.json_size
        if self.data is not None:
            return sum(map(len, self.data)) if self.many else len(self.data)
        source = self.obj if self.expected is None else self.expected
        items = source if self.many else [source]
        return sum(len(_compact(o)) for o in items)


def _compact(obj: Any) -> bytes:
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode()


def corpus_workloads(corpus_dir: Path) -> list[Workload]:
    out = []
    for path in sorted(corpus_dir.glob("*.json")):
        data = path.read_bytes()
        out.append(Workload(path.stem, obj=json.loads(data), data=data, note="corpus file"))
    return out


# --- synthetic documents -------------------------------------------------

_WORDS = [
    "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
    "india", "juliet", "kilo", "lima", "mike", "november", "oscar", "papa",
]


def _small_doc(rng: random.Random, i: int) -> dict:
    return {
        "id": i,
        "uuid": "%032x" % rng.getrandbits(128),
        "name": " ".join(rng.choice(_WORDS).capitalize() for _ in range(2)),
        "email": f"user{i}@example.org",
        "active": rng.random() < 0.5,
        "score": round(rng.uniform(0, 100), 3),
        "balance": rng.randint(-10**6, 10**9),
        "tags": [rng.choice(_WORDS) for _ in range(rng.randint(1, 5))],
        "address": {
            "street": f"{rng.randint(1, 999)} {rng.choice(_WORDS).title()} Street",
            "city": rng.choice(_WORDS).title(),
            "zip": f"{rng.randint(0, 99999):05d}",
        },
        "parent": None if i % 3 else i // 3,
    }


def small_documents(count: int = 10_000) -> Workload:
    rng = random.Random(1)
    objs = [_small_doc(rng, i) for i in range(count)]
    return Workload(
        "small_docs_10k", obj=objs, data=[_compact(o) for o in objs], many=True,
        note=f"{count} documents of ~300 bytes; times are per document",
    )


_ESCAPABLE = ['"', "\\", "\n", "\t", "\r", "\x01", "\x1f", "\b"]


def long_strings(percent: int, count: int = 16, length: int = 64 * 1024) -> Workload:
    rng = random.Random(100 + percent)
    plain = string.ascii_letters + string.digits + " .,:;-_/()"
    strs = []
    for _ in range(count):
        chars = rng.choices(plain, k=length)
        for pos in rng.sample(range(length), length * percent // 100):
            chars[pos] = rng.choice(_ESCAPABLE)
        strs.append("".join(chars))
    return Workload(
        f"strings_escape_{percent}pct", obj=strs, data=_compact(strs),
        note=f"{count} ASCII strings of {length // 1024} KiB, {percent}% escapable characters",
    )


def non_ascii_text(count: int = 48, length: int = 16 * 1024) -> Workload:
    rng = random.Random(7)
    alphabets = [
        "àáâãäåæçèéêëìíîïñòóôõöøùúûüýÿß" + string.ascii_lowercase,  # 1-byte kind
        "абвгдеёжзийклмнопрстуфхцчшщъыьэюя ",  # Cyrillic
        "的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年 ",  # CJK
        "😀😃😄😁😆😅🤣😂🙂🙃😉😊😇🥰😍🤩 abc",  # astral plane
    ]
    strs = ["".join(rng.choices(alphabets[i % len(alphabets)], k=length)) for i in range(count)]
    return Workload(
        "non_ascii_text", obj=strs, data=_compact(strs),
        note=f"{count} strings of {length // 1024}K characters: Latin-1, Cyrillic, CJK, emoji",
    )


def deep_nesting(levels: int = 200, width: int = 8) -> Workload:
    obj: Any = list(range(width))
    for i in range(levels - 1):
        obj = {"k": obj, "n": i} if i % 2 else [i, obj]
    return Workload("deep_nesting_200", obj=obj, data=_compact(obj),
                    note=f"{levels} levels, alternating dict and list")


def int_array(count: int = 100_000) -> Workload:
    rng = random.Random(3)
    ints = []
    for _ in range(count):
        bits = rng.choice((7, 16, 31, 53, 63))
        ints.append(rng.randint(-(2**bits), 2**bits - 1))
    return Workload("int_array_100k", obj=ints, data=_compact(ints),
                    note=f"{count} integers, 7 to 64 bits")


def float_array(count: int = 100_000) -> Workload:
    rng = random.Random(4)
    floats = []
    for i in range(count):
        kind = i % 4
        if kind == 0:
            floats.append(rng.random())
        elif kind == 1:
            floats.append(round(rng.uniform(-1000, 1000), 2))
        elif kind == 2:
            floats.append(rng.uniform(-1, 1) * 10.0 ** rng.randint(-300, 300))
        else:
            floats.append(rng.gauss(0, 1e6))
    return Workload("float_array_100k", obj=floats, data=_compact(floats),
                    note=f"{count} doubles: short decimals, full precision, wide exponents")


def package_index(count: int = 5_000) -> Workload:
    """A map of thousands of distinct package names to small records: keys
    that no cache has seen twice, values of URL-like strings."""
    rng = random.Random(11)
    index = {}
    for i in range(count):
        name = f"{rng.choice(_WORDS)}-{rng.choice(_WORDS)}-{i:05d}"
        index[name] = {
            "version": f"{rng.randint(0, 9)}.{rng.randint(0, 40)}.{rng.randint(0, 99)}",
            "url": f"https://files.example.org/packages/{rng.getrandbits(64):016x}/{name}-{i}.tar.gz",
            "size": rng.randint(1_000, 50_000_000),
            "yanked": rng.random() < 0.02,
        }
    return Workload("package_index_5k", obj=index, data=_compact(index),
                    note=f"{count} distinct package names mapped to records with URL strings")


def url_strings(count: int = 20_000) -> Workload:
    rng = random.Random(12)
    urls = [
        f"https://{rng.choice(_WORDS)}.example.com/{'/'.join(rng.choice(_WORDS) for _ in range(rng.randint(2, 6)))}"
        f"?id={rng.getrandbits(48)}&q={rng.choice(_WORDS)}%20{rng.choice(_WORDS)}#{rng.choice(_WORDS)}"
        for _ in range(count)
    ]
    return Workload("url_strings_20k", obj=urls, data=_compact(urls),
                    note=f"{count} URL-like strings of 40 to 120 bytes")


def mixed_numbers(count: int = 100_000) -> Workload:
    rng = random.Random(13)
    rows = [[rng.randint(0, 10**6), round(rng.uniform(-180, 180), 6), rng.randint(-500, 500), rng.random()]
            for _ in range(count // 4)]
    return Workload("mixed_numbers_100k", obj=rows, data=_compact(rows),
                    note=f"{count} numbers in rows of four: ints and floats mixed")


def tiny_documents(count: int = 10_000) -> Workload:
    rng = random.Random(14)
    objs = [{"id": i, "ok": rng.random() < 0.5, "name": rng.choice(_WORDS)} for i in range(count)]
    return Workload("tiny_docs_10k", obj=objs, data=[_compact(o) for o in objs], many=True,
                    note=f"{count} documents of ~40 bytes; times are per document")


def _record(rng: random.Random, i: int) -> dict:
    keys = [f"{rng.choice(_WORDS)}_{k}" for k in range(20)]
    rng.shuffle(keys)
    rec: dict[str, Any] = {}
    for n, k in enumerate(keys):
        r = n % 5
        if r == 0:
            rec[k] = rng.randint(0, 10**6)
        elif r == 1:
            rec[k] = rng.choice(_WORDS) * 2
        elif r == 2:
            rec[k] = rng.random()
        elif r == 3:
            rec[k] = {w: rng.randint(0, 99) for w in rng.sample(_WORDS, 4)}
        else:
            rec[k] = [i, None, True, rng.choice(_WORDS)]
    return rec


def dict_records(count: int = 2_000) -> list[Workload]:
    rng = random.Random(5)
    recs = [_record(rng, i) for i in range(count)]
    note = f"{count} records of 20 shuffled keys with nested dicts"
    return [
        Workload("dict_records", obj=recs, data=_compact(recs), note=note),
        Workload("dict_records+sort_keys", obj=recs, flags=frozenset({SORT_KEYS}), note=note),
        Workload("dict_records+indent_2", obj=recs, flags=frozenset({INDENT_2}), note=note),
    ]


# --- objects written natively without being JSON types ----------------------


def _datetimes(rng: random.Random, count: int, tz=None) -> list[datetime.datetime]:
    start = datetime.datetime(1990, 1, 1).timestamp()
    out = []
    for i in range(count):
        dt = datetime.datetime.fromtimestamp(start + rng.uniform(0, 40 * 365 * 86400))
        out.append(dt.replace(microsecond=rng.randrange(10**6) if i % 2 else 0, tzinfo=tz))
    return out


def _native(name: str, obj: Any, expected: Any, note: str, *flags: str) -> Workload:
    return Workload(name, obj=obj, expected=expected, flags=frozenset({NATIVE_TYPES, *flags}), note=note)


class _Color(enum.Enum):
    RED = 1
    GREEN = "green"
    BLUE = 3.5
    BLACK = None


@dataclass
class _Item:
    id: int
    name: str
    price: float
    active: bool


@dataclass(slots=True)
class _SlotItem:
    id: int
    name: str
    price: float
    active: bool


def native_type_workloads(count: int = 100_000) -> list[Workload]:
    rng = random.Random(11)
    naive = _datetimes(rng, count)
    utc = _datetimes(rng, count, datetime.timezone.utc)
    paris = zoneinfo.ZoneInfo("Europe/Paris")
    zoned = _datetimes(rng, count, paris)
    uuids = [uuid.UUID(int=rng.getrandbits(128)) for _ in range(count)]
    members = [rng.choice(list(_Color)) for _ in range(count)]
    rows = [(i, rng.choice(_WORDS), round(rng.uniform(0, 100), 2), i % 3 == 0) for i in range(count)]
    int_keys = {rng.randint(-2**40, 2**40): i for i in range(10_000)}
    dt_keys = dict(zip(_datetimes(rng, 10_000), range(10_000)))
    fields = ("id", "name", "price", "active")
    return [
        _native("datetime_naive_100k", naive, [d.isoformat() for d in naive],
                f"{count} naive datetimes, half with microseconds"),
        _native("datetime_utc_100k", utc, [d.isoformat().replace("+00:00", "Z") for d in utc],
                f"{count} datetimes in datetime.timezone.utc, written with Z", UTC_Z),
        _native("datetime_zoneinfo_100k", zoned, [d.isoformat() for d in zoned],
                f"{count} datetimes in zoneinfo Europe/Paris"),
        _native("uuid_100k", uuids, [str(u) for u in uuids], f"{count} uuid.UUID"),
        _native("enum_100k", members, [m.value for m in members],
                f"{count} members of an Enum with int, str, float and None values"),
        _native("dataclass_100k", [_Item(*r) for r in rows], [dict(zip(fields, r)) for r in rows],
                f"{count} dataclass instances of 4 fields"),
        _native("dataclass_slots_100k", [_SlotItem(*r) for r in rows], [dict(zip(fields, r)) for r in rows],
                f"{count} dataclass instances of 4 fields, slots=True"),
        _native("dict_int_keys_10k", int_keys, {str(k): v for k, v in int_keys.items()},
                "a dict of 10000 int keys", NON_STR_KEYS),
        _native("dict_datetime_keys_10k", dt_keys, {k.isoformat(): v for k, v in dt_keys.items()},
                "a dict of 10000 naive datetime keys", NON_STR_KEYS),
    ]


def _decimal_check(values: list) -> Callable[[bytes, str], str | None]:
    def check(out: bytes, lib: str) -> str | None:
        try:
            got = json.loads(out, parse_float=decimal.Decimal)
        except ValueError as e:
            return f"invalid JSON: {e}"[:120]
        # The same values, read exactly (an integral one may be written as an int).
        if len(got) != len(values) or any(decimal.Decimal(g) != v for g, v in zip(got, values)):
            return "values differ"
        return None

    return check


def decimal_workloads(corpus_dir: Path, count: int = 100_000) -> list[Workload]:
    """Decimals written exactly, and the float_array and canada documents
    read with every number that is no int as a Decimal."""
    floats = float_array(count)
    # Each double's shortest text as a Decimal: 1 to 17 digits, wide exponents.
    values = [decimal.Decimal(repr(x)) for x in floats.obj]
    out = [Workload(f"decimal_{count // 1000}k", obj=values, flags=frozenset({DECIMAL}), check=_decimal_check(values),
                    json_size=len(_compact(floats.obj)),
                    note=f"{count} decimal.Decimal, the digits of float_array's doubles")]
    documents = [(floats.name, floats.data)]
    canada = corpus_dir / "canada.json"
    if canada.exists():
        documents.append(("canada", canada.read_bytes()))
    for name, data in documents:
        out.append(Workload(f"{name}+decimal", data=data, flags=frozenset({DECIMAL}),
                            note="every number with a fraction or exponent read as decimal.Decimal"))
    return out


def synthetic_workloads() -> list[Workload]:
    return [
        small_documents(),
        tiny_documents(),
        package_index(),
        url_strings(),
        mixed_numbers(),
        long_strings(0),
        long_strings(1),
        long_strings(10),
        non_ascii_text(),
        deep_nesting(),
        int_array(),
        float_array(),
        *dict_records(),
        *native_type_workloads(),
    ]


# --- numpy ---------------------------------------------------------------
#
# Values come from splitmix64 over 0, 1, 2, ... so that the C++ benchmark of
# the float formatter (bench/number_format_bench.cpp) can produce exactly the
# same ones.


def splitmix64(count: int, seed: int):
    import numpy as np

    with np.errstate(over="ignore"):
        z = (np.arange(count, dtype=np.uint64) + np.uint64(seed)) * np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        return z ^ (z >> np.uint64(31))


def uniform_f64(count: int, seed: int):
    """Doubles in [0, 1) with all 53 bits random (mostly 16-17 digits)."""
    import numpy as np

    return (splitmix64(count, seed) >> np.uint64(11)).astype(np.float64) * 2.0**-53


def uniform_f32(count: int, seed: int):
    """Singles in [0, 1) with all 24 bits random."""
    import numpy as np

    return ((splitmix64(count, seed) >> np.uint64(40)).astype(np.float32) * np.float32(2.0**-24)).astype(np.float32)


def _array_check(array) -> Callable[[bytes, str], str | None]:
    """vellum must give what the array's elements give as Python values
    (singles compared as singles, datetime64 as its own texts); the peers,
    which get tolist(), must give tolist()."""
    import numpy as np

    reference = array.tolist()

    def check(out: bytes, lib: str) -> str | None:
        try:
            got = json.loads(out)
        except ValueError as e:
            return f"invalid JSON: {e}"[:120]
        if lib == "vellum" and array.dtype.kind == "M":
            want = [t.removesuffix(".000000") for t in np.datetime_as_string(array, unit="us").tolist()]
            return None if got == want else "datetime64 texts differ"
        if lib == "vellum" and array.dtype == np.float32:
            same = np.array_equal(np.array(got, dtype=np.float32), array)
            return None if same else "singles differ"
        return None if got == reference else "value differs from tolist()"

    return check


def _numpy_array(name: str, array, note: str) -> Workload:
    return Workload(name, obj=array, flags=frozenset({NUMPY}), peer_arg="x.tolist()", check=_array_check(array),
                    json_size=len(_compact(array.tolist())), note=note + "; peers get x.tolist()")


def _numpy_scalars(count: int = 10_000) -> Workload:
    import numpy as np

    kinds = [np.float64, np.float32, np.float16, np.int64, np.int32, np.int16, np.int8,
             np.uint64, np.uint32, np.uint16, np.uint8, np.bool_]
    bits = splitmix64(count, 90)
    obj = {}
    for i in range(count):
        kind = kinds[i % len(kinds)]
        raw = int(bits[i])
        if kind in (np.float64, np.float32, np.float16):
            value = kind((raw >> 11) * 2.0**-53 * 1000)
        elif kind is np.bool_:
            value = np.bool_(raw & 1)
        else:
            value = kind(raw % (np.iinfo(kind).max + 1) + (np.iinfo(kind).min if np.iinfo(kind).min else 0))
        obj[f"key{i}"] = value
    plain = {k: v.item() for k, v in obj.items()}

    def check(out: bytes, lib: str) -> str | None:
        got = json.loads(out)
        if lib != "vellum":
            return None if got == plain else "value differs from item()"
        for k, v in obj.items():
            if type(v) in (np.float32, np.float16):
                if np.float32(got[k]) != np.float32(v):
                    return f"{k}: single differs"
            elif got[k] != plain[k]:
                return f"{k}: differs"
        return None

    return Workload("numpy_scalars_dict_10k", obj=obj, flags=frozenset({NUMPY}),
                    peer_arg="{k: v.item() for k, v in x.items()}", check=check, json_size=len(_compact(plain)),
                    note=f"dict of {count} numpy scalars of twelve types; peers get item() of each")


def numpy_workloads() -> list[Workload]:
    try:
        import numpy as np
    except ImportError:
        return []
    n = 1_000_000
    bits = splitmix64(n, 20)
    magnitude = bits >> (np.uint64(1) + bits % np.uint64(57))  # 7 to 63 bits
    int64 = np.where(bits & np.uint64(1 << 63), -magnitude.astype(np.int64), magnitude.astype(np.int64))
    # 1970 to about 2100, in nanoseconds.
    stamps = (splitmix64(100_000, 80) % np.uint64(130 * 365 * 86400 * 10**9)).astype(np.int64).astype("M8[ns]")
    return [
        _numpy_array("numpy_float64_1m", uniform_f64(n, 10), "1M float64 in [0, 1), 53 random bits"),
        _numpy_array("numpy_float32_1m", uniform_f32(n, 11), "1M float32 in [0, 1), 24 random bits"),
        _numpy_array("numpy_int64_1m", int64, "1M int64 of 7 to 63 bits"),
        _numpy_array("numpy_int32_1m", (splitmix64(n, 30) >> np.uint64(32)).astype(np.uint32).view(np.int32),
                     "1M int32 over the whole range"),
        _numpy_array("numpy_uint8_1m", (splitmix64(n, 40) >> np.uint64(56)).astype(np.uint8), "1M uint8"),
        _numpy_array("numpy_bool_1m", (splitmix64(n, 50) >> np.uint64(63)).astype(bool), "1M bool"),
        _numpy_array("numpy_float64_1000x1000", uniform_f64(n, 60).reshape(1000, 1000),
                     "1000 x 1000 float64 in [0, 1)"),
        _numpy_array("numpy_datetime64ns_100k", stamps, "100k datetime64[ns], 1970 to 2100"),
        _numpy_array("numpy_float32_100000x3", uniform_f32(300_000, 70).reshape(100_000, 3),
                     "100000 x 3 float32 in [0, 1)"),
        _numpy_scalars(),
    ]


def all_workloads(corpus_dir: Path) -> list[Workload]:
    return corpus_workloads(corpus_dir) + synthetic_workloads() + decimal_workloads(corpus_dir) + numpy_workloads()


# --- memory document -----------------------------------------------------

def memory_document(target_bytes: int = 100 * 1024 * 1024) -> list:
    """A ~target_bytes document (compact JSON) of mixed records.

    Built in place rather than parsed so that building it leaves no parser
    peak behind in the measuring process.
    """
    rng = random.Random(9)
    per_record = 330  # compact size of one record, measured
    out = []
    for i in range(target_bytes // per_record):
        out.append({
            "id": i,
            "name": f"{_WORDS[i % 16]} {_WORDS[(i * 7) % 16]}",
            "score": rng.random() * 1000,
            "count": rng.randint(0, 2**40),
            "active": bool(i & 1),
            "tags": [_WORDS[(i + k) % 16] for k in range(4)],
            "text": "lorem ipsum dolor sit amet, consectetur adipiscing elit é ü 中文",
            "nested": {"a": i % 97, "b": [1.5, 2.25, None], "c": "x" * (i % 32)},
            "values": [rng.randint(-1000, 1000) for _ in range(8)],
        })
    return out
