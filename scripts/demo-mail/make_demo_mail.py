#!/usr/bin/python3
"""Writes the messages that ./run.sh leaves waiting in the demo mailbox:
one written the way Windows mailers write Japanese (ISO-2022-JP, the
circled digit of the character tag in NEC row 13), one with an attachment
whose name is Japanese, and last one with a fortune, whose tag shows the
character of mood 5 after a check. Run it again to remake them."""

import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CRLF = b"\r\n"


def jis(text):
    """ISO-2022-JP as Windows writes it: each CP932 double-byte character
    shifted to its JIS row and cell, NEC row 13 included."""
    out, in_jis = b"", False
    for ch in text:
        if ord(ch) < 128:
            if in_jis:
                out += b"\x1b(B"
                in_jis = False
            out += ch.encode()
            continue
        c1, c2 = ch.encode("cp932")
        if c1 >= 0xE0:
            c1 -= 0x40
        c1 -= 0x81
        if c2 >= 0x80:
            c2 -= 1
        if c2 >= 0x9E:
            j1, j2 = c1 * 2 + 0x22, c2 - 0x9E + 0x21
        else:
            j1, j2 = c1 * 2 + 0x21, c2 - 0x40 + 0x21
        if not in_jis:
            out += b"\x1b$B"
            in_jis = True
        out += bytes([j1, j2])
    if in_jis:
        out += b"\x1b(B"
    return out


assert jis("（①の選択）") == b"\x1b$B!J-!$NA*Br!K\x1b(B"


def word(text):
    return b"=?ISO-2022-JP?B?" + base64.b64encode(jis(text)) + b"?="


def lines(text):
    return CRLF.join(jis(line) for line in text.split("\r\n")) + CRLF


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


welcome = ("ルモペットへようこそ。\r\n新しいメールが届くと、キャラクターがデスクトップを歩きます。"
           "\r\n\r\n\r\n\r\nLumopet（③の選択）")
write("1_welcome_windows_tag.eml",
      b"From: " + word("ルモペット") + b" <welcome@localhost>\r\nTo: alice@localhost\r\n"
      b"Subject: " + word("ようこそ") + b"\r\nDate: Mon, 07 Dec 2026 09:00:00 +0900\r\n"
      b"Message-ID: <demo-1@localhost>\r\nMIME-Version: 1.0\r\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + lines(welcome))

fortune = ("今日の運勢をどうぞ。\r\n\r\n★★★　この占いは Velnor（ミロネット）がアトランダムにチョイスしたものです"
           "（だからこそ占い♪）　送信者にも内容は判りませんので、あしからず・・・当たるも八卦、当たらぬも八卦。★★★"
           "\r\n\r\n中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば、明日は更に運気アップ！"
           "\r\n\r\n\r\n\r\nLumopet（⑤の選択）\r\n")
write("3_fortune.eml",
      b"From: bob@localhost\r\nTo: alice@localhost\r\n"
      b"Subject: =?UTF-8?B?" + base64.b64encode("おみくじ付きです".encode()) + b"?=\r\n"
      b"Date: Mon, 07 Dec 2026 12:30:00 +0900\r\nMessage-ID: <demo-2@localhost>\r\nMIME-Version: 1.0\r\n"
      b"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      + CRLF.join(base64.encodebytes(fortune.encode()).splitlines()) + CRLF)

attachment = "会議資料です。\r\nよろしくお願いします。\r\n".encode("cp932")
write("2_attachment_japanese_name.eml",
      b"From: " + word("山田 太郎") + b" <taro@localhost>\r\nTo: alice@localhost\r\n"
      b"Subject: " + word("資料送付") + b"\r\nDate: Mon, 07 Dec 2026 15:45:00 +0900\r\n"
      b"Message-ID: <demo-3@localhost>\r\nMIME-Version: 1.0\r\n"
      b"Content-Type: multipart/mixed; boundary=\"----=_Part_demo3\"\r\n\r\n"
      b"------=_Part_demo3\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
      b"Content-Transfer-Encoding: 7bit\r\n\r\n" + lines("資料を添付します。ご確認ください。")
      + b"------=_Part_demo3\r\nContent-Type: text/plain; charset=Shift_JIS; name=\"" + word("資料.txt") + b"\"\r\n"
      b"Content-Disposition: attachment; filename*=UTF-8''%E8%B3%87%E6%96%99.txt\r\n"
      b"Content-Transfer-Encoding: base64\r\n\r\n" + base64.b64encode(attachment) + b"\r\n------=_Part_demo3--\r\n")
