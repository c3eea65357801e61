"""The wheels and the sdist in VELLUM_DIST (made by `make wheel`), each
installed into a fresh virtual environment and used from a directory where
neither the source tree nor a build tree can be imported; each wheel on its
own interpreter (one of VELLUM_PYTHONS) with its manylinux tag checked by
auditwheel (VELLUM_AUDITWHEEL); the sdist also runs its own tests."""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import textwrap
import tomllib
import venv
import zipfile

import pytest

DIST = pathlib.Path(os.environ["VELLUM_DIST"])
ROOT = pathlib.Path(__file__).resolve().parents[2]
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
# The file names of the distribution: its name with `-` as `_`.
FILE_NAME = PROJECT["name"].replace("-", "_")

USE = textwrap.dedent(
    """
    import io, json, pathlib, sys, sysconfig
    from importlib import metadata
    import vellum
    package = pathlib.Path(vellum.__file__).parent
    assert package.parent == pathlib.Path(sysconfig.get_path("platlib")), package
    assert (package / "py.typed").is_file() and (package / "__init__.pyi").is_file()
    doc = {"name": "vellum", "values": [1, 2.5, None, True], "text": "é日😀", "nested": {"k": []}}
    out = vellum.dumps(doc, option=vellum.OPT_SORT_KEYS | vellum.OPT_INDENT_2)
    assert out == json.dumps(doc, sort_keys=True, indent=2, ensure_ascii=False).encode(), out
    assert vellum.loads(out) == doc
    lines = io.BytesIO()
    vellum.dump_lines([doc, [1]], lines)
    assert list(vellum.load_lines(io.BytesIO(lines.getvalue()))) == [doc, [1]]
    name = sys.argv[1]
    meta = metadata.metadata(name)
    print(json.dumps({
        "name": meta["Name"],
        "version": meta["Version"],
        "module_version": vellum.__version__,
        "distributions": sorted(d.metadata["Name"] for d in metadata.distributions()),
        "license": meta["License-Expression"],
        "requires_python": meta["Requires-Python"],
        "urls": meta.get_all("Project-URL"),
        "description_type": meta["Description-Content-Type"],
        "description": meta.get_payload(),
    }))
    """
)


