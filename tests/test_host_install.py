"""Installing into a real host: the components join the host's packages and touch nothing of it.

A throwaway host package `morvik` (its own enums, with one member and one
class more than the stand-in's, and modules of its own in `morvik.services`
and `morvik.widgets`) is installed as a wheel into a fresh environment,
beside the OCP and PySide6 distributions this run uses. Then the component
wheel goes in, works against the host's enums, and comes out again.
"""

import base64
import hashlib
import json
import os
import re
import subprocess
import sys
import venv
import zipfile
from importlib import metadata
from pathlib import Path

import pytest

pytestmark = pytest.mark.slow

ROOT = Path(__file__).resolve().parent.parent

# The host's enums: ours with one member and one class more.
HOST_ENUMS = (ROOT / "standin/morvik/enums.py").read_text().replace(
    '    BOTH = "both"\n', '    BOTH = "both"\n    HIDDEN_LINE = "hidden_line"\n'
) + '\n\nclass Units(Enum):\n    MM = "mm"\n'

HOST_FILES = {
    "morvik/__init__.py": '"""The host application."""\nHOST = "real"\n',
    "morvik/enums.py": HOST_ENUMS,
    "morvik/services/__init__.py": '"""The host\'s services."""\n',
    "morvik/services/documents.py": "def open_document():\n    return 'document'\n",
    "morvik/widgets/__init__.py": '"""The host\'s widgets."""\n',
    "morvik/widgets/tree.py": "TREE = 'tree'\n",
}

# Run inside the host's environment: the components bind the host's enums
# and drive a real viewer and a real toolbar.
USE = r"""
import json
from morvik.enums import DisplayMode, Units, ViewDirection
from morvik.services import documents
from morvik.services.scenard import Scenard
from morvik.widgets.panelor import Panelor
from OCP.AIS import AIS_InteractiveContext
from OCP.Aspect import Aspect_DisplayConnection
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.V3d import V3d_Viewer
from PySide6.QtWidgets import QApplication

app = QApplication([])
viewer = V3d_Viewer(OpenGl_GraphicDriver(Aspect_DisplayConnection()))
context = AIS_InteractiveContext(viewer)
service = Scenard(viewer.CreateView(), viewer, context)
shown = service.display_shape(BRepPrimAPI_MakeBox(1, 2, 3).Shape(), "box")
service.set_display_mode(DisplayMode.BOTH)
service.set_projection(ViewDirection.TOP)
toolbar = Panelor(None, "vertical")
modes = []
toolbar.display_mode_changed.connect(modes.append)
toolbar.set_display_mode(DisplayMode.WIREFRAME)
print(json.dumps({
    "shown": shown, "count": service.get_shape_count(),
    "mode": service._current_display_mode.value, "host_mode": type(service._current_display_mode) is DisplayMode,
    "context_mode": context.DisplayMode(), "emitted": modes,
    "toolbar_mode": toolbar.get_display_mode(), "documents": documents.open_document(),
    "host_only": [DisplayMode.HIDDEN_LINE.value, Units.MM.value],
}))
"""

MISUSE = """\
from morvik.services.scenard import Scenard


def misuse(service: Scenard) -> None:
    service.zoom("far")
"""


def write_wheel(directory, name, version, files):
    """A minimal, valid wheel holding `files` (path -> text)."""
    dist_info = f"{name}-{version}.dist-info"
    files = dict(files)
    files[f"{dist_info}/METADATA"] = f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\n"
    files[f"{dist_info}/WHEEL"] = ("Wheel-Version: 1.0\nGenerator: morvik-tests\n"
                                   "Root-Is-Purelib: true\nTag: py3-none-any\n")
    record = []
    for path, text in files.items():
        data = text.encode()
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append(f"{path},sha256={digest},{len(data)}")
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = "\n".join(record) + "\n"
    wheel = Path(directory) / f"{name}-{version}-py3-none-any.whl"
    with zipfile.ZipFile(wheel, "w") as archive:
        for path, text in files.items():
            archive.writestr(path, text)
    return wheel


def component_wheel(directory):
    """The component wheel: MORVIK_COMPONENT_WHEEL when given, else built from this checkout."""
    given = os.environ.get("MORVIK_COMPONENT_WHEEL")
    if given:
        return Path(given)
    subprocess.run([sys.executable, "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps",
                    "-Cbuild-dir=build/host-test", "-Ccmake.define.MORVIK_STABLE_ABI=ON", "-w", str(directory),
                    str(ROOT)],
                   check=True, cwd=ROOT, timeout=900)
    (wheel,) = Path(directory).glob("morvik_view_controls-*.whl")
    return wheel


