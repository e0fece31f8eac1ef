"""The failure guard: what a failing operation writes, and what it lets through."""

import logging
import sys
import types

import pytest

from doubles import Recorder
from morvik.services import scenard
from morvik.services.scenard import Scenard


class Boom(Exception):
    pass


@pytest.fixture
def failing(scene):
    context = Recorder(scene.context, raises={"Display": Boom("context refused")})
    return Scenard(scene.view, scene.viewer, context)


def test_record_carries_template_error_and_traceback(failing, make_box, errors):
    assert failing.display_shape(make_box(), "box") is None
    (record,) = errors.records
    assert record.name == "morvik.services.scenard" and record.levelno == logging.ERROR
    assert record.msg == "Error displaying shape: %s"
    error = record.args[0]
    assert isinstance(error, Boom) and record.getMessage() == "Error displaying shape: context refused"
    assert record.exc_info == (Boom, error, error.__traceback__)
    # The record names the line that called the service, as a Python method's would.
    assert (record.pathname, record.funcName) == (__file__, "test_record_carries_template_error_and_traceback")
    text = logging.Formatter().format(record)
    assert "Traceback (most recent call last)" in text and "in display_shape" in text
    assert "context refused" in text


def test_logger_is_called_as_inside_an_except_block(failing, make_box, monkeypatch):
    seen = []

    class Spy:
        def error(self, *args, **kwargs):
            seen.append((args, kwargs, sys.exc_info()[1]))

    monkeypatch.setattr(scenard, "logger", Spy())
    failing.display_shape(make_box(), "box")
    ((args, kwargs, handled),) = seen
    assert args[0] == "Error displaying shape: %s" and isinstance(args[1], Boom)
    assert kwargs == {"exc_info": True}
    assert handled is args[1]
    assert sys.exc_info() == (None, None, None)


def test_module_logger_is_the_named_logger():
    assert scenard.logger is logging.getLogger("morvik.services.scenard")


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, GeneratorExit])
def test_interrupts_and_exit_requests_pass_through(scene, make_box, errors, error):
    context = Recorder(scene.context, raises={"Display": error})
    service = Scenard(scene.view, scene.viewer, context)
    with pytest.raises(error):
        service.display_shape(make_box(), "box")
    assert errors.records == []
    assert service.get_shape_count() == 0


def test_failing_logger_reaches_the_caller(failing, make_box, monkeypatch):
    class Broken:
        def error(self, *args, **kwargs):
            raise RuntimeError("handler broke")

    monkeypatch.setattr(scenard, "logger", Broken())
    with pytest.raises(RuntimeError, match="handler broke"):
        failing.display_shape(make_box(), "box")
    assert sys.exc_info() == (None, None, None)


@types.coroutine
def _suspend():
    yield


def test_handled_exception_is_left_as_found_in_generators_and_coroutines(failing, make_box, errors):
    # Run during an outer `except` block, each fails once and is resumed after
    # the block has ended: then nothing is being handled any more.
    def generator():
        failing.display_shape(make_box(), "box")
        yield sys.exception()
        yield sys.exception()
        raise  # re-raises what is handled now: nothing

    async def coroutine():
        failing.display_shape(make_box(), "box")
        seen = sys.exception()
        await _suspend()
        return seen, sys.exception()

    gen, coro = generator(), coroutine()
    try:
        raise KeyError("outer")
    except KeyError as outer:
        assert next(gen) is outer
        coro.send(None)
    assert next(gen) is None
    with pytest.raises(StopIteration) as stopped:
        coro.send(None)
    seen, after = stopped.value.value
    assert isinstance(seen, KeyError) and after is None
    with pytest.raises(RuntimeError, match="No active exception"):
        next(gen)
    assert len(errors.records) == 2
