"""The freedesktop thumbnailer: once its entry and the CAD file types are in the user's data
folder, file managers show CAD files by a picture of `morvik-viewer FILE --thumbnail OUT`.

Both files ship in the package (morvik_viewer/data/). --install-thumbnailer puts them in
$XDG_DATA_HOME (~/.local/share): thumbnailers/morvik-viewer.thumbnailer, its command made
absolute (a file manager's PATH may lack the folder this command is in, a virtual
environment's say), and mime/packages/morvik-viewer-mime.xml; then update-mime-database,
when the machine has it, rebuilds the user's MIME cache. --uninstall-thumbnailer takes
both away again. Each file is written whole or not at all (model.writing).
"""

import os
import shutil
import subprocess
import sys
from importlib import resources
from pathlib import Path

from morvik_viewer.app.base import EXIT_FAILURE, EXIT_OK, PROG
from morvik_viewer.model.paths import shown
from morvik_viewer.model.writing import WriteError, write_file

THUMBNAILER = "morvik-viewer.thumbnailer"
MIME_PACKAGE = "morvik-viewer-mime.xml"
SHIPPED_COMMAND = "morvik-viewer"  # as the shipped entry names it
# update-mime-database takes well under a second on a user's database; past this it is stuck.
UPDATE_TIMEOUT = 120
# Characters a word of an Exec line is quoted for (the desktop entry format's reserved ones).
_RESERVED = frozenset(" \t\n\"'\\><~|&;$*?#()`")


def data_home():
    """$XDG_DATA_HOME when it is an absolute path, else ~/.local/share."""
    home = os.environ.get("XDG_DATA_HOME", "")
    return Path(home) if os.path.isabs(home) else Path.home() / ".local" / "share"


def targets(data):
    """Where each shipped file goes under the data folder data."""
    return {THUMBNAILER: data / "thumbnailers" / THUMBNAILER,
            MIME_PACKAGE: data / "mime" / "packages" / MIME_PACKAGE}


def shipped(name):
    """The bytes of a file the package ships in morvik_viewer/data/."""
    return (resources.files("morvik_viewer") / "data" / name).read_bytes()


def command(program):
    """The words that run this viewer from anywhere: program (sys.argv[0]) by its absolute
    path when it is the morvik-viewer command, else this Python with -m morvik_viewer."""
    if Path(program).name == SHIPPED_COMMAND and os.path.isfile(program):
        return [os.path.abspath(program)]
    return [sys.executable, "-m", "morvik_viewer"]


def key_value(text):
    """text as a key file's string value holds it (TryExec's path, say)."""
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t")


def exec_word(word):
    """word as a desktop entry's Exec line holds it: % doubled, quoted when it holds a
    reserved character (with ", `, $ and \\ escaped inside the quotes), then escaped as a
    key file's value is."""
    word = word.replace("%", "%%")
    if _RESERVED.intersection(word):
        word = '"' + "".join("\\" + c if c in '"`$\\' else c for c in word) + '"'
    return key_value(word)


def installed_entry(words):
    """The shipped entry's text with its command replaced by words."""
    lines = []
    for line in shipped(THUMBNAILER).decode("utf-8").splitlines():
        key, _, value = line.partition("=")
        if key == "TryExec":
            line = f"TryExec={key_value(words[0])}"
        elif key == "Exec":
            line = "Exec=" + " ".join(map(exec_word, words)) + value.removeprefix(SHIPPED_COMMAND)
        lines.append(line)
    return "\n".join(lines) + "\n"


def install(data, program):
    """Writes both files under data, the entry running program; returns their paths.
    WriteError when one cannot be written."""
    places = targets(data)
    contents = {THUMBNAILER: installed_entry(command(program)).encode("utf-8"),
                MIME_PACKAGE: shipped(MIME_PACKAGE)}
    for name, path in places.items():
        try:
            path.parent.mkdir(parents=True, exist_ok=True)
        except OSError as error:
            raise WriteError(f"{shown(path.parent)}: {error.strerror or error}") from None
        write_file(path, contents[name], "the thumbnailer's file")
    return list(places.values())


def uninstall(data):
    """Removes both files from under data; returns the paths removed."""
    removed = []
    for path in targets(data).values():
        try:
            path.unlink()
        except FileNotFoundError:
            continue
        except OSError as error:
            raise WriteError(f"{shown(path)}: cannot remove it ({error.strerror})") from None
        removed.append(path)
    return removed


def update_mime_database(tool, data):
    """Rebuilds the MIME cache under data with tool; None when it went, else why not."""
    try:
        ran = subprocess.run([tool, str(data / "mime")], capture_output=True, text=True,
                             timeout=UPDATE_TIMEOUT, check=False)
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"update-mime-database failed ({error})"
    if ran.returncode != 0:
        said = (ran.stderr.strip().splitlines() or [f"exit status {ran.returncode}"])[-1]
        return f"update-mime-database failed ({said})"
    return None


def main(remove=False, program=None):
    """--install-thumbnailer (or with remove, --uninstall-thumbnailer); the exit status."""
    data = data_home()
    try:
        if remove:
            done = uninstall(data)
            for path in done:
                print(f"{PROG}: removed {shown(path)}")
            if not done:
                print(f"{PROG}: no thumbnailer installed under {shown(data)}")
                return EXIT_OK
        else:
            for path in install(data, sys.argv[0] if program is None else program):
                print(f"{PROG}: wrote {shown(path)}")
    except WriteError as error:
        print(f"{PROG}: error: {error}", file=sys.stderr)
        return EXIT_FAILURE
    tool = shutil.which("update-mime-database")
    if tool is None:
        print(f"{PROG}: warning: update-mime-database is not installed: file managers learn "
              "the CAD file types once it has run", file=sys.stderr)
        return EXIT_OK
    problem = update_mime_database(tool, data)
    if problem is not None:
        print(f"{PROG}: error: {problem}", file=sys.stderr)
        return EXIT_FAILURE
    return EXIT_OK
