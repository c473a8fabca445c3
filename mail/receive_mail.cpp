#include "mail/receive_mail.h"

#include "core/program.h"
#include "core/text_helpers.h"
#include "mail/certificate_trust.h"
#include "mail/decoded_message.h"
#include "mail/junk_filter.h"
#include "mail/junk_sorting.h"
#include "mail/mail_library.h"
#include "mail/mood_tags.h"
#include "mail/split_message.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "store/maildir_writer.h"
#include "store/partial_messages.h"
#include "store/stored_uidls.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <climits>
#include <map>
#include <memory>
#include <optional>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");
// Before the reason, whenever a message could not be made safe on disk.
const QString kNotStoredText =
    QStringLiteral("受信したメールを保存できません。このメールと、これより後のメールはサーバーに残しました。\n");

enum class Outcome { Stored, Skipped, Stop };

// A message whose record waits for the junk filter: with the filter on, a
// record goes into its history once bogofilter has read its copy (or at
// the end of the fetch, for the last ones).
struct HeldRecord {
    int number;
    HistoryRecord record;
    // A part of a split message still waiting has none: it leaves the
    // character to the message before it, as without the filter.
    std::optional<int> moodTag;
    // Known at once for a large message or one found in the Maildir; else
    // the Maildir writer's (copyFromWriter), once it has written it.
    QString copyPath;
    bool providerMarksJunk;
    bool copyFromWriter = false;
    std::optional<QByteArray> charset;  // JunkCharsetOf the source
};

// Where a message's Maildir copy went, and what its header says of junk.
struct KeptCopy {
    QString path;
    bool providerMarksJunk = false;
    QByteArray charset;  // the first the message names (JunkCharsetOf)
};

// What this check knows of the messages already in the history: the UIDLs
// of those an earlier check stored but did not get deleted (it was killed
// before its QUIT, or the mail is left on the server). Tracking is off when
// the server gives no UIDLs or the file cannot be used: then every message
// is stored and deleted, as it always was, and a crash costs a second copy
// rather than a message.
struct StoredMessages {
    bool tracking = false;
    // Mail is left on the server: only with tracking, since without it the
    // next check would store every message again.
    bool leaving = false;
    // Mail is to be left on the server and the UIDL file cannot be used:
    // this check stores nothing and deletes nothing.
    bool blocked = false;
    QDate today;
    QString file;
    QString history;
    QString junkHistory;
    QStringList listed;  // the server's UIDL of each message
    StoredUidls uidls;   // those whose record is in the history

    // The tags of the received Maildir's files, read at the first message
    // that needs them and kept up to date by this check's deliveries.
    std::optional<QSet<QString>> maildirTags;
    // Delivers into the received Maildir; opened at the first delivery.
    std::unique_ptr<MaildirWriter> maildirWriter;
    // The UIDL file and the history, held open for the check's notes and
    // records.
    std::optional<UidlNotes> notes;
    std::optional<RecordAppender> historyFile;
    std::optional<RecordAppender> junkFile;

    // The junk filter is on: records wait in held until the check's
    // fetching is done.
    bool sortingJunk = false;
    std::vector<HeldRecord> held;
    // bogofilter, reading the copies of held[0, heldGiven) while the check
    // fetches; started at the first batch.
    std::unique_ptr<JunkSorter> junkSorter;
    size_t heldGiven = 0;
    // held[0, heldStored) are in their histories already.
    size_t heldStored = 0;

    // The check has said that the disk is too full for a message.
    bool toldNoRoom = false;

    // The messages marked for deletion: the subject of each one stored in
    // this check, nothing for one an earlier check stored.
    std::map<int, std::optional<QString>> deleting;

    QString uidlOf(int n) const { return n >= 1 && n <= listed.size() ? listed[n - 1] : QString(); }
    bool isStored(int n) const { return tracking && uidls.contains(uidlOf(n)); }

    // A stored message that is left on the server: deleted once it has been
    // kept there long enough, or once the user deleted its record, as the
    // options say.
    bool staysOnServer(int n, const ReceiveOptions& options) const {
        if (!leaving) return false;
        const StoredUidl entry = uidls.value(uidlOf(n));
        const bool old = options.DeleteAfterDays > 0 && entry.stored.isValid() &&
                         entry.stored.daysTo(today) > options.DeleteAfterDays;
        const bool recordDeleted = options.DeleteWithHistory && entry.recordDeleted;
        return !old && !recordDeleted;
    }
};

const QString kNoUidlToLeaveText = QStringLiteral(
    "このサーバーはメールの識別番号（UIDL）を返さないため、メールをサーバーに残すことができません。"
    "受信したメールは、これまでどおりサーバーから削除します。");
const QString kLeftUnreceivedText = QStringLiteral(
    "\nメールをサーバーに残す設定では、この一覧がないと同じメールを受信のたびに保存してしまうため、"
    "今回は受信せず、メールはすべてサーバーに残しました。");

