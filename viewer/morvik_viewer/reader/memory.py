"""How much memory a reader may take: a file that expands past it (a small file of many
fine curved parts, say) is told as too large rather than let push the machine into swap.

By default a read may take half the machine's memory beyond what the reader holds when
asked (OCP's own, about 200 MB); the settings' reader/memory_mb sets another bound. The
bound is the process's data limit (RLIMIT_DATA, which Linux counts over every private
writable mapping: the heap and what malloc maps), so OCCT's allocations fail past it and
the reader says why. Elsewhere than Linux no bound is set.

The cores it runs on can be bounded too (the settings' reader/cores, --reader-cores),
for a machine that must stay responsive to other work while a large file opens.
"""

import os
import resource
import sys

SHARE = 0.5  # of the machine's memory a read may take, unless the settings say otherwise
# What OCCT and Python say as they run out.
_SIGNS = ("OutOfMemory", "bad_alloc", "Standard_OutOfMemory")


def machine_bytes():
    """The machine's memory in bytes (0 when it cannot be told)."""
    try:
        return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (ValueError, OSError, AttributeError):
        return 0


def default_bytes():
    return int(machine_bytes() * SHARE)


def _data_bytes():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmData:"):
                return int(line.split()[1]) * 1024
    raise OSError("no VmData")


def bound(extra):
    """Caps this process's data at what it holds now plus extra bytes; whether it did."""
    if not sys.platform.startswith("linux") or not isinstance(extra, int) or extra <= 0:
        return False
    try:
        _, hard = resource.getrlimit(resource.RLIMIT_DATA)
        soft = _data_bytes() + extra
        if hard != resource.RLIM_INFINITY:
            soft = min(soft, hard)
        resource.setrlimit(resource.RLIMIT_DATA, (soft, hard))
    except (OSError, ValueError):
        return False
    return True


def use_cores(count):
    """Keeps this process (and the threads it starts from now on: OCCT sizes its thread
    pool by the cores it may use) to the first count of the cores it may run on."""
    if not hasattr(os, "sched_setaffinity") or not isinstance(count, int) or count <= 0:
        return
    try:
        allowed = sorted(os.sched_getaffinity(0))
        os.sched_setaffinity(0, allowed[:count])
    except OSError:
        pass  # a machine that will not say: all of them


def ran_out(error):
    """Whether error says the memory ran out (Python's MemoryError, OCCT's or C++'s own)."""
    return isinstance(error, MemoryError) or any(sign in f"{type(error).__name__} {error}"
                                                 for sign in _SIGNS)


def too_large(extra):
    """Why a file could not be read within extra bytes, in words for the user."""
    size = f"{extra / (1 << 30):.1f} GB" if extra >= 1 << 30 else f"{extra >> 20} MB"
    return (f"too large to read within the reader's memory bound of {size} "
            "(the settings' reader/memory_mb raises it)")
