"""Times every viewer-service operation against the same OCCT calls made
straight from Python through OCP, on real viewers rendering into offscreen
windows.

Both sides run in this one process on two identical scenes, step by step
(a third, made first, meshes the shapes: the first scene a process makes
selects measurably slower than later ones):
each step runs on one side, then at once on the other, the order flipping
from one run to the next. Times are the process's CPU time (the machine is
shared, so wall-clock time mostly measures the neighbours) with wall-clock
time alongside; the table shows medians, and the ratio service / direct
takes the median ratio of the back-to-back pairs for each order (service
first, direct first) and the geometric mean of the two. A separate pass counts
the viewer updates of each call, and fresh interpreters measure what importing
the modules costs.

    python bench/bench_service.py            # N = 500, 2000, 5000
    python bench/bench_service.py --quick    # a smaller, shorter run
"""

import argparse
import datetime
import gc
import json
import os
import statistics
import sys
import time
from collections import Counter
from pathlib import Path

from scene import Counting, ensure_display, graphic_driver, machine_facts, make_boxes, make_scene, progress_printer

RESULTS = Path(__file__).resolve().parent / "results"

# Bulk workloads are held to this ratio at these sizes, and the per-shape
# display and visibility to PER_SHAPE_RATIO: a cost added to every call (a
# C++ exception thrown inside OCP on each display and show cost 3.6 and 63
# times the OCP calls) shows there first.
TARGET_RATIO = 1.05
PER_SHAPE_RATIO = 1.2
TARGET_SIZES = (2000, 5000)


def colour(i):
    return (0.2 + 0.6 * (i % 7) / 6, 0.5, 0.9 - 0.6 * (i % 5) / 4)


class Workload:
    """The shapes and identifiers of one size N, for each side its own boxes
    (alike, but not shared, so neither side warms the other's caches). The
    last `updated` shapes are displayed again with a viewer update each, and
    every such update redraws N shapes."""

    def __init__(self, boxes, n, updated):
        self.n = n
        self.ids = [f"shape-{i}" for i in range(n)]
        self.items = {kind: [(self.ids[i], own[i], colour(i)) for i in range(n)]
                      for kind, own in boxes.items()}
        self.updated = min(updated, n)
        self.updated_ids = self.ids[n - self.updated:]
        self.updated_items = {kind: items[n - self.updated:] for kind, items in self.items.items()}
        self.presentations = {}


class Step:
    """One timed step. A bulk step is one service call that walks the registry
    and is held to TARGET_RATIO; the others make one call per shape, and their
    difference from the floor is shown per call; those `held` are held to
    PER_SHAPE_RATIO."""

    def __init__(self, name, calls, run, bulk=False, before=None, held=False):
        self.name = name
        self.calls = calls          # workload -> number of service calls timed
        self.run = run              # (side, workload) -> None, the timed part
        self.bulk = bulk
        self.before = before        # (side, scene, workload) -> None, untimed
        self.target = TARGET_RATIO if bulk else PER_SHAPE_RATIO if held else None


def _fit(side, scene, work):
    scene.view.FitAll()


def _take_presentations(side, scene, work):
    work.presentations[side.kind] = side.presentations(work.ids)


def _ready_for_updates(side, scene, work):
    # Plain rendering (no selection highlight), and the shapes to display
    # again taken off first. The presentations kept for the lookups are let
    # go, so that erasing really frees them.
    work.presentations.pop(side.kind, None)
    side.select_shapes([])
    side.erase(work.updated_ids, False)


def _pick_faces(side, scene, work):
    from OCP.TopAbs import TopAbs_FACE

    side.set_selection_mode(TopAbs_FACE)


def _hide_and_show(side, work):
    side.set_visibility(work.ids, False)
    side.set_visibility(work.ids, True)


def _mode(name):
    from morvik.enums import DisplayMode

    return getattr(DisplayMode, name)


