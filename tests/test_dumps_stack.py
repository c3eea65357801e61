"""dumps checks the thread's real stack where recursion can run through
Python code, so that a thread with a small stack, or dumps nested through
`default`, ends in a clean error instead of a crash."""

import json
import os
import pathlib
import subprocess
import sys
import textwrap
import threading

import pytest

import vellum

SUPPORT = pathlib.Path(__file__).parent / "support"


def deep_list(depth, inner=1):
    for _ in range(depth):
        inner = [inner]
    return inner


def in_thread(stack_size, work):
    result = {}

    def run():
        try:
            result["value"] = work()
        except BaseException as e:  # reported to the test below
            result["error"] = e

    old = threading.stack_size(stack_size)
    try:
        t = threading.Thread(target=run)
        t.start()
        t.join()
    finally:
        threading.stack_size(old)
    return result


@pytest.mark.parametrize("stack_size", [256 * 1024, 1024 * 1024])
def test_the_whole_nesting_limit_fits_a_modest_thread_stack(stack_size):
    doc = deep_list(254)
    for option in (0, vellum.OPT_INDENT_2):
        result = in_thread(stack_size, lambda: vellum.dumps(doc, option=option))
        assert result.get("value") == vellum.dumps(doc, option=option)


# A crash would take the test run with it: these run in a child process.
CHILD = textwrap.dedent(
    """
    import threading, vellum

    class Node:
        def __init__(self, payload):
            self.payload = payload

    def default(obj):
        return vellum.Fragment(vellum.dumps(obj.payload, default=default))

    chain = 1
    for _ in range({links}):
        inner = chain
        for _ in range(250):
            inner = [inner]
        chain = Node(inner)

    outcome = []
    def run():
        try:
            vellum.dumps(chain, default=default)
            outcome.append("written")
        except vellum.JSONEncodeError as e:
            cause = e
            while cause.__cause__ is not None:
                cause = cause.__cause__
            outcome.append(type(cause).__name__)

    threading.stack_size({stack})
    t = threading.Thread(target=run)
    t.start()
    t.join()
    print(outcome[0])
    """
)


@pytest.mark.parametrize("stack", [512 * 1024, 8 * 1024 * 1024, 64 * 1024 * 1024])
def test_dumps_nested_through_default_ends_in_a_clean_error(stack):
    code = CHILD.format(links=400, stack=stack)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    # However much stack the thread has, the chain is too deep for it or
    # written whole; either way nothing crashes.
    assert done.stdout.strip() in ("RecursionError", "written")
    if stack <= 8 * 1024 * 1024:
        assert done.stdout.strip() == "RecursionError"


def test_stack_error_names_its_cause():
    code = CHILD.format(links=400, stack=512 * 1024).replace(
        "outcome.append(type(cause).__name__)", "outcome.append(str(e) + ' | ' + str(cause))"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "maximum recursion depth exceeded" in done.stdout


# Every kind of nesting dumps accepts, as deep as it accepts it, in threads
# with the smallest stacks the interpreter allows: each ends in its output
# or in "Recursion limit reached", never in a crash. A child process runs
# them all for one stack size and prints one line per document.
SMALL_STACKS = textwrap.dedent(
    """
    import json, sys, threading
    import vellum

    stack = int(sys.argv[1])
    sys.path.insert(0, sys.argv[2])
    import nesting
    from nesting import Node, Slotted, Wrapped, member, nested
    INDENT, SORT, KEYS = vellum.OPT_INDENT_2, vellum.OPT_SORT_KEYS, vellum.OPT_NON_STR_KEYS

    def default(obj):
        return nesting.default(obj, last="end")

    def default_list(obj):
        return [Wrapped(obj.n - 1)] if obj.n else "end"

    def documents(depth):
        yield "lists", nested(depth, lambda x: [x]), 0
        yield "lists indented", nested(depth, lambda x: [x]), INDENT
        yield "tuples", nested(depth, lambda x: (x,)), 0
        yield "dicts indented", nested(depth, lambda x: {"k": x}), INDENT
        yield "dicts sorted", nested(depth, lambda x: {"k": x, "a": 0}), SORT | INDENT
        yield "dicts, converted keys", nested(depth, lambda x: {1: x}), KEYS | INDENT
        yield "dataclasses", nested(depth, Node), 0
        yield "dataclasses indented", nested(depth, Node), INDENT
        yield "slotted dataclasses", nested(depth, Slotted), INDENT
        yield "dataclasses in enums", nested(depth, lambda x: Node(member(x))), INDENT
        yield "enum values", nested(depth, member), INDENT
        yield "enum keys", {nested(depth, member): 1}, KEYS | INDENT
        yield "default calls", Wrapped(depth - 1), INDENT
        yield "default returning lists", Wrapped(depth - 1), -INDENT
        try:
            import numpy
        except ImportError:
            return
        yield "numpy dimensions", numpy.zeros((1,) * min(depth, 64)), vellum.OPT_SERIALIZE_NUMPY | INDENT

    def write(doc, option):
        return vellum.dumps(doc, default=default_list if option < 0 else default, option=abs(option))

    def run(depth):
        docs = list(documents(depth))
        expected = [write(doc, option) for _, doc, option in docs]
        outcomes = []

        def in_thread():
            for (name, doc, option), want in zip(docs, expected):
                try:
                    outcomes.append([name, "written" if write(doc, option) == want else "wrong output"])
                except vellum.JSONEncodeError as e:
                    # From 3.14 the interpreter refuses a Python call (here
                    # `default`) near the end of the stack itself.
                    refused = str(e) != "Recursion limit reached" and isinstance(e.__cause__, RecursionError)
                    outcomes.append([name, "interpreter refused" if refused else str(e)])

        threading.stack_size(stack)
        t = threading.Thread(target=in_thread)
        t.start()
        t.join()
        return outcomes

    try:
        threading.stack_size(stack)
    except ValueError:  # below this interpreter's smallest thread stack (3.14 raised it)
        print(json.dumps(None))
        raise SystemExit
    print(json.dumps({"deep": run(254), "shallow": run(3)}))
    """
)


def sanitized():
    return "asan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.parametrize("stack", [32 * 1024, 48 * 1024, 64 * 1024])
def test_every_kind_of_nesting_on_the_smallest_stacks(stack):
    done = subprocess.run(
        [sys.executable, "-c", SMALL_STACKS, str(stack), str(SUPPORT)], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr[-2000:]
    outcomes = json.loads(done.stdout)
    if outcomes is None:
        pytest.skip(f"the interpreter makes no thread stack of {stack} bytes")
    for name, outcome in outcomes["deep"]:
        assert outcome in ("written", "Recursion limit reached", "interpreter refused"), name
    # What little a shallow document needs fits every stack (a sanitized
    # build's frames are several times larger: it may refuse at once).
    for name, outcome in outcomes["shallow"]:
        assert outcome == "written" or (sanitized() and outcome == "Recursion limit reached"), name
