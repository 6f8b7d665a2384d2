#!/usr/bin/python3
"""A capturing SMTP server for the tests.

Listens on 127.0.0.1 at a free port and writes the port to DIR/port. Every
accepted transaction N (from 0) leaves DIR/N.env (the MAIL FROM address on the
first line, then one RCPT TO address per line), DIR/N.wire (the exact bytes
the client sent after the 354 reply, terminating dot included) and DIR/N.session
("tls=0|1", "login=NAME" and "sni=NAME" lines: whether the transaction came
through TLS, who logged in, and the server name the client asked for). Ends by itself after LIFETIME seconds or when the process
that started it has gone.

Options (none: plain SMTP without authentication):
  --starttls CERT KEY   offer STARTTLS and refuse mail without it
  --tls CERT KEY        TLS from the first byte
  --auth USER PASSWORD  offer AUTH PLAIN and LOGIN and refuse mail without it

Usage: smtp_capture.py DIR [LIFETIME] [options]
"""

import argparse
import asyncio
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

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
        secured = server.transport.get_extra_info("ssl_object") is not None
        login = session.auth_data.login.decode("latin-1") if session.authenticated else ""
        # Each transaction of the tests follows its own handshake.
        record = "tls=%d\nlogin=%s\nsni=%s\n" % (secured, login, requested_name.pop("name", ""))
        write_atomically(os.path.join(self.directory, "%d.wire" % n), wire)
        write_atomically(os.path.join(self.directory, "%d.session" % n), record.encode("latin-1"))
        write_atomically(os.path.join(self.directory, "%d.env" % n), env.encode("latin-1"))
        return "250 OK"


# The server name the client of the latest handshake asked for.
requested_name = {}


def server_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def remember_name(ssl_object, name, _context):
        requested_name["name"] = name or ""
    context.sni_callback = remember_name
    return context


def authenticator_for(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)
    return authenticate


async def main(args):
    loop = asyncio.get_running_loop()
    handler = Handler(args.directory)
    options = {}
    implicit = None
    if args.starttls:
        options.update(tls_context=server_context(*args.starttls), require_starttls=True)
    if args.tls:
        implicit = server_context(*args.tls)
    if args.auth:
        # Before STARTTLS a careful server offers no AUTH at all.
        options.update(authenticator=authenticator_for(*args.auth), auth_required=True,
                       auth_require_tls=bool(args.starttls))
    server = await loop.create_server(
        lambda: CapturingSMTP(handler, hostname="capture.test", decode_data=False,
                              data_size_limit=None, loop=loop, **options),
        host="127.0.0.1", port=0, ssl=implicit)
    port = server.sockets[0].getsockname()[1]
    write_atomically(os.path.join(args.directory, "port"), b"%d\n" % port)
    parent = os.getppid()
    deadline = loop.time() + args.lifetime
    while loop.time() < deadline and os.getppid() == parent:
        await asyncio.sleep(0.2)
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("directory")
    parser.add_argument("lifetime", nargs="?", type=float, default=300.0)
    security = parser.add_mutually_exclusive_group()
    security.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    security.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--auth", nargs=2, metavar=("USER", "PASSWORD"))
    asyncio.run(main(parser.parse_args()))
