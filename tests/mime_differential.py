#!/usr/bin/python3
"""The message layer held against Python's email package (policy default).

Makes messages of random structure (nesting, charsets, transfer encodings,
folding, file names, HTML-only parts) in their wire form, lets mime_probe
store and read each one, and compares the decoded subject, sender, text and
attachment bytes with what Python decodes from the same wire bytes, after the
conversion to Shift_JIS the console and the lists make (the seven JIS/CP932
twins are one character there; what Shift_JIS cannot hold is the geta mark).

Python is wrong in a few places, and there the generator's own text is the
known answer instead:
  - it decodes each encoded-word alone, so a character split between two
    words is lost;
  - its ISO-2022-JP reads neither the NEC row 13 characters (circled digits)
    nor the half-width katakana of ESC ( I;
  - it reads raw 8-bit header text as undecodable bytes;
  - in a display name it keeps the white space between encoded-words, and
    it takes no name from the old "address (Name)" form.
The script fails on the first differences (up to 20 are shown).
"""

import argparse
import base64
import email
import email.policy
import html
import os
import quopri
import random
import re
import subprocess
import sys
import tempfile

TWINS = {"\u301c": "\uff5e", "\u2016": "\u2225", "\u2212": "\uff0d", "\u00a2": "\uffe0",
         "\u00a3": "\uffe1", "\u00ac": "\uffe2", "\u2014": "\u2015"}

JAPANESE = ["こんにちは、世界", "見積書を送ります", "会議は明日の午後三時からです", "カタカナとひらがな",
            "よろしくお願いいたします", "価格は１２，０００円（税込）", "波ダッシュ〜と全角マイナス−",
            "二重線‖と¢£¬記号—", "東京都千代田区", "漢字テスト：鴎外と森"]
NEC_ROW13 = ["①②③", "㈱と№", "ⅠⅡⅢ"]
HALF_KANA = ["ｱｲｳｴｵ", "ﾃｽﾄﾒｰﾙ", "ｶﾞｷﾞｸﾞ"]
LATIN = ["Grüße aus München", "café crème", "Ça va très bien", "naïve façade"]
CYRILLIC = ["Привет мир", "Съешь же ещё"]
CHINESE = ["你好世界", "中文测试"]
KOREAN = ["안녕하세요", "한국어 시험"]
ASCII = ["Hello world", "Meeting notes for Monday", "Re: the plan", "Invoice #1234 (draft)"]
EMOJI = ["絵文字😀です", "🎉 Party"]

# label -> Python codec
CHARSETS = {
    "utf-8": "utf-8", "UTF-8": "utf-8", "iso-2022-jp": "iso-2022-jp", "ISO-2022-JP": "iso-2022-jp",
    "shift_jis": "shift_jis", "Shift_JIS": "shift_jis", "euc-jp": "euc-jp", "EUC-JP": "euc-jp",
    "iso-8859-1": "latin-1", "ISO-8859-15": "iso8859-15", "windows-1252": "cp1252", "koi8-r": "koi8-r",
    "gb2312": "gb2312", "big5": "big5", "euc-kr": "euc-kr",
}


def sjis_form(text):
    """The text as the Shift_JIS side sees it, back in Unicode for messages."""
    out = []
    for ch in text:
        ch = TWINS.get(ch, ch)
        if ch == "\r":
            continue
        try:
            out.append(ch.encode("cp932").decode("cp932"))
        except UnicodeError:
            out.append("〓")
    return "".join(out)


def squeezed(text):
    return " ".join(sjis_form(text).split())


def html_text(source):
    body = re.sub(r"(?is)<(script|style|head)\b.*?</\1>", " ", source)
    body = re.sub(r"(?s)<[^>]*>", " ", body)
    return html.unescape(body)


