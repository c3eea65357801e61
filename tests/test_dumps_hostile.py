"""default functions that fight back: they change, clear or free what is
being written, return themselves, raise or call dumps again."""

import gc
import warnings

import pytest

import vellum
from vellum import JSONEncodeError


class Payload:
    def __init__(self, payload):
        self.payload = payload


@pytest.mark.parametrize("container", ["list", "dict"])
def test_default_that_frees_its_object_and_raises(container):
    # The failure names the type of an object that default's caller no
    # longer holds: the serializer must hold it across the call.
    cls = type("T", (), {})
    holder = [cls()] if container == "list" else {"k": cls()}

    def default(obj):
        del obj
        holder.clear()
        gc.collect()
        raise ValueError("freed")

    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps(holder, default=default)
    assert str(info.value) == "Type is not JSON serializable: T"
    assert type(info.value.__cause__) is ValueError


def test_default_clearing_the_list_being_written_and_returning():
    holder = [Payload(1), Payload(2), "after"]

    def default(obj):
        payload = obj.payload
        holder.clear()  # frees the other items; obj itself is still ours
        return payload

    # The list is read afresh after each item: nothing more is written.
    assert vellum.dumps(holder, default=default) == b"[1]"


def test_default_growing_the_list_being_written():
    holder = [Payload(0)]

    def default(obj):
        if obj.payload < 5:
            holder.append(Payload(obj.payload + 1))
        return obj.payload

    assert vellum.dumps(holder, default=default) == b"[0,1,2,3,4,5]"


@pytest.mark.parametrize(
    "option,expected",
    [(0, b'{"a":1}'), (vellum.OPT_SORT_KEYS, b'{"a":1,"b":2,"c":"text"}')],
)
def test_default_clearing_the_dict_being_written(option, expected):
    holder = {"a": Payload(1), "b": Payload(2), "c": "text"}

    def default(obj):
        holder.clear()
        return obj.payload

    # The dict itself is held: walked in place it ends where the entries
    # end; sorted, its entries were taken (and held) before any was written.
    assert vellum.dumps(holder, default=default, option=option) == expected


def test_default_returning_its_argument_stops_at_the_limit():
    with pytest.raises(JSONEncodeError, match="default serializer exceeds recursion limit"):
        vellum.dumps(Payload(1), default=lambda obj: obj)


def test_default_wrapping_its_argument_stops_at_the_limit():
    with pytest.raises(JSONEncodeError, match="Recursion limit reached|default serializer exceeds recursion limit"):
        vellum.dumps(Payload(1), default=lambda obj: [obj])


@pytest.mark.not_hostile  # the hostile mode's wrapper takes frames of the recursion limit
def test_default_calling_dumps_on_its_own_argument():
    # Python's recursion limit ends it, as the cause of one encode error.
    def default(obj):
        return vellum.dumps(obj, default=default)

    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps(Payload(1), default=default)
    cause = info.value
    while cause.__cause__ is not None:
        cause = cause.__cause__
    assert type(cause) is RecursionError


def test_default_calling_dumps_a_few_levels_deep():
    def default(obj):
        return vellum.Fragment(vellum.dumps(obj.payload, default=default))

    chain = None
    for i in range(30):
        chain = Payload({"i": i, "next": chain})
    out = vellum.dumps(chain, default=default)
    assert out.count(b'"i"') == 30


@pytest.mark.parametrize("error", [ValueError("x"), RuntimeError("y"), RecursionError()])
def test_whatever_default_raises_is_the_cause(error):
    def default(obj):
        raise error

    with pytest.raises(JSONEncodeError) as info:
        vellum.dumps([Payload(1)], default=default)
    assert info.value.__cause__ is error


def test_default_raising_memory_error_is_raised_as_it_is():
    def default(obj):
        raise MemoryError

    with pytest.raises(MemoryError):
        vellum.dumps([Payload(1)], default=default)


class CountingKey(str):
    hashed = 0

    def __hash__(self):
        CountingKey.hashed += 1
        return str.__hash__(self)

    def __eq__(self, other):
        raise RuntimeError("compared")


@pytest.mark.not_hostile  # the hostile mode's mutator hashes keys too
@pytest.mark.parametrize("option", [0, vellum.OPT_SORT_KEYS])
def test_hostile_str_subclass_keys_are_refused_without_running_their_code(option):
    d = {CountingKey("k"): 1}
    before = CountingKey.hashed
    with pytest.raises(JSONEncodeError, match="Dict key must be str"):
        vellum.dumps(d, option=option)
    assert CountingKey.hashed == before


# ---------------------------------------------------------------- interruptions
# Ctrl-C, sys.exit() and any other exception that does not derive from
# Exception reach the caller as they are, wherever Python code runs during
# dumps: never the cause of a JSONEncodeError (which `except Exception`
# would swallow), never cleared by a fallback.


