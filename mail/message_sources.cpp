#include "mail/message_sources.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/send_mail.h"
#include "store/fixed_record_file.h"
#include "store/mail_files.h"
#include "store/stored_uidls.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>
#include <QtEndian>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

namespace lumopet::mail {
namespace {

// --- what a sent message gives ------------------------------------------------

HistoryRecord asStored(const HistoryRecord& record, History history) {
    return DecodeRecord(EncodeRecord(record, history));
}

// The To field's text, from the decoded header block.
QString toFieldOf(const QString& headerText) {
    for (const QStringView line : QStringView(headerText).split(u"\r\n")) {
        if (line.startsWith(u"To:", Qt::CaseInsensitive)) return line.sliced(3).trimmed().toString();
    }
    return {};
}

// What the send adds after the typed body: a fortune, a character's tag,
// both or neither.
const QStringList& bodyEndings() {
    static const QStringList endings = [] {
        QSet<QString> seen;
        QStringList list;
        for (int fortune = 0; fortune <= 64; ++fortune) {
            for (int mood = 0; mood <= 5; ++mood) {
                QString ending = OutgoingBody(QString(), fortune, mood);
                while (ending.endsWith(u'\r') || ending.endsWith(u'\n') || ending.endsWith(u' ')) ending.chop(1);
                if (!ending.isEmpty() && !seen.contains(ending)) {
                    seen.insert(ending);
                    list.append(ending);
                }
            }
        }
        return list;
    }();
    return endings;
}

// A body at the record's limit may have lost its end to the cut.
// (The field is padded with blanks, and a stored body never ends in one;
// a cut before a double-byte character leaves one byte free.)
bool atBodyLimit(const QString& body) {
    const QByteArray field = EncodeRecord(HistoryRecord{QString(), QString(), QString(), body}, History::Sent)
                                 .sliced(record_layout::Body.offset, record_layout::Body.size);
    qsizetype used = field.size();
    while (used > 0 && field[used - 1] == ' ') --used;
    return used >= record_layout::Body.size - 1;
}

// Whether the message's body is the typed body of the record with only
// what the send adds after it.
bool sentBodyMatches(const QString& recordBody, const QString& messageBody) {
    if (!messageBody.startsWith(recordBody)) return false;
    QString rest = messageBody.sliced(recordBody.size());
    // Blanks at the end of the typed body are not in the record.
    while (rest.startsWith(u' ')) rest.remove(0, 1);
    while (rest.endsWith(u'\r') || rest.endsWith(u'\n') || rest.endsWith(u' ')) rest.chop(1);
    if (rest.isEmpty()) return true;
    const bool cut = atBodyLimit(messageBody);
    for (const QString& ending : bodyEndings()) {
        if (rest == ending || (cut && ending.startsWith(rest))) return true;
    }
    return false;
}

// The clock texts are to the second, and the message's Date is taken a
// moment after its record: a little room either way.
constexpr qint64 kClockSlackSeconds = 2;

// A received or a junk record is known by its fingerprint, the one made of
// the very bytes the check stored; a sent record by what the send took from
// it. Junk records are received records kept in a file of their own, and
// their copies lie in the received Maildir.
bool pairedByFingerprint(History history) { return history != History::Sent; }

// --- the kept file --------------------------------------------------------------

// The version line: a kept file of any other version is made again.
constexpr QByteArrayView kMagic = "LUMOPET MESSAGE SOURCES 1\n";
constexpr qsizetype kDigestSize = 32;  // SHA-256 of everything before it
// What is unpacked at most: far more than the keys of a full Maildir.
constexpr quint32 kLargestPacked = 1u << 30;
constexpr qint64 kNoDate = LLONG_MIN;

// What the kept file knows of one Maildir file, by its name up to the ':'.
struct Known {
    qint64 size = 0;
    qint64 modifiedNs = 0;
    SourceFile file;  // without its path and delivery time, which the listing gives
};

QByteArray digestOf(QByteArrayView bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

// The name a Maildir file keeps for good: a reader moves it from new/ to
// cur/ and changes its flags after the ':', never the rest.
QString stableName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype colon = name.indexOf(u':');
    return colon < 0 ? name : name.first(colon);
}

QString maildirIdentity(const QString& maildir) { return QFileInfo(maildir).absoluteFilePath(); }

QByteArray encodeKept(History history, const QString& maildir, const QHash<QString, Known>& known) {
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_6_4);
        out << quint8(pairedByFingerprint(history) ? 2 : 5) << maildirIdentity(maildir) << quint32(known.size());
        for (auto it = known.cbegin(); it != known.cend(); ++it) {
            const SourceFile& f = it->file;
            out << it.key() << it->size << it->modifiedNs << f.digest << f.fingerprint << f.sent.subject << f.sent.body
                << f.sent.toAddress << (f.sent.date ? f.sent.date->toMSecsSinceEpoch() : kNoDate) << f.subject << f.from
                << f.date;
        }
    }
    QByteArray bytes = kMagic.toByteArray();
    // The sent keys hold bodies of up to 12,000 bytes: most of it is text
    // that packs well.
    bytes += qCompress(payload, 1);
    bytes += digestOf(bytes);
    return bytes;
}

