"""numpy scalars under OPT_SERIALIZE_NUMPY, read from the objects' memory, and
datetime64 texts and messages (scalars and arrays alike)."""

import json
import sys

import pytest

np = pytest.importorskip("numpy")

import vellum  # noqa: E402
from vellum import JSONEncodeError  # noqa: E402

from support import CALENDAR_UNITS, datetime64_text, single_text, unrepresentable, unsupported  # noqa: E402
from support import numpy_dumps as dumps  # noqa: E402
from support import numpy_encode_error as encode_error  # noqa: E402
from support import numpy_fails as fails  # noqa: E402

I64_MIN, I64_MAX = -(2**63), 2**63 - 1


@pytest.mark.parametrize(
    "value, text",
    [
        (np.float64(1.5), "1.5"),
        (np.float64(0.1), "0.1"),
        (np.float64(-0.0), "-0.0"),
        (np.float64(1e16), "1e+16"),
        (np.float64("nan"), "null"),
        (np.float64("-inf"), "null"),
        (np.float32(0.1), "0.1"),
        (np.float32(1e-7), "1e-7"),
        (np.float32(1e13), "1e+13"),
        (np.float32("inf"), "null"),
        (np.float16(0.1), "0.099975586"),
        (np.float16(65504), "65504.0"),
        (np.float16(-0.0), "-0.0"),
        (np.float16(2.0**-24), "5.9604645e-8"),
        (np.float16("nan"), "null"),
        (np.float16("-inf"), "null"),
        (np.int8(-1), "-1"),
        (np.int8(-128), "-128"),
        (np.int8(127), "127"),
        (np.int16(-32768), "-32768"),
        (np.int32(-(2**31)), "-2147483648"),
        (np.int32(2**31 - 1), "2147483647"),
        (np.int64(I64_MIN), "-9223372036854775808"),
        (np.int64(I64_MAX), "9223372036854775807"),
        (np.int64(0), "0"),
        (np.uint8(255), "255"),
        (np.uint16(65535), "65535"),
        (np.uint32(2**32 - 1), "4294967295"),
        (np.uint64(2**64 - 1), "18446744073709551615"),
        (np.bool_(True), "true"),
        (np.bool_(False), "false"),
    ],
    ids=repr,
)
def test_scalar_text(value, text):
    assert dumps(value) == text.encode()
    # Inside containers, and indented, it is the same token.
    assert dumps([value, {"k": value}]) == f'[{text},{{"k":{text}}}]'.encode()
    assert dumps([value], vellum.OPT_INDENT_2) == f"[\n  {text}\n]".encode()


@pytest.mark.parametrize("dtype", [np.float16, np.float32])
def test_random_half_and_single_scalars_are_shortest_single_text(dtype):
    rng = np.random.default_rng(12)
    bits = rng.integers(0, 2 ** (8 * np.dtype(dtype).itemsize), 2000, dtype=np.uint64)
    values = bits.astype(np.uint16 if dtype is np.float16 else np.uint32).view(dtype)
    for v in values:
        assert dumps(v).decode() == single_text(v), v


def test_float64_scalars_match_python_floats():
    rng = np.random.default_rng(13)
    for v in rng.integers(0, 2**64, 2000, dtype=np.uint64).view(np.float64):
        assert dumps(v) == vellum.dumps(float(v))


def test_integer_scalars_match_python_ints():
    rng = np.random.default_rng(14)
    for dtype in (np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16, np.uint32, np.uint64):
        info = np.iinfo(dtype)
        for v in rng.integers(info.min, info.max, 300, dtype=dtype, endpoint=True):
            assert dumps(v) == vellum.dumps(int(v)), (dtype, v)


def test_scalars_go_to_default_without_the_option():
    for value in (np.float64(1.5), np.int32(3), np.bool_(True), np.datetime64(0, "s")):
        with pytest.raises(JSONEncodeError) as info:
            vellum.dumps(value)
        assert str(info.value) == f"Type is not JSON serializable: numpy.{type(value).__name__}"
        assert vellum.dumps(value, default=lambda v: "seen") == b'"seen"'


def test_other_numpy_scalar_types_go_to_default():
    # Same widths as supported types, but distinct scalar types.
    for value in (np.longlong(5), np.ulonglong(5), np.complex128(1j), np.str_("s"), np.timedelta64(1, "s")):
        if type(value) in (np.int64, np.uint64):
            continue  # an alias on this platform
        got = dumps(value, default=lambda v: ["default", type(v).__name__])
        if isinstance(value, str):
            assert got == b'"s"'  # a str subclass
        else:
            assert json.loads(got) == ["default", type(value).__name__]


# --- datetime64 ----------------------------------------------------------


