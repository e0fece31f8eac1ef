"""Thumbnails, the time limit of runs without a window, and the freedesktop thumbnailer.

The viewer runs as a process of its own, as a file manager or a script runs it. A read
that hangs is a file another program holds under a lease (as Samba or an NFS server
holds the files their clients have open): whoever opens it waits till the holder lets
go, or the kernel breaks the lease (lease-break-time, 45 s by default). A FIFO would
hang OCCT's open too, but the viewer refuses FIFOs before any reader sees them.
"""

import configparser
import errno
import fcntl
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from morvik_viewer.app.cli import main
from morvik_viewer.app.thumbnailer import MIME_PACKAGE, THUMBNAILER, shipped
from morvik_viewer.model.file_kinds import OPENABLE
from sessions import xcb_env

PLATE = Path(__file__).with_name("files") / "plate.step"
MIME = "{http://www.freedesktop.org/standards/shared-mime-info}"
# Past the limit, what a busy machine may take to kill the reader, print and exit (and for
# --tree, to read the next file in a new reader).
MARGIN = 20.0
# Longer than any run here takes: a viewer that hangs fails the test rather than blocks it.
GUARD = 120.0


def viewer_command(*args):
    return [sys.executable, "-m", "morvik_viewer", *map(str, args)]


def run_viewer(*args, **env):
    return subprocess.run(viewer_command(*args), capture_output=True, text=True, timeout=GUARD,
                          env=xcb_env(os.environ["XDG_CONFIG_HOME"], **env))


def pixels(path):
    """The PNG's size and its pixels as (r, g, b, a), row by row."""
    from PySide6.QtGui import QImage

    assert Path(path).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    image = QImage(str(path))
    assert not image.isNull()
    rows = [[image.pixelColor(x, y).getRgb() for x in range(image.width())]
            for y in range(image.height())]
    return (image.width(), image.height()), rows


