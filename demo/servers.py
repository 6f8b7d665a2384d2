#!/usr/bin/python3
"""The demo's private mail servers.

Starts a POP3 server (Dovecot, with its own configuration) and an SMTP server
that delivers every message into the demo account's maildir, both on
127.0.0.1 at free ports, inside DIR. Fills the maildir with sample messages on
first use. Writes "POP_PORT SMTP_PORT" to DIR/ports once both listen, then
runs until it is terminated or the process that started it has gone, and
stops Dovecot on the way out.

Usage: servers.py DIR
"""

import asyncio
import base64
import email.utils
import os
import pwd
import grp
import signal
import socket
import subprocess
import sys
import time

from aiosmtpd.smtp import SMTP

USER = "demo"
PASSWORD = "demo"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def encoded_word(text):
    return "=?ISO-2022-JP?B?" + base64.b64encode(text.encode("iso2022_jp")).decode() + "?="


def sample_messages():
    """A dozen messages: Japanese subjects and senders as encoded words,
    ISO-2022-JP bodies, one long message that pages, one with a dot line."""
    samples = [
        ("山田 太郎", "taro@example.jp", "会議のお知らせ", "明日の会議は十時からです。\nよろしくお願いします。\n"),
        ("佐藤 花子", "hanako@example.jp", "資料を送ります", "先日の資料をお送りします。\nご確認ください。\n"),
        ("Demo Team", "team@example.com", "Welcome to Quillo", "This demo mailbox runs on a private POP3 and SMTP server.\n"),
        ("鈴木 一郎", "ichiro@example.jp", "週末の予定", "週末は晴れるそうです。\n山に行きませんか。\n"),
        ("田中 美咲", "misaki@example.jp", "お誕生日おめでとう", "素敵な一年になりますように。\n"),
        ("Build Bot", "ci@example.com", "Nightly build passed", "All 312 tests passed.\n"),
        ("高橋 健", "ken@example.jp", "長いメッセージ", "".join("%03d 行目: 長い本文の試験です。ページ送りを確認してください。\n" % i for i in range(1, 81))),
        ("伊藤 さくら", "sakura@example.jp", "点で始まる行", "次の行は点で始まります。\n.この行は点で始まる行です。\n..二つの点\n"),
        ("渡辺 翔", "sho@example.jp", "Re: 旅行の件", "京都と奈良、どちらが良いでしょうか。\n"),
        ("Newsletter", "news@example.com", "December news", "Short days, long nights: time to read mail.\n"),
        ("中村 優子", "yuko@example.jp", "ありがとうございました", "昨日はありがとうございました。\n"),
        ("小林 大輔", "daisuke@example.jp", "新しい住所", "引っ越しました。新しい住所をお知らせします。\n"),
    ]
    for i, (name, addr, subject, body) in enumerate(samples):
        sender = name if name.isascii() else encoded_word(name)
        header = (
            "Return-Path: <%s>\n" % addr
            + "Date: %s, %d Dec 2026 %02d:%02d:00 +0900\n" % (["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"][i % 7], 1 + i, 8 + i, (7 * i) % 60)
            + "From: %s <%s>\n" % (sender, addr)
            + "To: Demo User <demo@example.jp>\n"
            + "Subject: %s\n" % (subject if subject.isascii() else encoded_word(subject))
            + "Message-ID: <demo%d@example.jp>\n" % i
            + "MIME-Version: 1.0\n"
            + "Content-Type: text/plain; charset=ISO-2022-JP\n"
            + "Content-Transfer-Encoding: 7bit\n\n"
        )
        yield (header.encode("ascii") + body.encode("iso2022_jp")).replace(b"\n", b"\r\n")


def deliver(maildir, data, uid, gid, serial):
    name = "%d.M%dP%d.demo" % (int(time.time()), serial, os.getpid())
    tmp = os.path.join(maildir, "tmp", name)
    with open(tmp, "wb") as f:
        f.write(data)
    os.chown(tmp, uid, gid)
    os.rename(tmp, os.path.join(maildir, "new", name))


