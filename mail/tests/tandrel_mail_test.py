"""End-to-end checks of tandrel-mail: arguments, --save, a send to aiosmtpd, a failed send."""
import email
import email.policy
import os
import socket
import subprocess
import sys
import tempfile
import unittest

TOOL = sys.argv.pop(1) if len(sys.argv) > 1 else "tandrel-mail"
HERE = os.path.dirname(os.path.abspath(__file__))


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)


class Server:
    """smtp_server.py on loopback; messages summarised in its folder."""

    def __init__(self, *args):
        self.dir = tempfile.TemporaryDirectory()
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "..", "testing", "smtp_server.py"),
                                      "--out", self.dir.name, *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        self.port = line.split()[1]

    def messages(self):
        found = []
        n = 1
        while os.path.exists(os.path.join(self.dir.name, "msg-%d.txt" % n)):
            with open(os.path.join(self.dir.name, "msg-%d.txt" % n), encoding="utf-8") as f:
                found.append([tuple(l.rstrip("\n").split("\t", 1)) for l in f])
            n += 1
        return found

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)
        self.dir.cleanup()


class TandrelMailTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.body = os.path.join(self.tmp.name, "body.txt")
        with open(self.body, "w", encoding="utf-8") as f:
            f.write("Olá, João\nsegunda linha\n")
        self.attachment = os.path.join(self.tmp.name, "cliente.xml")
        self.attachment_bytes = b'<?xml version="1.0"?>\r\n<c>\xc3\xa7\x00\xff</c>' * 50
        with open(self.attachment, "wb") as f:
            f.write(self.attachment_bytes)

    def tearDown(self):
        self.tmp.cleanup()

    def test_bad_arguments_exit_2_with_a_message(self):
        cases = {
            "unknown option": ["--bogus"],
            "missing value": ["--host"],
            "port not a number": ["--port", "x25", "--from", "a@x", "--to", "b@y"],
            "attempts out of range": ["--attempts", "0", "--from", "a@x", "--to", "b@y"],
            "no sender": ["--to", "b@y"],
            "no recipient": ["--from", "a@x"],
            "missing attachment": ["--from", "a@x", "--to", "b@y", "--attach", "/nonexistent/f.pdf"],
            "bad priority": ["--priority", "urgent", "--save", "x.eml"],
        }
        for name, args in cases.items():
            with self.subTest(name):
                r = run(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn("tandrel-mail: ", r.stderr)

    def test_help(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn("--delivery-receipt", r.stdout)

    def test_save_writes_the_message_without_sending(self):
        eml = os.path.join(self.tmp.name, "out.eml")
        r = run("--save", eml, "--from", "loja@example.com", "--from-name", "Loja Ávila",
                "--to", "cliente@example.com", "--subject", "Dados Cadastrais do Cliente",
                "--body-file", self.body, "--attach", self.attachment)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(eml, "rb") as f:
            raw = f.read()
        self.assertTrue(raw.endswith(b"\r\n"))
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        self.assertEqual(str(msg["subject"]), "Dados Cadastrais do Cliente")
        self.assertEqual(msg["from"].addresses[0].display_name, "Loja Ávila")
        self.assertEqual(msg["x-mailer"], "Tandrel - MailSender")
        self.assertRegex(msg["message-id"], r"^<[0-9a-f]{32}@example\.com>$")
        parts = [p for p in msg.walk() if not p.is_multipart()]
        self.assertEqual(parts[0].get_content_type(), "text/plain")
        self.assertEqual(parts[0].get_payload(decode=True),
                         b"\xef\xbb\xbf" + "Olá, João\r\nsegunda linha\r\n".encode("utf-8"))
        self.assertEqual(parts[1].get_filename(), "cliente.xml")
        # The declaration names no encoding: XML reads it as UTF-8, and so does the label.
        self.assertEqual(parts[1].get_param("charset"), "UTF-8")
        self.assertEqual(parts[1].get_payload(decode=True), self.attachment_bytes)
        self.assertIn("pmsAddingMimeParts", r.stderr)

    def test_send_to_aiosmtpd_with_auth(self):
        server = Server("--user", "loja", "--password", "s3nha", "--require-auth")
        try:
            r = run("--host", "127.0.0.1", "--port", server.port, "--user", "loja", "--password", "s3nha",
                    "--from", "loja@example.com", "--to", "a@example.com;b@example.com",
                    "--bcc", "c@example.com", "--subject", "Olá", "--body-file", self.body,
                    "--attach", self.attachment)
            self.assertEqual(r.returncode, 0, r.stderr)
            steps = r.stderr.split()
            self.assertEqual(steps, ["pmsStartProcess", "pmsConfigHeaders", "pmsAddingMimeParts",
                                     "pmsLoginSMTP", "pmsStartSends", "pmsSendTo", "pmsSendBCC",
                                     "pmsSendData", "pmsLogoutSMTP", "pmsDone"])
            [mail] = server.messages()
            fields = dict(mail)
            self.assertEqual([v for k, v in mail if k == "rcpt"],
                             ["a@example.com", "b@example.com", "c@example.com"])
            self.assertEqual(fields["auth"], "loja")
            self.assertEqual(fields["subject"], "Olá")
            self.assertRegex(fields["message-id"], r"^<[0-9a-f]{32}@example\.com>$")
            attachment = [v for k, v in mail if k == "part"][1].split(" ")
            self.assertEqual(attachment[2], "cliente.xml")
            self.assertEqual(bytes.fromhex(attachment[4]), self.attachment_bytes)
        finally:
            server.close()

    def test_international_customer_through_smtputf8(self):
        server = Server("--smtputf8")
        try:
            r = run("--host", "127.0.0.1", "--port", server.port, "--from", "loja@açaí.com.br",
                    "--to", "josé@açaí.com.br", "--subject", "Dados", "--body-file", self.body)
            self.assertEqual(r.returncode, 0, r.stderr)
            [mail] = server.messages()
            fields = dict(mail)
            self.assertEqual(fields["mail_from"], "loja@xn--aa-4iaz.com.br")
            self.assertEqual([v for k, v in mail if k == "rcpt"], ["josé@xn--aa-4iaz.com.br"])
            self.assertEqual(fields["to_addr"], "josé@xn--aa-4iaz.com.br")
            self.assertIn("SMTPUTF8", fields["mail_options"].split())
        finally:
            server.close()

    def test_failed_send_exits_1_with_the_socket_error(self):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = str(s.getsockname()[1])
        s.close()  # nothing listens there now
        r = run("--port", port, "--attempts", "1", "--from", "a@x", "--to", "b@y")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("tandrel-mail: SMTP Error: Unable to Login.", r.stderr)
        self.assertIn("socket error 10061", r.stderr)
        self.assertIn("pmsError", r.stderr)


if __name__ == "__main__":
    unittest.main()
