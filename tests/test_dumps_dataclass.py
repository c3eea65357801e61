"""Dataclass instances: the dict path and the fields path, the members each
writes, depth, failures, references and members that run Python code."""

import dataclasses
import gc
import json
import sys
import typing

import pytest

import vellum
from vellum import JSONEncodeError

from support import encode_error

INDENT = vellum.OPT_INDENT_2


@dataclasses.dataclass
class Plain:
    a: int
    _b: int = 2


@dataclasses.dataclass(slots=True)
class Slotted:
    a: int
    b: str = "x"
    _c: int = 3


@dataclasses.dataclass
class Private:
    _a: int = 1
    _b: int = 2


@dataclasses.dataclass
class Empty:
    pass


@dataclasses.dataclass(slots=True)
class EmptySlotted:
    pass


@dataclasses.dataclass
class Kinds:
    a: int
    c: typing.ClassVar[int] = 5
    i: dataclasses.InitVar[int] = 0
    d: list = dataclasses.field(default_factory=lambda: [1])
    e: int = dataclasses.field(default=7, init=False)


@dataclasses.dataclass(slots=True)
class SlottedKinds:
    a: int
    c: typing.ClassVar[int] = 5
    i: dataclasses.InitVar[int] = 0
    e: int = dataclasses.field(default=7, init=False)


@dataclasses.dataclass(slots=True)
class Base:
    x: int
    y: str = "y"


@dataclasses.dataclass
class Child(Base):
    z: float = 1.5


@dataclasses.dataclass
class GrandChild(Child):
    w: None = None


T = typing.TypeVar("T")


@dataclasses.dataclass
class Generic(typing.Generic[T]):
    item: T


@dataclasses.dataclass(frozen=True)
class Frozen:
    a: int
    b: tuple = (1, 2)


@dataclasses.dataclass
class Nested:
    inner: object
    items: list


def with_extra(obj, **attrs):
    for k, v in attrs.items():
        setattr(obj, k, v)
    return obj


CASES = [
    (Plain(1), b'{"a":1}', b'{\n  "a": 1\n}'),
    (with_extra(Plain(1), c=[3]), b'{"a":1,"c":[3]}', b'{\n  "a": 1,\n  "c": [\n    3\n  ]\n}'),
    (Slotted(1), b'{"a":1,"b":"x"}', b'{\n  "a": 1,\n  "b": "x"\n}'),
    (Private(), b"{}", b"{}"),
    (Empty(), b"{}", b"{}"),
    (EmptySlotted(), b"{}", b"{}"),
    # "e" keeps its default on the class, not in the instance's dict, which
    # is written as it is.
    (Kinds(1, 9), b'{"a":1,"d":[1]}', None),
    (with_extra(Kinds(1, 9), e=8, x=0), b'{"a":1,"d":[1],"e":8,"x":0}', None),
    (with_extra(Kinds(1, 9), x=0), b'{"a":1,"d":[1],"x":0}', None),
    (SlottedKinds(1, 9), b'{"a":1,"e":7}', None),
    (Child(1, "q", 2.5), b'{"x":1,"y":"q","z":2.5}', b'{\n  "x": 1,\n  "y": "q",\n  "z": 2.5\n}'),
    (GrandChild(1), b'{"x":1,"y":"y","z":1.5,"w":null}', None),
    (with_extra(Generic(5), extra="e"), b'{"item":5,"extra":"e"}', None),
    (Frozen(1), b'{"a":1,"b":[1,2]}', None),
    (Nested(Plain(2), [Slotted(3), Empty()]), b'{"inner":{"a":2},"items":[{"a":3,"b":"x"},{}]}', None),
]


@pytest.mark.parametrize("obj,compact,indented", CASES)
def test_members(obj, compact, indented):
    assert vellum.dumps(obj) == compact
    assert vellum.dumps(obj, option=vellum.OPT_SERIALIZE_DATACLASS) == compact
    if indented is not None:
        assert vellum.dumps(obj, option=INDENT) == indented


def test_inherited_slots_keep_every_field():
    # The child's __dict__ holds only its own field; the inherited ones live
    # in the base's slots.
    child = Child(1, "q", 2.5)
    assert child.__dict__ == {"z": 2.5}
    assert vellum.dumps([child, child], option=vellum.OPT_SORT_KEYS) == b'[{"x":1,"y":"q","z":2.5},{"x":1,"y":"q","z":2.5}]'


