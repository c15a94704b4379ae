"""A minimal, fast SMTP sink for the mail benchmarks: accepts every message and
throws it away. Listens on 127.0.0.1 port 0 in plain text and on another port 0
with implicit TLS; prints "PORTS <plain> <tls>" and runs until stdin closes.
It speaks just enough SMTP for our client, smtplib and curl: EHLO/HELO, AUTH
PLAIN, MAIL, RCPT, DATA, RSET, NOOP, QUIT.
With --troubled it also serves, plain and TLS, a sink that answers RCPT a second
late and one that drops the connection at RCPT, and prints
"PORTS <plain> <tls> <late plain> <late tls> <drop plain> <drop tls>"."""
import asyncio
import os
import ssl
import subprocess
import sys
import tempfile


class Sink(asyncio.Protocol):
    messages = 0

    def connection_made(self, transport):
        self.t = transport
        self.buf = b""
        self.in_data = False
        transport.write(b"220 sink ESMTP\r\n")

    def data_received(self, data):
        self.buf += data
        while True:
            if self.in_data:
                end = self.buf.find(b"\r\n.\r\n")
                if end < 0:
                    # Keep only a tail long enough to hold a split terminator.
                    if len(self.buf) > 8:
                        self.buf = self.buf[-8:]
                    return
                self.buf = self.buf[end + 5:]
                self.in_data = False
                Sink.messages += 1
                self.t.write(b"250 2.0.0 Ok\r\n")
                continue
            end = self.buf.find(b"\r\n")
            if end < 0:
                return
            line, self.buf = self.buf[:end], self.buf[end + 2:]
            verb = line[:4].upper()
            if verb == b"EHLO":
                self.t.write(b"250-sink\r\n250-SIZE 100000000\r\n250-8BITMIME\r\n250 AUTH PLAIN\r\n")
            elif verb == b"HELO":
                self.t.write(b"250 sink\r\n")
            elif verb == b"AUTH":
                self.t.write(b"235 2.7.0 Ok\r\n")
            elif verb == b"DATA":
                self.in_data = True
                # The terminator search must see the CR LF that ends the DATA line.
                self.buf = b"\r\n" + self.buf
                self.t.write(b"354 go\r\n")
            elif verb == b"QUIT":
                self.t.write(b"221 bye\r\n")
                self.t.close()
                return
            elif verb == b"RCPT":
                self.recipient()
            else:
                self.t.write(b"250 Ok\r\n")

    def recipient(self):
        self.t.write(b"250 Ok\r\n")


class LateSink(Sink):
    def recipient(self):
        asyncio.get_running_loop().call_later(1.0, self.late_reply)

    def late_reply(self):
        if not self.t.is_closing():
            self.t.write(b"250 Ok, late\r\n")


class DropSink(Sink):
    def recipient(self):
        self.t.close()


async def main():
    tmp = tempfile.mkdtemp()
    cert, key = os.path.join(tmp, "c.pem"), os.path.join(tmp, "k.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=localhost", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    loop = asyncio.get_running_loop()
    kinds = [Sink, LateSink, DropSink] if "--troubled" in sys.argv else [Sink]
    ports = []
    for kind in kinds:
        for context in (None, ctx):
            server = await loop.create_server(kind, "127.0.0.1", 0, ssl=context)
            ports.append(str(server.sockets[0].getsockname()[1]))
    print("PORTS " + " ".join(ports), flush=True)
    await loop.run_in_executor(None, sys.stdin.read)
    print("SINK %d" % Sink.messages, flush=True)


if __name__ == "__main__":
    asyncio.run(main())
