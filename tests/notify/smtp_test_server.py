# SPDX-License-Identifier: GPL-2.0-or-later
"""An SMTP server on loopback for the mail tests (aiosmtpd; run with /usr/bin/python3).

Prints "PORT <n>" once it listens on a free port, then serves until killed. Every step it sees is
appended to the record file as one JSON object per line, written before the server answers, so a
client that got its answer finds the step recorded. Each accepted message is also stored raw, as
it arrived after DATA with the dot-stuffing removed, in message-<n>.eml beside the record file.

Modes: plain (no TLS), starttls, deny-starttls (offers STARTTLS, answers it with 454), implicit
(TLS from the first byte), silent (accepts connections and never says a word). --offer-auth names
the login mechanisms offered (default LOGIN and PLAIN); XFOO is one no client knows.
"""

import argparse
import asyncio
import datetime
import email
import email.policy
import ipaddress
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, syntax


class Recorder:
    def __init__(self, path):
        self.path = path
        self.messages = 0

    def write(self, **fields):
        with open(self.path, "a", encoding="utf-8") as record:
            record.write(json.dumps(fields) + "\n")

    def store_message(self, raw):
        self.messages += 1
        name = os.path.join(os.path.dirname(self.path), f"message-{self.messages}.eml")
        with open(name, "wb") as out:
            out.write(raw)
        return name


def encrypted(server):
    return server.transport is not None and server.transport.get_extra_info("ssl_object") is not None


def parsed(raw):
    """What a standard mail reader makes of the message."""
    try:
        message = email.message_from_bytes(raw, policy=email.policy.default)
        sender = message["from"].addresses[0]
        return {
            "subject": str(message["subject"]),
            "from_name": sender.display_name,
            "from_address": sender.addr_spec,
            "to": [address.addr_spec for address in message["to"].addresses],
            "date": str(message["date"]),
            "message_id": str(message["message-id"]),
            "content_type": message.get_content_type(),
            "charset": message.get_content_charset(),
            "transfer_encoding": str(message["content-transfer-encoding"]),
            "body": message.get_content().replace("\r\n", "\n"),
            "defects": [type(defect).__name__ for defect in message.defects],
        }
    except Exception as error:  # a message the reader cannot take is a finding, not a crash
        return {"parse_error": repr(error)}


class Handler:
    def __init__(self, recorder, refused, hang_after_data):
        self.recorder = recorder
        self.refused = refused
        self.hang_after_data = hang_after_data

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        self.recorder.write(event="ehlo", tls=encrypted(server))
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        envelope.mail_from = address
        self.recorder.write(event="mail", address=address, tls=encrypted(server))
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address in self.refused:
            self.recorder.write(event="rcpt", address=address, accepted=False)
            return "550 5.1.1 <%s>: Recipient address rejected: unknown user" % address
        envelope.rcpt_tos.append(address)
        self.recorder.write(event="rcpt", address=address, accepted=True)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content
        path = self.recorder.store_message(raw)
        self.recorder.write(event="data", tls=encrypted(server), mail_from=envelope.mail_from,
                            rcpt_tos=envelope.rcpt_tos, file=path, parsed=parsed(raw))
        if self.hang_after_data:
            await asyncio.sleep(3600)
        return "250 2.0.0 Message accepted"


class DenyingSMTP(SMTP):
    @syntax("STARTTLS", when="tls_context")
    async def smtp_STARTTLS(self, arg):
        self.event_handler.recorder.write(event="starttls_denied")
        await self.push("454 4.7.0 TLS not available due to temporary reason")


class UnsupportedAuthSMTP(SMTP):
    @syntax("AUTH <mechanism>")
    async def smtp_AUTH(self, arg):
        self.event_handler.recorder.write(event="auth", mechanism=arg.split()[0] if arg else "",
                                          accepted=False)
        await self.push("504 5.5.4 Unrecognized authentication type")


class OddMechanismSMTP(SMTP):
    async def auth_XFOO(self, server, args):
        return AuthResult(success=False, handled=False)


