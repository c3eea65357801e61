"""Checks that what HACKING.md cites in backticks exists: each path as a file
or folder of the tree, each name of the project's code somewhere in its
sources (or as a file's name). Names of the interpreter's C API and records
(Py..., _Py..., ob_..., tp_..., m_...) are the interpreter's, and commands,
placeholders (<type>, *_avx2.cpp, 3.X), bare suffixes (.cpp) and texts with
spaces are left alone. Run by ctest: check_hacking.py ROOT"""

import re
import sys
from pathlib import Path

CITED = re.compile(r"`([^`\n]+)`")
PATH_SUFFIXES = (".hpp", ".cpp", ".py", ".pyi", ".c", ".md", ".txt", ".toml", ".sh", ".supp", ".json", ".dict")
NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
# Generated or installed, not in the tree.
OUTSIDE_TREE = ("build/", "dist/", ".venv")
SOURCE_SUFFIXES = {".hpp", ".cpp", ".c", ".py", ".pyi", ".txt", ".toml", ".sh", ".dict"}
SKIPPED_FOLDERS = {".git", "build", "dist", "__pycache__"}


def is_path(text: str) -> bool:
    return "/" in text or text.endswith(PATH_SUFFIXES) or text in ("Makefile",)


def source_words(root: Path) -> set[str]:
    """Every name in the sources, and every file's name without its suffix."""
    words = set()
    for file in root.rglob("*"):
        parts = file.relative_to(root).parts
        if any(p in SKIPPED_FOLDERS or p.startswith(".venv") for p in parts) or not file.is_file():
            continue
        words.add(file.stem)
        if file.suffix in SOURCE_SUFFIXES or file.name in ("Makefile", "run"):
            words.update(NAME.findall(file.read_text(errors="replace")))
    return words


def problems(root: Path):
    hacking = (root / "HACKING.md").read_text()
    words = source_words(root)
    for cited in sorted(set(CITED.findall(hacking))):
        text = cited.strip()
        if " " in text or any(c in text for c in "<>*=") or text.startswith(("-", ".")) or text.endswith(".X"):
            continue
        if is_path(text):
            if text.startswith(OUTSIDE_TREE):
                continue
            # A path cited as in the tree, or (a file named in a folder's
            # context) anywhere under it.
            if not (root / text).exists() and not any(root.rglob(text.split("/")[-1])):
                yield f"path {text} does not exist"
            continue
        # A call or a qualified name: its last part is the name.
        name = re.split(r"::|\.", text.removesuffix("()"))[-1]
        if not NAME.fullmatch(name) or name.startswith(("Py", "_Py", "ob_", "tp_", "m_")):
            continue
        if name not in words:
            yield f"name {text} is not in the sources"


def main(root: Path) -> int:
    found = list(problems(root))
    for p in found:
        print(p)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)))
