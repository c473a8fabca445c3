#pragma once
// Mail that other programs left in files: an mbox (as Thunderbird and Google
// Takeout write it), single .eml files and a Maildir folder. This only reads
// the message sources out of them; storing them as received mail is the
// import's business.
//
// Every file is opened as someone else might have prepared it: a link, a
// FIFO, a device or a folder where a message file should be is refused,
// never followed or waited on.

#include "core/result.h"
#include "core/unique_fd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVector>

#include <optional>

namespace lumopet {

// How much of an mbox is read at a time.
inline constexpr qint64 kMboxBlock = 1 << 20;

// One message of an mbox, with its "From " line taken off.
struct MboxMessage {
    // The message as the file holds it (LF or CR LF, whichever it uses),
    // ">From " lines un-quoted by one level, and without the empty line
    // that parted it from the next "From " line.
    QByteArray source;
    // What the "From " line said: "MAILER-DAEMON" or "-" or
    // "1234567890@xxx", and the date after it. Empty when the message
    // came before any "From " line.
    QByteArray envelopeSender;
    QByteArray envelopeDate;
};

// Reads an mbox file one message at a time. A 2 GB mbox is read as a
// stream: it holds at most the message being read, one block and the line
// that crosses the block's end.
//
// A message starts at a line beginning "From " at the start of the file or
// after an empty line. In the body a writer quoted such lines: mboxo wrote
// ">From " for "From " only, mboxrd adds one '>' to any run of '>' before
// "From ". Either way taking one '>' off a line that starts with '>'s and
// "From " gives back what was written, and the two cannot be told apart
// anyway, so both are read the same.
class MboxReader {
public:
    static Result<MboxReader> Open(const QString& file);

    // The next message; nothing after the last one.
    Result<std::optional<MboxMessage>> next();

    // For a progress bar: the bytes read from the file so far, of its size.
    qint64 bytesRead() const { return bytesRead_; }
    qint64 fileSize() const { return fileSize_; }
    // The most the reader held at once (the message being read and what
    // was read but not yet taken apart), in bytes.
    qint64 peakHeldBytes() const { return peakHeld_; }

private:
    MboxReader(QString file, UniqueFd fd, qint64 size) : file_(std::move(file)), fd_(std::move(fd)), fileSize_(size) {}
    // Reads the next block onto what is left of the last. False on an error.
    bool readBlock();
    void noteHeld();
    MboxMessage finishMessage();

    QString file_;
    UniqueFd fd_;
    qint64 fileSize_ = 0;
    qint64 bytesRead_ = 0;
    qint64 peakHeld_ = 0;
    // What was read and not yet taken apart: pending_ from taken_ on.
    QByteArray pending_;
    qsizetype taken_ = 0;
    bool atEnd_ = false;
    bool done_ = false;
    // Whether the last line was empty (the start of the file counts so).
    bool afterEmptyLine_ = true;
    // Whether a message (or text before the first "From " line) is being read.
    bool inMessage_ = false;
    MboxMessage current_;
};

// The whole of one message file (an .eml, or a file of a Maildir), as it is.
// Only a regular file is read.
Result<QByteArray> ReadMessageFile(const QString& file);

struct MaildirEntry {
    QString path;
    // The flags after ":2," ("S" for seen, "RS", …); empty in new/.
    QByteArray flags;
    // The delivery time at the start of the name, in seconds.
    qint64 deliveryTime = 0;
};

// The messages of a Maildir, in cur/ and new/, oldest delivery first (names
// with the same time by name, so that the order is the same every time).
// tmp/ holds deliveries not yet finished and is left alone; so are names
// starting with a dot, and anything that is not a regular file. A folder
// with neither cur/ nor new/ is not a Maildir and fails.
Result<QVector<MaildirEntry>> ListMaildir(const QString& maildir);

// What tells one message from another when the same mail comes in twice:
// the Message-ID's value (unfolded and trimmed, brackets and case kept)
// when the header part has one, else the SHA-256 (in hex) of the source
// with every line ending in CR LF, so that the same message stored with LF
// or with CR LF gets the same key.
QByteArray MessageDuplicateKey(QByteArrayView source);

// The Message-ID header's value as above; empty when there is none.
QByteArray MessageIdOf(QByteArrayView source);

}  // namespace lumopet
