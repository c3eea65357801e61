"""Checks every project include against the layer table of HACKING.md
("Layout": each folder and the folders it may include), that no include
chain comes back to where it started, that the plain C++ layers never
include the interpreter's headers, that the recursion's -inl.hpp files are
included only by each other and by the one unit that instantiates them, and
that each library of CMakeLists.txt links the libraries of the folders its
row lists. Run by ctest: check_layers.py ROOT"""

import re
import sys
from pathlib import Path

PLAIN_CXX = {"base/", "kernels/", "reader/"}
# The recursion of dumps is one translation unit.
RECURSION_UNIT = "dumps/dumps.cpp"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
TABLE_HEAD = "| layer | folder | what | may include |"
FOLDER = re.compile(r"`([a-z0-9_/]+/)`")
COMPONENT = re.compile(r"^\s*vellum_component\((\w+)(?: PYTHON)?(?: LINKS ([\w ]+))?\)", re.M)


def read_layers(hacking: str) -> dict[str, set[str]]:
    """Folder -> the folders it may include, from the table's rows."""
    lines = hacking[hacking.index(TABLE_HEAD):].splitlines()[2:]
    layers = {}
    for line in lines:
        if not line.startswith("|"):
            break
        cells = [c.strip() for c in line.strip("|").split("|")]
        (folder,) = FOLDER.findall(cells[1])
        layers[folder] = set(FOLDER.findall(cells[3]))
    return layers


def layer_of(path: str, layers: dict[str, set[str]]) -> str | None:
    """The most specific folder of the table that holds the path."""
    found = [folder for folder in layers if path.startswith(folder)]
    return max(found, key=len) if found else None


def check_file(path: str, text: str, layers: dict[str, set[str]]):
    layer = layer_of(path, layers)
    for kind, target in INCLUDE.findall(text):
        if kind == "<":
            if layer in PLAIN_CXX and target in ("Python.h", "datetime.h"):
                yield f"{path}: plain C++ layer includes <{target}>"
            continue
        target_layer = layer_of(target, layers)
        if target_layer is None:
            yield f"{path}: includes {target}, which belongs to no layer"
        elif target_layer != layer and target_layer not in layers[layer]:
            yield f"{path} ({layer}) includes {target} ({target_layer}): not listed for {layer} in HACKING.md"
        if target.endswith("-inl.hpp") and not (path.endswith("-inl.hpp") or path == RECURSION_UNIT):
            yield f"{path} includes {target}: only -inl.hpp files and {RECURSION_UNIT} may"


def find_cycle(graph: dict[str, list[str]]) -> list[str] | None:
    """An include chain that comes back to its start, or None."""
    state: dict[str, int] = {}  # 1: on the current chain, 2: done
    chain: list[str] = []

    def visit(node: str) -> list[str] | None:
        state[node] = 1
        chain.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                return chain[chain.index(nxt):] + [nxt]
            if nxt not in state and (cycle := visit(nxt)):
                return cycle
        chain.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state and (cycle := visit(node)):
            return cycle
    return None


def check_links(cmake: str, layers: dict[str, set[str]]):
    """The libraries (top-level folders) each library links."""
    for name, links in COMPONENT.findall(cmake):
        want = {folder.split("/", 1)[0] for folder in layers[name + "/"]} - {name}
        if set(links.split()) != want:
            yield f"CMakeLists.txt: vellum_{name} links {sorted(links.split())}, HACKING.md lists {sorted(want)}"


def main(root: Path) -> int:
    layers = read_layers((root / "HACKING.md").read_text())
    problems = []
    graph = {}
    tops = sorted({folder.split("/", 1)[0] for folder in layers})
    for top in tops:
        for file in sorted((root / top).rglob("*")):
            if file.suffix in (".hpp", ".cpp"):
                path = file.relative_to(root).as_posix()
                text = file.read_text()
                problems += check_file(path, text, layers)
                graph[path] = [t for k, t in INCLUDE.findall(text) if k == '"']
    problems += check_links((root / "CMakeLists.txt").read_text(), layers)
    cycle = find_cycle(graph)
    if cycle:
        problems.append("include loop: " + " -> ".join(cycle))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)))
