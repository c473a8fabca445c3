#include "mail/receive_mail.h"

#include "core/cp932.h"
#include "core/program.h"
#include "core/safe_file.h"
#include "core/text_helpers.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/mood_tags.h"
#include "store/history_file.h"

#include <QFile>

namespace lumopet {
namespace {

const QString kErrorTitle = QStringLiteral("エラー");
const QString kWorkFile = QStringLiteral("\\添付フォルダ\\0.txt");

// The work file the attachment step has always been handed: the header
// and the body, a line each; read back line by line, each line followed
// by CR LF, and a NUL after the last.
QString passThroughWorkFile(const QString& path, const MailTexts& texts, const QString& body) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(cp932::encode(CutAtNul(texts.header) + QStringLiteral("\r\n") + body + QStringLiteral("\r\n")));
    file.close();
    QString text;
    if (file.open(QIODevice::ReadOnly)) {
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            text += cp932::decode(line) + QStringLiteral("\r\n");
        }
    }
    return text + QChar(u'\0');
}

enum class Outcome { Stored, Stop };

// One message, number n: fetched, its attachments saved, listed, stored,
// and marked for deletion.
Outcome processMessage(Program& program, MailCheckHost& host, int handle, int n, MailCheckResult& result) {
    MailTexts texts;
    QString body;
    NMailPop3GetMailStatus(handle, n, texts, 0);
    NMailPop3GetMailSize(handle, n);
    if (NMailPop3GetMail(handle, n, texts, body, 0, 0) < 0) {
        // The message stays on the server; so do the ones after it.
        host.showMessage(LastMailError(), kErrorTitle);
        return Outcome::Stop;
    }
    body = CutAtNul(body);
    const bool hasAttachmentWord = body.contains(QStringLiteral("attachment"));
    const int moodTag = FindMoodTag(body);

    const QString workFile = program.paths.path(kWorkFile);
    const QString messageText = passThroughWorkFile(workFile, texts, body);
    const QString folder = program.paths.path(files::AttachmentFolder) + u'/';
    const int attached = NMailAttachmentFileFirst(0, texts, body, folder, workFile, messageText, 0);
    NMailAttachmentFileClose(0);
    if (attached == -5) host.showMessage(QStringLiteral("添付ファイルをオープンできません"), QString());
    if (attached == -6) host.showMessage(QStringLiteral("分割されたメールが全て揃っていません"), QString());
    QFile::remove(workFile);

    const QString subject = CutAtNul(texts.subject).trimmed();
    const QString from = CutAtNul(texts.from).trimmed();
    const QString date = CutAtNul(texts.date).trimmed();
    host.addViewerRow(subject, from, date);
    QString shown = CutAtNul(body);
    if (hasAttachmentWord) shown += QStringLiteral("\r\n") + kAttachmentMailText;
    host.showInViewer(CutAtNul(texts.subject), CutAtNul(texts.date), CutAtNul(texts.from), shown);

    const auto stored = AppendRecord(HistoryPath(program.paths, History::Received),
                                     HistoryRecord{CutAtNul(texts.subject), CutAtNul(texts.from), CutAtNul(texts.date), shown},
                                     History::Received);
    if (!stored) {
        host.showMessage(QStringLiteral("受信したメールを保存できません。このメールと、これより後のメールはサーバーに残しました。\n") +
                             stored.error(),
                         kErrorTitle);
        return Outcome::Stop;
    }
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
    if (handle == -1) return result;

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
        for (int n = 1; n <= waiting; ++n) {
            host.showProgress(n, waiting);
            if (processMessage(program, host, handle, n, result) == Outcome::Stop) break;
        }
        // The server deletes at the close: the history must be on disk
        // first. If it cannot be made so, nothing is deleted.
        if (result.MailCount > 0) {
            const Status synced = SyncHistory(HistoryPath(program.paths, History::Received));
            if (!synced) {
                NMailPop3UndoDeletes(handle);
                host.showMessage(QStringLiteral("受信したメールをディスクに書き込めません。メールはサーバーに残しました。\n") + synced.error(),
                                 kErrorTitle);
            }
        }
    }
    NMailPop3Close(handle);
    return result;
}

}  // namespace lumopet
