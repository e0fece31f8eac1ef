"""Entry point: ``python -m morvik.demo`` and the ``morvik-viewer`` command."""

import sys

from morvik.demo.cli import main

if __name__ == "__main__":
    sys.exit(main())
