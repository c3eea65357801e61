"""Side-by-side dumps/loads benchmark of vellum against peer JSON libraries.

    python bench/harness.py [CORPUS_DIR] [--quick | --full] [--out DIR] [--memory]

Writes a Markdown table to stdout and OUT/results.md, and a bar chart of the
fastest peer's time ratio to OUT/ratios.png. Progress goes to stderr.
"""

from __future__ import annotations

import argparse
import decimal
import gc
import importlib
import json
import math
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable

BENCH_DIR = Path(__file__).resolve().parent
if str(BENCH_DIR) not in sys.path:
    sys.path.insert(0, str(BENCH_DIR))

import workloads as wl  # noqa: E402

# --- libraries -----------------------------------------------------------
#
# Each library is described by the call a user would write: a function `f`
# and the argument text that follows `x` in the call, plus a suffix (the
# `.encode()` of str-returning encoders). The timing loop is generated from
# that text, so no library pays for a wrapper the others don't.


@dataclass
class Call:
    func: Callable
    args: str = ""
    suffix: str = ""
    arg: str = "x"  # the first argument's text (a peer's numpy input is x.tolist())
    names: dict[str, Any] = field(default_factory=dict)  # further names the text uses

    @property
    def source(self) -> str:
        return f"f({self.arg}{self.args}){self.suffix}"


@dataclass
class Library:
    name: str
    module: str
    # flags -> Call, or None when the library has no equivalent option.
    dumps: Callable[[Any, frozenset], Call | None] | None
    loads: Callable[[Any, frozenset], Call | None] | None
    mod: Any = None

    def load(self) -> bool:
        try:
            self.mod = importlib.import_module(self.module)
        except ImportError:
            return False
        return True

    @property
    def version(self) -> str:
        mod = self.mod
        if self.module == "json":
            return platform.python_version()
        for attr in ("__version__", "VERSION", "version"):
            v = getattr(mod, attr, None)
            if isinstance(v, str):
                return v
        try:
            from importlib.metadata import version

            return version({"rapidjson": "python-rapidjson", "simdjson": "pysimdjson"}.get(self.module, self.module))
        except Exception:
            return "?"

    def dumps_call(self, flags: frozenset) -> Call | None:
        return self.dumps(self.mod, flags) if self.dumps else None

    def loads_call(self, flags: frozenset) -> Call | None:
        return self.loads(self.mod, flags) if self.loads else None


def _vellum_dumps(m, flags):
    opt = 0
    if wl.NON_STR_KEYS in flags:
        opt |= m.OPT_NON_STR_KEYS
    if wl.UTC_Z in flags:
        opt |= m.OPT_UTC_Z
    if wl.SORT_KEYS in flags:
        opt |= m.OPT_SORT_KEYS
    if wl.INDENT_2 in flags:
        opt |= m.OPT_INDENT_2
    if wl.NUMPY in flags:
        opt |= m.OPT_SERIALIZE_NUMPY
    if wl.DECIMAL in flags:
        opt |= m.OPT_DECIMAL
    return Call(m.dumps, f", option={opt}" if opt else "")


def _stdlib_style_dumps(m, flags):
    # json and simplejson share the interface; compact unless indenting.
    if wl.NATIVE_TYPES in flags or wl.DECIMAL in flags and m.__name__ == "json":
        return None
    # numpy workloads are measured against json, msgspec, ujson and rapidjson.
    if wl.NUMPY in flags and m.__name__ == "simplejson":
        return None
    args = ", ensure_ascii=False"
    if wl.INDENT_2 in flags:
        args += ", indent=2, separators=(',', ': ')"
    else:
        args += ", separators=(',', ':')"
    if wl.SORT_KEYS in flags:
        args += ", sort_keys=True"
    if wl.DECIMAL in flags:
        args += ", use_decimal=True"
    return Call(m.dumps, args, ".encode()")


def _ujson_dumps(m, flags):
    if wl.NATIVE_TYPES in flags or wl.DECIMAL in flags:
        return None
    args = ", ensure_ascii=False, escape_forward_slashes=False"
    if wl.INDENT_2 in flags:
        args += ", indent=2"
    if wl.SORT_KEYS in flags:
        args += ", sort_keys=True"
    return Call(m.dumps, args, ".encode()")


