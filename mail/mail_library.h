#pragma once
// The mail operations the receive and send code call, with the arguments,
// calling order and results they have always had. Results are integers:
// the callers test them against fixed values. After a failure,
// NMailGetMessage gives the text to show: the server's own reply where there
// is one, else a sentence naming the server and what went wrong.
//
// Order of a mail check: NMailPop3Connect; NMailPop3Authenticate; for each
// message NMailPop3IsTooLarge (a message over the size limit is left on the
// server, named by NMailPop3GetMailHeader), NMailPop3GetMailStatus, NMailPop3GetMailSize, NMailPop3GetMail,
// NMailAttachmentFileFirst, NMailAttachmentFileClose, NMailPop3DeleteMail;
// last NMailPop3Close, which commits the deletions.
//
// The operations may run on a worker thread, one command at a time.

#include "core/result.h"
#include "mail/mail_transport.h"
#include "store/maildir.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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
// From NMailSmtpSendMail: the server offered no AUTH and refused to relay.
// It may relay only for a machine that logged in to its POP3 server a
// moment before (POP before SMTP).
inline constexpr int kRelayRefused = -3;
// From NMailSmtpSendMail: 送信中止 broke the transfer off; the message did
// not go out.
inline constexpr int kSendStopped = -4;

// A handle for the session with the POP3 server, or -1 when the server
// cannot be reached.
int NMailPop3Connect(const QString& server);

// Logs in, APOP when apop is non-zero, and returns the number of waiting
// messages (0 for none), or a negative value when the login or the listing
// fails.
int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop);

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

// Writes the attachments of the message last fetched into folder (never
// anywhere else, never over an existing file) and leaves in body the
// message's decoded text alone. The work file and message text are
// accepted as they always were, and not used: the layer works from the
// MIME source it fetched, which they cannot rebuild, and the mail check
// passes neither. Returns 1 when attachments
// were written, -5 when an attachment file cannot be created, -6 for a split
// message whose parts are not all there, 0 when there is nothing to do.
int NMailAttachmentFileFirst(int reserved, MailTexts& texts, QString& body, const QString& folder,
                             const QString& workFile, const QString& messageText, int flag);
int NMailAttachmentFileClose(int reserved);

// Marks message number for deletion: the server deletes it when the
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
// server: NMailPop3NotDeleted names them, NMailGetMessage says why.
int NMailPop3Close(int handle);
std::vector<int> NMailPop3NotDeleted();

// Builds and sends one message; attachments is a "," separated list of file
// paths. Cc, Bcc and the extra header are not used. Returns 0, or a negative
// value when the message cannot be built or sent (nothing half-sent):
// kNoConnection when it cannot be built (an unreadable attachment, a
// recipient that is not one address), kRelayRefused as said above,
// kSendStopped when 送信中止 (mail::RequestSendStop) came before the
// message was through, kMailFailed for any other failure.
int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc, const QString& bcc,
                      const QString& from, const QString& subject, const QString& body, const QString& header,
                      const QString& attachments, int flag);

// The message the last NMailSmtpSendMail delivered, as built and sent
// (fortune, tag and attachments included); empty when that call failed,
// or when it was sent from a file (NMailLastSentMessageFile).
QByteArray NMailLastSentMessage();

// Where a message with an attachment over kStreamedAttachmentBytes is
// built and sent from, so that memory does not grow with it: a new file
// (the sent Maildir's tmp/). Without one such a message is built in memory.
void NMailSmtpSpoolLargeMail(SpoolFileMaker makeFile);
// The file the last NMailSmtpSendMail delivered from, with LF line ends;
// empty when it sent from memory or failed. Removed at the next send unless
// the caller moved it first.
QString NMailLastSentMessageFile();

// The ID and password SMTP logs in with when the server offers AUTH.
void NMailSetSmtpLogin(const QString& id, const QString& password);

// The text of the last failure; returns its length.
int NMailGetMessage(int reserved, QString& text);

// The same text, as a value.
inline QString LastMailError() {
    QString text;
    NMailGetMessage(0, text);
    return text;
}

// The transport under the operations: libcurl unless a test puts another
// in its place. Passing nothing brings back libcurl.
void SetMailTransport(std::unique_ptr<mail::MailTransport> transport);

// The current value of option 1.
int MailTextBufferSize();

// The four texts of a message decoded outside a session (mail taken in
// from a file), cut to the buffer size as NMailPop3GetMail cuts them.
MailTexts MailTextsOf(const mail::DecodedMessage& message);

}  // namespace lumopet
