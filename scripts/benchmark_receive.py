#!/usr/bin/python3
"""The parts of scripts/benchmark_receive.sh that are easier in Python.

    benchmark_receive.py messages FOLDER COUNT
        writes COUNT messages like everyday Japanese mail (2 to 4 KB each)
        into FOLDER as 00000.eml, 00001.eml, ...; the same every time.
    benchmark_receive.py click --x X --y Y --bbox L,T,W,H --maildir DIR
                         --history FILE --record-size N --count COUNT
        clicks at (X, Y) on the screen and waits until the Maildir on the
        server is empty and the history holds COUNT records; prints the
        seconds from the click, then how many different pictures of the
        box L,T,W,H of the screen it saw while the check ran, out of how
        many it took. With --junk-history FILE the records of that history
        count too (a check with the junk filter on).
    benchmark_receive.py bare --port P --ca FILE --user U --password W
        empties the mailbox as the least a POP3 client can do (STLS, all
        RETRs pipelined and thrown away, all DELEs with QUIT) and prints
        the seconds it took: the floor under every client's figure.
    benchmark_receive.py summary FILE
        FILE holds "name seconds" lines, one per run; prints the best and
        the median of each name and the ratio of Lumopet to mpop.

The click and the pictures go through libX11 and libXtst (installed with
xdotool and Xvfb).
"""

import argparse
import base64
import ctypes
import datetime
import email.utils
import hashlib
import os
import random
import socket
import ssl
import statistics
import sys
import time
import unicodedata

# ---------------------------------------------------------------------------
# Messages

SENDERS = [
    ("山田 花子", "hanako.yamada@example.jp"),
    ("佐藤 一郎", "ichiro@sato-shoji.example.co.jp"),
    ("鈴木 美咲", "misaki.suzuki@example.ne.jp"),
    ("高橋 健太", "kenta@takahashi.example.com"),
    ("田中 由美", "yumi_tanaka@example.or.jp"),
    ("株式会社 みどり書房", "info@midori-shobo.example.jp"),
    ("渡辺 拓也", "t.watanabe@example.ac.jp"),
    ("伊藤 さくら", "sakura.ito@example.jp"),
]

SUBJECTS = [
    "来週の打ち合わせについて", "資料送付のお願い", "Re: 忘年会の件",
    "【ご案内】新刊のお知らせ", "見積書の件（再送）", "お疲れさまでした",
    "明日の予定変更", "Re: Re: 旅行の写真", "会議室予約の確認",
    "ご注文ありがとうございます", "サーバー保守のお知らせ", "週報 第{n}週",
]

SENTENCES = [
    "いつもお世話になっております。",
    "先日はお忙しいところありがとうございました。",
    "来週の打ち合わせですが、火曜日の午後二時からでいかがでしょうか。",
    "資料は共有フォルダに置いてありますので、ご確認ください。",
    "見積書を添付いたしますので、ご査収のほどよろしくお願いいたします。",
    "ご不明な点がございましたら、お気軽にお問い合わせください。",
    "会場は駅前の会議室です。地図は下記のとおりです。",
    "今年も残りわずかとなりましたが、皆さまお元気でお過ごしでしょうか。",
    "写真を何枚か撮りましたので、あとでまとめて送ります。",
    "本件につきましては、担当者より改めてご連絡いたします。",
    "天気予報によると、週末は雨になるそうです。",
    "新しい商品の発売日が決まりましたので、お知らせいたします。",
    "お手数ですが、今週中にご返信いただけますと助かります。",
    "議事録を作成しましたので、内容に誤りがないかご確認ください。",
    "システムの保守作業のため、土曜日の夜はサービスを停止いたします。",
    "昨日の件、承知いたしました。",
    "引き続きどうぞよろしくお願いいたします。",
]

# The circled digits are in NEC's row 13, outside JIS X 0208, yet everyday
# ISO-2022-JP mail carries them; some bodies get a numbered list.
NUMBERED = ["①日程の確認", "②資料の準備", "③会場の予約"]

JST = datetime.timezone(datetime.timedelta(hours=9))

SIGNATURE = ["--", "{name}", "{address}", "電話 03-1234-5678"]


