"""Typing: the committed stubs describe the built modules, and a host type-checks against them."""

import os
import re
import subprocess
import sys
from importlib import metadata
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
MODULES = {
    "morvik.services.scenard": None,
    "morvik.widgets.panelor": ROOT / "src/morvik/widgets/panelor/stub_patterns.txt",
}


def shipped_stub(module_name):
    """The committed stub, which the build installs beside the module."""
    return ROOT / "src" / (module_name.replace(".", "/") + ".pyi")


@pytest.mark.portable
@pytest.mark.parametrize("module_name", MODULES)
def test_committed_stub_matches_the_built_module(module_name, tmp_path):
    fresh = tmp_path / "fresh.pyi"
    command = [sys.executable, "-m", "nanobind.stubgen", "-q", "-m", module_name, "-o", str(fresh)]
    if MODULES[module_name]:
        command += ["-p", str(MODULES[module_name])]
    subprocess.run(command, check=True, timeout=120)
    assert shipped_stub(module_name).read_text() == fresh.read_text(), (
        f"{shipped_stub(module_name)} differs from the built module: if the change is meant, "
        f"copy {fresh} over it")


def test_component_installs_its_stable_abi_modules_and_stubs_and_nothing_of_the_hosts():
    installed = {}
    for file in metadata.files("morvik-view-controls"):
        if ".dist-info/" not in str(file):
            installed[re.sub(r"\.abi3\.so$", ".so", str(file))] = file
    stubs = ["services/scenard.pyi", "widgets/panelor.pyi"]
    assert sorted(installed) == sorted([
        "morvik/services/scenard.so", "morvik/widgets/panelor.so",
        *(f"morvik/{stub}" for stub in stubs),
        # the same stubs as a partial stub-only package, for mypy (PEP 561)
        "morvik-stubs/py.typed", *(f"morvik-stubs/{stub}" for stub in stubs)])
    assert installed["morvik-stubs/py.typed"].read_text() == "partial\n"
    for stub in stubs:
        committed = (ROOT / "src/morvik" / stub).read_text()
        assert installed[f"morvik/{stub}"].read_text() == committed
        assert installed[f"morvik-stubs/{stub}"].read_text() == committed


@pytest.mark.portable
@pytest.mark.parametrize("module_name, expected", [
    ("morvik.services.scenard", [
        ("def display_shape(self, shape: OCP.TopoDS.TopoDS_Shape, shape_id: str, "
        "color: tuple[float, float, float] | None = None, update: bool = True, "
        "sub_colors: Iterable[tuple[OCP.TopoDS.TopoDS_Shape, tuple[float, float, float]]] | None = None"
        ") -> str | None:"),
        "def get_all_shapes(self) -> dict[str, ShapeInfo]:",
        "def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None:",
        "def visible(self, /) -> bool: ...",
    ]),
    ("morvik.widgets.panelor", [
        "class Panelor(PySide6.QtWidgets.QWidget):",
        *(f"{name}: ClassVar[Signal] = ..." for name in (
            "projection_changed", "projection_type_changed", "display_mode_changed",
            "transparency_changed", "fit_all_requested")),
        "def get_transparency(self) -> float:",
    ]),
])
def test_stubs_show_what_each_operation_takes_and_returns(module_name, expected):
    stub = shipped_stub(module_name).read_text()
    for line in expected:
        assert line in stub


@pytest.mark.portable
def test_panelor_stub_names_the_real_class_members():
    from morvik.widgets.panelor import Panelor

    stub = shipped_stub("morvik.widgets.panelor").read_text()
    declared = {a or b for a, b in re.findall(r"^    (?:def (\w+)\(|(\w+): )", stub, re.MULTILINE)}
    public = {name for name, value in vars(Panelor).items() if not name.startswith("_")}
    assert declared - {"__init__"} == public
    assert "__init__" in declared


MISUSE = """\
from OCP.TopoDS import TopoDS_Shape

from morvik.enums import DisplayMode
from morvik.services.scenard import Scenard
from morvik.widgets.panelor import Panelor


def misuse(service: Scenard, toolbar: Panelor, shape: TopoDS_Shape) -> None:
    service.display_shape(shape, "part", None, True, [(shape, (1.0, 0.8, 0.0))])
    service.display_shapes([(shape, "part", None, [(shape, (1.0, 0.8, 0.0))])])
    service.display_shape(shape, "part", sub_colors=[(shape, "gold")])  # wrong
    service.zoom("far")  # wrong
    service.set_display_mode("shaded")  # wrong
    count: str = service.get_shape_count()  # wrong
    toolbar.set_transparency(DisplayMode.BOTH)  # wrong
    info = service.get_shape_info("box")
    info.visible  # wrong: may be None
    toolbar.display_mode_changed.connect(print)
"""


def mypy_environment(tmp_path):
    """The environment for mypy; PySide6 becomes Any where its own stubs do not parse (6.6)."""
    import ast

    import PySide6

    try:
        ast.parse((Path(PySide6.__file__).parent / "QtGui.pyi").read_text())
        return dict(os.environ)
    except SyntaxError:
        shadow = tmp_path / "shadow" / "PySide6"
        shadow.mkdir(parents=True)
        for stub in ["__init__.pyi", *(p.name for p in Path(PySide6.__file__).parent.glob("Qt*.pyi"))]:
            (shadow / stub).write_text("from typing import Any\n\ndef __getattr__(name: str) -> Any: ...\n")
        return dict(os.environ, MYPYPATH=str(shadow.parent))


@pytest.mark.portable
def test_host_code_type_checks_against_the_stubs(tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(MISUSE)
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--config-file", str(ROOT / "pyproject.toml"),
         "--cache-dir", str(tmp_path / "cache"), str(ROOT / "examples/host_example.py"), str(misuse)],
        capture_output=True, text=True, timeout=300, cwd=ROOT, env=mypy_environment(tmp_path))
    flagged = sorted(int(line) for line in re.findall(r"misuse\.py:(\d+): error", result.stdout))
    wrong = [number for number, text in enumerate(MISUSE.splitlines(), 1) if "# wrong" in text]
    assert flagged == wrong, result.stdout
    assert "host_example.py" not in result.stdout, result.stdout


def test_host_example_runs():
    result = subprocess.run([sys.executable, str(ROOT / "examples/host_example.py")],
                            capture_output=True, text=True, timeout=120, env=dict(os.environ))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[:2] == ["box: shown, colour (0.2, 0.5, 0.9)",
                                              "ball: hidden, colour None"]