def _per_shape(w):
    return w.n


def _twice_per_shape(w):
    return 2 * w.n


def _once(w):
    return 1


FACES = ", faces picked"  # the steps run again with TopAbs_FACE as the selection mode


STEPS = {step.name: step for step in [
    Step("display_shape update=False", _per_shape,
         lambda s, w: s.display(w.items[s.kind], False), held=True),
    Step("erase_shape update=False", _per_shape, lambda s, w: s.erase(w.ids, False)),
    Step("set_display_mode WIREFRAME", _once,
         lambda s, w: s.set_display_mode(_mode("WIREFRAME")), bulk=True, before=_fit),
    Step("set_display_mode BOTH", _once,
         lambda s, w: s.set_display_mode(_mode("BOTH")), bulk=True),
    Step("set_display_mode SHADED", _once,
         lambda s, w: s.set_display_mode(_mode("SHADED")), bulk=True),
    Step("set_global_transparency 0.5", _once,
         lambda s, w: s.set_global_transparency(0.5), bulk=True),
    Step("set_global_transparency 0.0", _once,
         lambda s, w: s.set_global_transparency(0.0), bulk=True),
    Step("set_shape_visibility off", _per_shape, lambda s, w: s.set_visibility(w.ids, False)),
    Step("set_shape_visibility on", _per_shape, lambda s, w: s.set_visibility(w.ids, True)),
    Step("set_shape_visibility hide+show", _twice_per_shape, _hide_and_show, held=True),
    Step("get_shape_id_for_ais_shape", _per_shape,
         lambda s, w: s.lookup_ids(w.presentations[s.kind]), before=_take_presentations),
    Step("is_shape_visible", _per_shape, lambda s, w: s.lookup_visible(w.ids)),
    Step("select_shapes all ids", _once, lambda s, w: s.select_shapes(w.ids), bulk=True),
    Step("display_shape update=True", lambda w: w.updated,
         lambda s, w: s.display(w.updated_items[s.kind], True), before=_ready_for_updates),
    Step("display_shape update=False" + FACES, _per_shape,
         lambda s, w: s.display(w.items[s.kind], False), before=_pick_faces, held=True),
    # Reported, not held: a shape shown reads the mode from the context, where
    # it lives (seven binding calls, some 2.4 us, with a mode set), and the
    # plain loop keeps it in a variable of its own.
    Step("set_shape_visibility hide+show" + FACES, _twice_per_shape, _hide_and_show),
    Step("erase_shape update=False" + FACES, _per_shape, lambda s, w: s.erase(w.ids, False)),
]}


def sequence(rounds):
    """The steps of one repeat: the shapes are displayed, each group (which
    leaves the scene as it found it) runs `rounds` times, and the shapes are
    erased again."""
    yield "display_shape update=False"
    groups = [
        ("set_display_mode WIREFRAME", "set_display_mode BOTH", "set_display_mode SHADED"),
        ("set_global_transparency 0.5", "set_global_transparency 0.0"),
        ("set_shape_visibility off", "set_shape_visibility on", "set_shape_visibility hide+show"),
        ("get_shape_id_for_ais_shape", "is_shape_visible"),
        ("select_shapes all ids",),
    ]
    for group in groups:
        for _ in range(rounds):
            yield from group
    # Each updating display redraws all N shapes, so these run once.
    yield "display_shape update=True"
    yield "erase_shape update=False"
    yield "display_shape update=False" + FACES
    for _ in range(rounds):
        yield "set_shape_visibility hide+show" + FACES
    yield "erase_shape update=False" + FACES


def _settle_heap():
    """Hands freed memory back (glibc), so that no timed run pays for
    consolidating what an earlier one freed."""
    if _malloc_trim is not None:
        _malloc_trim(0)


try:
    import ctypes

    _malloc_trim = ctypes.CDLL(None).malloc_trim
except (OSError, AttributeError):
    _malloc_trim = None


