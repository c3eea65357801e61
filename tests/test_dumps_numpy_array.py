"""numpy arrays under OPT_SERIALIZE_NUMPY: written from their memory exactly as
the equivalent nested lists, in both layouts, with the checks, failures and
`default` fallbacks of arrays that cannot be written natively."""

import functools
import json
import sys

import pytest

np = pytest.importorskip("numpy")

import vellum  # noqa: E402
from vellum import JSONEncodeError  # noqa: E402

from support import CALENDAR_UNITS, NUMPY, datetime64_text, single_text  # noqa: E402
from support import numpy_dumps as dumps  # noqa: E402
from support import numpy_encode_error as encode_error  # noqa: E402
from support import numpy_fails as fails  # noqa: E402

INDENT = vellum.OPT_INDENT_2

NOT_CONTIGUOUS = "numpy array is not C contiguous; use ndarray.tolist() in default"
NOT_NATIVE = "numpy array is not native-endianness"
UNSUPPORTED = "unsupported datatype in numpy array"


def nested(array, leaf):
    """The array as nested lists, each element mapped by leaf."""
    if array.ndim == 1:
        return [leaf(x) for x in array]
    return [nested(sub, leaf) for sub in array]


def expected(array, option):
    """What the array must give: dumps of its nested lists, where each
    element is the Python value tolist() gives it or, for the types that
    have none with the same text, a Fragment of its independently built
    text."""
    kind = array.dtype.kind
    if kind in "fc" and array.dtype.itemsize < 8:
        return vellum.dumps(nested(array, lambda x: vellum.Fragment(single_text(x))), option=option)
    if kind == "M":
        unit = np.datetime_data(array.dtype)[0]
        leaf = lambda x: vellum.Fragment(datetime64_text(int(x.view(np.int64)), unit, option))  # noqa: E731
        return vellum.dumps(nested(array, leaf), option=option)
    return vellum.dumps(array.tolist(), option=option)


SHAPES = [(0,), (1,), (7,), (33,), (3, 4), (2, 0), (0, 3), (1, 1), (2, 0, 3), (2, 3, 4), (3, 1, 2),
          (1, 1, 1, 1), (2, 3, 1, 2), (3, 0, 2, 2), (2, 2, 3, 5)]
NUMBER_DTYPES = ["bool", "float16", "float32", "float64", "int8", "int16", "int32", "int64",
                 "uint8", "uint16", "uint32", "uint64"]


def random_array(dtype, shape, rng):
    dtype = np.dtype(dtype)
    size = int(np.prod(shape))
    if dtype.kind == "b":
        return rng.integers(0, 2, size).astype(bool).reshape(shape)
    if dtype.kind == "f":
        # Every bit pattern (NaNs, infinities, subnormals, both zeros) and
        # a share of ordinary values.
        bits = rng.integers(0, 2 ** (8 * dtype.itemsize), size, dtype=np.uint64, endpoint=False)
        values = bits.astype(f"u{dtype.itemsize}").view(dtype)
        with np.errstate(over="ignore"):  # float16 overflows to infinity
            ordinary = (rng.random(size) * 10.0 ** rng.integers(-8, 8, size)).astype(dtype)
        return np.where(rng.random(size) < 0.5, values, ordinary).reshape(shape)
    if dtype.kind == "M":
        unit = np.datetime_data(dtype)[0]
        low, high = {"Y": (-1970, 8029), "M": (-23640, 96359), "W": (-102789, 418985), "D": (-719528, 2932895),
                     "h": (-17268672, 70389502), "m": (-1036120320, 4223370120)}.get(unit, (-(2**62), 2**62))
        if unit in ("s", "ms", "us"):
            scale = {"s": 1, "ms": 10**3, "us": 10**6}[unit]
            low, high = -62167219200 * scale, 253402207200 * scale
        return rng.integers(low, high, size, endpoint=True).astype(dtype).reshape(shape)
    info = np.iinfo(dtype)
    return rng.integers(info.min, info.max, size, dtype=dtype, endpoint=True).reshape(shape)


@pytest.mark.parametrize("dtype", NUMBER_DTYPES + [f"M8[{u}]" for u in CALENDAR_UNITS])
@pytest.mark.parametrize("option", [0, INDENT], ids=["compact", "indent"])
def test_random_arrays_equal_their_nested_lists(dtype, option):
    rng = np.random.default_rng(abs(hash((dtype, option))) % 2**32)
    for shape in SHAPES:
        array = random_array(dtype, shape, rng)
        assert dumps(array, option) == expected(array, option), (dtype, shape)


