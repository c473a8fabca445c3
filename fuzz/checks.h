#pragma once
// The rules the fuzz targets hold the program to. Each check takes one input
// as the fuzzer (or a stored corpus or regression file) gives it, runs it
// through the program's own code, and returns what went wrong, or an empty
// text when every rule held. The fuzz targets abort on a complaint, so that
// libFuzzer keeps the input; the regression tests report it as a failure.
//
// The checks write only inside the scratch folder they are given, and leave
// it as they found it.

#include <QByteArrayView>

#include <filesystem>
#include <string>

namespace lumopet::fuzz {

// A received message, as a mail check meets it: fetched through the mail
// operations from a one-message mailbox in memory, its attachments saved
// into a folder that already holds a link to a file outside. Every saved
// name stays in the folder, nothing follows or replaces a link, nothing is
// written beside the folder, every attachment arrives whole, and the
// subject, sender and date hold no CR, LF or NUL.
// Call PrepareReceivedMessageCheck once before.
void PrepareReceivedMessageCheck();
std::string CheckReceivedMessage(QByteArrayView input, const std::filesystem::path& scratch);

// The settings files: whatever a file holds, the program's values read from
// it, written back, and read again are the same values, and a value written
// reads back as written.
std::string CheckSettingsFiles(QByteArrayView input, const std::filesystem::path& scratch);

// The history and address records: a record read from any bytes and written
// back reads as the same record, and a record made from texts that fit
// reads back as those texts. The address book file keeps every other entry
// through an append, a deletion and a compaction.
std::string CheckRecords(QByteArrayView input, const std::filesystem::path& scratch);

// HTML mail through the sanitiser: the html holds no script, no event
// attribute, no src or href but the viewer's own ("link:N", "cid:...",
// "remote-image:N"), stays within its size, and sanitised again reads as
// the same text.
std::string CheckHtmlSanitizer(QByteArrayView input, const std::filesystem::path& scratch);

}  // namespace lumopet::fuzz
