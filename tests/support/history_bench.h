#pragma once
// What the history benchmarks share: a full history written as mail comes,
// the page cache emptied or filled, the clock, and the plain copies of the
// file that the timings are measured against.

#include "store/history_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace lumopet::bench {

inline constexpr int kRecords = 32766;

inline double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The temporary folder, removed on the way out whatever happens: it holds
// up to 800 MB.
inline QString scratchFolder;
// The benchmark's name, for its messages.
inline const char* programName = "benchmark";

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "%s: %s\n", programName, what);
    if (!scratchFolder.isEmpty()) QDir(scratchFolder).removeRecursively();
    std::exit(1);
}

// Mail as it comes: Japanese subjects and senders, bodies of a few KB;
// sender(n), when given, names the sender of record n.
inline void writeHistory(const QString& file, const std::function<QString(int)>& sender = {}) {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly)) fail("cannot create the history");
    QByteArray block;
    for (int n = 1; n <= kRecords; ++n) {
        const HistoryRecord record{QStringLiteral("【お知らせ】第%1号 メールマガジン").arg(n),
                                   sender ? sender(n) : QStringLiteral("山田 太郎 <taro%1@example.jp>").arg(n % 97),
                                   QStringLiteral("2026/12/07 12:%1").arg(n % 60, 2, 10, QChar(u'0')),
                                   QStringLiteral("いつもご利用ありがとうございます。\r\n").repeated(20 + n % 40), 1};
        block += EncodeRecord(record, History::Received);
        if (block.size() >= 512 * kHistoryRecordSize || n == kRecords) {
            if (out.write(block) != block.size()) fail("cannot write the history");
            block.clear();
        }
    }
}

// Flushes the file and drops it from the page cache: the next read comes
// from the disk, as after a fresh start of the machine.
inline void evict(const QString& file) {
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    if (fd < 0) fail("cannot open the history");
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Drops every file from the page cache, as a fresh start of the machine
// does (needs root); without root, only the files named.
inline void dropCaches(std::initializer_list<QString> files) {
    ::sync();
    if (QFile drop(QStringLiteral("/proc/sys/vm/drop_caches")); drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2)
        return;
    for (const QString& file : files)
        if (QFile::exists(file)) evict(file);
}

// Reads the whole file once, so that every timing that follows starts with
// the history in the page cache, as it is after the list has been shown.
inline void warmUp(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) fail("cannot open the history");
    while (!in.read(8 << 20).isEmpty()) {
    }
}

enum class Copy { Plain, Flushed, FlushedAndRenamedOver };

// The yardsticks: the whole file copied in large blocks; then flushed to
// disk, as a compaction must be; then also renamed over the original, which
// makes the kernel free the replaced file, as a compaction does. The last
// leaves the history as it was (a copy of itself).
inline double timeCopy(const QString& from, const QString& to, Copy kind) {
    ::sync();
    const double start = now();
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0) fail("cannot copy");
    std::vector<char> buffer(8 << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) fail("cannot read for the copy");
        if (got == 0) break;
        if (::write(out, buffer.data(), static_cast<size_t>(got)) != got) fail("cannot write the copy");
    }
    if (kind != Copy::Plain) ::fsync(out);
    ::close(in);
    ::close(out);
    if (kind == Copy::FlushedAndRenamedOver) {
        if (::rename(QFile::encodeName(to).constData(), QFile::encodeName(from).constData()) != 0)
            fail("cannot rename");
        const int folder = ::open(QFile::encodeName(from.section(u'/', 0, -2)).constData(), O_RDONLY | O_DIRECTORY);
        ::fsync(folder);
        ::close(folder);
    }
    const double seconds = now() - start;
    QFile::remove(to);
    return seconds;
}

// The yardstick a user would reach for: cp(1) of the file (coreutils copies
// in the kernel, with copy_file_range), and with `sync` after it, a copy
// flushed to disk. The copy is removed afterwards, untimed.
inline double timeCp(const QString& from, const QString& to, bool flushed) {
    ::sync();
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    const double start = now();
    const pid_t child = ::fork();
    if (child < 0) fail("cannot start cp");
    if (child == 0) {
        ::execlp("cp", "cp", source.constData(), target.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("cp failed");
    if (flushed) ::sync();
    const double seconds = now() - start;
    QFile::remove(to);
    return seconds;
}

}  // namespace lumopet::bench