@pytest.mark.parametrize("dtype", NUMBER_DTYPES)
def test_arrays_inside_containers(dtype):
    rng = np.random.default_rng(7)
    a, b = random_array(dtype, (2, 3), rng), random_array(dtype, (4,), rng)
    for option in (0, INDENT):
        obj = {"a": [a, {"b": b}], "c": [], "d": a[:0]}
        want = vellum.dumps({"a": [json.loads(expected(a, 0)), {"b": json.loads(expected(b, 0))}], "c": [], "d": []},
                            option=option)
        if a.dtype.kind == "f" and a.dtype.itemsize < 8:
            assert json.loads(dumps(obj, option)) == json.loads(want)
        else:
            assert dumps(obj, option) == want


@pytest.mark.parametrize(
    "array, text",
    [
        (np.array([1.0, np.nan, np.inf, -np.inf]), "[1.0,null,null,null]"),
        (np.array([-128, 127], dtype=np.int8), "[-128,127]"),
        (np.array([2**64 - 1, 0], dtype=np.uint64), "[18446744073709551615,0]"),
        (np.array([-(2**63), 2**63 - 1], dtype=np.int64), "[-9223372036854775808,9223372036854775807]"),
        (np.array([0.1], dtype=np.float16), "[0.099975586]"),
        (np.array([0.1], dtype=np.float32), "[0.1]"),
        (np.array([True, False]), "[true,false]"),
        (np.zeros(0), "[]"),
        (np.zeros((0, 3)), "[]"),
        (np.zeros((2, 0)), "[[],[]]"),
        (np.zeros((2, 0, 3)), "[[],[]]"),
        (np.zeros((1, 2, 0)), "[[[],[]]]"),
        (np.arange(4).reshape(2, 2), "[[0,1],[2,3]]"),
        (np.arange(1, 9).reshape(2, 2, 2)[1:], "[[[5,6],[7,8]]]"),
        (np.arange(10)[3:6], "[3,4,5]"),
        (np.arange(12).reshape(4, 3)[1:3], "[[3,4,5],[6,7,8]]"),
        (np.arange(6).reshape(2, 3)[:, :3], "[[0,1,2],[3,4,5]]"),
        (np.arange(3)[:, None], "[[0],[1],[2]]"),
        (np.arange(3)[None, :], "[[0,1,2]]"),
    ],
    ids=lambda v: v if isinstance(v, str) else str(v.shape),
)
def test_array_text(array, text):
    assert dumps(array) == text.encode()


def test_indented_array_is_the_indented_list():
    array = np.array([[1, 2], [3, 4]])
    assert dumps(array, INDENT) == vellum.dumps([[1, 2], [3, 4]], option=INDENT)
    assert dumps({"a": array, "b": [array[:0], np.zeros((2, 0))]}, INDENT) == vellum.dumps(
        {"a": [[1, 2], [3, 4]], "b": [[], [[], []]]}, option=INDENT)


def test_bool_elements_are_true_only_for_the_byte_one():
    raw = np.frombuffer(bytes([0, 1, 2, 255, 1]), dtype=np.bool_)
    assert dumps(raw) == b"[false,true,false,false,true]"


def test_every_half_value():
    halves = np.arange(65536, dtype=np.uint16).view(np.float16)
    got = json.loads(dumps(halves))
    want = [None if not np.isfinite(h) else h for h in halves]
    assert len(got) == 65536
    for g, h in zip(got, want):
        assert (g is None and h is None) or np.float32(g) == np.float32(h)
    assert dumps(halves) == expected(halves, 0)


def test_unaligned_elements():
    # A view at an odd offset into a byte buffer: the elements are read
    # wherever they lie.
    raw = bytearray(1 + 8 * 5)
    values = np.array([1.5, -2.25, 3e300, 0.1, -0.0])
    raw[1:] = values.tobytes()
    view = np.frombuffer(raw, dtype=np.float64, offset=1)
    assert not view.flags.aligned
    assert dumps(view) == dumps(values) == vellum.dumps(values.tolist())


# --- arrays that are not written natively --------------------------------


def not_contiguous():
    a = np.arange(12, dtype=np.int64).reshape(3, 4)
    return [a.T, a[:, 1], a[::2], np.asfortranarray(a), np.arange(10)[::3], a[:, ::2]]


