#include "store/address_book.h"

#include "core/cp932.h"
#include "core/text_helpers.h"
#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace lumopet {
namespace {

// The record, said once.
namespace layout {
// The name, padded with full-width blanks to 30 characters, then with
// blanks to the width.
inline constexpr RecordField EntryName{0, 60};
// Always CR LF, so that the file also reads as text.
inline constexpr RecordField LineEnd{60, 2};
// A 16-bit little-endian signed number: 1 live, 0 marked for deletion.
inline constexpr RecordField Live{62, 2};
// The address, padded with blanks to 60 characters, cut to the width.
inline constexpr RecordField EntryAddress{64, 60};
}  // namespace layout

static_assert(layout::EntryName.offset == 0);
static_assert(layout::LineEnd.offset == layout::EntryName.end());
static_assert(layout::Live.offset == layout::LineEnd.end());
static_assert(layout::EntryAddress.offset == layout::Live.end());
static_assert(layout::EntryAddress.end() == kAddressRecordSize);

constexpr qsizetype kNameCharacters = 30;
constexpr qsizetype kAddressCharacters = 60;
constexpr char16_t kFullWidthBlank = u'\u3000';

constexpr RecordFileKind kAddressBook{kAddressRecordSize, layout::Live.offset, kMaxAddressEntries, u"アドレス帳"};

// The first count UTF-16 units, without leaving half of a surrogate pair.
QStringView firstCharacters(QStringView text, qsizetype count) {
    if (text.size() <= count) return text;
    if (text[count - 1].isHighSurrogate()) --count;
    return text.first(count);
}

// The text cut to the field before a double-byte character rather than
// through it, then padded with blanks to the field's width.
void put(QByteArray& record, RecordField field, QStringView text) {
    const QByteArray bytes = cp932::truncate(cp932::encode(text), field.size);
    std::memcpy(record.data() + field.offset, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString field(QByteArrayView record, RecordField where) {
    return CutAtNul(cp932::decode(record.sliced(where.offset, where.size)));
}

}  // namespace

const RecordFileKind& AddressBookKind() { return kAddressBook; }

QString AddressBookPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\Srndata20.data")); }

QString AddressBookRewriteCopyPath(const ProgramPaths& paths) {
    return paths.path(QStringLiteral("\\★MAilData\\SRNDATA20.TMP"));
}

QString AddressListPath(const ProgramPaths& paths) { return paths.path(QStringLiteral("\\★MAilData\\SRNASTER20.INI")); }

QByteArray EncodeAddressRecord(const QString& name, const QString& address) {
    // Blanks everywhere first: what no field overwrites is the padding.
    QByteArray bytes(kAddressRecordSize, ' ');
    QString paddedName = firstCharacters(name, kNameCharacters).toString();
    paddedName.resize(kNameCharacters, kFullWidthBlank);
    put(bytes, layout::EntryName, paddedName);
    bytes[layout::LineEnd.offset] = '\r';
    bytes[layout::LineEnd.offset + 1] = '\n';
    bytes[layout::Live.offset] = 1;
    bytes[layout::Live.offset + 1] = 0;
    // Padding the address to 60 characters only matters where the record
    // is read as text; the bytes after a shorter address are blanks anyway.
    put(bytes, layout::EntryAddress, firstCharacters(address, kAddressCharacters));
    return bytes;
}

AddressRecord DecodeAddressRecord(const QByteArray& bytes) {
    if (bytes.size() < kAddressRecordSize) return AddressRecord{{}, {}, 0};
    const auto low = static_cast<unsigned char>(bytes[layout::Live.offset]);
    const auto high = static_cast<unsigned char>(bytes[layout::Live.offset + 1]);
    return AddressRecord{field(bytes, layout::EntryName), field(bytes, layout::EntryAddress),
                         static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)))};
}

QString BareEntryText(const QString& stored) {
    qsizetype end = stored.size();
    while (end > 0 && (stored[end - 1] == u' ' || stored[end - 1] == kFullWidthBlank)) --end;
    return stored.left(end);
}

Result<std::vector<AddressRecord>> ReadAddressRecords(const QString& file) {
    int opened = OpenRecordFile(file, O_RDONLY);
    if (opened < 0 && errno == ENOENT) {
        // Created exclusively: whatever appeared there in the meantime is
        // read, not replaced.
        const UniqueFd created(OpenRecordFile(file, O_WRONLY | O_CREAT | O_EXCL));
        if (!created.ok() && errno != EEXIST) return RecordWriteFailure(kAddressBook, file, errno);
        opened = OpenRecordFile(file, O_RDONLY);
    }
    const UniqueFd fd(opened);
    if (!fd.ok()) return RecordReadFailure(kAddressBook, file, errno);
    const qint64 length = FileLength(fd.get());
    if (length < 0) return RecordReadFailure(kAddressBook, file, errno);
    // A full book is four megabytes: read at once.
    QByteArray bytes(length, Qt::Uninitialized);
    const qint64 got = ReadAt(fd.get(), bytes.data(), length, 0);
    if (got < 0) return RecordReadFailure(kAddressBook, file, errno);
    std::vector<AddressRecord> records;
    records.reserve(static_cast<size_t>(got / kAddressRecordSize));
    for (qint64 at = 0; at + kAddressRecordSize <= got; at += kAddressRecordSize)
        records.push_back(DecodeAddressRecord(bytes.sliced(at, kAddressRecordSize)));
    return records;
}

Result<int> AppendAddressEntry(const QString& file, const QString& name, const QString& address) {
    const Result<int> n = AppendFixedRecord(file, EncodeAddressRecord(name, address), kAddressBook);
    if (!n) return n;
    // One flush a registration costs nothing the user would notice, and a
    // power cut does not take the entry the window said was registered.
    const Status synced = SyncRecordFile(file, kAddressBook);
    if (!synced) return Failure{synced.error()};
    return n;
}

Status MarkAddressDeleted(const QString& file, int n) { return MarkFixedRecordDeleted(file, n, kAddressBook); }

Status CompactAddressBook(const QString& file, const QString& rewriteCopy) {
    return CompactFixedRecords(file, rewriteCopy, kAddressBook);
}

Result<Recovery> RecoverAddressBookCopy(const QString& file, const QString& rewriteCopy) {
    return RecoverFixedRecordCopy(file, rewriteCopy, kAddressBook);
}

}  // namespace lumopet