def host_bindings():
    """The OCP and PySide6 distributions of this run, as requirements: the host's own."""
    wanted = []
    for name in ("cadquery-ocp", "cadquery-ocp-novtk", "PySide6-Essentials", "numpy"):
        try:
            wanted.append(f"{name}=={metadata.version(name)}")
        except metadata.PackageNotFoundError:
            pass
    return wanted


# The host's environment sees only its own site-packages: a PYTHONPATH of
# this run (the sanitizer build puts ours there) would shadow the host's package.
HOST_ENVIRONMENT = {key: value for key, value in os.environ.items()
                    if key not in ("PYTHONPATH", "PYTHONHOME")}


class Host:
    def __init__(self, root):
        venv.create(root, with_pip=True)
        self.python = str(Path(root) / "bin" / "python")
        self.site = Path(self.run("import sysconfig; print(sysconfig.get_path('purelib'))"))

    def run(self, code):
        result = subprocess.run([self.python, "-c", code], capture_output=True, text=True, timeout=300,
                                env=HOST_ENVIRONMENT)
        assert result.returncode == 0, result.stderr
        return result.stdout.strip()

    def pip(self, *args):
        result = subprocess.run([self.python, "-m", "pip", "--disable-pip-version-check", "-q", *args],
                                capture_output=True, text=True, timeout=900, env=HOST_ENVIRONMENT)
        assert result.returncode == 0, result.stdout + result.stderr

    def distributions(self):
        listed = json.loads(self.run(
            "import json; from importlib import metadata; "
            "print(json.dumps([(d.metadata['Name'].lower(), d.version) "
            "for d in metadata.distributions()]))"))
        return sorted(map(tuple, listed))

    def files(self, folder="morvik"):
        """Every file under `folder` of site-packages (bytecode caches aside), with its digest."""
        base = self.site / folder
        return {str(path.relative_to(self.site)): hashlib.sha256(path.read_bytes()).hexdigest()
                for path in sorted(base.rglob("*"))
                if path.is_file() and "__pycache__" not in path.parts}


@pytest.fixture(scope="module")
def host(tmp_path_factory):
    work = tmp_path_factory.mktemp("host")
    host = Host(work / "env")
    host.pip("install", *host_bindings())
    host.pip("install", str(write_wheel(work, "morvik_host", "3.1.0", HOST_FILES)))
    host.before = (host.files(), host.distributions())

    wheel = component_wheel(work)
    host.pip("install", str(wheel))
    host.installed = (host.files(), host.distributions())
    host.used = json.loads(host.run(USE))
    host.mypy = subprocess.run(
        [sys.executable, "-m", "mypy", "--python-executable", host.python, "--no-incremental",
         "--cache-dir", os.devnull, "-c", MISUSE],
        capture_output=True, text=True, timeout=300, cwd=work,  # no configuration of ours
        env=HOST_ENVIRONMENT)

    host.pip("uninstall", "-y", "morvik-view-controls")
    host.after = (host.files(), host.distributions())
    return host


def test_installing_the_components_changes_no_host_file_and_adds_only_their_own(host):
    before, installed = host.before[0], host.installed[0]
    added = {re.sub(r"\.abi3\.so$", ".so", path) for path in installed.keys() - before}
    assert added == {"morvik/services/scenard.so", "morvik/services/scenard.pyi",
                     "morvik/widgets/panelor.so", "morvik/widgets/panelor.pyi"}
    assert {path: installed[path] for path in before} == before


def test_installing_the_components_replaces_no_distribution_and_adds_only_theirs(host):
    before, installed = set(host.before[1]), set(host.installed[1])
    assert before - installed == set()
    assert {name for name, _ in installed - before} == {"morvik-view-controls"}


def test_components_bind_the_hosts_enums_and_work(host):
    assert host.used == {
        "shown": "box", "count": 1, "mode": "both", "host_mode": True, "context_mode": 1,
        "emitted": ["wireframe"], "toolbar_mode": "wireframe", "documents": "document",
        "host_only": ["hidden_line", "mm"]}


def test_the_hosts_type_checker_reads_the_component_stubs(host):
    # This host does not mark its package typed: mypy finds the stubs in the
    # partial stub-only package that comes with the modules.
    assert re.findall(r"error: (.*)  \[", host.mypy.stdout) == [
        'Argument 1 to "zoom" of "Scenard" has incompatible type "str"; expected "float"'
    ], host.mypy.stdout + host.mypy.stderr


def test_uninstalling_the_components_leaves_the_host_as_it_was(host):
    assert host.after == host.before
    assert not (host.site / "morvik-stubs").exists()
