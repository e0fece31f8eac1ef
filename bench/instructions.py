"""Instruction counts of the benchmark's steps under callgrind: the service
against the same OCCT calls made from Python, without the noise of a shared
machine. Slow (valgrind), so N is small.

    python bench/instructions.py [--n 100]

Needs valgrind and its headers (Debian: valgrind) and a C compiler. Each step
runs once per side in each order, from a settled heap; each side's count is the
lesser of its two.
"""

import argparse
import ctypes
import datetime
import gc
import json
import os
import re
import subprocess
import sys
import tempfile
import types
from pathlib import Path

UPDATED = 3  # updating displays per order
RESULTS = Path(__file__).resolve().parent / "results"

SHIM = r"""
#include <valgrind/callgrind.h>
void start(void) { CALLGRIND_START_INSTRUMENTATION; }
void zero(void) { CALLGRIND_ZERO_STATS; }
void dump(const char *label) { CALLGRIND_DUMP_STATS_AT(label); }
"""


def build_shim(folder):
    source, library = folder / "shim.c", folder / "shim.so"
    source.write_text(SHIM)
    subprocess.run(["cc", "-O1", "-shared", "-fPIC", "-o", str(library), str(source)], check=True)
    return library


def measure(shim, n):
    """Runs under callgrind: one dump per (order, side, step)."""
    import bench_service as bench
    from scene import ensure_display, make_boxes

    ensure_display()
    cg = ctypes.CDLL(str(shim))
    throwaway, scenes = bench.make_scenes()
    boxes = {kind: make_boxes(n) for kind in ("service", "direct")}
    bench.warm_up(throwaway, boxes)
    work = bench.Workload(boxes, n, UPDATED)
    gc.disable()
    cg.start()
    for order in ("service-first", "direct-first"):
        service, direct = bench.make_sides(scenes)
        sides = [(service, scenes[0]), (direct, scenes[1])]
        if order == "direct-first":
            sides.reverse()
        for name in bench.sequence(1):
            step = bench.STEPS[name]
            for side, scene in sides:
                if step.before:
                    step.before(side, scene, work)
                gc.collect()
                bench._settle_heap()
                cg.zero()
                step.run(side, work)
                cg.dump(f"{order}|{side.kind}|{name}".encode())


def read_dumps(folder):
    counts = {}
    for path in folder.glob("callgrind.out.*"):
        text = path.read_text(errors="replace")
        label = re.search(r"^desc: Trigger: Client Request: (.*)$", text, re.M)
        total = re.search(r"^(?:summary|totals): (\d+)", text, re.M)
        if label and total:
            order, kind, name = label.group(1).split("|")
            counts[(order, kind, name)] = int(total.group(1))
    return counts


def report(counts, n, updated):
    """Prints the table and returns its rows."""
    import bench_service as bench

    rows = []
    print(f"instructions (callgrind), N = {n}")
    print(f"{'operation':<30} {'service':>13} {'direct':>13} {'ratio':>7} {'extra/call':>11}")
    orders = ("service-first", "direct-first")
    work = types.SimpleNamespace(n=n, updated=updated)
    for name, step in bench.STEPS.items():
        pairs = [(counts[(o, "service", name)], counts[(o, "direct", name)]) for o in orders
                 if (o, "service", name) in counts and (o, "direct", name) in counts]
        if not pairs:
            continue
        # The allocator now and then consolidates its free lists in the middle
        # of a step, which only ever adds: the least count is the step's own.
        service = min(s for s, _ in pairs)
        direct = min(d for _, d in pairs)
        ratio = service / direct
        extra = None if step.bulk else (service - direct) / step.calls(work)
        per_call = "" if extra is None else f"{extra:+11.0f}"
        print(f"{name:<30} {service:>13,.0f} {direct:>13,.0f} {ratio:>7.4f} {per_call:>11}")
        rows.append({"operation": name, "n": n, "service": service, "direct": direct,
                     "ratio": ratio, "extra_per_call": extra})
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, default=100, help="shapes per side (default 100)")
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/instructions-<date>.json)")
    parser.add_argument("--measure", metavar="SHIM", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        measure(args.measure, args.n)
        return 0
    with tempfile.TemporaryDirectory(prefix="morvik-callgrind-") as tmp:
        folder = Path(tmp)
        shim = build_shim(folder)
        command = [
            "valgrind", "--tool=callgrind", "--instr-atstart=no",
            f"--callgrind-out-file={folder}/callgrind.out.%p",
            sys.executable, __file__, "--n", str(args.n), "--measure", str(shim),
        ]
        run = subprocess.run(command, capture_output=True, text=True,
                             env={**os.environ, "LP_NUM_THREADS": "0"})
        if run.returncode != 0:
            print(run.stderr[-3000:], file=sys.stderr)
            return run.returncode
        rows = report(read_dumps(folder), args.n, UPDATED)
    output = args.output or RESULTS / f"instructions-{datetime.date.today().isoformat()}.json"
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(json.dumps({"n": args.n, "rows": rows}, indent=2) + "\n")
    print(f"\nwritten to {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
