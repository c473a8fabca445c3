#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Mail shaped the way Japanese mailers, phones and web mail write it, and
broken the ways they break; settings files as Windows and hand editors leave
them; history and address records. Run it again after changing a seed: it
rewrites the files it owns and leaves the others (the mail samples of the
tests, copied in) alone.
"""
import base64
import pathlib
import shutil
import struct
import urllib.parse

ROOT = pathlib.Path(__file__).resolve().parent
CORPUS = ROOT / "corpus"


def b64(data):
    return base64.encodebytes(data).decode("ascii").replace("\n", "\r\n")


def word(text, charset, codec=None):
    """One RFC 2047 encoded-word, B encoding."""
    raw = text.encode(codec or charset)
    return "=?%s?B?%s?=" % (charset, base64.b64encode(raw).decode("ascii"))


def rfc2231(text, charset="UTF-8"):
    return "%s''%s" % (charset, urllib.parse.quote(text.encode(charset), safe=""))


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def message(headers, body):
    return crlf(headers.strip("\n") + "\n\n").encode("ascii") + body


def attachment(boundary, name_params, data, content_type="application/octet-stream"):
    return crlf("--%s\nContent-Type: %s\nContent-Transfer-Encoding: base64\n"
                "Content-Disposition: attachment;%s\n\n" % (boundary, content_type, name_params)) + b64(data)


def mail_seeds():
    seeds = {}
    japanese = "ご無沙汰しております。来週の打ち合わせの件です。"

    seeds["iso2022jp_plain.eml"] = message(
        "From: %s <yamada@example.jp>\nSubject: %s\nDate: Mon, 07 Dec 2026 09:15:00 +0900\n"
        "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 7bit"
        % (word("山田 太郎", "ISO-2022-JP", "iso2022_jp"), word("打ち合わせの件", "ISO-2022-JP", "iso2022_jp")),
        crlf(japanese + "\n").encode("iso2022_jp"))

    seeds["shift_jis_qp.eml"] = message(
        "From: =?Shift_JIS?Q?=8D=B2=93=A1?= <sato@example.co.jp>\nSubject: =?Shift_JIS?Q?=8C=A9=8F=CF=82=E8?=\n"
        "Date: 8 Dec 2026 18:30 +0900\nContent-Type: text/plain; charset=Shift_JIS\n"
        "Content-Transfer-Encoding: quoted-printable",
        b"".join(b"=%02X" % c for c in "見積り①をお送りします".encode("cp932")) + b"\r\n")

    seeds["eucjp_8bit.eml"] = message(
        "From: suzuki@example.ne.jp\nSubject: %s\nContent-Type: text/plain; charset=EUC-JP\n"
        "Content-Transfer-Encoding: 8bit" % word("会議室の予約", "EUC-JP", "euc_jp"),
        crlf("会議室を予約しました。\n").encode("euc_jp"))

    seeds["utf8_base64_emoji.eml"] = message(
        "From: %s <keitai@example.com>\nSubject: %s\nDate: Tue, 1 Dec 2026 12:00:00 +0000\n"
        "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64"
        % (word("携帯 🐱", "UTF-8"), word("今から帰ります🏃", "UTF-8")),
        b64("今から帰ります🏃\n夕飯はカレー🍛\n".encode("utf-8")).encode("ascii"))

    # Nested: mixed > (alternative > plain, related > html, image), an
    # attachment, a forwarded message with an attachment of its own.
    inner = message(
        "From: fwd@example.jp\nSubject: %s\nContent-Type: multipart/mixed; boundary=inner"
        % word("転送元", "ISO-2022-JP", "iso2022_jp"),
        crlf("--inner\nContent-Type: text/plain; charset=UTF-8\n\n転送の本文\n").encode("utf-8")
        + attachment("inner", " filename*=%s" % rfc2231("転送の添付.txt"), "中身".encode("utf-8")).encode("ascii")
        + b"--inner--\r\n")
    body = crlf("--outer\nContent-Type: multipart/alternative; boundary=alt\n\n"
                "--alt\nContent-Type: text/plain; charset=ISO-2022-JP\n\n").encode("ascii")
    body += crlf("本文です\n").encode("iso2022_jp")
    body += crlf("--alt\nContent-Type: multipart/related; boundary=rel\n\n"
                 "--rel\nContent-Type: text/html; charset=UTF-8\n\n<p>本文<b>です</b><img src=cid:a></p>\n").encode("utf-8")
    body += attachment("rel", " filename=\"image.png\"", b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", "image/png").encode("ascii")
    body += b"--rel--\r\n--alt--\r\n"
    body += attachment("outer", "\r\n filename*0*=%s;\r\n filename*1*=%s" % (
        rfc2231("資料の"), urllib.parse.quote("一覧.csv".encode("utf-8"))), "a,b\r\n1,2\r\n".encode()).encode("ascii")
    body += crlf("--outer\nContent-Type: message/rfc822\n\n").encode("ascii") + inner + b"--outer--\r\n"
    seeds["nested_multiparts.eml"] = message(
        "From: a@example.jp\nSubject: nested\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=outer", body)

    # Names a sender may choose to get out of the folder or over a file.
    hostile = ["../../outside.txt", "/etc/passwd", "..\\..\\boot.ini", "C:evil.exe", "link.txt", "dangling.txt",
               ".bashrc", "...", " ", "report\u202etxt.exe", "a\u0000b.txt", "a\r\nb.txt", "CON", "x" * 300 + ".txt",
               "名" * 120 + ".pdf", "same.txt", "same.txt", "\ud83d\ude00.txt".encode("utf-16", "surrogatepass")
               .decode("utf-16"), "", "\u3000\u3000.doc"]
    body = crlf("--b\nContent-Type: text/plain\n\nsee attached\n").encode("ascii")
    for i, name in enumerate(hostile):
        try:
            param = " filename*=%s" % rfc2231(name)
        except UnicodeEncodeError:
            param = " filename=\"%s\"" % name
        body += attachment("b", param, ("attachment %d\n" % i).encode()).encode("ascii")
    body += b"--b--\r\n"
    seeds["hostile_attachment_names.eml"] = message(
        "From: x@example.com\nSubject: names\nContent-Type: multipart/mixed; boundary=b", body)

    seeds["rfc2047_names.eml"] = message(
        "From: x@example.com\nSubject: %s %s\nContent-Type: multipart/mixed; boundary=\"b\"" % (
            word("分割され", "ISO-2022-JP", "iso2022_jp"), word("た件名", "ISO-2022-JP", "iso2022_jp")),
        crlf("--b\nContent-Type: text/plain\n\nbody\n").encode("ascii")
        + attachment("b", " filename=\"%s\"" % word("請求書.pdf", "ISO-2022-JP", "iso2022_jp"), b"%PDF-1.4").encode()
        + attachment("b", " filename=\"%s\"" % word("表計算.xls", "Shift_JIS", "cp932"), b"\xd0\xcf\x11\xe0").encode()
        + attachment("b", " filename=\"%s\"" % word("写真.jpg", "EUC-JP", "euc_jp"), b"\xff\xd8\xff").encode()
        + b"--b--\r\n")

    seeds["header_breaks_encoded.eml"] = message(
        "From: =?UTF-8?B?%s?= <a@example.com>\nSubject: =?UTF-8?Q?line=0D=0Abreak=00nul?=\n"
        "Date: =?UTF-8?B?%s?=\nContent-Type: text/plain"
        % (base64.b64encode(b"Evil\r\nBcc: victim@example.com").decode(),
           base64.b64encode(b"Mon,\r\n 1 Jan 2026").decode()),
        b"body\r\n")

    seeds["broken_encodings.eml"] = message(
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg?=\nSubject: =?Shift_JIS?B?gqCCog=?= =?UNKNOWN?Q?x?= =?UTF-8?B?4oCg?=\n"
        "Content-Type: multipart/mixed; boundary=b",
        crlf("--b\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: base64\n\n"
             "GyRCJCIkJBsoQg=!!!notbase64\n--b\nContent-Type: text/plain; charset=x-unknown\n"
             "Content-Transfer-Encoding: quoted-printable\n\n=E3=81=8=\n=ZZ\n"
             "--b\nContent-Disposition: attachment; filename*=UTF-8''%E3%81\n"
             "Content-Transfer-Encoding: base64\n\n====\n").encode("ascii") + b"\x1b$B\x30\x21\x1b(B\xff\xfe\r\n")

    seeds["unterminated_multipart.eml"] = message(
        "Subject: no end\nContent-Type: multipart/mixed; boundary=never",
        crlf("--never\nContent-Type: multipart/mixed; boundary=never2\n\n--never2\n"
             "Content-Disposition: attachment; filename=deep.bin\n\nx\n").encode("ascii"))

    seeds["partial_one_of_three.eml"] = message(
        "Subject: split\nContent-Type: message/partial; id=\"abc@example\"; number=1; total=3",
        crlf("Subject: whole\nContent-Type: text/plain\n\nfirst third\n").encode("ascii"))
    return seeds


def ini(text, codec="cp932"):
    return text.encode(codec)


def settings_seeds():
    return {
        "sorane_windows.ini": ini("SMTP=mail.example.jp\r\nPOP3=pop.example.jp:995\r\nMAIL=taro@example.jp\r\nAPOP=1\r\n"),
        "sorane_linux_edited.ini": ini("POP3=pop3s://pop.example.jp\nSMTP=smtp://smtp.example.jp:587\nAPOP= 1.6e1x\nmail=lower\n"),
        "sorane_bare_cr.ini": ini("SMTP=a\rPOP3=b\rMAIL=山田@例え.jp\rAPOP=&HFFFF"),
        "sorane_long.ini": ini("SMTP=" + "s" * 150 + "\r\nPOP3=" + "漢" * 120 + "\r\nAPOP=99999999\r\n"),
        "idpass_windows.ini": ini("[EXEINI]\r\nNAME=taro\r\nNAME2=secret\r\nNAME3=1\r\n"),
        "idpass_quoted_blanks.ini": ini("[exeini]\r\n  name  =  \" spaced \"  \r\nNAME2=\"\"\"\r\n; NAME=comment\r\n"),
        "idpass_bare_cr_last.ini": ini("[EXEINI]\r\nNAME=id\r"),
        "idpass_duplicates.ini": ini("[OTHER]\r\nNAME=other\r\n[EXEINI]\r\nNAME=first\r\nNAME=second\r\n[EXEINI]\r\nNAME2=late\r\n"),
        "idpass_cp932.ini": ini("[EXEINI]\r\nNAME=ユーザー①\r\nNAME2=パス～ワード\r\nNAME4=keep\r\n\r\n[OTHER]\r\nNAME2=x\r\n"),
        "idpass_no_section.ini": ini("NAME=orphan\nNAME2=orphan\n[EXEINI\nNAME3=0"),
        "idpass_broken_bytes.ini": b"[EXEINI]\r\nNAME=\x81\r\nNAME2=\xff\xfe\x00z\r\n",
        "chara_flags.ini": ini("[EXEINI]\r\nNAME1=1\r\nNAME2=0\r\nNAME3=01\r\nNAME4=1.0\r\nNAME5= 1x\r\n"),
        "chara_flags_hex.ini": ini("[EXEINI]\nNAME1=&H1\nNAME2=&O1\nNAME3=1e0\nNAME4=\"1\"\nNAME5=2\n"),
        "empty.ini": b"",
    }


def history_record(subject, column2, column3, body, live=1):
    def field(text, width):
        raw = text.encode("cp932")[:width]
        return raw + b" " * (width - len(raw))
    return (field(subject, 100) + field(column2, 90) + field(column3, 90) + field(body, 12000) + b"\r\n"
            + struct.pack("<h", live))


def address_record(name, address, live=1):
    raw_name = (name + "\u3000" * (30 - len(name))).encode("cp932")[:60]
    raw_address = address.encode("cp932")[:60]
    return (raw_name + b" " * (60 - len(raw_name)) + b"\r\n" + struct.pack("<h", live)
            + raw_address + b" " * (60 - len(raw_address)))


def record_seeds():
    return {
        "history_received.bin": history_record("打ち合わせの件", "山田 太郎 <yamada@example.jp>",
                                               "2026/12/07  9:15:00", "本文です。\r\n二行目①\r\n"),
        "history_sent_marked.bin": history_record("Re: 件名", " 2026/12/08 18:30:00 ", "sato@example.co.jp",
                                                  "送信した本文", 0),
        "history_short.bin": history_record("short", "a", "b", "c")[:400],
        "history_nul_and_breaks.bin": history_record("a\0hidden", "x", "y", "one\rtwo\nthree\r\n", -1),
        "history_broken_cp932.bin": b"\x81" * 100 + b"\xff" * 90 + b"\x82" * 12094,
        "address_book_three.bin": address_record("山田", "yamada@example.jp") + address_record(
            "佐藤 花子", "hanako@example.co.jp", 0) + address_record("Smith", "smith@example.com"),
        "address_book_partial.bin": address_record("一人", "one@example.jp") + b"\x81\x40partial",
        "texts.txt": "件名\x1f差出人 <a@example.jp>\x1f2026/12/07\x1f本文\n一行\r二行".encode("utf-8"),
        "texts_too_long.txt": ("長" * 80 + "\x1f" + "x" * 120 + "\x1f\x1f" + "本" * 7000).encode("utf-8"),
    }


def html_seeds():
    """HTML mail as newsletters and phones write it, and as attackers do.
    The first byte of each input picks the sanitiser's options (bit 0:
    remote images loaded, bit 1: a small output limit)."""
    seeds = {
        "newsletter.html": "\x00<html><head><style>p{color:red}</style><title>件名</title></head><body>"
        "<table width=600><tr><td style='padding:8px'><a href='https://shop.example/?a=1&amp;b=2'>"
        "<img src='https://img.example/p.png' width=120 alt='商品'></a><h3>今週のおすすめ</h3>"
        "<p>期間限定の<b>特別価格</b>です。<a href='https://shop.example/'>https://shop.example/</a></p>"
        "</td></tr></table><img src='cid:logo@example.jp'></body></html>",
        "remote_images_loaded.html": "\x01<p><img src='//cdn.example/a.gif'><img src=http://x.example/b.png alt=b>"
        "<img src='data:image/png;base64,AAAA'><img src='file:///etc/passwd'></p>",
        "scripts_and_events.html": "\x00<body onload=alert(1)><script>alert(1)</script><p onclick='x()' "
        "style='background:url(http://x/)'>a</p><svg><script>1</script></svg><iframe src=http://x/>f</iframe>"
        "<meta http-equiv=refresh content='0;url=http://x/'><a href='javascript:alert(1)'>j</a>"
        "<form action=http://x/><input value=v><button>送信</button><textarea>本文</textarea></form>",
        "deceptive_links.html": "\x00<a href='https://evil.example/'>https://bank.example/</a> "
        "<a href='mailto:x@evil.example'>info@bank.example</a> <a href='https://xn--r8jz45g.jp/'>例え.jp</a>",
        "lists_tables_pre.html": "\x00<ol><li>一<li>二<ul><li>a</ul></ol><dl><dt>t<dd>d</dl>"
        "<table><caption>c</caption><thead><tr><th colspan=2>h</thead><tr><td>1<td rowspan=9>2</table>"
        "<pre>\n\n  x\ty\n</pre><blockquote>q<br>r</blockquote><hr><font color=#f00>赤</font>",
        "deep_nesting.html": "\x00" + "<div><b><blockquote>x" * 300,
        "broken_mid_tag.html": "\x02<p>a</p><b>b<a href=\"https://x.example/\" title='unterminated",
        "entities.html": "\x00&hellip;&nbsp;&NotNestedGreaterGreater;&amp &ampx &#0; &#xD800; &#x110000; <p>&lt;&gt;</p>",
        "misnested.html": "\x00<b><i>a</b>b</i><p><div>c</p></div><table><td>d</div><a><a>e</a></a>"
        "<table><tr><td><table><tr><td>f</table>g</table>",
    }
    data = {name: text.encode("utf-8") for name, text in seeds.items()}
    data["nul_and_bad_utf8.html"] = b"\x00<p>a\x00b\xff\xfe\xed\xa0\x80c</p>"
    return data


def write(target, seeds):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


def main():
    write("received_message", mail_seeds())
    samples = ROOT.parent / "tests" / "mail" / "samples"
    for sample in sorted(samples.glob("*.eml")):
        shutil.copyfile(sample, CORPUS / "received_message" / ("sample_" + sample.name))
    write("settings_files", settings_seeds())
    write("records", record_seeds())
    write("html_sanitizer", html_seeds())


if __name__ == "__main__":
    main()
