#pragma once
// Contacts into and out of the address book file (store/address_book.h).

#include "core/result.h"
#include "store/contact_files.h"

#include <QString>

#include <vector>

namespace lumopet {

struct ContactImportCounts {
    // Entries appended to the book, cut ones included.
    int taken = 0;
    // Whose address the book (or an earlier contact of the same file)
    // already held.
    int skipped = 0;
    // Taken with the name or the address cut to what the record holds.
    int cut = 0;
    // Left out because the book was full.
    int notTaken = 0;
    // Why the import stopped early; empty when it did not. What was taken
    // before stays in the book, flushed.
    QString error;
};

// Appends each contact whose address, trimmed and compared without regard
// to case, is not already in a live entry of the book, in the order given.
// At kMaxAddressEntries records it stops; the rest count as not taken.
// Flushes the book once, at the end.
ContactImportCounts ImportContacts(const QString& book, const std::vector<ContactEntry>& contacts);

// What the user reads after an import:
// "12 件を取り込みました（重複 3 件は飛ばし、2 件は長すぎるため切り詰めました）。"
QString ContactImportSentence(const ContactImportCounts& counts);

// The live entries of the book, their padding removed, in book order.
Result<std::vector<ContactEntry>> LiveAddressEntries(const QString& book);

// --- whole files, for the address book window -------------------------------

// The largest contacts file read: a phone's or Google's export of tens of
// thousands of contacts is a few megabytes; anything far larger is not a
// contacts file, and is not read whole into memory.
inline constexpr qint64 kMaxContactFileBytes = 64 * 1024 * 1024;

// A vCard or CSV file (told apart by its content) taken into the book. A
// file that cannot be read, is not a regular file, is too large or holds no
// address column gives its reason in error, and nothing is taken.
ContactImportCounts ImportContactFile(const QString& book, const QString& file);

enum class ContactFileForm { VCard4, GoogleCsv };

// The live entries of the book written to the file in the form, replacing
// it as a whole (never half-written). Returns how many were written.
Result<int> ExportContactFile(const QString& book, const QString& file, ContactFileForm form);

}  // namespace lumopet
