"""End-to-end checks of tandrel-mail: arguments, --save, sends to aiosmtpd (plain and TLS with
a test CA), where the password comes from, --eml, a failed send, the manual page, servers that
answer late or go quiet after the TLS handshake, files that cannot be read, logins that do not
happen, accented credentials."""
import email
import email.policy
import os
import pty
import re
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TOOL = sys.argv.pop(1) if len(sys.argv) > 1 else "tandrel-mail"
HERE = os.path.dirname(os.path.abspath(__file__))


def run(*args, env=None, stdin=subprocess.DEVNULL, input=None, as_other_user=False, file_limit=None):
    """Runs the tool; `as_other_user` runs it as an unprivileged user when the test runs as root
    (whom no permission stops), `file_limit` caps the size of the files it writes, as a full
    disk would (bytes)."""
    environment = dict(os.environ)
    environment.pop("TANDREL_MAIL_PASSWORD", None)
    environment.update(env or {})
    if input is not None:
        stdin = None

    def limits():
        if file_limit is not None:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails instead
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
        if as_other_user and os.geteuid() == 0:
            os.setgid(65534)
            os.setgroups([])
            os.setuid(65534)

    return subprocess.run([TOOL, *args], capture_output=True, text=input is None or isinstance(input, str),
                          timeout=60, env=environment, stdin=stdin, input=input, preexec_fn=limits)


def why_no_other_user():
    """Why the tool cannot be run as an unprivileged user to meet a permission it lacks; None
    when it can (or need not: the test does not run as root, whom no permission stops)."""
    if os.geteuid() != 0:
        return None
    for folder in [os.path.dirname(os.path.abspath(TOOL)), tempfile.gettempdir()]:
        while True:
            if not os.stat(folder).st_mode & 0o001:
                return "running as root, and other users may not enter %s to run the tool as one" % folder
            if folder == "/":
                break
            folder = os.path.dirname(folder)
    return None


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class TestCA:
    """A CA, a server certificate it signed for localhost and 127.0.0.1, and one for another name."""

    def __init__(self):
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        key = ["-newkey", "rsa:2048", "-nodes", "-days", "2"]
        openssl("req", "-x509", *key, "-subj", "/CN=Tandrel Test CA", "-keyout", "ca.key", "-out", "ca.pem", cwd=d)
        for name, alt in (("server", "DNS:localhost,IP:127.0.0.1"), ("other", "DNS:other.tandrel.test")):
            openssl("req", *key, "-subj", "/CN=" + alt.split(",")[0][4:], "-keyout", name + ".key",
                    "-out", name + ".csr", cwd=d)
            with open(os.path.join(d, name + ".ext"), "w") as f:
                f.write("subjectAltName=%s\n" % alt)
            openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-days", "2",
                    "-extfile", name + ".ext", "-out", name + ".pem", cwd=d)

    def file(self, name):
        return os.path.join(self.dir.name, name)


class Server:
    """smtp_server.py on loopback; messages summarised in its folder."""

    def __init__(self, *args):
        self.dir = tempfile.TemporaryDirectory()
        self.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "..", "testing", "smtp_server.py"),
                                      "--out", self.dir.name, *args],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True)
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

    def auth_attempts(self):
        try:
            with open(os.path.join(self.dir.name, "auth.log"), encoding="utf-8") as f:
                return f.read().split()
        except FileNotFoundError:
            return []

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.dir.cleanup()