def _rapidjson_dumps(m, flags):
    if wl.NATIVE_TYPES in flags:
        return None
    args = ", ensure_ascii=False"
    if wl.INDENT_2 in flags:
        args += ", indent=2"
    if wl.SORT_KEYS in flags:
        args += ", sort_keys=True"
    if wl.DECIMAL in flags:
        args += ", number_mode=NM_DECIMAL"
    return Call(m.dumps, args, ".encode()", names={"NM_DECIMAL": m.NM_DECIMAL})


def _msgspec_dumps(m, flags):
    if wl.INDENT_2 in flags:
        return None  # the encoder has no indentation (only a separate reformat pass)
    # Date-times, UUIDs, enums, dataclasses and int or datetime keys are
    # native, and a zero offset is written as Z.
    m = importlib.import_module("msgspec.json")
    if wl.DECIMAL in flags:
        # Decimals as numbers: an encoder option.
        return Call(m.Encoder(decimal_format="number").encode)
    return Call(m.encode, ", order='sorted'" if wl.SORT_KEYS in flags else "")


# loads, with the arguments that ask for Decimals under the decimal flag
# (libraries without a Decimal mode are n/a there).
def _decimal_loads(args: str):
    def call(m, flags):
        return Call(m.loads, args if wl.DECIMAL in flags else "", names={"Decimal": decimal.Decimal})

    return call


def _rapidjson_loads(m, flags):
    return Call(m.loads, ", number_mode=NM_DECIMAL" if wl.DECIMAL in flags else "",
                names={"NM_DECIMAL": m.NM_DECIMAL})


def _msgspec_loads(m, flags):
    m = importlib.import_module("msgspec.json")
    return Call(m.Decoder(float_hook=decimal.Decimal).decode if wl.DECIMAL in flags else m.decode)


def _jiter_loads(m, flags):
    return Call(m.from_json, ", float_mode='decimal'" if wl.DECIMAL in flags else "")


def _plain_loads(m, flags):
    return None if wl.DECIMAL in flags else Call(m.loads)


def _simdjson_loads(m, flags):
    if wl.DECIMAL in flags:
        return None
    # A reused parser, converting the whole document to Python objects.
    return Call(m.Parser().parse, ", True")


def libraries() -> list[Library]:
    return [
        Library("vellum", "vellum", _vellum_dumps, _decimal_loads(", parse_float=Decimal")),
        Library("json", "json", _stdlib_style_dumps, _decimal_loads(", parse_float=Decimal")),
        Library("msgspec", "msgspec", _msgspec_dumps, _msgspec_loads),
        Library("ujson", "ujson", _ujson_dumps, _plain_loads),
        Library("rapidjson", "rapidjson", _rapidjson_dumps, _rapidjson_loads),
        Library("simplejson", "simplejson", _stdlib_style_dumps, _decimal_loads(", use_decimal=True")),
        Library("simdjson", "simdjson", None, _simdjson_loads),
        Library("jiter", "jiter", None, _jiter_loads),
    ]


def compile_call(call: Call, many: bool) -> tuple[Callable, Callable]:
    """Returns (one(x) -> result, run(arg, loops) -> None)."""
    src = f"def one(x, f=f):\n    return {call.source}\n"
    if many:
        src += (f"def run(arg, loops, f=f):\n    for _ in range(loops):\n"
                f"        for x in arg:\n            {call.source}\n")
    else:
        src += (f"def run(x, loops, f=f):\n    for _ in range(loops):\n"
                f"        {call.source}\n")
    ns: dict[str, Any] = {**call.names, "f": call.func}
    exec(compile(src, f"<{call.source}>", "exec"), ns)
    return ns["one"], ns["run"]


# --- checks --------------------------------------------------------------


