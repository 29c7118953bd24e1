"""The target of a connection: its address, whether it stays on this
machine, and a port gRPC can use."""

from typing import Optional

from ostrel.protocol.addresses import is_loopback_host, split_host_port

ERR_PORT = "the port of %r must be 1 to 65535"
_UNIX_SCHEMES = ("unix:", "unix-abstract:")
_ADDRESS_SCHEMES = ("dns:", "ipv4:", "ipv6:")


def network_address(target: str) -> Optional[str]:
    """The host[:port] part of a network target, None for a socket path."""
    if target.startswith(_UNIX_SCHEMES):
        return None
    for scheme in _ADDRESS_SCHEMES:
        if target.startswith(scheme):
            target = target[len(scheme):]
            if target.startswith("//"):  # dns://authority/host:port
                target = target[2:].partition("/")[2]
            return target.split(",")[0]
    return target


def is_loopback(target: str) -> bool:
    """True for targets that never leave this machine: loopback names and
    addresses, and local sockets."""
    address = network_address(target)
    return address is None or is_loopback_host(split_host_port(address)[0])


def check_target(target: str) -> None:
    """ValueError when the target's port is out of range (gRPC would take
    99999 as another port, modulo 65536)."""
    address = network_address(target)
    if address is None:
        return
    port = split_host_port(address)[1]
    if port is not None and not (port.isdigit() and 0 < int(port) <= 65535):
        raise ValueError(ERR_PORT % target)
