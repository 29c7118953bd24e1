"""Record sets read one at a time from the serialized `DataRecords` answer.

`pullDataRecords` answers with one `DataRecords` message. Parsing it whole
would hold every record set (and every image in it) at once, on top of the
answer's bytes. Instead the answer is kept as bytes and walked at the wire
level: each `RecordSet` is parsed without its products, and each
`ProductRecord` is parsed only when it is read, so beside the answer itself
memory holds one record set's small fields and one product at a time.
"""

from typing import Dict, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Type, TypeVar, cast

from google.protobuf.message import DecodeError, Message

from ostrel import wire
from ostrel.api import data_pb2, image_pb2, perception_pb2
from ostrel.catalog import PRODUCT_KINDS
from ostrel.protocol.fields import RECORDS_FIELD as RECORDS_FIELD  # read by the MCAP writer from here
from ostrel.wire import WireError

PRODUCTS_FIELD = data_pb2.RecordSet.DESCRIPTOR.fields_by_name["products"].number
PROJECT_FIELD = data_pb2.RecordSet.DESCRIPTOR.fields_by_name["project"].number
_TIMESTAMP = data_pb2.ProductRecord.DESCRIPTOR.fields_by_name["timestamp_ns"].number
_IMAGES = perception_pb2.ImagesProducts.DESCRIPTOR.fields_by_name["images"].number
_IMAGE_DATA = image_pb2.Image.DESCRIPTOR.fields_by_name["data"].number

ERR_DECODE = "the records answer holds a %s that cannot be parsed: %s"

Span = Tuple[int, int]


class ProductRef(NamedTuple):
    span: Span
    kind: Optional[str]  # the member of ProductRecord.type, None when unset


class LazySet:
    """One record set: `header` holds everything but the products, which are
    parsed one by one from the answer's bytes by `products()`; and the
    project only if `with_project` (a summary has no use for it)."""

    def __init__(self, data: memoryview, span: Span, with_project: bool = True) -> None:
        self._data = data
        self.span = span
        kept: List[bytes] = []
        self.refs: List[ProductRef] = []
        for field in wire.fields(data, span[0], span[1]):
            if field.number == PRODUCTS_FIELD and field.wire == 2:
                payload = (field.value, field.end)
                self.refs.append(ProductRef(payload, raw_product(data[field.value:field.end]).kind))
            elif with_project or field.number != PROJECT_FIELD:
                kept.append(bytes(data[field.start:field.end]))
        self.header = parse(data_pb2.RecordSet, b"".join(kept))

    def count(self, kind: Optional[str] = None) -> int:
        return sum(1 for ref in self.refs if kind is None or ref.kind == kind)

    def kind_counts(self) -> Dict[str, int]:
        """The number of products of each kind, "none" for those with no kind."""
        counts: Dict[str, int] = {}
        for ref in self.refs:
            counts[ref.kind or "none"] = counts.get(ref.kind or "none", 0) + 1
        return counts

    def whole(self) -> data_pb2.RecordSet:
        """The record set parsed whole, products included."""
        return parse(data_pb2.RecordSet, bytes(self._data[self.span[0]:self.span[1]]))

    def products(self, *kinds: str) -> Iterator[data_pb2.ProductRecord]:
        """The products in order, only those of the given kinds if any are given."""
        for ref in self.refs:
            if not kinds or ref.kind in kinds:
                yield parse(data_pb2.ProductRecord, bytes(self._data[ref.span[0]:ref.span[1]]))


M = TypeVar("M", bound=Message)


def parse(kind: Type[M], data: bytes) -> M:
    """A message of the answer parsed; WireError when it cannot be."""
    try:
        return kind.FromString(data)
    except DecodeError as error:
        raise WireError(ERR_DECODE % (kind.DESCRIPTOR.name, error)) from None


class RawProduct(NamedTuple):
    timestamp_ns: int
    kind: Optional[str]  # the member of ProductRecord.type, None when unset
    pieces: List[memoryview]  # the member's bytes as recorded (pieces merge, as in parsing)


def raw_product(record: memoryview) -> RawProduct:
    """A serialized ProductRecord read off the wire, its member unparsed."""
    stamp, kind = 0, cast(Optional[str], None)
    pieces: List[memoryview] = []
    for field in wire.fields(record):
        if field.number == _TIMESTAMP and field.wire == 0:
            stamp = wire.read_varint(record, field.value)[0]
        elif field.wire == 2 and field.number in PRODUCT_KINDS:
            if PRODUCT_KINDS[field.number] != kind:  # another member replaces the one before
                kind, pieces = PRODUCT_KINDS[field.number], []
            pieces.append(record[field.value:field.end])
    return RawProduct(stamp, kind, pieces)


class ImageHead(NamedTuple):
    image: image_pb2.Image  # without its pixels
    data: bytes  # a view of the pixels in the answer


def image_heads(pieces: Sequence[memoryview]) -> Iterator[ImageHead]:
    """The images of a serialized ImagesProducts, each parsed without its pixels."""
    for piece in pieces:
        for encoded in wire.field_spans(piece, _IMAGES):
            kept: List[bytes] = []
            data = memoryview(b"")
            for field in wire.fields(encoded):
                if field.number == _IMAGE_DATA and field.wire == 2:
                    data = encoded[field.value:field.end]  # a bytes field: the last one counts
                else:
                    kept.append(bytes(encoded[field.start:field.end]))
            yield ImageHead(parse(image_pb2.Image, b"".join(kept)), cast(bytes, data))


def record_sets(answer: bytes, with_project: bool = True) -> Iterator[LazySet]:
    """The record sets of a serialized DataRecords, in order, one at a time."""
    data = memoryview(answer)
    for field in wire.fields(data):
        if field.number == RECORDS_FIELD and field.wire == 2:
            yield LazySet(data, (field.value, field.end), with_project)