@pytest.mark.parametrize("option", [0, vellum.OPT_SORT_KEYS, INDENT])
def test_deleted_field_leaves_the_others(option):
    # No class keeps a field in a slot (Generic declares empty __slots__): the
    # instance's dict holds what there is, and it is written.
    for obj, expected in [(Frozen(1), {"b": [1, 2]}), (with_extra(Generic(5), extra="e"), {"extra": "e"})]:
        field = next(iter(type(obj).__dataclass_fields__))
        object.__delattr__(obj, field)
        assert json.loads(vellum.dumps(obj, option=option)) == expected
    # A field kept in a base's slot and deleted cannot be read.
    child = Child(1, "q", 2.5)
    del child.x
    assert str(encode_error(child)) == "Type is not JSON serializable: Child"


def test_instance_attributes():
    obj = Plain(1)
    obj.__dict__[""] = "empty name"
    obj.__dict__["_hidden"] = 1
    obj.__dict__["é"] = 2
    assert vellum.dumps(obj) == '{"a":1,"":"empty name","é":2}'.encode()
    obj.__dict__[1] = 2
    assert str(encode_error(obj)) == "Dict key must be str"
    del obj.__dict__[1]
    obj.__dict__["\ud800"] = 3
    err = encode_error(obj)
    assert str(err) == "str is not valid UTF-8: surrogates not allowed"


def test_passthrough_dataclass():
    option = vellum.OPT_PASSTHROUGH_DATACLASS
    assert vellum.dumps([Plain(1), Slotted(2)], lambda o: type(o).__name__, option=option) == b'["Plain","Slotted"]'
    assert str(encode_error(Plain(1), option=option)) == "Type is not JSON serializable: Plain"
    err = encode_error({Plain(1).a: Plain(1)}, option=option | vellum.OPT_NON_STR_KEYS)
    assert str(err) == "Type is not JSON serializable: Plain"


def test_undecorated_subclass_goes_to_default():
    class Sub(Plain):
        pass

    assert vellum.dumps(Sub(1), lambda o: "sub") == b'"sub"'


def test_class_answers_follow_changes_to_the_class():
    @dataclasses.dataclass
    class D:
        a: int

    @dataclasses.dataclass
    class WithB:
        a: int
        b: int = 5

    obj = D(1)
    assert vellum.dumps([obj, obj]) == b'[{"a":1},{"a":1}]'
    # A declared field the instance's dict lacks, its default on the class:
    # the dict holds the members all the same.
    D.__dataclass_fields__ = WithB.__dataclass_fields__
    D.b = 7
    assert vellum.dumps([obj, obj]) == b'[{"a":1},{"a":1}]'
    # Declared fields that cannot be read.
    D.__dataclass_fields__ = "not a dict"
    assert str(encode_error(obj)) == "Type is not JSON serializable: D"
    # Slots declared by the class itself: the fields path.
    del D.b
    D.__dataclass_fields__ = {"a": WithB.__dataclass_fields__["a"]}
    obj.__dict__["extra"] = 2
    assert vellum.dumps(obj) == b'{"a":1,"extra":2}'
    D.__slots__ = ()
    assert vellum.dumps(obj) == b'{"a":1}'
    # No longer a dataclass at all.
    del D.__slots__, D.__dataclass_fields__
    assert vellum.dumps([obj, obj], default=lambda o: "other") == b'["other","other"]'


def test_many_dataclass_classes_in_turn():
    classes = [dataclasses.make_dataclass(f"C{i}", [("v", int), (f"f{i}", int)]) for i in range(12)]
    nested = None
    for i, cls in enumerate(classes):
        nested = cls(nested, i)
    expected = None
    for i in range(12):
        expected = {"v": expected, f"f{i}": i}
    for _ in range(3):
        assert vellum.loads(vellum.dumps([nested, nested])) == [expected, expected]


def test_dataclass_key_is_unsupported():
    @dataclasses.dataclass(frozen=True)
    class Key:
        a: int

    err = encode_error({Key(1): 1}, option=vellum.OPT_NON_STR_KEYS)
    assert str(err) == "Dict key must a type serializable with OPT_NON_STR_KEYS"


def chain(depth, leaf):
    obj = leaf
    for _ in range(depth):
        obj = Nested(obj, [])
    return obj


