"""Protobuf JSON as the package writes it everywhere: field names as in the
schema files, enums by name, and every field without presence printed even
at its default value (a status code of RUNNING, which is 0, included), so
the JSON says what each field holds. Written in pieces, so a large message
is written without also holding its whole text.

`json` and protobuf's JSON support are imported on first use: commands that
write no JSON never load them."""

from typing import IO, Any, Iterator


def to_dict(message: Any) -> Any:
    from google.protobuf import json_format

    return json_format.MessageToDict(message, preserving_proto_field_name=True,
                                     always_print_fields_with_no_presence=True)


def json_chunks(value: Any, indent: int = 2) -> Iterator[str]:
    """The JSON text of `value` (a message, or what to_dict gives), in pieces."""
    import json

    if hasattr(value, "DESCRIPTOR"):
        value = to_dict(value)
    return json.JSONEncoder(indent=indent).iterencode(value)


def to_json(message: Any) -> str:
    return "".join(json_chunks(message))


def write_json(stream: IO[str], message: Any) -> None:
    for chunk in json_chunks(message):
        stream.write(chunk)
    stream.write("\n")


class RecordsJson:
    """Writes the JSON of a DataRecords one record set at a time, as
    to_json would write the whole message at once."""

    FIELD = "records"  # DataRecords' only field

    def __init__(self, stream: IO[str]) -> None:
        self.stream = stream
        self.count = 0

    def add(self, record_set: Any) -> None:
        write = self.stream.write
        write(',\n    ' if self.count else '{\n  "%s": [\n    ' % self.FIELD)
        for chunk in json_chunks(record_set):
            write(chunk.replace("\n", "\n    "))
        self.count += 1

    def close(self) -> None:
        self.stream.write("\n  ]\n}\n" if self.count else '{\n  "%s": []\n}\n' % self.FIELD)
