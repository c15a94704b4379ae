"""Loopback SMTP sink for the window's tests.

Listens on 127.0.0.1 with a port chosen by the system and prints that port on the first
line of its output. Accepts every command (AUTH PLAIN and LOGIN included) and every mail;
for each mail received prints one line "MAIL <recipients separated by commas> <size>".
Stops when its standard input is closed.
"""
import socketserver
import sys
import threading


class Handler(socketserver.StreamRequestHandler):
    def reply(self, line):
        self.wfile.write(line.encode("ascii") + b"\r\n")
        self.wfile.flush()

    def handle(self):
        self.reply("220 sink ESMTP")
        recipients = []
        while True:
            line = self.rfile.readline()
            if not line:
                return
            command = line.decode("latin-1").rstrip("\r\n")
            verb = command.split(" ")[0].upper()
            if verb in ("EHLO", "HELO"):
                self.wfile.write(b"250-sink\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n")
                self.wfile.flush()
            elif verb == "AUTH":
                words = command.split(" ")
                steps = 2 if words[1].upper() == "LOGIN" else (0 if len(words) > 2 else 1)
                for _ in range(steps):
                    self.reply("334 ")
                    self.rfile.readline()
                self.reply("235 ok")
            elif verb == "MAIL":
                recipients = []
                self.reply("250 ok")
            elif verb == "RCPT":
                recipients.append(command.split(":", 1)[1].strip().strip("<>"))
                self.reply("250 ok")
            elif verb == "DATA":
                self.reply("354 go on")
                size = 0
                while True:
                    data = self.rfile.readline()
                    if not data or data == b".\r\n":
                        break
                    size += len(data)
                print("MAIL %s %d" % (",".join(recipients), size), flush=True)
                self.reply("250 queued")
            elif verb == "QUIT":
                self.reply("221 bye")
                return
            else:
                self.reply("250 ok")


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
