import ast
import functools
import importlib.util
import json
import operator
import pathlib
import subprocess
import sys
import textwrap
import tomllib
from importlib import metadata

import pytest

import vellum

# What the module exposes is written once, in its stubs: the public names
# (the package's stub) and the option constants with their values (the
# native module's stub); the stub tests check the rest of the stubs against
# the module.
PACKAGE = pathlib.Path(vellum.__file__).parent
STUBS = ast.parse((PACKAGE / "__init__.pyi").read_text())
NATIVE_STUBS = ast.parse((PACKAGE / "vellum.pyi").read_text())
STUB_ALL = next(
    ast.literal_eval(node.value)
    for node in STUBS.body
    if isinstance(node, ast.Assign) and [t.id for t in node.targets] == ["__all__"]
)
OPTIONS = {
    node.target.id: ast.literal_eval(node.value)
    for node in NATIVE_STUBS.body
    if isinstance(node, ast.AnnAssign) and node.target.id.startswith("OPT_")
}


def test_stubs_list_the_options():
    assert sorted(OPTIONS) == [n for n in STUB_ALL if n.startswith("OPT_")]


@pytest.mark.parametrize("name", sorted(OPTIONS))
def test_option_constant(name):
    assert type(getattr(vellum, name)) is int
    assert getattr(vellum, name) == OPTIONS[name]


def test_option_flags_are_distinct_bits():
    flags = [v for v in OPTIONS.values() if v]
    assert all(v & (v - 1) == 0 for v in flags)
    assert sum(flags) == functools.reduce(operator.or_, flags)


def test_version_comes_from_pyproject():
    project = tomllib.loads((pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml").read_text())["project"]
    assert vellum.__version__ == project["version"]
    try:
        installed = metadata.version(project["name"])
    except metadata.PackageNotFoundError:
        installed = None  # imported from a build tree
    assert installed in (None, vellum.__version__)


def test_public_names():
    public = {n for n in dir(vellum) if not n.startswith("_")}
    assert public == set(STUB_ALL) - {"__version__"}
    assert vellum.__all__ == STUB_ALL


def test_native_module_attribute_order():
    native = sys.modules["vellum.vellum"]
    names = [n for n in vars(native) if not (n.startswith("__") and n != "__version__")]
    functions = [n for n in ("dumps", "loads") if n in names]
    expected = ["__version__", *functions, "Fragment", *OPTIONS, "JSONDecodeError", "JSONEncodeError"]
    assert names == expected


def test_functions_are_bound_to_their_module():
    # Their calls reach the module object's state through it.
    native = sys.modules["vellum.vellum"]
    assert vellum.dumps.__self__ is native and vellum.loads.__self__ is native


def test_encode_error_is_type_error():
    assert vellum.JSONEncodeError is TypeError


def test_decode_error_derives_from_json_decode_error():
    assert issubclass(vellum.JSONDecodeError, json.JSONDecodeError)
    assert issubclass(vellum.JSONDecodeError, ValueError)
    assert vellum.JSONDecodeError.__module__ == "vellum"
    assert vellum.JSONDecodeError.__name__ == "JSONDecodeError"
    assert vellum.JSONDecodeError.__bases__ == (json.JSONDecodeError,)
    err = vellum.JSONDecodeError("boom", "ab\ncd", 4)
    assert (err.msg, err.doc, err.pos, err.lineno, err.colno) == ("boom", "ab\ncd", 4, 2, 2)


def test_reimport_makes_a_module_of_its_own():
    # Each native module object holds its own state: its Fragment type and
    # JSONDecodeError are its own, and the first module, held by its
    # functions, goes on working with its own.
    code = textwrap.dedent(
        """
        import json, sys, vellum
        first = sys.modules["vellum.vellum"]
        for name in [m for m in sys.modules if m == "vellum" or m.startswith("vellum.")]:
            del sys.modules[name]
        import vellum as again
        second = sys.modules["vellum.vellum"]
        assert second is not first
        assert again.Fragment is not first.Fragment and again.JSONDecodeError is not first.JSONDecodeError
        assert issubclass(again.JSONDecodeError, json.JSONDecodeError)
        dumps, loads, fragment = first.dumps, first.loads, first.Fragment
        del first, vellum
        assert dumps([fragment(b"1")]) == b"[1]" and again.dumps([again.Fragment(b"1")]) == b"[1]"
        def raised(call, arg, error):
            try:
                call(arg)
            except error as e:
                return type(e), str(e)
        assert raised(again.dumps, fragment(b"1"), TypeError) == (TypeError, "Type is not JSON serializable: vellum.Fragment")
        assert raised(loads, b"[", json.JSONDecodeError)[0] is dumps.__self__.JSONDecodeError
        assert raised(again.loads, b"[", json.JSONDecodeError)[0] is again.JSONDecodeError
        print("ok")
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


def test_a_module_is_freed_with_its_state():
    # The module's types hold the module, and its state holds them: the
    # collector must see that cycle to free a module no one uses any more.
    code = textwrap.dedent(
        """
        import gc, sys, weakref, vellum
        native = sys.modules["vellum.vellum"]
        held = [native, native.Fragment, native.JSONDecodeError]
        native.loads(b'[{"key": "value"}, {"key": "value"}]')
        native.dumps({1: native.Fragment(b"[]")}, option=native.OPT_NON_STR_KEYS | native.OPT_SORT_KEYS)
        refs = [weakref.ref(obj) for obj in held]
        for name in [m for m in sys.modules if m == "vellum" or m.startswith("vellum.")]:
            del sys.modules[name]
        del native, vellum, held
        gc.collect()
        print([ref() is None for ref in refs])
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "[True, True, True]"


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_subinterpreter_refuses_module(config):
    # The legacy kind shares the interpreter lock and would load modules
    # that declare no support for sub-interpreters; a module loaded there
    # first would keep that interpreter's objects after it is gone.
    # 3.13 names the module _interpreters; 3.11 and 3.12 name it
    # _xxsubinterpreters, whose run_string raises the failure as text.
    if importlib.util.find_spec("_interpreters") is not None:
        run = f"""
            import _interpreters
            interp = _interpreters.create({config!r})
            try:
                err = _interpreters.run_string(interp, "import vellum")
            finally:
                _interpreters.destroy(interp)
            print(type(err).__name__ if err is None else err.type.__name__)
            """
    else:
        run = f"""
            import re, _xxsubinterpreters as interpreters
            interp = interpreters.create(isolated={config == "isolated"})
            try:
                interpreters.run_string(interp, "import vellum")
                print("NoneType")
            except interpreters.RunFailedError as err:
                print(re.match(r"<class '(\\w+)'>", str(err)).group(1))
            finally:
                interpreters.destroy(interp)
            """
    code = textwrap.dedent(run) + textwrap.dedent(
        """
        import vellum
        try:
            vellum.loads(b"[")
        except vellum.JSONDecodeError as exc:
            print(exc.msg)
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split("\n")[:2] == ["ImportError", "unexpected end of data"]
