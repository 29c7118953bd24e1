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

from ostrel.api import data_pb2

RECORDS_FIELD = 1  # DataRecords.records
PRODUCTS_FIELD = 5  # RecordSet.products
# ProductRecord.type members by field number.
PRODUCT_KINDS = {2: "images", 3: "perception", 4: "planner", 5: "controller", 6: "simulator"}

ERR_TRUNCATED = "the records answer is cut short at byte %d"
ERR_WIRE_TYPE = "the records answer holds an unknown wire type %d at byte %d"
ERR_DECODE = "the records answer holds a %s that cannot be parsed: %s"

Span = Tuple[int, int]


class WireError(ValueError):
    """Bytes that are not a well-formed protobuf message."""


def _varint(data: memoryview, pos: int) -> Tuple[int, int]:
    value = shift = 0
    while True:
        if pos >= len(data):
            raise WireError(ERR_TRUNCATED % pos)
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        if byte < 0x80:
            return value, pos
        shift += 7


def fields(data: memoryview, start: int, end: int) -> Iterator[Tuple[int, int, int, int, Span]]:
    """(field number, wire type, field start, field end, payload span) of each
    field between start and end; the payload span is the value of a
    length-delimited field."""
    pos = start
    while pos < end:
        begin = pos
        key, pos = _varint(data, pos)
        number, wire = key >> 3, key & 7
        if wire == 0:
            _, pos = _varint(data, pos)
            payload = (begin, pos)
        elif wire == 1:
            pos += 8
            payload = (pos - 8, pos)
        elif wire == 2:
            length, pos = _varint(data, pos)
            payload = (pos, pos + length)
            pos += length
        elif wire == 5:
            pos += 4
            payload = (pos - 4, pos)
        else:
            raise WireError(ERR_WIRE_TYPE % (wire, begin))
        if pos > end:
            raise WireError(ERR_TRUNCATED % end)
        yield number, wire, begin, pos, payload


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
        for number, wire, begin, end, payload in fields(data, span[0], span[1]):
            if number == PRODUCTS_FIELD and wire == 2:
                self.refs.append(ProductRef(payload, _product_kind(data, payload)))
            else:
                kept.append(bytes(data[begin:end]))
        self.header = _parse(data_pb2.RecordSet, b"".join(kept))

    def count(self, kind: Optional[str] = None) -> int:
        return sum(1 for ref in self.refs if kind is None or ref.kind == kind)

    def products(self, *kinds: str) -> Iterator[data_pb2.ProductRecord]:
        """The products in order, only those of the given kinds if any are given."""
        for ref in self.refs:
            if not kinds or ref.kind in kinds:
                yield _parse(data_pb2.ProductRecord, bytes(self._data[ref.span[0]:ref.span[1]]))


M = TypeVar("M", data_pb2.RecordSet, data_pb2.ProductRecord)


def _parse(kind: Type[M], data: bytes) -> M:
    try:
        return kind.FromString(data)
    except DecodeError as error:
        raise WireError(ERR_DECODE % (kind.DESCRIPTOR.name, error)) from None


def _product_kind(data: memoryview, span: Span) -> Optional[str]:
    kind = None
    for number, wire, _, _, _ in fields(data, span[0], span[1]):
        if wire == 2 and number in PRODUCT_KINDS:
            kind = PRODUCT_KINDS[number]  # the last member on the wire wins, as in parsing
    return kind


def record_sets(answer: bytes) -> Iterator[LazySet]:
    """The record sets of a serialized DataRecords, in order, one at a time."""
    data = memoryview(answer)
    for number, wire, _, _, payload in fields(data, 0, len(data)):
        if number == RECORDS_FIELD and wire == 2:
            yield LazySet(data, payload)