def make_certificates(folder):
    """A throwaway CA and a server certificate it signed, for 127.0.0.1 and localhost."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    ca_pem = os.path.join(folder, "ca.pem")
    server_pem = os.path.join(folder, "server.pem")
    server_key = os.path.join(folder, "server.key")
    if os.path.exists(server_key):
        return server_pem, server_key
    now = datetime.datetime.now(datetime.timezone.utc)

    def certificate(subject, issuer, public_key, signing_key, extensions):
        builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
                   .public_key(public_key).serial_number(x509.random_serial_number())
                   .not_valid_before(now - datetime.timedelta(hours=1))
                   .not_valid_after(now + datetime.timedelta(days=1)))
        for extension, critical in extensions:
            builder = builder.add_extension(extension, critical=critical)
        return builder.sign(signing_key, hashes.SHA256())

    ca_key = ec.generate_private_key(ec.SECP256R1())
    ca_name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "raidgui mail test CA")])
    ca = certificate(ca_name, ca_name, ca_key.public_key(), ca_key, [
        (x509.BasicConstraints(ca=True, path_length=None), True),
        (x509.KeyUsage(digital_signature=False, content_commitment=False, key_encipherment=False,
                       data_encipherment=False, key_agreement=False, key_cert_sign=True,
                       crl_sign=True, encipher_only=False, decipher_only=False), True),
    ])
    key = ec.generate_private_key(ec.SECP256R1())
    leaf = certificate(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "127.0.0.1")]), ca_name,
                       key.public_key(), ca_key, [
                           (x509.BasicConstraints(ca=False, path_length=None), True),
                           (x509.SubjectAlternativeName([
                               x509.DNSName("localhost"),
                               x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]), False),
                       ])
    with open(ca_pem, "wb") as out:
        out.write(ca.public_bytes(serialization.Encoding.PEM))
    with open(server_pem, "wb") as out:
        out.write(leaf.public_bytes(serialization.Encoding.PEM))
    with open(server_key, "wb") as out:
        out.write(key.private_bytes(serialization.Encoding.PEM,
                                    serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()))
    return server_pem, server_key


async def serve(arguments):
    recorder = Recorder(arguments.record)
    loop = asyncio.get_running_loop()
    tls = None
    if arguments.mode in ("starttls", "deny-starttls", "implicit"):
        certificate, key = make_certificates(arguments.cert_dir)
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(certificate, key)

    if arguments.mode == "silent":
        async def never_answer(reader, writer):
            recorder.write(event="connection")
            await reader.read()
            writer.close()
        server = await asyncio.start_server(never_answer, "127.0.0.1", 0)
    else:
        handler = Handler(recorder, set(arguments.refuse), arguments.hang_after_data)

        def authenticate(server, session, envelope, mechanism, auth_data):
            login = auth_data.login.decode("utf-8", "replace")
            password = auth_data.password.decode("utf-8", "replace")
            accepted = login == arguments.user and password == arguments.password
            recorder.write(event="auth", mechanism=mechanism, login=login, password=password,
                           tls=encrypted(server), accepted=accepted)
            return AuthResult(success=accepted, handled=False)

        protocol = DenyingSMTP if arguments.mode == "deny-starttls" else SMTP
        offered = set(arguments.offer_auth or ["LOGIN", "PLAIN"])
        if "XFOO" in offered:
            protocol = OddMechanismSMTP
        if arguments.auth_unsupported:
            protocol = UnsupportedAuthSMTP
        # AUTH is offered also before TLS, so that the client alone decides whether the password
        # may travel in the clear: that is what the tests watch.
        options = dict(hostname="mail.test", authenticator=authenticate, auth_require_tls=False,
                       auth_exclude_mechanism=[m for m in ("LOGIN", "PLAIN", "XFOO")
                                               if m not in offered],
                       loop=loop)

        def session():
            if arguments.mode in ("starttls", "deny-starttls"):
                return protocol(handler, tls_context=tls, **options)
            return protocol(handler, **options)

        server = await loop.create_server(session, "127.0.0.1", 0,
                                          ssl=tls if arguments.mode == "implicit" else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--record", required=True)
    parser.add_argument("--mode", default="plain",
                        choices=["plain", "starttls", "deny-starttls", "implicit", "silent"])
    parser.add_argument("--cert-dir", default=".")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--hang-after-data", action="store_true")
    parser.add_argument("--offer-auth", action="append")
    parser.add_argument("--auth-unsupported", action="store_true",
                        help="answer 504 to every AUTH, as a server that lists a method it lacks")
    arguments = parser.parse_args()
    try:
        asyncio.run(serve(arguments))
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
