"""What the view shows, written into an image file (File ▸ Save Image)."""

from pathlib import Path

from morvik_viewer.model.paths import PathError, one_line, shown
from morvik_viewer.window.save_image import MAX_SIDE, SUFFIXES, ImageError
from morvik_viewer.window.screenshot import ScreenshotError, write_image


def save_view_image(view, path, size):
    """Writes what view shows at size (width, height) to path, a .png, .jpg or .jpeg file
    (a name without an ending gets .png); returns the path written, else ImageError."""
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
