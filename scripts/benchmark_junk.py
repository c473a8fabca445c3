#!/usr/bin/python3
"""The messages of scripts/benchmark_junk.sh (benchmark_receive.sh with
BENCHMARK_JUNK=1): spam like the Japanese spam that reaches real
mailboxes, beside the everyday mail of benchmark_receive.py.

    benchmark_junk.py spam FOLDER
        replaces every tenth message of FOLDER (00009.eml, 00019.eml, ...,
        as benchmark_receive.py messages wrote them) with spam of about the
        same size: the mailbox a check with the filter on sorts.
    benchmark_junk.py training FOLDER COUNT
        writes COUNT everyday messages into FOLDER/ham and COUNT spam
        messages into FOLDER/spam, none of them the same as the mailbox's:
        what the word list learns before the check.
    benchmark_junk.py grouped LIST
        prints the files named in LIST (one a line) grouped by the first
        charset each names, as the check hands them to bogofilter.
"""

import argparse
import base64
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchmark_receive as everyday  # noqa: E402

SPAM_SENDERS = [
    ("ラッキー当選事務局", "info@lucky-prize.example.com"),
    ("高収入ワーク", "job@easy-money.example.net"),
    ("ブランド激安館", "sale@brand-outlet.example.biz"),
    ("出会いサポート", "support@deai-match.example.info"),
    ("Pharmacy Online", "deals@cheap-pills.example.org"),
]

SPAM_SUBJECTS = [
    "【当選】おめでとうございます！賞金を受け取ってください", "今だけ激安！ブランド品が最大90%OFF",
    "自宅で簡単に月収100万円", "【重要】未払い料金のお知らせ", "素敵な出会いが待っています",
    "Cheap pills, no prescription", "You are our lucky winner",
]

SPAM_SENTENCES = [
    "おめでとうございます！あなたは抽選で選ばれました。",
    "今すぐ下記のURLをクリックして賞金を受け取ってください。",
    "期間限定でブランド品が激安価格、最大90%OFFです。",
    "自宅で簡単、スマホだけで月収100万円も夢ではありません。",
    "登録は無料です。今だけの特別なチャンスをお見逃しなく。",
    "素敵な出会いがあなたを待っています。",
    "未払いの料金があります。本日中にお支払いがない場合、法的手続きに移ります。",
    "Cheap viagra and casino bonus, claim your free prize money now.",
    "http://lucky-prize.example.com/claim?id=%d",
]


def spam(rng, number):
    sender = rng.choice(SPAM_SENDERS)
    charset = "ISO-2022-JP" if rng.random() < 0.5 else "UTF-8"
    subject = rng.choice(SPAM_SUBJECTS)
    header = [
        "Return-Path: <%s>" % sender[1],
        "Received: from unknown (HELO bulk%d.example.com) (198.51.100.%d)" % (rng.randint(1, 99), rng.randint(1, 254)),
        "\tby mail.localhost (Postfix) with SMTP id %08X" % rng.getrandbits(32),
        "From: %s <%s>" % (everyday.encoded_word(sender[0], charset), sender[1]),
        "To: bench@localhost",
        "Subject: %s" % everyday.encoded_word(subject, charset),
        "Message-ID: <%d.%08x@%s>" % (number, rng.getrandbits(32), sender[1].split("@")[1]),
        "MIME-Version: 1.0",
    ]
    lines, size = [], 0
    target = rng.randint(1500, 3500)
    while size < target:
        line = rng.choice(SPAM_SENTENCES)
        line = line % rng.randint(1000, 9999) if "%d" in line else line
        lines += everyday.wrap(line)
        size += len(line.encode("utf-8"))
    text = "\r\n".join(lines) + "\r\n"
    if charset == "ISO-2022-JP":
        header += ["Content-Type: text/plain; charset=ISO-2022-JP", "Content-Transfer-Encoding: 7bit"]
        body = b"\r\n".join(everyday.iso2022jp(line) for line in text.split("\r\n"))
    else:
        header += ["Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: base64"]
        body = base64.encodebytes(text.encode("utf-8")).replace(b"\n", b"\r\n")
    return ("\r\n".join(header) + "\r\n\r\n").encode("ascii") + body


def command_spam(args):
    rng = random.Random(20261210)
    names = sorted(name for name in os.listdir(args.folder) if name.endswith(".eml"))
    replaced = 0
    for position, name in enumerate(names):
        if position % 10 != 9:
            continue
        with open(os.path.join(args.folder, name), "wb") as f:
            f.write(spam(rng, position))
        replaced += 1
    print("%d of %d messages are spam" % (replaced, len(names)))


def command_training(args):
    rng = random.Random(1210)
    for kind in ("ham", "spam"):
        os.makedirs(os.path.join(args.folder, kind), exist_ok=True)
    for n in range(args.count):
        # Numbers far from the mailbox's, so that no message is learnt and
        # then sorted.
        with open(os.path.join(args.folder, "ham", "%05d.eml" % n), "wb") as f:
            f.write(everyday.message(rng, 50000 + n))
        with open(os.path.join(args.folder, "spam", "%05d.eml" % n), "wb") as f:
            f.write(spam(rng, 50000 + n))


def charset_of(path):
    # The rule of mail/junk_sorting.cpp: the first "charset=" in the first
    # 4 KB, in lower case.
    with open(path, "rb") as f:
        head = f.read(4096).lower()
    at = head.find(b"charset=")
    if at < 0:
        return b""
    value = head[at + 8:].lstrip(b'"')
    end = next((i for i, c in enumerate(value) if c in b'"; \t\r\n'), len(value))
    return value[:end]


def command_grouped(args):
    with open(args.list) as f:
        files = [line.rstrip("\n") for line in f if line.strip()]
    for path in sorted(files, key=charset_of):  # stable: server order within a charset
        print(path)


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    replace = sub.add_parser("spam")
    replace.add_argument("folder")
    training = sub.add_parser("training")
    training.add_argument("folder")
    training.add_argument("count", type=int)
    grouped = sub.add_parser("grouped")
    grouped.add_argument("list")
    args = parser.parse_args()
    return {"spam": command_spam, "training": command_training, "grouped": command_grouped}[args.command](args)


if __name__ == "__main__":
    sys.exit(main() or 0)
