import gc
import subprocess
import sys
import textwrap
import weakref

import pytest

import vellum

MESSAGE = "vellum.Fragment() takes exactly 1 positional argument"


@pytest.mark.parametrize("content", [b'{"a":1}', "[1,2]", 1, None, bytearray(b"x")])
def test_any_single_content_is_accepted(content):
    assert type(vellum.Fragment(content)) is vellum.Fragment


@pytest.mark.parametrize(
    "args,kwargs",
    [((), {}), ((b"a", b"b"), {}), ((), {"content": b"a"}), ((b"a",), {"x": 1})],
    ids=["none", "two", "keyword-only", "positional-and-keyword"],
)
def test_wrong_arguments(args, kwargs):
    with pytest.raises(TypeError) as info:
        vellum.Fragment(*args, **kwargs)
    assert str(info.value) == MESSAGE


def test_type_identity():
    assert vellum.Fragment.__name__ == "Fragment"
    assert vellum.Fragment.__module__ == "vellum"
    assert vellum.Fragment.__qualname__ == "Fragment"


def test_not_subclassable():
    with pytest.raises(TypeError):
        type("Sub", (vellum.Fragment,), {})


def test_type_is_immutable():
    with pytest.raises(TypeError):
        vellum.Fragment.extra = 1
    with pytest.raises(AttributeError):
        vellum.Fragment(b"x").extra = 1


def test_content_released_exactly_once():
    content = object()
    before = sys.getrefcount(content)
    fragments = [vellum.Fragment(content) for _ in range(10)]
    held = sys.getrefcount(content) - before
    fragments.clear()
    released = sys.getrefcount(content) - before
    assert (held, released) == (10, 0)


def test_failed_construction_keeps_no_reference():
    content = object()
    before = sys.getrefcount(content)
    for _ in range(10):
        with pytest.raises(TypeError):
            vellum.Fragment(content, content)
    assert sys.getrefcount(content) == before


def test_default_object_behaviour():
    f = vellum.Fragment(b"1")
    assert f == f and f != vellum.Fragment(b"1")
    assert hash(f) == hash(f)
    assert repr(f).startswith("<vellum.Fragment object at ")


class Box:
    pass


@pytest.mark.parametrize(
    "close_cycle",
    [
        lambda box, f: setattr(box, "fragment", f),
        lambda box, f: setattr(box, "fragment", [vellum.Fragment([f])]),
    ],
    ids=["direct", "through-another-fragment"],
)
def test_cycle_through_fragment_is_collected(close_cycle):
    box = Box()
    fragment = vellum.Fragment(box)
    close_cycle(box, fragment)
    alive = weakref.ref(box)
    del box, fragment
    gc.collect()
    assert alive() is None


def test_cycles_through_fragments_keep_no_memory():
    # A fragment that holds the list holding it: once leaked every time.
    def make_cycles(n):
        for _ in range(n):
            content = [bytearray(100)]
            fragment = vellum.Fragment(content)
            content.append(fragment)
        gc.collect()

    make_cycles(100)
    before = sys.getallocatedblocks()
    make_cycles(2000)
    assert sys.getallocatedblocks() - before < 100


def test_collector_sees_the_content():
    content = [1]
    fragment = vellum.Fragment(content)
    assert gc.is_tracked(fragment)
    assert content in gc.get_referents(fragment)


def test_fragment_in_a_cycle_still_serializes():
    content = [b"[1]"]
    fragment = vellum.Fragment(content[0])
    content.append(fragment)
    gc.collect()
    assert vellum.dumps([fragment]) == b"[[1]]"


# A crash would take the test run with it: the chain is freed in a child.
def test_a_long_chain_of_fragments_is_freed_without_recursing():
    code = textwrap.dedent(
        """
        import vellum
        inner = b"1"
        for _ in range(1_000_000):
            inner = vellum.Fragment(inner)
        del inner
        print("freed")
        """
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert (done.returncode, done.stdout.strip()) == (0, "freed"), done.stderr[-2000:]
