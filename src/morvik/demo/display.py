"""Finding an X server: the user's own, or a private Xvfb when there is none."""

import atexit
import os
import shutil
import subprocess

INSTALL_HINT = (
    "install a virtual X server and software OpenGL, e.g. on Debian/Ubuntu:\n"
    "  sudo apt-get install xvfb libgl1-mesa-dri"
)


class NoDisplay(RuntimeError):
    """Neither a DISPLAY nor an Xvfb to start; the message says what to install."""


def has_display():
    return bool(os.environ.get("DISPLAY"))


def start_virtual_display():
    """Starts Xvfb on a free display number, points DISPLAY at it, stops it at exit."""
    xvfb = shutil.which("Xvfb")
    if xvfb is None:
        raise NoDisplay(f"no X display (DISPLAY is not set) and Xvfb is not installed; {INSTALL_HINT}")
    read_fd, write_fd = os.pipe()
    # -displayfd lets the server pick a free number and tell us which.
    proc = subprocess.Popen(
        [xvfb, "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        number = pipe.readline().strip()
    if not number:
        proc.kill()
        proc.wait()
        raise NoDisplay(f"Xvfb did not start; {INSTALL_HINT}")
    atexit.register(_stop, proc)
    os.environ["DISPLAY"] = f":{number}"
    # Xvfb has no GPU: make Mesa render in software rather than probe for hardware.
    os.environ.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
    return proc


def _stop(proc):
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
