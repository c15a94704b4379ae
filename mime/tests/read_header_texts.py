#!/usr/bin/python3
"""Reads the subject, the sender's display name and the file name of every leaf
of a message with Python's email package, once with policy.strict and once with
compat32, and prints them one per line:

    strict subject: <text>
    strict name: <text>
    strict file: <text>          (one line per leaf with a file name)
    compat32 subject: <text>
    ...

Usage: read_header_texts.py MESSAGE.eml
compat32 hands header values over as they stand on the wire; they are unfolded
first (RFC 5322 section 2.2.3), as every reader of such values has to do.
"""

import email
import email.policy
import re
import sys
from email.header import decode_header, make_header
from email.utils import parseaddr


def unfold(value):
    return re.sub(r"\r?\n(?=[ \t])", "", str(value))


def words(value):
    return str(make_header(decode_header(unfold(value))))


def read_strict(data):
    msg = email.message_from_bytes(data, policy=email.policy.strict)
    yield "subject", str(msg["subject"])
    yield "name", msg["from"].addresses[0].display_name
    for part in msg.walk():
        if part.get_filename() is not None:
            yield "file", part.get_filename()


def read_compat32(data):
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    yield "subject", words(msg["subject"])
    yield "name", words(parseaddr(unfold(msg["from"]))[0])
    for part in msg.walk():
        if part.get_filename() is not None:
            yield "file", words(part.get_filename())


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    for policy, reader in (("strict", read_strict), ("compat32", read_compat32)):
        for field, text in reader(data):
            sys.stdout.buffer.write(f"{policy} {field}: {text}\n".encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