// Reads the UIDLs of stored messages, forgets those the server no longer
// lists, and writes the file back settled before anything new is noted in it.
StoredMessages openStoredMessages(Program& program, MailCheckHost& host, int handle) {
    StoredMessages stored;
    const bool leave = program.receive.LeaveOnServer;
    stored.today = program.today();
    stored.file = StoredUidlsPath(program.paths);
    stored.history = HistoryPath(program.paths, History::Received);
    stored.junkHistory = HistoryPath(program.paths, History::Junk);
    if (NMailPop3GetUidls(handle, stored.listed) < 0) {
        if (leave && !program.toldNoUidlToLeave) {
            program.toldNoUidlToLeave = true;
            host.showMessage(kNoUidlToLeaveText + u'\n' + LastMailError(handle), kErrorTitle);
        }
        return stored;
    }
    auto known = ReadStoredUidls(stored.file, stored.history, stored.today, stored.junkHistory);
    if (!known) {
        stored.blocked = leave;
        host.showMessage(known.error() + (leave ? kLeftUnreceivedText
                                                : QStringLiteral("\nメールは受信しますが、前回中断した受信のメールが二重に保存されることがあります。")),
                         kErrorTitle);
        return stored;
    }
    const QSet<QString> listed(stored.listed.begin(), stored.listed.end());
    for (auto it = known.value().begin(); it != known.value().end(); ++it)
        if (listed.contains(it.key())) stored.uidls.insert(it.key(), it.value());
    Status written = WriteStoredUidls(stored.file, stored.uidls);
    if (written) {
        auto notes = UidlNotes::Open(stored.file);
        if (notes) stored.notes.emplace(std::move(notes.value()));
        else written = Failure{notes.error()};
    }
    if (!written) {
        stored.blocked = leave;
        host.showMessage(written.error() + (leave ? kLeftUnreceivedText
                                                  : QStringLiteral("\nメールは受信しますが、中断した場合には二重に保存されることがあります。")),
                         kErrorTitle);
        return stored;
    }
    stored.tracking = true;
    stored.leaving = leave;
    return stored;
}

// The tags the received Maildir holds, read once a check.
Result<const QSet<QString>*> maildirTags(Program& program, StoredMessages& known) {
    if (!known.maildirTags) {
        auto read = ReadMaildirTags(ReceivedMaildirPath(program.paths));
        if (!read) return Failure{read.error()};
        known.maildirTags = std::move(read.value());
    }
    return &*known.maildirTags;
}

// The writer into the received Maildir, opened at the first message that
// needs it, so that a Maildir that cannot be used stops the check there.
Result<MaildirWriter*> maildirWriter(Program& program, StoredMessages& known) {
    if (!known.maildirWriter) {
        auto folders = MaildirFolders::Open(ReceivedMaildirPath(program.paths));
        if (!folders) return Failure{folders.error()};
        folders.value().removeLeftovers();
        known.maildirWriter = std::make_unique<MaildirWriter>(std::move(folders.value()));
    }
    return known.maildirWriter.get();
}

// The header of a message spooled to a file, where the provider's verdict
// and the charset are.
QByteArray spooledHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.read(mail::kHeldHeaderBytes);
}

// Puts the source of message n, just fetched, into the received Maildir.
// With a UIDL the file's name carries it: a check killed after the
// delivery and before the record fetches the message again, and finds it
// there already. The copy is made beside the check; the check waits for it
// (MaildirWriter::finish) before the server may delete the message. A large
// message is in the Maildir's tmp/ already, written as it arrived: it only
// moves into new/.
// With the junk filter on, kept says where the copy is (when known now) and
// what the header says of junk.
Status keepSource(Program& program, int handle, int n, StoredMessages& known, KeptCopy* kept = nullptr) {
    QString file;
    const int inFile = NMailPop3GetMailFile(handle, n, file);
    QByteArray source;
    if (inFile < 0 || (inFile == 0 && NMailPop3GetMailSource(handle, n, source) < 0)) return Failure{LastMailError(handle)};
    if (kept) {
        const QByteArray spooled = inFile == 1 ? spooledHeader(file) : QByteArray();
        const QByteArrayView start = inFile == 1 ? QByteArrayView(spooled) : QByteArrayView(source);
        kept->providerMarksJunk = junk::ProviderMarksJunk(start);
        kept->charset = JunkCharsetOf(start);
    }
    const auto writer = maildirWriter(program, known);
    if (!writer) return Failure{writer.error()};
    const QString maildir = ReceivedMaildirPath(program.paths);
    const QString uidl = known.uidlOf(n);
    const QString tag = IsUsableUidl(uidl) ? uidl : QString();
    if (!tag.isEmpty()) {
        const auto tags = maildirTags(program, known);
        if (!tags) return Failure{tags.error()};
        if (tags.value()->contains(tag)) {
            // Seldom: the copies on their way are made before looking.
            if (const auto failed = writer.value()->drain()) return Failure{failed->error};
            const auto held = inFile == 1 ? MaildirHeldCopyOfFile(maildir, file, tag) : MaildirHeldCopy(maildir, source, tag);
            if (!held) return Failure{held.error()};
            if (held.value()) {
                if (kept) kept->path = *held.value();
                return success();
            }
        }
    }
    if (inFile == 1) {
        const auto moved = writer.value()->folders().moveToNew(file, tag);
        if (!moved) return Failure{moved.error()};
        if (kept) kept->path = moved.value();
    } else {
        writer.value()->deliver(n, std::move(source), tag);
    }
    if (!tag.isEmpty()) known.maildirTags->insert(tag);
    return success();
}

