"""Reading colours in tests: rendered pictures, presentations and views, and expected pixels."""

import math

from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB, Quantity_TOC_sRGB
from PySide6.QtGui import QImage


class Picture:
    """A rendered PNG, its pixels as (r, g, b) rows."""

    def __init__(self, path):
        image = QImage(str(path))
        assert not image.isNull(), f"{path} is not a readable image"
        self.size = (image.width(), image.height())
        self.rows = [[image.pixelColor(x, y).getRgb()[:3] for x in range(image.width())]
                     for y in range(image.height())]

    def pixels(self):
        for y, row in enumerate(self.rows):
            for x, rgb in enumerate(row):
                yield x, y, rgb

    def background(self, y):
        # The background is a vertical gradient: read it off the right edge, away from
        # the trihedron in the lower left corner.
        return self.rows[y][-1]

    def is_shape(self, x, y):
        return max(abs(a - b) for a, b in zip(self.rows[y][x], self.background(y))) > 12

    def shape_share(self):
        hits = sum(self.is_shape(x, y) for x, y, _ in self.pixels())
        return hits / (self.size[0] * self.size[1])


def rgb(color):
    """(red, green, blue) of a Quantity_Color, or of the colour a presentation is drawn in."""
    if not isinstance(color, Quantity_Color):
        presentation, color = color, Quantity_Color()
        presentation.Color(color)
    return (color.Red(), color.Green(), color.Blue())


def dark(rgb):
    return max(rgb) < 50


def srgb8(linear_rgb):
    """The 8-bit pixel OCCT writes for a colour given as linear RGB (Quantity_TOC_RGB)."""
    return [round(v * 255) for v in Quantity_Color(*linear_rgb, Quantity_TOC_RGB).Values(Quantity_TOC_sRGB)]


def near(rgb, expected, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, expected))


def hue_and_level(pixel, linear_rgb):
    """How an 8-bit pixel compares with a colour given as linear RGB: the angle in degrees
    between the two as RGB vectors (0 for the same hue and saturation), and its brightness
    as a share of the colour's."""
    seen = Quantity_Color(*(v / 255 for v in pixel), Quantity_TOC_sRGB).Values(Quantity_TOC_RGB)
    def length(v):
        return math.sqrt(sum(c * c for c in v))
    product = sum(a * b for a, b in zip(seen, linear_rgb))
    cosine = product / max(length(seen) * length(linear_rgb), 1e-12)
    return math.degrees(math.acos(min(1.0, cosine))), length(seen) / length(linear_rgb)


def view_pixels(view, size=(400, 300)):
    """What the view shows at `size`, as an array of 8-bit (r, g, b), rows from the top."""
    import tempfile

    import numpy
    from OCP.Image import Image_AlienPixMap
    from OCP.TCollection import TCollection_AsciiString
    from PySide6.QtGui import QImage

    pixmap = Image_AlienPixMap()
    assert view.ToPixMap(pixmap, *size)
    with tempfile.TemporaryDirectory() as folder:
        path = f"{folder}/view.png"
        assert pixmap.Save(TCollection_AsciiString(path))
        image = QImage(path).convertToFormat(QImage.Format_RGB888)
    width, height = image.width(), image.height()
    rows = numpy.frombuffer(image.constBits(), numpy.uint8).reshape(height, image.bytesPerLine())
    return rows[:, :width * 3].reshape(height, width, 3).astype(int)