@pytest.mark.parametrize("array", not_contiguous(), ids=lambda a: str(a.strides))
def test_not_contiguous(array):
    assert not array.flags.c_contiguous
    assert str(encode_error(array)) == NOT_CONTIGUOUS
    seen = []

    def default(obj):
        seen.append(obj)
        return obj.tolist()

    assert dumps(array, default=default) == vellum.dumps(array.tolist())
    assert seen == [array] and seen[0] is array


def test_fortran_order_with_one_row_or_column_is_contiguous():
    for array in (np.asfortranarray(np.arange(3).reshape(1, 3)), np.asfortranarray(np.arange(3).reshape(3, 1))):
        assert dumps(array) == vellum.dumps(array.tolist())


@pytest.mark.parametrize("dtype", [">i4", ">f8", ">u2", ">f2", ">M8[s]", ">i8"])
def test_not_native_endian_fails_even_with_default(dtype):
    array = np.array([1, 2, 3]).astype(dtype)
    assert str(encode_error(array)) == NOT_NATIVE
    called = []
    assert str(encode_error(array, default=lambda a: called.append(a) or 1)) == NOT_NATIVE
    assert called == []


def test_single_bytes_have_no_byte_order():
    for dtype in ("|u1", "|i1", "|b1"):
        array = np.array([1, 0, 1]).astype(dtype)
        assert dumps(array) == vellum.dumps(array.tolist())


def unsupported_arrays():
    return [
        np.array([1 + 2j]),
        np.array([1 + 2j], dtype=np.complex64),
        np.array(["text"]),
        np.array([b"bytes"]),
        np.array([object()], dtype=object),
        np.array([1, 2], dtype="m8[s]"),
        np.array([1.5], dtype=np.longdouble),
        np.zeros((2, 2), dtype="V8"),
        np.array(5),
        np.array(1.5),
        np.array(np.datetime64(0, "s")),
        np.zeros((3, 0), dtype=complex),
    ]


@pytest.mark.parametrize("array", unsupported_arrays(), ids=lambda a: f"{a.dtype}{a.shape}")
def test_unsupported_types_and_zero_dimensions(array):
    assert str(encode_error(array)) == UNSUPPORTED
    assert dumps([array], default=lambda a: ["fallback", a.ndim]) == f'[["fallback",{array.ndim}]]'.encode()


@pytest.mark.parametrize(
    "records,listed",
    [
        (np.zeros(2, dtype=[("a", "i4"), ("b", "f8")]), b"[[0,0.0],[0,0.0]]"),
        # Not contiguous as well: still its element type is reported.
        (np.zeros((2, 2), dtype=[("a", "i4")])[:, 0], b"[[0],[0]]"),
    ],
    ids=["contiguous", "strided"],
)
def test_records_are_an_unsupported_datatype_and_go_to_default(records, listed):
    # numpy clears every flag of a structured array's interface record: its
    # element type, not its layout, is what is reported.
    assert str(encode_error(records)) == UNSUPPORTED
    assert dumps(records, default=lambda a: a.tolist()) == listed


def test_order_of_checks():
    # Not contiguous before byte order; byte order before element type.
    a = np.arange(12, dtype=">i4").reshape(3, 4).T
    assert str(encode_error(a)) == NOT_CONTIGUOUS
    b = np.array([1 + 2j], dtype=">c16")
    assert str(encode_error(b)) == NOT_NATIVE
    c = np.array([1 + 2j]).reshape(1, 1).T  # one element: contiguous either way
    assert str(encode_error(c)) == UNSUPPORTED


def test_default_result_is_serialized_in_full():
    a = np.arange(6).reshape(2, 3).T
    assert dumps({"x": a}, default=lambda arr: {"shape": list(arr.shape), "data": np.ascontiguousarray(arr)}) == (
        b'{"x":{"shape":[3,2],"data":[[0,3],[1,4],[2,5]]}}')


def test_default_that_raises_is_the_cause():
    class Boom(Exception):
        pass

    def default(obj):
        raise Boom

    error = encode_error(np.arange(4)[::2], default=default)
    assert str(error) == "Type is not JSON serializable: numpy.ndarray"
    assert isinstance(error.__cause__, Boom)


def test_without_the_option_arrays_go_to_default():
    a = np.arange(3)
    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps(a)
    assert str(info.value) == "Type is not JSON serializable: numpy.ndarray"
    assert vellum.dumps(a, default=lambda x: x.tolist()) == b"[0,1,2]"


