"""UUIDs and enum members: their text as values and keys, failing lookups,
references, and enum values that run Python code."""

import dataclasses
import enum
import gc
import sys
import uuid

import pytest

import vellum
from vellum import JSONEncodeError

from support import encode_error

KEYS = vellum.OPT_NON_STR_KEYS


@pytest.mark.parametrize(
    "value,expected",
    [
        (uuid.UUID("12345678-1234-5678-1234-56781234ABCD"), "12345678-1234-5678-1234-56781234abcd"),
        (uuid.UUID(int=0), "00000000-0000-0000-0000-000000000000"),
        (uuid.UUID(int=2**128 - 1), "ffffffff-ffff-ffff-ffff-ffffffffffff"),
        (uuid.UUID(bytes=bytes(range(16))), "00010203-0405-0607-0809-0a0b0c0d0e0f"),
        (uuid.uuid5(uuid.NAMESPACE_DNS, "example.org"), str(uuid.uuid5(uuid.NAMESPACE_DNS, "example.org"))),
    ],
)
def test_uuid_text(value, expected):
    assert vellum.dumps(value) == f'"{expected}"'.encode()
    assert vellum.dumps([value], option=vellum.OPT_INDENT_2) == f'[\n  "{expected}"\n]'.encode()
    assert vellum.dumps({value: [value]}, option=KEYS) == f'{{"{expected}":["{expected}"]}}'.encode()
    assert vellum.dumps(value, option=vellum.OPT_SERIALIZE_UUID) == vellum.dumps(value)


def test_random_uuids():
    values = [uuid.uuid4() for _ in range(500)]
    assert vellum.dumps(values) == ("[" + ",".join(f'"{u}"' for u in values) + "]").encode()


def test_uuid_subclass_goes_to_default():
    class MyUUID(uuid.UUID):
        pass

    value = MyUUID(int=5)
    assert vellum.dumps(value, str) == b'"00000000-0000-0000-0000-000000000005"'
    assert str(encode_error(value)) == "Type is not JSON serializable: MyUUID"


def unset_uuid():
    return uuid.UUID.__new__(uuid.UUID)


def uuid_with_int(value):
    u = uuid.UUID(int=0)
    object.__setattr__(u, "int", value)
    return u


@pytest.mark.parametrize(
    "make,cause",
    [
        (unset_uuid, AttributeError),
        (lambda: uuid_with_int("1"), TypeError),
        (lambda: uuid_with_int(-1), ValueError),
        (lambda: uuid_with_int(2**128), ValueError),
    ],
    ids=["unset", "str", "negative", "too-large"],
)
def test_unreadable_uuid(make, cause):
    value = make()
    cases = [(value, 0), ([value], vellum.OPT_INDENT_2)]
    if make is not unset_uuid:  # that one cannot even be hashed
        cases.append(({value: 1}, KEYS))
    for obj, option in cases:
        err = encode_error(obj, option=option)
        assert str(err) == "Type is not JSON serializable: UUID"
        assert type(err.__cause__) is cause


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
def test_uuid_int_references():
    value = uuid.UUID(int=2**100 + 12345)
    number = value.int
    before = sys.getrefcount(number), sys.getrefcount(value)
    for _ in range(20):
        vellum.dumps([value, {value: value}], option=KEYS)
    assert (sys.getrefcount(number), sys.getrefcount(value)) == before


# --- enums --------------------------------------------------------------------


class Color(enum.Enum):
    RED = 1
    GREEN = "green"
    PAIR = (1, [2, "x"])
    NOTHING = None
    HALF = 0.5
    NESTED = {"a": [1]}


class Outer(enum.Enum):
    INNER = Color.GREEN
    DEEPER = Color.PAIR


class Number(enum.IntEnum):
    ONE = 1
    BIG = 2**63


class Word(enum.StrEnum):
    HELLO = "hello"
    QUOTE = 'say "hi"'


class Bits(enum.IntFlag):
    A = 1
    B = 2


class Perm(enum.Flag):
    R = 4
    W = 2


@dataclasses.dataclass
class Point:
    x: int
    y: int


class Shape(enum.Enum):
    ORIGIN = Point(0, 0)


@pytest.mark.parametrize(
    "member,expected",
    [
        (Color.RED, b"1"),
        (Color.GREEN, b'"green"'),
        (Color.PAIR, b'[1,[2,"x"]]'),
        (Color.NOTHING, b"null"),
        (Color.HALF, b"0.5"),
        (Color.NESTED, b'{"a":[1]}'),
        (Outer.INNER, b'"green"'),
        (Outer.DEEPER, b'[1,[2,"x"]]'),
        (Number.ONE, b"1"),
        (Number.BIG, b"9223372036854775808"),
        (Word.QUOTE, b'"say \\"hi\\""'),
        (Bits.A | Bits.B, b"3"),
        (Perm.R | Perm.W, b"6"),
        (Shape.ORIGIN, b'{"x":0,"y":0}'),
    ],
)
@pytest.mark.parametrize("option", [0, vellum.OPT_PASSTHROUGH_SUBCLASS])
def test_enum_values(member, expected, option):
    assert vellum.dumps(member, option=option) == expected
    assert vellum.dumps([member, member], option=option) == b"[" + expected + b"," + expected + b"]"