README = (ROOT / "README.md").read_text()
# The target of a Markdown link or image.
LINK = re.compile(r"\]\(([^)]*)\)")
# The interpreters of the wheels, by version ("3.12"), and auditwheel.
PYTHONS = {}
for _path in os.environ.get("VELLUM_PYTHONS", sys.executable).split():
    _version = subprocess.run([_path, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                              capture_output=True, text=True, check=True).stdout.strip()
    PYTHONS.setdefault(_version, _path)
AUDITWHEEL = os.environ.get("VELLUM_AUDITWHEEL") or shutil.which("auditwheel")
WHEELS = sorted(DIST.glob(f"{FILE_NAME}-{PROJECT['version']}-*.whl"))


def only(pattern):
    found = sorted(DIST.glob(pattern))
    assert len(found) == 1, (pattern, found)
    return found[0]


def fresh_venv(path, python=None):
    if python is None:
        venv.EnvBuilder(with_pip=True).create(path)
    else:
        subprocess.run([python, "-m", "venv", str(path)], check=True)
    return path / "bin" / "python"


def run(python, args, cwd):
    # -I: no PYTHONPATH, no user site, and not the working directory.
    out = subprocess.run([str(python), "-I", *args], capture_output=True, text=True, cwd=cwd)
    assert out.returncode == 0, out.stdout + out.stderr
    return out.stdout


def check_installed(python, cwd):
    meta = json.loads(run(python, ["-c", USE, PROJECT["name"]], cwd))
    # Installed by its own name (the index's `vellum` is another project),
    # imported as vellum, one version throughout.
    assert meta["name"] == PROJECT["name"] == "vellum-json"
    assert meta["version"] == meta["module_version"] == PROJECT["version"]
    assert [d for d in meta["distributions"] if "vellum" in d] == [PROJECT["name"]]
    assert meta["license"] == "MIT"
    assert sorted(meta["requires_python"].split(",")) == ["<3.14", ">=3.11"]
    assert meta["urls"] == [f"{name}, {url}" for name, url in PROJECT["urls"].items()]
    # The description the package index shows: the README, whose links name
    # files of the repository, with each link under the source address.
    source = PROJECT["urls"]["Source"]
    assert meta["description_type"] == "text/markdown"
    assert meta["description"] == LINK.sub(lambda link: f"]({source}{link.group(1)})", README)
    (cwd / "in.json").write_text('{"b": [1, 2], "a": null}')
    assert run(python, ["-m", "vellum", "--compact", "--sort-keys", "in.json"], cwd) == '{"a":null,"b":[1,2]}\n'
    assert run(python, ["-m", "vellum", "--version"], cwd) == f"python -m vellum {PROJECT['version']}\n"


def test_readme_links_name_files_of_the_repository():
    targets = LINK.findall(README)
    assert "bench/ratios.png" in targets and "HACKING.md" in targets, targets
    for target in targets:
        assert not re.match(r"[a-z]+:", target) and (ROOT / target).is_file(), target


def test_a_wheel_for_every_interpreter_present():
    tags = sorted(w.name.split("-")[2] for w in WHEELS)
    assert tags == sorted("cp" + v.replace(".", "") for v in PYTHONS), (tags, PYTHONS)


@pytest.mark.parametrize("wheel", WHEELS, ids=lambda w: w.name.split("-")[2])
def test_repaired_wheel_installs_and_works(wheel, tmp_path):
    assert "manylinux" in wheel.name and wheel.name.endswith("_x86_64.whl"), wheel.name
    with zipfile.ZipFile(wheel) as z:
        names = set(z.namelist())
    assert {"vellum/__init__.py", "vellum/__main__.py", "vellum/_files.py", "vellum/__init__.pyi",
            "vellum/vellum.pyi", "vellum/py.typed"} <= names
    # Nothing grafted: the module needs only the C library.
    assert not any(".libs/" in n for n in names), names
    tag = wheel.name.split("-")[2]
    version = f"{tag[2]}.{tag[3:]}"
    python = fresh_venv(tmp_path / "venv", PYTHONS[version])
    run(python, ["-m", "pip", "install", "-q", "--no-index", "--no-deps", str(wheel)], tmp_path)
    check_installed(python, tmp_path)


@pytest.mark.parametrize("wheel", WHEELS, ids=lambda w: w.name.split("-")[2])
def test_wheel_tag_is_the_oldest_glibc_that_the_readme_names(wheel):
    # The symbol versions the module binds decide the tag: the README's
    # promise holds only while the thread-stack calls bind their oldest ones.
    assert AUDITWHEEL, "auditwheel is needed"
    out = subprocess.run([AUDITWHEEL, "show", str(wheel)], capture_output=True, text=True)
    assert out.returncode == 0, out.stdout + out.stderr
    found = re.search(r'consistent with the\s+following platform tag:\s+"(manylinux_2_(\d+)_x86_64)"', out.stdout)
    assert found, out.stdout
    assert found.group(1) == "manylinux_2_17_x86_64", out.stdout
    # Only the C library's symbol versions: no C++ runtime.
    assert "libstdc++" not in out.stdout, out.stdout
    assert found.group(1) in wheel.name
    assert f"glibc 2.{found.group(2)} " in README and found.group(1) in README


def sdist_names():
    with tarfile.open(only(f"{FILE_NAME}-{PROJECT['version']}.tar.gz")) as t:
        return {n.split("/", 1)[1] for n in t.getnames() if "/" in n}


def test_sdist_holds_what_building_and_testing_need():
    names = sdist_names()
    assert {"pyproject.toml", "CMakeLists.txt", "Makefile", "README.md", "HACKING.md", "LICENSE",
            "vellum/__init__.pyi", "vellum/py.typed", "tests/conftest.py", "tests/cpp/CMakeLists.txt",
            "bench/data/SOURCES.md", "bench/data/twitter.json"} <= names
    # No CI scripts, images or local trees.
    assert not any(n.startswith((".ci/", "build/", ".venv/", ".venv-", "dist/", ".git")) or n.endswith(".png")
                   for n in names), names
    if shutil.which("git") is None or not (ROOT / ".git").exists():
        return
    # Everything the repository tracks but those.
    tracked = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True, check=True)
    wanted = {n for n in tracked.stdout.splitlines()
              if not (n.startswith((".ci/", ".git")) or n.endswith(".png"))}
    assert wanted - names == set()
    assert names - wanted <= {"PKG-INFO"}


def test_sdist_builds_installs_and_passes_its_own_tests(tmp_path):
    sdist = only(f"{FILE_NAME}-{PROJECT['version']}.tar.gz")
    python = fresh_venv(tmp_path / "venv")
    run(python, ["-m", "pip", "install", "-q", str(sdist)], tmp_path)
    check_installed(python, tmp_path)
    with tarfile.open(sdist) as t:
        t.extractall(tmp_path / "src", filter="data")
    (root,) = (tmp_path / "src").iterdir()
    needs = tomllib.loads((root / "pyproject.toml").read_text())["dependency-groups"]["test"]
    run(python, ["-m", "pip", "install", "-q", *needs], tmp_path)
    # The sdist's own suite against the installed package (the multi-GiB
    # documents ran in `make test` already).
    env = {k: v for k, v in os.environ.items() if k not in ("VELLUM_DIST", "PYTHONPATH")}
    out = subprocess.run([str(python), "-m", "pytest", "-m", "not bigmem", "-p", "no:cacheprovider"],
                         cwd=root / "tests", env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stdout[-8000:] + out.stderr[-4000:]
    assert f"vellum from {tmp_path / 'venv'}" in out.stdout
    assert re.search(r"\d+ passed", out.stdout.splitlines()[-1]), out.stdout[-2000:]
