"""The interpreter records that vellum reads and writes directly, whose layout
differs between 3.11 and 3.15 (core/ffi/compat_*.hpp): ints at every
digit-count boundary, both ways, the strs and dicts that loads lays down
itself, and the dict tables that dumps walks in place. A wrong layout gives
wrong digits, signs, hashes or members here. The class
version tags are covered where each remembered answer is tested (enum
values, tzinfo routes and dataclass fields after changes to a class or a
base)."""

import json

import pytest

import vellum

KEYS = vellum.OPT_NON_STR_KEYS

# Around each count of 30-bit digits (0, 1, 2, 3 and beyond), both signs.
BOUNDARIES = sorted(
    {s * v for v in (0, 1, 2**30 - 1, 2**30, 2**31, 2**60 - 1, 2**60, 2**62, 2**63 - 1) for s in (1, -1)}
    | {2**63, -(2**63), 2**64 - 1, 2**90 - 1}
)
TOO_LARGE = [2**64, -(2**63) - 1, 2**90, -(2**90), 2**200]


class Int(int):
    pass


@pytest.mark.parametrize("value", [v for v in BOUNDARIES if -(2**63) <= v < 2**64])
def test_ints_at_digit_boundaries_written(value):
    text = str(value).encode()
    assert vellum.dumps(value) == text
    assert vellum.dumps(Int(value)) == text
    for key in (value, Int(value)):
        assert vellum.dumps({key: 0}, option=KEYS) == b'{"' + text + b'":0}'


@pytest.mark.parametrize("value", TOO_LARGE)
def test_ints_past_64_bits_refused(value):
    for obj, option in [(value, 0), (Int(value), 0), ({value: 0}, KEYS)]:
        with pytest.raises(vellum.JSONEncodeError):
            vellum.dumps(obj, option=option)


@pytest.mark.parametrize("value", [v for v in BOUNDARIES if -(2**63) <= v < 2**64])
def test_ints_at_digit_boundaries_read(value):
    # loads lays the digits and the sign down itself: the int it makes must
    # behave as the interpreter's own in every operation.
    read = vellum.loads(str(value))
    assert type(read) is int
    assert read == value and value == read
    assert hash(read) == hash(value)
    assert repr(read) == repr(value) and read.bit_length() == value.bit_length()
    assert (read < 0) == (value < 0) and (read == 0) == (value == 0)
    assert read + 1 - 1 == value and -read == -value and read * 3 == value * 3
    assert read.to_bytes(16, "little", signed=True) == value.to_bytes(16, "little", signed=True)
    assert {value: "x"}[read] == "x"


def test_option_read_from_its_digits():
    assert vellum.dumps([1], option=vellum.OPT_INDENT_2) == b"[\n  1\n]"
    for option in (-1, 2**30, 2**30 + vellum.OPT_INDENT_2, 2**60, -(2**30)):
        with pytest.raises(vellum.JSONEncodeError, match="Invalid opts"):
            vellum.dumps([1], option=option)


# Around the key and value caches' length limits (64 and 128 bytes).
LENGTHS = [1, 2, 3, 15, 16, 17, 63, 64, 65, 127, 128, 129, 300]


@pytest.mark.parametrize("length", LENGTHS)
@pytest.mark.parametrize("letter", ["a", "é", "日", "😀"])
def test_strs_and_dicts_that_loads_lays_down(length, letter):
    text = (letter + "bcdefghij" * 40)[:length]
    doc = vellum.loads(vellum.dumps({text: text, "k" + text: [text]}))
    (key, other), (value, listed) = doc.keys(), doc.values()
    for made in (key, value, listed[0]):
        assert type(made) is str and made == text and len(made) == length
        # The hash loads stored is the one the interpreter computes.
        assert hash(made) == hash("".join(list(text)))
        assert made.encode() == text.encode() and made.isascii() == text.isascii()
    assert other == "k" + text
    # Lookups by equal strs made elsewhere find the entries inserted with
    # the stored hashes.
    fresh = "".join(list(text))
    assert doc[fresh] == fresh and ("k" + fresh) in doc
    assert dict(doc) == {fresh: fresh, "k" + fresh: [fresh]}



class Attributes:
    def __init__(self, n):
        for i in range(n):
            setattr(self, f"a{i}", i)


class DictSubclass(dict):
    pass


def _general(n, step=0):
    # A non-str key makes the table keep hashes beside keys; the dict keeps
    # that form after the key is gone.
    d = {0: None}
    d.update((f"k{i}", [i]) for i in range(n))
    del d[0]
    return _holed(d, n, step)


def _holed(d, n, step):
    if step:
        for i in range(0, n, step):
            del d[f"k{i}"]
        d.pop(f"k{n - 1}", None)
    return d


def _str_keys(n, step=0):
    return _holed({f"k{i}": [i] for i in range(n)}, n, step)


# Dicts walked in place (core/ffi/compat_dict.hpp): each form of table, each
# width of the index table before the entries (1, 2 and 4 bytes), deleted
# entries inside and at the end. A wrong record layout gives wrong members.
DICT_SHAPES = {
    "str keys": lambda: _str_keys(5),
    "str keys, 2-byte index": lambda: _str_keys(200),
    "str keys, 4-byte index": lambda: _str_keys(50_000),
    "deleted entries": lambda: _str_keys(10, 3),
    "deleted entries, 2-byte index": lambda: _str_keys(300, 7),
    "general table": lambda: _general(5),
    "general table, 2-byte index": lambda: _general(300),
    "general table, deleted entries": lambda: _general(20, 4),
    "instance dict (split table)": lambda: vars(Attributes(6)),
    "subclass": lambda: DictSubclass(_str_keys(20, 3)),
}


@pytest.mark.parametrize("shape", DICT_SHAPES)
@pytest.mark.parametrize("sort", [False, True])
def test_dicts_walked_in_place(shape, sort):
    d = DICT_SHAPES[shape]()
    text = json.dumps(d, separators=(",", ":"), sort_keys=sort)
    sort_option = vellum.OPT_SORT_KEYS if sort else 0
    for option in (0, KEYS):
        assert vellum.dumps(d, option=option | sort_option) == text.encode()
        assert vellum.dumps([d, {"d": d}], option=option | sort_option) == f'[{text},{{"d":{text}}}]'.encode()
