"""Recording doubles: stand-ins for OCCT objects that write down every call.

A Recorder either answers calls itself (returning None, or what a test put in
`returns`) or forwards them to a real object, so the real effect happens and
the call order can still be checked.
"""


class Recorder:
    # Reads by which the service finds what it keeps in the context (its
    # selection-mode filter, the view cube): forwarded, not recorded.
    UNRECORDED = frozenset({"Filters", "DisplayedObjects"})

    def __init__(self, target=None, *, returns=None, raises=None):
        object.__setattr__(self, "calls", [])
        object.__setattr__(self, "_target", target)
        object.__setattr__(self, "returns", dict(returns or {}))
        object.__setattr__(self, "raises", dict(raises or {}))

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)

        def method(*args, **kwargs):
            if name not in self.UNRECORDED:
                self.calls.append((name, args, kwargs) if kwargs else (name, args))
            if name in self.raises:
                error = self.raises[name]
                raise error() if isinstance(error, type) else error
            if name in self.returns:
                value = self.returns[name]
                return value(*args) if callable(value) and not isinstance(value, Recorder) else value
            if self._target is not None:
                return getattr(self._target, name)(*args, **kwargs)
            return None

        return method

    def names(self):
        """Names of the calls made, in order."""
        return [call[0] for call in self.calls]

    def count(self, name):
        return self.names().count(name)


class Incomparable:
    """A value whose every comparison raises (its hash stays the default)."""

    def __eq__(self, other):
        raise ValueError("cannot compare")

    __hash__ = object.__hash__


def unordered(calls):
    """Calls whose order is no part of the behaviour, in an order of their own for comparing."""
    return sorted(calls, key=repr)


# Context calls whose last argument asks OCCT to update the viewer at once.
_UPDATING_CALLS = {
    "Display", "Erase", "Remove", "RemoveAll", "Redisplay", "SetDisplayMode",
    "ClearSelected", "AddOrRemoveSelected",
}


def viewer_updates(recorder):
    """How many times the recorded context calls updated the viewer."""
    return sum(
        1 for call in recorder.calls
        if call[0] == "UpdateCurrentViewer"
        or (call[0] in _UPDATING_CALLS and call[1] and call[1][-1] is True)
    )
