"""A TLS server on loopback that misbehaves on purpose, for the time-out tests.

Listens on 127.0.0.1, port 0, and prints "PORT <n>" once ready; serves every
connection the same way until its standard input closes. Python's ssl speaks
TLS 1.3, so session tickets follow every handshake.
Modes:
  silent   completes the handshake, then says nothing
  mute     takes the connection and never answers the client's hello
  half     completes the handshake, then sends the first half of a record that
           holds an SMTP greeting, and nothing more
  deaf     completes the handshake, greets like an SMTP server, then never reads
           again, so that the client's writes find no room
  certreq  TLS 1.3 only, wants a client certificate: the client's handshake ends
           before the server's verdict, which comes as an alert when it reads
"""
import os
import socket
import ssl
import sys
import tempfile
import threading

from smtp_server import make_context


def handshake(conn, tls, incoming, outgoing):
    """Drives the server handshake over conn; False when the client went away."""
    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            conn.sendall(outgoing.read())
            data = conn.recv(65536)
            if not data:
                return False
            incoming.write(data)
        except ssl.SSLError:
            conn.sendall(outgoing.read())  # the alert that says why
            return False
    conn.sendall(outgoing.read())  # the last flight and the session tickets
    return True


def serve(conn, context, mode):
    with conn:
        if mode != "mute":
            incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
            tls = context.wrap_bio(incoming, outgoing, server_side=True)
            if not handshake(conn, tls, incoming, outgoing):
                return
            if mode == "half":
                tls.write(b"220 tls peer ready\r\n")
                record = outgoing.read()
                conn.sendall(record[:len(record) // 2])
            if mode == "deaf":
                tls.write(b"220 tls peer ready\r\n")
                conn.sendall(outgoing.read())
                threading.Event().wait()
        # Say nothing more; whatever comes is read and dropped until the client leaves.
        while conn.recv(65536):
            pass


def main():
    mode = sys.argv[1]
    out = tempfile.mkdtemp()
    context = make_context(out, None, None)
    if mode == "certreq":
        context.minimum_version = ssl.TLSVersion.TLSv1_3
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(os.path.join(out, "cert.pem"))
    listener = socket.create_server(("127.0.0.1", 0))
    print("PORT %d" % listener.getsockname()[1], flush=True)

    def accept():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=serve, args=(conn, context, mode), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