def same_value(a: Any, b: Any, ordered: bool = True) -> str | None:
    """None when a and b are the same JSON value with the same Python types,
    else a short description of the first difference."""
    stack = [(a, b, "$")]
    while stack:
        x, y, path = stack.pop()
        if type(x) is not type(y):
            return f"{path}: {type(x).__name__} != {type(y).__name__}"
        if isinstance(x, dict):
            kx, ky = list(x), list(y)
            if (kx != ky) if ordered else (set(kx) != set(ky)):
                return f"{path}: keys differ"
            stack.extend((x[k], y[k], f"{path}.{k}") for k in kx)
        elif isinstance(x, list):
            if len(x) != len(y):
                return f"{path}: length {len(x)} != {len(y)}"
            stack.extend((u, v, f"{path}[{i}]") for i, (u, v) in enumerate(zip(x, y)))
        elif x != y and not (isinstance(x, float) and math.isnan(x) and math.isnan(y)):
            return f"{path}: {x!r:.40} != {y!r:.40}"
    return None


def keys_sorted(v: Any) -> bool:
    stack = [v]
    while stack:
        x = stack.pop()
        if isinstance(x, dict):
            keys = list(x)
            if keys != sorted(keys):
                return False
            stack.extend(x.values())
        elif isinstance(x, list):
            stack.extend(x)
    return True


def check_dumps(one: Callable, w: wl.Workload, lib: str) -> str | None:
    items = w.obj if w.many else [w.obj]
    for obj in items:
        try:
            out = one(obj)
        except Exception as e:  # a peer may reject the input
            return f"raised {type(e).__name__}: {e}"[:120]
        if not isinstance(out, bytes):
            return f"returned {type(out).__name__}"
        if w.check is not None:
            problem = w.check(out, lib)
            if problem:
                return problem
            continue
        try:
            back = json.loads(out)
        except ValueError as e:
            return f"invalid JSON: {e}"[:120]
        diff = same_value(back, obj if w.expected is None else w.expected, ordered=wl.SORT_KEYS not in w.flags)
        if diff:
            return f"value differs at {diff}"[:120]
        if wl.SORT_KEYS in w.flags and not keys_sorted(back):
            return "keys not sorted"
        if wl.INDENT_2 in w.flags:
            want = json.dumps(obj, indent=2, ensure_ascii=False).count("\n")
            if out.count(b"\n") != want:
                return "not indented by two spaces per level"
    return None


def check_loads(one: Callable, w: wl.Workload, expected: list) -> str | None:
    items = w.data if w.many else [w.data]
    for data, want in zip(items, expected):
        try:
            got = one(data)
        except Exception as e:
            return f"raised {type(e).__name__}: {e}"[:120]
        diff = same_value(got, want)
        if diff:
            return f"value differs at {diff}"[:120]
    return None


# --- timing --------------------------------------------------------------


def timed(run: Callable, arg: Any, loops: int) -> float:
    gc_on = gc.isenabled()
    gc.disable()
    try:
        t0 = time.perf_counter()
        run(arg, loops)
        return time.perf_counter() - t0
    finally:
        if gc_on:
            gc.enable()


def calibrate(run: Callable, arg: Any, target: float) -> int:
    """Loops per batch so that one batch takes about `target` seconds."""
    t = min(timed(run, arg, 1) for _ in range(2))
    if t * 20 < target:  # refine the estimate of fast calls
        loops = max(1, int(target / 10 / t))
        t = timed(run, arg, loops) / loops
    return max(1, round(target / max(t, 1e-9)))


@dataclass
class Cell:
    """One library on one workload and direction."""
    status: str  # "ok", "n/a", "fail", "-" (direction not offered)
    reason: str = ""  # why the check failed (also set on a flagged vellum "ok")
    run: Callable | None = None
    loops: int = 0
    times: list[float] = field(default_factory=list)  # seconds per call

    @property
    def median(self) -> float:
        return statistics.median(self.times)


@dataclass
class Row:
    workload: wl.Workload
    direction: str  # "dumps" | "loads"
    cells: dict[str, Cell]


def directions(w: wl.Workload) -> list[str]:
    """What a workload measures: dumps of its object, loads of its bytes
    (plain documents, or flags that loads understands: the others are dumps'
    options)."""
    return ["dumps"] * (w.obj is not None) + ["loads"] * (w.data is not None and w.flags <= wl.LOADS_FLAGS)


