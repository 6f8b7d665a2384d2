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
  --oauth USER TOKEN    offer AUTH XOAUTH2 and OAUTHBEARER (only) and refuse
                        mail without it; a wrong token gets the error
                        challenge of RFC 7628 before the 535 reply

Usage: smtp_capture.py DIR [LIFETIME] [options]
"""

import argparse
import asyncio
import base64
import os
import ssl

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword

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


class OAuthHandler(Handler):
    """Takes the one access token TOKEN for USER, by either mechanism."""

    ERROR = b'{"status":"invalid_token","schemes":"bearer","scope":"mail"}'

    def __init__(self, directory, user, token):
        super().__init__(directory)
        self.user = user.encode()
        self.token = token.encode()

    async def _exchange(self, server, args, parse):
        if len(args) > 1:
            message = base64.b64decode(args[1], validate=True)
        else:
            message = await server.challenge_auth("")
            if message is MISSING:
                return AuthResult(success=False, handled=True)
        user, token = parse(message)
        if user == self.user and token == self.token:
            return AuthResult(success=True, auth_data=LoginPassword(user, b""))
        # The client must answer the error challenge before the refusal.
        answer = await server.challenge_auth(self.ERROR)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False)

    @staticmethod
    def _fields(text):
        fields = {}
        for part in text.split(b"\x01"):
            key, _, value = part.partition(b"=")
            if key:
                fields[key] = value
        return fields

    @staticmethod
    def _parse_xoauth2(message):
        fields = OAuthHandler._fields(message)
        return fields.get(b"user"), fields.get(b"auth", b"").removeprefix(b"Bearer ")

    @staticmethod
    def _parse_oauthbearer(message):
        gs2, _, rest = message.partition(b",\x01")
        user = None
        for part in gs2.split(b","):
            if part.startswith(b"a="):
                user = part[2:].replace(b"=2C", b",").replace(b"=3D", b"=")
        return user, OAuthHandler._fields(rest).get(b"auth", b"").removeprefix(b"Bearer ")

    async def auth_XOAUTH2(self, server, args):
        return await self._exchange(server, args, self._parse_xoauth2)

    async def auth_OAUTHBEARER(self, server, args):
        return await self._exchange(server, args, self._parse_oauthbearer)


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
    handler = OAuthHandler(args.directory, *args.oauth) if args.oauth else Handler(args.directory)
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
    if args.oauth:
        options.update(auth_required=True, auth_require_tls=bool(args.starttls),
                       auth_exclude_mechanism=["PLAIN", "LOGIN"])
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
    parser.add_argument("--oauth", nargs=2, metavar=("USER", "TOKEN"))
    asyncio.run(main(parser.parse_args()))