class LateServer:
    """A plain SMTP server on loopback that answers one step late: "GREETING", a verb, or
    "." for the end of the data. Keeps what each connection received and every message it
    took in (the final dot received), as a real server would have stored it."""

    def __init__(self, late, delay):
        self.late, self.delay = late, delay
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = str(self.listener.getsockname()[1])
        self.received, self.messages = [], []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            conn, _ = self.listener.accept()
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        log = bytearray()
        self.received.append(log)
        lines = conn.makefile("rb")

        def reply(step, text):
            if step == self.late:
                time.sleep(self.delay)
            try:
                conn.sendall(text + b"\r\n")
            except OSError:
                pass

        with conn:
            reply("GREETING", b"220 late ESMTP")
            for line in lines:
                log += line
                verb = line.split(b" ")[0].split(b":")[0].strip().upper().decode()
                if verb == "EHLO":
                    reply(verb, b"250-late\r\n250 SIZE 1000000")
                elif verb == "DATA":
                    reply(verb, b"354 go ahead")
                    message = []
                    for data in lines:
                        log += data
                        if data == b".\r\n":
                            self.messages.append(b"".join(message))
                            reply(".", b"250 2.0.0 queued")
                            break
                        message.append(data)
                elif verb == "QUIT":
                    reply(verb, b"221 bye")
                    return
                else:
                    reply(verb, b"250 ok")

    def close(self):
        self.listener.close()


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
        self.password_file = os.path.join(self.tmp.name, "senha")
        with open(self.password_file, "w", encoding="utf-8") as f:
            f.write("s3nha\nsecond line is not the password\n")
        os.chmod(self.password_file, 0o600)
        self.eml_without_recipients = os.path.join(self.tmp.name, "norcpt.eml")
        with open(self.eml_without_recipients, "wb") as f:
            f.write(b"From: a@example.com\r\nSubject: x\r\n\r\nbody\r\n")

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
            "ca file and insecure": ["--ssl", "--ca-file", self.body, "--insecure", "--from", "a@x", "--to", "b@y"],
            "ca file without tls": ["--ca-file", self.body, "--from", "a@x", "--to", "b@y"],
            "missing ca file": ["--ssl", "--ca-file", "/nonexistent/ca.pem", "--from", "a@x", "--to", "b@y"],
            "two passwords": ["--password", "x", "--password-file", self.body, "--from", "a@x", "--to", "b@y"],
            "missing password file": ["--password-file", "/nonexistent/pw", "--from", "a@x", "--to", "b@y"],
            "missing eml": ["--eml", "/nonexistent/m.eml"],
            "eml and subject": ["--eml", self.body, "--subject", "x", "--to", "b@y"],
            "eml and save": ["--eml", self.body, "--save", "x.eml"],
            "eml without sender": ["--eml", self.body, "--to", "b@y"],
            "eml without recipient": ["--eml", self.eml_without_recipients],
        }
        for name, args in cases.items():
            with self.subTest(name):
                r = run(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn("tandrel-mail: ", r.stderr)

    def test_option_forms_and_strict_numbers(self):
        eml = os.path.join(self.tmp.name, "forms.eml")
        save = ["--save", eml, "--from", "a@example.com", "--to", "b@example.com"]
        accepted = {  # the arguments, and the subject they give
            "name=value": (["--save=" + eml, "--from=a@example.com", "--to=b@example.com", "--subject=a=b",
                            "--port=025"], "a=b"),
            "empty value after =": (save + ["--subject="], ""),
            "-- ends the options": (save + ["--subject", "x", "--"], "x"),
            "value that looks like an option": (save + ["--subject", "--to"], "--to"),
        }
        for name, (args, subject) in accepted.items():
            with self.subTest(name):
                r = run(*args)
                self.assertEqual(r.returncode, 0, r.stderr)
                with open(eml, "rb") as f:
                    msg = email.message_from_bytes(f.read(), policy=email.policy.default)
                self.assertEqual(msg["to"].addresses[0].addr_spec, "b@example.com")
                self.assertEqual(str(msg["subject"] or ""), subject)
                os.remove(eml)
        refused = {
            "port with a leading space": (["--port", " 25"], '--port wants a number from 1 to 65535, not " 25"'),
            "port with a plus sign": (["--port", "+25"], '--port wants a number from 1 to 65535, not "+25"'),
            "port with trailing letters": (["--port", "25x"], '--port wants a number from 1 to 65535, not "25x"'),
            "empty port": (["--port="], '--port wants a number from 1 to 65535, not ""'),
            "timeout with a plus sign": (["--timeout=+5"], "--timeout wants a number"),
            "attempts beyond an int": (["--attempts", "4294967299"], "--attempts wants a number from 1 to 255"),
            "value given to a flag": (["--ssl=yes"], "--ssl takes no value"),
            "option after --": (["--"], 'unexpected argument "--to"'),
            "word that is not an option": (["extra"], 'unexpected argument "extra"'),
            "ambiguous abbreviation": (["--in"], 'ambiguous option "--in"'),
        }
        for name, (args, message) in refused.items():
            with self.subTest(name):
                tail = ["--to", "b@example.com"] if args == ["--"] else []
                r = run("--save", eml, "--from", "a@example.com", *args, *tail)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn("tandrel-mail: " + message, r.stderr)
                self.assertFalse(os.path.exists(eml))

    def test_help_and_version(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn("--delivery-receipt", r.stdout)
        self.assertRegex(r.stdout, r"--password SECRET +its password \(other users of this machine can read it")
        r = run("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout, r"^tandrel-mail \d+\.\d+")

    def test_manual_page_explains_every_option_and_exit_status(self):
        with open(os.path.join(HERE, "..", "..", "packaging", "tandrel-mail.1"), encoding="utf-8") as f:
            page = f.read()
        options = re.findall(r"^\s+(--[a-z-]+)", run("--help").stdout, re.M)
        self.assertGreater(len(options), 25)
        for option in options:
            with self.subTest(option):
                self.assertRegex(page, r"\n\.B[IR]? %s[ \n]" % re.escape(option.replace("-", "\\-")))
        self.assertIn("TANDREL_MAIL_PASSWORD", page)
        exit_section = page[page.index(".SH EXIT STATUS"):]
        for status in ("0", "1", "2"):
            self.assertRegex(exit_section, r"\.TP\n\.B %s\n" % status)

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
            r = run("--host", "127.0.0.1", "--port", server.port, "--user", "loja", "--password-file",
                    self.password_file, "--from", "loja@example.com", "--to", "a@example.com;b@example.com",
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
        self.assertIn("TCP/IP Socket error 10061: Connection refused", r.stderr)
        self.assertIn("pmsError", r.stderr)


    def test_password_reaches_the_server_from_file_environment_or_prompt(self):
        server = Server("--user", "loja", "--password", "s3nha", "--require-auth")
        send = ["--port", server.port, "--user", "loja", "--from", "a@example.com", "--to", "b@example.com",
                "--attempts", "1"]
        try:
            r = run(*send, "--password-file", self.password_file)
            self.assertEqual(r.returncode, 0, r.stderr)
            r = run(*send, env={"TANDREL_MAIL_PASSWORD": "s3nha"})
            self.assertEqual(r.returncode, 0, r.stderr)
            # The command line beats the environment.
            r = run(*send, "--password-file", self.password_file, env={"TANDREL_MAIL_PASSWORD": "wrong"})
            self.assertEqual(r.returncode, 0, r.stderr)
            status, shown = self.run_on_terminal(send, "s3nha")
            self.assertEqual(status, 0, shown)
            self.assertIn(b"Password for loja at 127.0.0.1: ", shown)
            self.assertNotIn(b"s3nha", shown)  # not echoed
            self.assertEqual([dict(m)["auth"] for m in server.messages()], ["loja"] * 4)
            # Without a terminal nothing is asked, and no empty password is sent.
            r = run(*send)
            self.assertEqual(r.returncode, 2, r.stderr)
            self.assertIn("tandrel-mail: --user loja needs a password", r.stderr)
            self.assertNotIn("Password for", r.stderr)
            self.assertEqual(server.auth_attempts(), ["loja"] * 4)
        finally:
            server.close()

    @staticmethod
    def run_on_terminal(args, typed):
        """Runs the tool on a pseudo-terminal, types `typed` at its prompt; exit status and screen."""
        environment = {k: v for k, v in os.environ.items() if k != "TANDREL_MAIL_PASSWORD"}
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(TOOL, [TOOL, *args], environment)
        shown = b""
        typed_yet = False
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
            if not typed_yet and b"Password for" in shown:
                os.write(fd, typed.encode() + b"\n")
                typed_yet = True
        os.close(fd)
        _, status = os.waitpid(pid, 0)
        return os.waitstatus_to_exitcode(status), shown

    def test_certificate_checked_against_trusted_authorities_and_host(self):
        ca = TestCA()
        send = ["--user", "loja", "--password-file", self.password_file, "--from", "a@example.com",
                "--to", "b@example.com", "--attempts", "1"]
        cases = [
            # name, server mode, certificate, tandrel-mail options, host, error (None: delivered), server name
            ("untrusted", "smtps", "server", ["--ssl"], "localhost", "unable to get local issuer certificate", None),
            ("untrusted_starttls", "starttls", "server", ["--tls"], "localhost",
             "unable to get local issuer certificate", None),
            ("trusted", "smtps", "server", ["--ssl", "--ca-file", ca.file("ca.pem")], "localhost", None, "localhost"),
            ("trusted_starttls", "starttls", "server", ["--tls", "--ca-file", ca.file("ca.pem")], "localhost",
             None, "localhost"),
            ("trusted_address", "smtps", "server", ["--ssl", "--ca-file", ca.file("ca.pem")], "127.0.0.1", None, "-"),
            ("insecure", "smtps", "server", ["--ssl", "--insecure"], "localhost", None, "localhost"),
            ("other_name", "smtps", "other", ["--ssl", "--ca-file", ca.file("ca.pem")], "localhost",
             "hostname mismatch", None),
        ]
        try:
            for name, mode, cert, options, host, error, server_name in cases:
                with self.subTest(name):
                    server = Server("--mode", mode, "--cert", ca.file(cert + ".pem"), "--key", ca.file(cert + ".key"),
                                    "--user", "loja", "--password", "s3nha", "--require-auth")
                    try:
                        r = run("--host", host, "--port", server.port, *options, *send)
                        if error is None:
                            self.assertEqual(r.returncode, 0, r.stderr)
                            [mail] = server.messages()
                            self.assertEqual(dict(mail)["tls"], "yes")
                            self.assertEqual(dict(mail)["sni"], server_name)
                            self.assertEqual("--insecure" in options,
                                             "the server's certificate is not checked" in r.stderr)
                        else:
                            self.assertEqual(r.returncode, 1, r.stderr)
                            self.assertIn("TCP/IP Socket error 10091: ", r.stderr)
                            self.assertIn("certificate verify failed: " + error, r.stderr)
                            self.assertEqual(server.messages(), [])
                            self.assertEqual(server.auth_attempts(), [])
                    finally:
                        server.close()
        finally:
            ca.dir.cleanup()

    def test_tls_with_a_certificate_check_refuses_a_server_without_starttls(self):
        # Someone on the path can strip STARTTLS from the hello; the password must not follow.
        server = Server("--mode", "plain", "--user", "loja", "--password", "s3nha", "--require-auth")
        try:
            send = ["--host", "127.0.0.1", "--port", server.port, "--tls", "--user", "loja",
                    "--password-file", self.password_file, "--from", "a@example.com", "--to", "b@example.com",
                    "--attempts", "1"]
            r = run(*send)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn("does not offer STARTTLS", r.stderr)
            self.assertEqual(server.auth_attempts(), [])
            self.assertEqual(server.messages(), [])
            r = run(*send, "--insecure")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(server.auth_attempts(), ["loja"])
            self.assertEqual(dict(server.messages()[0])["tls"], "no")
            # Said before (it may happen) and after (it did): not only the certificate is at stake.
            self.assertIn("a server that does not offer STARTTLS gets the password and the mail unencrypted",
                          r.stderr)
            self.assertIn("warning: the server does not offer STARTTLS: the connection is not encrypted", r.stderr)
        finally:
            server.close()

    def test_eml_sends_a_saved_message_byte_for_byte(self):
        eml = os.path.join(self.tmp.name, "saved.eml")
        r = run("--save", eml, "--from", "loja@example.com", "--from-name", "Loja Ávila",
                "--to", "Cliente Um <um@example.com>", "--to", "dois@example.com", "--cc", "tres@example.com",
                "--subject", "Dados", "--body-file", self.body, "--attach", self.attachment)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(eml, "rb") as f:
            saved = f.read()
        server = Server()
        try:
            # Envelope from the header.
            r = run("--port", server.port, "--eml", eml)
            self.assertEqual(r.returncode, 0, r.stderr)
            # Envelope given, message from standard input.
            r = run("--port", server.port, "--eml", "-", "--from", "outro@example.com", "--bcc", "oculto@example.com",
                    input=saved)
            self.assertEqual(r.returncode, 0, r.stderr)
            first, second = server.messages()
            self.assertEqual(bytes.fromhex(dict(first)["raw_hex"]), saved)
            self.assertEqual(dict(first)["mail_from"], "loja@example.com")
            self.assertEqual([v for k, v in first if k == "rcpt"],
                             ["um@example.com", "dois@example.com", "tres@example.com"])
            self.assertEqual(bytes.fromhex(dict(second)["raw_hex"]), saved)
            self.assertEqual(dict(second)["mail_from"], "outro@example.com")
            self.assertEqual([v for k, v in second if k == "rcpt"], ["oculto@example.com"])
        finally:
            server.close()

    def test_late_server_gets_no_stray_command_and_no_second_copy(self):
        for late in ["GREETING", "EHLO", "MAIL", "RCPT", "DATA", "."]:
            with self.subTest(late):
                server = LateServer(late, 2.0)
                try:
                    r = run("--port", server.port, "--timeout", "500", "--from", "a@example.com",
                            "--to", "b@example.com", "--body-file", self.body)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("TCP/IP Socket error 10060: Connection timed out", r.stderr)
                    self.assertLessEqual(len(server.messages), 1)
                    for message in server.messages:
                        # A header line first, not a command taken for the message.
                        self.assertRegex(message.split(b"\r\n")[0], rb"^[A-Za-z-]+: ", message[:40])
                    for log in server.received:
                        commands = [l.split(b" ")[0] for l in bytes(log).split(b"\r\n")]
                        # Each command once at most: none repeated on a conversation out of step.
                        for verb in [b"EHLO", b"MAIL", b"RCPT", b"DATA", b"QUIT"]:
                            self.assertLessEqual(commands.count(verb), 1, bytes(log))
                finally:
                    server.close()

    def test_tls_server_that_fails_after_the_handshake_ends_the_login_with_its_error(self):
        # A TLS 1.3 server that wants a client certificate says so after the handshake: OpenSSL's
        # reason is told, as for a failed handshake.
        for mode, error in [("silent", "10060: Connection timed out"), ("half", "10060: Connection timed out"),
                            ("mute", "10091: Network subsystem is unusable"),
                            ("certreq", "10091: error:0A00045C:SSL routines::tlsv13 alert certificate required")]:
            with self.subTest(mode):
                peer = subprocess.Popen([sys.executable, os.path.join(HERE, "..", "..", "testing", "tls_peer.py"), mode],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                try:
                    port = peer.stdout.readline().split()[1]
                    r = run("--port", port, "--ssl", "--insecure", "--timeout", "500", "--attempts", "1",
                            "--from", "a@example.com", "--to", "b@example.com")
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("SMTP Error: Unable to Login.", r.stderr)
                    self.assertIn("TCP/IP Socket error " + error, r.stderr)
                finally:
                    peer.stdin.close()
                    peer.wait(timeout=10)


    def test_every_file_that_cannot_be_read_is_bad_arguments_with_the_reason(self):
        folder = os.path.join(self.tmp.name, "pasta")
        os.mkdir(folder)
        fifo = os.path.join(self.tmp.name, "fifo")
        os.mkfifo(fifo)
        locked = os.path.join(self.tmp.name, "trancado.txt")
        with open(locked, "w") as f:
            f.write("x\n")
        os.chmod(locked, 0)
        os.chmod(self.tmp.name, 0o755)  # others may look inside; the locked file stays closed
        files = {"missing": (os.path.join(self.tmp.name, "nada.txt"), "No such file or directory"),
                 "directory": (folder, "it is a directory"),
                 "fifo": (fifo, "it is a FIFO (named pipe), not a file"),
                 "no_permission": (locked, "Permission denied")}
        options = {"--attach": [], "--inline": [], "--body-file": [], "--html-file": [],
                   "--ca-file": ["--ssl"], "--password-file": ["--user", "loja"], "--eml": None}
        for option, extra in options.items():
            for kind, (path, reason) in files.items():
                with self.subTest(option=option, kind=kind):
                    if kind == "no_permission" and why_no_other_user():
                        self.skipTest(why_no_other_user())
                    args = [option, path] if extra is None else \
                        ["--from", "a@example.com", "--to", "b@example.com", *extra, option, path]
                    r = run(*args, as_other_user=kind == "no_permission")
                    self.assertEqual(r.returncode, 2, r.stderr)
                    self.assertIn('tandrel-mail: %s: cannot read "%s": %s' % (option, path, reason), r.stderr)
                    self.assertNotIn("pmsStartProcess", r.stderr)

    def test_empty_recipients_are_bad_arguments(self):
        server = Server("--record")
        try:
            for option, value in [("--to", ""), ("--to", " ; ;"), ("--cc", "a@example.com;"), ("--bcc", " ")]:
                with self.subTest(option=option, value=value):
                    r = run("--port", server.port, "--from", "a@example.com", option, value)
                    self.assertEqual(r.returncode, 2, r.stderr)
                    self.assertIn('tandrel-mail: %s: no address in "%s"' % (option, value), r.stderr)
            self.assertFalse(os.path.exists(os.path.join(server.dir.name, "received.bin")))
        finally:
            server.close()

    def test_save_writes_the_whole_file_or_leaves_the_earlier_one(self):
        big = os.path.join(self.tmp.name, "big.txt")
        with open(big, "w", encoding="utf-8") as f:
            f.write(("linha de texto do corpo\n" * 4000))
        target = os.path.join(self.tmp.name, "out.eml")
        with open(target, "wb") as f:
            f.write(b"earlier message\r\n")
        mail = ["--from", "a@example.com", "--to", "b@example.com", "--body-file", big]
        nowhere = os.path.join(self.tmp.name, "no-such-folder", "out.eml")
        cases = [("disk_full", target, {"file_limit": 8192}, "File too large"),
                 ("no_folder", nowhere, {}, "No such file or directory"),
                 ("no_permission", target, {"as_other_user": True}, "Permission denied")]
        os.chmod(self.tmp.name, 0o755)
        for name, path, how, reason in cases:
            with self.subTest(name):
                if how.get("as_other_user") and why_no_other_user():
                    self.skipTest(why_no_other_user())
                r = run("--save", path, *mail, **how)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn('tandrel-mail: Unable to write "%s": %s.' % (path, reason), r.stderr)
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), b"earlier message\r\n")
                self.assertFalse(os.path.exists(nowhere))
                self.assertEqual(sorted(os.listdir(self.tmp.name)),
                                 sorted(["body.txt", "cliente.xml", "senha", "norcpt.eml", "big.txt", "out.eml"]))
        r = run("--save", target, *mail)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(target, "rb") as f:
            saved = email.message_from_bytes(f.read(), policy=email.policy.default)
        self.assertEqual(saved.get_content_type(), "multipart/mixed")
        self.assertEqual(saved.get_body().get_content(), "\ufeff" + "linha de texto do corpo\r\n" * 4000)

    def test_save_with_bcc_says_the_blind_copies_are_not_kept(self):
        target = os.path.join(self.tmp.name, "out.eml")
        r = run("--save", target, "--from", "a@example.com", "--to", "b@example.com", "--bcc", "oculto@example.com")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("tandrel-mail: warning: --bcc: blind-copy recipients are not kept in the saved file", r.stderr)
        with open(target, "rb") as f:
            self.assertNotIn(b"oculto@example.com", f.read())
        r = run("--save", target, "--from", "a@example.com", "--to", "b@example.com")
        self.assertNotIn("--bcc", r.stderr)

    def test_password_file_others_may_read_gets_a_warning(self):
        server = Server("--user", "loja", "--password", "s3nha", "--require-auth")
        try:
            for mode, warned in [(0o644, True), (0o640, True), (0o600, False), (0o400, False)]:
                with self.subTest(oct(mode)):
                    os.chmod(self.password_file, mode)
                    r = run("--port", server.port, "--user", "loja", "--password-file", self.password_file,
                            "--from", "a@example.com", "--to", "b@example.com")
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual('warning: other users of this machine may read the password file "%s" '
                                     '(chmod 600 it)' % self.password_file in r.stderr, warned, r.stderr)
        finally:
            server.close()

    def test_accented_credentials_log_in_with_every_mechanism(self):
        with open(self.password_file, "w", encoding="utf-8-sig") as f:  # with a byte-order mark
            f.write("maçã-senha\n")
        for name, server_args, mode in [("cram_md5_in_the_clear", ["--cram"], "plain"),
                                        ("plain", ["--exclude-auth", "LOGIN"], "plain"),
                                        ("login", ["--exclude-auth", "PLAIN"], "plain"),
                                        ("plain_under_tls", ["--cram"], "smtps")]:
            with self.subTest(name):
                server = Server("--mode", mode, "--user", "joão", "--password", "maçã-senha", "--require-auth",
                                *server_args)
                try:
                    tls = ["--ssl", "--insecure"] if mode == "smtps" else []
                    r = run("--port", server.port, *tls, "--user", "joão", "--password-file", self.password_file,
                            "--from", "a@example.com", "--to", "b@example.com", "--attempts", "1")
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(server.auth_attempts(), ["joão"])
                    self.assertEqual(dict(server.messages()[0])["auth"], "joão")
                finally:
                    server.close()

    def test_a_login_that_does_not_happen_sends_nothing(self):
        cases = [("wrong_password", ["--user", "loja", "--password", "s3nha", "--require-auth"], "errada",
                  "SMTP Error: Authentication failed.\n535 5.7.8 Authentication credentials invalid", ["loja", "loja"]),
                 # aiosmtpd then says "AUTH" with no mechanism after it.
                 ("no_mechanism_offered", ["--exclude-auth", "PLAIN", "--exclude-auth", "LOGIN"], "s3nha",
                  "SMTP Error: The SMTP Server offers no authentication we can use", [])]
        for name, server_args, password, error, attempts in cases:
            with self.subTest(name):
                server = Server(*server_args)
                try:
                    r = run("--port", server.port, "--user", "loja", "--from", "a@example.com",
                            "--to", "b@example.com", env={"TANDREL_MAIL_PASSWORD": password})
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertIn("tandrel-mail: " + error + "\n", r.stderr)
                    self.assertNotIn("pmsStartSends", r.stderr)
                    self.assertEqual(server.messages(), [])
                    self.assertEqual(server.auth_attempts(), attempts)
                finally:
                    server.close()

    def test_what_the_server_cannot_take_fails_before_the_login(self):
        big = os.path.join(self.tmp.name, "big.txt")
        with open(big, "w", encoding="utf-8") as f:
            f.write("x" * 3000 + "\n")
        cases = [("delivery_receipt_without_dsn", ["--size", "1000000"], ["--delivery-receipt"],
                  "SMTP Error: The SMTP Server does not support Delivery Status Notification"),
                 ("larger_than_size", ["--size", "2000"], ["--body-file", big],
                  r"SMTP Error: The message is larger than the SMTP Server accepts: \d+ bytes, at most 2000 bytes")]
        for name, server_args, args, error in cases:
            with self.subTest(name):
                server = Server("--user", "loja", "--password", "s3nha", *server_args)
                try:
                    r = run("--port", server.port, "--user", "loja", "--password-file", self.password_file,
                            "--from", "a@example.com", "--to", "b@example.com", *args)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertRegex(r.stderr, "tandrel-mail: " + error + "\n")
                    self.assertEqual(server.auth_attempts(), [])
                    self.assertEqual(server.messages(), [])
                finally:
                    server.close()


if __name__ == "__main__":
    unittest.main()