def bench_workload(w: wl.Workload, libs: list[Library], rounds: int, target: float) -> list[Row]:
    rows = []
    for direction in directions(w):
        cells: dict[str, Cell] = {}
        expected = None
        if direction == "loads":
            parse_float = decimal.Decimal if wl.DECIMAL in w.flags else None
            expected = [json.loads(d, parse_float=parse_float) for d in (w.data if w.many else [w.data])]
        arg = w.obj if direction == "dumps" else w.data
        for lib in libs:
            if (lib.dumps if direction == "dumps" else lib.loads) is None:
                cells[lib.name] = Cell("-")
                continue
            call = lib.dumps_call(w.flags) if direction == "dumps" else lib.loads_call(w.flags)
            if call is None:
                cells[lib.name] = Cell("n/a", "no equivalent option")
                continue
            if direction == "dumps" and lib.name != "vellum":
                call.arg = w.peer_arg
            one, run = compile_call(call, w.many)
            reason = check_dumps(one, w, lib.name) if direction == "dumps" else check_loads(one, w, expected)
            if reason and lib.name != "vellum":
                cells[lib.name] = Cell("fail", reason)
                continue
            # vellum is timed even when its check fails (flagged in the
            # report), so the failure doesn't hide the comparison.
            cells[lib.name] = Cell("ok", reason or "", run=run, loops=calibrate(run, arg, target))
        live = [name for name, c in cells.items() if c.status == "ok"]
        for r in range(rounds):
            # Rotate the order each round so no library always runs first.
            order = live[r % len(live):] + live[: r % len(live)] if live else []
            for name in order:
                c = cells[name]
                c.times.append(timed(c.run, arg, c.loops) / c.loops / w.calls)
        for c in cells.values():
            c.run = None
        rows.append(Row(w, direction, cells))
        log(f"  {w.name:28} {direction}: " + ", ".join(
            f"{n}={fmt_time(c.median)}" for n, c in cells.items() if c.status == "ok"))
    return rows


# --- memory --------------------------------------------------------------

# The measuring process forks a worker at once and reads the worker's peak
# with RUSAGE_CHILDREN. The worker starts from this small interpreter, while
# the process exec'ed by the harness carries the harness's own high-water mark
# (Linux keeps it across exec), which would hide the call's real peak.
_CHILD = r"""
import json, os, resource, sys, time
def maxrss(who=resource.RUSAGE_SELF):
    return resource.getrusage(who).ru_maxrss * 1024
rfd, wfd = os.pipe()
pid = os.fork()
if pid == 0:
    os.close(rfd)
    sys.path.insert(0, {bench!r})
    import harness, workloads
    lib = next(l for l in harness.libraries() if l.name == {lib!r})
    lib.load()
    if {mode!r} == "loads":
        arg = open({path!r}, "rb").read()
        call = lib.loads_call(frozenset())
    else:
        arg = workloads.memory_document({size})
        call = lib.dumps_call(frozenset())
    one, _ = harness.compile_call(call, False)
    base = maxrss()
    t0 = time.perf_counter()
    out = one(arg)
    dt = time.perf_counter() - t0
    os.write(wfd, json.dumps({{"base": base, "seconds": dt, "size": len(out) if {mode!r} == "dumps" else 0}}).encode())
    os._exit(0)
os.close(wfd)
report = b""
while chunk := os.read(rfd, 4096):
    report += chunk
_, status = os.waitpid(pid, 0)
if status or not report:
    sys.exit("worker failed with status %d" % status)
result = json.loads(report)
result["peak"] = maxrss(resource.RUSAGE_CHILDREN)
print(json.dumps(result))
"""


def run_child(code: str) -> dict:
    # -P keeps the working directory off sys.path, so the source tree's
    # package directory can't shadow the built module.
    proc = subprocess.run([sys.executable, "-P", "-c", code], capture_output=True, text=True)
    if proc.returncode != 0:
        return {"error": (proc.stderr.strip().splitlines() or ["exit %d" % proc.returncode])[-1]}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def measure_memory(libs: list[Library], size: int) -> tuple[int, list[dict]]:
    results = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "memory.json")
        gen = (f"import sys; sys.path.insert(0, {str(BENCH_DIR)!r}); import json, workloads\n"
               f"open({path!r}, 'w', encoding='utf-8').write(json.dumps("
               f"workloads.memory_document({size}), ensure_ascii=False, separators=(',', ':')))")
        proc = subprocess.run([sys.executable, "-P", "-c", gen])
        if proc.returncode:
            raise SystemExit("could not generate the memory document")
        doc_bytes = os.path.getsize(path)
        log(f"memory document: {doc_bytes / 2**20:.1f} MiB")
        for lib in libs:
            entry = {"library": lib.name}
            for mode in ("loads", "dumps"):
                if (lib.loads if mode == "loads" else lib.dumps) is None:
                    continue
                entry[mode] = run_child(_CHILD.format(
                    bench=str(BENCH_DIR), lib=lib.name, mode=mode, path=path, size=size))
                log(f"  {lib.name:10} {mode}: {entry[mode]}")
            results.append(entry)
    return doc_bytes, results