// A large message goes into the received Maildir's tmp/ as it arrives,
// and the help line says how much of it has come.
void spoolLargeMessages(Program& program, MailCheckHost& host, int handle, StoredMessages& known, int waiting) {
    const auto makeFile = [&program, &known]() -> Result<SpoolFile> {
        const auto writer = maildirWriter(program, known);
        if (!writer) return Failure{writer.error()};
        return writer.value()->folders().createInTmp();
    };
    const auto arrived = [&host, waiting](int number, qint64 bytes, qint64 listed) {
        constexpr qint64 kMegabyte = 1024 * 1024;
        host.showArrived(number, waiting, static_cast<int>(bytes / kMegabyte), static_cast<int>(listed / kMegabyte));
    };
    NMailPop3SpoolLargeMail(handle, makeFile, arrived);
}

// A message an earlier check stored and could not delete is deleted now,
// without being stored again; but only with its whole source in the
// Maildir beside its record. That check's copy was not flushed yet when it
// died, and after a power cut it may be gone while the record stayed.
bool sourceKeptOfStored(Program& program, MailCheckHost& host, int handle, int n, StoredMessages& known) {
    const auto tags = maildirTags(program, known);
    if (tags && tags.value()->contains(known.uidlOf(n))) return true;
    MailTexts texts;
    QString body;
    Status kept = tags ? success() : Status(Failure{tags.error()});
    if (kept && NMailPop3GetMail(handle, n, texts, body, 0, 0) < 0) kept = Failure{LastMailError(handle)};
    if (kept) kept = keepSource(program, handle, n, known);
    if (!kept) {
        host.showMessage(kNotStoredText + kept.error(), kErrorTitle);
    }
    return kept.ok();
}

// The split messages of this check: where their parts are kept, and the
// ids joined and stored in this check, whose parts go once the history is
// on disk.
struct SplitMessages {
    QString root;
    QSet<QString> joined;
    bool told = false;  // the box about parts still waiting, once a check
};

const QString kSplitIncompleteText = QStringLiteral("分割されたメールが全て揃っていません");

// A message over the size limit is not fetched. It stays on the server and
// the user is told which one it is, with its subject and sender when the
// server gives its header alone. The check goes on with the others:
// stopping here would hold back every later message at every check.
// The subject and sender of a message left on the server, from its header
// alone, as lines for the box; nothing when the server cannot give it.
QString whichMessage(int handle, int n) {
    MailTexts texts;
    if (NMailPop3GetMailHeader(handle, n, texts) != 0) return {};
    return QStringLiteral("\n件名: ") + CutAtNul(texts.subject).trimmed() + QStringLiteral("\n差出人: ") +
           CutAtNul(texts.from).trimmed();
}

void tellTooLarge(MailCheckHost& host, int handle, int n) {
    // Taken first: asking for the header sets the layer's last error anew.
    const QString error = LastMailError(handle);
    host.showMessage(error + QStringLiteral("\nこのメールはサーバーに残しました。") + whichMessage(handle, n), kErrorTitle);
}

// What a message must leave free on the disk of the data folder once it
// is stored: its Maildir copy, its attachments and the history's other
// files must not fill the disk, where the next write of any program fails.
constexpr qint64 kKeepFreeBytes = 100LL * 1024 * 1024;

// A message that would leave less than that stays on the server: it is
// not fetched, and the user is told once a check (the disk is as full for
// the messages after it, which stay too, unless they are small enough).
// When the room cannot be told, the check goes on as it always did.
bool leavesRoom(Program& program, MailCheckHost& host, int handle, int n, StoredMessages& known) {
    const std::optional<qint64> free = program.freeBytes(program.paths.path(files::DataFolder));
    const qint64 size = std::max(NMailPop3GetMailSize(handle, n), 0);
    if (!free || *free - size >= kKeepFreeBytes) return true;
    if (known.toldNoRoom) return false;
    known.toldNoRoom = true;
    const auto megabytes = [](qint64 bytes) { return QString::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 1); };
    const QString text = QStringLiteral("ディスクの空きが %1 MB しかないため、メッセージ %2（%3 MB）を受信せず、サーバーに残しました。"
                                  "受信したあとも %4 MB 以上の空きが残るメールだけを受信します。")
                       .arg(megabytes(std::max<qint64>(*free, 0)))
                       .arg(n)
                       .arg(megabytes(size))
                       .arg(kKeepFreeBytes / (1024 * 1024));
    host.showMessage(text + whichMessage(handle, n) + QStringLiteral("\n空きを作ってから、もう一度受信してください。"),
                     kErrorTitle);
    return false;
}

