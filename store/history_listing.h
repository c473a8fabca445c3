#pragma once
// The listing of a history kept in a small file beside it ("<history>.list"):
// the three columns of every record and its fingerprint (RecordFingerprint,
// which finds the record's copy in the Maildir), so that the viewer can list a full
// history without touching each of its 32,766 records. From a cold disk
// those 280-byte pieces, one in every 12 KB, cost up to seconds; the
// listing is one read of about a megabyte.
//
// The listing is a cache and nothing else: the history stays as it is, and
// the listing is believed only while it belongs to the same file (device
// and inode), of the same size and modification time, with the same last
// record; a listing of a shorter version of the same file is believed for
// its records when the record it ended on is still there unchanged (the
// history was only appended to, as a mail check does), and the rest is read
// from the history. A listing that is missing, damaged, of another file or
// not a regular file is read anew from the history and written again.
// Writing it may fail (a full disk, a folder in its place): the listing
// then comes from the history, as before.

#include "store/history_file.h"

#include <QString>

#include <vector>

namespace lumopet {

QString HistoryListingPath(const QString& history);

// ReadListing's entries for the history, each with its record's
// fingerprint, through its listing file, which is brought up to date (a
// listing made anew reads every record whole for its fingerprint; one
// appended to, only the new records). A history that cannot be opened has none. The
// last record is read to tell whether the listing is still its history's:
// lastRecord, when given, gets its bytes (empty when there are none).
std::vector<HistoryListEntry> ReadListingThroughCache(const QString& history, QByteArray* lastRecord = nullptr);

// Only brings the listing up to date (after the history was rewritten).
void RefreshHistoryListing(const QString& history);

}  // namespace lumopet
