"""The colours the viewer shows parts and its background in (linear RGB), worked out
without OCP: the reader process and the window before OCP loads use them too."""

import zlib

# What a part the file leaves uncoloured shows in: one light grey, as CAD viewers
# show such parts, so that no colour is taken for the file's own (linear RGB; 0.8
# in sRGB).
NEUTRAL = (0.6, 0.6, 0.6)
# The sample scene's colours, and on request (see fallback_color) those of parts
# the file leaves uncoloured, to tell them apart.
PALETTE = (
    (0.85, 0.33, 0.10),  # orange
    (0.00, 0.45, 0.74),  # blue
    (0.47, 0.67, 0.19),  # green
    (0.93, 0.69, 0.13),  # yellow
    (0.49, 0.18, 0.56),  # purple
    (0.30, 0.75, 0.93),  # cyan
    (0.64, 0.08, 0.18),  # dark red
)


def fallback_color(shape_id, palette=False):
    """The colour of a part the file leaves uncoloured: NEUTRAL, or with palette one of
    PALETTE's, the same for the same identifier however the parts are batched."""
    if not palette:
        return NEUTRAL
    key = shape_id.encode("utf-8", "surrogatepass") if isinstance(shape_id, str) else b""
    return PALETTE[zlib.crc32(key) % len(PALETTE)]


# Background: light steel blue at the top fading to a darker slate at the bottom.
GRADIENT_TOP = (0.62, 0.70, 0.80)
GRADIENT_BOTTOM = (0.16, 0.19, 0.24)


# Darkest a part is shown, as linear luminance. Files give black plastic as
# near-black (0.02 linear, say), which shading cannot lift off black: its faces
# all look alike. Lifted to this floor, a dark part shows its shape and still
# reads as black; brighter colours are shown as given.
LUMINANCE_FLOOR = 0.07
LUMINANCE_WEIGHTS = (0.2126, 0.7152, 0.0722)


def readable_color(rgb):
    """The colour to show a part in: rgb itself (the same object), or for a colour
    darker than LUMINANCE_FLOOR the colour lifted to it by adding grey, which keeps
    the differences between its channels. None (no colour) stays None.

    Anything that is not three numbers is given back as it came, for the service
    to judge.
    """
    try:
        red, green, blue = (float(v) for v in rgb)
    except (TypeError, ValueError):
        return rgb
    luminance = sum(w * v for w, v in zip(LUMINANCE_WEIGHTS, (red, green, blue)))
    if not luminance < LUMINANCE_FLOOR or min(red, green, blue) < 0.0:
        return rgb  # bright enough, or no colour (NaN, negative) the service would take
    lift = LUMINANCE_FLOOR - luminance
    return tuple(min(1.0, v + lift) for v in (red, green, blue))