class Stop(BaseException):
    pass


def raising(error):
    def fail(*args):
        raise error

    return fail


def make_tzinfo(error, where):
    import datetime

    class Zone(datetime.tzinfo):
        armed = False

        def utcoffset(self, d):
            if self.armed and where == "utcoffset":
                raise error
            return datetime.timedelta(0)

        def dst(self, d):
            return None

    if where == "normalize":
        Zone.normalize = lambda self, d: raising(error)()
    if where == "convert probe":
        Zone.convert = property(raising(error))
    zone = Zone()
    value = datetime.datetime(2024, 1, 2, tzinfo=zone)
    hash(value)  # hashed before the zone fails, so that it can be a key
    zone.armed = True
    return value


def make_slotted_dataclass(error):
    import dataclasses

    @dataclasses.dataclass(slots=True)
    class Host:
        a: int

    obj = Host(1)
    Host.a = property(raising(error))
    return obj


def make_dict_reading_dataclass(error):
    import dataclasses

    @dataclasses.dataclass
    class Host:
        a: int

        @property
        def __dict__(self):
            raise error

    return Host(1)


def make_enum(error):
    import enum

    class Member(enum.Enum):
        A = 1

        @property
        def value(self):
            raise error

    return Member.A


def make_namespace_key(error):
    # Looking the class up as a dataclass compares this key with the name.
    class Key:
        def __hash__(self):
            return hash("__dataclass_fields__")

        def __eq__(self, other):
            raise error

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # a key that is not a str
        return type("Host", (), {Key(): None})()


INTERRUPTED = {
    "default": lambda e: ([Payload(1)], {"default": raising(e)}),
    "tzinfo utcoffset": lambda e: ([make_tzinfo(e, "utcoffset")], {}),
    "tzinfo normalize": lambda e: ([make_tzinfo(e, "normalize")], {}),
    "tzinfo route probe": lambda e: ([make_tzinfo(e, "convert probe")], {}),
    "tzinfo of a key": lambda e: ({make_tzinfo(e, "utcoffset"): 1}, {"option": vellum.OPT_NON_STR_KEYS}),
    "dataclass attribute": lambda e: ([make_slotted_dataclass(e)], {}),
    "dataclass __dict__": lambda e: ([make_dict_reading_dataclass(e)], {}),
    "enum value": lambda e: ([make_enum(e)], {}),
    "enum key": lambda e: ({make_enum(e): 1}, {"option": vellum.OPT_NON_STR_KEYS}),
    "class namespace key": lambda e: ([make_namespace_key(e)], {"default": repr}),
    "class namespace key of a key": lambda e: ({make_namespace_key(e): 1}, {"option": vellum.OPT_NON_STR_KEYS}),
}


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, GeneratorExit, Stop], ids=lambda e: e.__name__)
@pytest.mark.parametrize("where", list(INTERRUPTED))
def test_exceptions_not_derived_from_exception_pass_through(where, error):
    raised = error()
    doc, kwargs = INTERRUPTED[where](raised)
    with pytest.raises(error) as info:
        vellum.dumps(doc, **kwargs)
    assert info.value is raised
    assert info.value.__cause__ is None and info.value.__context__ is None


# ---------------------------------------------------------------- borrowed items
# A container's items are handed down borrowed. Before anything owns an item
# that missed the fast chain, the object's kind is found out, which may run
# Python code: numpy's first import (import hooks, other threads, a garbage
# collection running finalizers) and the comparison of a class's namespace
# keys. That code may drop the container's reference; default must still get
# a live object. Each case runs in a fresh interpreter (numpy's probe happens
# once per process) whose allocator fills freed memory, so that reading it
# fails loudly.

BORROWED_PRELUDE = """
import gc, sys, threading, vellum
class X: pass
CONTAINER = {container!r}
doc = [X()] if CONTAINER == "list" else {{"k": X()}}
def drop():
    if CONTAINER == "list": doc[0] = None
    else: doc["k"] = None
name = lambda o: type(o).__name__
"""

