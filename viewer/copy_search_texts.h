#pragma once
// What the search box must find in received messages whose record could
// not hold it: the text past the record's 12,000 bytes, and the characters
// code page 932 lacks (🍣, café, 한국어). The record is searched as it always
// was; for these messages the search form of the copy's whole subject,
// sender and text is kept in a file beside the history
// ("<history>.texts"), written when the copy is first decoded for the
// pairing, and searched after the records.
//
// The file is a cache: entries of a record's fingerprint and a text. One
// that is torn (a crash while it grew) is cut back to its last whole entry;
// one of a message whose record is gone is never matched, since no record
// has its fingerprint.

#include "mail/decoded_message.h"
#include "mail/message_sources.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <utility>
#include <vector>

namespace lumopet {

QString CopySearchTextsPath(const QString& historyFile);

// The search form of what the message's record cannot hold; empty when the
// record holds every character of it.
QString ExtraSearchText(const mail::DecodedMessage& message);

// Entries noted while the pairing decodes copies, written together.
struct CopySearchEntry {
    QByteArray fingerprint;  // 16 hex digits, as RecordFingerprint gives it
    QString text;            // in search form
};

// Adds the entries to the file, or, with anew, replaces the file with them
// (the pairing decoded every copy again). A failure costs only the search
// of those messages; it is returned for the caller to ignore or say.
Status WriteCopySearchTexts(const QString& path, const std::vector<CopySearchEntry>& entries, bool anew);

// The records (numbers from 1, ascending) whose fingerprint, given by
// record in fingerprints, has an entry containing the form. cancel is
// looked at between blocks.
std::vector<int> RecordsFoundInCopies(const QString& path, const QString& form,
                                      const std::vector<QByteArray>& fingerprints, const std::atomic<bool>& cancel);

}  // namespace lumopet
