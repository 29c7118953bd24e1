"""Addresses of a server: the port and host it listens on unless told
otherwise, host and port of an address text, and whether a host is this
machine's own."""

import ipaddress
from typing import Optional, Tuple

DEFAULT_PORT = 50051
DEFAULT_HOST = "127.0.0.1"  # the server's: loopback, reachable from this machine only
DEFAULT_TARGET = "localhost:%d" % DEFAULT_PORT  # the client's
# The name gRPC checks in a server's certificate when the target is a local socket.
SOCKET_AUTHORITY = "localhost"


def split_host_port(address: str) -> Tuple[str, Optional[str]]:
    """host and port text of `host:port`, `[v6]:port`, `host` or a bare IPv6 address."""
    if address.startswith("["):
        host, _, rest = address[1:].partition("]")
        return host, rest[1:] if rest.startswith(":") else None
    if address.count(":") > 1:  # a bare IPv6 address
        return address, None
    host, colon, port = address.partition(":")
    return host, port if colon else None


def is_loopback_host(host: str) -> bool:
    """True for `localhost`, a name under it, and loopback addresses."""
    host = host.strip("[]").lower()
    if host == "localhost" or host.endswith(".localhost"):
        return True
    return is_loopback_address(host)


def is_loopback_address(host: str) -> bool:
    """True for a literal loopback address (127.0.0.0/8, ::1), not for a name."""
    try:
        return ipaddress.ip_address(host.strip("[]").split("%")[0]).is_loopback
    except ValueError:
        return False
