"""The wheel and the sdist in VELLUM_DIST (made by `make wheel`), each
installed into a fresh virtual environment and used from a directory where
neither the source tree nor a build tree can be imported."""

import json
import os
import pathlib
import subprocess
import sys
import tarfile
import textwrap
import venv
import zipfile

import pytest

DIST = pathlib.Path(os.environ["VELLUM_DIST"])

USE = textwrap.dedent(
    """
    import json, pathlib, sys, sysconfig
    from importlib import metadata
    import vellum
    package = pathlib.Path(vellum.__file__).parent
    assert package.parent == pathlib.Path(sysconfig.get_path("platlib")), package
    assert (package / "py.typed").is_file() and (package / "__init__.pyi").is_file()
    doc = {"name": "vellum", "values": [1, 2.5, None, True], "text": "é日😀", "nested": {"k": []}}
    out = vellum.dumps(doc, option=vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2)
    assert out == json.dumps(doc, sort_keys=True, indent=2, ensure_ascii=False).encode(), out
    assert vellum.loads(out) == doc
    meta = metadata.metadata("vellum")
    print(json.dumps({
        "license": meta["License-Expression"],
        "requires_python": meta["Requires-Python"],
        "urls": meta.get_all("Project-URL"),
    }))
    """
)


def only(pattern):
    found = sorted(DIST.glob(pattern))
    assert len(found) == 1, (pattern, found)
    return found[0]


def fresh_venv(path):
    venv.EnvBuilder(with_pip=True).create(path)
    return path / "bin" / "python"


def run(python, args, cwd):
    # -I: no PYTHONPATH, no user site, and not the working directory.
    out = subprocess.run([str(python), "-I", *args], capture_output=True, text=True, cwd=cwd)
    assert out.returncode == 0, out.stdout + out.stderr
    return out.stdout


def check_installed(python, cwd):
    meta = json.loads(run(python, ["-c", USE], cwd))
    assert meta["license"] == "MIT"
    assert sorted(meta["requires_python"].split(",")) == ["<3.14", ">=3.13"]
    assert meta["urls"] and all(", https://vellum.invalid/" in u for u in meta["urls"])
    (cwd / "in.json").write_text('{"b": [1, 2], "a": null}')
    assert run(python, ["-m", "vellum", "--compact", "--sort-keys", "in.json"], cwd) == '{"a":null,"b":[1,2]}\n'


def test_repaired_wheel_installs_and_works(tmp_path):
    wheel = only("vellum-*.whl")
    assert "manylinux" in wheel.name and wheel.name.endswith("_x86_64.whl"), wheel.name
    with zipfile.ZipFile(wheel) as z:
        names = set(z.namelist())
    assert {"vellum/__init__.py", "vellum/__main__.py", "vellum/__init__.pyi", "vellum/py.typed"} <= names
    # Nothing grafted: the module needs only the C library.
    assert not any(".libs/" in n for n in names), names
    python = fresh_venv(tmp_path / "venv")
    run(python, ["-m", "pip", "install", "-q", "--no-index", "--no-deps", str(wheel)], tmp_path)
    check_installed(python, tmp_path)


def test_sdist_builds_and_installs(tmp_path):
    sdist = only("vellum-*.tar.gz")
    with tarfile.open(sdist) as t:
        names = {n.split("/", 1)[1] for n in t.getnames() if "/" in n}
    assert {"pyproject.toml", "CMakeLists.txt", "README.md", "vellum/__init__.pyi", "vellum/py.typed"} <= names
    assert not any(n.startswith(("bench/data/", "build/", ".venv/")) for n in names)
    python = fresh_venv(tmp_path / "venv")
    run(python, ["-m", "pip", "install", "-q", str(sdist)], tmp_path)
    check_installed(python, tmp_path)
