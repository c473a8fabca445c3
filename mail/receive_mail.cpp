#include "mail/receive_mail.h"

#include "core/cp932.h"
#include "core/program.h"
#include "core/safe_file.h"
#include "core/text_helpers.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/mood_tags.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"

#include <QFile>
#include <QSet>
#include <QStringList>

#include <unistd.h>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");
const QString kWorkFile = QStringLiteral("\\添付フォルダ\\0.txt");

// The work file the attachment step has always been handed: the header
// and the body, a line each; read back line by line, each line followed
// by CR LF, and a NUL after the last.
// It is made new, never through a link and never over something already
// there (a user's own "0.txt" stays, and ours gets a name of its own);
// `path` becomes the name it got, empty when none could be made.
QString passThroughWorkFile(QString& path, const MailTexts& texts, const QString& body) {
    const std::optional<CreatedFile> created = CreateNewFile(path);
    path = created ? created->path : QString();
    QFile file;
    QString text;
    if (created && file.open(created->fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        file.write(cp932::encode(CutAtNul(texts.header) + QStringLiteral("\r\n") + body + QStringLiteral("\r\n")));
        file.seek(0);
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            text += cp932::decode(line) + QStringLiteral("\r\n");
        }
    } else if (created) {
        ::close(created->fd);
    }
    return text + QChar(u'\0');
}

enum class Outcome { Stored, Stop };

// What this check knows of the messages already in the history: the UIDLs
// of those an earlier check stored but did not get deleted (it was killed
// before its QUIT). Tracking is off when the server gives no UIDLs or the
// file cannot be used: then every message is stored, as it always was, and
// a crash costs a second copy rather than a message.
struct StoredMessages {
    bool tracking = false;
    QString file;
    QString history;
    QStringList listed;   // the server's UIDL of each message
    QSet<QString> uidls;  // those whose record is in the history

    QString uidlOf(int n) const { return n >= 1 && n <= listed.size() ? listed[n - 1] : QString(); }
    bool isStored(int n) const { return tracking && uidls.contains(uidlOf(n)); }
};

// Reads the UIDLs of stored messages, forgets those the server no longer
// lists, and writes the file back settled before anything new is noted in it.
StoredMessages openStoredMessages(Program& program, MailCheckHost& host, int handle) {
    StoredMessages stored;
    stored.file = StoredUidlsPath(program.paths);
    stored.history = HistoryPath(program.paths, History::Received);
    if (NMailPop3GetUidls(handle, stored.listed) < 0) return stored;
    auto known = ReadStoredUidls(stored.file, stored.history);
    if (!known) {
        host.showMessage(known.error() + QStringLiteral("\nメールは受信しますが、前回中断した受信のメールが二重に保存されることがあります。"),
                         kErrorTitle);
        return stored;
    }
    const QSet<QString> listed(stored.listed.begin(), stored.listed.end());
    stored.uidls = known.value() & listed;
    if (const Status written = WriteStoredUidls(stored.file, stored.uidls); !written) {
        host.showMessage(written.error() + QStringLiteral("\nメールは受信しますが、中断した場合には二重に保存されることがあります。"),
                         kErrorTitle);
        return stored;
    }
    stored.tracking = true;
    return stored;
}

// Puts the source of message n, just fetched, into the received Maildir.
// With a UIDL the file's name carries it: a check killed after the
// delivery and before the record fetches the message again, and finds it
// there already.
Status keepSource(Program& program, int handle, int n, const StoredMessages& known) {
    QByteArray source;
    if (NMailPop3GetMailSource(handle, n, source) < 0) return Failure{LastMailError()};
    const QString maildir = ReceivedMaildirPath(program.paths);
    const QString uidl = known.uidlOf(n);
    const QString tag = IsUsableUidl(uidl) ? uidl : QString();
    if (!tag.isEmpty()) {
        const auto held = MaildirHolds(maildir, source, tag);
        if (!held) return Failure{held.error()};
        if (held.value()) return success();
    }
    const auto delivered = DeliverToMaildir(maildir, source, tag);
    if (!delivered) return Failure{delivered.error()};
    return success();
}

