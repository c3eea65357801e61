"""Checks that every project include points down the layers, or sideways
within one layer (README, "Layout"). Run by ctest: check_layers.py ROOT"""

import re
import sys
from pathlib import Path

# (path prefix, layer, rank), most specific first. A file may include files of
# its own layer and of any layer of lower rank.
LAYERS = [
    ("base/", "base", 0),
    ("reader/", "reader", 1),
    ("src/serialize/number/", "kernels", 1),
    ("src/serialize/escape/", "kernels", 1),
    ("src/str/utf8/", "kernels", 1),
    ("src/serialize/", "serialize", 3),
    ("src/deserialize/", "deserialize", 3),
    ("src/module.cpp", "module", 4),
    ("src/", "core", 2),
]
PLAIN_CXX = {"base", "reader", "kernels"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def layer_of(path: str):
    for prefix, name, rank in LAYERS:
        if path.startswith(prefix):
            return name, rank
    return None


def main(root: Path) -> int:
    problems = []
    for file in sorted(p for d in ("base", "reader", "src") for p in (root / d).rglob("*") if p.suffix in (".hpp", ".cpp")):
        path = file.relative_to(root).as_posix()
        name, rank = layer_of(path)
        for kind, target in INCLUDE.findall(file.read_text()):
            if kind == "<":
                if name in PLAIN_CXX and target in ("Python.h", "datetime.h"):
                    problems.append(f"{path}: plain C++ layer includes <{target}>")
                continue
            found = layer_of(target)
            if found is None:
                problems.append(f"{path}: includes {target}, which belongs to no layer")
                continue
            target_name, target_rank = found
            if target_name != name and target_rank >= rank:
                problems.append(f"{path} ({name}) includes {target} ({target_name}): not below it")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)))