def iso2022jp(text):
    """ISO-2022-JP as mail programs write it, circled digits included:
    the text through CP932, each double-byte character turned back into
    its JIS row and cell (which is how ① comes out as row 13)."""
    out = bytearray()
    double = False
    for char in text:
        code = char.encode("cp932")
        if len(code) == 1:
            if double:
                out += b"\x1b(B"
                double = False
            out += code
            continue
        if not double:
            out += b"\x1b$B"
            double = True
        lead, trail = code
        lead -= 0xC1 if lead >= 0xE0 else 0x81
        trail -= 0x41 if trail >= 0x80 else 0x40
        row = lead * 2 + (1 if trail >= 94 else 0)
        out += bytes((0x21 + row, 0x21 + trail % 94))
    if double:
        out += b"\x1b(B"
    return bytes(out)


def encoded_word(text, charset):
    """An RFC 2047 word; ISO-2022-JP words end back in ASCII, as required."""
    data = iso2022jp(text) if charset == "ISO-2022-JP" else text.encode("utf-8")
    return "=?%s?B?%s?=" % (charset, base64.b64encode(data).decode("ascii"))


def wrap(text, width=36):
    """Japanese lines are broken by length, after punctuation when possible."""
    lines = []
    while len(text) > width:
        cut = max(text.rfind("。", 0, width), text.rfind("、", 0, width))
        cut = cut + 1 if cut > width // 2 else width
        lines.append(text[:cut])
        text = text[cut:]
    lines.append(text)
    return lines


def body_lines(rng, sender, target_bytes, cost):
    """Paragraphs until the body comes to about target_bytes, counted with
    cost(line), the bytes a line takes in the message."""
    lines = ["各位" if rng.random() < 0.3 else "ご担当者様", ""]
    if rng.random() < 0.3:
        lines += NUMBERED + [""]
    size = 0
    while size < target_bytes:
        paragraph = "".join(rng.choice(SENTENCES) for _ in range(rng.randint(2, 4)))
        for line in wrap(paragraph):
            if size >= target_bytes:
                break
            lines.append(line)
            size += cost(line)
        lines.append("")
    lines += [line.format(name=sender[0], address=sender[1]) for line in SIGNATURE]
    return lines


def message(rng, number):
    sender = rng.choice(SENDERS)
    charset = "ISO-2022-JP" if rng.random() < 0.7 else "UTF-8"
    subject = rng.choice(SUBJECTS).format(n=number % 52 + 1)
    when = 1796600000 + number * 613 + rng.randint(0, 600)
    date = email.utils.format_datetime(datetime.datetime.fromtimestamp(when, JST))
    relay = "mx%d.example.jp" % rng.randint(1, 4)
    queue = "%08X" % rng.getrandbits(32)
    header = [
        "Return-Path: <%s>" % sender[1],
        "Received: from %s (%s [192.0.2.%d])" % (relay, relay, rng.randint(1, 254)),
        "\tby mail.localhost (Postfix) with ESMTPS id %s" % queue,
        "\tfor <bench@localhost>; %s" % date,
        "Received: from pc%02d.office.example.jp (unknown [10.0.%d.%d])" % (
            rng.randint(1, 40), rng.randint(0, 9), rng.randint(1, 254)),
        "\tby %s (Postfix) with ESMTPSA id %08X;" % (relay, rng.getrandbits(32)),
        "\t%s" % date,
        "Date: %s" % date,
        "From: %s <%s>" % (encoded_word(sender[0], charset), sender[1]),
        "To: bench@localhost",
        "Subject: %s" % encoded_word(subject, charset),
        "Message-ID: <%d.%s@%s>" % (when, queue.lower(), sender[1].split("@")[1]),
        "MIME-Version: 1.0",
        "X-Mailer: Office Mail 4.2",
    ]
    header_size = sum(len(line) + 2 for line in header) + 100
    target = rng.randint(2048, 4096) - header_size
    if charset == "ISO-2022-JP":
        cost = lambda line: len(iso2022jp(line)) + 2
    else:
        cost = lambda line: (len(line.encode("utf-8")) + 2) * 4 // 3
    text = "\r\n".join(body_lines(rng, sender, target, cost)) + "\r\n"
    if charset == "ISO-2022-JP":
        header += ["Content-Type: text/plain; charset=ISO-2022-JP", "Content-Transfer-Encoding: 7bit"]
        body = b"\r\n".join(iso2022jp(line) for line in text.split("\r\n"))
    else:
        header += ["Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: base64"]
        body = base64.encodebytes(text.encode("utf-8")).replace(b"\n", b"\r\n")
    return ("\r\n".join(header) + "\r\n\r\n").encode("ascii") + body