def test_depth():
    # A dataclass counts as a level; one already at the limit fails.
    assert vellum.dumps(chain(255, 1)).count(b"inner") == 255
    with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
        vellum.dumps(chain(256, 1))
    # Inside the deepest one, no container fits any more (and the counter
    # does not wrap around).
    for leaf in ([1], {"a": 1}, (1,), Empty()):
        with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
            vellum.dumps(chain(255, leaf))
    assert vellum.dumps(chain(253, [1])).endswith(b'"inner":[1],"items":[]}' + b',"items":[]}' * 252)
    with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
        vellum.dumps(chain(254, [1]))


@pytest.mark.parametrize("option", [0, INDENT])
def test_self_reference(option):
    obj = Nested(None, [])
    obj.items.append(obj)
    with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
        vellum.dumps(obj, option=option)
    slotted = Slotted(1, None)
    slotted.b = [slotted]
    with pytest.raises(JSONEncodeError, match="^Recursion limit reached$"):
        vellum.dumps(slotted, option=option)


def test_missing_slot_field():
    obj = Slotted.__new__(Slotted)
    for target in (obj, [1, obj], {"k": obj}):
        err = encode_error(target)
        assert str(err) == "Type is not JSON serializable: Slotted"
        assert type(err.__cause__) is AttributeError


def test_unreadable_fields():
    @dataclasses.dataclass(slots=True)
    class Raising:
        a: int

        def __getattribute__(self, name):
            if name == "a":
                raise KeyError("a")
            return object.__getattribute__(self, name)

    err = encode_error(Raising(1))
    assert str(err) == "Type is not JSON serializable: Raising"
    assert type(err.__cause__) is KeyError


@pytest.mark.not_hostile  # the hostile mode's finalizer and thread may hold references a while
def test_references_unchanged():
    @dataclasses.dataclass
    class Data:
        a: list
        b: str

    value = ["v" * 10]
    name = "n" * 30
    obj = Data(value, name)
    slotted = Slotted(5, name)
    child = Child(1, name)
    fields = [Data.__dataclass_fields__, Slotted.__dataclass_fields__, *Slotted.__dataclass_fields__.values()]
    bad = Slotted.__new__(Slotted)
    tracked = [value, name, obj, obj.__dict__, slotted, child, child.__dict__, bad, *fields]
    before = [sys.getrefcount(o) for o in tracked]
    for _ in range(20):
        vellum.dumps([obj, slotted, child], option=vellum.OPT_SORT_KEYS)
        vellum.dumps({"x": obj}, option=INDENT)
        with pytest.raises(JSONEncodeError):
            vellum.dumps([obj, slotted, bad])
        with pytest.raises(JSONEncodeError):
            vellum.dumps([child, Data(object(), name)])
    assert [sys.getrefcount(o) for o in tracked] == before


class Trigger:
    def __init__(self, action):
        self.action = action


def run_trigger(obj):
    obj.action()
    gc.collect()
    return "t"


@pytest.mark.parametrize("option", [0, INDENT, vellum.OPT_SORT_KEYS])
def test_default_that_clears_the_instance_dict(option):
    obj = Plain(1)
    obj.first = Trigger(lambda: obj.__dict__.clear())
    obj.second = ["x" * 64] * 20
    out = vellum.dumps(obj, run_trigger, option=option)
    assert out.replace(b"\n", b"").replace(b" ", b"") == b'{"a":1,"first":"t"}'


def test_default_that_changes_the_declared_fields():
    @dataclasses.dataclass(slots=True)
    class S:
        a: object
        b: list

    fields = dict(S.__dataclass_fields__)
    try:
        obj = S(Trigger(lambda: S.__dataclass_fields__.clear()), ["y" * 64] * 10)
        assert vellum.dumps(obj, run_trigger) == b'{"a":"t"}'
    finally:
        S.__dataclass_fields__.update(fields)


def test_property_that_frees_the_instance():
    holder = []

    @dataclasses.dataclass(slots=True)
    class Host:
        a: int

    class Freeing:
        @property
        def a(self):
            holder.clear()
            gc.collect()
            return 42

    # The fields path reads "a" through the class's attribute lookup.
    obj = Host(1)
    Host.a = Freeing.a
    holder.append(obj)
    del obj
    assert vellum.dumps(holder) == b'[{"a":42}]'
    assert holder == []


def test_value_that_clears_the_list_holding_the_instance():
    data = []
    obj = Nested(Trigger(lambda: data.clear()), ["z" * 64] * 10)
    data.append(obj)
    del obj
    assert vellum.dumps(data, run_trigger) == b'[{"inner":"t","items":["' + b'","'.join([b"z" * 64] * 10) + b'"]}]'