def test_subclasses_of_ndarray_go_to_default():
    class Sub(np.ndarray):
        pass

    sub = np.arange(3).view(Sub)
    masked = np.ma.masked_array([1, 2, 3])
    for obj in (sub, masked):
        with pytest.raises(JSONEncodeError) as info:
            dumps(obj)
        assert str(info.value).startswith("Type is not JSON serializable: ")
        assert dumps(obj, default=lambda x: "fallback") == b'"fallback"'


def test_many_dimensions():
    array = np.arange(2**10).reshape((2,) * 10)
    assert dumps(array) == vellum.dumps(array.tolist())
    assert dumps(array, INDENT) == vellum.dumps(array.tolist(), option=INDENT)
    deep = np.zeros((1,) * 32, dtype=np.int8)
    assert dumps(deep) == b"[" * 32 + b"0" + b"]" * 32


@pytest.mark.parametrize("dtype", ["float64", "float32"])
def test_float_rows_at_every_indentation(dtype):
    # Rows of floats, from the first level to well past the deepest whose
    # separator the row writer keeps on its stack (31 levels).
    # Singles are written with their own shortest digits: the texts are the
    # compact output's, the lines and indentation those of the same values
    # as Python floats.
    row = np.array([0.1, -2.5, 1e30, 3.0, 7e-9] * 7, dtype=dtype)
    for depth in (1, 2, 30, 31, 32, 33, 40):
        obj = row.reshape((1,) * (depth - 1) + row.shape)
        got = dumps(obj, INDENT)
        assert got.replace(b" ", b"").replace(b"\n", b"") == dumps(obj), depth
        lines = vellum.dumps(obj.tolist(), option=INDENT).splitlines()
        assert [len(line) - len(line.lstrip()) for line in got.splitlines()] == [
            len(line) - len(line.lstrip()) for line in lines], depth
        if dtype == "float64":
            assert got == vellum.dumps(obj.tolist(), option=INDENT), depth


def test_large_array_grows_the_output():
    array = np.full(300_000, -1234567890123.5)
    out = dumps(array)
    assert out == vellum.dumps(array.tolist())


# --- references and memory -------------------------------------------


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
def test_reference_counts_unchanged():
    good = [np.arange(6).reshape(2, 3), np.array([0.5], dtype=np.float16), np.array([1], dtype="M8[ms]")]
    bad = [np.arange(6).reshape(2, 3).T, np.array([1], dtype=">i4"), np.array([1j]), np.array([2932896], dtype="M8[D]")]
    tracked = good + bad
    before = [sys.getrefcount(a) for a in tracked]
    results = []
    for _ in range(50):
        for option in (0, INDENT):
            dumps(good, option)
            dumps({"k": good}, option)
        results += map(fails, bad)
        dumps(bad[0], default=lambda a: a.tolist())
        dumps(bad[2], default=lambda a: None)
    assert all(results)
    assert [sys.getrefcount(a) for a in tracked] == before


def attempt_without_memory(testcapi, start, call, box):
    # Kept small on purpose: the interpreter allocates while unwinding from
    # a deep instruction offset, which cannot succeed while allocation is
    # cut off.
    testcapi.set_nomemory(start)
    try:
        box[0] = call()
    except BaseException as e:
        box[1] = e
    finally:
        testcapi.remove_mem_hooks()


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread allocate too
def test_out_of_memory_is_a_memory_error():
    testcapi = pytest.importorskip("_testcapi")
    dumps(np.zeros(1))  # numpy's types are looked up once, beforehand

    def default(a):
        return a.tolist()

    cases = [np.arange(20000, dtype=np.float64).reshape(100, 200), np.array([1, 2], dtype="M8[s]"),
             np.arange(3)[::2], np.array([1], dtype="M8[10s]"), np.array([[1.5]], dtype=np.float16)]
    for array in cases:
        for dflt in (None, default):
            call = functools.partial(vellum.dumps, [array], dflt, NUMPY)
            want = None
            try:
                want = call()
            except JSONEncodeError as e:
                want = type(e)
            # Every allocation of the call in turn is the first to fail.
            outcomes = []
            for start in range(0, 64):
                box = [None, None]
                attempt_without_memory(testcapi, start, call, box)
                # The exception's type only: 3.11 keeps 16 MemoryError objects
                # for a time without memory, and a 17th held alive makes the
                # interpreter abort.
                outcomes.append(type(box[1]) if box[1] is not None else box[0])
            assert MemoryError in outcomes
            for o in outcomes:
                # Out of memory, or the same outcome as with memory.
                assert o is MemoryError or o == want or o is want, (array.dtype, o)
