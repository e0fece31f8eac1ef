"""How long `morvik-viewer --tree FILE` takes against a screenshot of the same file.

A tree needs the file's structure only (names, colours, solid counts), a
screenshot its shapes meshed and drawn as well: each run is a process of its
own, start to exit, the two alternating, and each figure the median of the
repeats. The ratio tree/screenshot is what to watch; both read the file
through OCCT's document layer in a reader process.

Generated files: boards of components (tests/assemblies.py --board).

    python bench/tree_time.py                       # generated boards, 3 repeats
    python bench/tree_time.py FILE.step ... --repeats 5
"""

import argparse
import datetime
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from scene import ensure_display, machine_facts, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the assembly writer

BOARDS = (60, 600)
VIEWER = [sys.executable, "-m", "morvik_viewer"]


def _seconds(arguments):
    began = time.perf_counter()
    subprocess.run(VIEWER + arguments, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - began


def measure(path, repeats, folder):
    picture = str(Path(folder) / "shot.png")
    trees, shots = [], []
    for _ in range(repeats):
        trees.append(_seconds(["--tree", str(path)]))
        shots.append(_seconds(["--screenshot", picture, str(path)]))
    tree, shot = statistics.median(trees), statistics.median(shots)
    return {"file": path.name, "bytes": path.stat().st_size, "tree_s": round(tree, 3),
            "screenshot_s": round(shot, 3), "tree_over_screenshot": round(tree / shot, 3)}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", type=Path)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--output", type=Path)
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()[0]
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        files = list(args.files)
        if not files:
            from assemblies import write_board

            for parts in BOARDS:
                path = Path(folder) / f"board-{parts}.step"
                write_board(path, parts=parts, columns=20)
                files.append(path)
        for path in files:
            row = measure(path, args.repeats, folder)
            print(f"{row['file']}: --tree {row['tree_s']:.2f} s, --screenshot "
                  f"{row['screenshot_s']:.2f} s, ratio {row['tree_over_screenshot']:.2f}")
            rows.append(row)
    report = {"benchmark": "tree_time", "repeats": args.repeats, "files": rows,
              "machine": machine_facts(load_before)}
    stamp = datetime.date.today().isoformat()
    write_result(args.output or RESULTS / f"tree-time-{stamp}.json", report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
