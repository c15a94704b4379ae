"""Loopback SMTP server for the tests, on aiosmtpd.

Listens on 127.0.0.1, port 0, and prints "PORT <n>" once ready. Runs until its
standard input closes. Every message it accepts is parsed with the email package
and summarised in <out>/msg-<n>.txt (n from 1), one "key<TAB>value" line each:
  mail_from, mail_options, rcpt (one per recipient), rcpt_options,
  auth (the login, only when someone logged in), tls (yes or no),
  sni (the server name the client's TLS handshake carried, "-" for none),
  from, to, cc, subject, reply-to, x-mailer, message-id (those present),
  from_addr, to_addr, cc_addr (the address of each entry of those headers),
  part (content type, disposition, file name, charset label, payload in hex),
  raw_hex (the whole message as received, dot-stuffing removed).
CR and LF inside a value are written as \\r and \\n. A message sent with SMTPUTF8
has its header read as UTF-8 (RFC 6532).
Every AUTH exchange that reaches the authenticator, accepted or not, adds its
login as a line to <out>/auth.log.
With --smtputf8 the server offers SMTPUTF8, with --pipelining PIPELINING (RFC 2920:
aiosmtpd reads commands in order, however many come at once); with --record it
appends every byte it receives from clients (commands and data, after TLS) to
<out>/received.bin. With --cram it offers CRAM-MD5 too (RFC 2195), checked against
--user and --password (UTF-8), its logins logged in auth.log like the others.
"""
import argparse
import asyncio
import email
import hashlib
import hmac
import email.policy
import logging
import os
import ssl
import subprocess
import sys
import time

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


class RecordingSMTP(SMTP):
    """Appends what clients send to a file, so a test can tell what reached the server."""

    def __init__(self, handler, record, **kwargs):
        super().__init__(handler, **kwargs)
        self._record = record

    def data_received(self, data):
        with open(self._record, "ab") as f:
            f.write(data)
        super().data_received(data)


class CramMD5:
    """Mixed into the server class: CRAM-MD5 for the account in `cram_account`
    (user and password as UTF-8 bytes, the auth.log path)."""

    cram_account = None

    async def auth_CRAM__MD5(self, server, args):
        user, password, log = self.cram_account
        challenge = "<%d.%d@tandrel.test>" % (os.getpid(), time.time_ns())
        answer = await self.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False)
        login, _, digest = answer.rpartition(b" ")
        with open(log, "a", encoding="utf-8") as f:
            f.write(login.decode("utf-8", "replace") + "\n")
        expected = hmac.new(password, challenge.encode(), hashlib.md5).hexdigest().encode()
        ok = login == user and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False, auth_data=login if ok else None)


def make_context(out, cert, key):
    if not cert:
        cert = os.path.join(out, "cert.pem")
        key = os.path.join(out, "key.pem")
        if not os.path.exists(cert):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                            "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    ctx.sni_callback = remember_server_name
    return ctx


def remember_server_name(ssl_object, name, ctx):
    ssl_object.tandrel_server_name = name


def server_name(server):
    transport = getattr(server, "transport", None)
    ssl_object = transport.get_extra_info("ssl_object") if transport is not None else None
    return getattr(ssl_object, "tandrel_server_name", None) or "-"


class Authenticator:
    def __init__(self, user, password, out):
        self.user = user.encode()
        self.password = password.encode()
        self.log = os.path.join(out, "auth.log")

    def __call__(self, server, session, envelope, mechanism, auth_data):
        with open(self.log, "a", encoding="utf-8") as f:
            login = getattr(auth_data, "login", b"") or b""
            f.write(login.decode("utf-8", "replace") + "\n")
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        # handled=False: the server sends the answer itself, the refusal included.
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)


def protected(server, session):
    # Implicit TLS shows on the transport, STARTTLS on the session.
    transport = getattr(server, "transport", None)
    on_transport = transport is not None and transport.get_extra_info("ssl_object") is not None
    return on_transport or session.ssl is not None


