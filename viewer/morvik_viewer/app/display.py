"""Finding an X server: the user's own, or a private Xvfb when there is none."""

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
    """Starts Xvfb on a free display number and points DISPLAY at it.

    The server outlives this process by a moment and then ends: OCCT closes its
    display connection during interpreter shutdown, and Xlib ends the process
    with an error if the server is already gone by then.
    """
    xvfb = shutil.which("Xvfb")
    if xvfb is None:
        raise NoDisplay(f"no X display (DISPLAY is not set) and Xvfb is not installed; {INSTALL_HINT}")
    read_fd, write_fd = os.pipe()
    # -displayfd lets the server pick a free number and tell us which; the
    # watcher stops the server once this process is gone.
    watcher = (
        f'"$0" -displayfd {write_fd} -screen 0 1280x1024x24 -nolisten tcp & server=$!; '
        f"while kill -0 {os.getpid()} 2>/dev/null; do sleep 1; done; kill $server"
    )
    subprocess.Popen(
        ["sh", "-c", watcher, xvfb],
        pass_fds=(write_fd,),
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        start_new_session=True,
    )
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise NoDisplay(f"Xvfb did not start; {INSTALL_HINT}")
    os.environ["DISPLAY"] = f":{number}"
    # Xvfb has no GPU: make Mesa render in software rather than probe for hardware.
    os.environ.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
