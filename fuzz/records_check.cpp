// The history records and the address book, from bytes that may come from
// anywhere: a history copied from Windows, a truncated file, a file someone
// edited by hand.

#include "core/cp932.h"
#include "core/text_helpers.h"
#include "fuzz/checks.h"
#include "fuzz/scratch_folder.h"
#include "store/address_book.h"
#include "store/history_record.h"

#include <QStringList>

#include <atomic>
#include <fstream>

namespace lumopet::fuzz {
namespace {

namespace fs = std::filesystem;
namespace layout = record_layout;

constexpr char16_t kFullWidthBlank = u'\u3000';

std::string quoted(const QString& text) { return "\"" + text.toStdString() + "\""; }

std::string differs(const char* what, const QString& expected, const QString& got) {
    return std::string(what) + ": expected " + quoted(expected) + ", read back " + quoted(got);
}

// The text is stored unchanged in a field of width bytes: CP932 holds every
// character of it, it fits, and no NUL ends it early.
bool fitsUnchanged(const QString& text, qsizetype width) {
    if (text.contains(QChar(u'\0'))) return false;
    const QByteArray bytes = cp932::encode(text);
    return bytes.size() <= width && cp932::decode(bytes) == text;
}

std::string compareRecords(const char* when, const HistoryRecord& a, const HistoryRecord& b) {
    if (a.Subject != b.Subject) return differs(when, a.Subject, b.Subject) + " (subject)";
    if (a.Column2 != b.Column2) return differs(when, a.Column2, b.Column2) + " (column 2)";
    if (a.Column3 != b.Column3) return differs(when, a.Column3, b.Column3) + " (column 3)";
    if (a.Body != b.Body) return differs(when, a.Body, b.Body) + " (body)";
    if (a.Live != b.Live) return std::string(when) + ": Live " + std::to_string(a.Live) + " read back as " + std::to_string(b.Live);
    return {};
}

// A record read from the input's bytes, written back and read again: the
// same record, and from then on the same bytes.
std::string checkHistoryBytes(QByteArrayView input) {
    const HistoryRecord read = DecodeRecord(input);
    for (const History history : {History::Received, History::Sent}) {
        const QByteArray written = EncodeRecord(read, history);
        if (written.size() != kHistoryRecordSize) return "a history record is not 12284 bytes";
        if (written.sliced(layout::LineEnd.offset, 2) != "\r\n") return "a history record does not end in CR LF";
        const HistoryRecord again = DecodeRecord(written);
        if (again.Live != read.Live) return "Live changed through a rewrite";
        if (EncodeRecord(again, history) != written) return "a history record changes each time it is rewritten";
        const bool unchanged = fitsUnchanged(read.Subject, layout::Subject.size) &&
                               fitsUnchanged(read.Column2, layout::Column2.size) &&
                               fitsUnchanged(read.Column3, layout::Column3.size) &&
                               fitsUnchanged(read.Body, layout::Body.size) && WithCrLf(read.Body) == read.Body;
        if (unchanged) {
            if (std::string found = compareRecords("history record read, written, read", read, again); !found.empty())
                return found;
        }
    }
    return {};
}

// The input as texts separated by U+001F: subject, column 2, column 3, body.
QStringList textsOf(QByteArrayView input) {
    QStringList texts = QString::fromUtf8(input).split(QChar(0x1F));
    while (texts.size() < 4) texts.append(QString());
    return texts;
}

// A record made from texts reads back as those texts, where they fit.
std::string checkHistoryTexts(QByteArrayView input) {
    const QStringList texts = textsOf(input);
    const HistoryRecord made{texts[0], texts[1], texts[2], texts[3],
                             static_cast<std::int16_t>(input.isEmpty() ? 1 : static_cast<signed char>(input.back()))};
    for (const History history : {History::Received, History::Sent}) {
        const HistoryRecord read = DecodeRecord(EncodeRecord(made, history));
        // What each field holds in the file: trimmed of blanks but for the
        // sent history's date, the body with CR LF line ends.
        const QString stored[] = {
            WithoutBlanksAround(made.Subject).toString(),
            history == History::Sent ? made.Column2 : WithoutBlanksAround(made.Column2).toString(),
            WithoutBlanksAround(made.Column3).toString(),
            WithCrLf(WithoutBlanksAround(made.Body)),
        };
        const RecordField fields[] = {layout::Subject, layout::Column2, layout::Column3, layout::Body};
        const QString got[] = {read.Subject, read.Column2, read.Column3, read.Body};
        for (int i = 0; i < 4; ++i) {
            if (!fitsUnchanged(stored[i], fields[i].size)) continue;
            const QString expected = WithoutBlanksAround(stored[i]).toString();
            if (got[i] != expected) return differs("history field made from text", expected, got[i]);
        }
        if (read.Live != made.Live) return "Live " + std::to_string(made.Live) + " read back as " + std::to_string(read.Live);
    }
    return {};
}

bool sameEntry(const AddressRecord& a, const AddressRecord& b) {
    return a.EntryName == b.EntryName && a.EntryAddress == b.EntryAddress && a.Live == b.Live;
}

// An entry made from a name and an address reads back as them, where they
// fit; an entry read from bytes and written again stays as it is.
std::string checkAddressRecords(QByteArrayView input) {
    const QStringList texts = textsOf(input);
    const QString& name = texts[0];
    const QString& address = texts[1];
    const AddressRecord made = DecodeAddressRecord(EncodeAddressRecord(name, address));
    if (made.Live != 1) return "a new address entry is not live";
    QString padded = name;
    if (padded.size() <= 30) padded.resize(30, kFullWidthBlank);
    if (name.size() <= 30 && fitsUnchanged(padded, 60) && BareEntryText(made.EntryName) != BareEntryText(name))
        return differs("address entry name", BareEntryText(name), BareEntryText(made.EntryName));
    if (address.size() <= 60 && fitsUnchanged(address, 60) && BareEntryText(made.EntryAddress) != BareEntryText(address))
        return differs("address entry address", BareEntryText(address), BareEntryText(made.EntryAddress));

    if (input.size() >= kAddressRecordSize) {
        const AddressRecord read = DecodeAddressRecord(input.first(kAddressRecordSize).toByteArray());
        const QByteArray written = EncodeAddressRecord(read.EntryName, read.EntryAddress);
        const AddressRecord again = DecodeAddressRecord(written);
        if (EncodeAddressRecord(again.EntryName, again.EntryAddress) != written)
            return "an address entry changes each time it is rewritten";
    }
    return {};
}

// The input as an address book file: an entry added, marked and compacted
// away; every other entry keeps its bytes and place.
std::string checkAddressBookFile(QByteArrayView input, const fs::path& folder) {
    const fs::path path = folder / "Srndata20.data";
    std::ofstream(path, std::ios::binary).write(input.data(), input.size());
    const QString file = QString::fromStdString(path.string());
    const QString copy = QString::fromStdString((folder / "SRNDATA20.TMP").string());

    const auto before = ReadAddressRecords(file);
    if (!before) return "a plain address book file could not be read: " + before.error().toStdString();
    const auto added = AppendAddressEntry(file, QStringLiteral("新しい人"), QStringLiteral("new@example.jp"));
    if (!added) return "adding an entry failed: " + added.error().toStdString();
    const int n = added.value();
    auto after = ReadAddressRecords(file);
    if (!after || static_cast<int>(after.value().size()) != n) return "the added entry is not the last of the book";
    for (size_t i = 0; i < before.value().size(); ++i) {
        if (!sameEntry(before.value()[i], after.value()[i])) return "adding an entry changed entry " + std::to_string(i + 1);
    }
    if (BareEntryText(after.value().back().EntryName) != QStringLiteral("新しい人")) return "the added entry reads wrong";

    if (!MarkAddressDeleted(file, n)) return "marking the added entry failed";
    after = ReadAddressRecords(file);
    if (!after || after.value().back().Live != 0) return "the marked entry is still live";
    std::vector<AddressRecord> kept;
    for (const AddressRecord& record : after.value()) {
        if (record.Live != 0) kept.push_back(record);
    }
    if (!CompactAddressBook(file, copy)) return "compacting the book failed";
    const auto compacted = ReadAddressRecords(file);
    if (!compacted || compacted.value().size() != kept.size()) return "compacting lost or kept the wrong entries";
    for (size_t i = 0; i < kept.size(); ++i) {
        if (!sameEntry(kept[i], compacted.value()[i])) return "compacting changed entry " + std::to_string(i + 1);
    }
    if (fs::exists(fs::symlink_status(folder / "SRNDATA20.TMP"))) return "compacting left its rewrite copy";
    return {};
}

}  // namespace

std::string CheckRecords(QByteArrayView input, const fs::path& scratch) {
    static std::atomic<int> runs{0};
    const fs::path folder = scratch / ("records-" + std::to_string(++runs));
    RemoveTree(folder);
    fs::create_directories(folder);
    std::string complaint = checkHistoryBytes(input);
    if (complaint.empty()) complaint = checkHistoryTexts(input);
    if (complaint.empty()) complaint = checkAddressRecords(input);
    if (complaint.empty()) complaint = checkAddressBookFile(input, folder);
    RemoveTree(folder);
    return complaint;
}

}  // namespace lumopet::fuzz
