"""Certificates made for the TLS tests with `cryptography`: a CA, a server
certificate for localhost and 127.0.0.1, a client certificate, an expired
server certificate, one for another name, and a CA nobody trusts with a
client certificate of its own. All keys are P-256, written as PEM files."""

import datetime
import ipaddress
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

LOCAL_NAMES = ("localhost", "127.0.0.1")
OTHER_NAME = "cell-7.lab.example"

# name -> (issuer, names in the certificate, validity in days from now, is a CA)
CERTIFICATES = {
    "ca": (None, (), (-1, 30), True),
    "server": ("ca", LOCAL_NAMES, (-1, 30), False),
    "client": ("ca", (), (-1, 30), False),
    "expired": ("ca", LOCAL_NAMES, (-10, -1), False),
    "other": ("ca", (OTHER_NAME,), (-1, 30), False),
    "rogue-ca": (None, (), (-1, 30), True),
    "rogue-client": ("rogue-ca", (), (-1, 30), False),
    "expired-ca": (None, (), (-10, -1), True),
    "no-signature": ("ca", LOCAL_NAMES, (-1, 30), False),
    "client-only": ("ca", LOCAL_NAMES, (-1, 30), False),
    "server-usage": ("ca", LOCAL_NAMES, (-1, 30), False),
}


def _usage(**allowed):
    flags = dict.fromkeys(("digital_signature", "content_commitment", "key_encipherment", "data_encipherment",
                           "key_agreement", "key_cert_sign", "crl_sign", "encipher_only", "decipher_only"), False)
    return x509.KeyUsage(**dict(flags, **allowed))


# name -> extensions beyond the names and the CA flag: key usages a server
# certificate cannot serve with, and one it can.
EXTENSIONS = {
    "no-signature": lambda: [_usage(key_cert_sign=True, crl_sign=True)],
    "client-only": lambda: [x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.CLIENT_AUTH])],
    "server-usage": lambda: [_usage(digital_signature=True, key_encipherment=True),
                             x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH])],
}


def _name(common_name):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)])


def _alternative(name):
    try:
        return x509.IPAddress(ipaddress.ip_address(name))
    except ValueError:
        return x509.DNSName(name)


def make(folder):
    """Writes NAME.pem and NAME.key for every row of CERTIFICATES into
    `folder`; returns {NAME: (cert path, key path)} as strings."""
    folder = Path(folder)
    now = datetime.datetime.now(datetime.timezone.utc)
    keys, certs, paths = {}, {}, {}
    for name, (issuer, names, (start, end), is_ca) in CERTIFICATES.items():
        key = keys[name] = ec.generate_private_key(ec.SECP256R1())
        builder = (x509.CertificateBuilder()
                   .subject_name(_name(name)).issuer_name(_name(issuer or name))
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(now + datetime.timedelta(days=start))
                   .not_valid_after(now + datetime.timedelta(days=end))
                   .add_extension(x509.BasicConstraints(ca=is_ca, path_length=None), critical=True))
        if names:
            builder = builder.add_extension(x509.SubjectAlternativeName([_alternative(n) for n in names]),
                                            critical=False)
        for extension in EXTENSIONS.get(name, list)():
            builder = builder.add_extension(extension, critical=isinstance(extension, x509.KeyUsage))
        cert = certs[name] = builder.sign(keys[issuer] if issuer else key, hashes.SHA256())
        cert_path, key_path = folder / ("%s.pem" % name), folder / ("%s.key" % name)
        cert_path.write_bytes(cert.public_bytes(serialization.Encoding.PEM))
        key_path.write_bytes(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                               serialization.NoEncryption()))
        key_path.chmod(0o600)  # a server refuses a key others may read
        paths[name] = (str(cert_path), str(key_path))
    return paths