def command_messages(args):
    rng = random.Random(20261207)
    os.makedirs(args.folder, exist_ok=True)
    sizes = []
    for number in range(args.count):
        data = message(rng, number)
        sizes.append(len(data))
        with open(os.path.join(args.folder, "%05d.eml" % number), "wb") as f:
            f.write(data)
    print("%d messages, %d to %d bytes, %.0f KB in all" % (
        len(sizes), min(sizes), max(sizes), sum(sizes) / 1024))


# ---------------------------------------------------------------------------
# One check through a click

def messages_left(maildir):
    return sum(1 for sub in ("new", "cur") for name in os.listdir(os.path.join(maildir, sub))
               if not name.startswith("."))


def records(history, record_size):
    try:
        return os.path.getsize(history) // record_size
    except FileNotFoundError:
        return 0


def stored(args):
    """The records of the check's histories: the received one, and the
    junk history when it is given."""
    junk = records(args.junk_history, args.record_size) if args.junk_history else 0
    return records(args.history, args.record_size) + junk


class XImage(ctypes.Structure):
    # The head of Xlib's XImage, up to the fields read here.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """One connection to the X server for the click and every picture. A
    program started for the click, and a connection opened for each
    picture, took more of the machine than the pictures themselves, and
    that time came out of the check being timed."""

    ALL_PLANES = ctypes.c_ulong(~0 & 0xFFFFFFFFFFFFFFFF)
    Z_PIXMAP = 2

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x11.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)
        self.root = self.x11.XDefaultRootWindow(self.display)

    def click(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XFlush(self.display)

    def picture(self, left, top, width, height):
        image = self.x11.XGetImage(self.display, self.root, left, top, width, height, self.ALL_PLANES, self.Z_PIXMAP)
        if not image:
            raise RuntimeError("no picture of the screen")
        data = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * height)
        self.x11.XDestroyImage(image)
        return hashlib.sha1(data).digest()


def command_click(args):
    left, top, width, height = (int(v) for v in args.bbox.split(","))
    screen = Screen(os.environ["DISPLAY"])

    # Pictures of the box, ten a second from 0.1 s after the click on. Two
    # different ones mean the window painted while the check ran.
    pictures = []
    start = time.monotonic()
    screen.click(args.x, args.y)
    next_picture = start + 0.1
    while True:
        now = time.monotonic()
        # The history's length first: a stat, where listing the server's
        # folder of a thousand names a hundred times a second would take
        # a share of the machine from the check it times.
        if stored(args) >= args.count and messages_left(args.maildir) == 0:
            break
        if now - start > args.timeout:
            print("no end after %d s: %d messages left on the server, %d in the history" % (
                args.timeout, messages_left(args.maildir), stored(args)),
                file=sys.stderr)
            return 1
        if now >= next_picture:
            pictures.append(screen.picture(left, top, width, height))
            next_picture += 0.1
        time.sleep(0.01)
    elapsed = time.monotonic() - start
    print("%.3f %d %d" % (elapsed, len(set(pictures)), len(pictures)))
    return 0


# ---------------------------------------------------------------------------
# The least a client can do

def command_bare(args):
    """STLS, login, every RETR in one write and its answer thrown away,
    every DELE with QUIT in one write, then QUIT's answer: no client that
    stores the mail can take less of this server.  Prints the seconds from
    the connection to QUIT's answer (the interpreter's start is not in
    them)."""
    start = time.monotonic()
    plain = socket.create_connection(("127.0.0.1", args.port))
    reader = plain.makefile("rb")
    reader.readline()
    plain.sendall(b"STLS\r\n")
    if not reader.readline().startswith(b"+OK"):
        raise SystemExit("the server refused STLS")
    context = ssl.create_default_context(cafile=args.ca)
    context.check_hostname = False
    connection = context.wrap_socket(plain, server_hostname="localhost")
    lines = connection.makefile("rb", buffering=1 << 20)
    connection.sendall(b"USER %s\r\nPASS %s\r\nSTAT\r\n" % (args.user.encode(), args.password.encode()))
    for _ in range(2):
        if not lines.readline().startswith(b"+OK"):
            raise SystemExit("the server refused the login")
    count = int(lines.readline().split()[1])
    connection.sendall(b"".join(b"RETR %d\r\n" % n for n in range(1, count + 1)))
    for _ in range(count):
        lines.readline()
        while lines.readline() != b".\r\n":
            pass
    connection.sendall(b"".join(b"DELE %d\r\n" % n for n in range(1, count + 1)) + b"QUIT\r\n")
    for _ in range(count + 1):
        lines.readline()
    print("%.3f" % (time.monotonic() - start))
    return 0


# ---------------------------------------------------------------------------
# Summary

def command_summary(args):
    times = {}
    with open(args.file) as f:
        for line in f:
            name, seconds = line.split()
            times.setdefault(name, []).append(float(seconds))
    labels = {
        "lumopet": "Lumopet, clicking 受信",
        "lumopet_junk": "the same, junk filter on",
        "lumopet_held": "on, bogofilter's stand-in",
        "bogofilter_grouped": "bogofilter alone, by charset",
        "bogofilter_server": "bogofilter alone, as they came",
        "driver": "Lumopet, windowless driver",
        "mpop": "mpop (STLS, Maildir)",
        "fetchmail": "fetchmail (plain POP3)",
        "bare": "bare client, storing nothing",
    }
    def padded(text, width=30):
        # Japanese characters take two columns on a terminal.
        columns = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
        return text + " " * (width - columns)

    print("%s %8s %8s   all rounds" % (padded(""), "best", "median"))
    for name, label in labels.items():
        if name in times:
            runs = times[name]
            print("%s %7.2fs %7.2fs   %s" % (padded(label), min(runs), statistics.median(runs),
                                           " ".join("%.2f" % r for r in runs)))
    if "lumopet" in times and "mpop" in times:
        best = min(times["lumopet"]) / min(times["mpop"])
        median = statistics.median(times["lumopet"]) / statistics.median(times["mpop"])
        print("Lumopet clicking 受信 / mpop: %.2f (best), %.2f (median); goal at most 0.5" % (best, median))
    if "lumopet" in times and "lumopet_junk" in times:
        best = min(times["lumopet_junk"]) / min(times["lumopet"])
        median = statistics.median(times["lumopet_junk"]) / statistics.median(times["lumopet"])
        print("junk filter on / off: %.2f (best), %.2f (median); goal at most 1.15" % (best, median))
        # The two checks of a round run a few seconds apart: their ratio
        # holds better than the medians when other work comes and goes.
        paired = [on / off for on, off in zip(times["lumopet_junk"], times["lumopet"])]
        print("  round by round: %s; median %.2f" % (" ".join("%.2f" % r for r in paired), statistics.median(paired)))
    if "lumopet" in times and "lumopet_held" in times:
        paired = [held / off for held, off in zip(times["lumopet_held"], times["lumopet"])]
        print("records held, no bogofilter / off, round by round: %s; median %.2f" % (
            " ".join("%.2f" % r for r in paired), statistics.median(paired)))
    if "bare" in times and "mpop" in times:
        best = min(times["bare"]) / min(times["mpop"])
        median = statistics.median(times["bare"]) / statistics.median(times["mpop"])
        print("bare client / mpop: %.2f (best), %.2f (median): the least any client takes of this server" % (best, median))
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    messages = sub.add_parser("messages")
    messages.add_argument("folder")
    messages.add_argument("count", type=int)
    click = sub.add_parser("click")
    for name in ("--x", "--y", "--record-size", "--count"):
        click.add_argument(name, type=int, required=True)
    for name in ("--bbox", "--maildir", "--history"):
        click.add_argument(name, required=True)
    click.add_argument("--timeout", type=int, default=300)
    click.add_argument("--junk-history")
    bare = sub.add_parser("bare")
    bare.add_argument("--port", type=int, required=True)
    for name in ("--ca", "--user", "--password"):
        bare.add_argument(name, required=True)
    summary = sub.add_parser("summary")
    summary.add_argument("file")
    args = parser.parse_args()
    return {"messages": command_messages, "click": command_click, "bare": command_bare,
            "summary": command_summary}[args.command](args)


if __name__ == "__main__":
    sys.exit(main() or 0)
