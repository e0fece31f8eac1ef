"""The window's reader for its next open, started ahead of need (see reader.client)."""

import os

from morvik_viewer.reader.client import Reader


class ReaderPool:
    """One reader kept started ahead of need, so that an open pays no process start.

    prepare() starts one when there is none; take() hands it over, asked for
    the files (or a new one, when it is not there, has died, or was asked for
    other files), and leaves the pool empty: the owner prepares the next one
    once the machine is quiet again, rather than while the last one reads.
    The reader ends with the owner, a QObject, when Qt destroys it.
    """

    def __init__(self, owner=None):
        self._spare = None
        if owner is not None:
            owner.destroyed.connect(self.close)

    def prepare(self):
        if self._spare is None:
            self._spare = Reader()

    def adopt(self, reader):
        """Keeps reader, started elsewhere (the command line's, for the first files), as
        the spare."""
        self.close()
        self._spare = reader

    def take(self, paths):
        """A reader asked for paths, for the caller to hear and end."""
        reader, self._spare = self._spare, None
        paths = [os.fspath(p) for p in paths]
        if reader is not None and (reader.asked == paths
                                   or (reader.asked is None and reader.running)):
            if reader.asked is None:
                reader.ask(paths)
            return reader
        if reader is not None:
            reader.end()
        return Reader(paths, fork=False)

    def close(self, *_):
        reader, self._spare = self._spare, None
        if reader is not None:
            reader.end()
