#include "viewer/history_view.h"

#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_file.h"
#include "store/history_listing.h"
#include "store/stored_uidls.h"

#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace lumopet {
namespace {

// How the user's messages name a history file.
constexpr RecordFileKind kHistoryKind{kHistoryRecordSize, record_layout::Live.offset, INT_MAX, u"履歴ファイル"};

// A compaction that failed after the marking: the file is whole, and the
// marked messages are still in it and in the list. The user must know that
// they go at the next removal that works.
Status compactMarked(const QString& file, const QString& rewriteCopy) {
    // The compaction renames the new file over the old one, and the kernel
    // frees the old file's blocks and cached pages (400 MB at most) when
    // its last name and descriptor go: a descriptor held across the rename
    // moves that work to a worker, after the new file is safely in place,
    // instead of keeping the window waiting for it. (A crash frees it too.)
    //
    // The new file is in the page cache then: the same worker makes its
    // listing while it is, so that the next view from a cold disk need not
    // read it record by record. One worker for both leaves the other core
    // to the window.
    const int old = OpenRecordFile(file, O_RDONLY);
    const Status compacted = Compact(file, rewriteCopy);
    const bool refresh = compacted.ok();
    QThreadPool::globalInstance()->start([old, refresh, file] {
        if (old >= 0) ::close(old);
        if (refresh) RefreshHistoryListing(file);
    });
    if (compacted) return compacted;
    return Failure{compacted.error() + QStringLiteral("\n削除の印を付けたメールは一覧に残り、次に削除ができたときに消えます。")};
}

Status notNoted(const Status& noted) {
    if (noted) return noted;
    return Failure{QStringLiteral("メールは履歴から削除しましたが、削除したことを受信済みメールの一覧に書き込めませんでした。"
                                  "サーバーに残してあるメールは、そのまま残ります。\n") +
                   noted.error()};
}

}  // namespace

Status NoteReceivedRecordDeleted(const ProgramPaths& paths, const HistoryRecord& deleted) {
    return notNoted(NoteRecordsDeleted(StoredUidlsPath(paths), {RecordFingerprint(deleted)}));
}

Status NoteReceivedRecordsDeleted(const ProgramPaths& paths, const QList<QByteArray>& fingerprints) {
    if (fingerprints.isEmpty()) return success();
    return notNoted(NoteRecordsDeleted(StoredUidlsPath(paths), fingerprints));
}

Status NoteAllReceivedRecordsDeleted(const ProgramPaths& paths) {
    return notNoted(NoteAllRecordsDeleted(StoredUidlsPath(paths)));
}

Status CreateHistoryIfMissing(const QString& file) {
    // O_CREAT without O_TRUNC: an existing history keeps every byte.
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY | O_CREAT));
    if (!fd.ok()) return RecordReadFailure(kHistoryKind, file, errno);
    return success();
}

Result<HistoryView> ReadHistoryView(const QString& file) {
    // ReadListing takes a file it cannot open for an empty one; opening it
    // here first tells the two apart.
    const Status there = CreateHistoryIfMissing(file);
    if (!there) return Failure{there.error()};

    HistoryView view;
    QByteArray lastRecord;
    std::vector<HistoryListEntry> listing = ReadListingThroughCache(file, &lastRecord);
    view.rows.reserve(listing.size());
    view.fingerprints.reserve(listing.size());
    for (HistoryListEntry& entry : listing) {
        view.rows.push_back({std::move(entry.Subject), std::move(entry.Column2), std::move(entry.Column3)});
        view.fingerprints.push_back(std::move(entry.Fingerprint));
    }
    if (view.rows.empty()) return view;

    // The listing read the last record already. Read again only when it
    // is not the last row's (the listing was cut short by a read error).
    if (lastRecord.size() == kHistoryRecordSize) {
        HistoryRecord last = DecodeRecord(lastRecord);
        const ViewerRow& row = view.rows.back();
        if (last.Subject == row.subject && last.Column2 == row.from && last.Column3 == row.date) {
            view.last = std::move(last);
            return view;
        }
    }
    Result<HistoryRecord> last = ReadRecord(file, static_cast<int>(view.rows.size()));
    if (!last) return Failure{last.error()};
    view.last = std::move(last.value());
    return view;
}

