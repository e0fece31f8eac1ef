"""Checks on the records the service writes through its logger."""

LOGGER = "morvik.services.scenard"


def service_records(caplog):
    return [record for record in caplog.records if record.name == LOGGER]


def one_error(caplog, template):
    """The one record written: at level error, with `template` and the traceback."""
    records = service_records(caplog)
    assert len(records) == 1, [record.getMessage() for record in records]
    (record,) = records
    assert record.levelname == "ERROR"
    assert record.msg == template
    assert record.exc_info and record.exc_info[1] is record.args[0]
    return record.args[0]
