"""The OCCT view inside a Qt widget, as hosts embed it (see view.widget)."""

from morvik_viewer.view.widget import OcctViewWidget

__all__ = ["OcctViewWidget"]
