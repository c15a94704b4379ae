#!/usr/bin/python3
"""Prints the tree of a message as Python's email package reads it (policy.default):

    subject: <decoded subject>
    <type>                                   a multipart or message part
      <type> file=<name> bytes=<n> <md5>     a leaf: file name if any, decoded bytes

two spaces of indent per level, types in lower case.

Usage: read_message_tree.py MESSAGE.eml [--trim-final-breaks]
With --trim-final-breaks the CR LFs at the end of each leaf's bytes are left out
(for a reader that keeps bodies as lines).
"""

import email
import email.policy
import hashlib
import sys


def leaf_bytes(part, trim):
    data = part.get_payload(decode=True) or b""
    while trim and data.endswith(b"\r\n"):
        data = data[:-2]
    return f"bytes={len(data)} {hashlib.md5(data).hexdigest()}"


def node(part, depth, trim, out):
    line = "  " * depth + part.get_content_type()
    if part.is_multipart():
        out.append(line)
        for child in part.get_payload():
            node(child, depth + 1, trim, out)
        return
    name = part.get_filename()
    if name is not None:
        line += f" file={name}"
    out.append(line + " " + leaf_bytes(part, trim))


def main():
    with open(sys.argv[1], "rb") as f:
        # From bytes, not from the file: reading the file turns CR LF into LF.
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    trim = "--trim-final-breaks" in sys.argv[2:]
    out = [f"subject: {msg['subject']}"]
    node(msg, 0, trim, out)
    sys.stdout.buffer.write(("\n".join(out) + "\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
