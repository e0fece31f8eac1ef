"""What importing the two modules costs on top of what the host imports anyway.

Each run is a fresh interpreter that first imports what a host of the two
modules imports itself, then the two modules; the difference between the two
moments is their own cost. The host's part takes the very OCP and PySide6
names the modules bind: PySide6 builds a class (for QtCore's Qt namespace,
with its hundred enumerations) only when a name is first taken from its
module, a cost every PySide6 host pays once. Bare `import` statements of the
same modules give a second, stricter baseline.
"""

import json
import statistics
import subprocess
import sys

# The names the two modules bind when they load (their names.hpp).
HOST_IMPORTS = """
import logging
from OCP.AIS import AIS_InteractiveContext, AIS_Shape
from OCP.Aspect import Aspect_GradientFillMethod, Aspect_TOL_SOLID, Aspect_TypeOfTriedronPosition
from OCP.Graphic3d import Graphic3d_Camera
from OCP.Prs3d import Prs3d_LineAspect
from OCP.Quantity import Quantity_Color, Quantity_NOC_WHITE, Quantity_TOC_RGB
from OCP.V3d import V3d_TypeOfVisualization, V3d_View, V3d_Viewer
from PySide6.QtCore import Qt, Signal
from PySide6.QtWidgets import (QComboBox, QFrame, QGroupBox, QHBoxLayout, QLabel, QPushButton,
                               QSlider, QVBoxLayout, QWidget)
from shiboken6 import isValid
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
"""

BARE_IMPORTS = """
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


def _samples(host, ours, runs):
    script = PROBE.format(host=host, ours=ours)
    samples = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
        samples.append(json.loads(out.stdout.strip().splitlines()[-1]))
    return samples


def measure(runs=7):
    modules = available_modules()
    ours = "\n".join(f"import {name}" for name in modules)
    samples, bare = [], []
    for _ in range(runs):  # the two baselines interleaved
        samples += _samples(HOST_IMPORTS, ours, 1)
        bare += _samples(BARE_IMPORTS, ours, 1)
    return {
        "modules": modules,
        "runs": runs,
        "host_ms": 1000 * statistics.median(s["host"] for s in samples),
        "added_ms": 1000 * statistics.median(s["ours"] for s in samples),
        "added_ms_samples": [round(1000 * s["ours"], 3) for s in samples],
        "added_over_bare_imports_ms": 1000 * statistics.median(s["ours"] for s in bare),
    }


if __name__ == "__main__":
    print(json.dumps(measure(), indent=2))
