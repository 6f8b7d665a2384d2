#!/usr/bin/python3
"""Makes the benchmark data, the same messages in the form each program keeps.

Usage: make_data.py WHAT DIR COUNT [SEED]

WHAT is one of:
  maildir   COUNT wire-form messages (ISO-2022-JP, encoded-words) in DIR/new,
            LF line ends, named in delivery order as a maildir expects
  mh        the same messages as an MH folder: DIR/1, DIR/2, ...
  store     the same messages as Quillo stores them: Shift_JIS, headers
            decoded, DIR/0000.TXT, DIR/0001.TXT, ...
  drafts    COUNT outbox drafts (Shift_JIS, Quillo's draft layout) in DIR/store
            and their wire form for the other senders in DIR/wire
  jis       about COUNT megabytes of ISO-2022-JP text in the file DIR

Messages are about 5 KB. One message in twenty repeats the date, sender and
subject of an earlier one, so that sorting meets equal keys.
"""

import base64
import os
import random
import sys

KANA = [chr(c) for c in range(0x3041, 0x3094)] + [chr(c) for c in range(0x30A1, 0x30F7)]
KANJI = list("日本語文字化変換受信送信郵便番号東京大阪京都名古屋札幌福岡会議資料報告予定確認連絡"
             "今週来週月曜火曜水曜木曜金曜土曜日曜午前午後時間場所参加出席欠席担当部長課長社員"
             "新規案件契約見積請求書類添付返信転送宛先件名本文署名住所電話番号携帯")
ASCII_WORDS = ["meeting", "report", "draft", "schedule", "invoice", "project", "review", "update", "notes"]
NAMES = ["山田太郎", "佐藤花子", "鈴木一郎", "高橋次郎", "田中三郎", "伊藤美咲", "渡辺健", "中村愛"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]


def japanese(rng, length):
    pool = KANA + KANJI
    return "".join(rng.choice(pool) for _ in range(length))


def body_line(rng):
    if rng.random() < 0.2:
        return " ".join(rng.choice(ASCII_WORDS) for _ in range(rng.randint(4, 9)))
    text = japanese(rng, rng.randint(20, 34))
    if rng.random() < 0.3:
        text += " " + rng.choice(ASCII_WORDS)
    return text


def encoded_word(text):
    raw = text.encode("iso2022_jp")
    return "=?ISO-2022-JP?B?" + base64.b64encode(raw).decode("ascii") + "?="


