"""The target of a connection: the addresses it names, whether every one of
them stays on this machine, and a form gRPC can use.

A target is `host:port`, `unix:PATH` (or `unix-abstract:NAME`), a list
`ipv4:A:P,B:P` / `ipv6:[A]:P,[B]:P`, or `dns:[//AUTHORITY/]host:port`, where
AUTHORITY is the DNS server that resolves the host."""

from typing import List, NamedTuple, Optional

from ostrel.protocol.addresses import SOCKET_AUTHORITY, is_loopback_address, is_loopback_host, split_host_port

MAX_TARGET_CHARS = 1024

ERR_PORT = "the port of %r must be 1 to 65535"
ERR_TARGET_EMPTY = "must name the server as host:port, got an empty text"
ERR_TARGET_CHARS = "must name the server as host:port, without spaces or control characters, got %r"
ERR_TARGET_LONG = "must name the server as host:port, in at most %d characters" % MAX_TARGET_CHARS

_UNIX_SCHEMES = ("unix:", "unix-abstract:")
_LIST_SCHEMES = ("ipv4:", "ipv6:")
_DNS = "dns:"


class Address(NamedTuple):
    host: str
    port: Optional[str]
    # A DNS server named in the target: it, not this machine, says what a name is.
    name_server: str = ""

    @property
    def is_loopback(self) -> bool:
        if self.name_server:
            return is_loopback_address(self.host)
        return is_loopback_host(self.host)


def addresses(target: str) -> Optional[List[Address]]:
    """Every address the target names, None for a local socket."""
    if target.startswith(_UNIX_SCHEMES):
        return None
    for scheme in _LIST_SCHEMES:
        if target.startswith(scheme):
            return [Address(*split_host_port(part)) for part in target[len(scheme):].split(",")]
    name_server = ""
    if target.startswith(_DNS):
        target = target[len(_DNS):]
        if target.startswith("//"):
            name_server, _, target = target[2:].partition("/")
    return [Address(*split_host_port(target), name_server=name_server)]


def is_loopback(target: str) -> bool:
    """True for targets that never leave this machine: local sockets, and
    lists whose every address is a loopback name or address (a name that a
    DNS server of the target's resolves is not taken on trust)."""
    found = addresses(target)
    return found is None or all(address.is_loopback for address in found)


def checked_host(target: str) -> str:
    """The name gRPC checks in the server's certificate when no authority is given."""
    found = addresses(target)
    return SOCKET_AUTHORITY if found is None else found[0].host


def check_target(target: str) -> str:
    """The target; ValueError when it is empty, too long, holds spaces or
    control characters, or names a port out of range (gRPC would take 99999
    as another port, modulo 65536)."""
    if not target:
        raise ValueError(ERR_TARGET_EMPTY)
    if len(target) > MAX_TARGET_CHARS:
        raise ValueError(ERR_TARGET_LONG)
    if not target.isprintable() or any(c.isspace() for c in target):
        raise ValueError(ERR_TARGET_CHARS % target)
    for address in addresses(target) or ():
        port = address.port
        if port is not None and not (port.isdigit() and 0 < int(port) <= 65535):
            raise ValueError(ERR_PORT % target)
    return target
