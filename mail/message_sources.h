#pragma once
// Which Maildir file holds the whole of a history record's message.
//
// Nothing in a record names its file: a file is found by decoding it into
// what the program made of it (for a received message the very record the
// mail check made, for a sent one the subject, body, recipient and date the
// send took from the record). Decoding a Maildir of thousands of messages
// takes long, so what each file gave is kept in a small file beside the
// history ("<history>.sources"), and only files that file does not know
// are decoded: a Maildir file keeps its name up to the ':' of its flags
// for good, and its size and modification time tell a file written again
// under the same name.
//
// The kept file is a cache and nothing else: one that is damaged, of
// another Maildir or history, or not a regular file is made again from the
// Maildir, and one that cannot be written costs only the next load's time.

#include "core/result.h"
#include "mail/decoded_message.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace lumopet::mail {

// "<history>.sources", beside the history, as its listing is.
QString MessageSourcesPath(const QString& historyFile);

// A record's copy in the Maildir, with its whole header texts as
// DecodeMessage gives them (the date in the record's form when it parsed):
// a record's CP932 fields may have lost characters these have.
struct PairedCopy {
    QString path;
    QString subject, from, date;
};

// What a sent message gives to compare with a sent record.
struct SentKeys {
    QString subject;  // as the record would hold it
    QString body;     // as the record would hold it
    QString toAddress;
    std::optional<QDateTime> date;
};
SentKeys SentKeysOf(const DecodedMessage& decoded);

// Whether the sent message may be the one the record was made for: the same
// subject, the recipient typed (when one address was), the typed body with
// only what the send adds after it, and a Date from the record's clock time
// up to the next record's (each known to the second). Without the record's
// time nothing matches.
bool SentMatches(const HistoryRecord& record, const std::optional<QDateTime>& recordTime,
                 const std::optional<QDateTime>& nextRecordTime, const SentKeys& message);

// One Maildir file and what it gave.
struct SourceFile {
    QString path;
    qint64 deliveryTime = 0;  // from its name, in seconds
    QByteArray digest;        // SHA-256 of its bytes
    QByteArray fingerprint;   // received: RecordFingerprint of the record it makes
    SentKeys sent;            // sent: its keys
    QString subject, from, date;
};

class MessageSources {
public:
    // Reads the kept file, lists the Maildir, decodes only the files the
    // kept file does not know, and writes it back (beside it, flushed,
    // renamed) when anything changed. progress gets files done of files
    // listed; returning false stops the load (cancelled() then says so, and
    // what was decoded is kept for the next time). A missing Maildir pairs
    // nothing. Fails only when the Maildir cannot be listed.
    // decodedNow, when given, sees each file this load decodes with what it
    // decoded, for a reader that keeps more of it than this file does.
    using DecodedFile = std::function<void(const SourceFile& file, const DecodedMessage& message)>;
    static Result<MessageSources> Load(History history, const QString& historyFile, const QString& maildir,
                                       const std::function<bool(qint64 done, qint64 total)>& progress = {},
                                       const DecodedFile& decodedNow = {});

    // The copy of this record, or nothing when none is found without doubt:
    // the one file whose content makes this record, files of the very same
    // bytes counting as one. For the sent history the record's own clock
    // time and the next record's are needed (see SentMatches); nullopt when
    // unknown.
    std::optional<PairedCopy> copyOf(const HistoryRecord& record, const std::optional<QDateTime>& recordTime = {},
                                     const std::optional<QDateTime>& nextRecordTime = {}) const;
    // The same by the record's fingerprint (RecordFingerprint), for the
    // received and the junk history's list rows. (Junk records are received
    // records in a file of their own: they pair as received ones do, with
    // the received Maildir's files.)
    std::optional<PairedCopy> copyOfFingerprint(QByteArrayView fingerprint) const;

    // Every readable file of the Maildir, oldest delivery first.
    const std::vector<SourceFile>& files() const { return files_; }
    // The files this load had to decode (the rest came from the kept file).
    int decoded() const { return decoded_; }
    // No kept file was of use: every file was decoded anew.
    bool madeAnew() const { return madeAnew_; }
    bool cancelled() const { return cancelled_; }

private:
    std::optional<PairedCopy> onlyCopy(const std::vector<size_t>& candidates) const;

    History history_ = History::Received;
    std::vector<SourceFile> files_;
    QHash<QByteArray, std::vector<size_t>> byFingerprint_;
    QHash<QString, std::vector<size_t>> bySubject_;
    int decoded_ = 0;
    bool cancelled_ = false;
    bool madeAnew_ = false;
};

}  // namespace lumopet::mail