class Message:
    def __init__(self, rng, index, like=None):
        self.index = index
        if like is not None:
            self.date, self.name, self.user, self.subject = like.date, like.name, like.user, like.subject
        else:
            year = rng.randint(1998, 2024)
            self.date = "%s, %d %s %d %02d:%02d:%02d +0900" % (
                rng.choice(DAYS), rng.randint(1, 28), rng.choice(MONTHS), year,
                rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
            self.name = rng.choice(NAMES)
            self.user = "user%d" % rng.randint(1, 60)
            self.subject = japanese(rng, rng.randint(6, 14))
        lines = []
        size = 0
        while size < 4400:
            line = body_line(rng)
            lines.append(line)
            size += len(line.encode("iso2022_jp")) + 1
        self.body = lines

    def wire_headers(self):
        return [
            "Return-Path: <%s@example.jp>" % self.user,
            "Received: from mx.example.jp (mx.example.jp [192.0.2.1]) by pop.example.jp;",
            "\t%s" % self.date,
            "Message-ID: <%d.bench@example.jp>" % self.index,
            "Date: %s" % self.date,
            "From: %s <%s@example.jp>" % (encoded_word(self.name), self.user),
            "To: taro@example.jp",
            "Subject: %s" % encoded_word(self.subject),
            "MIME-Version: 1.0",
            "Content-Type: text/plain; charset=ISO-2022-JP",
            "Content-Transfer-Encoding: 7bit",
        ]

    def wire(self):
        """The message as it travels (and as an MH folder keeps it)."""
        text = "\n".join(self.wire_headers()) + "\n\n" + "\n".join(self.body) + "\n"
        return text.encode("iso2022_jp")

    def stored(self):
        """The message as Quillo keeps it: Shift_JIS, encoded-words decoded."""
        headers = []
        for h in self.wire_headers():
            if h.startswith("From: "):
                h = "From: %s <%s@example.jp>" % (self.name, self.user)
            elif h.startswith("Subject: "):
                h = "Subject: %s" % self.subject
            headers.append(h)
        text = "\n".join(headers) + "\n\n" + "\n".join(self.body) + "\n"
        return text.encode("cp932")


def messages(count, seed):
    rng = random.Random(seed)
    made = []
    for i in range(count):
        like = made[rng.randrange(len(made))] if made and rng.random() < 0.05 else None
        m = Message(rng, i, like)
        made.append(m)
        yield m


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def make_maildir(directory, count, seed):
    for sub in ("new", "cur", "tmp"):
        os.makedirs(os.path.join(directory, sub), exist_ok=True)
    for m in messages(count, seed):
        name = "%d.M%dP1.bench" % (1700000000 + m.index, m.index)
        write(os.path.join(directory, "new", name), m.wire())


def make_mh(directory, count, seed):
    os.makedirs(directory, exist_ok=True)
    for m in messages(count, seed):
        write(os.path.join(directory, str(m.index + 1)), m.wire())


def make_store(directory, count, seed):
    os.makedirs(directory, exist_ok=True)
    for m in messages(count, seed):
        write(os.path.join(directory, "%04d.TXT" % m.index), m.stored())


def make_drafts(directory, count, seed):
    store = os.path.join(directory, "store")
    wire = os.path.join(directory, "wire")
    os.makedirs(store, exist_ok=True)
    os.makedirs(wire, exist_ok=True)
    for m in messages(count, seed):
        to = "%s@example.jp" % m.user
        draft = "From: Taro Yamada <taro@example.jp>\nTo: %s\nCc: \nBcc: \nSubject: %s\n----------\n\n%s\n" % (
            to, m.subject, "\n".join(m.body))
        write(os.path.join(store, "%04d.TXT" % m.index), draft.encode("cp932"))
        mail = ("From: Taro Yamada <taro@example.jp>\nTo: %s\nSubject: %s\nMIME-Version: 1.0\n"
                "Content-Type: text/plain; charset=ISO-2022-JP\n\n%s\n") % (
            to, encoded_word(m.subject), "\n".join(m.body))
        write(os.path.join(wire, "%04d.eml" % m.index), mail.encode("iso2022_jp").replace(b"\n", b"\r\n"))


def make_jis(path, megabytes, seed):
    rng = random.Random(seed)
    block = "\n".join(body_line(rng) for _ in range(4000)) + "\n"
    data = block.encode("iso2022_jp")
    target = megabytes * 1024 * 1024
    with open(path, "wb") as f:
        written = 0
        while written < target:
            f.write(data)
            written += len(data)


def make_big_mail(path, megabytes, seed):
    """One stored message of `megabytes` MB: a short UTF-8 text in base64 and
    an attachment taking the rest (random bytes, base64)."""
    rng = random.Random(seed)
    text = "\n".join(body_line(rng) for _ in range(40)) + "\n"
    head = ("From: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro@example.jp>\nSubject: =?UTF-8?B?6KaL56mN5pu4?=\n"
            "Date: Mon, 15 Jan 2024 10:30:00 +0900\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\n"
            "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n")
    middle = "--b1\nContent-Type: application/pdf; name=\"big.pdf\"\nContent-Transfer-Encoding: base64\n\n"
    encoded_text = base64.encodebytes(text.encode("utf-8")).decode()
    room = megabytes * 1024 * 1024 - len(head) - len(encoded_text) - len(middle) - 8
    attachment = bytes(rng.getrandbits(8) for _ in range(room // 77 * 57))
    with open(path, "wb") as f:
        f.write((head + encoded_text + middle).encode())
        f.write(base64.encodebytes(attachment))
        f.write(b"--b1--\n")


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    what, target, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    makers = {"maildir": make_maildir, "mh": make_mh, "store": make_store, "drafts": make_drafts, "jis": make_jis,
              "bigmail": make_big_mail}
    if what not in makers:
        sys.exit(__doc__)
    makers[what](target, count, seed)


if __name__ == "__main__":
    main()
