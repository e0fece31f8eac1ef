"""Which axis of a model points up on screen: Z for most CAD and EDA files, or Y.

The service's standard views are Y-up: "Top" looks down -Y. Under Z-up the
viewer turns each shape's presentation (never the shape) by the rotation that
takes +Z to +Y, so a board lies face up in "Top" and shows its front edge in
"Front". The registry keeps the file's own shapes; picking, highlighting,
fits and standard views all follow the presentations. A camera, though, lives
in the turned frame, so a saved view records the axis it was saved under
(see view_state). The view's trihedron draws the view's axes: under Z-up its
arrows are named (and coloured) after the model axes they show, X, Z and -Y.

OCP loads only when shapes are turned: the window imports this module before it.
"""

import re

Z_UP, Y_UP = "z", "y"
AXES = (Z_UP, Y_UP)
DEFAULT = Z_UP

# Authoring systems that model Y-up by default, as a STEP header names them (its
# FILE_NAME's originating system or preprocessor version): SolidWorks ("SolidWorks
# 2021", "SwSTEP 2.0": its Top plane is XZ), PTC Creo and Pro/ENGINEER (their TOP
# datum plane is XZ) and Autodesk Inventor (Y up in its standard templates).
# Onshape, CATIA, NX, Solid Edge, FreeCAD and the EDA tools (KiCad, Altium, Eagle)
# model Z-up. Fusion 360 writes "Autodesk Translation Framework", as other Autodesk
# translators do, and its models come either way: it tells nothing.
_Y_UP_SYSTEMS = re.compile(r"(?i)solid\s*works|\bswstep\b|\bcreo\b|pro\s*/\s*engineer"
                           r"|autodesk inventor")


def checked(up, default=DEFAULT):
    """up when it names an axis, else default: settings and files may hold anything."""
    return up if isinstance(up, str) and up in AXES else default


def authored_up(*said):
    """Y_UP when a header's text (see step_reader.Header) names an authoring system that
    models Y-up, else None: the file says nothing of its up axis."""
    return Y_UP if any(isinstance(text, str) and _Y_UP_SYSTEMS.search(text)
                       for text in said) else None


def files_up(trees):
    """The up axis every file of trees (model.file_tree.FileTree) says it has, through its
    authoring system or its format; None when one says none or they differ."""
    said = {getattr(tree, "up", None) for tree in trees}
    return said.pop() if len(said) == 1 and None not in said else None


def to_view(up, xyz):
    """Where the model point (or direction) xyz lies in the view's frame under up."""
    x, y, z = xyz
    return (x, z, -y) if up == Z_UP else (x, y, z)


def from_view(up, xyz):
    """The model point (or direction) shown at xyz of the view's frame under up."""
    x, y, z = xyz
    return (x, -z, y) if up == Z_UP else (x, y, z)
