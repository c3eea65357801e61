"""Running out of memory is an exception, never the end of the process.

A small test extension (support/failalloc.c, built here with the
interpreter's compiler) wraps the interpreter's PyMem_* and PyObject_*
allocators and refuses the N-th allocation; support/alloc_walk.py walks N
over every allocation of one operation in a child process and reports how
each attempt ended."""

import json
import os
import pathlib
import subprocess
import sys
import sysconfig

import pytest

SUPPORT = pathlib.Path(__file__).parent / "support"


@pytest.fixture(scope="session")
def failalloc_dir(tmp_path_factory):
    out = tmp_path_factory.mktemp("failalloc")
    target = out / ("failalloc" + sysconfig.get_config_var("EXT_SUFFIX"))
    compiler = (sysconfig.get_config_var("CC") or "cc").split()
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(
        [*compiler, "-shared", "-fPIC", "-O1", "-Wall", "-Wextra", "-Werror",
         "-I", sysconfig.get_paths()["include"], str(SUPPORT / "failalloc.c"), "-o", str(target)],
        check=True, env=env,
    )
    return out


def walk(failalloc_dir, target):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(failalloc_dir), env.get("PYTHONPATH")]))
    run = subprocess.run(
        [sys.executable, str(SUPPORT / "alloc_walk.py"), target],
        capture_output=True, text=True, env=env, timeout=600,
    )
    assert run.returncode == 0, f"{target}: exit {run.returncode}\n{run.stderr[-4000:]}"
    return json.loads(run.stdout)


def test_import(failalloc_dir):
    report = walk(failalloc_dir, "import")
    assert report["bad"] == []
    assert report["attempts"] > 50
    # Every attempt but the last one was refused an allocation and failed.
    assert report["outcomes"].get("MemoryError", 0) + report["outcomes"].get("ok", 0) == report["attempts"]


@pytest.mark.parametrize(
    "target",
    [
        "fragment", "dumps", "dumps-sorted", "dumps-types", "dumps-types-sorted", "dumps-failing",
        "loads-bytes", "loads-str", "loads-large", "loads-wide", "loads-invalid", "loads-decimal",
    ],
)
def test_operation(failalloc_dir, target):
    report = walk(failalloc_dir, target)
    assert report["bad"] == []
    assert report["attempts"] > 0
    assert report["refs_after"] == report["refs_before"]
    # Each refusal of the repeated walk would add at least one block.
    assert report["blocks_grown"] <= report["blocks_grown_without_refusals"] + 5