def timed(run):
    """Wall-clock and process CPU seconds of `run()`, without garbage collection,
    from a settled heap."""
    gc.collect()
    _settle_heap()
    gc.disable()
    try:
        wall, cpu = time.perf_counter(), time.process_time()
        run()
        return time.perf_counter() - wall, time.process_time() - cpu
    finally:
        gc.enable()


def make_sides(scenes):
    from direct import DirectScene
    from service import ServiceScene

    for scene in scenes:
        scene.context.RemoveAll(False)
        scene.context.RemoveFilters()  # whole shapes picked, as a new service starts
        scene.context.SetDisplayMode(1, False)  # the service starts shaded
    return ServiceScene(scenes[0]), DirectScene(scenes[1])


def warm_up(scene, boxes):
    """Meshes every box once (the mesh stays on the shape), so neither side pays
    for it, and exercises every mode."""
    from direct import DirectScene

    for own in boxes.values():
        side = DirectScene(scene)
        side.display([(f"warm-{i}", box, colour(i)) for i, box in enumerate(own)], False)
        for mode in ("WIREFRAME", "BOTH", "SHADED"):
            side.set_display_mode(_mode(mode))
        scene.context.RemoveAll(False)


def run_size(scenes, work, repeats, rounds, progress):
    """Runs each step on both sides back to back. Whichever side goes first
    tends to pay for the frees before it (the allocator consolidates then), so
    the order alternates from one run of a step to the next and from one
    repeat to the next."""
    samples = {name: [] for name in STEPS}
    for repeat in range(repeats):
        service, direct = make_sides(scenes)
        runs = Counter()
        for name in sequence(rounds):
            step = STEPS[name]
            service_first = (repeat + runs[name]) % 2 == 0
            runs[name] += 1
            order = [(service, scenes[0]), (direct, scenes[1])]
            times = {}
            for side, scene in order if service_first else order[::-1]:
                if step.before:
                    step.before(side, scene, work)
                times[side.kind] = timed(lambda: step.run(side, work))  # noqa: B023 - called at once
            samples[name].append((times["service"], times["direct"], service_first))
        progress(f"N={work.n} repeat {repeat + 1}/{repeats}")
    return samples


def _compare(pairs):
    """Medians, and the ratio service / direct: the geometric mean of the
    median pair ratio for each order, so that going first or second weighs
    the same on both sides."""
    service = [s for s, _, _ in pairs]
    direct = [d for _, d, _ in pairs]
    by_order = [[s / d for s, d, first in pairs if first == f] for f in (True, False)]
    by_order = [statistics.median(r) for r in by_order if r]
    return {
        "service_ms": 1000 * statistics.median(service),
        "direct_ms": 1000 * statistics.median(direct),
        "ratio": statistics.geometric_mean(by_order),
        "ratio_by_order": by_order,
        "service_samples_ms": [round(1000 * x, 3) for x in service],
        "direct_samples_ms": [round(1000 * x, 3) for x in direct],
    }


def summarise(work, samples):
    rows = []
    for step in STEPS.values():
        pairs = samples[step.name]
        rows.append({
            "operation": step.name,
            "n": work.n,
            "calls": step.calls(work),
            "bulk": step.bulk,
            "target": step.target is not None and work.n in TARGET_SIZES,
            "target_ratio": step.target,
            "samples": len(pairs),
            "wall": _compare([(s[0], d[0], first) for s, d, first in pairs]),
            "cpu": _compare([(s[1], d[1], first) for s, d, first in pairs]),
        })
        cpu = rows[-1]["cpu"]
        rows[-1]["cpu"]["extra_us_per_call"] = (
            1000 * (cpu["service_ms"] - cpu["direct_ms"]) / step.calls(work))
    return rows


