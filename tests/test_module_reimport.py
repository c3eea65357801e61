import subprocess
import sys
import textwrap

import pytest

# Each case runs in its own interpreter, so the module objects of the test
# session stay untouched. `fresh` is the module object after the step.
STEPS = {
    "reimport": """
        del sys.modules["vellum"]
        import vellum as fresh
        assert fresh is not first
        assert sys.modules["vellum.vellum"] is native
    """,
    "reload": """
        import importlib
        fresh = importlib.reload(vellum)
        assert fresh is first
        assert sys.modules["vellum.vellum"] is native
    """,
    "reimport_with_native": """
        del sys.modules["vellum"], sys.modules["vellum.vellum"]
        import vellum as fresh
        assert fresh is not first
        assert sys.modules["vellum.vellum"] is not native
    """,
    "reimport_then_reload": """
        del sys.modules["vellum"]
        import vellum as fresh
        import importlib
        assert importlib.reload(fresh) is fresh
    """,
}

CHECK = """
    import sys
    import vellum
    first = vellum
    native = sys.modules["vellum.vellum"]
    # A new native module object has types of its own; JSONEncodeError is
    # TypeError itself.
    own_types = ("Fragment", "JSONDecodeError")
    before = {name: getattr(vellum, name) for name in vellum.__all__}
    # step
    now = sys.modules["vellum.vellum"]
    files = sys.modules["vellum._files"]
    written_in_python = {"dump", "load", "dump_lines", "load_lines"}
    public = {n for n in dir(now) if not n.startswith("_")} | written_in_python
    assert {n for n in dir(fresh) if not n.startswith("_")} == public, dir(fresh)
    assert set(fresh.__all__) == public | {"__version__"}
    assert not hasattr(fresh, "vellum")
    for name in fresh.__all__:
        home = files if name in written_in_python else now
        assert getattr(fresh, name) is getattr(home, name), name
        if name in own_types:
            assert (getattr(fresh, name) is before[name]) == (now is native), name
        elif name == "JSONEncodeError":
            assert getattr(fresh, name) is TypeError
        elif name.startswith("OPT_") or name == "__version__":
            assert getattr(fresh, name) == before[name], name
    doc = {"a": [1, 2.5, None, "é"], "f": fresh.Fragment(b"[true]")}
    assert fresh.loads(fresh.dumps(doc)) == {"a": [1, 2.5, None, "é"], "f": [True]}
    # The file functions keep the native module they were first imported
    # with (vellum._files stays cached), whose Fragment is another type than
    # a new native module's: their document holds none.
    import io
    out = io.BytesIO()
    fresh.dump_lines([doc["a"], [1]], out)
    assert list(fresh.load_lines(io.BytesIO(out.getvalue()))) == [[1, 2.5, None, "é"], [1]]
    try:
        fresh.loads(b"[1,")
    except fresh.JSONDecodeError as e:
        assert e.pos == 3
    else:
        raise AssertionError("no error")
    try:
        fresh.dumps(object())
    except TypeError:
        pass
    else:
        raise AssertionError("no error")
    print("ok")
"""


@pytest.mark.parametrize("step", sorted(STEPS))
def test_reimport_and_reload(step):
    code = textwrap.dedent(CHECK).replace("# step", textwrap.dedent(STEPS[step]).strip())
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"