def check_thumbnail(path, size):
    """A thumbnail of plate.step: size, clear corners (OCCT clears the background to
    transparent, Mesa's software OpenGL too), the grey plate in the middle, and nothing of
    the trihedron's red, green and blue arrows anywhere."""
    (width, height), rows = pixels(path)
    assert (width, height) == size
    corners = [rows[y][x] for y in (0, 1, 2, height - 3, height - 2, height - 1)
               for x in (0, 1, 2, width - 3, width - 2, width - 1)]
    assert all(alpha == 0 for *_, alpha in corners), corners
    middle = [rows[y][x] for y in range(height * 2 // 5, height * 3 // 5)
              for x in range(width * 2 // 5, width * 3 // 5)]
    drawn = [p for p in middle if p[3] == 255 and min(p[:3]) < 230]
    assert len(drawn) > 0.8 * len(middle)
    assert all(max(p[:3]) - min(p[:3]) < 40 for row in rows for p in row if p[3]), \
        "a coloured pixel: the trihedron, or no grey plate"


# --- the thumbnail ---------------------------------------------------------------------

@pytest.mark.parametrize("display", ["given", "answers nowhere"])
def test_a_thumbnail_is_the_plate_on_a_clear_background_at_256_pixels(tmp_path, display):
    # A file manager's thumbnailer may run where DISPLAY names no server that answers:
    # the picture is made on a virtual one.
    out = tmp_path / "plate.png"
    run = run_viewer(PLATE, "--thumbnail", out,
                     **({} if display == "given" else {"DISPLAY": ":32761"}))
    assert run.returncode == 0, run.stderr
    check_thumbnail(out, (256, 256))


# --- the time limit --------------------------------------------------------------------

class HeldFile:
    """A file under a write lease of this process: another process that opens it waits.

    The viewer's own process opens the files to check them before its reader starts;
    those opens are let through (the lease let go and taken again once the file is
    closed), so that the reader's is the open that waits."""

    def __init__(self, path):
        self.path = path

    def __enter__(self):
        # A lease's holder hears of each open by SIGIO, whose default ends the process.
        self._sigio = signal.signal(signal.SIGIO, signal.SIG_IGN)
        self._descriptor = os.open(self.path, os.O_RDONLY)
        self._take()
        return self

    def __exit__(self, *exc):
        os.close(self._descriptor)  # the lease with it: whoever waits opens now
        signal.signal(signal.SIGIO, self._sigio)

    def _take(self):
        while True:
            try:
                fcntl.fcntl(self._descriptor, fcntl.F_SETLEASE, fcntl.F_WRLCK)
                return
            except OSError as error:  # the file is open still, by the one let through
                if error.errno != errno.EAGAIN:
                    raise
                time.sleep(0.001)

    def waiting(self):
        """The processes waiting to open the file: /proc/locks lists each under the lease
        it waits for, as "N: -> LEASE BREAKER ... pid"."""
        inode, lease, waiting = f":{os.fstat(self._descriptor).st_ino}", None, set()
        for line in Path("/proc/locks").read_text().splitlines():
            number, _, fields = line.partition(":")
            fields = fields.split()
            if fields[0] != "->":
                lease = number if fields[0] == "LEASE" and fields[4].endswith(inode) else None
            elif number == lease:
                waiting.add(int(fields[4]))
        return waiting

    def wait_for_reader(self, viewer):
        """The pid of the first process but viewer's own (its reader) that waits to open the
        file: the sign that the read has begun, and hangs."""
        give_up = time.monotonic() + GUARD
        while time.monotonic() < give_up:
            waiting = self.waiting()
            if waiting - {viewer.pid}:
                return min(waiting - {viewer.pid})
            if viewer.pid in waiting:  # checking the file: let it through
                fcntl.fcntl(self._descriptor, fcntl.F_SETLEASE, fcntl.F_UNLCK)
                self._take()
            assert viewer.poll() is None, viewer.communicate()
            time.sleep(0.01)
        raise AssertionError("no reader opened the file")


@pytest.mark.parametrize("run, limit", [
    (["--screenshot", "{out}"], 3),
    # The file after the held one is still read, in a reader of its own.
    (["--tree", "{held}", PLATE], 6),
], ids=["screenshot", "tree"])
def test_a_read_that_hangs_is_given_up_after_the_limit_and_told_in_one_line(tmp_path, run, limit):
    held = tmp_path / "held.step"
    shutil.copy(PLATE, held)
    args = [str(a).format(out=tmp_path / "out.png", held=held) for a in run]
    if "--tree" not in args:
        args.insert(0, str(held))
    with HeldFile(held) as lease:
        began = time.monotonic()
        viewer = subprocess.Popen(viewer_command(*args, "--timeout", limit), text=True,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  env=xcb_env(os.environ["XDG_CONFIG_HOME"]))
        try:
            lease.wait_for_reader(viewer)
            hung = time.monotonic()
            out, err = viewer.communicate(timeout=limit + MARGIN)
        finally:
            viewer.kill()
            viewer.wait()
        ended = time.monotonic()
    assert viewer.returncode == 2, err
    assert ended - began >= limit  # given up at the limit, not sooner ...
    assert ended - hung <= limit + MARGIN  # ... nor much later (communicate's timeout)
    told = [line for line in err.splitlines() if "held.step" in line]
    line = (f"morvik-viewer: error: {held}: took longer than {limit} s to read, and was "
            "given up (--timeout SECONDS sets the limit)")
    assert told == [line], err
    assert not (tmp_path / "out.png").exists()
    if "--tree" in args:
        assert "plate.step:" in out and len(out.splitlines()) > 1, out


@pytest.mark.parametrize("argv, said", [
    *[(["--tree", PLATE, "--timeout", value], "argument --timeout")
      for value in ("0", "-3", "nan", "inf", "-inf", "1e999", "soon", "")],
    ([PLATE, "--thumbnail", "t.png", "--size", "0"], "argument --size"),
    ([PLATE, "--thumbnail", "t.png", "--size", "256x"], "argument --size"),
    (["--thumbnail", "t.png"], "--thumbnail needs a FILE"),
    ([PLATE, "--thumbnail", "t.png", "--screenshot", "s.png"], "--thumbnail needs a FILE"),
    ([PLATE, "--install-thumbnailer"], "go alone"),
])
def test_unsound_options_are_refused_before_anything_runs(argv, said, capsys):
    with pytest.raises(SystemExit) as ended:
        main([str(a) for a in argv])
    assert ended.value.code == 2
    assert said in capsys.readouterr().err


# --- the freedesktop thumbnailer -------------------------------------------------------

def entry_of(text):
    entry = configparser.ConfigParser(interpolation=None)  # % is the Exec line's own
    entry.optionxform = str
    entry.read_string(text)
    return entry["Thumbnailer Entry"]


def test_the_shipped_entry_and_mime_types_agree_and_cover_every_file_the_viewer_opens():
    entry = entry_of(shipped(THUMBNAILER).decode("utf-8"))
    assert shlex.split(entry["Exec"]) == ["morvik-viewer", "%i", "--thumbnail", "%o",
                                          "--size", "%s"]
    types = [name for name in entry["MimeType"].split(";") if name]
    declared = {kind.get("type"): kind
                for kind in ET.fromstring(shipped(MIME_PACKAGE)).iter(f"{MIME}mime-type")}
    assert sorted(declared) == sorted(types)
    globs = {glob.get("pattern") for kind in declared.values()
             for glob in kind.iter(f"{MIME}glob")}
    assert {f"*{suffix}" for suffix in OPENABLE} <= globs
    for kind in declared.values():
        assert kind.find(f"{MIME}comment").text
        for match in kind.iter(f"{MIME}match"):
            assert re.fullmatch(r"\d+(:\d+)?", match.get("offset")) and match.get("value")


def test_the_installed_thumbnailer_runs_from_a_folder_with_a_space_and_goes_again(tmp_path):
    folder = tmp_path / "my tools"
    folder.mkdir()
    command = folder / "morvik-viewer"  # as pip writes the command
    command.write_text(f"#!{sys.executable}\nimport sys\nfrom morvik_viewer.__main__ import main\n"
                       "sys.exit(main())\n")
    command.chmod(0o755)
    data = tmp_path / "data"
    env = xcb_env(os.environ["XDG_CONFIG_HOME"], XDG_DATA_HOME=str(data))
    updates = shutil.which("update-mime-database") is not None

    installed = subprocess.run([command, "--install-thumbnailer"], capture_output=True, text=True,
                               env=env, timeout=GUARD)
    assert installed.returncode == 0, installed.stderr
    entry = entry_of((data / "thumbnailers" / THUMBNAILER).read_text())
    assert entry["TryExec"] == str(command)
    assert (data / "mime" / "packages" / MIME_PACKAGE).read_bytes() == shipped(MIME_PACKAGE)
    if updates:
        assert "model/x-brep:*.brep" in (data / "mime" / "globs2").read_text()
    else:
        assert "update-mime-database is not installed" in installed.stderr

    # As a file manager runs it: the codes expanded to quoted words, the line split as a shell would.
    out = tmp_path / "a thumbnail.png"
    codes = {"i": shlex.quote(str(PLATE)), "o": shlex.quote(str(out)), "s": "128", "%": "%"}
    words = shlex.split(re.sub("%(.)", lambda code: codes[code[1]], entry["Exec"]))
    assert words[0] == str(command)
    ran = subprocess.run(words, capture_output=True, text=True, env=env, timeout=GUARD)
    assert ran.returncode == 0, ran.stderr
    check_thumbnail(out, (128, 128))

    for _ in range(2):  # the second time there is nothing to take away
        removed = subprocess.run([command, "--uninstall-thumbnailer"], capture_output=True,
                                 text=True, env=env, timeout=GUARD)
        assert removed.returncode == 0, removed.stderr
        assert not (data / "thumbnailers" / THUMBNAILER).exists()
        assert not (data / "mime" / "packages" / MIME_PACKAGE).exists()
    assert "no thumbnailer installed" in removed.stdout
    if updates:
        assert "model/x-brep" not in (data / "mime" / "globs2").read_text()
