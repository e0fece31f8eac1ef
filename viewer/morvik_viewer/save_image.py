"""File ▸ Save Image: what the view shows, into a PNG or JPEG file, at the view's size or
another one chosen in a small dialog."""

from pathlib import Path

from PySide6.QtWidgets import (QDialog, QDialogButtonBox, QFileDialog, QFormLayout, QHBoxLayout,
                               QLineEdit, QPushButton, QSpinBox, QWidget)

from morvik_viewer.paths import PathError, one_line, shown

SUFFIXES = (".png", ".jpg", ".jpeg")
FILTERS = "PNG image (*.png);;JPEG image (*.jpg *.jpeg)"
DEFAULT_NAME = "view.png"
# Past this many pixels a side, software OpenGL runs out of framebuffer (or memory).
MAX_SIDE = 8192


class ImageError(Exception):
    """The image could not be saved; the message is meant for the user."""


def save_view_image(view, path, size):
    """Writes what view shows at size (width, height) to path, a .png, .jpg or .jpeg file
    (a name without an ending gets .png); returns the path written, else ImageError."""
    from morvik_viewer.screenshot import ScreenshotError, write_image

    path = Path(path)
    if not path.name:
        raise ImageError("No file name given")
    if not path.suffix:
        path = path.with_name(path.name + ".png")
    if path.suffix.lower() not in SUFFIXES:
        raise ImageError(f"{shown(path)}: images are saved as PNG (.png) or JPEG (.jpg)")
    try:
        width, height = (int(side) for side in size)
    except (TypeError, ValueError):
        raise ImageError(f"Not an image size: {size!r}") from None
    if not (0 < width <= MAX_SIDE and 0 < height <= MAX_SIDE):
        raise ImageError(f"An image is 1 to {MAX_SIDE} pixels a side, not {width}x{height}")
    try:
        folder = path.parent.is_dir()
    except (OSError, ValueError):  # a name too long, or holding a NUL
        folder = False
    if not folder:
        raise ImageError(f"{shown(path)}: the folder does not exist")
    try:
        return write_image(view, path, (width, height))
    except (ScreenshotError, PathError) as error:
        raise ImageError(str(error)) from None
    except Exception as error:  # noqa: BLE001 - OCCT's own failures, whatever their class
        raise ImageError(f"{shown(path)}: cannot save the image ({one_line(error)})") from None


class SaveImageDialog(QDialog):
    """Where to save the image and at what size, the view's device size by default."""

    def __init__(self, size, folder="", parent=None):
        QDialog.__init__(self, parent)
        self.setWindowTitle("Save Image")
        self.path_edit = QLineEdit(str(Path(folder or ".") / DEFAULT_NAME))
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
