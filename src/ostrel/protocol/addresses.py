"""Addresses of a server: host and port of an address text, and whether a
host is this machine's own."""

import ipaddress
from typing import Optional, Tuple


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
    host = host.strip("[]").lower()
    if host == "localhost" or host.endswith(".localhost"):
        return True
    try:
        return ipaddress.ip_address(host.split("%")[0]).is_loopback
    except ValueError:
        return False
