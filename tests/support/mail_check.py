#!/usr/bin/python3
"""Reads one message file with Python's email package as a strict reader
(policy default, no SMTPUTF8) and prints what a mail program would show:

  defects: every defect registered, part by part and header by header
  subject: the decoded Subject
  from: / to: / cc: display name and address of each entry
  text: the text part, decoded, as a Python repr
  attachment: file name, content type and the SHA-256 of the decoded bytes

Usage: mail_check.py FILE
"""

import email
import email.policy
import hashlib
import sys


def main(path):
    with open(path, "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.default.clone(utf8=False))
    defects = []
    for part in message.walk():
        defects += [type(d).__name__ for d in part.defects]
        for name, value in part.items():
            defects += ["%s:%s" % (name, type(d).__name__) for d in getattr(value, "defects", ())]
    print("defects: %s" % (" ".join(defects) or "none"))
    print("subject: %s" % message.get("Subject", ""))
    for field in ("From", "To", "Cc"):
        if field in message:
            entries = ["%s <%s>" % (a.display_name, a.addr_spec) for a in message[field].addresses]
            print("%s: %s" % (field.lower(), ", ".join(entries)))
    body = message.get_body(("plain",))
    # Read from a file of CR LF lines: the line ends as a reader shows them.
    print("text: %r" % (body.get_content().replace("\r\n", "\n") if body is not None else None))
    for part in message.iter_attachments():
        data = part.get_payload(decode=True)
        print("attachment: %s %s %s" % (part.get_filename(), part.get_content_type(),
                                        hashlib.sha256(data).hexdigest()))


if __name__ == "__main__":
    main(sys.argv[1])
