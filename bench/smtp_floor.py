#!/usr/bin/python3
"""Sends every *.eml file of DIR through one SMTP connection (the floor of
the sending figure: no process, connection or greeting per message).

Usage: smtp_floor.py PORT DIR
"""

import os
import smtplib
import sys


def main():
    port, directory = int(sys.argv[1]), sys.argv[2]
    names = sorted(n for n in os.listdir(directory) if n.endswith(".eml"))
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as smtp:
        smtp.ehlo("bench.test")
        for name in names:
            with open(os.path.join(directory, name), "rb") as f:
                data = f.read()
            to = [line.split(b":", 1)[1].strip().decode("ascii")
                  for line in data.split(b"\r\n\r\n", 1)[0].split(b"\r\n") if line.startswith(b"To:")]
            smtp.sendmail("taro@example.jp", to, data)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main()
