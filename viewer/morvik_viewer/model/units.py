"""Lengths, areas and volumes as the viewer shows them: in the scene's one unit, with their digits.

OCCT reads every file in millimetres; a file says which unit it was drawn in
(see step_reader.length_unit). The measure panel, its labels and the section
panel all show lengths through quantity() here, in the unit of the scene
(scene_unit): the same unit everywhere, named beside every value. No OCP here:
the window imports it before OCP has loaded.
"""

import math

# The length unit of BREP files and of STEP files in millimetres or naming none:
# (short name, millimetres in one).
MILLIMETRES = ("mm", 1.0)
# Significant digits a value keeps at least, in any unit: a 4.0386 mm diameter in a
# file in metres reads 0.0040386 m, not 0.004 m.
SIGNIFICANT = 5
# The finest step shown, in millimetres (square or cubic ones for areas and volumes),
# whatever the unit: 0.1 µm, finer than the 1 µm a model's usual tolerance allows.
STEP_MM = 1e-4
# Beyond these powers of ten a value is written as 1.2346e+14: never a row of digits.
SMALLEST, LARGEST = -4, 12
# OCCT bounds what has no end at 2e100 mm (Precision::Infinite): a length, an area or a
# volume from 1e100 on measures something endless, such as an infinite plane.
INFINITE = 1e100
# The most digits a value shows: more than a double holds would be noise.
MOST_DIGITS = 15
POWERS = {2: "²", 3: "³"}


def length_unit(unit):
    """unit when it is a (short name, millimetres in one) pair, else millimetres."""
    if isinstance(unit, (list, tuple)) and len(unit) == 2 and isinstance(unit[0], str) \
            and isinstance(unit[1], (int, float)) and not isinstance(unit[1], bool) \
            and 0 < unit[1] < float("inf"):
        return (unit[0], float(unit[1]))
    return MILLIMETRES


def scene_unit(units, shape_ids):
    """The one unit a scene's lengths show in: the unit of the files of all its shapes
    (shape_ids) when they share one, else millimetres. units gives the unit of each
    shape not in millimetres, by identifier."""
    units = units if isinstance(units, dict) else {}
    found = {length_unit(units.get(shape_id, MILLIMETRES)) for shape_id in shape_ids}
    return found.pop() if len(found) == 1 else MILLIMETRES


def figures(x, step):
    """x as text, to step (the finest difference worth showing) and to SIGNIFICANT
    significant digits at least, trailing zeros dropped; "infinite" or "undefined" for a
    value that is no number."""
    if x != x:
        return "undefined"
    if abs(x) == math.inf:
        return "infinite"
    if x == 0.0:
        return "0"
    magnitude = math.floor(math.log10(abs(x)))
    decimals = max(SIGNIFICANT - 1 - magnitude, -math.floor(math.log10(step)), 0)
    if SMALLEST <= magnitude < LARGEST:
        text = f"{x:.{min(decimals, MOST_DIGITS - 1 - magnitude)}f}"
        text = text.rstrip("0").rstrip(".") if "." in text else text
        return "0" if text in ("-0", "0") else text
    mantissa, exponent = f"{x:.{min(max(decimals + magnitude, 0), MOST_DIGITS - 1)}e}".split("e")
    mantissa = mantissa.rstrip("0").rstrip(".") if "." in mantissa else mantissa
    return f"{mantissa}e{exponent}"


def number(amount, unit=MILLIMETRES, power=1):
    """amount, in millimetres to the power given (1 a length, 2 an area, 3 a volume), as
    a number of unit (short name, millimetres in one) to that power, in text; power 0:
    a plain number (degrees). At or beyond INFINITE: "infinite"."""
    amount = float(amount)
    if power and abs(amount) >= INFINITE:
        return "infinite"
    scale = length_unit(unit)[1] ** power
    return figures(amount / scale, STEP_MM / scale if power else STEP_MM)


def quantity(amount, unit=MILLIMETRES, power=1):
    """amount (see number) with its unit: "4.0386 mm", "2 inch²"; "infinite" alone."""
    text = number(amount, unit, power)
    if text in ("infinite", "undefined"):
        return text
    return f"{text} {length_unit(unit)[0]}{POWERS.get(power, '')}"
