#!/usr/bin/python3
"""Prints the tree of a message as Python's email package reads it (policy.default):

    subject: <decoded subject>
    <type>                                   a multipart or message part
      <type> file=<name> bytes=<n> <md5>     a leaf: file name if any, decoded bytes

two spaces of indent per level, types in lower case.

Usage: read_message_tree.py MESSAGE.eml [--trim-final-breaks] [--readable]
With --trim-final-breaks the CR LFs at the end of each leaf's bytes are left out
(for a reader that keeps bodies as lines).
With --readable the subject and each leaf's bytes are written out, escaped, instead of
their size and digest; a text leaf names its charset label when it has one; a file
name keeps only its last path component ("/" and "\\" both separate, RFC 2183 2.3:
Python's email leaves that to its caller); and a field group of a delivery status
(message/delivery-status, message/global-delivery-status) lists its fields:

    <type> charset=<label> file=<name> fields=<Name: value | ...> "<bytes>"
"""

import email
import email.policy
import hashlib
import re
import sys


def escaped(data):
    out = []
    for b in data:
        if b in (0x22, 0x5C):
            out.append("\\" + chr(b))
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        elif b in (0x09, 0x0A, 0x0D):
            out.append({0x09: "\\t", 0x0A: "\\n", 0x0D: "\\r"}[b])
        else:
            out.append(f"\\x{b:02x}")
    return '"' + "".join(out) + '"'


def leaf_bytes(part, trim, readable):
    data = part.get_payload(decode=True) or b""
    while trim and data.endswith(b"\r\n"):
        data = data[:-2]
    if readable:
        return escaped(data)
    return f"bytes={len(data)} {hashlib.md5(data).hexdigest()}"


def node(part, depth, options, out, in_delivery_status=False):
    trim, readable = options
    line = "  " * depth + part.get_content_type()
    if part.is_multipart():
        out.append(line)
        groups = part.get_content_type() in ("message/delivery-status", "message/global-delivery-status")
        for child in part.get_payload():
            node(child, depth + 1, options, out, groups)
        return
    if readable and part.get_content_maintype() == "text" and part.get_content_charset() is not None:
        line += f" charset={part.get_content_charset()}"
    name = part.get_filename()
    if name is not None:
        line += " file=" + (re.split(r"[/\\]", name)[-1] if readable else name)
    if readable and in_delivery_status:
        line += " fields=" + " | ".join(f"{k}: {v}" for k, v in part.items())
    out.append(line + " " + leaf_bytes(part, trim, readable))


def main():
    with open(sys.argv[1], "rb") as f:
        # From bytes, not from the file: reading the file turns CR LF into LF.
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    options = ("--trim-final-breaks" in sys.argv[2:], "--readable" in sys.argv[2:])
    subject = "" if msg["subject"] is None else str(msg["subject"])
    if options[1]:
        subject = escaped(subject.encode("utf-8"))
    out = [f"subject: {subject}"]
    node(msg, 0, options, out)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