Status DeleteHistoryRecord(const QString& file, const QString& rewriteCopy, int n, const HistoryRecord& shown) {
    const Status marked = MarkDeleted(file, n, shown);
    if (!marked) return marked;
    return compactMarked(file, rewriteCopy);
}

Status DeleteAllHistoryRecords(const QString& file, const QString& rewriteCopy) {
    const std::vector<HistoryListEntry> listing = ReadListing(file);
    int marked = 0;
    Status marking = success();
    for (const HistoryListEntry& entry : listing) {
        HistoryRecord columns;
        columns.Subject = entry.Subject;
        columns.Column2 = entry.Column2;
        columns.Column3 = entry.Column3;
        marking = MarkDeleted(file, marked + 1, columns);
        if (!marking) break;
        ++marked;
    }
    if (marked == 0 && !marking) return marking;
    const Status compacted = compactMarked(file, rewriteCopy);
    if (!marking) return compacted ? marking : Failure{marking.error() + u'\n' + compacted.error()};
    return compacted;
}

RecordsRemoval DeleteHistoryRecords(const QString& file, const QString& rewriteCopy, History history,
                                    std::vector<ListedRecord> shown) {
    RecordsRemoval removal;
    std::sort(shown.begin(), shown.end(), [](const ListedRecord& a, const ListedRecord& b) { return a.n < b.n; });
    shown.erase(std::unique(shown.begin(), shown.end(),
                            [](const ListedRecord& a, const ListedRecord& b) { return a.n == b.n; }),
                shown.end());
    if (shown.empty()) return removal;

    // Every record is looked at before any is marked: one that changed
    // since the list was read means the list is not the file any more.
    // The columns alone tell (280 bytes a record, not 12,284).
    const std::vector<HistoryListEntry> listing = ReadListing(file);
    for (const ListedRecord& listed : shown) {
        const bool there = listed.n >= 1 && listed.n <= static_cast<int>(listing.size());
        const HistoryListEntry* entry = there ? &listing[static_cast<size_t>(listed.n - 1)] : nullptr;
        if (!entry || entry->Subject != listed.row.subject || entry->Column2 != listed.row.from ||
            entry->Column3 != listed.row.date) {
            removal.status = Failure{
                QStringLiteral("履歴ファイル「%1」の %2 件目が一覧と違うため、削除しませんでした。").arg(file).arg(listed.n)};
            return removal;
        }
    }

    // Received and junk records came from the server; sent ones did not.
    const bool notesDeletions = history != History::Sent;
    QList<QByteArray> fingerprints;
    Status marking = success();
    for (const ListedRecord& listed : shown) {
        HistoryRecord columns;
        if (notesDeletions) {
            // The UIDL file knows a record by all of its bytes.
            Result<HistoryRecord> read = ReadRecord(file, listed.n);
            if (!read) {
                marking = Failure{read.error()};
                break;
            }
            columns = std::move(read.value());
        } else {
            columns.Subject = listed.row.subject;
            columns.Column2 = listed.row.from;
            columns.Column3 = listed.row.date;
        }
        marking = MarkDeleted(file, listed.n, columns);
        if (!marking) break;
        if (notesDeletions) fingerprints << RecordFingerprint(columns);
        ++removal.removed;
    }
    if (removal.removed == 0) {
        removal.status = marking;
        return removal;
    }
    const Status compacted = compactMarked(file, rewriteCopy);
    if (!compacted) {
        // Marked, still in the file: nothing went yet.
        removal.removed = 0;
        removal.status = marking ? compacted : Failure{marking.error() + u'\n' + compacted.error()};
        return removal;
    }
    removal.fingerprints = std::move(fingerprints);
    removal.status = marking;
    return removal;
}

QString EditorText(QStringView body) {
    QString text;
    text.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body[i] != u'\r') {
            text += body[i];
            continue;
        }
        text += u'\n';
        if (i + 1 < body.size() && body[i + 1] == u'\n') ++i;
    }
    return text;
}

QString DeleteOneQuestion(History history, const QString& subject) {
    const QString words = history != History::Sent
                              ? QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?")
                              : QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
    const QString named = subject.trimmed().isEmpty() ? QStringLiteral("（件名なし）") : subject.trimmed();
    return words + QStringLiteral("\n\n件名：") + named;
}

}  // namespace lumopet
