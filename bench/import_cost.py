"""What importing the two modules costs on top of what the host imports anyway.

Each run is a fresh interpreter that first imports the OCP and PySide6 modules
the two extension modules bind names from (and the host's enumerations), then
the two modules themselves; the difference between the two moments is their
own cost.
"""

import json
import statistics
import subprocess
import sys

HOST_IMPORTS = """
import logging
import OCP.AIS, OCP.Aspect, OCP.Graphic3d, OCP.Prs3d, OCP.Quantity, OCP.V3d
import PySide6.QtCore, PySide6.QtWidgets, shiboken6
import morvik.enums
"""

PROBE = """
import json, time
start = time.perf_counter()
{host}
host_done = time.perf_counter()
{ours}
ours_done = time.perf_counter()
print(json.dumps({{"host": host_done - start, "ours": ours_done - host_done}}))
"""

MODULES = ("morvik.services.scenard", "morvik.widgets.panelor")


def available_modules():
    """The modules of ours that import in this environment."""
    found = []
    for name in MODULES:
        probe = subprocess.run([sys.executable, "-c", f"import {name}"], capture_output=True)
        if probe.returncode == 0:
            found.append(name)
    return found


def measure(runs=7):
    modules = available_modules()
    ours = "\n".join(f"import {name}" for name in modules)
    script = PROBE.format(host=HOST_IMPORTS, ours=ours)
    samples = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
        samples.append(json.loads(out.stdout.strip().splitlines()[-1]))
    return {
        "modules": modules,
        "runs": runs,
        "host_ms": 1000 * statistics.median(s["host"] for s in samples),
        "added_ms": 1000 * statistics.median(s["ours"] for s in samples),
        "added_ms_samples": [round(1000 * s["ours"], 3) for s in samples],
    }


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))
