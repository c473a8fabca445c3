#pragma once
// Contacts as other programs keep them, in and out of the address book:
// vCard 2.1, 3.0 and 4.0 (a Japanese phone's 2.1 in Shift_JIS with
// quoted-printable included) and CSV as Google Contacts and Outlook export
// it. A contact with several addresses becomes one entry for each, since an
// entry of the book holds one name and one address.

#include "core/result.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace lumopet {

struct ContactEntry {
    QString name;
    QString address;
    friend bool operator==(const ContactEntry&, const ContactEntry&) = default;
};

// Every (name, address) pair of a vCard file, cards in file order and each
// card's addresses in its order. The name is FN; without FN it is built from
// N: "Family Given" for a Japanese name, as phones write it, "Given Family"
// otherwise. A card without an address gives nothing.
std::vector<ContactEntry> ReadVCardContacts(const QByteArray& bytes);

// Every pair of a CSV file with a header row as Google Contacts or Outlook
// writes it (English column names, or the Japanese ones of Outlook's
// Japanese edition). UTF-8 with or without a BOM, UTF-16 with a BOM, or
// CP932 when the bytes are not UTF-8. Fails when no column holds addresses.
Result<std::vector<ContactEntry>> ReadCsvContacts(const QByteArray& bytes);

// Either of the two, chosen by the content: a file whose first text is
// BEGIN:VCARD is a vCard file, anything else is tried as CSV.
Result<std::vector<ContactEntry>> ReadContacts(const QByteArray& bytes);

// vCard 4.0: UTF-8, CR LF, one card for each entry with FN and EMAIL, texts
// escaped and long lines folded as RFC 6350 says.
QByteArray WriteVCard4(const std::vector<ContactEntry>& entries);

// CSV with Google's columns "Name" and "E-mail 1 - Value", CR LF, quoted as
// RFC 4180 says where a field needs it. UTF-8 without a BOM: Google reads
// both, and a BOM is glued to the first column name by every tool that does
// not know it, after which "Name" is not found.
QByteArray WriteGoogleCsv(const std::vector<ContactEntry>& entries);

}  // namespace lumopet
