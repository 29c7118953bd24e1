"""The wire-format helpers: reading top-level fields of serialized bytes as
the runtime parses them, and writing fields that the runtime reads back."""

import pytest

from ostrel import wire
from ostrel.api import common_pb2 as C
from ostrel.api import data_pb2, system_pb2

# Reading ----------------------------------------------------------------------

def image_state(code, message):
    state = system_pb2.SystemState(status=C.Status(code=code, message=message))
    state.images.images.add(camera="c", width=64, height=64, data=bytes(4096))
    state.workspace.robots["r"].joint_positions.data.extend([1.0, 2.0])
    state.controller.time_s = 1.5
    return state


def test_field_spans_read_the_status_as_the_runtime_parses_it():
    one = image_state(C.RUNNING, "first").SerializeToString()
    # A message given twice merges; the later status wins field by field.
    for data in (one, one + image_state(C.FAILURE, "").SerializeToString(),
                 one + system_pb2.SystemState(status=C.Status(code=C.SUCCESS)).SerializeToString()):
        parsed = system_pb2.SystemState.FromString(data).status
        assert C.Status.FromString(b"".join(wire.field_spans(memoryview(data), 1))) == parsed


def test_field_spans_split_records_into_their_record_sets():
    records = data_pb2.DataRecords()
    for i in range(3):
        records.records.add(description="r%d" % i, start_timestamp_ns=2**63 + i).products.add(timestamp_ns=i)
    data = memoryview(records.SerializeToString())
    assert [data_pb2.RecordSet.FromString(s) for s in wire.field_spans(data, 1)] == list(records.records)
    # Within a range of the bytes: the products of the second record set, and nothing of its neighbours.
    second = list(wire.fields(data))[1]
    number = data_pb2.RecordSet.DESCRIPTOR.fields_by_name["products"].number
    products = wire.field_spans(data, number, second.value, second.end)
    assert [data_pb2.ProductRecord.FromString(s) for s in products] == list(records.records[1].products)
    assert list(wire.field_spans(memoryview(b""), 1)) == []


@pytest.mark.parametrize("data", [
    b"\x0a\x05abc",  # length past the end
    b"\x08\x80",  # varint cut off
    b"\x09\x00\x00",  # fixed64 cut off
    b"\x0b",  # group start: not a wire type our messages use
    b"\x08" + b"\xff" * 11,  # varint longer than 10 bytes
])
def test_field_spans_refuse_malformed_bytes(data):
    with pytest.raises(wire.WireError):
        list(wire.field_spans(memoryview(data), 1))


# Writing ----------------------------------------------------------------------

@pytest.mark.parametrize("value", [0, 1, 127, 128, 300, 2**32, 2**63 - 1, 2**64 - 1])
def test_varints_read_back_as_written(value):
    encoded = wire.varint(value)
    assert wire.read_varint(memoryview(encoded), 0) == (value, len(encoded))


def test_written_fields_parse_as_the_runtime_writes_them():
    record = data_pb2.RecordSet(description="d", start_timestamp_ns=2**63, stop_timestamp_ns=0)
    record.events.add(name="e")
    fields = data_pb2.RecordSet.DESCRIPTOR.fields_by_name
    joined = (wire.string_field(fields["description"].number, "d")
              + wire.uint_field(fields["start_timestamp_ns"].number, 2**63)
              + wire.uint_field(fields["stop_timestamp_ns"].number, 0)  # left out, as the runtime does
              + wire.string_field(fields["description"].number, "")  # left out too
              + wire.field(fields["events"].number, record.events[0].SerializeToString()))
    assert joined == record.SerializeToString()
    status = C.Status.DESCRIPTOR.fields_by_name
    written = wire.uint_field(status["code"].number, C.FAILURE) + wire.string_field(status["message"].number, "näh")
    assert written == C.Status(code=C.FAILURE, message="näh").SerializeToString()