enum class SplitStep { NotSplit, Joined, Waiting, Stop };

// A part of a split message is kept in the data folder, flushed, before the
// server may delete it. The part that completes the message takes the
// whole's place in the session, and the whole is received like any other
// message. A part of a message already joined in this check, or one whose
// numbers make no sense, is received as a message of its own: nothing is
// dropped on the strength of a guess.
SplitStep takeSplitPart(MailCheckHost& host, int handle, int n, SplitMessages& split, mail::SplitPart& part) {
    QByteArray source;
    QString file;
    std::optional<mail::SplitPart> found;
    const int inFile = NMailPop3GetMailFile(handle, n, file);
    if (inFile < 0) return SplitStep::NotSplit;
    if (inFile == 1) {
        // Its header tells; a part too large to join in memory is a
        // message of its own.
        QFile spooled(file);
        if (!spooled.open(QIODevice::ReadOnly) || spooled.size() > kMaxHeldMessageBytes) return SplitStep::NotSplit;
        source = spooled.read(mail::kHeldHeaderBytes);
        found = mail::SplitPartOf(source);
        if (found) source += spooled.readAll();
    } else if (NMailPop3GetMailSource(handle, n, source) == 0) {
        found = mail::SplitPartOf(source);
    }
    if (!found || split.joined.contains(found->id)) return SplitStep::NotSplit;
    part = *found;
    if (const Status kept = KeepPart(split.root, part.id, part.number, part.total, source); !kept) {
        host.showMessage(kNotStoredText + kept.error(), kErrorTitle);
        return SplitStep::Stop;
    }
    source.clear();
    // From here the part is safe on disk: whatever stops the join, it
    // waits there for the next check.
    const auto held = PartsHeld(split.root, part.id);
    if (!held || !held.value().complete()) return SplitStep::Waiting;
    if (held.value().bytes > kMaxHeldMessageBytes) {
        host.showMessage(QStringLiteral("分割されたメールの部分が全て揃いましたが、合わせて %1 MB あり大きすぎるため一通にしません（一通にできるのは %2 MB まで）。部分は「%3」に残しました。")
                             .arg(QString::number(static_cast<double>(held.value().bytes) / (1024 * 1024), 'f', 1))
                             .arg(kMaxHeldMessageBytes / (1024 * 1024))
                             .arg(split.root),
                         kErrorTitle);
        return SplitStep::Waiting;
    }
    const auto parts = ReadHeldParts(split.root, part.id, held.value().total);
    if (!parts || NMailPop3UseJoinedMail(handle, n, mail::JoinSplitParts(parts.value())) < 0) {
        host.showMessage(QStringLiteral("分割されたメールを一通にできません。部分は「%1」に残しました。\n").arg(split.root) +
                             (parts ? LastMailError(handle) : parts.error()),
                         kErrorTitle);
        return SplitStep::Waiting;
    }
    split.joined.insert(part.id);
    return SplitStep::Joined;
}

// The messages whose deletion did not take effect, in one box at the end
// of the check: they are stored, and the user finds them on the server
// (in another mail program, on a phone) and must know why.
void tellNotDeleted(MailCheckHost& host, const std::vector<int>& numbers, const QString& reason,
                    const StoredMessages& known) {
    constexpr int kNamedAtMost = 20;
    QString text = QStringLiteral("次のメールはサーバーから削除できませんでした。サーバーに残っています：");
    bool allTracked = true;
    int named = 0;
    for (const int n : numbers) {
        allTracked = allTracked && known.isStored(n);
        if (++named > kNamedAtMost) continue;
        const auto found = known.deleting.find(n);
        if (found == known.deleting.end() || !found->second)
            text += QStringLiteral("\n・メッセージ %1").arg(n);
        else
            text += QStringLiteral("\n・") + (found->second->isEmpty() ? QStringLiteral("（件名なし）") : *found->second);
    }
    if (named > kNamedAtMost) text += QStringLiteral("\n（ほか %1 通）").arg(named - kNamedAtMost);
    if (!reason.isEmpty()) text += u'\n' + reason;
    // The next check knows them by their UIDLs when the server gives
    // them; else they come again as new mail.
    text += allTracked ? QStringLiteral("\n次回の受信では、保存し直さずにサーバーからの削除だけを行います。")
                       : QStringLiteral("\n次回の受信で、もう一度保存されることがあります。");
    host.showMessage(text, kErrorTitle);
}

