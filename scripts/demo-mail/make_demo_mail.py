#!/usr/bin/python3
"""Writes the messages that ./run.sh leaves waiting in the demo mailbox, in
the order their names sort: one written the way Windows mailers write
Japanese (ISO-2022-JP, the circled digit of the character tag in NEC row
13), one with an attachment whose name is Japanese, then mail as people get
it (a shop's HTML newsletter with remote pictures and a deceptive link, a
business letter from a Windows mailer with ① ㈱ ～, UTF-8 with emoji, Hangul
and simplified Chinese, several attachments with an inline picture, a letter
longer than a history record), and last one with a fortune, whose tag shows
the character of mood 5 after a check. Run it again to remake them: the
output is the same every time."""

import base64
import io
import os
import quopri
import struct
import zipfile
import zlib

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


def folded_word(text, size=12):
    """A long header text as Windows mailers fold it: an encoded word per
    piece of a few characters, each back in ASCII at its end, one to a
    line, so that no encoded word passes 75 characters."""
    return b"\r\n ".join(word(text[i:i + size]) for i in range(0, len(text), size))


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
write("8_fortune.eml",
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


# --- Mail as people get it, between the attachment and the fortune.

def utf8_word(text):
    return b"=?UTF-8?B?" + base64.b64encode(text.encode()) + b"?="


def folded_utf8_word(text, size=16):
    """A long UTF-8 header text folded as mailing systems fold it, an
    encoded word of a few characters to a line."""
    return b"\r\n ".join(utf8_word(text[i:i + size]) for i in range(0, len(text), size))


def base64_lines(data):
    return CRLF.join(base64.encodebytes(data).splitlines()) + CRLF


def quoted_printable(text):
    """UTF-8 text in quoted-printable with CRLF line ends, as a shop's
    mailing system writes HTML."""
    return quopri.encodestring(text.replace("\r\n", "\n").encode()).replace(b"\n", CRLF)


def png(width, height, pixel):
    """A truecolour PNG; pixel(x, y) gives (r, g, b)."""
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def pdf(line):
    """A one-page PDF with a line of ASCII text, its cross-reference table
    counted from the bytes written."""
    stream = b"BT /F1 18 Tf 72 760 Td (" + line.encode() + b") Tj ET"
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R"
               b" /Resources << /Font << /F1 5 0 R >> >> >>",
               b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream",
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    out, offsets = b"%PDF-1.4\n", []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    return out + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)


def xlsx(rows):
    """A workbook of one sheet of inline strings and numbers, with fixed
    times in the archive so that the file is the same every run."""
    def cell(column, row, value):
        ref = "%s%d" % ("ABCDEFGH"[column], row)
        if isinstance(value, str):
            return '<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, value)
        return '<c r="%s"><v>%s</v></c>' % (ref, value)

    sheet_rows = "".join('<row r="%d">%s</row>' % (r, "".join(cell(c, r, v) for c, v in enumerate(row)))
                         for r, row in enumerate(rows, 1))
    files = {
        "[Content_Types].xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>',
        "_rels/.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
            'relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
            'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
            '<sheets><sheet name="売上" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
            'relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>',
        "xl/worksheets/sheet1.xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            '<sheetData>' + sheet_rows + '</sheetData></worksheet>',
    }
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in files.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 12, 8, 10, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text.encode())
    return buffer.getvalue()


def header(sender, subject, date, number, rest):
    return (b"From: " + sender + b"\r\nTo: alice@localhost\r\nSubject: " + subject + b"\r\nDate: " + date
            + b"\r\nMessage-ID: <demo-%d@localhost>\r\nMIME-Version: 1.0\r\n" % number + rest)


