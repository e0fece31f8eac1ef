"""Times showing a whole assembly at once: Scenard.display_shapes against the
same OCP calls made straight from Python with one viewer update at the end.

Each repeat displays N boxes on each of two identical offscreen scenes, one
right after the other, the order flipping from one repeat to the next, and
empties both scenes again (untimed). The ratio is display_shapes / direct:
the geometric mean of the median pair ratio for each order, in process CPU
time (the machine is shared; wall-clock time is recorded alongside).

    python bench/bulk_display.py             # N = 20000, 6 repeats
    python bench/bulk_display.py --n 2000 --repeats 4
"""

import argparse
import datetime
import json
import os
import sys
from pathlib import Path

from bench_service import RESULTS, TARGET_RATIO, _compare, colour, timed
from scene import ensure_display, graphic_driver, machine_facts, make_boxes, make_scene


def direct_display(scene, items):
    """What a host writes without the service (bench/direct.py), then one viewer update."""
    from direct import DirectScene

    side = DirectScene(scene)
    side.display(items, False)
    scene.context.UpdateCurrentViewer()
    return side


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=20000)
    parser.add_argument("--repeats", type=int, default=6)
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/bulk-display-<date>.json)")
    args = parser.parse_args(argv)
    ensure_display()

    from morvik.enums import DisplayMode
    from morvik.services.scenard import Scenard

    driver = graphic_driver()
    scenes = {kind: make_scene(driver) for kind in ("service", "direct")}
    service = Scenard(scenes["service"].view, scenes["service"].viewer, scenes["service"].context)
    service.set_display_mode(DisplayMode.SHADED)
    scenes["direct"].context.SetDisplayMode(1, False)
    # Each side its own boxes, alike but not shared, in the order each takes them.
    items = {"service": [(box, f"shape-{i}", colour(i)) for i, box in enumerate(make_boxes(args.n))],
             "direct": [(f"shape-{i}", box, colour(i)) for i, box in enumerate(make_boxes(args.n))]}
    for scene in scenes.values():  # the same framing for every drawn frame
        direct_display(scene, items["direct"][:1])
        scene.view.FitAll()
        scene.context.RemoveAll(False)
    kept = {}

    def run(kind):
        if kind == "service":
            return lambda: service.display_shapes(items["service"])
        return lambda: kept.update(direct=direct_display(scenes["direct"], items["direct"]))

    load_before = os.getloadavg()
    pairs = []
    for repeat in range(args.repeats):
        first = repeat % 2 == 0
        order = ("service", "direct") if first else ("direct", "service")
        sample = {kind: timed(run(kind)) for kind in order}
        assert service.get_shape_count() == args.n
        pairs.append((sample["service"], sample["direct"], first))
        service.erase_all()
        kept.clear()
        scenes["direct"].context.RemoveAll(True)
        print(f"repeat {repeat + 1}/{args.repeats}: display_shapes {sample['service'][1]:.2f} s, "
              f"direct {sample['direct'][1]:.2f} s (CPU)", file=sys.stderr)

    cpu = _compare([(s[1], d[1], f) for s, d, f in pairs])
    report = {
        "benchmark": "display_shapes against direct OCP calls, one viewer update each",
        "date": datetime.date.today().isoformat(),
        "n": args.n,
        "repeats": args.repeats,
        "target_ratio": TARGET_RATIO,
        "met": cpu["ratio"] <= TARGET_RATIO,
        "cpu": cpu,
        "wall": _compare([(s[0], d[0], f) for s, d, f in pairs]),
        "machine": machine_facts(load_before),
    }
    output = args.output or RESULTS / f"bulk-display-{report['date']}.json"
    output.write_text(json.dumps(report, indent=2) + "\n")
    print(f"display_shapes / direct, N = {args.n}: {cpu['ratio']:.3f} "
          f"({cpu['service_ms']:.0f} ms against {cpu['direct_ms']:.0f} ms CPU); wrote {output}")
    return 0 if report["met"] else 1


if __name__ == "__main__":
    sys.exit(main())