BORROWED = {
    "numpy import hook": """
class Finder:
    def find_spec(self, fullname, path=None, target=None):
        if fullname == "numpy": drop()
        return None
sys.meta_path.insert(0, Finder())
out = vellum.dumps(doc, option=vellum.OPT_SERIALIZE_NUMPY, default=name)
""",
    "finalizer during numpy import": """
class Cycle:
    def __init__(self): self.me = self
    def __del__(self):
        # Rearmed until numpy's import has begun, then drops the item.
        if "numpy" in sys.modules: drop()
        else: Cycle()
Cycle()
gc.set_threshold(1)
out = vellum.dumps(doc, option=vellum.OPT_SERIALIZE_NUMPY, default=name)
gc.set_threshold(700)
""",
    "thread during numpy import": """
stop = False
def mutate():
    while not stop:
        if CONTAINER == "list": doc[0] = X()
        else: doc["k"] = X()
sys.setswitchinterval(1e-6)
t = threading.Thread(target=mutate); t.start()
try: out = vellum.dumps(doc, option=vellum.OPT_SERIALIZE_NUMPY, default=name)
finally:
    stop = True; t.join()
""",
    "class namespace key": """
class Key:
    def __hash__(self): return hash("__dataclass_fields__")
    def __eq__(self, other):
        drop()
        return False
import warnings
warnings.simplefilter("ignore", RuntimeWarning)  # a key that is not a str
X = type("X", (), {Key(): None})
doc = [X()] if CONTAINER == "list" else {"k": X()}
out = vellum.dumps(doc, default=name)
""",
}


def output_of_fresh_interpreter(code):
    """What `code` writes to standard output, run in a new interpreter."""
    import os
    import subprocess
    import sys

    env = dict(os.environ)
    # The sanitizer build sets its own allocator; elsewhere the debug hooks
    # fill what is freed.
    env.setdefault("PYTHONMALLOC", "debug")
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    return run.stdout


@pytest.mark.parametrize("container", ["list", "dict"])
@pytest.mark.parametrize("case", list(BORROWED))
def test_items_are_held_before_their_kind_runs_python_code(case, container):
    code = BORROWED_PRELUDE.format(container=container) + BORROWED[case] + "\nsys.stdout.write(out.decode())\n"
    assert output_of_fresh_interpreter(code) == ('["X"]' if container == "list" else '{"k":"X"}')


def test_enum_member_dict_replaced_while_its_value_is_looked_up():
    # The key met first in the member's dict compares with Python code that
    # gives the member another dict, freeing the one being read.
    code = """
import enum, sys, vellum
class E(enum.Enum):
    A = 1
member = E.A
class Key:
    def __hash__(self): return hash("_value_")
    def __eq__(self, other):
        member.__dict__ = dict(fields)
        return False
fields = dict(member.__dict__)
member.__dict__ = {Key(): None, **fields}
sys.stdout.write(vellum.dumps([member]).decode())
"""
    assert output_of_fresh_interpreter(code) == "[1]"



# A class whose order of bases leaves it out (nothing in it refers back to
# it) is freed as soon as its last instance moves to another class: here
# from the __eq__ of a namespace key that hashes like the name dumps looks
# up, while the lookup is under way. The class must stay alive until dumps
# is done with it.
CLASS_FREED_PRELUDE = """
import datetime as dt, sys, warnings, vellum
warnings.simplefilter("ignore", RuntimeWarning)  # a key that is not a str
armed = short_order = False
def key_hashing_like(name, move):
    class Key:
        def __hash__(self): return hash(name)
        def __eq__(self, other):
            if armed: move()
            return False
    return Key()
def class_left_out_of_its_order(base, namespace, order):
    class Meta(type):
        def mro(cls): return order if short_order else type.mro(cls)
    cls = Meta("X", (base,), namespace)
    return cls
def shorten(cls):
    global short_order
    short_order = True
    cls.__bases__ = cls.__bases__
"""

CLASS_FREED = {
    # Looked up in its own namespace as a dataclass.
    "dataclass namespace": ("""
class Other:
    __slots__ = ()
    __dataclass_fields__ = {}
def move(): doc[0].__class__ = Other
X = class_left_out_of_its_order(object, {key_hashing_like("__dataclass_fields__", move): None,
                                         "__dataclass_fields__": {}, "__slots__": ()}, (object,))
shorten(X)
doc = [X()]
""", "[{}]"),
    # A tzinfo's route, looked up through its bases.
    "tzinfo route": ("""
class Other(dt.tzinfo):
    __slots__ = ()
    def utcoffset(self, d): return dt.timedelta(hours=1)
def move(): tz.__class__ = Other
Base = type("Base", (dt.tzinfo,), {key_hashing_like("convert", move): None, "__slots__": ()})
X = class_left_out_of_its_order(Base, {"__slots__": ()}, (Base, dt.tzinfo, object))
shorten(X)
tz = X()
doc = [dt.datetime(2020, 1, 1, tzinfo=tz)]
""", '["2020-01-01T00:00:00+01:00"]'),
}


@pytest.mark.parametrize("case", list(CLASS_FREED))
def test_class_freed_while_it_is_looked_up(case):
    code, written = CLASS_FREED[case]
    code = CLASS_FREED_PRELUDE + code + "del X\narmed = True\nsys.stdout.write(vellum.dumps(doc).decode())\n"
    assert output_of_fresh_interpreter(code) == written
