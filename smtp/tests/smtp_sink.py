"""A loopback SMTP sink for the SMTP client's tests, on aiosmtpd.

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once ready. Every
message accepted is printed as a block of lines:
    MAIL_FROM <address>
    MAIL_OPTIONS <options separated by spaces>
    RCPT <address> (one line per recipient)
    RCPT_OPTIONS <options>
    LOGIN <user name, or "-">
    TLS <yes|no>
    DATA <the message bytes as received, unstuffed, in Base64>
    END
The sink stops when its standard input is closed.
"""

import argparse
import asyncio
import base64
import ssl
import sys
import logging

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def protected(server, session):
    # Implicit TLS shows on the transport, STARTTLS on the session.
    transport = getattr(server, "transport", None)
    on_transport = transport is not None and transport.get_extra_info("ssl_object") is not None
    return on_transport or session.ssl is not None


class Recorder:
    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content or envelope.content or b""
        login = session.auth_data.decode("latin-1") if isinstance(session.auth_data, bytes) else "-"
        lines = [
            f"MAIL_FROM {envelope.mail_from}",
            "MAIL_OPTIONS " + " ".join(envelope.mail_options),
            *[f"RCPT {r}" for r in envelope.rcpt_tos],
            "RCPT_OPTIONS " + " ".join(envelope.rcpt_options),
            f"LOGIN {login}",
            "TLS " + ("yes" if protected(server, session) else "no"),
            "DATA " + base64.b64encode(data).decode("ascii"),
            "END",
        ]
        sys.stdout.write("\n".join(lines) + "\n")
        sys.stdout.flush()
        return "250 2.0.0 Message accepted"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode() and auth_data.password == password.encode())
        if not ok:
            # handled=False: the server answers the refusal itself.
            return AuthResult(success=False, handled=False)
        return AuthResult(success=True, auth_data=auth_data.login)
    return authenticate


def main():
    # aiosmtpd logs a warning about its own use of a deprecated attribute; keep test output clean.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=["plain", "starttls", "smtps"], default="plain")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--auth", help="user:password")
    parser.add_argument("--size", type=int, default=33554432)
    parser.add_argument("--offer-starttls", action="store_true",
                        help="with --mode smtps: list STARTTLS although TLS is already on")
    parser.add_argument("--exclude", action="append", default=[], help="AUTH mechanism not to offer")
    args = parser.parse_args()

    context = None
    if args.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    options = {"data_size_limit": args.size, "hostname": "sink.test"}
    if args.mode == "starttls" or args.offer_starttls:
        options["tls_context"] = context
    if args.auth:
        user, _, password = args.auth.partition(":")
        options["authenticator"] = make_authenticator(user, password)
        options["auth_require_tls"] = False
        options["auth_exclude_mechanism"] = args.exclude

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(Recorder(), loop=loop, **options), host="127.0.0.1", port=0,
        ssl=context if args.mode == "smtps" else None))
    print(f"PORT {server.sockets[0].getsockname()[1]}", flush=True)

    def on_input():
        if not sys.stdin.buffer.read1(4096):
            loop.stop()

    loop.add_reader(sys.stdin.fileno(), on_input)
    loop.run_forever()
    server.close()
    loop.run_until_complete(server.wait_closed())


if __name__ == "__main__":
    main()
