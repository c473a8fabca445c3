#pragma once
// Mail from other programs' files taken into the received history: an mbox
// (Thunderbird, Google Takeout), .eml files, or a Maildir folder. Each
// message is stored as a mail check stores one (its record, its source in
// the received Maildir, its attachments when the user asks for them, the
// same decoding), in the order of the source, with no server and no
// character shown.
//
// A message the program has already is skipped: its duplicate key (the
// Message-ID, else the source's hash) is in the received Maildir, or the
// record it would make is in the history already. So taking the same file
// in twice adds nothing.
//
// The import runs off the window thread. It reads one message at a time: a
// 2 GB mbox costs the largest message it holds, not its size.
// Whatever stops it (the user, a full history, a disk that fails) leaves
// what it stored whole and on disk: every record with its Maildir copy,
// the history flushed.

#include "core/program_paths.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace lumopet {

// The most records the import fills the received history to: the viewer
// numbers records with 16 bits, and the last number is kept free.
inline constexpr int kImportHistoryLimit = 32766;

enum class MailSourceKind { Mbox, MessageFiles, Maildir };

struct MailImportRequest {
    MailSourceKind kind = MailSourceKind::Mbox;
    // The mbox file; the .eml files, in the order they are taken in; or
    // the Maildir folder.
    QStringList paths;
    // Attachments go into the attachment folder, as a mail check puts them.
    bool extractAttachments = false;
};

struct MailImportProgress {
    int taken = 0;
    int skipped = 0;
    qint64 bytesRead = 0;
    qint64 bytesTotal = 0;
};

struct MailImportResult {
    int taken = 0;     // stored
    int skipped = 0;   // the program had them already
    int notTaken = 0;  // left in the source: the history is full
    int tooLarge = 0;  // over the size a mail check takes, left in the source
    // Message files that could not be read (a file of several, or of a
    // Maildir); the import went on without them. The first one's reason is
    // in unreadableError.
    int unreadable = 0;
    QString unreadableError;
    bool cancelled = false;
    // Why the import stopped before the end of the source; empty when it
    // did not (or was cancelled).
    QString error;
};

// Called after each message (from the import's thread).
using MailImportProgressCallback = std::function<void(const MailImportProgress&)>;

// Takes the messages of the request into the received history of the
// program folder. The data folder and the attachment folder must exist.
// cancel, when given, is looked at before each message.
MailImportResult ImportMail(const ProgramPaths& paths, const MailImportRequest& request,
                            const MailImportProgressCallback& progress = {},
                            const std::atomic<bool>* cancel = nullptr);

// The sentence the window shows at the end.
QString MailImportSentence(const MailImportResult& result);

// How often the import puts what it stored on disk, in messages: at each
// of these, and at its end, the Maildir copies and the history are flushed
// together.
inline constexpr int kImportFlushEvery = 500;

}  // namespace lumopet