// Lists the record, stores it in the history (the received one, or the
// junk history for junk) and marks message n for deletion, unless it is
// left on the server. The UIDL goes in first: there must be no moment at
// which the record is on disk and the next check cannot tell.
Outcome storeRecord(MailCheckHost& host, int handle, int n, const HistoryRecord& record,
                    MailCheckResult& result, StoredMessages& known, History into = History::Received) {
    const bool junk = into == History::Junk;
    // Column2 is the sender, Column3 the date. Junk is not shown in 着信履歴.
    if (!junk) {
        host.addViewerRow(record.Subject.trimmed(), record.Column2.trimmed(), record.Column3.trimmed());
        host.showInViewer(record.Subject, record.Column3, record.Column2, record.Body);
    }
    const QString uidl = known.uidlOf(n);
    const bool noted = known.tracking && IsUsableUidl(uidl);
    std::optional<RecordAppender>& historyFile = junk ? known.junkFile : known.historyFile;
    if (!historyFile) {
        auto opened = OpenHistoryForAppending(junk ? known.junkHistory : known.history);
        if (!opened) {
            host.showMessage(kNotStoredText + opened.error(), kErrorTitle);
            return Outcome::Stop;
        }
        historyFile.emplace(std::move(opened.value()));
    }
    // Encoded once, for its fingerprint and for the history.
    const QByteArray encoded = EncodeLiveRecord(record, into);
    StoredUidl entry;
    if (noted) {
        entry = StoredUidl{known.today, RecordBytesFingerprint(encoded), false};
        const auto length = historyFile->length();
        const Status note =
            length ? known.notes->note(uidl, length.value(), entry, junk) : Status(Failure{length.error()});
        if (!note && known.leaving) {
            // Stored untracked, it would be stored again at every check
            // while the server keeps it.
            host.showMessage(note.error() + QStringLiteral("\nメールをサーバーに残す設定のため、このメールと、これより後のメールは保存せずにサーバーに残しました。"),
                             kErrorTitle);
            return Outcome::Stop;
        }
        if (!note) {
            known.tracking = false;
            host.showMessage(note.error() + QStringLiteral("\nメールは受信しますが、中断した場合には二重に保存されることがあります。"),
                             kErrorTitle);
        }
    }
    const auto stored = historyFile->append(encoded);
    if (!stored) {
        host.showMessage(kNotStoredText + stored.error(), kErrorTitle);
        return Outcome::Stop;
    }
    if (noted && known.tracking) known.uidls.insert(uidl, entry);
    if (junk) {
        ++result.JunkCount;
    } else {
        ++result.MailCount;
        if (result.FirstNewMail.size() < static_cast<size_t>(kNewMailLinesKept))
            result.FirstNewMail.push_back({record.Column2.trimmed(), record.Subject.trimmed()});
    }
    // A message without a usable UIDL cannot be told from a new one at the
    // next check: it goes, as it always did.
    if (known.leaving && noted) return Outcome::Stored;
    if (NMailPop3DeleteMail(handle, n) == 0) known.deleting[n] = record.Subject.trimmed();
    return Outcome::Stored;
}

// A part whose message is not whole yet: its record says so, and it is
// deleted from the server like any stored message, since its source is
// kept with the other parts.
Outcome storeWaitingPart(MailCheckHost& host, int handle, int n, const MailTexts& texts,
                         const mail::SplitPart& part, MailCheckResult& result, StoredMessages& known,
                         SplitMessages& split) {
    if (!split.told) host.showMessage(kSplitIncompleteText, QString());
    split.told = true;
    const QString total = part.total > 0 ? QString::number(part.total) : QStringLiteral("?");
    const QString body = kSplitIncompleteText +
                         QStringLiteral("（%1/%2）。\r\n残りが届いたら、一通のメールとして受信します。").arg(part.number).arg(total);
    const HistoryRecord record{CutAtNul(texts.subject), CutAtNul(texts.from), CutAtNul(texts.date), body};
    if (known.sortingJunk) {
        // Its source is with the parts, not in the Maildir: its header alone
        // can say junk, and the part of a notice says nothing.
        known.held.push_back({n, record, std::nullopt, QString(), false, false, std::nullopt});
        return Outcome::Stored;
    }
    return storeRecord(host, handle, n, record, result, known);
}

