import ast
import inspect
import os
import pathlib
import subprocess
import sys

import pytest

import vellum

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLE = HERE / "stub_example.py"
PACKAGE = pathlib.Path(vellum.__file__).parent
# Each module and the stub that types it.
STUBS = {"vellum": "__init__.pyi", "vellum.vellum": "vellum.pyi"}


def documented():
    """(name, object, docstring) for each module and each function and class
    whose stub has a docstring."""
    for module_name, stub in STUBS.items():
        tree = ast.parse((PACKAGE / stub).read_text())
        module = sys.modules[module_name]
        yield module_name, module, ast.get_docstring(tree)
        for node in tree.body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and ast.get_docstring(node):
                yield f"{module_name}.{node.name}", getattr(module, node.name), ast.get_docstring(node)


DOCUMENTED = list(documented())


def run(args, cwd):
    # Outside the source tree, so that the package under test (the one
    # imported above) is what the checker finds, stubs and module alike.
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, cwd=cwd)


def test_stubs_sit_beside_the_module():
    package = pathlib.Path(vellum.__file__).parent
    assert (package / "__init__.pyi").is_file()
    assert (package / "vellum.pyi").is_file()
    assert (package / "py.typed").is_file()


def test_stubs_agree_with_the_runtime(tmp_path):
    # The package and its native submodule, with no allowlist.
    out = run(["-m", "mypy.stubtest", "vellum"], tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr


def test_strict_type_check_of_every_public_name(tmp_path):
    source = EXAMPLE.read_text()
    for name in vellum.__all__:
        assert name in source, name
    out = run(["-m", "mypy", "--strict", "--cache-dir", os.devnull, str(EXAMPLE)], tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr
    out = run([str(EXAMPLE)], tmp_path)
    assert (out.returncode, out.stdout, out.stderr) == (0, "ok\n", "")


def test_package_sources_pass_strict_type_check(tmp_path):
    # The command-line tool and the file functions, against the stubs.
    out = run(["-m", "mypy", "--strict", "--cache-dir", os.devnull, "-p", "vellum"], tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr
    package = pathlib.Path(vellum.__file__).parent
    # __init__.py stands behind its stub; every other module is checked.
    sources = [p for p in package.iterdir() if p.suffix in (".py", ".pyi") and p.name != "__init__.py"]
    assert f"no issues found in {len(sources)} source files" in out.stdout, out.stdout


def test_every_public_function_and_class_is_documented():
    names = {name.rsplit(".", 1)[-1] for name, _, _ in DOCUMENTED}
    # JSONEncodeError is the interpreter's TypeError.
    public = {n for n in vellum.__all__ if callable(getattr(vellum, n))} - {"JSONEncodeError"}
    assert public <= names


@pytest.mark.parametrize("name,obj,doc", DOCUMENTED, ids=[name for name, _, _ in DOCUMENTED])
def test_docstrings_at_run_time_are_the_stubs(name, obj, doc):
    # help() and an editor reading the stubs show the same text; the native
    # module's is written from its stub by the build.
    assert doc and obj.__doc__ is not None, name
    assert inspect.cleandoc(obj.__doc__) == doc


def test_fragment_has_a_signature():
    # Written from the stub with the docstring (dumps' and loads' are tested
    # with them); stubtest compares it with the stub.
    assert str(inspect.signature(vellum.Fragment)) == "(content, /)"
