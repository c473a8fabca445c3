#include "store/stored_uidls.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>

namespace lumopet {
namespace {

constexpr qint64 S = kHistoryRecordSize;
// The longest line a usable UIDL and a length can make, with room to spare;
// a bigger file is not ours.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
constexpr qsizetype kFingerprintDigits = 16;
constexpr qint64 kLongestHistory = qint64{1} << 48;
constexpr QByteArrayView kStored = "stored=";
constexpr QByteArrayView kRecord = "record=";
constexpr QByteArrayView kDeleted = "deleted";
constexpr QByteArrayView kJunk = "junk";

Failure readFailure(const QString& file, int error) {
    return Failure{QStringLiteral("受信済みメールの一覧「%1」を読めません（%2）。")
                       .arg(file, error == ELOOP ? QStringLiteral("通常のファイルではありません")
                                                 : SystemErrorText(error))};
}

Failure writeFailure(const QString& file, int error) {
    return Failure{QStringLiteral("受信済みメールの一覧「%1」に書き込めません（%2）。")
                       .arg(file, error == ELOOP ? QStringLiteral("通常のファイルではありません")
                                                 : SystemErrorText(error))};
}

// The history's length; a missing history has none.
Result<qint64> historyLength(const QString& history) {
    const UniqueFd fd(OpenRecordFile(history, O_RDONLY));
    if (!fd.ok()) {
        if (errno == ENOENT) return qint64{0};
        return RecordReadFailure(RecordFileKind{S, 0, 0, u"履歴ファイル"}, history, errno);
    }
    const qint64 length = FileLength(fd.get());
    if (length < 0) return RecordReadFailure(RecordFileKind{S, 0, 0, u"履歴ファイル"}, history, errno);
    return length;
}

// What one line of the file says; stored is invalid when the line has no day.
struct ParsedLine {
    QString uidl;
    // Noted before an append, at this length of the history; none: settled.
    std::optional<qint64> notedAt;
    // Noted before an append to the junk history rather than the received.
    bool notedInJunk = false;
    StoredUidl entry;
};

bool isHex(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool isDigits(QByteArrayView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A word of the line this version does not know, or one given twice, makes
// no sense of it: the message is then stored again rather than judged on a
// guess.
std::optional<ParsedLine> parseLine(const QByteArray& line) {
    QList<QByteArray> fields = line.trimmed().split(' ');
    fields.removeAll(QByteArray());
    if (fields.isEmpty()) return std::nullopt;
    ParsedLine parsed;
    parsed.uidl = QString::fromLatin1(fields[0]);
    if (!IsUsableUidl(parsed.uidl)) return std::nullopt;
    qsizetype at = 1;
    if (at < fields.size() && isDigits(fields[at])) {
        bool ok = false;
        parsed.notedAt = fields[at].toLongLong(&ok);
        // No history is that long; the record number it gives would not
        // even fit.
        if (!ok || *parsed.notedAt > kLongestHistory) return std::nullopt;
        ++at;
        if (at < fields.size() && fields[at] == kJunk) {
            parsed.notedInJunk = true;
            ++at;
        }
    }
    bool record = false, deleted = false;
    for (; at < fields.size(); ++at) {
        const QByteArray& field = fields[at];
        if (field.startsWith(kStored) && !parsed.entry.stored.isValid()) {
            const QByteArray day = field.sliced(kStored.size());
            parsed.entry.stored = day.size() == 10 ? QDate::fromString(QString::fromLatin1(day), Qt::ISODate) : QDate();
            if (!parsed.entry.stored.isValid()) return std::nullopt;
        } else if (field.startsWith(kRecord) && !record) {
            const QByteArray digits = field.sliced(kRecord.size());
            if (digits.size() != kFingerprintDigits || !isHex(digits)) return std::nullopt;
            parsed.entry.record = digits.toLower();
            record = true;
        } else if (field == kDeleted && !deleted) {
            parsed.entry.recordDeleted = deleted = true;
        } else {
            return std::nullopt;
        }
    }
    return parsed;
}

QByteArray settledLine(const QString& uidl, const StoredUidl& entry) {
    QByteArray line = uidl.toLatin1();
    if (entry.stored.isValid()) line += ' ' + kStored.toByteArray() + entry.stored.toString(Qt::ISODate).toLatin1();
    if (entry.record.size() == kFingerprintDigits && isHex(entry.record)) line += ' ' + kRecord.toByteArray() + entry.record;
    if (entry.recordDeleted) line += ' ' + kDeleted.toByteArray();
    return line;
}

// The file's bytes; none when it is missing.
Result<std::optional<QByteArray>> readFile(const QString& file) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) {
        if (errno == ENOENT) return std::optional<QByteArray>();
        return readFailure(file, errno);
    }
    const qint64 length = FileLength(fd.get());
    if (length < 0) return readFailure(file, errno);
    if (length > kMaxFileSize) return readFailure(file, EFBIG);
    QByteArray bytes(length, Qt::Uninitialized);
    if (ReadAt(fd.get(), bytes.data(), length, 0) != length) return readFailure(file, errno ? errno : EIO);
    return std::optional<QByteArray>(std::move(bytes));
}

// A link or a folder in the file's place is refused, not replaced.
Status replaceFile(const QString& file, const QByteArray& bytes) {
    {
        const UniqueFd existing(OpenRecordFile(file, O_RDONLY));
        if (!existing.ok() && errno != ENOENT) return writeFailure(file, errno);
    }
    return WriteFileSafely(file, bytes);
}

// Rewrites the lines that mark says to mark as stored lines whose record
// the user deleted; every other line stays byte for byte.
Status markLines(const QString& file, const std::function<bool(const ParsedLine&)>& mark) {
    const auto read = readFile(file);
    if (!read) return Failure{read.error()};
    if (!read.value()) return success();
    QList<QByteArray> lines = read.value()->split('\n');
    bool changed = false;
    for (QByteArray& line : lines) {
        const std::optional<ParsedLine> parsed = parseLine(line);
        if (!parsed || parsed->entry.recordDeleted || !mark(*parsed)) continue;
        StoredUidl entry = parsed->entry;
        entry.recordDeleted = true;
        line = settledLine(parsed->uidl, entry);
        changed = true;
    }
    if (!changed) return success();
    return replaceFile(file, lines.join('\n'));
}

}  // namespace

QString StoredUidlsPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\srndata2.uidl")); }

bool IsUsableUidl(const QString& uidl) {
    return !uidl.isEmpty() && uidl.size() <= 70 &&
           std::all_of(uidl.begin(), uidl.end(), [](QChar c) { return c.unicode() >= 0x21 && c.unicode() <= 0x7E; });
}

QByteArray RecordFingerprint(const HistoryRecord& record) {
    return RecordBytesFingerprint(EncodeRecord(record, History::Received));
}

QByteArray RecordBytesFingerprint(QByteArrayView encoded) {
    // OpenSSL's SHA-1 rather than Qt's: a check of a thousand messages
    // hashes 12 MB, which took Qt three times as long.
    const QByteArrayView hashed = encoded.first(record_layout::Live.offset);
    QByteArray hash(SHA_DIGEST_LENGTH, Qt::Uninitialized);
    SHA1(reinterpret_cast<const unsigned char*>(hashed.data()), static_cast<size_t>(hashed.size()),
         reinterpret_cast<unsigned char*>(hash.data()));
    return hash.toHex().first(kFingerprintDigits);
}

Result<StoredUidls> ReadStoredUidls(const QString& file, const QString& history, QDate today,
                                    const QString& junkHistory) {
    StoredUidls uidls;
    const auto read = readFile(file);
    if (!read) return Failure{read.error()};
    if (!read.value()) return uidls;

    const auto historyBytes = historyLength(history);
    if (!historyBytes) return Failure{historyBytes.error()};
    // Read only when a line was noted for it: without the junk filter the
    // check costs no more than it did.
    std::optional<qint64> junkBytes;
    for (const QByteArray& line : read.value()->split('\n')) {
        std::optional<ParsedLine> parsed = parseLine(line);
        if (!parsed) continue;
        if (parsed->notedInJunk && !junkBytes) {
            if (junkHistory.isEmpty()) continue;
            const auto length = historyLength(junkHistory);
            if (!length) return Failure{length.error()};
            junkBytes = length.value();
        }
        // Noted before an append: the record must be there, whole, in the
        // history it was noted for.
        const qint64 length = parsed->notedInJunk ? *junkBytes : historyBytes.value();
        if (parsed->notedAt && length < NumberAppendedAt(*parsed->notedAt, S) * S) continue;
        if (!parsed->entry.stored.isValid()) parsed->entry.stored = today;
        // A UIDL twice (a hand-edited file): its first line counts.
        if (!uidls.contains(parsed->uidl)) uidls.insert(parsed->uidl, parsed->entry);
    }
    return uidls;
}

Status WriteStoredUidls(const QString& file, const StoredUidls& uidls) {
    QByteArray bytes;
    for (auto it = uidls.begin(); it != uidls.end(); ++it) {
        if (!IsUsableUidl(it.key())) continue;
        bytes += settledLine(it.key(), it.value()) + '\n';
    }
    return replaceFile(file, bytes);
}

Status NoteRecordsDeleted(const QString& file, const QList<QByteArray>& fingerprints) {
    QList<QByteArray> left;
    for (const QByteArray& fingerprint : fingerprints) left.append(fingerprint.toLower());
    return markLines(file, [&left](const ParsedLine& line) {
        // Two messages alike to the byte have one fingerprint: each deleted
        // record marks one of them.
        return !line.entry.record.isEmpty() && left.removeOne(line.entry.record);
    });
}

Status NoteAllRecordsDeleted(const QString& file) {
    return markLines(file, [](const ParsedLine& line) { return !line.notedAt; });
}

Result<UidlNotes> UidlNotes::Open(const QString& file) {
    UniqueFd fd(OpenRecordFile(file, O_WRONLY | O_APPEND | O_CREAT));
    if (!fd.ok()) return writeFailure(file, errno);
    return UidlNotes(file, std::move(fd));
}

Status UidlNotes::note(const QString& uidl, qint64 historyLength, const StoredUidl& stored, bool inJunkHistory) {
    if (!IsUsableUidl(uidl)) return Failure{QStringLiteral("UIDL「%1」は記録できません。").arg(uidl)};
    // The settled form with the length after the UIDL; a noted line never
    // says "deleted".
    StoredUidl entry = stored;
    entry.recordDeleted = false;
    QByteArray line = settledLine(uidl, entry);
    QByteArray noted = ' ' + QByteArray::number(historyLength);
    if (inJunkHistory) noted += ' ' + kJunk.toByteArray();
    line.insert(uidl.size(), noted);
    line += '\n';
    if (!WriteAll(fd_.get(), line)) return writeFailure(file_, errno);
    return success();
}

}  // namespace lumopet