// One message, number n: fetched, kept whole in the Maildir, its
// attachments saved, listed, stored, and marked for deletion.
Outcome processMessage(Program& program, MailCheckHost& host, int handle, int n, MailCheckResult& result,
                       StoredMessages& known, SplitMessages& split) {
    if (NMailPop3IsTooLarge(handle, n)) {
        tellTooLarge(host, handle, n);
        return Outcome::Skipped;
    }
    if (!leavesRoom(program, host, handle, n, known)) return Outcome::Skipped;
    MailTexts texts;
    QString body;
    NMailPop3GetMailStatus(handle, n, texts, 0);
    NMailPop3GetMailSize(handle, n);
    if (NMailPop3GetMail(handle, n, texts, body, 0, 0) < 0) {
        // The message stays on the server; so do the ones after it.
        host.showMessage(LastMailError(handle), kErrorTitle);
        return Outcome::Stop;
    }
    mail::SplitPart part;
    switch (takeSplitPart(host, handle, n, split, part)) {
    case SplitStep::Stop: return Outcome::Stop;
    case SplitStep::Waiting: return storeWaitingPart(host, handle, n, texts, part, result, known, split);
    case SplitStep::Joined: NMailPop3GetMail(handle, n, texts, body, 0, 0); break;
    case SplitStep::NotSplit: break;
    }
    // The whole source goes to the Maildir first (it reaches the disk before
    // QUIT): the record holds only the first 12,000 bytes or so, and once
    // the server deletes the message this copy is the only one.
    KeptCopy copy;
    if (const Status kept = keepSource(program, handle, n, known, known.sortingJunk ? &copy : nullptr); !kept) {
        host.showMessage(kNotStoredText + kept.error(), kErrorTitle);
        return Outcome::Stop;
    }
    body = CutAtNul(body);
    const bool hasAttachmentWord = NamesAttachment(body);
    const int moodTag = FindMoodTag(body);

    // No work file: the attachment step has always been handed one with the
    // header and the body, but the layer works from the source it fetched,
    // and writing a file nobody reads cost a tenth of the check's time.
    const QString folder = program.paths.path(files::AttachmentFolder) + u'/';
    QString text;  // what the attachment step leaves of the body
    const int attached = NMailAttachmentFileFirst(handle, texts, text, folder, QString(), QString(), 0);
    const QString attachmentError = attached == -5 ? LastMailError(handle) : QString();
    NMailAttachmentFileClose(handle);
    if (attached == -5) {
        // Stored now, the record would say the attachment was saved, and the
        // server's copy would be gone. Its source is in the Maildir already,
        // under its UIDL: the next check finds it there and stores it once.
        host.showMessage(QStringLiteral("添付ファイルを保存できません。このメールと、これより後のメールはサーバーに残しました。\n") +
                             attachmentError,
                         kErrorTitle);
        return Outcome::Stop;
    }
    if (attached == -6) host.showMessage(kSplitIncompleteText, QString());

    const HistoryRecord record = ReceivedRecord(texts, text, hasAttachmentWord);
    if (known.sortingJunk) {
        known.held.push_back({n, record, moodTag, copy.path, copy.providerMarksJunk, copy.path.isEmpty(), copy.charset});
        return Outcome::Stored;
    }
    const Outcome outcome = storeRecord(host, handle, n, record, result, known);
    if (outcome == Outcome::Stored) result.MoodTag = moodTag;
    return outcome;
}

// A held record as the junk filter is handed it; its copy's path is empty
// while the Maildir writer has not written it yet (or when it has none).
JunkCandidate candidateOf(const HeldRecord& waiting, const StoredMessages& known) {
    QString path = waiting.copyPath;
    if (waiting.copyFromWriter && known.maildirWriter) path = known.maildirWriter->deliveredPath(waiting.number);
    return {path, waiting.providerMarksJunk, waiting.record.Column2, waiting.charset};
}

std::vector<JunkCandidate> heldCandidates(const StoredMessages& known) {
    std::vector<JunkCandidate> candidates;
    for (size_t i = known.heldStored; i < known.held.size(); ++i) candidates.push_back(candidateOf(known.held[i], known));
    return candidates;
}

// Copies a check hands bogofilter while it fetches, a batch at a time: it
// reads them at a low priority on the processor the check leaves idle
// (waiting for the server, or on a second core), instead of all at once
// after the fetch while the user waits. A hundred at a time keeps each
// batch's charsets together (see readingOrder) and its start cheap.
constexpr size_t kCopiesABatch = 100;

void giveWrittenCopies(const Program& program, StoredMessages& known) {
    if (known.held.size() - known.heldGiven < kCopiesABatch) return;
    std::vector<JunkCandidate> copies;
    for (; known.heldGiven < known.held.size(); ++known.heldGiven) {
        const HeldRecord& waiting = known.held[known.heldGiven];
        JunkCandidate candidate = candidateOf(waiting, known);
        // Not written yet: the next batch starts there.
        if (waiting.copyFromWriter && candidate.copyPath.isEmpty()) break;
        copies.push_back(std::move(candidate));
    }
    if (copies.empty()) return;
    if (!known.junkSorter) known.junkSorter = std::make_unique<JunkSorter>(program.paths);
    known.junkSorter->read(copies);
}

// One held record into the history its verdict chose. The character of
// the last message that is not junk walks out.
Outcome storeHeld(MailCheckHost& host, int handle, MailCheckResult& result, StoredMessages& known,
                  const HeldRecord& waiting, bool junk) {
    const Outcome outcome = storeRecord(host, handle, waiting.number, waiting.record, result, known,
                                        junk ? History::Junk : History::Received);
    if (outcome == Outcome::Stored && !junk && waiting.moodTag) result.MoodTag = *waiting.moodTag;
    return outcome;
}

