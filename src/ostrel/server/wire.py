"""Protobuf wire encoding of length-delimited fields, so that messages whose
parts are already serialized can be answered by joining those parts."""

from typing import List, Sequence

_LENGTH_DELIMITED = 2
_VARINT = 0


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


def message_pieces(number: int, pieces: Sequence[bytes]) -> List[bytes]:
    """A message field whose payload is the concatenation of `pieces`,
    as pieces, so that the caller joins everything once."""
    return [field_head(number, sum(len(p) for p in pieces)), *pieces]