# --- main ----------------------------------------------------------------


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


def fmt_time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.0f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    if s < 1:
        return f"{s * 1e3:.2f} ms"
    return f"{s:.2f} s"


def environment(libs: list[Library], args, rounds: int, target: float) -> dict:
    cpu = "?"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {
        "python": platform.python_version(),
        "cpu": cpu,
        "vellum_path": getattr(libs[0].mod, "__file__", "?"),
        "versions": {lib.name: lib.version for lib in libs},
        "rounds": rounds,
        "target": target,
        "quick": args.quick,
        "date": time.strftime("%Y-%m-%d %H:%M"),
    }


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("corpus", nargs="?", type=Path, default=BENCH_DIR / "data",
                    help="directory of *.json files (default: bench/data)")
    speed = ap.add_mutually_exclusive_group()
    speed.add_argument("--quick", action="store_true", help="a smoke run: 3 rounds of ~15 ms batches")
    speed.add_argument("--full", action="store_true",
                       help="the published figures: 7 rounds of ~100 ms batches")
    ap.add_argument("--out", type=Path, default=BENCH_DIR / "out", help="output directory")
    ap.add_argument("--memory", action="store_true",
                    help="also measure peak RSS of loads/dumps of a ~100 MB document")
    ap.add_argument("--memory-only", action="store_true", help="only the memory measurement")
    ap.add_argument("--memory-mb", type=int, default=100, help="size of the memory document")
    ap.add_argument("--rounds", type=int, help="rounds per workload (default 4)")
    ap.add_argument("--batch-ms", type=float, help="time per batch in ms (default 25)")
    ap.add_argument("--filter", help="only workloads whose name matches this regex")
    ap.add_argument("--libs", help="comma-separated subset of peers (vellum always runs)")
    args = ap.parse_args(argv)

    # The default is about a third of the full run's timing, so that the
    # whole `make bench` stays near three minutes on two cores.
    rounds = args.rounds or (3 if args.quick else 7 if args.full else 4)
    target = (args.batch_ms or (15 if args.quick else 100 if args.full else 25)) / 1000

    libs = libraries()
    if args.libs:
        keep = {"vellum", *args.libs.split(",")}
        libs = [lib for lib in libs if lib.name in keep]
    missing = [lib.name for lib in libs if not lib.load()]
    if "vellum" in missing:
        raise SystemExit("cannot import vellum: put the built package on PYTHONPATH")
    for name in missing:
        log(f"warning: {name} is not installed; skipped")
    libs = [lib for lib in libs if lib.name not in missing]

    import report

    env = environment(libs, args, rounds, target)
    log(f"vellum from {env['vellum_path']}; {rounds} rounds, {target * 1e3:.0f} ms batches")

    rows: list[Row] = []
    if not args.memory_only:
        if not args.corpus.is_dir():
            raise SystemExit(f"corpus directory not found: {args.corpus}")
        started = time.perf_counter()
        for w in wl.all_workloads(args.corpus):
            if args.filter and not re.search(args.filter, w.name):
                continue
            rows.extend(bench_workload(w, libs, rounds, target))
        env["elapsed"] = time.perf_counter() - started

    memory = None
    if args.memory or args.memory_only:
        memory = measure_memory(libs, args.memory_mb * 2**20)

    args.out.mkdir(parents=True, exist_ok=True)
    text = report.markdown(rows, [lib.name for lib in libs], env, memory)
    print(text)
    (args.out / "results.md").write_text(text, encoding="utf-8")
    if rows:
        report.chart(rows, args.out / "ratios.png")
        log(f"wrote {args.out / 'results.md'} and {args.out / 'ratios.png'}")
    else:
        log(f"wrote {args.out / 'results.md'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
