"""An export from the caller's side, the command line's or the window's: the target
checked, a folder of its own made beside it (model.exports.Staging), a reader asked to
read the files and write them there (cad.export, in the reader), then the file put in
place; or why not, in one line, with the exit status the command line gives for it.

The reader writes, never this process: OCCT holds Python's lock for a whole write, and
a writer can crash as a reader can. Whatever happens to the reader (a failure, a crash,
a kill past the time limit, an export dropped unfinished), the folder goes and nothing
stands under the target's name but what was there before, or the whole new file.
"""

import weakref
from dataclasses import dataclass

from morvik_viewer.model.exports import Staging, check_target
from morvik_viewer.model.paths import shown
from morvik_viewer.model.writing import WriteError
from morvik_viewer.reader.client import Reader, TooLong

# The exit statuses of an export: the target's name or a file read at fault, or the
# write itself failed (as app.base numbers them).
BAD_INPUT, WRITE_FAILED = 2, 1


@dataclass
class Outcome:
    """How an export ended: message is None when the file is in place, whole."""

    message: str | None = None
    status: int = 0


class Export:
    """One export of paths (the parts named ids alone, when given) into target, of the kind
    its name asks for. Started at once; a run without an event loop waits with run(), an
    event loop watches watch() and calls receive() till over, then finish(). Dropped or
    cancelled unfinished, its reader is killed and its folder removed."""

    def __init__(self, paths, target, ids=None):
        """PathError, naming target, when it names no file the viewer can write there."""
        self.target = target
        self.kind = check_target(target)
        staging = Staging(target)
        self._dropped = weakref.finalize(self, staging.drop)
        self._staging = staging
        self._reader = Reader(fork=False)  # this process has no OCP to fork with
        self._reader.ask(paths, export={"into": str(staging.path), "target": shown(target)},
                         ids=None if ids is None else list(ids))
        self._outcome = None

    def watch(self):
        """The descriptor an event loop watches (see reader.client.Reader.watch)."""
        return self._reader.watch()

    def receive(self):
        """Takes what the reader said since (without waiting, once watched)."""
        self._reader.receive()

    @property
    def over(self):
        return self._reader.over

    def run(self):
        """Waits for the reader to end (TIME_LIMIT each stage, see reader.client), then
        puts the file in place; the Outcome."""
        try:
            for _ in self._reader.hear():
                pass
        except TooLong as error:
            return self._end(Outcome(str(error), self._failed_status()))
        return self.finish()

    def finish(self):
        """Once over: the file put in place, or why not; the Outcome (the same each call)."""
        if self._outcome is not None:
            return self._outcome
        reader = self._reader
        reader.end()
        failure = reader.failure()
        if failure is not None:
            return self._end(Outcome(failure, self._failed_status()))
        try:
            self._staging.put_in_place()
        except WriteError as error:
            return self._end(Outcome(str(error), WRITE_FAILED))
        return self._end(Outcome())

    def cancel(self):
        """Ends the reader and drops what it wrote; nothing is put in place."""
        if self._outcome is None:
            self._end(Outcome(f"{shown(self.target)}: export cancelled", WRITE_FAILED))

    def _failed_status(self):
        # Before the reader told it writes: the files (or the target's kind) were at fault.
        heard = self._reader.heard
        started = self._reader.status != "it could not start"
        return WRITE_FAILED if heard.writing or not started else BAD_INPUT

    def _end(self, outcome):
        self._reader.end()
        self._dropped()  # the folder, with whatever is left in it
        self._outcome = outcome
        return outcome

