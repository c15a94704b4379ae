#!/usr/bin/python3
"""Reads a composed message with Python's email package and checks it against
the expectations written beside it.

Usage: check_with_python_email.py DIR
DIR holds message.eml, expected.json and the attachment files it names.
Exits 0 when everything matches; otherwise prints every mismatch and exits 1.
"""

import email
import email.policy
import json
import pathlib
import sys

problems = []


def check(what, got, want):
    if got != want:
        problems.append(f"{what}: got {got!r}, want {want!r}")


def addresses(header):
    if header is None:
        return []
    return [[a.display_name, a.addr_spec] for a in header.addresses]


def text_of(part):
    data = part.get_payload(decode=True)
    charset = part.get_content_charset() or "us-ascii"
    codec = "utf-8-sig" if charset == "utf-8" else charset
    return data.decode(codec).replace("\r\n", "\n")


def check_node(part, want, where, folder):
    check(f"{where} type", part.get_content_type(), want["type"])
    if "parts" in want:
        children = part.get_payload() if part.is_multipart() else []
        check(f"{where} number of parts", len(children), len(want["parts"]))
        for i, (child, child_want) in enumerate(zip(children, want["parts"])):
            check_node(child, child_want, f"{where}/{i}", folder)
        return
    if part.is_multipart():
        problems.append(f"{where}: multipart where a leaf was expected")
        return
    if "charset" in want:
        check(f"{where} charset", part.get_content_charset(), want["charset"])
    if "filename" in want:
        check(f"{where} filename", part.get_filename(), want["filename"])
    if "content_id" in want:
        check(f"{where} content id", part["Content-ID"], want["content_id"])
    if "text" in want:
        check(f"{where} text", text_of(part), want["text"].replace("\r\n", "\n"))
    if "file" in want:
        expected = (folder / want["file"]).read_bytes()
        got = part.get_payload(decode=True)
        if got != expected:
            problems.append(f"{where} bytes differ: got {len(got)} bytes, want {len(expected)}")
    for defect in part.defects:
        problems.append(f"{where} defect: {type(defect).__name__}: {defect}")


def main():
    folder = pathlib.Path(sys.argv[1])
    want = json.loads((folder / "expected.json").read_text(encoding="utf-8"))
    with open(folder / "message.eml", "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    check("subject", str(msg["subject"]), want["subject"])
    check("from", addresses(msg["from"]), want["from"])
    check("to", addresses(msg["to"]), want["to"])
    check_node(msg, want["tree"], "root", folder)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
