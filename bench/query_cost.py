"""What each public query of the service costs against a plain Python method
doing the same dictionary lookup, in instructions (callgrind) and in time.

    python bench/query_cost.py [--n 2000] [--no-instructions]

No viewer is needed: the registry is filled in place with records whose
presentations are plain objects, as the queries only read the maps. A query
meets its floor when it costs no more than the plain method.
"""

import argparse
import json
import subprocess
import sys
import tempfile
import timeit
from pathlib import Path

from instructions import build_shim, read_dumps

RESULTS = Path(__file__).resolve().parent / "results"


class PlainService:
    """The floor: the same maps, read by ordinary Python methods."""

    def __init__(self, view, viewer, context):
        self._view, self._viewer, self._context = view, viewer, context
        self._shapes, self._ais_to_id = {}, {}

    def get_view(self):
        return self._view

    def get_viewer(self):
        return self._viewer

    def get_context(self):
        return self._context

    def get_shape_info(self, shape_id):
        return self._shapes.get(shape_id)

    def get_shape_count(self):
        return len(self._shapes)

    def is_shape_visible(self, shape_id):
        info = self._shapes.get(shape_id)
        return info.visible if info is not None else False

    def get_shape_id_for_ais_shape(self, ais_shape):
        return self._ais_to_id.get(ais_shape)

    def get_all_shapes(self):
        return dict(self._shapes)


def make_sides(n):
    from morvik.services.scenard import Scenard, ShapeInfo

    view, viewer, context = object(), object(), object()
    service, plain = Scenard(view, viewer, context), PlainService(view, viewer, context)
    ids = [f"shape-{i}" for i in range(n)]
    presentations = [object() for _ in ids]
    for side in (service, plain):
        for shape_id, ais in zip(ids, presentations):
            side._shapes[shape_id] = ShapeInfo(shape_id, ais, None, True)
            side._ais_to_id[ais] = shape_id
    return {"service": service, "plain": plain}, ids, presentations


def workloads(ids, presentations):
    """(query, loop over the side's bound method): every call of a loop is one query."""
    few = ids[:20]  # get_all_shapes copies the whole registry: fewer calls
    return {
        "get_view": lambda side: [side.get_view() for _ in ids],
        "get_viewer": lambda side: [side.get_viewer() for _ in ids],
        "get_context": lambda side: [side.get_context() for _ in ids],
        "get_shape_count": lambda side: [side.get_shape_count() for _ in ids],
        "get_shape_info": lambda side: [side.get_shape_info(i) for i in ids],
        "get_shape_info (absent)": lambda side: [side.get_shape_info(0) for _ in ids],
        "is_shape_visible": lambda side: [side.is_shape_visible(i) for i in ids],
        "get_shape_id_for_ais_shape": lambda side: [
            side.get_shape_id_for_ais_shape(a) for a in presentations],
        "get_all_shapes": lambda side: [side.get_all_shapes() for _ in few],
    }


def measure_times(n, repeats=7):
    sides, ids, presentations = make_sides(n)
    rows = []
    for name, run in workloads(ids, presentations).items():
        best = {kind: min(timeit.repeat(lambda: run(side), number=1, repeat=repeats))  # noqa: B023 - called at once
                for kind, side in sides.items()}
        rows.append({"query": name, "service_s": best["service"], "plain_s": best["plain"],
                     "time_ratio": best["service"] / best["plain"]})
    return rows


def measure_instructions(shim, n):
    """Runs under callgrind: one dump per (side, query), each the lesser of two runs."""
    import ctypes
    import gc

    cg = ctypes.CDLL(str(shim))
    sides, ids, presentations = make_sides(n)
    loads = workloads(ids, presentations)
    gc.disable()
    cg.start()
    for attempt in range(2):
        for name, run in loads.items():
            for kind, side in sides.items():
                run(side)  # warm: caches, interned names
                cg.zero()
                run(side)
                cg.dump(f"{attempt}|{kind}|{name}".encode())


def count_instructions(n):
    with tempfile.TemporaryDirectory(prefix="morvik-query-") as tmp:
        folder = Path(tmp)
        shim = build_shim(folder)
        run = subprocess.run(
            ["valgrind", "--tool=callgrind", "--instr-atstart=no",
             f"--callgrind-out-file={folder}/callgrind.out.%p",
             sys.executable, __file__, "--n", str(n), "--measure", str(shim)],
            capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stderr[-3000:], file=sys.stderr)
            raise SystemExit(run.returncode)
        counts = {}
        for (_, kind, name), total in read_dumps(folder).items():
            counts[(kind, name)] = min(counts.get((kind, name), total), total)
        return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--n", type=int, default=2000, help="registered shapes (default 2000)")
    parser.add_argument("--no-instructions", action="store_true", help="times only")
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/queries.json, git-ignored)")
    parser.add_argument("--measure", metavar="SHIM", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        measure_instructions(args.measure, args.n)
        return 0

    rows = measure_times(args.n)
    counts = {} if args.no_instructions else count_instructions(args.n)
    calls = {"get_all_shapes": 20}
    print(f"queries against a plain Python method, N = {args.n}")
    print(f"{'query':<28} {'instr/call':>11} {'plain':>9} {'ratio':>7} {'time ratio':>11}  floor")
    met_all = True
    for row in rows:
        name = row["query"]
        per = calls.get(name, args.n)
        if counts:
            service, plain = counts[("service", name)] / per, counts[("plain", name)] / per
            row.update(service_instructions=service, plain_instructions=plain,
                       instruction_ratio=service / plain)
            met = service <= plain
            shown = f"{service:>11.0f} {plain:>9.0f} {service / plain:>7.3f}"
        else:
            met = row["time_ratio"] <= 1.0
            shown = f"{'':>11} {'':>9} {'':>7}"
        row["met"] = met
        met_all &= met
        print(f"{name:<28} {shown} {row['time_ratio']:>11.3f}  {'ok' if met else 'MISSED'}")
    output = args.output or RESULTS / "queries.json"
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(json.dumps({"n": args.n, "rows": rows}, indent=2) + "\n")
    print(f"\nwritten to {output}")
    return 0 if met_all else 1


if __name__ == "__main__":
    sys.exit(main())
