"""dumps checks the thread's real stack where recursion can run through
Python code, so that a thread with a small stack, or dumps nested through
`default`, ends in a clean error instead of a crash."""

import subprocess
import sys
import textwrap
import threading

import pytest

import vellum


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
