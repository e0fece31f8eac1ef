"""Entry point: ``python -m morvik_viewer`` and the ``morvik-viewer`` command."""

import sys

from morvik_viewer.cli import main

if __name__ == "__main__":
    sys.exit(main())
