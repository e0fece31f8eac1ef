"""How long `morvik-viewer FILE --thumbnail OUT --size 256` takes against a screenshot of the
same file at the same size.

A thumbnail is a screenshot in a look of its own (no trihedron, a transparent background)
whose parts the reader meshes coarser; neither run keeps or takes a cached answer (a
thumbnail never does, the screenshot runs with --no-cache), as a file manager's first look
at a file would. Each run is a process of its own, start to exit, the two alternating;
each figure is the median of the repeats, and thumbnail/screenshot is what to watch.

Files: tests/files/plate.step, and a generated assembly of 300 parts (tests/assemblies.py).

    python bench/thumbnail_time.py                      # those two, 5 repeats
    python bench/thumbnail_time.py FILE.step ... --repeats 3
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

PLATE = HERE.parent / "tests" / "files" / "plate.step"
ASSEMBLY_PARTS = 300
SIZE = "256x256"
VIEWER = [sys.executable, "-m", "morvik_viewer"]


def _seconds(arguments):
    began = time.perf_counter()
    subprocess.run(VIEWER + arguments, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - began


def measure(path, repeats, folder):
    picture = str(Path(folder) / "picture.png")
    thumbnails, shots = [], []
    for _ in range(repeats):
        thumbnails.append(_seconds([str(path), "--thumbnail", picture, "--size", SIZE]))
        shots.append(_seconds([str(path), "--screenshot", picture, "--size", SIZE, "--no-cache"]))
    thumbnail, shot = statistics.median(thumbnails), statistics.median(shots)
    return {"file": path.name, "bytes": path.stat().st_size, "thumbnail_s": round(thumbnail, 3),
            "screenshot_s": round(shot, 3), "thumbnail_over_screenshot": round(thumbnail / shot, 3)}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", type=Path)
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--output", type=Path)
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()[0]
    rows = []
    with tempfile.TemporaryDirectory() as folder:
        files = list(args.files)
        if not files:
            from assemblies import write_assembly

            assembly = Path(folder) / f"rig-{ASSEMBLY_PARTS}.step"
            write_assembly(assembly, parts=ASSEMBLY_PARTS)
            files = [PLATE, assembly]
        for path in files:
            row = measure(path, args.repeats, folder)
            print(f"{row['file']}: --thumbnail {row['thumbnail_s']:.2f} s, --screenshot "
                  f"{row['screenshot_s']:.2f} s at {SIZE}, ratio "
                  f"{row['thumbnail_over_screenshot']:.2f}")
            rows.append(row)
    report = {"benchmark": "thumbnail_time", "size": SIZE, "repeats": args.repeats,
              "files": rows, "machine": machine_facts(load_before, drawn=True)}
    stamp = datetime.date.today().isoformat()
    write_result(args.output or RESULTS / f"thumbnail-time-{stamp}.json", report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
