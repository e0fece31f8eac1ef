"""The failure guard: what a failing operation writes, and what it lets through."""

import logging
import sys
import traceback
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
    # The traceback starts at the host's calling line, then the context's own raise.
    caller, raised = traceback.extract_tb(error.__traceback__)
    assert (caller.filename, caller.name) == (__file__, "test_record_carries_template_error_and_traceback")
    assert caller.line == 'assert failing.display_shape(make_box(), "box") is None'
    assert raised.filename.endswith("doubles.py")
    text = logging.Formatter().format(record)
    assert text.count("Traceback (most recent call last)") == 1 and "context refused" in text


def test_an_error_of_the_service_itself_has_the_callers_line_as_its_traceback(service, errors):
    def host_calls():
        service.set_background_color("red")

    host_calls()
    (record,) = errors.records
    (caller,) = traceback.extract_tb(record.exc_info[2])
    assert (caller.filename, caller.name, caller.line) == (
        __file__, "host_calls", 'service.set_background_color("red")')
    assert (record.pathname, record.funcName) == (__file__, "host_calls")


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


def test_handled_exception_is_left_as_found_in_an_except_block(failing, make_box, errors):
    seen = []

    class Spy:
        def error(self, *args, **kwargs):
            seen.append(sys.exception())

    try:
        raise KeyError("outer")
    except KeyError as outer:
        failing.display_shape(make_box(), "box")
        assert sys.exception() is outer  # noqa: PT017 - the handled exception is under test
        scenard.logger, saved = Spy(), scenard.logger
        try:
            failing.display_shape(make_box(), "box")
        finally:
            scenard.logger = saved
        assert sys.exception() is outer  # noqa: PT017 - the handled exception is under test
    assert sys.exception() is None
    assert isinstance(seen[0], Boom) and len(errors.records) == 1


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
        raise  # noqa: PLE0704 - re-raises what is handled now: nothing

    async def coroutine():
        failing.display_shape(make_box(), "box")
        seen = sys.exception()
        await _suspend()
        return seen, sys.exception()

    gen, coro = generator(), coroutine()
    try:
        raise KeyError("outer")
    except KeyError as outer:
        assert next(gen) is outer  # noqa: PT017 - the handled exception is under test
        coro.send(None)
    assert next(gen) is None
    with pytest.raises(StopIteration) as stopped:
        coro.send(None)
    seen, after = stopped.value.value
    assert isinstance(seen, KeyError) and after is None
    with pytest.raises(RuntimeError, match="No active exception"):
        next(gen)
    assert len(errors.records) == 2
