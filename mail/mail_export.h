#pragma once
// Taking mail out of a history: the chosen records as one mboxrd file, or
// as one .eml file each in a folder.
//
// A record holds about 12,000 bytes of a message; the Maildir beside the
// history holds the message whole. Each record goes out as its source from
// the Maildir when the Maildir holds it, byte for byte, and otherwise as a
// plain UTF-8 message made from the record's fields.
//
// Nothing ties a record to its Maildir file, so the export finds out: it
// decodes each Maildir file into what the program made of it (for the
// received Maildir, the very record the mail check made) and pairs a record
// with a file only when neither could belong to anything else. A record
// whose pairing is in any doubt is made from its fields: a message that is
// less than its source is better than another message's source.
//
// The target is written the way the program writes any file it must not
// half-write: into a new file beside it, flushed, then put in place. An
// existing target is replaced only when the caller says the user agreed; a
// link, a FIFO or anything but a regular file (a folder, for .eml) in its
// place is refused.

#include "mail/decoded_message.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace lumopet::mail {

enum class ExportForm {
    // One file, "From " lines between the messages, every ">*From " line of
    // a message given one more '>'.
    Mboxrd,
    // A folder of "00001-<subject>.eml" files, lines ending in CR LF.
    EmlFolder,
};

struct MailExportRequest {
    History history = History::Received;
    QString historyFile;
    // ReceivedMaildirPath or SentMaildirPath; a missing Maildir holds none.
    QString maildir;
    // Record numbers from 1, in the order they are written.
    std::vector<int> records;
    ExportForm form = ExportForm::Mboxrd;
    // The mbox file, or the folder of the .eml files.
    QString target;
    // The user agreed to replace the mbox file that is there. (An .eml is
    // never written over a file: it takes a numbered name instead.)
    bool replaceExisting = false;
    // The user's own address: the sender of a sent message made from its
    // record, the recipient of a received one. May be empty.
    QString ownAddress;
};

enum class ExportStage { Matching, Writing };

// How far the export is: done of total in the stage. Returning false
// cancels it; what it wrote goes again and the target is left as it was.
using ExportProgress = std::function<bool(ExportStage stage, qint64 done, qint64 total)>;

struct MailExportResult {
    int written = 0;     // messages in the target
    int fromSource = 0;  // of which the Maildir's source
    int made = 0;        // of which made from the record
    bool cancelled = false;
    // The target is there and replaceExisting was not given: the window
    // asks and tries again.
    bool targetExists = false;
    QString error;  // why nothing was written; empty on success
    // The files written (the mbox, or each .eml).
    QStringList files;

    bool ok() const { return error.isEmpty() && !cancelled && !targetExists; }
};

MailExportResult ExportMail(const MailExportRequest& request, const ExportProgress& progress = {});

// The closing sentence of the export window.
QString MailExportSentence(const MailExportResult& result, ExportForm form);

// --- the pieces, for the window and the tests -------------------------------

// The record the mail check makes of a received message's source (LF or
// CR LF line ends): the same decoding, the attachment step's text, the
// attachment-mail sentence when the body names an attachment.
HistoryRecord ReceivedRecordOf(QByteArrayView source);
// The same from the message decoded already (ReceivedRecord's rule).
HistoryRecord ReceivedRecordOf(const DecodedMessage& decoded);

// Where each record's source is: record number to Maildir file, for the
// records whose source was found without doubt (see the top of this file).
// Every record of the history takes part in the pairing, not only the
// wanted ones: a file is a record's only when no other record could claim
// it. Fails when the history cannot be read; cancelled gives nothing.
struct FoundSource {
    QString path;
    QByteArray digest;  // SHA-256 of the file when it was matched
    qint64 deliveryTime = 0;
};
struct SourceIndex {
    std::map<int, FoundSource> files;
    bool cancelled = false;
};
std::optional<SourceIndex> FindSources(History history, const QString& historyFile, const QString& maildir,
                                       const ExportProgress& progress, QString* error);

// The Message-ID a message made from a record carries: the record's
// fingerprint (RecordFingerprint) in a domain of no one's. Taken in again,
// the message is then known for that record, which the history may still
// hold: a backup brought back adds only the records that are gone.
QByteArray MadeMessageId(const HistoryRecord& record);
// The fingerprint in such a Message-ID (the field's value, brackets and
// all); empty for any other.
QByteArray FingerprintOfMadeMessageId(QByteArrayView messageId);

// A message made from a record, LF line ends: Message-ID (MadeMessageId),
// Subject (RFC 2047, UTF-8),
// From and To, Date when the record's date text parses (else the text goes
// into a Comments field), the body as UTF-8 text/plain, quoted-printable.
QByteArray MessageFromRecord(const HistoryRecord& record, History history, const QString& ownAddress);

// The date texts the program writes: "yyyy/MM/dd  H:mm:ss" (the clock text,
// and the received date when its Date field parsed), one blank allowed;
// also a Date field's own RFC 5322 text. Local time. Nothing otherwise.
std::optional<QDateTime> ParseRecordDate(const QString& text);

// One message as an mboxrd entry: "From <address> <asctime in UTC>", the
// message with ">*From " lines quoted, a final LF, and the empty line that
// parts it from the next. An address that is empty or holds blanks gives
// "MAILER-DAEMON".
QByteArray MboxrdEntry(QByteArrayView message, const QString& envelopeAddress, const QDateTime& date);

// The name of the index-th .eml (from 1): "00001-<subject>.eml", the
// subject cut to 40 characters, without path separators, control
// characters, characters other systems refuse, or leading dots and blanks.
QString EmlFileName(int index, const QString& subject);

// Every line end as CR LF.
QByteArray WithCrLf(QByteArrayView message);

}  // namespace lumopet::mail
