"""The server's limit on the size of a request or an answer."""

# gRPC's limits are C ints; protobuf parses no message of 2 GiB or more.
MAX_MESSAGE_SIZE = 2**31 - 1
DEFAULT_MAX_MESSAGE_SIZE = 1 << 30