class Gen:
    def __init__(self, rng):
        self.r = rng

    def pick(self, seq):
        return seq[self.r.randrange(len(seq))]

    def text(self, pool=None):
        pools = pool or [JAPANESE, JAPANESE, JAPANESE, ASCII, LATIN, CYRILLIC, CHINESE, KOREAN, EMOJI]
        return self.pick(self.pick(pools))

    def charset_for(self, text, body=False):
        labels = [label for label, codec in CHARSETS.items() if self.encodes(text, codec)]
        # Big5 vendors put kana in different places; Chinese mail has none.
        if any("\u3040" <= ch <= "\u30ff" for ch in text):
            labels = [label for label in labels if label != "big5"]
        if body and self.r.random() < 0.1:
            labels.append("utf-16")
        return self.pick(labels)

    @staticmethod
    def encodes(text, codec):
        try:
            text.encode(codec)
            return True
        except UnicodeError:
            return False

    # ---- header words ------------------------------------------------------

    def encoded_words(self, text):
        """Header text as encoded-words; returns (wire text, python_is_wrong)."""
        label = self.charset_for(text)
        if not text.isascii() and self.r.random() < 0.1:
            return self.split_words(text), True
        codec = CHARSETS[label]
        data = text.encode(codec)
        if codec == "iso-2022-jp" and self.r.random() < 0.5:
            # As most Japanese mailers write it: one word, which the store
            # turns into Shift_JIS when the message is received.
            return "=?ISO-2022-JP?B?" + base64.b64encode(data).decode() + "?=", False
        if label.lower() == "iso-2022-jp":
            label = self.pick(["Iso-2022-Jp", "ISO-2022-jp"])  # left for the reader
        words = []
        chars = list(text)
        # Words hold whole characters here; Python reads them one by one.
        while chars:
            take = self.r.randint(1, max(1, min(8, len(chars))))
            piece, chars = "".join(chars[:take]), chars[take:]
            words.append(self.word(label, piece.encode(codec)))
        return self.pick([" ", "\r\n ", "\r\n\t", "  "]).join(words), False

    def word(self, label, data):
        if self.r.random() < 0.5:
            return "=?%s?%s?%s?=" % (label, self.pick("Bb"), base64.b64encode(data).decode())
        q = "".join(chr(b) if (chr(b).isalnum() and b < 128) else ("_" if b == 32 else "=%02X" % b)
                    for b in data)
        if self.r.random() < 0.3:
            q = re.sub(r"=([0-9A-F]{2})", lambda m: "=" + m.group(1).lower(), q)
        return "=?%s?%s?%s?=" % (label, self.pick("Qq"), q)

    def split_words(self, text):
        data = text.encode("utf-8")
        cut = self.r.randint(1, len(data) - 1)
        return "=?utf-8?B?%s?= =?UTF-8?B?%s?=" % (base64.b64encode(data[:cut]).decode(),
                                                    base64.b64encode(data[cut:]).decode())

    def header_text(self):
        """(wire form, known answer or None when Python is the oracle)."""
        text = self.text()
        roll = self.r.random()
        if text.isascii() and roll < 0.5:
            return self.fold(text), None
        if roll < 0.08 and not text.isascii():
            return text, text  # raw UTF-8 (RFC 6532)
        wire, wrong = self.encoded_words(text)
        return wire, text if wrong else None

    def fold(self, text):
        words = text.split(" ")
        return "".join(w if i == 0 else self.pick([" ", "\r\n "]) + w for i, w in enumerate(words))

    def sender(self):
        address = self.pick(["taro", "hanako", "info", "no-reply", "j.smith"]) + "@" + \
            self.pick(["example.jp", "example.com", "mail.example.org"])
        roll = self.r.random()
        if roll < 0.2:
            return address, address, None
        if roll < 0.4:
            name = self.pick(ASCII + ["Yamada, Taro", 'a "quoted" name'])
            quoted = '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
            return "%s <%s>" % (quoted, address), name, None
        if roll < 0.5:
            name = self.pick(ASCII)
            return "%s (%s)" % (address, name), name, name
        text = self.text([JAPANESE, LATIN, CHINESE])
        wire, wrong = self.encoded_words(text)
        return "%s <%s>" % (wire, address), text, text

    # ---- bodies ------------------------------------------------------------

    def text_body(self, html_part):
        lines = [self.text() for _ in range(self.r.randint(1, 6))]
        known = False
        if self.r.random() < 0.1:
            lines = [self.text([JAPANESE, ASCII]) for _ in lines]
            lines.append(self.pick(NEC_ROW13))
            lines.append(self.pick(HALF_KANA))
            label = "iso-2022-jp"
            known = True
        else:
            label = self.charset_for("\n".join(lines), body=True)
        source = "\n".join(lines) + "\n"
        if html_part:
            source = "<html><head><style>p {color: red}</style></head><body>" + \
                "".join("<p>%s</p>\n" % html.escape(line) for line in lines) + "</body></html>\n"
        data = self.encode_text(source, label)
        codec = CHARSETS.get(label, label)
        if codec in ("utf-16",):
            cte = "base64"
        elif codec == "iso-2022-jp":
            cte = self.pick(["7bit", "7bit", "base64", "quoted-printable"])
        elif all(b < 128 for b in data):
            cte = self.pick(["7bit", "quoted-printable", "base64"])
        else:
            cte = self.pick(["8bit", "quoted-printable", "base64"])
        subtype = "html" if html_part else "plain"
        head = "Content-Type: text/%s; charset=%s\r\n" % (subtype, self.quoted_maybe(label))
        return head, cte, data, (html_text(source) if html_part else source), known

    def quoted_maybe(self, value):
        return '"%s"' % value if self.r.random() < 0.5 else value

    def encode_text(self, source, label):
        codec = CHARSETS.get(label, label)
        if codec != "iso-2022-jp":
            return source.replace("\n", "\r\n").encode(codec)
        # ISO-2022-JP by hand: Python's encoder has neither the NEC row nor
        # the ESC ( I katakana.
        out = bytearray()
        for line in source.split("\n"):
            mode = "ascii"
            for ch in line:
                if ch.isascii():
                    want, data = "ascii", ch.encode()
                elif "\uff61" <= ch <= "\uff9f":
                    want, data = "kana", bytes([ch.encode("cp932")[0] - 0x80])
                else:
                    s = TWINS.get(ch, ch).encode("cp932")
                    want, data = "jis", sjis_pair_to_jis(s)
                if want != mode:
                    out += {"ascii": b"\x1b(B", "kana": b"\x1b(I", "jis": b"\x1b$B"}[want]
                    mode = want
                out += data
            if mode != "ascii":
                out += b"\x1b(B"
            out += b"\r\n"
        return bytes(out[:-2])

    def transfer(self, cte, data):
        if cte == "base64":
            return base64.encodebytes(data).replace(b"\n", b"\r\n")
        if cte == "quoted-printable":
            encoded = quopri.encodestring(data.replace(b"\r\n", b"\n")).replace(b"\n", b"\r\n")
            if self.r.random() < 0.3:
                encoded = re.sub(rb"=([0-9A-F]{2})", lambda m: b"=" + m.group(1).lower(), encoded)
            return encoded
        return data if data.endswith(b"\r\n") else data + b"\r\n"

    def attachment(self):
        data = bytes(self.r.randrange(256) for _ in range(self.r.randint(0, 3000)))
        kind = self.pick(["application/pdf", "image/png", "application/octet-stream", "application/zip"])
        name = self.pick(["見積書.pdf", "report.pdf", "写真 2024.png", "Übersicht.zip", "a;b (1).bin",
                          "長いファイル名の添付ファイルです、テスト用.pdf"])
        head = "Content-Type: %s" % kind
        style = self.r.random()
        if name.isascii():
            head += '; name="%s"\r\nContent-Disposition: attachment; filename="%s"\r\n' % (name, name)
        elif style < 0.4:
            # RFC 2231, in sections as Outlook writes long names; a %XX
            # escape never straddles two sections.
            units = [chr(b) if chr(b).isalnum() and b < 128 else "%%%02X" % b for b in name.encode()]
            sections = ["".join(units[k:k + 10]) for k in range(0, len(units), 10)]
            head += "\r\nContent-Disposition: attachment;\r\n" + ";\r\n".join(
                " filename*%d*=%s%s" % (i, "UTF-8''" if i == 0 else "", s) for i, s in enumerate(sections)) + "\r\n"
        else:
            word = "=?UTF-8?B?%s?=" % base64.b64encode(name.encode()).decode()
            head += '; name="%s"\r\nContent-Disposition: attachment; filename="%s"\r\n' % (word, word)
        return head, data, name

    def entity(self, depth, parts):
        """Appends the part descriptions to `parts`; returns wire bytes of the entity (header+body)."""
        roll = self.r.random()
        if depth < 3 and roll < 0.35:
            return self.multipart(depth, parts)
        if depth < 3 and roll < 0.4:
            return self.forwarded(depth, parts)
        if depth > 0 and roll < 0.6:
            head, data, name = self.attachment()
            parts.append(("attachment", data, name))
            return (head + "Content-Transfer-Encoding: base64\r\n\r\n").encode() + self.transfer("base64", data)
        html_part = self.r.random() < 0.15
        head, cte, data, text, known = self.text_body(html_part)
        parts.append(("text", text, known, html_part))
        return (head + "Content-Transfer-Encoding: %s\r\n\r\n" % cte).encode() + self.transfer(cte, data)

    def multipart(self, depth, parts):
        boundary = "----=_Part_%d_%d" % (depth, self.r.randrange(10 ** 6))
        subtype = self.pick(["mixed", "mixed", "alternative", "related"])
        body = b"This is a multi-part message in MIME format.\r\n" if self.r.random() < 0.5 else b""
        if subtype == "alternative":
            children = []
            has_plain = self.r.random() < 0.7
            if has_plain:
                head, cte, data, text, known = self.text_body(False)
                children.append(((head + "Content-Transfer-Encoding: %s\r\n\r\n" % cte).encode() +
                                 self.transfer(cte, data), ("text", text, known, False)))
            head, cte, data, text, known = self.text_body(True)
            children.append(((head + "Content-Transfer-Encoding: %s\r\n\r\n" % cte).encode() +
                             self.transfer(cte, data), ("text", text, known, True)))
            parts.append(children[0][1])
            wires = [c[0] for c in children]
        else:
            wires = [self.entity(depth + 1, parts) for _ in range(self.r.randint(1, 4))]
        for wire in wires:
            body += ("--%s\r\n" % boundary).encode() + wire
            if not body.endswith(b"\r\n"):
                body += b"\r\n"
        if self.r.random() < 0.9:
            body += ("--%s--\r\n" % boundary).encode()
            if self.r.random() < 0.3:
                body += b"epilogue text\r\n"
        head = 'Content-Type: multipart/%s;\r\n\tboundary="%s"\r\n\r\n' % (subtype, boundary)
        return head.encode() + body

    def forwarded(self, depth, parts):
        subject = self.text([JAPANESE, ASCII])
        wire_subject = "=?UTF-8?B?%s?=" % base64.b64encode(subject.encode()).decode()
        inner_parts = []
        inner = self.entity(depth + 1, inner_parts)
        header = "From: inner@example.jp\r\nSubject: %s\r\n" % wire_subject
        parts.append(("header", "From: inner@example.jp\nSubject: %s\n" % subject))
        parts.extend(inner_parts)
        return b"Content-Type: message/rfc822\r\n\r\n" + header.encode() + inner

    def message(self):
        subject, subject_known = self.header_text()
        sender, sender_name, sender_known = self.sender()
        parts = []
        header = "From: %s\r\nTo: you@example.jp\r\nSubject: %s\r\nDate: Mon, 2 Dec 2024 10:00:00 +0900\r\n" \
                 "MIME-Version: 1.0\r\n" % (sender, subject)
        body = self.entity(0, parts)
        return header.encode("utf-8") + body, subject_known, sender_known, parts


