"""The command line's --export: the files read and written into one file of another kind,
by a reader process, without a display, Qt or OCP in this one (see reader.exporting)."""

from morvik_viewer.app.base import EXIT_BAD_INPUT, EXIT_OK, PROG, _fail
from morvik_viewer.model.file_kinds import check_file
from morvik_viewer.model.paths import PathError, shown
from morvik_viewer.reader.exporting import Export


def main(paths, target):
    """Writes the files at paths into target; the exit status: 2 when a file cannot be
    read or target is no file the viewer writes (told in one line on standard error), 1
    when the write failed, 0 once the file is there, whole."""
    try:
        for path in paths:
            check_file(path)
        export = Export(paths, target)
    except PathError as error:
        return _fail(error, EXIT_BAD_INPUT)
    outcome = export.run()
    if outcome.message is not None:
        return _fail(outcome.message, outcome.status)
    print(f"{PROG}: wrote {shown(target)} ({export.kind})")
    return EXIT_OK