# A shop's newsletter: a short text part for old readers and the HTML that
# everyone sees, with a logo and a tracking pixel on a server of the shop's
# (addresses that do not resolve) and a link whose text names another site
# than the one it leads to.
newsletter_text = """\
Example Shop 12月のおすすめ

冬の新商品を入荷しました。
・ウールのマフラー 3,980円
・保温マグカップ 2,480円
・LED デスクライト 5,980円

ショップを見る: https://shop.example.com/winter
配信停止: https://news.example.com/unsubscribe?u=alice
"""
newsletter_html = """\
<!DOCTYPE html>
<html lang="ja"><head><meta charset="utf-8"><title>Example Shop ニュース</title>
<style>td { padding: 4px 12px; } .price { color: #c0392b; font-weight: bold; }</style></head>
<body style="font-family: sans-serif; background: #ffffff;">
<p><img src="https://news.example.com/images/logo.png" alt="Example Shop" width="180" height="48"></p>
<h1>12月のおすすめ商品</h1>
<p>いつも Example Shop をご利用いただき、ありがとうございます。<br>
寒い季節にぴったりの<b>冬の新商品</b>を入荷しました。数に限りがありますので、お早めにどうぞ。</p>
<table border="1" cellspacing="0">
<tr><th>商品</th><th>色</th><th>価格（税込）</th></tr>
<tr><td>ウールのマフラー</td><td>紺・灰</td><td class="price">3,980円</td></tr>
<tr><td>保温マグカップ 350ml</td><td>白</td><td class="price">2,480円</td></tr>
<tr><td>LED デスクライト</td><td>黒</td><td class="price">5,980円</td></tr>
</table>
<h2>今月の特典</h2>
<ul>
<li>5,000円以上のお買い上げで送料無料</li>
<li>会員様はポイント <i>2倍</i></li>
<li>12月24日までのご注文は年内にお届け</li>
</ul>
<p><a href="https://shop.example.com/winter">ショップで冬の新商品を見る</a></p>
<p>お支払いの登録内容の確認はこちら：
<a href="https://login.example-phish.test/">https://www.example-bank.co.jp/</a></p>
<hr>
<p style="font-size: small; color: #666666;">このメールは配信を希望された方にお送りしています。
<a href="https://news.example.com/unsubscribe?u=alice">配信停止</a></p>
<img src="https://news.example.com/open/track.gif?u=alice&amp;n=1207" width="1" height="1" alt="">
</body></html>
"""
write("3_newsletter_html.eml", header(
    b"Example Shop <news@news.example.com>", folded_utf8_word("【Example Shop】12月のおすすめ 冬の新商品が入荷しました"),
    b"Tue, 08 Dec 2026 08:00:00 +0900", 4,
    b"Content-Type: multipart/alternative; boundary=\"alt-demo4\"\r\n\r\n"
    b"--alt-demo4\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    + quoted_printable(newsletter_text)
    + b"--alt-demo4\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    + quoted_printable(newsletter_html) + b"--alt-demo4--\r\n"))

# A business letter as Windows mailers write it: ISO-2022-JP with the NEC
# row 13 characters (① ② ③ ㈱) and ～ (CP932's full-width tilde, written
# as JIS's wave dash), in the subject and in the body.
letter = ("㈱ルモ商事\r\n営業部　佐藤 様\r\n\r\nいつもお世話になっております。㈱サンプル工業の鈴木です。\r\n"
          "先日ご依頼いただいた件について、下記のとおりご案内いたします。\r\n\r\n"
          "①　納期：12月15日～12月18日\r\n②　数量：300個～500個\r\n③　お見積り：別途お送りします\r\n\r\n"
          "ご不明な点がございましたら、お気軽にお問い合わせください。\r\n"
          "引き続きよろしくお願いいたします。\r\n\r\n――――――――――――\r\n㈱サンプル工業　営業課　鈴木 一郎\r\n")
write("4_business_letter_windows.eml", header(
    word("鈴木 一郎") + b" <suzuki@sample-kogyo.example.jp>", folded_word("【ご案内】①納期 ②数量 ③お見積り（㈱サンプル工業）～ご確認ください"),
    b"Tue, 08 Dec 2026 10:12:00 +0900", 5,
    b"X-Mailer: Microsoft Outlook 16.0\r\n"
    b"Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + lines(letter)))

# UTF-8 in every script a friend abroad might write, in the subject, the
# sender's name and the body, sent as 8-bit text.
weekend = ("Salut Alice !\r\n\r\n週末の写真を送ります 📷🍣🍜🗻\r\n"
           "한국어: 주말 잘 보냈어요? 사진 고마워요! 😊\r\n"
           "简体字: 周末愉快，照片很漂亮。谢谢你！\r\n"
           "Français: café, crème brûlée, déjà vu, naïve, Noël à Zürich.\r\n"
           "Emoji: 👍 ❤️ 🎉 👨‍👩‍👧 🇯🇵\r\n\r\nÀ bientôt,\r\nZoë\r\n")
write("5_emoji_hangul_chinese.eml", header(
    utf8_word("Zoë Müller") + b" <zoe@example.fr>", utf8_word("週末の写真 🍣 한국어 简体字 café"),
    b"Tue, 08 Dec 2026 21:05:00 +0900", 6,
    b"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + weekend.encode()))

# Several attachments: a PDF with a Japanese name (named both ways, as
# mailers do), a picture, a workbook, and a picture the HTML shows by cid:.
banner = png(240, 60, lambda x, y: (255, 255, 255) if 24 <= y < 36 and 20 <= x < 220
             else ((40, 110, 180), (60, 150, 90), (230, 160, 40), (200, 70, 60))[x // 60])
photo = png(64, 48, lambda x, y: (255, 200, 80) if (x - 32) ** 2 + (y - 24) ** 2 < 300 else (90, 160, 220))
attachments_html = ("<html><body><p>お疲れさまです。来週の会議の資料をお送りします。</p>"
                    "<p><img src=\"cid:banner-demo7@localhost\" alt=\"会議のバナー\"></p>"
                    "<ul><li>見積書.pdf：お見積り</li><li>photo.png：会場の写真</li>"
                    "<li>売上集計.xlsx：今月の売上</li></ul><p>よろしくお願いします。</p></body></html>")
write("6_several_attachments.eml", header(
    word("山田 太郎") + b" <taro@localhost>", word("会議資料一式（見積書・写真・売上表）"),
    b"Wed, 09 Dec 2026 09:30:00 +0900", 7,
    b"Content-Type: multipart/mixed; boundary=\"mixed-demo7\"\r\n\r\n"
    b"--mixed-demo7\r\nContent-Type: multipart/related; boundary=\"related-demo7\"; type=\"multipart/alternative\"\r\n\r\n"
    b"--related-demo7\r\nContent-Type: multipart/alternative; boundary=\"alt-demo7\"\r\n\r\n"
    b"--alt-demo7\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines("お疲れさまです。来週の会議の資料をお送りします。\r\nよろしくお願いします。\r\n".encode())
    + b"--alt-demo7\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines(attachments_html.encode()) + b"--alt-demo7--\r\n"
    b"--related-demo7\r\nContent-Type: image/png; name=\"banner.png\"\r\nContent-Transfer-Encoding: base64\r\n"
    b"Content-ID: <banner-demo7@localhost>\r\nContent-Disposition: inline; filename=\"banner.png\"\r\n\r\n"
    + base64_lines(banner) + b"--related-demo7--\r\n"
    b"--mixed-demo7\r\nContent-Type: application/pdf; name=\"" + word("見積書.pdf") + b"\"\r\n"
    b"Content-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.pdf\r\n"
    b"Content-Transfer-Encoding: base64\r\n\r\n" + base64_lines(pdf("Mitsumorisho / Quotation No. 2026-1207"))
    + b"--mixed-demo7\r\nContent-Type: image/png; name=\"photo.png\"\r\n"
    b"Content-Disposition: attachment; filename=\"photo.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines(photo)
    + b"--mixed-demo7\r\nContent-Type: application/vnd.openxmlformats-officedocument.spreadsheetml.sheet; name=\""
    + word("売上集計.xlsx") + b"\"\r\n"
    b"Content-Disposition: attachment; filename*=UTF-8''%E5%A3%B2%E4%B8%8A%E9%9B%86%E8%A8%88.xlsx\r\n"
    b"Content-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines(xlsx([["月", "売上（円）"], ["10月", 1250000], ["11月", 1380000], ["12月", 1510000]]))
    + b"--mixed-demo7--\r\n"))

# A long letter: about 40,000 bytes of Japanese in UTF-8, so that its end
# lies well past the 12,000 bytes a history record keeps of a body.
seasons = ["春", "夏", "秋", "冬"]
paragraphs = ["拝啓　師走の候、ますますご清祥のこととお喜び申し上げます。今年一年を振り返り、"
              "長いお便りを差し上げます。"]
for number in range(1, 86):
    paragraphs.append(
        "第%d段落　%sの思い出です。朝早く駅まで歩き、川沿いの道で季節の移り変わりを感じました。"
        "昼は近所の食堂で定食をいただき、午後は図書館で本を読んで過ごしました。"
        "夕方には空が茜色に染まり、帰り道に見上げた雲の形がとても印象に残っています。"
        "こうした何気ない一日の積み重ねが、一年という時間を形作っているのだと思います。"
        % (number, seasons[number % 4]))
paragraphs.append("まだまだ書きたいことはありますが、今日はこのあたりで筆を置きます。"
                  "どうぞお体に気をつけて、よいお年をお迎えください。\r\n敬具\r\n\r\n"
                  "追伸　この一文が手紙の最後です（ここまで届けば全文が表示されています）。")
long_letter = "\r\n\r\n".join(paragraphs) + "\r\n"
assert 38000 <= len(long_letter.encode()) <= 42000, len(long_letter.encode())
write("7_long_letter.eml", header(
    utf8_word("田中 花子") + b" <hanako@example.jp>", utf8_word("一年を振り返って（長いお便り）"),
    b"Wed, 09 Dec 2026 20:00:00 +0900", 8,
    b"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines(long_letter.encode())))

# Junk as a provider marks it (SpamAssassin's headers), kept apart in junk/:
# ./run.sh leaves only the messages above waiting, and the junk pictures
# deliver this one too. With 迷惑メールを振り分ける on it goes into the 迷惑メール
# history and no character comes out for it.
spam = ("【当選】おめでとうございます！あなたは 1,000,000 円分のポイントに当選しました。\r\n"
        "今すぐ下のリンクから受け取り手続きをしてください（本日限り）。\r\n"
        "https://prize.example.net/claim\r\n")
os.makedirs(os.path.join(HERE, "junk"), exist_ok=True)
write("junk/1_marked_by_provider.eml", header(
    utf8_word("ポイント事務局") + b" <prize@prize.example.net>", utf8_word("【当選】ポイント受け取りのご案内"),
    b"Sun, 06 Dec 2026 03:14:00 +0900", 9,
    b"X-Spam-Flag: YES\r\nX-Spam-Status: Yes, score=12.3 required=5.0\r\n"
    b"Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    + base64_lines(spam.encode())))
