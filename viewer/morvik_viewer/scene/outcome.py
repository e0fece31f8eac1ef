"""How a scene's load ended, as the window hears it (see scene.loading)."""

from dataclasses import dataclass, field


@dataclass
class LoadOutcome:
    """How a load ended.

    state: "done"; "stopped" (Cancel once the first parts had arrived, while
    clearing or showing: the reader is ended and the scene holds what was left
    of the old one and the shapes shown so far, all registered); "cancelled"
    (Cancel before any part arrived: the scene is as it was); "failed"
    (message says why, on one line; the scene is as it was when the reader
    failed before sending any part, else it holds what was left and what was
    shown, all registered, as after an error of ours while clearing or
    showing). units holds the length unit of each part the reader sent with one
    (see model.parts.Part.unit), by identifier.
    """

    paths: list
    state: str
    message: str = ""
    shown: list = field(default_factory=list)
    units: dict = field(default_factory=dict)
    # Each file's tree (model.file_tree.FileTree) the reader sent; a file without one is left out.
    trees: list = field(default_factory=list)
    # When the final frame was drawn (time.time()), before the shapes were made pickable.
    drawn_at: float | None = None
