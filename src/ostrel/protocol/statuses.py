"""Names of the status codes, as both ends show them."""

from ostrel.api import common_pb2


def status_name(code: int) -> str:
    """The name of a status code, its number when the schema has no name for it."""
    value = common_pb2.Code.DESCRIPTOR.values_by_number.get(code)
    return value.name if value is not None else str(code)
