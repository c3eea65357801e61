"""Instructions per call of vellum (and of peers, if asked) on each workload
of bench/workloads.py, counted by callgrind: a figure that holds still on a
shared machine, where times do not, for comparing two builds.

    python bench/instructions.py [CORPUS_DIR] [--filter REGEX] [--libs a,b]
        [--ops N] [--json FILE] [--compare FILE]

One valgrind run per library. Its workloads are built with the
instrumentation off; each workload's call runs once uncounted (caches warm),
then N ops with it on. The same loop over a builtin that does nothing
(`callable`) is counted as well and subtracted, so that the figure is the
library's own. `--json` keeps the figures; `--compare` prints them beside
an earlier run's, with the change.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
if str(BENCH_DIR) not in sys.path:
    sys.path.insert(0, str(BENCH_DIR))

import harness  # noqa: E402
import workloads as wl  # noqa: E402

# Client requests around the counted calls (valgrind/callgrind.h, Debian's
# valgrind package); outside valgrind they do nothing.
MARKS_SOURCE = r"""
#include <valgrind/callgrind.h>
void marks_start(void) { CALLGRIND_ZERO_STATS; CALLGRIND_START_INSTRUMENTATION; }
void marks_stop(const char* label) { CALLGRIND_DUMP_STATS_AT(label); CALLGRIND_STOP_INSTRUMENTATION; }
"""


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


def compile_marks(directory: str) -> None:
    source = Path(directory) / "marks.c"
    source.write_text(MARKS_SOURCE)
    subprocess.run(["cc", "-shared", "-fPIC", "-O1", str(source), "-o", str(Path(directory) / "marks.so")], check=True)


def child(lib_name: str, corpus: Path, pattern: str | None, ops: int, tmp: str) -> None:
    """Runs inside valgrind: every workload's calls between the marks; the
    calls per op of each workload go to calls.json."""
    marks = ctypes.CDLL(str(Path(tmp) / "marks.so"))
    lib = next(lib for lib in harness.libraries() if lib.name == lib_name)
    if not lib.load():
        raise SystemExit(f"cannot import {lib_name}")
    empty_run = harness.compile_call(harness.Call(callable), False)[1]
    empty_many = harness.compile_call(harness.Call(callable), True)[1]
    calls = {}
    for w in wl.all_workloads(corpus):
        if pattern and not re.search(pattern, w.name):
            continue
        calls[w.name] = w.calls
        for direction in harness.directions(w):
            call = lib.dumps_call(w.flags) if direction == "dumps" else lib.loads_call(w.flags)
            if call is None:
                continue
            if direction == "dumps" and lib.name != "vellum":
                call.arg = w.peer_arg
            one, run = harness.compile_call(call, w.many)
            arg = w.obj if direction == "dumps" else w.data
            for label, loop in ((f"{w.name} {direction}", run), (f"{w.name} {direction} empty",
                                                                   empty_many if w.many else empty_run)):
                loop(arg, 1)
                gc.collect()
                gc.disable()
                marks.marks_start()
                loop(arg, ops)
                marks.marks_stop(label.encode())
                gc.enable()
    (Path(tmp) / "calls.json").write_text(json.dumps(calls))


def counted(lib_name: str, args) -> dict[str, float]:
    """Instructions per call, by "workload direction", for one library."""
    with tempfile.TemporaryDirectory() as tmp:
        compile_marks(tmp)
        out = Path(tmp) / "callgrind.out"
        command = [
            "valgrind", "--tool=callgrind", "--instr-atstart=no", f"--callgrind-out-file={out}",
            sys.executable, "-P", __file__, str(args.corpus), "--child", lib_name, "--ops", str(args.ops),
            "--scratch", tmp,
        ] + (["--filter", args.filter] if args.filter else [])
        env = dict(os.environ, PYTHONHASHSEED="0")
        proc = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if proc.returncode != 0:
            raise SystemExit(f"{lib_name}: valgrind run failed:\n{proc.stderr[-4000:]}")
        totals: dict[str, int] = {}
        for dump in Path(tmp).glob("callgrind.out.*"):
            text = dump.read_text(errors="replace")
            label = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
            total = re.search(r"^(?:summary|totals): (\d+)", text, re.M)
            if label and total:
                totals[label.group(1)] = int(total.group(1))
        calls = json.loads((Path(tmp) / "calls.json").read_text())
    result = {}
    for label, total in totals.items():
        if label.endswith(" empty"):
            continue
        name = label.split(" ", 1)[0]
        result[label] = (total - totals.get(label + " empty", 0)) / (args.ops * calls[name])
    return result


def fmt(n: float) -> str:
    if n >= 1e6:
        return f"{n / 1e6:.2f} M"
    if n >= 1e4:
        return f"{n / 1e3:.1f} k"
    return f"{n:.0f}"


def table(results: dict[str, dict[str, float]], before: dict[str, dict[str, float]] | None) -> str:
    labels = sorted({label for counts in results.values() for label in counts})
    if before is None:
        names = list(results)
        lines = ["| workload | direction | " + " | ".join(names) + " |", "|---|---|" + "---:|" * len(names)]
        for label in labels:
            cells = [fmt(results[n][label]) if label in results[n] else "-" for n in names]
            lines.append("| " + " | ".join(label.split(" ", 1)) + " | " + " | ".join(cells) + " |")
        return "\n".join(lines)
    lines = ["| workload | direction | library | before | after | change |", "|---|---|---|---:|---:|---:|"]
    for name, counts in results.items():
        for label in labels:
            if label not in counts or label not in before.get(name, {}):
                continue
            old, new = before[name][label], counts[label]
            change = (new - old) / old * 100 if old else 0.0
            lines.append(f"| {' | '.join(label.split(' ', 1))} | {name} | {fmt(old)} | {fmt(new)} | {change:+.2f}% |")
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("corpus", nargs="?", type=Path, default=BENCH_DIR / "data",
                    help="directory of *.json files (default: bench/data)")
    ap.add_argument("--filter", help="only workloads whose name matches this regex")
    ap.add_argument("--libs", default="vellum", help="comma-separated libraries (default: vellum)")
    ap.add_argument("--ops", type=int, default=3, help="counted ops per workload (default 3)")
    ap.add_argument("--json", type=Path, help="write the figures to this file")
    ap.add_argument("--compare", type=Path, help="an earlier --json file to compare with")
    ap.add_argument("--child", help=argparse.SUPPRESS)
    ap.add_argument("--scratch", help=argparse.SUPPRESS)
    args = ap.parse_args(argv)

    if args.child:
        child(args.child, args.corpus, args.filter, args.ops, args.scratch)
        return 0
    results = {}
    for name in args.libs.split(","):
        log(f"{name}: counting under callgrind")
        results[name] = counted(name, args)
    if args.json:
        args.json.write_text(json.dumps(results, indent=1, sort_keys=True))
    before = json.loads(args.compare.read_text()) if args.compare else None
    print(table(results, before))
    return 0


if __name__ == "__main__":
    sys.exit(main())
