import importlib.util
import json
import pathlib
import subprocess
import sys
import textwrap
import tomllib
from importlib import metadata

import pytest

import vellum

OPTION_VALUES = {
    "OPT_APPEND_NEWLINE": 1024,
    "OPT_INDENT_2": 1,
    "OPT_NAIVE_UTC": 2,
    "OPT_NON_STR_KEYS": 4,
    "OPT_OMIT_MICROSECONDS": 8,
    "OPT_PASSTHROUGH_DATACLASS": 2048,
    "OPT_PASSTHROUGH_DATETIME": 512,
    "OPT_PASSTHROUGH_SUBCLASS": 256,
    "OPT_SERIALIZE_DATACLASS": 0,
    "OPT_SERIALIZE_NUMPY": 16,
    "OPT_SERIALIZE_UUID": 0,
    "OPT_SORT_KEYS": 32,
    "OPT_STRICT_INTEGER": 64,
    "OPT_UTC_Z": 128,
}


@pytest.mark.parametrize("name,value", sorted(OPTION_VALUES.items()))
def test_option_constant(name, value):
    assert type(getattr(vellum, name)) is int
    assert getattr(vellum, name) == value


def test_option_flags_are_distinct_bits_summing_to_4095():
    flags = [v for v in OPTION_VALUES.values() if v]
    assert len(flags) == 12
    assert sum(flags) == 4095
    assert all(v & (v - 1) == 0 for v in flags)


def test_version_comes_from_pyproject_and_no_docstring():
    project = tomllib.loads((pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml").read_text())["project"]
    assert vellum.__version__ == project["version"]
    try:
        installed = metadata.version(project["name"])
    except metadata.PackageNotFoundError:
        installed = None  # imported from a build tree
    assert installed in (None, vellum.__version__)
    assert vellum.__doc__ is None


def test_public_names():
    public = {n for n in dir(vellum) if not n.startswith("_")}
    expected = set(OPTION_VALUES) | {"Fragment", "JSONDecodeError", "JSONEncodeError"}
    expected |= {n for n in ("dumps", "loads") if hasattr(sys.modules["vellum.vellum"], n)}
    # Written in Python over dumps and loads.
    expected |= {"dump", "load", "dump_lines", "load_lines"}
    assert public == expected
    assert set(vellum.__all__) == expected | {"__version__"}


def test_native_module_attribute_order():
    native = sys.modules["vellum.vellum"]
    names = [n for n in vars(native) if not (n.startswith("__") and n != "__version__")]
    functions = [n for n in ("dumps", "loads") if n in names]
    expected = ["__version__", *functions, "Fragment", *OPTION_VALUES, "JSONDecodeError", "JSONEncodeError"]
    assert names == expected


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


def test_reimport_shares_process_wide_objects():
    code = textwrap.dedent(
        """
        import sys, vellum
        first = (vellum.Fragment, vellum.JSONDecodeError)
        for name in [m for m in sys.modules if m == "vellum" or m.startswith("vellum.")]:
            del sys.modules[name]
        import vellum as again
        assert again is not vellum
        assert (again.Fragment, again.JSONDecodeError) == first
        print("ok")
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"


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
