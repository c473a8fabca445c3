#pragma once
// The mail operations the receive and send code call, in the calling order
// they have always had. Results are integers: the callers test them against
// fixed values. What a failure says (the server's own reply where there is
// one, else a sentence naming the server and what went wrong) belongs to
// the call that failed: NMailGetMessage(handle) gives the text of that POP3
// session's last failure, NMailPop3Connect and NMailPop3Close hand theirs
// back to their caller, and a send returns its own in its result.
//
// Order of a mail check: NMailPop3Connect; NMailPop3Authenticate; for each
// message NMailPop3IsTooLarge (a message over the size limit is left on the
// server, named by NMailPop3GetMailHeader), NMailPop3GetMailStatus, NMailPop3GetMailSize, NMailPop3GetMail,
// NMailAttachmentFileFirst, NMailAttachmentFileClose, NMailPop3DeleteMail;
// last NMailPop3Close, which commits the deletions.
//
// The operations may run on worker threads: a mail check and a send (with
// its POP3 login before SMTP) at the same time, each with its own session
// and its own results. One session takes one command at a time.

#include "core/result.h"
#include "mail/mail_transport.h"
#include "store/maildir.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

namespace lumopet {

namespace mail {
struct DecodedMessage;
}

// Sets up libcurl's and GMime's global state, once, at start. Returns 0, or
// -1 when curl cannot start (then no mail can be sent or received).
int NMailInitializeWinSock();

// Option 1 is the size of the text buffers (subject, date, sender, header
// and error texts): longer texts are cut to one character less; option 2
// is kLargestMessageOption. Returns 0, or -1 for an option the layer does
// not have or a value it cannot take.
int NMailSetOption(int option, int value);

// Releases what NMailInitializeWinSock set up, once, at the end.
int NMailEndWinSock();

// The subject, date, sender and header texts of a message.
struct MailTexts {
    QString subject;
    QString date;
    QString from;
    QString header;
};

inline constexpr int kNoConnection = -1;
inline constexpr int kMailFailed = -2;
// From NMailPop3Authenticate and NMailSmtpSendMail: the server refused the
// login itself (curl's CURLE_LOGIN_DENIED): a wrong password, or an access
// token that has expired, which the caller may refresh and try once more.
// (-5 and -6 are NMailAttachmentFileFirst's.)
inline constexpr int kLoginRefused = -7;
// From NMailSmtpSendMail: the server offered no AUTH and refused to relay.
// It may relay only for a machine that logged in to its POP3 server a
// moment before (POP before SMTP).
inline constexpr int kRelayRefused = -3;
// From NMailSmtpSendMail: 送信中止 broke the transfer off; the message did
// not go out.
inline constexpr int kSendStopped = -4;

// A handle for the session with the POP3 server, or kNoConnection when the
// server cannot be reached; then error says why (else it is emptied).
int NMailPop3Connect(const QString& server, QString& error);

// Logs in as login says (its method: ID and password, APOP, or an access
// token over TLS) and returns the number of waiting messages (0 for none),
// or a negative value when the login or the listing fails: kLoginRefused
// when the server refused the login itself.
int NMailPop3Authenticate(int handle, const mail::Credentials& login);

// The UIDL of each waiting message, message 1 first, into uidls; returns
// their number, or -1 when the server gives none (no UIDL command, or a
// listing that does not match the messages). Call after
// NMailPop3Authenticate; it asks the server once per session.
int NMailPop3GetUidls(int handle, QStringList& uidls);

// The largest message held whole in memory: one taken in from a file, a
// split message joined from its parts, and any message of a session that
// has nowhere to write large ones (NMailPop3SpoolLargeMail). Decoded,
// converted and stored, a message held whole costs several times its size:
// measured through the whole check, 63 MB of text took the program to
// 478 MB. At 40 MB the costliest kind stays near 300 MB.
inline constexpr qint64 kMaxHeldMessageBytes = 40LL * 1024 * 1024;

// A message the server lists larger than this is written to a file as it
// arrives and decoded from there, when the session has a place for it.
inline constexpr qint64 kSpooledFromBytes = 8LL * 1024 * 1024;

// Option 2 of NMailSetOption: the largest message a check fetches, in MB
// as the server lists its size (0: no limit); MaxMessageMB's default until
// it is set. A larger one stays on the server.
inline constexpr int kLargestMessageOption = 2;

// Where a message larger than kSpooledFromBytes goes as it arrives: a new
// file, open for writing (the layer closes it), in the received Maildir's
// tmp/. The layer removes it once it lets the message go, unless the
// caller moved it away first.
using SpoolFile = MaildirFolders::TmpFile;
using SpoolFileMaker = std::function<Result<SpoolFile>()>;
// arrived, when given, hears how much of such a message has come (bytes
// in the file, of the size the server listed), a megabyte at a time.
using ArrivedBytes = std::function<void(int number, qint64 bytes, qint64 listed)>;
int NMailPop3SpoolLargeMail(int handle, SpoolFileMaker makeFile, ArrivedBytes arrived = {});

// Whether message number is listed larger than the session takes: then
// every call that would fetch it fails instead, and NMailGetMessage gives
// the sentence that names it and its size.
bool NMailPop3IsTooLarge(int handle, int number);

// Fills the subject, date, sender and header texts of message number from
// its header alone (TOP number 0), without fetching the message. Returns 0,
// or a negative value when the server cannot give it.
int NMailPop3GetMailHeader(int handle, int number, MailTexts& texts);

// Fetches message number (from 1) and fills the four texts.
int NMailPop3GetMailStatus(int handle, int number, MailTexts& texts, int reserved);

// The size of message number in bytes, as the server lists it; -1 when
// unknown.
int NMailPop3GetMailSize(int handle, int number);

// Fills the four texts and the body: the decoded text of the message, and
// one line per attachment part that names it with the word "attachment".
int NMailPop3GetMail(int handle, int number, MailTexts& texts, QString& body, int reserved1, int reserved2);

// The whole source of message number as the server sent it (CR LF line
// ends, dots unstuffed), once NMailPop3GetMail has fetched it: what the
// receive code keeps beside the history's record. Returns 0, or a negative
// value when that message has not been fetched in this session or was
// written to a file (NMailPop3GetMailFile).
int NMailPop3GetMailSource(int handle, int number, QByteArray& source);

// For a fetched message written to a file as it arrived: 1, with the
// file's path (the source with LF line ends, as a Maildir keeps it). 0
// when the message is held in memory, a negative value when it has not
// been fetched.
int NMailPop3GetMailFile(int handle, int number, QString& path);

// Puts source, the whole of a split message joined from its parts, in
// the place of message number (its last part, fetched in this session):
// the texts, body, source and attachments that the calls after this give
// for number are the whole message's. Returns 0, or a negative value when
// number has not been fetched.
int NMailPop3UseJoinedMail(int handle, int number, const QByteArray& source);

// Writes the attachments of the message the session's NMailPop3GetMail
// fetched last into folder (never
// anywhere else, never over an existing file) and leaves in body the
// message's decoded text alone. The work file and message text are
// accepted as they always were, and not used: the layer works from the
// MIME source it fetched, which they cannot rebuild, and the mail check
// passes neither. Returns 1 when attachments
// were written, -5 when an attachment file cannot be created, -6 for a split
// message whose parts are not all there, 0 when there is nothing to do.
int NMailAttachmentFileFirst(int handle, MailTexts& texts, QString& body, const QString& folder,
                             const QString& workFile, const QString& messageText, int flag);
// Ends the attachment step of that message: a second NMailAttachmentFileFirst
// before the next NMailPop3GetMail has nothing to save.
int NMailAttachmentFileClose(int handle);

// Marks message number, fetched whole in this session (not necessarily
// the last one fetched), for deletion: the server deletes it when the
// session closes.
int NMailPop3DeleteMail(int handle, int number);

// Marks message number for deletion without fetching it: for a message
// whose UIDL shows that an earlier check stored it and died before its
// deletion took effect. Fails when the server gave no UIDLs.
int NMailPop3DeleteStoredMail(int handle, int number);

// Takes back the deletions of this session of message fromNumber and every
// later one (from 1: all, as RSET), for when what was fetched could not be
// made safe on disk.
int NMailPop3UndoDeletes(int handle, int fromNumber);

// Ends the session (QUIT): deletions take effect now. Returns 0, or
// kMailFailed when some messages marked for deletion are still on the
// server: notDeleted, when given, names them and says why. The handle is
// gone afterwards.
int NMailPop3Close(int handle, mail::NotDeleted* notDeleted = nullptr);

// The text of the last failure of the session of handle; returns its
// length. For a handle with no session (never opened, or closed) the text
// says that there is no connection.
int NMailGetMessage(int handle, QString& text);

// The same text, as a value.
inline QString LastMailError(int handle) {
    QString text;
    NMailGetMessage(handle, text);
    return text;
}

// The file a message was written to: removed when this lets it go, unless
// it was moved away first (into a Maildir's new/).
class SpooledFile {
public:
    SpooledFile() = default;
    explicit SpooledFile(QString path) : path_(std::move(path)) {}
    SpooledFile(SpooledFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}
    SpooledFile& operator=(SpooledFile&& other) noexcept;
    ~SpooledFile() { remove(); }
    const QString& path() const { return path_; }

private:
    void remove();
    QString path_;
};

// One message to send, as the compose and reply windows give it.
struct MailToSend {
    QString server;
    // The recipients, with or without names, several separated by ",",
    // "、" or ";" (mail::ParseAddressList).
    QString to;
    QString from;
    QString subject;
    QString body;
    QStringList attachments;  // one path each (a name may hold a ","); empty for none
    QString cc = {};
    QString bcc = {};  // RCPT TO only, never in the header that goes out
    // A reply: what it answers (mail::OutgoingMessage).
    QString inReplyTo = {};
    QString references = {};
    QByteArray replyCharset = {};
};

// How one NMailSmtpSendMail ended, for its caller alone.
struct MailSent {
    // 0 when the server took the message, else kNoConnection (it could not
    // be built: an unreadable attachment, a recipient that is not an
    // address), kLoginRefused, kRelayRefused, kSendStopped (送信中止 came
    // before the message was through), or kMailFailed.
    int code = 0;
    QString error;  // what to show when code is not 0
    // The message as built and sent (fortune, tag and attachments
    // included), when it was sent from memory;
    QByteArray message;
    // else the file it was sent from, with LF line ends.
    SpooledFile file;
    // For the copy kept in the sent Maildir only: the "Bcc:" field (CR LF
    // line ends) that goes before the message; empty without BCC.
    QByteArray sentCopyHeader;
    bool ok() const { return code == 0; }
};

// Builds and sends one message (nothing half-sent), logging in with login
// when the server offers AUTH. A message with an attachment over
// kStreamedAttachmentBytes is built in a file that makeFile makes (the sent
// Maildir's tmp/) and sent from there, so that memory does not grow with
// it; without makeFile it is built in memory.
MailSent NMailSmtpSendMail(const MailToSend& mail, const mail::Credentials& login, const SpoolFileMaker& makeFile = {});

// The transport under the operations: libcurl unless a test puts another
// in its place. Passing nothing brings back libcurl.
void SetMailTransport(std::unique_ptr<mail::MailTransport> transport);

// The current value of option 1.
int MailTextBufferSize();

// The four texts of a message decoded outside a session (mail taken in
// from a file), cut to the buffer size as NMailPop3GetMail cuts them.
MailTexts MailTextsOf(const mail::DecodedMessage& message);

}  // namespace lumopet
