#include "store/stored_uidls.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace lumopet {
namespace {

constexpr qint64 S = kHistoryRecordSize;
// The longest line a usable UIDL and a length can make, with room to spare;
// a bigger file is not ours.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

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

// The number the history gives the record appended when it is length
// bytes long: the length rounded to whole records, halves to even, plus
// one (the rule of AppendRecord).
qint64 numberAppendedAt(qint64 length) {
    const qint64 whole = length / S, rest = length % S;
    const qint64 rounded = 2 * rest > S || (2 * rest == S && whole % 2 == 1) ? whole + 1 : whole;
    return rounded + 1;
}

}  // namespace

QString StoredUidlsPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\srndata2.uidl")); }

bool IsUsableUidl(const QString& uidl) {
    return !uidl.isEmpty() && uidl.size() <= 70 &&
           std::all_of(uidl.begin(), uidl.end(), [](QChar c) { return c.unicode() >= 0x21 && c.unicode() <= 0x7E; });
}

Result<QSet<QString>> ReadStoredUidls(const QString& file, const QString& history) {
    QSet<QString> uidls;
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) {
        if (errno == ENOENT) return uidls;
        return readFailure(file, errno);
    }
    const qint64 length = FileLength(fd.get());
    if (length < 0) return readFailure(file, errno);
    if (length > kMaxFileSize) return readFailure(file, EFBIG);
    QByteArray bytes(length, Qt::Uninitialized);
    if (ReadAt(fd.get(), bytes.data(), length, 0) != length) return readFailure(file, errno ? errno : EIO);

    const auto historyBytes = historyLength(history);
    if (!historyBytes) return Failure{historyBytes.error()};
    for (const QByteArray& line : bytes.split('\n')) {
        const QStringList fields = QString::fromLatin1(line.trimmed()).split(u' ', Qt::SkipEmptyParts);
        if (fields.isEmpty() || fields.size() > 2 || !IsUsableUidl(fields[0])) continue;
        if (fields.size() == 2) {
            // Noted before an append: the record must be there, whole.
            bool ok = false;
            const qint64 before = fields[1].toLongLong(&ok);
            if (!ok || before < 0 || historyBytes.value() < numberAppendedAt(before) * S) continue;
        }
        uidls.insert(fields[0]);
    }
    return uidls;
}

Status WriteStoredUidls(const QString& file, const QSet<QString>& uidls) {
    QStringList sorted(uidls.begin(), uidls.end());
    sorted.sort();
    QByteArray bytes;
    for (const QString& uidl : sorted) {
        if (!IsUsableUidl(uidl)) continue;
        bytes += uidl.toLatin1() + '\n';
    }
    // A link or a folder in its place is refused, not replaced.
    {
        const UniqueFd existing(OpenRecordFile(file, O_RDONLY));
        if (!existing.ok() && errno != ENOENT) return writeFailure(file, errno);
    }
    return WriteFileSafely(file, bytes);
}

Result<UidlNotes> UidlNotes::Open(const QString& file) {
    UniqueFd fd(OpenRecordFile(file, O_WRONLY | O_APPEND | O_CREAT));
    if (!fd.ok()) return writeFailure(file, errno);
    return UidlNotes(file, std::move(fd));
}

Status UidlNotes::note(const QString& uidl, qint64 historyLength) {
    if (!IsUsableUidl(uidl)) return Failure{QStringLiteral("UIDL「%1」は記録できません。").arg(uidl)};
    const QByteArray line = uidl.toLatin1() + ' ' + QByteArray::number(historyLength) + '\n';
    if (!WriteAll(fd_.get(), line)) return writeFailure(file_, errno);
    return success();
}

}  // namespace lumopet
