"""Fails the N-th allocation of one operation, for every N, and reports how
each attempt ended: python alloc_walk.py TARGET prints one JSON object.

Targets: "import" (each attempt in a forked child, so that every one starts
from a process that has never initialised vellum), and "fragment", "dumps-*"
and "loads-*" (in this process, so that leaked memory shows as a growth of
the interpreter's allocated blocks): "dumps-types" writes every kind of
value and of dict key, "dumps-failing" the same with an object that fails at
the end; "loads-decimal" reads with parse_float=Decimal. Needs the
failalloc test extension on the path.
"""

import dataclasses
import datetime
import decimal
import enum
import functools
import gc
import glob
import importlib.util
import json
import os
import sys
import uuid
import zoneinfo

import failalloc

# The attempt that was refused nothing ends the walk; this only guards
# against an operation that never stops allocating.
MAX_ATTEMPTS = 20000
# How often the walk of an operation is repeated for the leak check.
REPEATS = 20


def attempt(call, args, n=None):
    """How a call ended, as plain data that keeps no exception alive, with
    the allocation numbered n refused (none when n is None), and whether
    that allocation was reached."""
    if n is not None:
        failalloc.arm(n)
    # Nothing of this function's own allocates while the hook is armed, and
    # no exception outlives it (its traceback would keep the arguments).
    try:
        result = call(*args)
    except BaseException as exc:  # noqa: BLE001 - every ending is reported
        _, refused = failalloc.disarm()
        return describe(exc), refused
    _, refused = failalloc.disarm()
    return ["ok", result.decode() if isinstance(result, bytes) else result], refused


def describe(error):
    if isinstance(error, MemoryError):
        return ["MemoryError"]
    if isinstance(error, json.JSONDecodeError):
        return ["JSONDecodeError", error.msg, error.pos]
    if isinstance(error, TypeError):
        return ["TypeError", str(error)]
    return ["unexpected", f"{type(error).__name__}: {error}"]


# ---------------------------------------------------------------- import


def watched():
    # Objects the one-time initialisation takes references to.
    return [uuid.UUID, decimal.Decimal, enum.EnumMeta, dataclasses._FIELD, json.JSONDecodeError]


def refcounts():
    gc.collect()
    return [sys.getrefcount(o) for o in watched()]


def drop_vellum():
    for name in [m for m in sys.modules if m == "vellum" or m.startswith("vellum.")]:
        del sys.modules[name]


def native_spec():
    # The extension module alone: its initialisation function and exec slot
    # run under the hook, the import system's search does not.
    package = importlib.util.find_spec("vellum")
    (directory,) = package.submodule_search_locations
    (path,) = glob.glob(os.path.join(directory, "vellum.*.so"))
    return importlib.util.spec_from_file_location("vellum.vellum", path)


def import_native(spec):
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.__name__


def import_attempt(n):
    spec = native_spec()
    before = refcounts()
    outcome, refused = attempt(import_native, (spec,), n)
    drop_vellum()
    held = [a - b for a, b in zip(refcounts(), before)]
    # Whatever happened, a later import works.
    import vellum

    usable = vellum.loads(vellum.dumps({"a": [1, "é"]})) == {"a": [1, "é"]}
    return {"outcome": outcome, "refused": refused, "held": held, "usable": usable}