def sjis_pair_to_jis(s):
    s1, s2 = s[0], s[1]
    row = (s1 - (0x70 if s1 < 0xA0 else 0xB0)) * 2
    if s2 >= 0x9F:
        return bytes([row, s2 - 0x7E])
    return bytes([row - 1, s2 - (0x1F if s2 < 0x7F else 0x20)])


def python_view(wire):
    msg = email.message_from_bytes(wire, policy=email.policy.default)
    return msg


def python_texts(msg, out):
    """What the view shows, from Python's decoding: texts and attachments in order."""
    ctype = msg.get_content_type()
    if msg.is_multipart() and ctype == "message/rfc822":
        inner = msg.get_payload(0)
        lines = ["%s: %s" % (h, inner[h]) for h in ("Date", "From", "To", "Cc", "Subject") if inner[h] is not None]
        out.append(("header", "\n".join(lines) + "\n"))
        python_texts(inner, out)
        return
    if msg.is_multipart():
        children = msg.get_payload()
        if ctype == "multipart/alternative":
            chosen = next((c for c in children if c.get_content_type() == "text/plain"), None) or \
                next((c for c in children if c.get_content_type() == "text/html"), children[-1])
            python_texts(chosen, out)
            return
        for child in children:
            python_texts(child, out)
        return
    if ctype in ("text/plain", "text/html") and msg.get_content_disposition() != "attachment":
        text = msg.get_content()
        out.append(("text", html_text(text) if ctype == "text/html" else text))
    else:
        out.append(("attachment", msg.get_payload(decode=True) or b"", msg.get_filename() or ""))