// During the fetch, the held records whose verdicts are in go into their
// histories, in server order, as every record does without the filter
// (the server deletes nothing before the flush at the end). What is left
// of them after the fetch is little.
Outcome storeSortedRecords(MailCheckHost& host, int handle, MailCheckResult& result, StoredMessages& known) {
    if (!known.junkSorter) return Outcome::Stored;
    while (known.heldStored < known.heldGiven) {
        const HeldRecord& waiting = known.held[known.heldStored];
        const std::optional<bool> junk = known.junkSorter->junkSoFar(candidateOf(waiting, known));
        if (!junk) break;
        ++known.heldStored;
        if (storeHeld(host, handle, result, known, waiting, *junk) == Outcome::Stop) {
            // As without the filter, nothing after a record that could not
            // be stored is: those messages stay on the server.
            known.held.resize(known.heldStored);
            known.heldGiven = known.heldStored;
            return Outcome::Stop;
        }
    }
    return Outcome::Stored;
}

// The held records not stored yet go into their histories, in server
// order, once every copy is written (failedCopy: what drain() said), as
// sorted (one verdict a record left, in their order). A message whose
// copy failed, and every later one, is not stored: its deletion was never
// asked for, and the next check fetches it again.
void storeHeldRecords(Program& program, MailCheckHost& host, int handle, MailCheckResult& result,
                      StoredMessages& known, const std::optional<FailedDelivery>& failedCopy, JunkSorting sorting) {
    const int firstFailed = failedCopy && failedCopy->number > 0 ? failedCopy->number : INT_MAX;
    std::vector<HeldRecord> held;
    for (size_t i = known.heldStored; i < known.held.size(); ++i)
        if (known.held[i].number < firstFailed) held.push_back(std::move(known.held[i]));
    sorting.junk.resize(std::max(sorting.junk.size(), held.size()), false);
    known.held.clear();
    known.heldGiven = known.heldStored = 0;
    // Said once a run: a filter that cannot run at every timed check would
    // otherwise say so every few minutes.
    if (!sorting.problem.isEmpty() && sorting.problem != program.toldJunkProblem) {
        program.toldJunkProblem = sorting.problem;
        host.showMessage(sorting.problem, kErrorTitle);
    } else if (sorting.problem.isEmpty()) {
        program.toldJunkProblem.clear();
    }
    for (size_t i = 0; i < held.size(); ++i)
        if (storeHeld(host, handle, result, known, held[i], sorting.junk[i]) == Outcome::Stop) break;
}

// Flushes the histories before the server may delete anything: the ones
// this check appended to, and those an earlier check that died before its
// QUIT may have left records unflushed in (anyDeletion). With the filter
// on, a check may bring only junk: the received history it did not make
// holds nothing to flush, and must not stop the deletions.
Status syncHistories(Program& program, StoredMessages& known, bool anyDeletion) {
    const QString received = HistoryPath(program.paths, History::Received);
    Status synced = success();
    if (known.historyFile) {
        synced = known.historyFile->sync();
    } else if (!program.receive.JunkFilter || QFileInfo::exists(received)) {
        synced = SyncHistory(received);
    }
    if (!synced) return synced;
    if (known.junkFile) return known.junkFile->sync();
    const QString junk = HistoryPath(program.paths, History::Junk);
    if (anyDeletion && QFileInfo::exists(junk)) return SyncHistory(junk);
    return success();
}

}  // namespace

bool NamesAttachment(const QString& bodyBeforeAttachmentStep) {
    return CutAtNul(bodyBeforeAttachmentStep).contains(QStringLiteral("attachment"));
}

HistoryRecord ReceivedRecord(const MailTexts& texts, const QString& text, bool withAttachmentText) {
    // Column2 is the sender, Column3 the date.
    QString shown = CutAtNul(text);
    if (withAttachmentText) shown += QStringLiteral("\r\n") + kAttachmentMailText;
    return HistoryRecord{CutAtNul(texts.subject), CutAtNul(texts.from), CutAtNul(texts.date), shown};
}

