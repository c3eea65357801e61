"""Markdown table and ratio chart for the benchmark harness."""

from __future__ import annotations

from pathlib import Path


def _size(n: int) -> str:
    if n >= 2**20:
        return f"{n / 2**20:.1f} MiB"
    if n >= 2**10:
        return f"{n / 2**10:.0f} KiB"
    return f"{n} B"


def _time(s: float) -> str:
    if s < 1e-6:
        return f"{s * 1e9:.0f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.2f} µs"
    if s < 1:
        return f"{s * 1e3:.2f} ms"
    return f"{s:.2f} s"


def _faults(n: float) -> str:
    return f"{n:.0f}" if n >= 10 or n == 0 else f"{n:.2g}"


def fastest_peer(row) -> tuple[str, float] | None:
    """(name, ratio to vellum) of the quickest passing peer."""
    base = row.cells.get("vellum")
    if base is None or base.status != "ok":
        return None
    peers = [(c.median / base.median, name) for name, c in row.cells.items()
             if name != "vellum" and c.status == "ok"]
    if not peers:
        return None
    ratio, name = min(peers)
    return name, ratio


def markdown(rows, names: list[str], env: dict, memory) -> str:
    out = ["# vellum benchmark", ""]
    versions = ", ".join(f"{n} {v}" for n, v in env["versions"].items())
    out += [
        f"- {env['date']}, Python {env['python']}, {env['cpu']}",
        f"- libraries: {versions}",
        f"- {env['rounds']} interleaved rounds per workload, batches of ~{env['target'] * 1e3:.0f} ms"
        + (" (--quick)" if env["quick"] else "")
        + (f"; timing took {env['elapsed']:.0f} s" if "elapsed" in env else ""),
        "",
    ]
    notes: list[str] = []
    if rows:
        peers = [n for n in names if n != "vellum"]
        out += [
            "Median time per call for vellum; for each peer, its median time divided by vellum's "
            "(above 1.00x: vellum is faster). `-`: the library has no such direction; `n/a`: no "
            "equivalent option; `FAIL`: output did not decode to the expected value (see notes). "
            "Faults: minor page faults per call (median over rounds), vellum's and the fastest peer's.",
            "",
            "| workload | dir | size | vellum | " + " | ".join(peers) + " | fastest peer | faults |",
            "|---|---|---:|---:|" + "---:|" * len(peers) + "---|---:|",
        ]
        for row in rows:
            w = row.workload
            base = row.cells["vellum"]
            cells = []
            for n in peers:
                c = row.cells.get(n)
                if c is None or c.status == "-":
                    cells.append("-")
                elif c.status == "n/a":
                    cells.append("n/a")
                elif c.status == "fail":
                    notes.append(f"{n} {row.direction} {w.name}: {c.reason}")
                    cells.append(f"FAIL[{len(notes)}]")
                elif base.status == "ok":
                    cells.append(f"{c.median / base.median:.2f}x")
                else:
                    cells.append(_time(c.median))
            vcell = _time(base.median) if base.status == "ok" else ""
            if base.reason:
                notes.append(f"vellum {row.direction} {w.name} (timed anyway): {base.reason}")
                vcell = f"{vcell} FAIL[{len(notes)}]".strip()
            fp = fastest_peer(row)
            fcell = f"{fp[0]} {fp[1]:.2f}x" if fp else "-"
            faults = "-"
            if base.status == "ok":
                faults = _faults(base.median_faults)
                if fp:
                    faults += " / " + _faults(row.cells[fp[0]].median_faults)
            out.append(f"| {w.name} | {row.direction} | {_size(w.size)} | {vcell} | "
                       + " | ".join(cells) + f" | {fcell} | {faults} |")
        out.append("")
        out.append("Workloads:")
        seen = set()
        for row in rows:
            w = row.workload
            if w.name not in seen:
                seen.add(w.name)
                per = f" ({w.calls} calls per op)" if w.many else ""
                out.append(f"- {w.name}: {w.note}{per}")
        out.append("")
    if notes:
        out.append("Notes:")
        out += [f"{i}. {n}" for i, n in enumerate(notes, 1)]
        out.append("")
    if memory:
        doc_bytes, results = memory
        out += [
            f"## Peak memory, {doc_bytes / 2**20:.0f} MiB document",
            "",
            "One fresh process per library and direction; RSS high-water mark (MiB) before the call "
            "(input in memory) and after it, and the rise caused by the call.",
            "",
            "| library | loads before | loads peak | loads rise | loads time | dumps before | "
            "dumps peak | dumps rise | dumps time |",
            "|---|---:|---:|---:|---:|---:|---:|---:|---:|",
        ]
        for entry in results:
            cols = []
            for mode in ("loads", "dumps"):
                r = entry.get(mode)
                if r is None:
                    cols += ["-"] * 4
                elif "error" in r:
                    cols += [f"error: {r['error'][:60]}", "", "", ""]
                else:
                    mib = 2**20
                    cols += [f"{r['base'] / mib:.0f}", f"{r['peak'] / mib:.0f}",
                             f"{(r['peak'] - r['base']) / mib:.0f}", f"{r['seconds']:.2f} s"]
            out.append(f"| {entry['library']} | " + " | ".join(cols) + " |")
        out.append("")
    return "\n".join(out)


def chart(rows, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels, ratios, peers = [], [], []
    for row in rows:
        fp = fastest_peer(row)
        if fp:
            labels.append(f"{row.workload.name} ({row.direction})")
            peers.append(fp[0])
            ratios.append(fp[1])
    if not ratios:
        return
    fig, ax = plt.subplots(figsize=(max(8, 0.45 * len(ratios) + 2), 6))
    colors = ["tab:green" if r >= 1 else "tab:red" for r in ratios]
    bars = ax.bar(range(len(ratios)), ratios, color=colors)
    ax.set_yscale("log")
    from matplotlib.ticker import FormatStrFormatter, NullFormatter

    ax.yaxis.set_major_formatter(FormatStrFormatter("%g"))
    ax.yaxis.set_minor_formatter(NullFormatter())
    ax.axhline(1.0, color="black", linewidth=1)
    for bar, peer, r in zip(bars, peers, ratios):
        ax.annotate(f"{peer} {r:.2f}x", (bar.get_x() + bar.get_width() / 2, r), ha="center",
                    va="bottom" if r >= 1 else "top", fontsize=7, rotation=90,
                    xytext=(0, 2 if r >= 1 else -2), textcoords="offset points")
    ax.set_xticks(range(len(labels)))
    ax.set_xticklabels(labels, rotation=60, ha="right", fontsize=8)
    ax.set_ylabel("fastest peer time / vellum time (log)")
    ax.set_title("Fastest peer relative to vellum (above 1: vellum is faster)")
    lo, hi = min(ratios + [1.0]), max(ratios + [1.0])
    ax.set_ylim(lo / 3, hi * 3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