def count_updates(scene, boxes, n=50, updated=5):
    """Viewer updates per call, counted on the view, viewer and context the
    service is given: each UpdateCurrentViewer, Update or Redraw, and each
    context call whose update flag is true."""
    from morvik.services.scenard import Scenard

    scene.context.RemoveAll(False)
    scene.context.RemoveFilters()
    counter = Counting.counter()
    service = Scenard(Counting(scene.view, counter), Counting(scene.viewer, counter),
                      Counting(scene.context, counter))
    work = Workload(boxes, n, updated)
    counts = {}

    def count(name, calls, run):
        counter.updates = 0
        run()
        counts[name] = {"calls": calls, "updates": counter.updates}

    count("display_shape update=False", n,
          lambda: [service.display_shape(b, i, c, False) for i, b, c in work.items["service"]])
    for mode in ("WIREFRAME", "BOTH", "SHADED"):
        count(f"set_display_mode {mode}", 1, lambda: service.set_display_mode(_mode(mode)))  # noqa: B023 - called at once
    count("set_global_transparency 0.5", 1, lambda: service.set_global_transparency(0.5))
    count("set_global_transparency 0.0 update=False", 1,
          lambda: service.set_global_transparency(0.0, False))
    count("select_shapes all ids", 1, lambda: service.select_shapes(work.ids))
    count("set_shape_visibility off update=False", n,
          lambda: [service.set_shape_visibility(i, False, False) for i in work.ids])
    count("set_shape_visibility on update=False", n,
          lambda: [service.set_shape_visibility(i, True, False) for i in work.ids])
    count("erase_shape update=False", updated,
          lambda: [service.erase_shape(i, False) for i in work.updated_ids])
    count("display_shape update=True", updated,
          lambda: [service.display_shape(b, i, c, True)
                   for i, b, c in work.updated_items["service"]])
    count("erase_all", 1, service.erase_all)
    return counts


def bulk_updates_ok(counts):
    single = [name for name in counts
              if name.startswith(("set_display_mode", "set_global_transparency 0.5",
                                  "select_shapes", "erase_all"))]
    return all(counts[name]["updates"] == 1 for name in single)


def met(row):
    return row["cpu"]["ratio"] <= row["target_ratio"]


def print_table(rows):
    print(f"{'':<30} {'':>5} {'':>6} {'--------------- CPU time ---------------':>42}  {'wall':>6}")
    print(f"{'operation':<30} {'N':>5} {'calls':>6} {'service ms':>11} {'direct ms':>10} "
          f"{'ratio':>7} {'us/call':>10}  {'ratio':>6}  target")
    for row in rows:
        cpu, wall = row["cpu"], row["wall"]
        per_call = ""
        if not row["bulk"]:
            per_call = f"{cpu['extra_us_per_call']:+10.3f}"
        mark = ("ok" if met(row) else "MISSED") if row["target"] else ""
        print(f"{row['operation']:<30} {row['n']:>5} {row['calls']:>6} "
              f"{cpu['service_ms']:>11.2f} {cpu['direct_ms']:>10.2f} {cpu['ratio']:>7.3f} "
              f"{per_call:>10}  {wall['ratio']:>6.3f}  {mark}")


def print_per_shape_targets(rows):
    """The ratios of display and of hide + show, without a selection mode and with
    one, one line each; those held to PER_SHAPE_RATIO say whether they met it."""
    print(f"service / raw OCP per shape, CPU time (target at most {PER_SHAPE_RATIO}x):")
    for row in rows:
        name = row["operation"]
        if row["n"] in TARGET_SIZES and name.startswith(("display_shape update=False",
                                                         "set_shape_visibility hide+show")):
            mark = ("ok" if met(row) else "MISSED") if row["target"] else "(reported)"
            print(f"  {name:<46} x {row['n']:>5}  {row['cpu']['ratio']:6.3f}x  {mark}")


