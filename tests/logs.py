"""Checks on the records the service writes through its logger."""

LOGGER = "morvik.services.scenard"


def service_records(caplog):
    return [record for record in caplog.records if record.name == LOGGER]


def one_record(caplog, level, template, traceback=True):
    """The one record written, by the service: at `level`, with `template`, and
    with the traceback of the error it names or (traceback=False) without any.
    Returns that error."""
    records = caplog.records
    assert len(records) == 1, [(record.name, record.getMessage()) for record in records]
    (record,) = records
    assert (record.name, record.levelname, record.msg) == (LOGGER, level, template)
    if traceback:
        assert record.exc_info and record.exc_info[1] is record.args[0]
        assert record.exc_info[2] is not None
    else:
        assert not record.exc_info
    return record.args[0]


def one_error(caplog, template):
    """The one record written: at level error, with `template` and the traceback."""
    return one_record(caplog, "ERROR", template)
