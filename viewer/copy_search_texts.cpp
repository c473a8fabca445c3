#include "viewer/copy_search_texts.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "mail/mail_export.h"
#include "mail/receive_mail.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"
#include "viewer/search_text.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lumopet {
namespace {

// An entry: the marker, the fingerprint's 8 bytes, the text's length in
// UTF-16 units (32 bits, little end first), the text in UTF-16.
constexpr char kMarker[4] = {'L', 'T', 'X', '1'};
constexpr qint64 kHeadBytes = 4 + 8 + 4;
// No text of a message is near this; a length past it is a torn entry.
constexpr quint32 kLongestText = 64 * 1024 * 1024;

struct EntryHead {
    QByteArray fingerprint;  // 8 bytes
    quint32 units = 0;
};

std::optional<EntryHead> readHead(const char* head) {
    if (std::memcmp(head, kMarker, 4) != 0) return std::nullopt;
    EntryHead entry{QByteArray(head + 4, 8), qFromLittleEndian<quint32>(head + 12)};
    if (entry.units > kLongestText) return std::nullopt;
    return entry;
}

QByteArray entryBytes(const CopySearchEntry& entry) {
    QByteArray bytes(kMarker, 4);
    bytes += QByteArray::fromHex(entry.fingerprint).leftJustified(8, '\0', true);
    char length[4];
    qToLittleEndian<quint32>(static_cast<quint32>(entry.text.size()), length);
    bytes.append(length, 4);
    bytes.append(reinterpret_cast<const char*>(entry.text.utf16()), entry.text.size() * 2);
    return bytes;
}

// Where the file's whole entries end: past a torn one, the next entry would
// be read from the middle of it.
qint64 endOfWholeEntries(int fd) {
    const qint64 size = ::lseek(fd, 0, SEEK_END);
    qint64 at = 0;
    char head[kHeadBytes];
    while (at + kHeadBytes <= size) {
        if (ReadAt(fd, head, kHeadBytes, at) != kHeadBytes) break;
        const auto entry = readHead(head);
        if (!entry || at + kHeadBytes + qint64{entry->units} * 2 > size) break;
        at += kHeadBytes + qint64{entry->units} * 2;
    }
    return at;
}

}  // namespace

QString CopySearchTextsPath(const QString& historyFile) { return historyFile + QStringLiteral(".texts"); }

QString ExtraSearchText(const mail::DecodedMessage& message) {
    // The record as the check makes it, through the code page and back:
    // what the search of the records finds.
    const HistoryRecord record = mail::ReceivedRecordOf(message);
    const HistoryRecord stored = DecodeRecord(EncodeRecord(record, History::Received));
    if (stored.Subject == record.Subject && stored.Column2 == record.Column2 && stored.Body == record.Body)
        return {};
    return SearchForm(QString(message.subject + u'\n' + message.from + u'\n' + message.text));
}

Status WriteCopySearchTexts(const QString& path, const std::vector<CopySearchEntry>& entries, bool anew) {
    if (entries.empty() && !anew) return success();
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const UniqueFd fd(OpenRecordFile(path, flags));
    if (!fd.ok()) return Failure{QStringLiteral("「%1」: %2").arg(path, qt_error_string(errno))};
    const qint64 end = anew ? 0 : endOfWholeEntries(fd.get());
    if (::ftruncate(fd.get(), end) != 0) return Failure{qt_error_string(errno)};
    QByteArray bytes;
    for (const CopySearchEntry& entry : entries) bytes += entryBytes(entry);
    if (!WriteAt(fd.get(), bytes.constData(), bytes.size(), end)) return Failure{qt_error_string(errno)};
    return success();
}

std::vector<int> RecordsFoundInCopies(const QString& path, const QString& form,
                                      const std::vector<QByteArray>& fingerprints, const std::atomic<bool>& cancel) {
    std::vector<int> found;
    if (form.isEmpty()) return found;
    const UniqueFd fd(OpenRecordFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok()) return found;
    const qint64 size = ::lseek(fd.get(), 0, SEEK_END);
    // Read in blocks of whole entries; an entry larger than a block is read
    // alone.
    constexpr qint64 kBlock = 4 * 1024 * 1024;
    QByteArray block;
    QSet<QByteArray> matching;
    qint64 at = 0;
    while (at + kHeadBytes <= size) {
        if (cancel.load(std::memory_order_relaxed)) return {};
        const qint64 want = std::min(size - at, std::max<qint64>(kBlock, kHeadBytes));
        block.resize(want);
        if (ReadAt(fd.get(), block.data(), want, at) != want) break;
        qint64 used = 0;
        while (used + kHeadBytes <= want) {
            const auto head = readHead(block.constData() + used);
            if (!head) return found;  // torn: what follows cannot be trusted
            const qint64 bytes = qint64{head->units} * 2;
            if (used + kHeadBytes + bytes > want) {
                if (used == 0) {
                    // Larger than a block: this one alone.
                    QByteArray text(bytes, Qt::Uninitialized);
                    if (at + kHeadBytes + bytes > size ||
                        ReadAt(fd.get(), text.data(), bytes, at + kHeadBytes) != bytes)
                        return found;
                    if (QStringView(reinterpret_cast<const char16_t*>(text.constData()), head->units).contains(form))
                        matching.insert(head->fingerprint.toHex());
                    used = kHeadBytes + bytes;
                }
                break;
            }
            const QStringView text(reinterpret_cast<const char16_t*>(block.constData() + used + kHeadBytes), head->units);
            if (text.contains(form)) matching.insert(head->fingerprint.toHex());
            used += kHeadBytes + bytes;
        }
        if (used == 0) break;
        at += used;
    }
    if (matching.isEmpty()) return found;
    for (size_t i = 0; i < fingerprints.size(); ++i) {
        if (matching.contains(fingerprints[i])) found.push_back(static_cast<int>(i + 1));
    }
    return found;
}

}  // namespace lumopet
