"""A census of live Python objects, of Qt widgets and of memory in use, for leak checks."""

import ctypes
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


def live_widgets():
    """The addresses of the widgets Qt has alive: a test compares them with its
    own baseline, so widgets earlier tests left behind do not count."""
    import shiboken6
    from PySide6.QtWidgets import QApplication

    return {shiboken6.getCppPointer(widget)[0] for widget in QApplication.allWidgets()}


def _sanitizer_heap_counter():
    # make sanitize preloads AddressSanitizer's runtime, whose quarantine holds
    # freed memory back from reuse, so resident memory grows by up to the
    # quarantine's size. The runtime's own count of live heap bytes leaves the
    # quarantine out, and with PYTHONMALLOC=malloc covers Python objects too.
    try:
        counter = ctypes.CDLL(None).__sanitizer_get_current_allocated_bytes
    except AttributeError:
        return None
    counter.restype = ctypes.c_size_t
    return counter


_sanitizer_heap = _sanitizer_heap_counter()

# How far memory in use may end above its baseline after a long run: live heap
# bytes are exact, resident memory also moves with the allocator's bookkeeping.
MEMORY_SLACK = 1.005 if _sanitizer_heap else 1.02


def memory_in_use():
    """Live heap bytes under AddressSanitizer, resident bytes otherwise."""
    if _sanitizer_heap is not None:
        return _sanitizer_heap()
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096
