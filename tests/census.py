"""A census of live Python objects and of resident memory, for leak checks."""

import gc
from collections import Counter


def live_objects():
    """Live objects the collector tracks, counted by type name."""
    gc.collect()
    return Counter(type(obj).__qualname__ for obj in gc.get_objects())


def baseline_objects():
    # The first census itself leaves a few objects behind for good (caches
    # the bindings fill on first sight of a type); take it twice.
    live_objects()
    return live_objects()


def grown(before, after, slack=10):
    """Types whose live count grew by more than `slack`: a leak of one object
    per cycle shows as thousands."""
    return {name: after[name] - before[name] for name in after if after[name] - before[name] > slack}


def live(kind):
    """How many objects of exactly this type are alive."""
    gc.collect()
    return sum(1 for obj in gc.get_objects() if type(obj) is kind)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096