@pytest.mark.parametrize(
    "count, unit, option, text",
    [
        (0, "s", 0, "1970-01-01T00:00:00"),
        (0, "s", vellum.OPT_NAIVE_UTC, "1970-01-01T00:00:00+00:00"),
        (0, "s", vellum.OPT_NAIVE_UTC | vellum.OPT_UTC_Z, "1970-01-01T00:00:00Z"),
        (0, "s", vellum.OPT_UTC_Z, "1970-01-01T00:00:00"),
        (1500, "ns", 0, "1970-01-01T00:00:00.000001"),
        (999, "ns", 0, "1970-01-01T00:00:00"),
        (1, "ms", 0, "1970-01-01T00:00:00.001000"),
        (1, "ms", vellum.OPT_OMIT_MICROSECONDS, "1970-01-01T00:00:00"),
        (1, "ms", vellum.OPT_OMIT_MICROSECONDS | vellum.OPT_NAIVE_UTC | vellum.OPT_UTC_Z, "1970-01-01T00:00:00Z"),
        (-1, "M", 0, "1969-12-01T00:00:00"),
        (-1, "D", 0, "1969-12-31T00:00:00"),
        (-1, "ms", 0, "1969-12-31T23:59:59.999000"),
        (-1, "us", 0, "1969-12-31T23:59:59.999999"),
        (-1, "ns", 0, "1969-12-31T23:59:59.999999"),
        (2932895, "D", 0, "9999-12-30T00:00:00"),
        (8029, "Y", 0, "9999-01-01T00:00:00"),
        (-719528, "D", 0, "0000-01-01T00:00:00"),
        (-1970, "Y", 0, "0000-01-01T00:00:00"),
        (11016, "D", 0, "2000-02-29T00:00:00"),
        (-25567, "D", 0, "1900-01-01T00:00:00"),
        (1, "W", 0, "1970-01-08T00:00:00"),
        (25, "h", 0, "1970-01-02T01:00:00"),
        (-61, "m", 0, "1969-12-31T22:59:00"),
        (I64_MAX, "ns", 0, "2262-04-11T23:47:16.854775"),
        (I64_MIN + 1, "ns", 0, "1677-09-21T00:12:43.145224"),
    ],
)
def test_datetime64_text(count, unit, option, text):
    want = f'"{text}"'.encode()
    assert dumps(np.datetime64(count, unit), option) == want
    assert dumps(np.array([count], dtype=f"M8[{unit}]"), option) == b"[" + want + b"]"


# The accepted range is 0000-01-01T00:00:00 to 9999-12-30T22:00:00; the first
# count on each side of each edge, per unit.
BOUNDARIES = {
    "Y": (-1970, 8029),
    "M": (-1970 * 12, 8030 * 12 - 1),
    "W": (-102789, 418985),
    "D": (-719528, 2932895),
    "h": (-17268672, 70389502),
    "m": (-1036120320, 4223370120),
    "s": (-62167219200, 253402207200),
    "ms": (-62167219200000, 253402207200000),
    "us": (-62167219200000000, 253402207200000000),
}


def extreme_cases() -> list:
    params = []
    for unit in CALENDAR_UNITS:
        low, high = BOUNDARIES.get(unit, (None, None))
        cases = [(I64_MAX, unit == "ns"), (I64_MIN + 1, unit == "ns"), (I64_MIN, False)]
        if low is not None:
            cases += [(low, True), (low - 1, False), (high, True), (high + 1, False)]
        params += [pytest.param(count, unit, accepted, id=f"{unit}:{count}") for count, accepted in cases]
    return params


@pytest.mark.parametrize("count, unit, accepted", extreme_cases())
def test_datetime64_extremes_never_wrap(count, unit, accepted):
    scalar, array = np.datetime64(count, unit), np.array([[count]], dtype=f"M8[{unit}]")
    for obj, wrap in ((scalar, lambda t: t), (array, lambda t: f"[[{t}]]")):
        if accepted:
            assert dumps(obj).decode() == wrap(datetime64_text(count, unit))
        else:
            assert str(encode_error(obj)) == unrepresentable(count, unit)


def test_boundary_texts():
    assert dumps(np.datetime64(253402207200, "s")) == b'"9999-12-30T22:00:00"'
    assert dumps(np.datetime64(96359, "M")) == b'"9999-12-01T00:00:00"'
    assert dumps(np.datetime64(-23640, "M")) == b'"0000-01-01T00:00:00"'
    assert str(encode_error(np.datetime64(2932896, "D"))) == "unrepresentable numpy.datetime64: 2932896 days"
    assert str(encode_error(np.datetime64(8030, "Y"))) == "unrepresentable numpy.datetime64: 8030 years"
    assert str(encode_error(np.datetime64(-719529, "D"))) == "unrepresentable numpy.datetime64: -719529 days"


def test_nat_is_never_a_date():
    for unit in CALENDAR_UNITS:
        nat = np.datetime64("NaT", unit)
        assert str(encode_error(nat)) == unrepresentable(I64_MIN, unit)
        assert str(encode_error(np.array([0, nat], dtype=f"M8[{unit}]"))) == unrepresentable(I64_MIN, unit)
    assert str(encode_error(np.datetime64(I64_MIN, "D"))) == "unrepresentable numpy.datetime64: -9223372036854775808 days"


