"""Fitting the view to what is shown, with a margin, and clear of the view cube's corner."""

import logging

from OCP.Aspect import Aspect_TypeOfTriedronPosition

from morvik_viewer.view.view_cube import find_view_cube

# Under the name its records have always carried: a log's filters may hold it.
logger = logging.getLogger("morvik_viewer.viewer")


# Room left around the scene by a fit, as a share of the view.
FIT_MARGIN = 0.08


def fit_view(service, margin=FIT_MARGIN):
    """Fits the view to what is shown, leaving a margin around it and the view cube's
    corner free when it shows, and repaints once."""
    view = service.get_view()
    try:
        view.FitAll(margin, False)
        cube = find_view_cube(service.get_context())
        if cube is not None:
            try:
                clear_corner(view, cube_corner(view, cube), margin)
            except Exception:
                logger.debug("cannot keep the fit out of the view cube's corner", exc_info=True)
        view.ZFitAll()
    except Exception:  # OCCT refuses a view without a window or an empty one with its own errors
        logger.debug("cannot fit the view", exc_info=True)
        return
    service.redraw()


# How far the view cube reaches from its corner, in cube sides beyond its centre's
# offset: measured at 0.93 for 75- and 120-pixel cubes, 1.05 for a 40-pixel one (its
# axes' labels), so one side.
CUBE_REACH = 1.0


def cube_corner(view, cube):
    """(left, bottom, reach) of the corner the view cube takes: whether it is on the
    left and at the bottom, and how far from that corner it reaches, in pixels."""
    persistence = cube.TransformPersistence()
    corner = int(persistence.Corner2d())
    offset = max(persistence.Offset2d().x(), persistence.Offset2d().y())
    reach = (offset + CUBE_REACH * cube.Size()) * view.RenderingParams().ResolutionRatio()
    return (bool(corner & int(Aspect_TypeOfTriedronPosition.Aspect_TOTP_LEFT)),
            bool(corner & int(Aspect_TypeOfTriedronPosition.Aspect_TOTP_BOTTOM)), reach)


def clear_corner(view, corner, margin=FIT_MARGIN):
    """Moves (and shrinks, if need be) a view just fitted so that the box of what it shows
    keeps out of corner (see cube_corner): into the band beside the corner or the one
    above or below it, whichever shows it larger, moved as little as it can be."""
    left, bottom, reach = corner
    width, height = view.Window().Size()
    box = view.View().MinMaxValues(False)  # the scene's, without the cube or the trihedron
    if box.IsVoid() or width <= 0 or height <= 0:
        return
    low, high = box.CornerMin(), box.CornerMax()
    points = [view.Convert(x, y, z) for x in (low.X(), high.X()) for y in (low.Y(), high.Y())
              for z in (low.Z(), high.Z())]
    x0, x1 = min(p[0] for p in points), max(p[0] for p in points)
    y0, y1 = min(p[1] for p in points), max(p[1] for p in points)  # pixels, y down
    cx0, cx1 = (0, reach) if left else (width - reach, width)
    cy0, cy1 = (height - reach, height) if bottom else (0, reach)
    if _apart(_hull(points), [(cx0, cy0), (cx1, cy0), (cx1, cy1), (cx0, cy1)]):
        return  # clear already (a box seen from a corner covers far less than its bounds)
    pad = margin * min(width, height) / 2
    bands = [((reach, width) if left else (0, width - reach), (0, height)),  # beside it
             ((0, width), (0, height - reach) if bottom else (reach, height))]  # over it
    size = max(x1 - x0, 1), max(y1 - y0, 1)

    def scale(band):
        return min(1.0, *((b - a - 2 * pad) / s for (a, b), s in zip(band, size)))

    band = max(bands, key=scale)
    shrink = scale(band)
    if shrink <= 0:
        return  # a view too small to hold both: the fit stands
    # Shrunk about the view's centre, then moved into the band as little as it takes.
    centre = width / 2, height / 2
    moves = []
    for (a, b), (p0, p1), c in zip(band, ((x0, x1), (y0, y1)), centre):
        p0, p1 = c + shrink * (p0 - c), c + shrink * (p1 - c)
        moves.append(max(0.0, a + pad - p0) - max(0.0, p1 - (b - pad)))
    if shrink < 1.0:
        view.SetZoom(shrink, True)
    # Pan moves the scene right and up by pixels: the screen's y runs down.
    view.Pan(round(moves[0]), -round(moves[1]), 1.0, True)


def _hull(points):
    """The convex hull of points (x, y), counter-clockwise (Andrew's monotone chain)."""
    points = sorted(set(points))
    if len(points) < 3:
        return points

    def half(ordered):
        chain = []
        for p in ordered:
            while len(chain) >= 2 and _cross(chain[-2], chain[-1], p) <= 0:
                chain.pop()
            chain.append(p)
        return chain[:-1]

    return half(points) + half(reversed(points))


def _cross(o, a, b):
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])


def _apart(first, second):
    """Whether two convex polygons (lists of corners) share no inner point: some edge's
    normal separates them."""
    for polygon in (first, second):
        for a, b in zip(polygon, polygon[1:] + polygon[:1]):
            normal = (a[1] - b[1], b[0] - a[0])
            if normal == (0, 0):
                continue
            ends = [[n[0] * normal[0] + n[1] * normal[1] for n in p] for p in (first, second)]
            if max(ends[0]) <= min(ends[1]) or max(ends[1]) <= min(ends[0]):
                return True
    return False