class Recorder:
    def __init__(self, out):
        self.out = out
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        raw = envelope.original_content or envelope.content or b""
        if envelope.smtp_utf8:
            msg = email.message_from_string(raw.decode("utf-8", "surrogateescape"), policy=email.policy.default)
        else:
            msg = email.message_from_bytes(raw, policy=email.policy.default)
        lines = [("mail_from", envelope.mail_from), ("mail_options", " ".join(envelope.mail_options))]
        lines += [("rcpt", r) for r in envelope.rcpt_tos]
        lines.append(("rcpt_options", " ".join(envelope.rcpt_options)))
        login = getattr(session, "auth_data", None)
        if isinstance(login, LoginPassword):
            login = login.login
        if login:
            lines.append(("auth", login.decode() if isinstance(login, bytes) else str(login)))
        lines.append(("tls", "yes" if protected(server, session) else "no"))
        lines.append(("sni", server_name(server)))
        for name in ("from", "to", "cc", "subject", "reply-to", "x-mailer", "message-id"):
            if msg[name] is not None:
                lines.append((name, str(msg[name])))
        for name in ("from", "to", "cc"):
            for address in getattr(msg[name], "addresses", ()):
                lines.append((name + "_addr", address.addr_spec))
        for part in msg.walk():
            if part.is_multipart():
                continue
            payload = part.get_payload(decode=True) or b""
            lines.append(("part", " ".join([
                part.get_content_type(),
                part.get_content_disposition() or "-",
                part.get_filename() or "-",
                part.get_param("charset") or "-",
                payload.hex()])))
        lines.append(("raw_hex", raw.hex()))
        path = os.path.join(self.out, "msg-%d.txt" % self.count)
        with open(path + ".tmp", "w", encoding="utf-8") as f:
            for k, v in lines:
                f.write("%s\t%s\n" % (k, v.replace("\n", "\\n").replace("\r", "\\r")))
        # Whole or not at all: a reader never sees half a summary.
        os.replace(path + ".tmp", path)
        return "250 2.0.0 Message accepted"


class PipeliningRecorder(Recorder):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname  # the hook takes this over from the server
        responses.insert(1, "250-PIPELINING")
        return responses


async def main():
    # aiosmtpd warns about its own use of a deprecated attribute; keep test output clean.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    p = argparse.ArgumentParser()
    p.add_argument("--out", required=True, help="folder for the summaries (and a made certificate)")
    p.add_argument("--mode", choices=["plain", "starttls", "smtps"], default="plain")
    p.add_argument("--cert", help="certificate for TLS; without it one is made in --out")
    p.add_argument("--key", help="private key of --cert")
    p.add_argument("--user")
    p.add_argument("--password", default="")
    p.add_argument("--require-auth", action="store_true")
    p.add_argument("--size", type=int, default=33554432)
    p.add_argument("--exclude-auth", action="append", default=[],
                   help="an AUTH mechanism not to offer (repeatable)")
    p.add_argument("--offer-starttls", action="store_true",
                   help="with --mode smtps: list STARTTLS although TLS is already on")
    p.add_argument("--smtputf8", action="store_true", help="offer SMTPUTF8 (RFC 6531)")
    p.add_argument("--pipelining", action="store_true", help="offer PIPELINING (RFC 2920)")
    p.add_argument("--record", action="store_true", help="keep every byte received in <out>/received.bin")
    p.add_argument("--cram", action="store_true", help="offer CRAM-MD5 for --user and --password")
    a = p.parse_args()

    ctx = make_context(a.out, a.cert, a.key) if a.mode != "plain" else None
    handler = PipeliningRecorder(a.out) if a.pipelining else Recorder(a.out)
    kwargs = dict(data_size_limit=a.size, auth_require_tls=False, auth_required=a.require_auth,
                  auth_exclude_mechanism=a.exclude_auth, enable_SMTPUTF8=a.smtputf8)
    if a.user:
        kwargs["authenticator"] = Authenticator(a.user, a.password, a.out)
    if a.mode == "starttls" or a.offer_starttls:
        kwargs["tls_context"] = ctx

    loop = asyncio.get_running_loop()
    record = os.path.join(a.out, "received.bin")
    server_class = RecordingSMTP if a.record else SMTP
    if a.cram:
        account = ((a.user or "").encode(), a.password.encode(), os.path.join(a.out, "auth.log"))
        server_class = type("CramServer", (CramMD5, server_class), {"cram_account": account})
    factory = ((lambda: server_class(handler, record, **kwargs)) if a.record
               else (lambda: server_class(handler, **kwargs)))
    server = await loop.create_server(factory, host="127.0.0.1", port=0,
                                      ssl=ctx if a.mode == "smtps" else None)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.read)
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
