#include "store/history_listing.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "store/stored_uidls.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <openssl/sha.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

constexpr qint64 S = kHistoryRecordSize;
constexpr qint64 C = record_layout::ListingColumns.size;
// Each record's fingerprint, its 16 hex digits as the 8 bytes they spell.
constexpr qint64 F = 8;
// Version 2 added each record's fingerprint: a listing of version 1 fails
// this line and is made again.
constexpr QByteArrayView kMagic = "LUMOPET HISTORY LISTING 2\n";
// What a listing can hold at most: more than a history's numbers reach.
constexpr qint64 kMostRecords = 1 << 20;
constexpr qsizetype kSha1Size = 20;

// Which file, in which state: what a listing was made from.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
};

struct Listing {
    Identity history;
    qint64 count = 0;
    QByteArray lastFingerprint;  // of record count, as RecordBytesFingerprint gives it
    QByteArray columns;          // count * 280 bytes
    QByteArray fingerprints;     // count * 8 bytes
};

Identity identityOf(const struct stat& info) {
    return {static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino), static_cast<qint64>(info.st_size),
            static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

void put(QByteArray& out, quint64 value) {
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

quint64 take(QByteArrayView in, qsizetype at) { return qFromLittleEndian<quint64>(in.data() + at); }

// OpenSSL's SHA-1 rather than Qt's (the same digest): checked at every
// view, over the listing's megabyte, it took Qt three times as long.
QByteArray sha1(QByteArrayView bytes) {
    QByteArray hash(SHA_DIGEST_LENGTH, Qt::Uninitialized);
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<size_t>(bytes.size()),
         reinterpret_cast<unsigned char*>(hash.data()));
    return hash;
}

constexpr qsizetype kFingerprintSize = 16;
constexpr qsizetype kHeaderSize = kMagic.size() + 5 * 8 + kFingerprintSize;

// magic, device, inode, size, time, count, the last record's fingerprint,
// the columns and then the fingerprints compressed, and a SHA-1 of all that
// before it.
QByteArray encode(const Listing& listing) {
    QByteArray out = kMagic.toByteArray();
    put(out, listing.history.device);
    put(out, listing.history.inode);
    put(out, static_cast<quint64>(listing.history.size));
    put(out, static_cast<quint64>(listing.history.modifiedNs));
    put(out, static_cast<quint64>(listing.count));
    out += listing.lastFingerprint.leftJustified(kFingerprintSize, '\0', true);
    // The columns are mostly padding: they shrink to a tenth.
    out += qCompress(listing.columns + listing.fingerprints, 1);
    out += sha1(out);
    return out;
}

// Of a history of `records` records: a listing of more can be of no use,
// and is not unpacked.
std::optional<Listing> decode(QByteArrayView bytes, qint64 records) {
    if (bytes.size() < kHeaderSize + kSha1Size || !bytes.startsWith(kMagic)) return std::nullopt;
    const QByteArrayView body = bytes.first(bytes.size() - kSha1Size);
    if (sha1(body) != bytes.last(kSha1Size)) return std::nullopt;
    Listing listing;
    qsizetype at = kMagic.size();
    listing.history.device = take(body, at);
    listing.history.inode = take(body, at + 8);
    listing.history.size = static_cast<qint64>(take(body, at + 16));
    listing.history.modifiedNs = static_cast<qint64>(take(body, at + 24));
    listing.count = static_cast<qint64>(take(body, at + 32));
    at += 40;
    listing.lastFingerprint = body.sliced(at, kFingerprintSize).toByteArray();
    at += kFingerprintSize;
    if (listing.count < 1 || listing.count > std::min(records, kMostRecords)) return std::nullopt;
    // qCompress puts the size it packed first: anything but the size the
    // count gives is not unpacked at all.
    if (body.size() - at < 4 || qFromBigEndian<quint32>(body.data() + at) != static_cast<quint64>(listing.count * (C + F)))
        return std::nullopt;
    listing.columns = qUncompress(reinterpret_cast<const uchar*>(body.data() + at), body.size() - at);
    if (listing.columns.size() != listing.count * (C + F)) return std::nullopt;
    listing.fingerprints = listing.columns.sliced(listing.count * C);
    listing.columns.truncate(listing.count * C);
    return listing;
}

// The listing file as it is, when it is a regular file of a sane size: a
// link is not followed and a FIFO never waited on.
std::optional<Listing> load(const QString& path, qint64 records) {
    const UniqueFd fd(OpenRecordFile(path, O_RDONLY));
    if (!fd.ok()) return std::nullopt;
    const qint64 length = FileLength(fd.get());
    // Packed columns are never much larger than the columns themselves
    // (zlib adds a few bytes a block to what it cannot shrink).
    const qint64 columns = std::min(records, kMostRecords) * (C + F);
    if (length <= 0 || length > columns + columns / 64 + kHeaderSize + kSha1Size + 4096) return std::nullopt;
    QByteArray bytes(length, Qt::Uninitialized);
    if (ReadAt(fd.get(), bytes.data(), length, 0) != length) return std::nullopt;
    return decode(bytes, records);
}

// Written beside it and renamed over it: a reader sees the old listing or
// the new one. Not flushed: after a crash a torn listing fails its check
// and is made again, which costs one slow listing, never a wrong one.
void save(const QString& path, const Listing& listing) {
    // What a program stopped between making its file and renaming it left.
    RemoveLeftoverRewriteFiles(path);
    const std::optional<CreatedFile> created = CreateRewriteFile(path);
    if (!created) return;
    const bool written = WriteAll(created->fd, encode(listing));
    ::close(created->fd);
    const QByteArray temporary = QFile::encodeName(created->path);
    if (!written || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        ::unlink(temporary.constData());
}

// The fingerprint of record n (from 1) of the open history; empty when it
// cannot be read.
QByteArray fingerprintOf(int fd, qint64 n, QByteArray* bytes = nullptr) {
    QByteArray record(S, Qt::Uninitialized);
    if (ReadAt(fd, record.data(), S, (n - 1) * S) != S) return {};
    if (bytes) *bytes = record;
    return RecordBytesFingerprint(record);
}

// The columns and fingerprints of count records from record first + 1 of
// the open history, read whole, a block at a time (fewer records when it
// is shorter or a read fails). The fingerprint takes the whole record: a
// listing made anew reads the history through once.
struct Listed {
    QByteArray columns;
    QByteArray fingerprints;
};

Listed readRecords(int fd, qint64 first, qint64 count) {
    Listed listed;
    listed.columns.reserve(count * C);
    listed.fingerprints.reserve(count * F);
    if (count > 0) ::posix_fadvise(fd, first * S, count * S, POSIX_FADV_SEQUENTIAL);
    QByteArray block(std::min(count, kRecordsPerBlock) * S, Qt::Uninitialized);
    for (qint64 done = 0; done < count;) {
        const qint64 want = std::min(count - done, kRecordsPerBlock);
        const qint64 got = ReadAt(fd, block.data(), want * S, (first + done) * S);
        const qint64 whole = got < 0 ? 0 : got / S;
        for (qint64 i = 0; i < whole; ++i) {
            const QByteArrayView record = QByteArrayView(block).sliced(i * S, S);
            listed.columns += record.first(C);
            listed.fingerprints += QByteArray::fromHex(RecordBytesFingerprint(record));
        }
        done += whole;
        if (whole < want) break;
    }
    return listed;
}

}  // namespace

QString HistoryListingPath(const QString& history) { return history + QStringLiteral(".list"); }

namespace {

// The columns and fingerprints of every record of the history, through the
// listing, which is brought up to date.
Listed listedThroughCache(const QString& history, QByteArray* lastRecord) {
    const UniqueFd fd(OpenRecordFile(history, O_RDONLY));
    if (!fd.ok()) return {};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return {};
    const Identity now = identityOf(info);
    const qint64 count = now.size / S;
    if (count == 0) return {};
    const QByteArray lastFingerprint = fingerprintOf(fd.get(), count, lastRecord);
    if (lastFingerprint.isEmpty()) return readRecords(fd.get(), 0, count);

    const QString path = HistoryListingPath(history);
    std::optional<Listing> listing = load(path, count);
    const bool sameFile = listing && listing->history.device == now.device && listing->history.inode == now.inode;
    if (sameFile && listing->history == now && listing->count == count && listing->lastFingerprint == lastFingerprint)
        return Listed{std::move(listing->columns), std::move(listing->fingerprints)};

    Listing fresh{now, count, lastFingerprint, {}, {}};
    Listed added;
    // Appended to since: the records listed are kept when the one the
    // listing ended on is still the same, and only the new ones are read.
    if (sameFile && listing->count < count && fingerprintOf(fd.get(), listing->count) == listing->lastFingerprint) {
        fresh.columns = std::move(listing->columns);
        fresh.fingerprints = std::move(listing->fingerprints);
        added = readRecords(fd.get(), listing->count, count - listing->count);
    } else {
        added = readRecords(fd.get(), 0, count);
    }
    fresh.columns += added.columns;
    fresh.fingerprints += added.fingerprints;
    // Cut short by a read error: listed as far as it goes, never saved.
    if (fresh.columns.size() == count * C) save(path, fresh);
    return Listed{std::move(fresh.columns), std::move(fresh.fingerprints)};
}

}  // namespace

std::vector<HistoryListEntry> ReadListingThroughCache(const QString& history, QByteArray* lastRecord) {
    const Listed listed = listedThroughCache(history, lastRecord);
    std::vector<HistoryListEntry> entries = DecodeListingColumns(listed.columns);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < entries.size() && qint64(i + 1) * F <= listed.fingerprints.size(); ++i) {
        const char* bytes = listed.fingerprints.constData() + qint64(i) * F;
        QByteArray hex(2 * F, Qt::Uninitialized);
        for (qint64 b = 0; b < F; ++b) {
            const auto byte = static_cast<unsigned char>(bytes[b]);
            hex[2 * b] = kDigits[byte >> 4];
            hex[2 * b + 1] = kDigits[byte & 0xF];
        }
        entries[i].Fingerprint = std::move(hex);
    }
    return entries;
}

void RefreshHistoryListing(const QString& history) { (void)listedThroughCache(history, nullptr); }

}  // namespace lumopet
