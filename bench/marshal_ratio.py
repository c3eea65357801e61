"""loads against marshal.loads of the same objects: marshal builds the very
objects loads builds, with no parsing at all, so the ratio shows what the
parsing costs on top of making the objects.

    python bench/marshal_ratio.py [CORPUS_DIR] [--rounds N] [--filter REGEX]

Prints a Markdown table: vellum.loads' median time, marshal.loads' median
time and their ratio, per workload (interleaved rounds, batches of ~50 ms).
"""

from __future__ import annotations

import argparse
import gc
import marshal
import re
import statistics
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

import workloads as wl  # noqa: E402

import vellum  # noqa: E402


def batch(f, items, loops):
    start = time.perf_counter()
    for _ in range(loops):
        for x in items:
            f(x)
    return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("corpus", nargs="?", default=str(BENCH_DIR / "data"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--filter", default="")
    args = parser.parse_args()

    print("| workload | vellum.loads | marshal.loads | ratio |")
    print("|---|---:|---:|---:|")
    gc.disable()
    for w in wl.corpus_workloads(Path(args.corpus)) + wl.synthetic_workloads():
        if w.data is None or (args.filter and not re.search(args.filter, w.name)):
            continue
        docs = w.data if w.many else [w.data]
        pickled = [marshal.dumps(vellum.loads(d)) for d in docs]
        loops = 1
        while batch(vellum.loads, docs, loops) < 0.05:
            loops *= 2
        ours, theirs = [], []
        for r in range(args.rounds):
            pair = [(ours, vellum.loads, docs), (theirs, marshal.loads, pickled)]
            for times, f, items in pair if r % 2 == 0 else pair[::-1]:
                times.append(batch(f, items, loops) / (loops * len(items)))
        a, b = statistics.median(ours), statistics.median(theirs)
        print(f"| {w.name} | {a * 1e6:.2f} µs | {b * 1e6:.2f} µs | {a / b:.2f} |", flush=True)


if __name__ == "__main__":
    main()