def in_child(fn, *args):
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        try:
            data = json.dumps(fn(*args))
        except BaseException as exc:  # noqa: BLE001
            data = json.dumps({"error": f"{type(exc).__name__}: {exc}"})
        with os.fdopen(write_end, "w") as out:
            out.write(data)
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as source:
        data = source.read()
    _, status = os.waitpid(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        return {"crash": code}
    return json.loads(data)


def walk_import():
    complete = in_child(import_attempt, 0)
    if "held" not in complete:
        return {"bad": [[0, complete]]}
    # An import that failed holds nothing, or (when only the module's own
    # set-up failed) exactly what a successful first import holds.
    allowed_held = ([0] * len(complete["held"]), complete["held"])
    bad, counts, n = [], {}, 0
    while n < MAX_ATTEMPTS:
        n += 1
        result = in_child(import_attempt, n)
        if "outcome" not in result:
            bad.append([n, result])
            continue
        if not result["refused"]:
            break
        outcome = result["outcome"][0]
        counts[outcome] = counts.get(outcome, 0) + 1
        if outcome not in ("ok", "MemoryError") or result["held"] not in allowed_held or not result["usable"]:
            bad.append([n, result])
    return {"attempts": n - 1, "outcomes": counts, "bad": bad, "held_by_import": complete["held"]}


# ---------------------------------------------------------------- operations

SHARED_TEXT = "shared text, é and €"
SHARED_LIST = [1, 2.5, None]


class Text(str):
    pass


class Opaque:
    def __init__(self, i):
        self.i = i


def default(obj):
    return [obj.i, "from default é"]


def fresh_document(i):
    # New non-ASCII strs every time: their UTF-8 form is made (and
    # allocated) by the call under test, not cached by an earlier one.
    import vellum

    return {
        "text": "é" * 3 + str(i),
        "wide": "€𝄞" + str(i),
        "sub": Text("subclass ü" + str(i)),
        "shared": SHARED_TEXT,
        "list": SHARED_LIST,
        "fragment": vellum.Fragment(b'{"raw":true}'),
        "nested": {f"k{j}": [j, -j, j / 3, "x" * (j * 40)] for j in range(12)},
        "opaque": Opaque(i),
    }


class Color(enum.Enum):
    RED = "red"
    ONE = 1


@dataclasses.dataclass
class Point:
    x: object
    y: object


@dataclasses.dataclass(slots=True)
class SlottedPoint:
    x: object
    y: object


class Failing:
    """Has no `i`: default raises for it, and the call fails."""


PARIS = zoneinfo.ZoneInfo("Europe/Paris")
INDIA = datetime.timezone(datetime.timedelta(hours=5, minutes=30))


def shared_typed_values():
    """Every other kind of value dumps writes, made once: aware date-times,
    dates, times, UUIDs, enums, dataclasses (through their __dict__ and
    through their slots), numpy arrays and scalars, and dict keys of every
    type that can be one. Made afresh for every call, their churn would
    fill and drain the interpreter's free lists and hide what a refusal
    keeps."""
    global SHARED_TYPED
    if SHARED_TYPED is None:
        import numpy as np

        SHARED_TYPED = {
            "when": [datetime.datetime(2024, 1, 2, 3, 4, 5, 6, tzinfo=zone) for zone in (PARIS, INDIA)],
            "day": [datetime.date(2024, 1, 2), datetime.time(1, 2, 3, 4)],
            "id": uuid.UUID(int=12345),
            "decimals": [decimal.Decimal("-1.50"), decimal.Decimal("1E+30"), decimal.Decimal("NaN")],
            "colors": [Color.RED, Color.ONE],
            "points": [Point("é", [1]), SlottedPoint(2, Color.RED)],
            "keys": {
                1: "int", 2.5: "float", None: "none", True: "bool", datetime.date(2024, 1, 2): "date",
                datetime.datetime(2024, 1, 2, 3, tzinfo=PARIS): "datetime", uuid.UUID(int=1): "uuid",
                Color.RED: "enum", decimal.Decimal("2.5"): "decimal",
            },
            "numpy": [
                np.arange(4, dtype=np.int64).reshape(-1, 1), np.linspace(0, 1, 4, dtype=np.float32),
                np.array([1, 2], "datetime64[s]"), np.float64(1 / 3), np.int8(-5), np.bool_(True),
                np.datetime64(7, "D"),
            ],
        }
    return SHARED_TYPED


SHARED_TYPED = None


def typed_document(i):
    """fresh_document's members, the shared typed values, and new strs among
    the dataclass members and the non-str keys."""
    shared = shared_typed_values()
    text = "é" + str(i)
    return {
        **fresh_document(i),
        **shared,
        "point": Point(text, i),
        "keys": {**shared["keys"], Text("subclass " + text): "str subclass", text: "str"},
    }


def failing_document(i):
    return {**typed_document(i), "last": Failing()}


def dumps_case(option, make=fresh_document):
    import vellum

    def prepare(i):
        # The expected outcome comes from an equal document: writing this
        # one would make the UTF-8 forms that the call under test has to
        # make.
        expected = attempt(vellum.dumps, (make(i), default, option))[0]
        return (make(i),), expected

    # dumps is called with no Python frame of its own in between: when an
    # exception passes through a Python frame that is being left, the
    # interpreter may need a frame object for its caller, and where that
    # allocation is refused it clears the exception (SystemError follows).
    return prepare, functools.partial(vellum.dumps, default=default, option=option)


def loads_case(kind):
    import vellum

    def text(i):
        # Fresh keys: the key cache has to make them.
        members = ", ".join(f'"key{i}_{j}": [{j}, "é{j}", {j}.5, null, true]' for j in range(8))
        return "{" + members + ', "deep": [[[{"x": "\\u00e9\\ud83d\\ude00"}]]]}'

    def data(i):
        if kind in ("bytes", "decimal"):
            return text(i).encode()
        if kind == "str":
            return text(i)  # a new str, its UTF-8 form not yet made
        if kind == "large":
            return ('["' + "é" * 40000 + f'", {i}]').encode()
        if kind == "wide":
            # A copied input; containers of hundreds of items (the builder's
            # stack grows), ints of several digits, an escaped text longer
            # than the reader's inline room, repeated and non-ASCII values,
            # and a key too long for the key cache.
            items = ", ".join(f'[{j}, {j * 3**30 + i}, "v{j % 7}", "é{i}{j}"]' for j in range(120))
            members = ", ".join(f'"m{i}_{j}": {j}' for j in range(80))
            escaped = "\\n".join(["text"] * 100)
            return bytearray(f'{{"items": [{items}], "members": {{{members}}}, "escaped": "{escaped}", '
                             f'"{"k" * 70}{i}": null}}'.encode())
        return (text(i)[:-1] + ",]").encode()  # "invalid": the error has to be built

    # Every number with a fraction made by the callable: Decimal's
    # construction allocates too.
    call = functools.partial(vellum.loads, parse_float=decimal.Decimal) if kind == "decimal" else vellum.loads

    def prepare(i):
        # Expected from an equal input, which keeps the one under test new.
        return (data(i),), attempt(call, (data(i),))[0]

    return prepare, call


def fragment_case():
    import vellum

    def prepare(i):
        return (b"[1]",), ["ok", "Fragment"]

    def call(content):
        return type(vellum.Fragment(content)).__name__

    return prepare, call


def blocks_grown_by(run):
    gc.collect()
    gc.disable()
    try:
        before = sys.getallocatedblocks()
        result = run()
    finally:
        gc.enable()
    gc.collect()
    return sys.getallocatedblocks() - before, result


def walk_operation(prepare, call, also_allowed=()):
    """Refuses allocation 1, 2, ... of the call until one call runs through
    without reaching the refused one. The walk runs twice: the first fills
    the interpreter's own caches (its spare MemoryError objects, say), so
    that what the second keeps can be compared with what as many calls
    without a refusal keep."""

    def walk(offset):
        bad, counts, n = [], {}, 0
        while n < MAX_ATTEMPTS:
            n += 1
            args, expected = prepare(offset + n)
            outcome, refused = attempt(call, args, n)
            del args
            if not refused:
                if outcome != expected:
                    bad.append([n, "without a refusal", outcome])
                break
            if outcome == expected:
                kind = outcome[0]
            elif outcome == ["MemoryError"]:
                kind = "MemoryError"
            elif outcome in also_allowed:
                kind = "accepted: " + " ".join(map(str, outcome))
            else:
                bad.append([n, outcome, "expected", expected])
                kind = "bad"
            counts[kind] = counts.get(kind, 0) + 1
            outcome = expected = None
        return n - 1, counts, bad

    def calls_without_refusal(offset, count):
        for i in range(offset, offset + count):
            args, _ = prepare(i)
            attempt(call, args)

    calls_without_refusal(-10, 3)  # warm the interpreter's and the module's caches
    # Every slot of the key and value caches taken: from now on a new key or
    # value replaces an old one and the caches neither grow nor shrink. One
    # document per key: a document whose keys all miss stops adding them.
    import vellum

    for i in range(30000):
        vellum.loads(f'{{"filler{i}": "value {i}", "é{i}": "é{i}"}}')
    shared = [SHARED_TEXT, SHARED_LIST]
    refs_before = [sys.getrefcount(o) for o in shared]
    _, (attempts, counts, bad) = blocks_grown_by(lambda: walk(0))
    # Repeated, so that even one block kept by one refusal adds up.
    def repeated():
        found = []
        for r in range(REPEATS):
            found += walk(100000 * (1 + r))[2]
        return found

    grown, more_bad = blocks_grown_by(repeated)
    bad += more_bad
    refs_after = [sys.getrefcount(o) for o in shared]
    baseline, _ = blocks_grown_by(lambda: calls_without_refusal(10**8, attempts * REPEATS))
    return {
        "attempts": attempts,
        "repeats": REPEATS,
        "outcomes": counts,
        "bad": bad,
        "blocks_grown": grown,
        "blocks_grown_without_refusals": baseline,
        "refs_before": refs_before,
        "refs_after": refs_after,
    }


def main(target):
    if target == "import":
        # What vellum imports is in place already: the walk covers vellum.
        import datetime  # noqa: F401

        return walk_import()
    import vellum

    if target == "fragment":
        return walk_operation(*fragment_case())
    if target.startswith("dumps"):
        typed = vellum.OPT_NON_STR_KEYS | vellum.OPT_SERIALIZE_NUMPY | vellum.OPT_DECIMAL
        sorted_ = vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2
        option, make = {
            "dumps": (0, fresh_document),
            "dumps-sorted": (sorted_ | vellum.OPT_APPEND_NEWLINE, fresh_document),
            "dumps-types": (typed, typed_document),
            "dumps-types-sorted": (typed | sorted_, typed_document),
            "dumps-failing": (typed, failing_document),
        }[target]
        return walk_operation(*dumps_case(option, make))
    if target.startswith("loads-"):
        buffer_failure = ["JSONDecodeError", "Not enough memory to allocate buffer for parsing", 0]
        return walk_operation(*loads_case(target[len("loads-"):]), also_allowed=[buffer_failure])
    raise SystemExit(f"unknown target {target}")


if __name__ == "__main__":
    print(json.dumps(main(sys.argv[1])))
