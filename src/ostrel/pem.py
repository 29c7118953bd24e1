"""PEM certificate and key files, checked before gRPC is handed them.

gRPC takes any bytes as a certificate or key and fails later, at the first
handshake, with a message that names neither the file nor the fault. These
checks read each file once and say, in one line, which file is wrong and
how: missing, not PEM, an encrypted key, a key that does not belong to the
certificate, a certificate out of its validity period. Only the standard
library is used: `ssl` pairs the key with the certificate, and the validity
dates are read off the certificate's DER encoding.
"""

import base64
import binascii
import datetime
import os
import re
from typing import List, Tuple, Union

PathOrData = Union[str, "os.PathLike[str]", bytes]

ERR_READ = "cannot read the %s file %s: %s"
ERR_NOT_PEM = "the %s file %s holds no PEM %s"
ERR_ENCRYPTED = "the %s file %s holds an encrypted private key; gRPC needs it unencrypted"
ERR_MISMATCH = "the key file %s does not belong to the certificate in %s"
ERR_UNUSABLE = "the certificate %s and key %s cannot be used together: %s"
ERR_EXPIRED = "the certificate in %s expired on %s"
ERR_NOT_YET = "the certificate in %s is valid only from %s"
ERR_BAD_DER = "the %s file %s holds a certificate that cannot be read"

_BLOCK = re.compile(rb"-----BEGIN ([A-Z0-9 ]+)-----\r?\n(.*?)-----END \1-----", re.S)
CERTIFICATE = b"CERTIFICATE"
PRIVATE_KEYS = (b"PRIVATE KEY", b"RSA PRIVATE KEY", b"EC PRIVATE KEY")
ENCRYPTED_KEYS = (b"ENCRYPTED PRIVATE KEY",)


class PemError(ValueError):
    """A certificate or key file that cannot be used; the text is one line."""


def describe(source: PathOrData) -> str:
    return "(given as data)" if isinstance(source, bytes) else os.fspath(source)


def read(source: PathOrData, role: str) -> bytes:
    """The bytes of `source`: itself when it is bytes, else the file's."""
    if isinstance(source, bytes):
        return source
    try:
        with open(source, "rb") as handle:
            return handle.read()
    except OSError as error:
        raise PemError(ERR_READ % (role, os.fspath(source), error.strerror or error)) from None


def blocks(data: bytes) -> List[Tuple[bytes, bytes]]:
    """(label, DER) of each well-formed PEM block of `data`."""
    found: List[Tuple[bytes, bytes]] = []
    for match in _BLOCK.finditer(data):
        try:
            found.append((match.group(1), base64.b64decode(b"".join(match.group(2).split()), validate=True)))
        except (binascii.Error, ValueError):
            continue
    return found


def certificates(source: PathOrData, role: str) -> Tuple[bytes, List[bytes]]:
    """The file's bytes and the DER of each certificate in it; at least one."""
    data = read(source, role)
    ders = [der for label, der in blocks(data) if label == CERTIFICATE]
    if not ders:
        raise PemError(ERR_NOT_PEM % (role, describe(source), "certificate"))
    return data, ders


def private_key(source: PathOrData, role: str) -> bytes:
    """The file's bytes, holding one unencrypted PEM private key."""
    data = read(source, role)
    labels = [label for label, _ in blocks(data)]
    if any(label in ENCRYPTED_KEYS for label in labels) or b"Proc-Type: 4,ENCRYPTED" in data:
        raise PemError(ERR_ENCRYPTED % (role, describe(source)))
    if not any(label in PRIVATE_KEYS for label in labels):
        raise PemError(ERR_NOT_PEM % (role, describe(source), "private key"))
    return data


def check_pair(cert: bytes, key: bytes, cert_name: str, key_name: str) -> None:
    """PemError unless `key` is the private key of the first certificate."""
    import ssl
    import tempfile

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    # ssl reads files only; the copies live in a private folder for a moment.
    with tempfile.TemporaryDirectory() as folder:
        paths = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
        for path, data in zip(paths, (cert, key)):
            with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as handle:
                handle.write(data)
        try:
            context.load_cert_chain(*paths)
        except ssl.SSLError as error:
            if "KEY_VALUES_MISMATCH" in str(error) or "key values mismatch" in str(error):
                raise PemError(ERR_MISMATCH % (key_name, cert_name)) from None
            raise PemError(ERR_UNUSABLE % (cert_name, key_name, error.reason or error)) from None


# DER, as much as certificate checks need --------------------------------------

def der_element(der: bytes, at: int) -> Tuple[int, int, int]:
    """(tag, start of contents, end of contents) of the DER element at `at`."""
    tag, length = der[at], der[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        if not 0 < count <= 4:
            raise ValueError("unsupported length")
        length = int.from_bytes(der[at:at + count], "big")
        at += count
    if at + length > len(der):
        raise ValueError("cut short")
    return tag, at, at + length


def _time(tag: int, text: bytes) -> datetime.datetime:
    # UTCTime YYMMDDHHMMSSZ (years 1950-2049) or GeneralizedTime YYYYMMDDHHMMSSZ.
    value = text.decode("ascii")
    if tag == 0x17:
        year = int(value[:2])
        value = str(1900 + year if year >= 50 else 2000 + year) + value[2:]
    elif tag != 0x18:
        raise ValueError("not a time")
    return datetime.datetime.strptime(value, "%Y%m%d%H%M%SZ").replace(tzinfo=datetime.timezone.utc)


def validity(der: bytes) -> Tuple[datetime.datetime, datetime.datetime]:
    """(not before, not after) of a DER certificate; ValueError if unreadable."""
    try:
        _, start, _ = der_element(der, 0)  # Certificate
        _, at, _ = der_element(der, start)  # TBSCertificate
        if der[at] == 0xA0:  # [0] version
            at = der_element(der, at)[2]
        for _ in range(3):  # serialNumber, signature, issuer
            at = der_element(der, at)[2]
        _, at, _ = der_element(der, at)  # validity
        first, first_start, first_end = der_element(der, at)
        second, second_start, second_end = der_element(der, first_end)
        return (_time(first, der[first_start:first_end]), _time(second, der[second_start:second_end]))
    except (IndexError, ValueError, UnicodeDecodeError) as error:
        raise ValueError(str(error)) from None


def check_current(der: bytes, name: str, role: str) -> None:
    """PemError when the certificate is not valid now."""
    try:
        start, end = validity(der)
    except ValueError:
        raise PemError(ERR_BAD_DER % (role, name)) from None
    now = datetime.datetime.now(datetime.timezone.utc)
    if now > end:
        raise PemError(ERR_EXPIRED % (name, end.strftime("%Y-%m-%d %H:%M UTC")))
    if now < start:
        raise PemError(ERR_NOT_YET % (name, start.strftime("%Y-%m-%d %H:%M UTC")))
