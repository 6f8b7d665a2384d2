#!/usr/bin/python3
"""A capturing SMTP server for the tests.

Listens on 127.0.0.1 at a free port and writes the port to DIR/port. Every
accepted transaction N (from 0) leaves DIR/N.env (the MAIL FROM address on the
first line, then one RCPT TO address per line) and DIR/N.wire (the exact bytes
the client sent after the 354 reply, terminating dot included). Ends by itself
after LIFETIME seconds or when the process that started it has gone.

Usage: smtp_capture.py DIR [LIFETIME]
"""

import asyncio
import os
import sys

from aiosmtpd.smtp import SMTP

# Lines longer than the SMTP limit must arrive intact: the tests check how the
# client splits and ends them.
LINE_LIMIT = 1 << 20


def write_atomically(path, data):
    partial = path + ".part"
    with open(partial, "wb") as f:
        f.write(data)
    os.rename(partial, path)


class CapturingSMTP(SMTP):
    line_length_limit = LINE_LIMIT
    command_size_limit = LINE_LIMIT

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.raw = bytearray()
        self.data_start = 0

    def data_received(self, data):
        self.raw += data
        super().data_received(data)

    async def smtp_DATA(self, arg):
        # The client waits for 354 before it sends the message, so everything
        # received after this point is message data.
        self.data_start = len(self.raw)
        await super().smtp_DATA(arg)


class Handler:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        n = self.count
        self.count += 1
        wire = bytes(server.raw[server.data_start:])
        env = "\n".join([envelope.mail_from] + list(envelope.rcpt_tos)) + "\n"
        write_atomically(os.path.join(self.directory, "%d.wire" % n), wire)
        write_atomically(os.path.join(self.directory, "%d.env" % n), env.encode("latin-1"))
        return "250 OK"


async def main(directory, lifetime):
    loop = asyncio.get_running_loop()
    handler = Handler(directory)
    server = await loop.create_server(
        lambda: CapturingSMTP(handler, hostname="capture.test", decode_data=False,
                              data_size_limit=None, loop=loop),
        host="127.0.0.1", port=0)
    port = server.sockets[0].getsockname()[1]
    write_atomically(os.path.join(directory, "port"), b"%d\n" % port)
    parent = os.getppid()
    deadline = loop.time() + lifetime
    while loop.time() < deadline and os.getppid() == parent:
        await asyncio.sleep(0.2)
    server.close()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 300.0))