// One message, number n: fetched, kept whole in the Maildir, its attachments saved, listed, stored,
// and marked for deletion.
Outcome processMessage(Program& program, MailCheckHost& host, int handle, int n, MailCheckResult& result,
                       StoredMessages& known) {
    MailTexts texts;
    QString body;
    NMailPop3GetMailStatus(handle, n, texts, 0);
    NMailPop3GetMailSize(handle, n);
    if (NMailPop3GetMail(handle, n, texts, body, 0, 0) < 0) {
        // The message stays on the server; so do the ones after it.
        host.showMessage(LastMailError(), kErrorTitle);
        return Outcome::Stop;
    }
    // The whole source goes to the Maildir first, flushed: the record holds
    // only the first 12,000 bytes or so, and once the message is marked for
    // deletion this copy is the only one.
    if (const Status kept = keepSource(program, handle, n, known); !kept) {
        host.showMessage(QStringLiteral("受信したメールを保存できません。このメールと、これより後のメールはサーバーに残しました。\n") +
                             kept.error(),
                         kErrorTitle);
        return Outcome::Stop;
    }
    body = CutAtNul(body);
    const bool hasAttachmentWord = body.contains(QStringLiteral("attachment"));
    const int moodTag = FindMoodTag(body);

    QString workFile = program.paths.path(kWorkFile);
    const QString messageText = passThroughWorkFile(workFile, texts, body);
    const QString folder = program.paths.path(files::AttachmentFolder) + u'/';
    const int attached = NMailAttachmentFileFirst(0, texts, body, folder, workFile, messageText, 0);
    const QString attachmentError = attached == -5 ? LastMailError() : QString();
    NMailAttachmentFileClose(0);
    if (!workFile.isEmpty()) QFile::remove(workFile);
    if (attached == -5) {
        // Stored now, the record would say the attachment was saved, and the
        // server's copy would be gone. Its source is in the Maildir already,
        // under its UIDL: the next check finds it there and stores it once.
        host.showMessage(QStringLiteral("添付ファイルを保存できません。このメールと、これより後のメールはサーバーに残しました。\n") +
                             attachmentError,
                         kErrorTitle);
        return Outcome::Stop;
    }
    if (attached == -6) host.showMessage(QStringLiteral("分割されたメールが全て揃っていません"), QString());

    const QString subject = CutAtNul(texts.subject).trimmed();
    const QString from = CutAtNul(texts.from).trimmed();
    const QString date = CutAtNul(texts.date).trimmed();
    host.addViewerRow(subject, from, date);
    QString shown = CutAtNul(body);
    if (hasAttachmentWord) shown += QStringLiteral("\r\n") + kAttachmentMailText;
    host.showInViewer(CutAtNul(texts.subject), CutAtNul(texts.date), CutAtNul(texts.from), shown);

    // The UIDL goes in first: there must be no moment at which the record
    // is on disk and the next check cannot tell.
    const QString uidl = known.uidlOf(n);
    const bool noted = known.tracking && IsUsableUidl(uidl);
    if (noted) {
        if (const Status note = NoteUidlBeforeStoring(known.file, uidl, known.history); !note) {
            known.tracking = false;
            host.showMessage(note.error() + QStringLiteral("\nメールは受信しますが、中断した場合には二重に保存されることがあります。"),
                             kErrorTitle);
        }
    }
    const auto stored = AppendRecord(HistoryPath(program.paths, History::Received),
                                     HistoryRecord{CutAtNul(texts.subject), CutAtNul(texts.from), CutAtNul(texts.date), shown},
                                     History::Received);
    if (!stored) {
        host.showMessage(QStringLiteral("受信したメールを保存できません。このメールと、これより後のメールはサーバーに残しました。\n") +
                             stored.error(),
                         kErrorTitle);
        return Outcome::Stop;
    }
    if (noted && known.tracking) known.uidls.insert(uidl);
    ++result.MailCount;
    result.MoodTag = moodTag;
    NMailPop3DeleteMail(handle, n);
    return Outcome::Stored;
}

}  // namespace

MailCheckResult ReceiveMail(Program& program, MailCheckHost& host) {
    MailCheckResult result;
    ProgramValues& values = program.values;
    if (values.Pop3Server.isEmpty()) return result;

    const int handle = NMailPop3Connect(values.Pop3Server);
    host.setHelpLine(kCheckingText);
    if (handle == -1) {
        // The layer's text names the server and what failed: without it a
        // wrong server name looks like an empty mailbox.
        host.showMessage(LastMailError(), kErrorTitle);
        result.ConnectionFailed = true;
        return result;
    }

    LoadAccountValues(program);
    host.setAccountTexts(values.UserId, values.UserPassword);
    if (values.UserId.isEmpty() || values.UserPassword.isEmpty()) {
        host.showIdPassForm();
    } else {
        host.clearViewerList();
        const int waiting = NMailPop3Authenticate(handle, values.UserId, values.UserPassword, values.ApopFlag != 0 ? -1 : 0);
        if (waiting < 0) {
            host.showMessage(LastMailError(), kErrorTitle);
            result.MailCount = waiting;
        }
        StoredMessages known;
        if (waiting >= 0) known = openStoredMessages(program, host, handle);
        for (int n = 1; n <= waiting; ++n) {
            host.showProgress(n, waiting);
            if (known.isStored(n)) {
                // Stored by a check that died before its QUIT: only the
                // deletion is left to do.
                NMailPop3DeleteStoredMail(handle, n);
                continue;
            }
            if (processMessage(program, host, handle, n, result, known) == Outcome::Stop) break;
        }
        // The server deletes at the close: the history must be on disk
        // first. If it cannot be made so, nothing is deleted.
        bool synced = true;
        if (result.MailCount > 0) {
            const Status flushed = SyncHistory(HistoryPath(program.paths, History::Received));
            if (!flushed) {
                synced = false;
                NMailPop3UndoDeletes(handle);
                host.showMessage(QStringLiteral("受信したメールをディスクに書き込めません。メールはサーバーに残しました。\n") + flushed.error(),
                                 kErrorTitle);
            }
        }
        // Then the UIDLs of what is now safely stored, so that a QUIT that
        // never arrives costs no second copy. Its failure loses nothing:
        // the history is on disk, and the lines noted before each record
        // still name what they name.
        if (known.tracking && synced) {
            if (const Status written = WriteStoredUidls(known.file, known.uidls); !written)
                host.showMessage(written.error() + QStringLiteral("\n中断した場合には二重に保存されることがあります。"),
                                 kErrorTitle);
        }
    }
    NMailPop3Close(handle);
    return result;
}

}  // namespace lumopet
