#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 that accepts every message and keeps none.

Writes its port to DIR/port and the number of messages it accepted to
DIR/count when it ends. Ends by itself after LIFETIME seconds or when the
process that started it has gone.

Usage: smtp_sink.py DIR [LIFETIME]
"""

import asyncio
import os
import sys

END_OF_DATA = b"\r\n.\r\n"


class Sink(asyncio.Protocol):
    accepted = 0

    def connection_made(self, transport):
        self.transport = transport
        self.buffer = b""
        self.in_data = False
        transport.write(b"220 sink.test ESMTP\r\n")

    def data_received(self, data):
        self.buffer += data
        while self.buffer:
            if self.in_data:
                # The terminator may follow the DATA reply at once.
                if self.buffer.startswith(b".\r\n"):
                    end, skip = 0, 3
                else:
                    end = self.buffer.find(END_OF_DATA)
                    if end < 0:
                        # Keep only what could begin the terminator.
                        self.buffer = self.buffer[-4:]
                        return
                    skip = len(END_OF_DATA)
                self.buffer = self.buffer[end + skip:]
                self.in_data = False
                Sink.accepted += 1
                self.transport.write(b"250 accepted\r\n")
                continue
            line_end = self.buffer.find(b"\r\n")
            if line_end < 0:
                return
            line = self.buffer[:line_end]
            self.buffer = self.buffer[line_end + 2:]
            self.command(line)

    def command(self, line):
        verb = line[:4].upper()
        if verb == b"DATA":
            self.in_data = True
            self.transport.write(b"354 go ahead\r\n")
        elif verb == b"QUIT":
            self.transport.write(b"221 bye\r\n")
            self.transport.close()
        else:
            self.transport.write(b"250 sink.test\r\n")


def write_atomically(path, data):
    partial = path + ".part"
    with open(partial, "wb") as f:
        f.write(data)
    os.rename(partial, path)


async def main(directory, lifetime):
    loop = asyncio.get_running_loop()
    server = await loop.create_server(Sink, host="127.0.0.1", port=0)
    port = server.sockets[0].getsockname()[1]
    write_atomically(os.path.join(directory, "port"), b"%d\n" % port)
    parent = os.getppid()
    deadline = loop.time() + lifetime
    while loop.time() < deadline and os.getppid() == parent and not os.path.exists(os.path.join(directory, "stop")):
        await asyncio.sleep(0.2)
    server.close()
    write_atomically(os.path.join(directory, "count"), b"%d\n" % Sink.accepted)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    asyncio.run(main(sys.argv[1], float(sys.argv[2]) if len(sys.argv) > 2 else 3600))
