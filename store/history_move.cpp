#include "store/history_move.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_file.h"
#include "store/stored_uidls.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>

namespace lumopet {
namespace {

constexpr RecordFileKind kHistoryKind{kHistoryRecordSize, record_layout::Live.offset, INT_MAX, u"履歴ファイル"};

// Record n's bytes as the file holds them: the move copies them as they
// are, so that its fingerprint (which the UIDL file knows it by) and every
// byte of it stay what the check stored.
Result<QByteArray> readRecordBytes(const QString& file, int n) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return RecordReadFailure(kHistoryKind, file, errno);
    if (n < 1) return NoSuchRecord(kHistoryKind, file, n);
    QByteArray bytes(kHistoryRecordSize, Qt::Uninitialized);
    const qint64 got = ReadAt(fd.get(), bytes.data(), kHistoryRecordSize, (qint64{n} - 1) * kHistoryRecordSize);
    if (got < 0) return RecordReadFailure(kHistoryKind, file, errno);
    if (got < kHistoryRecordSize) return NoSuchRecord(kHistoryKind, file, n);
    return bytes;
}

// In the destination the record is live, whatever mark it had.
void makeLive(QByteArray& bytes) {
    bytes[record_layout::Live.offset] = 1;
    bytes[record_layout::Live.offset + 1] = 0;
}

Result<int> appendFlushed(const QString& file, QByteArrayView bytes) {
    auto history = OpenHistoryForAppending(file);
    if (!history) return Failure{history.error()};
    const Result<int> n = history.value().append(bytes);
    if (!n) return n;
    if (const Status synced = history.value().sync(); !synced) return Failure{synced.error()};
    return n;
}

}  // namespace

HistoryMove MoveHistoryRecord(const HistoryPlace& from, int n, const HistoryRecord& shown, const QString& to,
                              const RemoveHistoryRecord& removeFromSource) {
    HistoryMove move;
    Result<QByteArray> read = readRecordBytes(from.file, n);
    if (!read) {
        move.status = Failure{read.error()};
        return move;
    }
    QByteArray bytes = std::move(read.value());
    const HistoryRecord there = DecodeRecord(bytes);
    if (there.Subject != shown.Subject || there.Column2 != shown.Column2 || there.Column3 != shown.Column3) {
        move.status = Failure{
            QStringLiteral("履歴ファイル「%1」の %2 件目が一覧と違うため、移しませんでした。").arg(from.file).arg(n)};
        return move;
    }
    makeLive(bytes);
    move.fingerprint = RecordBytesFingerprint(bytes);

    const Result<int> appended = appendFlushed(to, bytes);
    if (!appended) {
        move.status = Failure{QStringLiteral("メールを移せませんでした。元の履歴はそのままです。\n") + appended.error()};
        return move;
    }
    move.appended = true;
    move.movedTo = appended.value();

    if (const Status removed = removeFromSource(from.file, from.rewriteCopy, n, shown); !removed) {
        move.status = Failure{QStringLiteral("メールは「%1」に移しましたが、元の履歴から消せませんでした。"
                                             "今は両方の履歴にあります。\n")
                                  .arg(to) +
                              removed.error()};
    }
    return move;
}

}  // namespace lumopet
