"""Checks that every project include points down the layers, or sideways
within one layer, and that the recursion's -inl.hpp files are included only
by each other and by the one unit that instantiates them. Run by ctest:
check_layers.py ROOT"""

import re
import sys
from pathlib import Path

# Top-level folder -> rank. A file may include files of its own folder and of
# any folder of lower rank; two folders of one rank never include each other.
LAYERS = {
    "base": 0,
    "kernels": 1,
    "reader": 2,
    "core": 2,
    "dumps": 3,
    "loads": 3,
    "module": 4,
}
PLAIN_CXX = {"base", "reader", "kernels"}
# The recursion of dumps is one translation unit.
RECURSION_UNIT = "dumps/dumps.cpp"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def layer_of(path: str):
    top = path.split("/", 1)[0]
    return (top, LAYERS[top]) if top in LAYERS and "/" in path else None


def check_file(path: str, text: str):
    name, rank = layer_of(path)
    for kind, target in INCLUDE.findall(text):
        if kind == "<":
            if name in PLAIN_CXX and target in ("Python.h", "datetime.h"):
                yield f"{path}: plain C++ layer includes <{target}>"
            continue
        found = layer_of(target)
        if found is None:
            yield f"{path}: includes {target}, which belongs to no layer"
            continue
        target_name, target_rank = found
        if target_name != name and target_rank >= rank:
            yield f"{path} ({name}) includes {target} ({target_name}): not below it"
        if target.endswith("-inl.hpp") and not (path.endswith("-inl.hpp") or path == RECURSION_UNIT):
            yield f"{path} includes {target}: only -inl.hpp files and {RECURSION_UNIT} may"


def main(root: Path) -> int:
    problems = []
    for layer in LAYERS:
        for file in sorted((root / layer).rglob("*")):
            if file.suffix in (".hpp", ".cpp"):
                problems += check_file(file.relative_to(root).as_posix(), file.read_text())
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)))