def read(path, binary=False):
    with open(path, "rb") as f:
        data = f.read()
    return data if binary else data.decode("utf-8")


def check(index, base, wire, subject_known, sender_known, parts, errors):
    msg = python_view(wire)
    def differ(what, got, want):
        errors.append("%s: %s differs\n  quillo: %r\n  python: %r" % (os.path.basename(base), what, got, want))

    subject = read(base + ".subject")
    want = subject_known if subject_known is not None else str(msg["subject"])
    if sjis_form(subject) != sjis_form(want):
        differ("subject", subject, want)
    sender = read(base + ".sender")
    address = msg["from"].addresses[0] if msg["from"] and msg["from"].addresses else None
    want = sender_known if sender_known is not None else \
        (address.display_name or address.addr_spec if address else "")
    if sjis_form(sender) != sjis_form(want):
        differ("sender", sender, want)

    expected = []
    python_texts(msg, expected)
    # Known answers where Python cannot read the text.
    pieces = [p for p in expected if p[0] != "attachment"]
    generated = [p for p in parts if p[0] != "attachment"]
    want_text = []
    for i, piece in enumerate(pieces):
        if i < len(generated) and generated[i][0] == "text" and generated[i][2]:
            want_text.append(generated[i][1])
        else:
            want_text.append(piece[1])
    got_text = read(base + ".text")
    if squeezed(got_text) != squeezed("\n".join(want_text)):
        differ("text", got_text, "\n".join(want_text))

    attachments = [p for p in expected if p[0] == "attachment"]
    listed = [line.split("\t") for line in read(base + ".parts").splitlines()]
    if len(listed) != len(attachments):
        differ("attachment count", len(listed), len(attachments))
        return
    for (number, _type, name), (_, data, want_name) in zip(listed, attachments):
        got = read(base + ".part" + number, binary=True)
        if got != data:
            differ("attachment %s bytes" % number, got[:40], data[:40])
        if sjis_form(name) != sjis_form(want_name):
            differ("attachment %s name" % number, name, want_name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", help="write the messages here and keep them")
    args = parser.parse_args()
    gen = Gen(random.Random(args.seed))
    with tempfile.TemporaryDirectory(prefix="quillo-mime-") as scratch:
        directory = args.keep or scratch
        os.makedirs(directory, exist_ok=True)
        made = []
        for i in range(args.count):
            wire, subject_known, sender_known, parts = gen.message()
            path = os.path.join(directory, "m%05d.eml" % i)
            with open(path, "wb") as f:
                f.write(wire)
            made.append((path[:-4], wire, subject_known, sender_known, parts))
        result = subprocess.run([args.probe, directory], timeout=180)
        if result.returncode != 0:
            print("mime_probe failed", file=sys.stderr)
            return 1
        errors = []
        for i, (base, wire, subject_known, sender_known, parts) in enumerate(made):
            check(i, base, wire, subject_known, sender_known, parts, errors)
        for error in errors[:20]:
            print(error)
        print("%d messages, %d differences" % (args.count, len(errors)))
        return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
