#!/usr/bin/python3
"""The same work as mime_bench, done by Python's email package and codecs.
Prints one JSON object: {"name": MB/s, ...} plus compose times in seconds,
all from CPU time so that a busy machine does not skew the comparison."""

import base64
import email.message
import email.policy
import json
import random
import time

MB = 1 << 20


def cp1252_text(size):
    words = [b"cadastro", b"S\xe3o", b"Paulo", b"cliente", b"endere\xe7o", b"n\xfamero",
             b"informa\xe7\xe3o", b"=", b"R$", b"10,00", b"\x80", b"a\xe7\xe3o", b"e"]
    rnd = random.Random(7)
    out = bytearray()
    line = 0
    while len(out) < size:
        out += rnd.choice(words)
        if len(out) - line > 70:
            out += b"\r\n"
            line = len(out)
        else:
            out += b" "
    return bytes(out[:size])


def best_of(runs, fn):
    best = None
    for _ in range(runs):
        start = time.process_time()
        fn()
        elapsed = time.process_time() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


BODY = cp1252_text(MB).decode("cp1252", errors="replace")


def compose(attachment, cte="quoted-printable"):
    msg = email.message.EmailMessage(policy=email.policy.SMTP)
    msg["From"] = "Loja <loja@example.com>"
    msg["To"] = "cliente@example.com"
    msg["Subject"] = "Dados Cadastrais do Cliente"
    msg.set_content(BODY, charset="utf-8", cte=cte)
    if attachment:
        msg.add_attachment(attachment, maintype="application", subtype="pdf", filename="dados.pdf")
    return msg.as_bytes()


def main():
    result = {}
    for mb in (5, 10, 20):
        data = random.Random(42).randbytes(mb * MB)
        seconds = best_of(2, lambda: compose(data))
        result[f"compose_{mb}MB_seconds"] = seconds
        result[f"compose_{mb}MB"] = mb / seconds
    result["text_body_quoted-printable"] = 1 / best_of(3, lambda: compose(b""))
    result["text_body_base64"] = 1 / best_of(3, lambda: compose(b"", cte="base64"))
    data = random.Random(42).randbytes(20 * MB)
    result["base64"] = 20 / best_of(3, lambda: base64.b64encode(data))
    text = cp1252_text(10 * MB)
    result["cp1252_to_utf8"] = 10 / best_of(3, lambda: text.decode("cp1252", errors="replace").encode("utf-8"))
    print(json.dumps(result))


if __name__ == "__main__":
    main()
