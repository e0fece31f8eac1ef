"""An exploded view, as numbers: how far it goes (a percentage), and how far each part moves.

Each part moves away from the scene's centre along the line from that centre to
its own, by that distance times the percentage: at FULL (100%) every part stands
twice as far from the centre as it did, so the assembly spreads to about twice
its size; at 0 nothing moves. Centres are those of bounding boxes, in the model's
frame (see view.explode for where they come from). No Qt and no OCP here: the
command line checks --explode with it before either loads.
"""

from numbers import Real

FULL = 100.0  # percent: each part moved by its centre's distance from the scene's


def percent(value):
    """value as a percentage from 0 to FULL, a float; TypeError for what is no number (a
    bool neither), ValueError for one outside that range (NaN too)."""
    if isinstance(value, bool) or not isinstance(value, Real):
        raise TypeError(f"the explosion must be a number from 0 to {FULL:g}, not {value!r}")
    value = float(value)
    if not 0.0 <= value <= FULL:
        raise ValueError(f"the explosion must be a number from 0 to {FULL:g}, not {value!r}")
    return value


def box_centre(low, high):
    """The centre of the box from corner low to corner high (x, y, z triples)."""
    return tuple((a + b) / 2.0 for a, b in zip(low, high))


def direction(centre, scene_centre):
    """What a part centred at centre moves by at FULL: its centre's offset from the scene's."""
    return tuple(c - s for c, s in zip(centre, scene_centre))
