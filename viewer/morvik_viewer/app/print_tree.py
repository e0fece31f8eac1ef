"""The command line's --tree: each file's model tree printed, as text or JSON lines."""

import os
import sys

from morvik_viewer.model.file_tree import json_text, text_lines
from morvik_viewer.model.paths import shown
from morvik_viewer.reader.client import read_trees


def main(paths, as_json, prog):
    """Prints the trees of paths; returns the exit status (2 when a file could not be
    read, each such file told in one line on standard error)."""
    # A name the terminal's encoding cannot show must not end the run.
    sys.stdout.reconfigure(errors="backslashreplace")
    try:
        return _print_trees(paths, as_json, prog)
    except BrokenPipeError:  # the reader of the output went (| head): nobody to tell
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


def _print_trees(paths, as_json, prog):
    status, printed = 0, False
    for path, (rows, error) in zip(paths, read_trees(paths)):
        if error is not None:
            sys.stdout.flush()
            print(f"{prog}: error: {error}", file=sys.stderr)
            status = 2
        elif as_json:
            print(json_text(path, rows))
        else:
            if len(paths) > 1:  # each tree under its file's name, apart from the last
                print(f"\n{shown(path)}:" if printed else f"{shown(path)}:")
            print("\n".join(text_lines(rows)))
            printed = True
    return status
