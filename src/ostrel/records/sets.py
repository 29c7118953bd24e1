"""Record sets read one at a time from the serialized `DataRecords` answer.

`pullDataRecords` answers with one `DataRecords` message. Parsing it whole
would hold every record set (and every image in it) at once, on top of the
answer's bytes. Instead the answer is kept as bytes and walked at the wire
level: each `RecordSet` is parsed without its products, and each
`ProductRecord` is parsed only when it is read, so beside the answer itself
memory holds one record set's small fields and one product at a time.
"""

from typing import Iterator, List, NamedTuple, Optional, Tuple, Type, TypeVar

from google.protobuf.message import DecodeError

from ostrel import wire
from ostrel.api import common_pb2, data_pb2
from ostrel.wire import WireError

RECORDS_FIELD = 1  # DataRecords.records
PRODUCTS_FIELD = 5  # RecordSet.products
# ProductRecord.type members by field number.
PRODUCT_KINDS = {2: "images", 3: "perception", 4: "planner", 5: "controller", 6: "simulator"}

ERR_DECODE = "the records answer holds a %s that cannot be parsed: %s"

# A recording that a server left open when it was killed ends with this
# event, added when the next start closes it: a failed event with no action.
INTERRUPTED_EVENT = "(recording interrupted)"
INTERRUPTED_TEXT = "the server stopped while the program ran; the recording ends here"

Span = Tuple[int, int]


class ProductRef(NamedTuple):
    span: Span
    kind: Optional[str]  # the member of ProductRecord.type, None when unset


class LazySet:
    """One record set: `header` holds everything but the products, which are
    parsed one by one from the answer's bytes by `products()`."""

    def __init__(self, data: memoryview, span: Span) -> None:
        self._data = data
        kept: List[bytes] = []
        self.refs: List[ProductRef] = []
        for field in wire.fields(data, span[0], span[1]):
            if field.number == PRODUCTS_FIELD and field.wire == 2:
                payload = (field.value, field.end)
                self.refs.append(ProductRef(payload, _product_kind(data, payload)))
            else:
                kept.append(bytes(data[field.start:field.end]))
        self.header = _parse(data_pb2.RecordSet, b"".join(kept))

    def count(self, kind: Optional[str] = None) -> int:
        return sum(1 for ref in self.refs if kind is None or ref.kind == kind)

    def products(self, *kinds: str) -> Iterator[data_pb2.ProductRecord]:
        """The products in order, only those of the given kinds if any are given."""
        for ref in self.refs:
            if not kinds or ref.kind in kinds:
                yield _parse(data_pb2.ProductRecord, bytes(self._data[ref.span[0]:ref.span[1]]))


def interrupted_event(stop_ns: int) -> data_pb2.EventRecord:
    """The event that closes an interrupted recording."""
    return data_pb2.EventRecord(
        name=INTERRUPTED_EVENT, start_timestamp_ns=stop_ns, stop_timestamp_ns=stop_ns,
        status=[common_pb2.Status(code=common_pb2.FAILURE, message=INTERRUPTED_TEXT)],
        status_metadata=[common_pb2.Metadata(timestamp_ns=stop_ns)])


def interruption(record_set: data_pb2.RecordSet) -> Optional[str]:
    """What ended an interrupted record set, None for one that closed normally."""
    if not record_set.events:
        return None
    last = record_set.events[-1]
    if last.name != INTERRUPTED_EVENT or last.HasField("action") or not last.status:
        return None
    final = last.status[-1]
    return str(final.message) if final.code == common_pb2.FAILURE else None


M = TypeVar("M", data_pb2.RecordSet, data_pb2.ProductRecord)


def _parse(kind: Type[M], data: bytes) -> M:
    try:
        return kind.FromString(data)
    except DecodeError as error:
        raise WireError(ERR_DECODE % (kind.DESCRIPTOR.name, error)) from None


def _product_kind(data: memoryview, span: Span) -> Optional[str]:
    kind = None
    for field in wire.fields(data, span[0], span[1]):
        if field.wire == 2 and field.number in PRODUCT_KINDS:
            kind = PRODUCT_KINDS[field.number]  # the last member on the wire wins, as in parsing
    return kind


def record_sets(answer: bytes) -> Iterator[LazySet]:
    """The record sets of a serialized DataRecords, in order, one at a time."""
    data = memoryview(answer)
    for field in wire.fields(data):
        if field.number == RECORDS_FIELD and field.wire == 2:
            yield LazySet(data, (field.value, field.end))