def dovecot_config(d, port, uid, gid):
    root = os.geteuid() == 0
    if root:
        internal, login, group = "dovecot", "dovenull", "dovecot"
        try:
            pwd.getpwnam("dovecot"), pwd.getpwnam("dovenull")
        except KeyError:
            internal = login = "nobody"
            group = grp.getgrgid(pwd.getpwnam("nobody").pw_gid).gr_name
    else:
        internal = login = pwd.getpwuid(os.getuid()).pw_name
        group = grp.getgrgid(os.getgid()).gr_name
    return "\n".join([
        "base_dir = %s/run" % d, "state_dir = %s/state" % d, "log_path = %s/dovecot.log" % d,
        "protocols = pop3", "listen = 127.0.0.1", "ssl = no", "disable_plaintext_auth = no",
        "auth_mechanisms = plain", "auth_failure_delay = 0",
        "mail_location = maildir:%s/home/Maildir" % d, "first_valid_uid = 1",
        "default_internal_user = %s" % internal, "default_login_user = %s" % login,
        "default_internal_group = %s" % group,
        "service pop3-login {", "  inet_listener pop3 {", "    address = 127.0.0.1",
        "    port = %d" % port, "  }", "" if root else "  chroot =", "}",
        "service auth {\n  user = root\n}" if root else
        "service anvil {\n  chroot =\n}\nservice auth-worker {\n  user = $default_internal_user\n}",
        "passdb {", "  driver = passwd-file", "  args = scheme=PLAIN %s/passwd" % d, "}",
        "userdb {", "  driver = static", "  args = uid=%d gid=%d home=%s/home" % (uid, gid, d), "}", ""])


class DeliveringHandler:
    def __init__(self, maildir, uid, gid):
        self.maildir, self.uid, self.gid, self.serial = maildir, uid, gid, 1000

    async def handle_DATA(self, server, session, envelope):
        self.serial += 1
        data = envelope.original_content
        # Like a real mail system, stamp mail that arrives without a date.
        head = data.split(b"\r\n\r\n", 1)[0]
        if not any(line.lower().startswith(b"date:") for line in head.split(b"\r\n")):
            data = b"Date: " + email.utils.formatdate(localtime=True).encode() + b"\r\n" + data
        deliver(self.maildir, data, self.uid, self.gid, self.serial)
        return "250 OK delivered"


async def serve(d, pop_port, smtp_port, maildir, uid, gid, dovecot):
    loop = asyncio.get_running_loop()
    handler = DeliveringHandler(maildir, uid, gid)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="demo.quillo", decode_data=False, data_size_limit=None, loop=loop),
        host="127.0.0.1", port=smtp_port)
    with open(os.path.join(d, "ports.part"), "w") as f:
        f.write("%d %d\n" % (pop_port, smtp_port))
    os.rename(os.path.join(d, "ports.part"), os.path.join(d, "ports"))
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        loop.add_signal_handler(sig, stop.set)
    parent = os.getppid()
    while not stop.is_set() and os.getppid() == parent and dovecot.poll() is None:
        try:
            await asyncio.wait_for(stop.wait(), 0.5)
        except asyncio.TimeoutError:
            pass
    server.close()


def main():
    d = os.path.abspath(sys.argv[1])
    maildir = os.path.join(d, "home", "Maildir")
    fresh = not os.path.isdir(maildir)
    for sub in ("run", "state", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    if os.geteuid() == 0:
        # Dovecot will not serve mail as root.
        nobody = pwd.getpwnam("nobody")
        uid, gid = nobody.pw_uid, nobody.pw_gid
        for sub in ("home", "home/Maildir", "home/Maildir/new", "home/Maildir/cur", "home/Maildir/tmp"):
            os.chown(os.path.join(d, sub), uid, gid)
    else:
        uid, gid = os.getuid(), os.getgid()
    if fresh:
        for i, data in enumerate(sample_messages()):
            deliver(maildir, data, uid, gid, i)
    with open(os.path.join(d, "passwd"), "w") as f:
        f.write("%s:{PLAIN}%s::::::\n" % (USER, PASSWORD))
    pop_port, smtp_port = free_port(), free_port()
    with open(os.path.join(d, "dovecot.conf"), "w") as f:
        f.write(dovecot_config(d, pop_port, uid, gid))
    try:
        os.remove(os.path.join(d, "ports"))
    except FileNotFoundError:
        pass
    log = open(os.path.join(d, "dovecot.out"), "wb")
    dovecot = subprocess.Popen(["/usr/sbin/dovecot", "-F", "-c", os.path.join(d, "dovecot.conf")],
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    try:
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", pop_port), 0.2).close()
                break
            except OSError:
                if dovecot.poll() is not None:
                    sys.exit("dovecot did not start; see %s/dovecot.out" % d)
                time.sleep(0.1)
        asyncio.run(serve(d, pop_port, smtp_port, maildir, uid, gid, dovecot))
    finally:
        dovecot.terminate()
        try:
            dovecot.wait(5)
        except subprocess.TimeoutExpired:
            dovecot.kill()


if __name__ == "__main__":
    main()