std::optional<QHash<QString, Known>> decodeKept(QByteArrayView bytes, History history, const QString& maildir) {
    if (bytes.size() < kMagic.size() + 4 + kDigestSize || !bytes.startsWith(kMagic)) return std::nullopt;
    const QByteArrayView body = bytes.first(bytes.size() - kDigestSize);
    if (digestOf(body) != bytes.last(kDigestSize)) return std::nullopt;
    const QByteArrayView packed = body.sliced(kMagic.size());
    if (qFromBigEndian<quint32>(packed.data()) > kLargestPacked) return std::nullopt;
    const QByteArray payload = qUncompress(reinterpret_cast<const uchar*>(packed.data()), packed.size());
    if (payload.isEmpty()) return std::nullopt;

    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_4);
    quint8 kind = 0;
    QString folder;
    quint32 count = 0;
    in >> kind >> folder >> count;
    if (in.status() != QDataStream::Ok || kind != (pairedByFingerprint(history) ? 2 : 5) ||
        folder != maildirIdentity(maildir))
        return std::nullopt;
    QHash<QString, Known> known;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString name;
        Known k;
        SourceFile& f = k.file;
        qint64 date = kNoDate;
        in >> name >> k.size >> k.modifiedNs >> f.digest >> f.fingerprint >> f.sent.subject >> f.sent.body >>
            f.sent.toAddress >> date >> f.subject >> f.from >> f.date;
        if (date != kNoDate) f.sent.date = QDateTime::fromMSecsSinceEpoch(date);
        known.insert(name, std::move(k));
    }
    if (in.status() != QDataStream::Ok || !in.atEnd()) return std::nullopt;
    return known;
}

// The kept file when it is a regular file: a link is not followed and a
// FIFO never waited on.
QHash<QString, Known> loadKept(const QString& path, History history, const QString& maildir) {
    const UniqueFd fd(OpenRecordFile(path, O_RDONLY));
    if (!fd.ok()) return {};
    const qint64 length = FileLength(fd.get());
    if (length <= 0 || length > qint64{kLargestPacked}) return {};
    QByteArray bytes(length, Qt::Uninitialized);
    if (ReadAt(fd.get(), bytes.data(), length, 0) != length) return {};
    return decodeKept(bytes, history, maildir).value_or(QHash<QString, Known>{});
}

// Beside it, flushed, renamed over it (which replaces a link or a FIFO
// there rather than writing through it). A kept file that cannot be
// written costs the next load its time, nothing else.
void saveKept(const QString& path, History history, const QString& maildir, const QHash<QString, Known>& known) {
    RemoveLeftoverRewriteFiles(path);
    (void)WriteFileSafely(path, encodeKept(history, maildir, known), 0600);
}

// Size and modification time of a listed file; nothing when it is gone.
std::optional<std::pair<qint64, qint64>> sizeAndTime(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return std::pair{static_cast<qint64>(info.st_size),
                     static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// A message too large to hold, decoded from its file as the check decoded
// it, and its digest read a block at a time: memory does not grow with it.
std::optional<std::pair<DecodedMessage, QByteArray>> decodeLargeFile(const QString& path) {
    const UniqueFd fd(OpenRecordFile(path, O_RDONLY));
    if (!fd.ok()) return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0;;) {
        const qint64 got = ReadAt(fd.get(), block.data(), block.size(), at);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        hash.addData(QByteArrayView(block).first(got));
        at += got;
    }
    return std::pair{DecodeMessageFile(fd.get()), hash.result()};
}

// Decodes one file into what the kept file holds of it.
std::optional<SourceFile> decodeFile(const QString& path, qint64 size, History history, DecodedMessage& decoded) {
    SourceFile file;
    if (size > kMaxHeldMessageBytes) {
        auto large = decodeLargeFile(path);
        if (!large) return std::nullopt;
        decoded = std::move(large->first);
        file.digest = std::move(large->second);
    } else {
        const auto read = ReadMessageFile(path);
        if (!read) return std::nullopt;
        // Decoded from the wire form, as the check and the send had it.
        decoded = DecodeMessage(WithCrLf(read.value()));
        file.digest = digestOf(read.value());
    }
    if (pairedByFingerprint(history))
        file.fingerprint = RecordFingerprint(ReceivedRecordOf(decoded));
    else
        file.sent = SentKeysOf(decoded);
    file.subject = decoded.subject;
    file.from = decoded.from;
    file.date = decoded.date;
    return file;
}

}  // namespace

QString MessageSourcesPath(const QString& historyFile) { return historyFile + QStringLiteral(".sources"); }

SentKeys SentKeysOf(const DecodedMessage& decoded) {
    const HistoryRecord stored = asStored(HistoryRecord{decoded.subject, QString(), QString(), decoded.text}, History::Sent);
    return SentKeys{stored.Subject, stored.Body, AddressOf(toFieldOf(decoded.headerText)), ParseRecordDate(decoded.date)};
}

