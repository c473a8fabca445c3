#!/usr/bin/env bash
# Prints what taking an mbox of small Japanese messages into the received
# history costs, in messages a second, with a plain copy of the same mbox
# as the peer in the same run. The mbox is read from the page cache.
#   scripts/benchmark_import.sh [messages] [rounds]   (default 10000 and 3)
# BUILD_DIR chooses the build tree (default build); WORK_DIR the folder
# the mbox and the program folders go in (default a fresh one in /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
messages="${1:-10000}"
rounds="${2:-3}"
if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target mail_import_benchmark

work="$(mktemp -d "${WORK_DIR:-/tmp}/import-benchmark.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mbox="$work/small_japanese.mbox"

# As Thunderbird and Japanese mailers write them: ISO-2022-JP subjects in
# RFC 2047 words, ISO-2022-JP bodies of a few lines, some with a quoted
# ">From " line, a Message-ID each.
/usr/bin/python3 - "$mbox" "$messages" <<'EOF'
import base64, sys
path, count = sys.argv[1], int(sys.argv[2])
def word(text):
    return "=?ISO-2022-JP?B?" + base64.b64encode(text.encode("iso2022_jp")).decode() + "?="
with open(path, "wb") as out:
    for n in range(1, count + 1):
        subject = word(f"【お知らせ】第{n}号 今週の予定について")
        sender = word(f"山田 太郎{n % 97}") + f" <taro{n % 97}@example.jp>"
        body = (f"佐藤様\n\nいつもお世話になっております。第{n}号をお送りします。\n"
                "来週の打ち合わせは水曜日の午後三時からです。\n" * (1 + n % 4) +
                (">From 議事録より抜粋\n" if n % 10 == 0 else "") + "\nよろしくお願いいたします。\n山田\n")
        header = (f"From taro{n % 97}@example.jp Wed Dec  9 08:{n % 60:02d}:00 2020\n"
                  f"Message-ID: <bench.{n}@example.jp>\n"
                  f"Date: Wed, 9 Dec 2020 17:{n % 60:02d}:00 +0900\n"
                  f"From: {sender}\nTo: sato@example.jp\nSubject: {subject}\n"
                  "MIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n"
                  "Content-Transfer-Encoding: 7bit\n\n")
        out.write(header.encode("ascii") + body.encode("iso2022_jp") + b"\n")
EOF

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/^Mem:/ {print $2}') GB memory"
echo "disk under $work: $(df -h --output=source,fstype,size "$work" | awk 'NR == 2 {print $1 ", " $2 ", " $3}')"
echo "mbox: $messages messages, $(du -h "$mbox" | cut -f1)"
# Into the page cache, as the goal says.
cat "$mbox" > /dev/null

# The peer: a plain copy of the same mbox, flushed, as the import flushes
# what it stores.
start=$(date +%s.%N)
cp "$mbox" "$work/copy.mbox"
sync -f "$work/copy.mbox"
end=$(date +%s.%N)
echo "peer: cp of the mbox, flushed: $(echo "$end - $start" | bc -l | awk '{printf "%.3f s", $1}')"
rm -f "$work/copy.mbox"

# The second peer: the same messages as Maildir files, one file each
# (written in tmp/, renamed into new/, the file system flushed every 500),
# by a plain script: what the file system alone costs the import, whose
# Maildir copies are made the same way.
/usr/bin/python3 - "$mbox" "$work/peer-maildir" <<'EOF'
import os, sys, time
mbox, maildir = sys.argv[1], sys.argv[2]
for sub in ("tmp", "new", "cur"):
    os.makedirs(f"{maildir}/{sub}")
start = time.monotonic()
count, message = 0, []
def deliver(lines):
    global count
    count += 1
    name = f"{count}.peer"
    with open(f"{maildir}/tmp/{name}", "wb") as out:
        out.write(b"".join(lines))
    os.rename(f"{maildir}/tmp/{name}", f"{maildir}/new/{name}")
    if count % 500 == 0:
        os.sync()
with open(mbox, "rb") as source:
    for line in source:
        if line.startswith(b"From ") and message:
            deliver(message)
            message = []
        elif not line.startswith(b"From "):
            message.append(line)
if message:
    deliver(message)
os.sync()
seconds = time.monotonic() - start
print(f"peer: the same {count} messages as Maildir files by a plain script: {seconds:.3f} s ({count / seconds:.0f}/s)")
EOF

"$build/tests/mail_import_benchmark" "$mbox" "$rounds"