MailCheckResult ReceiveMail(Program& program, MailCheckHost& host, const mail::Credentials& login) {
    MailCheckResult result;
    ProgramValues& values = program.values;
    if (values.Pop3Server.isEmpty()) return result;

    NMailSetOption(kLargestMessageOption, program.receive.MaxMessageMB);
    QString connectError;
    const int handle = NMailPop3Connect(values.Pop3Server, connectError);
    host.setHelpLine(kCheckingText);
    if (handle == kNoConnection) {
        // The layer's text names the server and what failed: without it a
        // wrong server name looks like an empty mailbox.
        host.showMessage(connectError, kErrorTitle);
        result.ConnectionFailed = true;
        return result;
    }

    // A token is no business of the ID and password boxes, and a missing
    // one is for the caller to fetch, not for the user to type.
    const bool bearer = login.method == mail::Credentials::Method::Bearer;
    if (!bearer) host.setAccountTexts(login.user, login.secret);
    StoredMessages known;
    if (bearer && !login.isSet()) {
        result.MailCount = kLoginRefused;
        result.LoginRefused = true;
        result.LoginRefusal = kNoTokenText;
    } else if (!login.isSet()) {
        host.showIdPassForm();
    } else {
        host.clearViewerList();
        // The TLS handshake comes with the login. A certificate nobody
        // vouches for is shown to the user; trusted, the login goes again.
        const int waiting = mail::RunWithCertificateTrust(
            [&] { return NMailPop3Authenticate(handle, login); }, mail::TrustedCertificatesPath(program.paths),
            {[&host](const CertificateDetails& details) { return host.askToTrustCertificate(details); },
             [&host](const QString& error) { host.showMessage(error, kErrorTitle); }});
        if (waiting < 0) {
            result.MailCount = waiting;
            if (bearer && waiting == kLoginRefused) {
                // The caller refreshes the token and checks once more, or
                // shows this when it cannot.
                result.LoginRefused = true;
                result.LoginRefusal = LastMailError(handle);
            } else {
                host.showMessage(LastMailError(handle), kErrorTitle);
            }
        }
        if (waiting >= 0) known = openStoredMessages(program, host, handle);
        known.sortingJunk = program.receive.JunkFilter;
        spoolLargeMessages(program, host, handle, known, waiting);
        if (known.blocked) result.MailCount = -1;
        SplitMessages split;
        split.root = PartialMessagesPath(program.paths);
        bool anyDeletion = false;
        for (int n = 1; !known.blocked && n <= waiting; ++n) {
            host.showProgress(n, waiting);
            if (known.isStored(n)) {
                if (known.staysOnServer(n, program.receive)) {
                    // The check that stored it may have died before its
                    // source reached the Maildir; on the server it is not
                    // safe for long, since another mail program (a phone)
                    // may delete it there.
                    if (!sourceKeptOfStored(program, host, handle, n, known)) break;
                    continue;
                }
                // Stored by a check that died before its QUIT, or left on
                // the server until now: only the deletion is left to do.
                if (!sourceKeptOfStored(program, host, handle, n, known)) break;
                if (NMailPop3DeleteStoredMail(handle, n) == 0) known.deleting[n] = std::nullopt;
                anyDeletion = true;
                continue;
            }
            if (processMessage(program, host, handle, n, result, known, split) == Outcome::Stop) break;
            if (known.maildirWriter && known.maildirWriter->failure()) break;
            if (known.sortingJunk) {
                giveWrittenCopies(program, known);
                if (storeSortedRecords(host, handle, result, known) == Outcome::Stop) break;
            }
        }
        // The server deletes at the close: the history must be on disk
        // first. If it cannot be made so, nothing is deleted.
        bool synced = true;
        // The Maildir copies first: a message whose copy failed stays on
        // the server with every later one. Its record is in the history
        // already and its UIDL noted: the next check fetches it for the
        // Maildir and then deletes it, without storing it twice.
        std::optional<FailedDelivery> failedCopy;
        // With the junk filter on, the held records go into their histories
        // once every copy is written (bogofilter has read most of them by
        // then) and before the flush, which then puts copies and records on
        // disk together, as without the filter: records appended after it
        // would cost a flush of their own. Nothing is deleted until both
        // are on disk.
        if (!known.held.empty()) {
            if (known.maildirWriter) failedCopy = known.maildirWriter->drain();
            if (!known.junkSorter) known.junkSorter = std::make_unique<JunkSorter>(program.paths);
            storeHeldRecords(program, host, handle, result, known, failedCopy,
                             known.junkSorter->sort(heldCandidates(known)));
            known.junkSorter.reset();
        }
        if (known.maildirWriter) failedCopy = known.maildirWriter->finish();
        if (failedCopy && failedCopy->number > 0) {
            NMailPop3UndoDeletes(handle, failedCopy->number);
            host.showMessage(kNotStoredText + failedCopy->error, kErrorTitle);
        }
        if (result.MailCount > 0 || result.JunkCount > 0 || anyDeletion) {
            // Then the histories.
            Status flushed = failedCopy && failedCopy->number == 0 ? Status(Failure{failedCopy->error}) : success();
            if (flushed) flushed = syncHistories(program, known, anyDeletion);
            if (!flushed) {
                synced = false;
                NMailPop3UndoDeletes(handle, 1);
                host.showMessage(QStringLiteral("受信したメールをディスクに書き込めません。メールはサーバーに残しました。\n") + flushed.error(),
                                 kErrorTitle);
            }
        }
        // Then the UIDLs of what is now safely stored, so that a QUIT that
        // never arrives costs no second copy. Its failure loses nothing:
        // the history is on disk, and the lines noted before each record
        // still name what they name.
        // The parts of a message stored whole are no longer needed; kept,
        // they would only take space.
        if (synced) {
            for (const QString& id : split.joined) ForgetParts(split.root, id);
        }
        if (known.tracking && synced) {
            if (const Status written = WriteStoredUidls(known.file, known.uidls); !written)
                host.showMessage(written.error() + QStringLiteral("\n中断した場合には二重に保存されることがあります。"),
                                 kErrorTitle);
        }
    }
    mail::NotDeleted notDeleted;
    if (NMailPop3Close(handle, &notDeleted) == kMailFailed) tellNotDeleted(host, notDeleted.numbers, notDeleted.reason, known);
    return result;
}

}  // namespace lumopet
