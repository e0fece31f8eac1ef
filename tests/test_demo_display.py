"""Where the viewer finds an X server: the user's, a private Xvfb, or a clear refusal."""

import os
import subprocess
import sys

import pytest

from morvik_viewer import display
from morvik_viewer.cli import FALLBACK_SCREENSHOT, main


@pytest.fixture
def no_display_no_xvfb(monkeypatch):
    monkeypatch.delenv("DISPLAY", raising=False)
    monkeypatch.setattr(display.shutil, "which", lambda name: None)


def test_without_xvfb_says_what_to_install(no_display_no_xvfb):
    with pytest.raises(display.NoDisplay) as error:
        display.start_virtual_display()
    assert "apt-get install xvfb" in str(error.value)


@pytest.mark.parametrize("argv", [[], ["--screenshot", "out.png"]])
def test_command_fails_cleanly_without_any_display(no_display_no_xvfb, argv, tmp_path,
                                                   monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    assert main(argv) == 1
    err = capsys.readouterr().err
    assert "Xvfb is not installed" in err and "apt-get install xvfb" in err
    assert list(tmp_path.iterdir()) == []


def test_headless_run_starts_xvfb_and_writes_a_screenshot(tmp_path):
    # What `scripts/demo` does on a machine without a display.
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    run = subprocess.run([sys.executable, "-m", "morvik_viewer", "--size", "160x120"], cwd=tmp_path,
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "no display" in run.stderr
    assert (tmp_path / FALLBACK_SCREENSHOT).stat().st_size > 0


@pytest.mark.parametrize("argv", [[], ["--screenshot", "out.png"]])
def test_display_that_does_not_answer_is_reported(argv, tmp_path, monkeypatch, capsys):
    monkeypatch.setenv("DISPLAY", ":32761")  # no server listens there
    # The window path switches Qt to xcb; keep that from leaking into later tests.
    monkeypatch.setenv("QT_QPA_PLATFORM", os.environ.get("QT_QPA_PLATFORM", "offscreen"))
    monkeypatch.chdir(tmp_path)
    assert main(argv) == 1
    assert "cannot open the X display" in capsys.readouterr().err
