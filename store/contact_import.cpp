#include "store/contact_import.h"

#include "core/cp932.h"
#include "core/safe_file.h"
#include "store/address_book.h"
#include "store/fixed_record_file.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace lumopet {
namespace {

constexpr qsizetype kNameCharacters = 30;
constexpr qsizetype kAddressCharacters = 60;
constexpr qsizetype kFieldBytes = 60;

// An address as the book would hold it, for comparing: what the record
// keeps of it (so that an address cut once matches itself cut again),
// without blanks and case.
QString addressKey(const QString& stored) { return BareEntryText(stored).trimmed().toCaseFolded(); }

QString storedAddress(const QString& address) {
    return DecodeAddressRecord(EncodeAddressRecord(QString(), address)).EntryAddress;
}

// Whether the record's rules cut the text: a name keeps 30 characters, an
// address 60 characters and at most 60 bytes. 30 characters of CP932 never
// pass 60 bytes.
bool isCut(const QString& name, const QString& address) {
    return name.size() > kNameCharacters || address.size() > kAddressCharacters ||
           cp932::encode(address).size() > kFieldBytes;
}

}  // namespace

ContactImportCounts ImportContacts(const QString& book, const std::vector<ContactEntry>& contacts) {
    ContactImportCounts counts;
    const Result<std::vector<AddressRecord>> existing = ReadAddressRecords(book);
    if (!existing) {
        counts.error = existing.error();
        return counts;
    }
    QSet<QString> known;
    for (const AddressRecord& record : existing.value())
        if (record.Live != 0) known.insert(addressKey(record.EntryAddress));

    Result<RecordAppender> appender = RecordAppender::Open(book, AddressBookKind());
    if (!appender) {
        counts.error = appender.error();
        return counts;
    }
    const Result<qint64> length = appender.value().length();
    if (!length) {
        counts.error = length.error();
        return counts;
    }
    qint64 next = NumberAppendedAt(length.value(), kAddressRecordSize);
    bool stopped = false;
    for (const ContactEntry& contact : contacts) {
        const QString name = contact.name.trimmed();
        const QString address = contact.address.trimmed();
        // Nothing to send to: not an entry anyone asked for.
        if (address.isEmpty()) continue;
        const QString key = addressKey(storedAddress(address));
        if (known.contains(key)) {
            ++counts.skipped;
            continue;
        }
        known.insert(key);
        if (stopped || next > kMaxAddressEntries) {
            ++counts.notTaken;
            continue;
        }
        const Result<int> appended = appender.value().append(EncodeAddressRecord(name, address));
        if (!appended) {
            counts.error = appended.error();
            stopped = true;
            ++counts.notTaken;
            continue;
        }
        next = appended.value() + 1;
        ++counts.taken;
        if (isCut(name, address)) ++counts.cut;
    }
    if (counts.taken > 0) {
        const Status synced = appender.value().sync();
        if (!synced && counts.error.isEmpty()) counts.error = synced.error();
    }
    return counts;
}

QString ContactImportSentence(const ContactImportCounts& counts) {
    QString sentence;
    if (counts.taken == 0 && counts.skipped == 0 && counts.notTaken == 0 && counts.error.isEmpty())
        return QStringLiteral("取り込める連絡先はありませんでした。");
    if (counts.taken > 0 || counts.skipped > 0 || counts.error.isEmpty()) {
        sentence = QStringLiteral("%1 件を取り込みました").arg(counts.taken);
        if (counts.skipped > 0 && counts.cut > 0)
            sentence += QStringLiteral("（重複 %1 件は飛ばし、%2 件は長すぎるため切り詰めました）")
                            .arg(counts.skipped)
                            .arg(counts.cut);
        else if (counts.skipped > 0)
            sentence += QStringLiteral("（重複 %1 件は飛ばしました）").arg(counts.skipped);
        else if (counts.cut > 0)
            sentence += QStringLiteral("（%1 件は長すぎるため切り詰めました）").arg(counts.cut);
        sentence += u'。';
    }
    if (!counts.error.isEmpty())
        sentence += counts.error;
    else if (counts.notTaken > 0)
        sentence += QStringLiteral("アドレス帳がいっぱい（%1 件）のため、残りの %2 件は取り込めませんでした。")
                        .arg(kMaxAddressEntries)
                        .arg(counts.notTaken);
    return sentence;
}

Result<std::vector<ContactEntry>> LiveAddressEntries(const QString& book) {
    const Result<std::vector<AddressRecord>> records = ReadAddressRecords(book);
    if (!records) return Failure{records.error()};
    std::vector<ContactEntry> entries;
    for (const AddressRecord& record : records.value())
        if (record.Live != 0)
            entries.push_back({BareEntryText(record.EntryName), BareEntryText(record.EntryAddress).trimmed()});
    return entries;
}

ContactImportCounts ImportContactFile(const QString& book, const QString& file) {
    ContactImportCounts counts;
    const QString shown = QDir::toNativeSeparators(file);
    if (QFileInfo(file).size() > kMaxContactFileBytes) {
        counts.error = QStringLiteral("「%1」は連絡先のファイルとしては大きすぎるため読みません（%2 MB まで）。")
                           .arg(shown)
                           .arg(kMaxContactFileBytes / (1024 * 1024));
        return counts;
    }
    const Result<std::optional<QByteArray>> read = ReadFileIfPresent(file);
    if (!read) {
        counts.error = read.error();
        return counts;
    }
    if (!read.value()) {
        counts.error = QStringLiteral("「%1」が見つかりません。").arg(shown);
        return counts;
    }
    const Result<std::vector<ContactEntry>> contacts = ReadContacts(*read.value());
    if (!contacts) {
        counts.error = QStringLiteral("「%1」から連絡先を読めません。\n%2").arg(shown, contacts.error());
        return counts;
    }
    return ImportContacts(book, contacts.value());
}

Result<int> ExportContactFile(const QString& book, const QString& file, ContactFileForm form) {
    const Result<std::vector<ContactEntry>> entries = LiveAddressEntries(book);
    if (!entries) return Failure{entries.error()};
    const QByteArray bytes =
        form == ContactFileForm::GoogleCsv ? WriteGoogleCsv(entries.value()) : WriteVCard4(entries.value());
    if (const Status written = WriteFileSafely(file, bytes); !written) return Failure{written.error()};
    return static_cast<int>(entries.value().size());
}

}  // namespace lumopet
