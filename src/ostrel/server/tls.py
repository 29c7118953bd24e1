"""The server's TLS files, checked at start and read again on SIGHUP.

Each fault gRPC would report late or under another name is found here, in
one line naming the file: a certificate block that does not decode, a
certificate out of its validity period (the server's, or one of the client
CA's), a server certificate whose key usage forbids signing the handshake
or whose extended key usage leaves out serving TLS, a key that is not the
certificate's or that others may read.

The credentials are fetched per handshake: `ServerTls.reload` checks the
files again and hands the next handshake the new ones, or keeps the old ones
and logs why.
"""

import logging
import re
import threading
from typing import Any, Dict, List, Optional, Tuple

import grpc

from ostrel import pem
from ostrel.server.security import TlsFiles, check_private

log = logging.getLogger("ostrel.server")

ERR_DAMAGED_BLOCK = "the %s file %s holds a certificate block that cannot be decoded (block %d)"
ERR_CA_CERTIFICATE = "%s (certificate %d of the client CA file)"
ERR_NO_SIGNATURE = ("the certificate in %s may not sign (its key usage leaves out digitalSignature): "
                    "no TLS handshake can use it")
ERR_NOT_FOR_SERVERS = ("the certificate in %s is not for TLS servers (its extended key usage leaves out "
                       "serverAuth): every client would refuse it")
TLS_RELOADED = "read the TLS files again: %s"
TLS_KEPT = "%s; keeping the TLS files read before"

_BEGIN = re.compile(rb"-----BEGIN CERTIFICATE-----")
# DER encodings of the object identifiers read here.
KEY_USAGE = bytes.fromhex("551d0f")  # 2.5.29.15
EXTENDED_KEY_USAGE = bytes.fromhex("551d25")  # 2.5.29.37
SERVER_AUTH = bytes.fromhex("2b06010505070301")  # 1.3.6.1.5.5.7.3.1
ANY_EXTENDED_USAGE = bytes.fromhex("551d2500")  # 2.5.29.37.0
DIGITAL_SIGNATURE = 0x80  # the first bit of the key usage bit string
EXTENSIONS_TAG = 0xA3  # [3] in TBSCertificate


# DER, as much as the extensions need (elements read by ostrel.pem) ----------

def _children(der: bytes, start: int, end: int) -> List[Tuple[int, int, int]]:
    found: List[Tuple[int, int, int]] = []
    while start < end:
        element = pem.der_element(der, start)
        found.append(element)
        start = element[2]
    return found


def extensions(der: bytes) -> Dict[bytes, bytes]:
    """{DER object identifier: extension value} of a DER certificate;
    ValueError when it cannot be read."""
    try:
        _, start, end = pem.der_element(der, 0)
        _, start, end = pem.der_element(der, start)  # TBSCertificate
        found: Dict[bytes, bytes] = {}
        for tag, first, last in _children(der, start, end):
            if tag != EXTENSIONS_TAG:
                continue
            _, first, last = pem.der_element(der, first)  # SEQUENCE OF Extension
            for _, at, stop in _children(der, first, last):
                parts = _children(der, at, stop)
                identifier, value = parts[0], parts[-1]  # the critical flag, if any, between
                found[der[identifier[1]:identifier[2]]] = der[value[1]:value[2]]
        return found
    except IndexError:
        raise ValueError("cut short") from None


def server_usage_fault(der: bytes, name: str) -> Optional[str]:
    """Why a server certificate cannot serve a TLS handshake, if its key
    usage or extended key usage say so."""
    found = extensions(der)
    usage = found.get(KEY_USAGE)
    if usage is not None:
        _, start, end = pem.der_element(usage, 0)  # BIT STRING: unused bits, then the bits
        bits = usage[start + 1:end]
        if not bits or not bits[0] & DIGITAL_SIGNATURE:
            return ERR_NO_SIGNATURE % name
    extended = found.get(EXTENDED_KEY_USAGE)
    if extended is not None:
        _, start, end = pem.der_element(extended, 0)
        purposes = {extended[a:b] for _, a, b in _children(extended, start, end)}
        if SERVER_AUTH not in purposes and ANY_EXTENDED_USAGE not in purposes:
            return ERR_NOT_FOR_SERVERS % name
    return None


# The files ----------------------------------------------------------------------

def _every_block_decodes(data: bytes, ders: List[bytes], name: str, role: str) -> None:
    """`ders`: the certificates `pem.certificates` decoded from `data`."""
    if len(ders) < len(_BEGIN.findall(data)):
        raise pem.PemError(ERR_DAMAGED_BLOCK % (role, name, len(ders) + 1))


def _client_ca(path: str) -> bytes:
    data, ders = pem.certificates(path, "client CA")
    _every_block_decodes(data, ders, path, "client CA")
    for number, der in enumerate(ders, 1):
        try:
            pem.check_current(der, path, "client CA")
        except pem.PemError as error:
            raise pem.PemError(ERR_CA_CERTIFICATE % (error, number)) from None
    _load_with_ssl(path)
    return data


def _load_with_ssl(path: str) -> None:
    """The client CA file as OpenSSL reads it: a block that decodes but is no
    certificate fails here."""
    import ssl

    try:
        ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER).load_verify_locations(cafile=path)
    except ssl.SSLError as error:
        raise pem.PemError("the client CA file %s cannot be used: %s" % (path, error.reason or error)) from None


def read_files(files: TlsFiles, allow_shared: bool = False) -> Tuple[bytes, bytes, Optional[bytes]]:
    """(key, certificate chain, client CA or None) of checked files;
    PemError or ValueError naming the file and the fault."""
    chain, ders = pem.certificates(files.cert, "certificate")
    _every_block_decodes(chain, ders, files.cert, "certificate")
    pem.check_current(ders[0], files.cert, "certificate")
    try:
        fault = server_usage_fault(ders[0], files.cert)
    except ValueError:
        raise pem.PemError(pem.ERR_BAD_DER % ("certificate", files.cert)) from None
    if fault is not None:
        raise pem.PemError(fault)
    check_private(files.key, "key", allow_shared)
    key = pem.private_key(files.key, "key")
    pem.check_pair(chain, key, files.cert, files.key)
    roots = _client_ca(files.client_ca) if files.client_ca is not None else None
    return key, chain, roots


class ServerTls:
    """Server credentials from `files`, read again by `reload`."""

    def __init__(self, files: TlsFiles, allow_shared: bool = False) -> None:
        self.files = files
        self.allow_shared = allow_shared
        self._next: Optional[Any] = None
        self._lock = threading.Lock()
        self.credentials = grpc.dynamic_ssl_server_credentials(
            self._configuration(), self._fetch, require_client_authentication=files.client_ca is not None)

    def _configuration(self) -> Any:
        key, chain, roots = read_files(self.files, self.allow_shared)
        return grpc.ssl_server_certificate_configuration([(key, chain)], root_certificates=roots)

    def _fetch(self) -> Any:
        # Called by gRPC before each handshake: the new files once, then None (no change).
        with self._lock:
            configuration, self._next = self._next, None
        return configuration

    def reload(self) -> bool:
        """Reads the files again; when they cannot be used, keeps the ones
        read before and logs one line."""
        try:
            configuration = self._configuration()
        except ValueError as error:
            log.error(TLS_KEPT, error)
            return False
        with self._lock:
            self._next = configuration
        log.info(TLS_RELOADED, ", ".join(path for path in self.files if path is not None))
        return True
