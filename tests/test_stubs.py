import os
import pathlib
import subprocess
import sys

import vellum

HERE = pathlib.Path(__file__).resolve().parent
EXAMPLE = HERE / "stub_example.py"


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
