"""Entry point: ``python -m morvik_viewer`` and the ``morvik-viewer`` command."""

import sys

from morvik_viewer.app.cli import main

if __name__ == "__main__":
    sys.exit(main())
