"""A minimal, fast SMTP sink for the mail benchmarks: accepts every message and
throws it away. Listens on 127.0.0.1 port 0 in plain text and on another port 0
with implicit TLS; prints "PORTS <plain> <tls>" and runs until stdin closes, then
prints "SINK <messages received>".
It speaks just enough SMTP for our client, smtplib and curl: EHLO/HELO, AUTH
PLAIN, MAIL, RCPT, DATA, RSET, NOOP, QUIT. Each connection has a thread of its own
with blocking sockets, so TLS runs in OpenSSL itself: the sink's own cost per
message stays small beside the clients it measures.
With --troubled it also serves, plain and TLS, a sink that answers RCPT a second
late and one that drops the connection at RCPT, and prints
"PORTS <plain> <tls> <late plain> <late tls> <drop plain> <drop tls>".
bench/mail/roundtrips imports it for a sink that offers PIPELINING and STARTTLS."""
import os
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

LOCK = threading.Lock()
MESSAGES = 0


class Sink(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""
        if isinstance(self.request, ssl.SSLSocket):
            try:
                self.request.do_handshake()
            except (ssl.SSLError, OSError):
                self.request = None

    def recv(self):
        data = self.request.recv(65536)
        if not data:
            raise ConnectionError
        self.buf += data

    def line(self):
        while True:
            end = self.buf.find(b"\r\n")
            if end >= 0:
                line, self.buf = self.buf[:end], self.buf[end + 2:]
                return line
            self.recv()

    def data(self):
        # The terminator search must see the CR LF that ends the DATA line.
        self.buf = b"\r\n" + self.buf
        while True:
            end = self.buf.find(b"\r\n.\r\n")
            if end >= 0:
                self.buf = self.buf[end + 5:]
                return
            # Keep only a tail long enough to hold a split terminator.
            self.buf = self.buf[-8:]
            self.recv()

    def ehlo(self):
        """The EHLO reply."""
        return b"250-sink\r\n250-SIZE 100000000\r\n250-8BITMIME\r\n250 AUTH PLAIN\r\n"

    def starttls(self):
        """Answers STARTTLS; False when the sink does not offer it."""
        return False

    def auth(self, line):
        """Answers the AUTH command line (and what follows it): anyone gets in."""
        self.request.sendall(b"235 2.7.0 Ok\r\n")

    def handle(self):
        global MESSAGES
        if self.request is None:
            return
        try:
            self.request.sendall(b"220 sink ESMTP\r\n")
            while True:
                send = self.request.sendall
                line = self.line()
                verb = line[:4].upper()
                if verb == b"EHLO":
                    send(self.ehlo())
                elif verb == b"STAR" and self.starttls():
                    continue
                elif verb == b"HELO":
                    send(b"250 sink\r\n")
                elif verb == b"AUTH":
                    self.auth(line)
                elif verb == b"DATA":
                    send(b"354 go\r\n")
                    self.data()
                    with LOCK:
                        MESSAGES += 1
                    send(b"250 2.0.0 Ok\r\n")
                elif verb == b"QUIT":
                    send(b"221 bye\r\n")
                    return
                elif verb == b"RCPT":
                    if not self.recipient():
                        return
                else:
                    send(b"250 Ok\r\n")
        except (ConnectionError, OSError):
            return

    def recipient(self):
        """Answers RCPT; False ends the connection."""
        self.request.sendall(b"250 Ok\r\n")
        return True


class LateSink(Sink):
    def recipient(self):
        time.sleep(1.0)
        self.request.sendall(b"250 Ok, late\r\n")
        return True


class DropSink(Sink):
    def recipient(self):
        return False


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, kind, context=None):
        self.context = context
        super().__init__(("127.0.0.1", 0), kind)

    def get_request(self):
        sock, address = super().get_request()
        if self.context is not None:
            # The handshake runs on the connection's own thread, at its first read.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address


def main():
    tmp = tempfile.mkdtemp()
    cert, key = os.path.join(tmp, "c.pem"), os.path.join(tmp, "k.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    kinds = [Sink, LateSink, DropSink] if "--troubled" in sys.argv else [Sink]
    ports = []
    for kind in kinds:
        for tls in (None, context):
            server = Server(kind, tls)
            threading.Thread(target=server.serve_forever, daemon=True).start()
            ports.append(str(server.server_address[1]))
    print("PORTS " + " ".join(ports), flush=True)
    sys.stdin.read()
    print("SINK %d" % MESSAGES, flush=True)


if __name__ == "__main__":
    main()
