#!/usr/bin/python3
"""Reads a message the mail component wrote with Python's email package (policy.strict)
and prints what a receiver sees of its sender, its receipt requests and its files:

    from: <display name> <address>
    disposition-notification-to: <display name> <address>
    return-receipt-to: <display name> <address>
    file: <file name> <type> charset=<label>      (charset only for text parts)
    raw header: <name>                             a header line that is not ASCII
    defect: <part type> <defect>                   a defect of the message's structure

The receipt headers are read as address lists, as a receiver that honours them does
(Python's email has no class of its own for them).

Usage: read_saved_mail.py MESSAGE.eml
"""

import email
import email.policy
import re
import sys


def mailboxes(policy, field, value):
    return [f"{field}: {a.display_name} <{a.addr_spec}>" for a in policy.header_factory("to", value).addresses]


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    policy = email.policy.strict
    msg = email.message_from_bytes(data, policy=policy)
    out = []
    for field in ("from", "disposition-notification-to", "return-receipt-to"):
        # Parsed from the raw value, unfolded: the text of an unstructured field has its
        # encoded words decoded already, and would not parse as the address list it is.
        for name, value in msg.raw_items():
            if name.lower() == field:
                out += mailboxes(policy, field, re.sub(r"\r?\n(?=[ \t])", "", value))
    for part in msg.walk():
        for name, value in part.raw_items():
            if not (name + value).isascii():
                out.append(f"raw header: {name}")
        out += [f"defect: {part.get_content_type()} {type(d).__name__}" for d in part.defects]
        if part.get_filename() is not None:
            line = f"file: {part.get_filename()} {part.get_content_type()}"
            if part.get_content_maintype() == "text":
                line += f" charset={part.get_content_charset()}"
            out.append(line)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8", "surrogateescape"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