@pytest.mark.parametrize(
    "member,expected",
    [(Color.RED, "1"), (Color.GREEN, "green"), (Color.NOTHING, "null"), (Color.HALF, "0.5"), (Outer.INNER, "green"),
     (Number.ONE, "1"), (Word.QUOTE, 'say \\"hi\\"'), (Bits.B, "2"), (Perm.R, "4")],
)
def test_enum_keys(member, expected):
    for option in (KEYS, KEYS | vellum.OPT_PASSTHROUGH_SUBCLASS, KEYS | vellum.OPT_SORT_KEYS):
        assert vellum.dumps({member: 0}, option=option) == f'{{"{expected}":0}}'.encode()


@pytest.mark.parametrize("member", [Color.PAIR, Color.NESTED, Outer.DEEPER, Shape.ORIGIN])
def test_enum_keys_of_unsupported_values(member):
    err = encode_error({member: 1}, option=KEYS)
    assert str(err) == "Dict key must a type serializable with OPT_NON_STR_KEYS"


def test_enum_member_is_not_a_level():
    # 252 lists around a member whose value is a tuple holding a list: that
    # list is the 254th level, one more is the limit.
    obj = Color.PAIR
    for _ in range(252):
        obj = [obj]
    assert vellum.dumps(obj).count(b"[") == 252 + 2
    with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
        vellum.dumps([obj])


def test_enum_chain_back_to_itself():
    class Loop(enum.Enum):
        A = 1

    Loop.A._value_ = Loop.A
    for obj, option in [(Loop.A, 0), ([Loop.A], vellum.OPT_INDENT_2), ({Loop.A: 1}, KEYS)]:
        err = encode_error(obj, option=option)
        assert str(err) == "Recursion limit reached"


def test_enum_with_a_metaclass_derived_from_enum_meta():
    # A subclass of the metaclass still makes enums.
    class Meta(enum.EnumMeta):
        pass

    class Custom(enum.Enum, metaclass=Meta):
        A = [1, "x"]
        B = "b"

    class Loop(enum.Enum, metaclass=Meta):
        A = 1

    Loop.A._value_ = Loop.A
    assert vellum.dumps([Custom.A, Custom.B]) == b'[[1,"x"],"b"]'
    assert vellum.dumps({Custom.B: Custom.A}, option=KEYS) == b'{"b":[1,"x"]}'
    for obj, option in [(Loop.A, 0), ({Loop.A: 1}, KEYS)]:
        assert str(encode_error(obj, option=option)) == "Recursion limit reached"


def test_enum_value_overridden():
    class Custom(enum.Enum):
        A = 1

        @property
        def value(self):
            return ["custom", self._value_]

    assert vellum.dumps(Custom.A) == b'["custom",1]'

    class Attr(enum.Enum):
        A = 1

    Attr.A.__dict__["_value_"] = "rebound"
    assert vellum.dumps([Attr.A, {Attr.A: 0}], option=KEYS) == b'["rebound",{"rebound":0}]'


def test_enum_value_follows_changes_to_the_class():
    class Base(enum.Enum):
        pass

    class Sub(Base):
        A = 1

    def written():
        return vellum.dumps([Sub.A, {Sub.A: 0}], option=KEYS)

    assert written() == b'[1,{"1":0}]'
    Base.value = property(lambda self: "base")
    assert written() == b'["base",{"base":0}]'
    Sub.value = property(lambda self: "sub")
    assert written() == b'["sub",{"sub":0}]'
    del Sub.value, Base.value
    assert written() == b'[1,{"1":0}]'


@pytest.mark.parametrize("option", [0, KEYS])
def test_unreadable_enum_value(option):
    class Broken(enum.Enum):
        A = 1

        @property
        def value(self):
            raise LookupError("no value")

    class Gone(enum.Enum):
        A = 1

    del Gone.A._value_
    for member, cause in [(Broken.A, LookupError), (Gone.A, AttributeError)]:
        obj = {member: 1} if option else [member]
        err = encode_error(obj, option=option)
        assert str(err) == f"Type is not JSON serializable: {type(member).__name__}"
        assert type(err.__cause__) is cause


@pytest.mark.not_hostile  # the hostile mode replaces items, which changes their counts
def test_enum_value_references():
    value = ["shared", 1.5]

    class Holder(enum.Enum):
        A = "a"

    Holder.A._value_ = value
    before = sys.getrefcount(value), sys.getrefcount(Holder.A)
    for _ in range(20):
        vellum.dumps([Holder.A, {"k": Holder.A}])
        with pytest.raises(JSONEncodeError):
            vellum.dumps({Holder.A: 1}, option=KEYS)
    assert (sys.getrefcount(value), sys.getrefcount(Holder.A)) == before


def test_enum_value_that_empties_the_container():
    data = []
    big = {"v": ["x" * 64] * 20}

    class Mutating(enum.Enum):
        A = 1

        @property
        def value(self):
            data.clear()
            big.clear()
            gc.collect()
            return "after"

    data.extend([Mutating.A, big, ["y" * 64] * 10])
    assert vellum.dumps(data) == b'["after"]'

    keyed = {}
    keyed["first"] = ["z" * 64] * 10
    keyed[Mutating.A] = ["w" * 64] * 10
    keyed["last"] = 1
    data.append(keyed)  # cleared again by the value
    out = vellum.dumps(keyed, option=KEYS | vellum.OPT_SORT_KEYS)
    assert out.startswith(b'{"after":["' + b"w" * 64)
