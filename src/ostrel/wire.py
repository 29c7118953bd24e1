"""The protobuf wire format, read and written field by field.

Reading walks the top-level fields of serialized bytes without parsing them,
so that parts of a large message (the status of a system state, the record
sets of an answer) can be taken without parsing all of it. Writing joins
fields whose payloads are already serialized, so that a message can be
answered from stored parts.
"""

from typing import Iterator, NamedTuple, Optional, Tuple

_VARINT = 0
_LENGTH_DELIMITED = 2
_FIXED_SIZE = {1: 8, 5: 4}
_MAX_VARINT_SHIFT = 63  # a varint holds at most 10 bytes

ERR_TRUNCATED = "the message is cut short at byte %d"
ERR_LONG_VARINT = "a varint longer than 10 bytes at byte %d"
ERR_WIRE_TYPE = "an unknown wire type %d at byte %d"


class WireError(ValueError):
    """Bytes that are not a well-formed protobuf message."""


class WireField(NamedTuple):
    number: int
    wire: int
    start: int  # of the tag
    value: int  # of the value (after the length of a length-delimited field)
    end: int


def read_varint(data: memoryview, pos: int) -> Tuple[int, int]:
    """The varint at `pos` and the position after it."""
    result = shift = 0
    begin = pos
    while True:
        if pos >= len(data):
            raise WireError(ERR_TRUNCATED % pos)
        if shift > _MAX_VARINT_SHIFT:
            raise WireError(ERR_LONG_VARINT % begin)
        byte = data[pos]
        pos += 1
        result |= (byte & 0x7F) << shift
        if byte < 0x80:
            return result, pos
        shift += 7


def fields(data: memoryview, start: int = 0, end: Optional[int] = None) -> Iterator[WireField]:
    """The fields between `start` and `end` (the whole of `data` by default),
    in order; WireError when they are not well-formed."""
    pos, end = start, len(data) if end is None else end
    while pos < end:
        begin = pos
        key, pos = read_varint(data, pos)
        wire = key & 7
        if wire == _VARINT:
            value = pos
            _, pos = read_varint(data, pos)
        elif wire == _LENGTH_DELIMITED:
            length, value = read_varint(data, pos)
            pos = value + length
        elif wire in _FIXED_SIZE:
            value = pos
            pos += _FIXED_SIZE[wire]
        else:
            raise WireError(ERR_WIRE_TYPE % (wire, begin))
        if pos > end:
            raise WireError(ERR_TRUNCATED % end)
        yield WireField(key >> 3, wire, begin, value, pos)


def field_spans(data: memoryview, number: int, start: int = 0, end: Optional[int] = None) -> Iterator[memoryview]:
    """The values of the length-delimited field `number` between `start` and
    `end` (the whole of `data` by default), in order."""
    for field in fields(data, start, end):
        if field.number == number and field.wire == _LENGTH_DELIMITED:
            yield data[field.value:field.end]


def varint(value: int) -> bytes:
    """The base-128 varint encoding of an unsigned integer."""
    out = bytearray()
    while value > 0x7F:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def field_head(number: int, length: int) -> bytes:
    """Tag and length of a length-delimited field whose payload follows."""
    return varint(number << 3 | _LENGTH_DELIMITED) + varint(length)


def field(number: int, payload: bytes) -> bytes:
    """A whole length-delimited field (string, bytes or message)."""
    return field_head(number, len(payload)) + payload


def uint_field(number: int, value: int) -> bytes:
    """A varint field, left out at 0 as a proto3 scalar is."""
    return varint(number << 3 | _VARINT) + varint(value) if value else b""


def string_field(number: int, text: str) -> bytes:
    """A string field, left out when empty as a proto3 scalar is."""
    return field(number, text.encode("utf-8")) if text else b""

