#pragma once
// The address book: a file of 124-byte records, a name and a mail address
// each, in code page 932, as the Windows version wrote it. The same layout
// serves the read-only address list "SRNASTER20.INI".
//
// Removal never leaves the only copy of the book in a temporary file: the
// compacted book is built beside the old one under a fresh, unpredictable
// name, flushed to disk and renamed over it, as the history files do.

#include "core/program_paths.h"
#include "core/result.h"
#include "store/fixed_record_file.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace lumopet {

inline constexpr int kAddressRecordSize = 124;
// Record numbers are 16-bit: one more entry could never be addressed.
inline constexpr int kMaxAddressEntries = 32767;

// A record as stored: both texts with their padding (the list shows them
// so), Live 1 for an entry, 0 for one marked deleted.
struct AddressRecord {
    QString EntryName;
    QString EntryAddress;
    std::int16_t Live = 1;
};

// "\★MAilData\Srndata20.data", its rewrite copy "\★MAilData\SRNDATA20.TMP",
// and the address list "\★MAilData\SRNASTER20.INI".
QString AddressBookPath(const ProgramPaths& paths);
QString AddressBookRewriteCopyPath(const ProgramPaths& paths);
QString AddressListPath(const ProgramPaths& paths);

// The 124 bytes of a live record: the name padded with full-width blanks to
// 30 characters, then with blanks to 60 bytes; CR LF; Live 1; the address
// padded with blanks to 60 characters and cut to 60 bytes, never through a
// double-byte character.
QByteArray EncodeAddressRecord(const QString& name, const QString& address);
// The fields of 124 record bytes (texts cut at a NUL, padding kept).
AddressRecord DecodeAddressRecord(const QByteArray& bytes);

// The book's record file as the record routines see it, for those that
// append to it in bulk.
const RecordFileKind& AddressBookKind();

// A stored text without its trailing blanks of both kinds.
QString BareEntryText(const QString& stored);

// Every complete record in file order, marked ones included. A missing file
// is created empty first (the book and the list both are, when a window
// opens them); an existing file that cannot be read is an error, and is
// never replaced. A link or anything but a regular file is refused.
Result<std::vector<AddressRecord>> ReadAddressRecords(const QString& file);

// Appends a live record at number round(file length / 124) + 1, halves to
// even, flushes it to disk and returns that number. Refuses, writing
// nothing, when the book already holds kMaxAddressEntries records.
Result<int> AppendAddressEntry(const QString& file, const QString& name, const QString& address);

// Writes Live 0 into record n (from 1).
Status MarkAddressDeleted(const QString& file, int n);

// Drops every record whose Live is 0; the others keep their bytes and order.
// A leftover rewrite copy is settled first. The new book is built under a
// fresh name beside it, flushed, and renamed over the book; with nothing marked the
// book is left as it is.
Status CompactAddressBook(const QString& file, const QString& rewriteCopy);

// Run at start: a rewrite copy left by a crash is settled without losing an
// entry (the book restored from it when the book is missing or shorter,
// else the stale copy removed), by the rule of RecoverFixedRecordCopy.
Result<Recovery> RecoverAddressBookCopy(const QString& file, const QString& rewriteCopy);

}  // namespace lumopet