def make_scenes():
    """The two scenes the sides run on, each with a graphic driver of its own,
    and a throwaway scene made before them to mesh the shapes on (the first
    scene a process makes selects measurably slower than later ones)."""
    # One graphic driver per scene: views of one driver share their OpenGL
    # objects, and switching between them costs in proportion to the other's
    # objects, which would charge one side for the other's shapes.
    throwaway = make_scene(graphic_driver())
    return throwaway, [make_scene(graphic_driver()), make_scene(graphic_driver())]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="N = 500 and 2000, 2 repeats, 10 updating displays")
    parser.add_argument("--sizes", type=int, nargs="+", help="shape counts (default 500 2000 5000)")
    parser.add_argument("--repeats", type=int,
                        help="fresh registries per size (default 4)")
    parser.add_argument("--rounds", type=int,
                        help="back-to-back runs of each step per repeat (default 2)")
    parser.add_argument("--updated", type=int, help="updating displays per repeat (default 20)")
    parser.add_argument("--output", type=Path, help="JSON file (default bench/results/service-<date>.json)")
    parser.add_argument("--no-imports", action="store_true", help="skip the import-cost runs")
    args = parser.parse_args(argv)

    sizes = args.sizes or ([500, 2000] if args.quick else [500, 2000, 5000])
    repeats = args.repeats or (2 if args.quick else 4)
    rounds = args.rounds or 2
    updated = args.updated or (10 if args.quick else 20)
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"service-{today}{'-quick' if args.quick else ''}.json"

    began = time.perf_counter()
    progress = progress_printer(began)
    ensure_display()
    throwaway, scenes = make_scenes()
    boxes = {kind: make_boxes(max(sizes)) for kind in ("service", "direct")}
    load_before = os.getloadavg()

    warm_up(throwaway, boxes)
    progress(f"meshed 2 x {max(sizes)} boxes")

    rows = []
    for n in sizes:
        work = Workload(boxes, n, updated)
        rows += summarise(work, run_size(scenes, work, repeats, rounds, progress))

    counts = count_updates(scenes[0], boxes)
    progress("counted viewer updates")
    imports = None if args.no_imports else measure_imports()
    progress("done")

    print()
    print_table(rows)
    print()
    print_per_shape_targets(rows)
    print()
    print("viewer updates per call (counted):")
    for name, c in counts.items():
        print(f"  {name:<42} {c['updates']:>4} updates for {c['calls']} call(s)")
    print("  one update per bulk call:", "yes" if bulk_updates_ok(counts) else "NO")
    if imports:
        print()
        print(f"import cost of {', '.join(imports['modules'])}, median of {imports['runs']} "
              f"fresh interpreters: {imports['added_ms']:.2f} ms over a host that imports the "
              f"OCP and PySide6 names they bind ({imports['host_ms']:.0f} ms); "
              f"{imports['added_over_bare_imports_ms']:.2f} ms over bare imports of those modules, "
              f"where PySide6 still has to build the classes")

    missed = [r for r in rows if r["target"] and not met(r)]
    report = {
        "date": today,
        "machine": machine_facts(load_before),
        "settings": {"sizes": sizes, "repeats": repeats, "rounds": rounds, "updated": updated,
                     "clock": ("process CPU time; ratio = geometric mean over both orders of the median "
                               "back-to-back pair ratio"),
                     "target_ratio": TARGET_RATIO, "per_shape_target_ratio": PER_SHAPE_RATIO,
                     "target_sizes": list(TARGET_SIZES)},
        "rows": rows,
        "viewer_updates": counts,
        "one_update_per_bulk_call": bulk_updates_ok(counts),
        "imports": imports,
        "targets_missed": [f"{r['operation']} N={r['n']}" for r in missed],
        "seconds": time.perf_counter() - began,
    }
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(json.dumps(report, indent=2) + "\n")
    print(f"\nwritten to {output}")
    return 0


def measure_imports():
    from import_cost import measure

    return measure()


if __name__ == "__main__":
    sys.exit(main())