@pytest.mark.parametrize(
    "unit, name",
    [("ps", "picoseconds"), ("fs", "femtoseconds"), ("as", "attoseconds")],
)
def test_units_finer_than_nanoseconds_are_unsupported(unit, name):
    for count in (0, 1, -1):
        assert str(encode_error(np.datetime64(count, unit))) == unsupported(name)
        assert str(encode_error(np.array([count], dtype=f"M8[{unit}]"))) == unsupported(name)
        # The array's failure is its values': default is not consulted.
        assert str(encode_error(np.array([count], dtype=f"M8[{unit}]"), default=lambda a: 1)) == unsupported(name)
    assert dumps(np.array([], dtype=f"M8[{unit}]")) == b"[]"


@pytest.mark.filterwarnings("ignore:The 'generic' unit:DeprecationWarning")
def test_generic_nat_is_unsupported():
    generic = np.datetime64("NaT")
    assert str(encode_error(generic)) == unsupported("generic")
    assert str(encode_error(np.array([generic]))) == unsupported("generic")


@pytest.mark.parametrize("unit", ["10s", "2W", "25h", "1000000ns", "7D", "3M"])
def test_units_with_a_multiplier_fail_cleanly(unit):
    scalar = np.datetime64(1, unit)
    assert str(encode_error(scalar)) == unsupported(unit)
    array = np.array([1, 2], dtype=f"M8[{unit}]")
    assert str(encode_error(array)) == unsupported(unit)
    assert str(encode_error(np.array([], dtype=f"M8[{unit}]"))) == unsupported(unit)
    # An array takes the default fallback first; a scalar's unit is its value's.
    seen = []
    assert dumps(array, default=lambda a: seen.append(a) or "fallback") == b'"fallback"'
    assert seen[0] is array
    assert str(encode_error(scalar, default=lambda v: "fallback")) == unsupported(unit)


def test_datetime64_failure_in_a_two_dimensional_array():
    a = np.array([[0, 1], [2, 2932896]], dtype="M8[D]")
    assert str(encode_error(a)) == "unrepresentable numpy.datetime64: 2932896 days"
    assert str(encode_error({"a": [a]}, vellum.OPT_INDENT_2)) == "unrepresentable numpy.datetime64: 2932896 days"


@pytest.mark.parametrize("unit", CALENDAR_UNITS)
@pytest.mark.parametrize("option", [0, vellum.OPT_NAIVE_UTC, vellum.OPT_NAIVE_UTC | vellum.OPT_UTC_Z, vellum.OPT_OMIT_MICROSECONDS])
def test_random_datetime64_values(unit, option):
    rng = np.random.default_rng(sum(map(ord, unit)) + option)
    low, high = BOUNDARIES.get(unit, (I64_MIN + 1, I64_MAX))
    counts = rng.integers(low, high, 300, endpoint=True)
    array = counts.astype(f"M8[{unit}]")
    want = [datetime64_text(int(c), unit, option) for c in counts]
    assert dumps(array, option) == ("[" + ",".join(want) + "]").encode()
    for c, text in zip(array[:20], want):
        assert dumps(c, option) == text.encode()


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread may hold references a while
def test_datetime64_reference_counts():
    ok, bad, unlisted = np.datetime64(5, "s"), np.datetime64(2932896, "D"), np.datetime64(1, "10s")
    arrays = [np.array([1], dtype="M8[s]"), np.array([2932896], dtype="M8[D]"), np.array([1], dtype="M8[10s]")]
    tracked = [ok, bad, unlisted, *arrays]
    before = [sys.getrefcount(o) for o in tracked]
    failed = []
    for _ in range(50):
        dumps([ok])
        dumps(arrays[0])
        dumps(arrays[2], default=lambda a: None)
        failed += map(fails, (bad, unlisted, arrays[1], arrays[2]))
    assert all(failed)
    assert [sys.getrefcount(o) for o in tracked] == before


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
def test_scalar_reference_counts():
    values = [np.float64(1.5), np.float32(2.5), np.float16(3.5), np.int64(-7), np.uint8(9), np.bool_(True)]
    before = [sys.getrefcount(v) for v in values]
    for _ in range(50):
        dumps(values)
        dumps({"k": values}, vellum.OPT_INDENT_2)
    assert [sys.getrefcount(v) for v in values] == before


def test_every_day_of_the_range():
    first, last = BOUNDARIES["D"]
    for start in range(first, last + 1, 400_000):
        days = np.arange(start, min(start + 400_000, last + 1), dtype=np.int64).astype("M8[D]")
        want = '["' + 'T00:00:00","'.join(np.datetime_as_string(days).tolist()) + 'T00:00:00"]'
        assert dumps(days) == want.encode()
