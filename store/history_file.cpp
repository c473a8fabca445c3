#include "store/history_file.h"

#include "core/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>

namespace lumopet {
namespace {

namespace layout = record_layout;

constexpr qint64 S = kHistoryRecordSize;
// A history has no bound of its own; only an int limits its numbers.
constexpr RecordFileKind kHistory{S, layout::Live.offset, INT_MAX, u"履歴ファイル"};

qint64 offsetOf(int n) { return (static_cast<qint64>(n) - 1) * S; }

}  // namespace

QString HistoryPath(const ProgramPaths& paths, History history) {
    switch (history) {
    case History::Received: return paths.path(QStringLiteral("\\★MAilData\\srndata2.data"));
    case History::Sent: return paths.path(QStringLiteral("\\★MAilData\\srndata5.data"));
    case History::Junk: break;
    }
    return paths.path(QStringLiteral("\\★MAilData\\srndata2.junk.data"));
}

QString RewriteCopyPath(const ProgramPaths& paths, History history) {
    switch (history) {
    case History::Received: return paths.path(QStringLiteral("\\★MAilData\\SRNDATA2.TMP"));
    case History::Sent: return paths.path(QStringLiteral("\\★MAilData\\SRNDATA5.TMP"));
    case History::Junk: break;
    }
    return paths.path(QStringLiteral("\\★MAilData\\srndata2.junk.tmp"));
}

QByteArray EncodeLiveRecord(const HistoryRecord& record, History history) {
    HistoryRecord live = record;
    live.Live = 1;
    return EncodeRecord(live, history);
}

Result<int> AppendRecord(const QString& file, const HistoryRecord& record, History history) {
    return AppendFixedRecord(file, EncodeLiveRecord(record, history), kHistory);
}

Result<RecordAppender> OpenHistoryForAppending(const QString& file) {
    auto history = RecordAppender::Open(file, kHistory);
    if (!history) return history;
    // A check or an import killed in the middle of a record leaves part of
    // it at the end. Past its half, the rounded length would count it, the
    // next record would go behind it, and the message, fetched or imported
    // again, would be listed twice, once cut off. The part was never listed
    // and its message is still on the server or in the import's source.
    if (const Status cut = history.value().cutPartRecord(); !cut) return Failure{cut.error()};
    return history;
}

Result<int> AppendRecord(RecordAppender& history, const HistoryRecord& record, History kind) {
    return history.append(EncodeLiveRecord(record, kind));
}

Status SyncHistory(const QString& file) { return SyncRecordFile(file, kHistory); }

Result<HistoryRecord> ReadRecord(const QString& file, int n) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return RecordReadFailure(kHistory, file, errno);
    if (n < 1) return NoSuchRecord(kHistory, file, n);
    QByteArray bytes(S, Qt::Uninitialized);
    const qint64 got = ReadAt(fd.get(), bytes.data(), S, offsetOf(n));
    if (got < 0) return RecordReadFailure(kHistory, file, errno);
    if (got < S) return NoSuchRecord(kHistory, file, n);
    return DecodeRecord(bytes);
}

std::vector<HistoryRecord> ReadAll(const QString& file) {
    std::vector<HistoryRecord> records;
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return records;
    QByteArray block(kRecordsPerBlock * S, Qt::Uninitialized);
    for (qint64 offset = 0;; offset += block.size()) {
        const qint64 got = ReadAt(fd.get(), block.data(), block.size(), offset);
        for (qint64 at = 0; at + S <= got; at += S)
            records.push_back(DecodeRecord(QByteArrayView(block).sliced(at, S)));
        if (got < block.size()) break;
    }
    return records;
}

std::vector<HistoryListEntry> ReadListing(const QString& file) {
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return {};
    // The count comes from the length, so each of these records is
    // complete.
    const qint64 count = std::max<qint64>(FileLength(fd.get()), 0) / S;
    return DecodeListingColumns(ReadListingColumns(fd.get(), 0, count));
}

QByteArray ReadListingColumns(int fd, qint64 first, qint64 count) {
    constexpr qint64 C = layout::ListingColumns.size;
    QByteArray columns(count * C, Qt::Uninitialized);
    // Only the first 280 bytes of each record, asked for all at once.
    AskAhead(fd, count, S, first * S + layout::ListingColumns.offset, layout::ListingColumns.size);
    qint64 read = 0;
    for (; read < count; ++read) {
        if (ReadAt(fd, columns.data() + read * C, C, (first + read) * S) != C) break;
    }
    columns.truncate(read * C);
    return columns;
}

std::vector<HistoryListEntry> DecodeListingColumns(QByteArrayView columns) {
    constexpr qsizetype C = layout::ListingColumns.size;
    std::vector<HistoryListEntry> entries;
    entries.reserve(static_cast<size_t>(columns.size() / C));
    for (qsizetype at = 0; at + C <= columns.size(); at += C) {
        const QByteArrayView view = columns.sliced(at, C);
        entries.push_back({DecodeField(view, layout::Subject), DecodeField(view, layout::Column2),
                           DecodeField(view, layout::Column3), QByteArray()});
    }
    return entries;
}

Status MarkDeleted(const QString& file, int n, HistoryRecord record) {
    return MarkFixedRecordDeleted(file, n, kHistory, [&](int fd, qint64 offset) -> Status {
        char columns[layout::ListingColumns.size];
        if (ReadAt(fd, columns, sizeof columns, offset) != sizeof columns)
            return RecordReadFailure(kHistory, file, errno);
        const QByteArrayView view(columns, sizeof columns);
        if (DecodeField(view, layout::Subject) != record.Subject || DecodeField(view, layout::Column2) != record.Column2 ||
            DecodeField(view, layout::Column3) != record.Column3)
            return Failure{
                QStringLiteral("履歴ファイル「%1」の %2 件目が一覧と違うため、削除しませんでした。").arg(file).arg(n)};
        return success();
    });
}

Status Compact(const QString& file, const QString& rewriteCopy, RangeCopy copy) {
    return CompactFixedRecords(file, rewriteCopy, kHistory, copy);
}

Result<Recovery> RecoverRewriteCopy(const QString& file, const QString& rewriteCopy) {
    return RecoverFixedRecordCopy(file, rewriteCopy, kHistory);
}

}  // namespace lumopet
