"""File ▸ Save Image: what the view shows, into a PNG or JPEG file, at the view's size or
another one chosen in a small dialog."""

import os
from pathlib import Path

from PySide6.QtWidgets import (
    QDialog,
    QDialogButtonBox,
    QFileDialog,
    QFormLayout,
    QHBoxLayout,
    QLineEdit,
    QPushButton,
    QSpinBox,
    QWidget,
)

SUFFIXES = (".png", ".jpg", ".jpeg")
FILTERS = "PNG image (*.png);;JPEG image (*.jpg *.jpeg)"
DEFAULT_NAME = "view.png"  # for a scene of no file
# Past this many pixels a side, software OpenGL runs out of framebuffer (or memory).
MAX_SIDE = 8192


class ImageError(Exception):
    """The image could not be saved; the message is meant for the user."""


def proposed_path(files, image_folder="", open_folder=""):
    """Where Save Image proposes to save: in image_folder (where an image was saved last),
    else beside the first of files (the scene's), else in open_folder (the open dialog's
    last), else in the home folder; named after that file (part.png for part.step)."""
    name = Path(files[0]).stem + ".png" if files else DEFAULT_NAME
    beside = os.path.dirname(os.path.abspath(files[0])) if files else ""
    for folder in (image_folder, beside, open_folder):
        try:
            if folder and Path(folder).is_dir():
                return str(Path(folder) / name)
        except (OSError, ValueError):  # a name too long, or holding a NUL
            pass
    return str(Path.home() / name)


class SaveImageDialog(QDialog):
    """Where to save the image and at what size, the view's device size by default."""

    def __init__(self, size, path, parent=None):
        """path is the file proposed (see proposed_path)."""
        QDialog.__init__(self, parent)
        self.setWindowTitle("Save Image")
        self.path_edit = QLineEdit(os.fspath(path))
        browse = QPushButton("&Browse…")
        browse.clicked.connect(self._browse)
        path_row = QWidget()
        row = QHBoxLayout(path_row)
        row.setContentsMargins(0, 0, 0, 0)
        row.addWidget(self.path_edit, 1)
        row.addWidget(browse)
        self.width_box, self.height_box = QSpinBox(), QSpinBox()
        for box, value in zip((self.width_box, self.height_box), size):
            box.setRange(1, MAX_SIDE)
            box.setSuffix(" px")
            box.setValue(int(value))
        buttons = QDialogButtonBox(QDialogButtonBox.Save | QDialogButtonBox.Cancel)
        buttons.accepted.connect(self.accept)
        buttons.rejected.connect(self.reject)
        form = QFormLayout(self)
        form.addRow("&File:", path_row)
        form.addRow("&Width:", self.width_box)
        form.addRow("&Height:", self.height_box)
        form.addRow(buttons)

    def path(self):
        return self.path_edit.text().strip()

    def image_size(self):
        return (self.width_box.value(), self.height_box.value())

    def _browse(self):
        path, _ = QFileDialog.getSaveFileName(self, "Save Image", self.path(), FILTERS)
        if path:
            self.path_edit.setText(path)
