"""The morvik viewer: a small host application around the view controls.

It builds the OCCT viewer, view and context, puts the viewer service and the
view toolbar on them, and shows a sample scene or CAD files. Run it with
``python -m morvik_viewer`` or the ``morvik-viewer`` command.
"""