bool SentMatches(const HistoryRecord& record, const std::optional<QDateTime>& recordTime,
                 const std::optional<QDateTime>& nextRecordTime, const SentKeys& message) {
    if (record.Subject != message.subject) return false;
    // Recipients were typed: the message went to them (the first is
    // compared). A bulk send went to the book, whatever the box held. The
    // header names a Japanese domain in ACE (older copies as typed), the
    // record as typed: both are compared in ACE.
    if (CheckRecipient(record.Column3) && FirstMailbox(record.Column3).asciiAddress.compare(
                                              FirstMailbox(message.toAddress).asciiAddress, Qt::CaseInsensitive) != 0)
        return false;
    if (!sentBodyMatches(record.Body, message.body)) return false;
    // The record goes in just before its message is made, the next record
    // only after that message went out.
    if (!recordTime || !message.date) return false;
    if (*message.date < recordTime->addSecs(-kClockSlackSeconds)) return false;
    if (nextRecordTime && *message.date > nextRecordTime->addSecs(kClockSlackSeconds)) return false;
    return true;
}

Result<MessageSources> MessageSources::Load(History history, const QString& historyFile, const QString& maildir,
                                            const std::function<bool(qint64 done, qint64 total)>& progress,
                                            const DecodedFile& decodedNow) {
    MessageSources sources;
    sources.history_ = history;
    if (!QFileInfo::exists(maildir)) return sources;
    auto listed = ListMaildir(maildir);
    if (!listed) return Failure{listed.error()};

    const QString keptPath = MessageSourcesPath(historyFile);
    QHash<QString, Known> kept = loadKept(keptPath, history, maildir);
    sources.madeAnew_ = kept.isEmpty();
    QHash<QString, Known> now;
    now.reserve(listed.value().size());
    bool changed = false;
    const qint64 total = listed.value().size();
    qint64 done = 0;
    for (const MaildirEntry& entry : listed.value()) {
        if (progress && !progress(done++, total)) {
            sources.cancelled_ = true;
            break;
        }
        // A file gone since the listing, or one that cannot be read, is no
        // one's copy; its record is shown from its fields.
        const auto stat = sizeAndTime(entry.path);
        if (!stat) continue;
        const QString name = stableName(entry.path);
        const auto found = kept.constFind(name);
        Known known;
        if (found != kept.cend() && found->size == stat->first && found->modifiedNs == stat->second) {
            known = *found;
        } else {
            DecodedMessage message;
            std::optional<SourceFile> decoded = decodeFile(entry.path, stat->first, history, message);
            if (!decoded) continue;
            if (decodedNow) {
                decoded->path = entry.path;
                decodedNow(*decoded, message);
            }
            ++sources.decoded_;
            changed = true;
            known = Known{stat->first, stat->second, std::move(*decoded)};
        }
        known.file.path = entry.path;
        known.file.deliveryTime = entry.deliveryTime;
        sources.files_.push_back(known.file);
        now.insert(name, std::move(known));
    }
    // A cancelled load keeps what it has besides what it decoded: the files
    // it did not reach are still as they were.
    if (sources.cancelled_) {
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            if (!now.contains(it.key())) now.insert(it.key(), it.value());
    }
    if (changed || now.size() != kept.size()) saveKept(keptPath, history, maildir, now);
    if (sources.cancelled_) {
        sources.files_.clear();
        return sources;
    }
    for (size_t i = 0; i < sources.files_.size(); ++i) {
        const SourceFile& file = sources.files_[i];
        if (pairedByFingerprint(history))
            sources.byFingerprint_[file.fingerprint].push_back(i);
        else
            sources.bySubject_[file.sent.subject].push_back(i);
    }
    return sources;
}

std::optional<PairedCopy> MessageSources::onlyCopy(const std::vector<size_t>& candidates) const {
    if (candidates.empty()) return std::nullopt;
    const SourceFile& first = files_[candidates.front()];
    // Files of the same bytes are one message delivered twice: either is
    // the copy. Files that differ leave the pairing in doubt.
    for (const size_t i : candidates)
        if (files_[i].digest != first.digest) return std::nullopt;
    return PairedCopy{first.path, first.subject, first.from, first.date};
}

std::optional<PairedCopy> MessageSources::copyOfFingerprint(QByteArrayView fingerprint) const {
    if (!pairedByFingerprint(history_)) return std::nullopt;
    const auto found = byFingerprint_.constFind(fingerprint.toByteArray());
    return found == byFingerprint_.cend() ? std::nullopt : onlyCopy(*found);
}

std::optional<PairedCopy> MessageSources::copyOf(const HistoryRecord& record, const std::optional<QDateTime>& recordTime,
                                                 const std::optional<QDateTime>& nextRecordTime) const {
    if (pairedByFingerprint(history_)) return copyOfFingerprint(RecordFingerprint(record));
    const auto found = bySubject_.constFind(record.Subject);
    if (found == bySubject_.cend()) return std::nullopt;
    std::vector<size_t> matching;
    for (const size_t i : *found)
        if (SentMatches(record, recordTime, nextRecordTime, files_[i].sent)) matching.push_back(i);
    return onlyCopy(matching);
}

}  // namespace lumopet::mail
