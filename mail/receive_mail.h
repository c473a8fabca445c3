#pragma once
// The mail check: every waiting message fetched in server order, its
// source kept whole in the received Maildir, its attachments saved, stored
// in the received history, listed for the
// viewer, and deleted from the server, which happens only when the session
// closes, after the history is safely on disk.
//
// With mail left on the server (Program::receive), a stored message stays
// there, and the UIDL file keeps it from being stored again; it is deleted
// once it has been kept the days the options give, or once the user has
// deleted its record, as they say. A server without UIDLs cannot have mail
// left on it: the check deletes as it always did, and says so once a run.
//
// The check runs off the window thread; whatever it shows goes through the
// host, which the windows implement.

#include "core/certificate_details.h"
#include "mail/mail_library.h"
#include "store/history_record.h"

#include <QString>

#include <vector>

namespace lumopet {

struct Program;

class MailCheckHost {
public:
    virtual ~MailCheckHost() = default;
    virtual void setHelpLine(const QString& text) = 0;
    // Message number of count is being fetched.
    virtual void showProgress(int number, int count) = 0;
    // Of message number, a large one, arrivedMB of its listedMB have come.
    virtual void showArrived(int number, int count, int arrivedMB, int listedMB) {
        (void)arrivedMB, (void)listedMB;
        showProgress(number, count);
    }
    // The ID and password boxes of the account window (loaded hidden when
    // it is not), and the window itself when one of them is empty.
    virtual void setAccountTexts(const QString& id, const QString& password) = 0;
    virtual void showIdPassForm() = 0;
    virtual void clearViewerList() = 0;
    virtual void addViewerRow(const QString& subject, const QString& from, const QString& date) = 0;
    virtual void showInViewer(const QString& subject, const QString& date, const QString& from, const QString& body) = 0;
    // A message box with an OK button; returns when it is answered.
    virtual void showMessage(const QString& text, const QString& title) = 0;
    // The server's certificate could not be verified: asks whether to trust
    // it ("この証明書を信頼する") and returns true when the user does; returns
    // when it is answered. A host that cannot ask trusts nothing new.
    virtual bool askToTrustCertificate(const CertificateDetails&) { return false; }
};

// A message stored by a check, as a notification names it.
struct NewMailLine {
    QString From;
    QString Subject;
};

struct MailCheckResult {
    // Messages stored: > 0 new mail, 0 none, < 0 the login or the listing
    // failed (the error has been shown, unless LoginRefused says that the
    // caller has it to show). Junk is not counted here.
    int MailCount = 0;
    // Junk messages stored in the junk history (only with the filter on).
    int JunkCount = 0;
    // The character tag of the last message stored that is not junk; 0
    // for none.
    int MoodTag = 0;
    // The server could not be reached (MailCount is 0); the reason has
    // been shown.
    bool ConnectionFailed = false;
    // The sender and subject of the first messages stored that are not
    // junk, at most kNewMailLinesKept of them.
    std::vector<NewMailLine> FirstNewMail;
    // The login by access token was refused (or there was no token): the
    // caller refreshes the token and runs the check once more, and shows
    // LoginRefusal when it cannot. Nothing has been shown.
    bool LoginRefused = false;
    QString LoginRefusal;
};

inline constexpr int kNewMailLinesKept = 3;

inline const QString kCheckingText = QStringLiteral("メールのチェックをしています。");
inline const QString kAttachmentMailText =
    QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");

inline const QString kNoTokenText =
    QStringLiteral("OAuth2 のサインインが済んでいないため、メールを受信できません。サーバーの設定からサインインしてください。");

// login: the account's, built by the caller on the window thread
// (PasswordCredentials in account_values.h). With an ID and password (or
// APOP) the account window's boxes get them, and the window itself opens
// when one is empty, as it always did. With an access token neither
// happens: a refused or missing token is the caller's to refresh
// (LoginRefused).
MailCheckResult ReceiveMail(Program& program, MailCheckHost& host, const mail::Credentials& login);

// What a received message becomes in the history, shared by the check and
// by mail taken in from other programs' files, so that the two store the
// same message alike.
// Whether the body before the attachment step names an attachment part
// (the word "attachment", case-sensitive, as it always was).
bool NamesAttachment(const QString& bodyBeforeAttachmentStep);
// The record of a message: its texts, and the text the attachment step left
// of its body, with the attachment-mail text after it when
// withAttachmentText.
HistoryRecord ReceivedRecord(const MailTexts& texts, const QString& text, bool withAttachmentText);

}  // namespace lumopet
