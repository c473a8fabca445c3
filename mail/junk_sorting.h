#pragma once
// Which of a check's new messages are junk: bogofilter's verdict on their
// Maildir copies (one run for them all) or the provider's in their header,
// unless the sender is in the address book. Unsure is not junk, and so is
// every message when the filter cannot run.

#include "core/program_paths.h"

#include <QSet>
#include <QString>

#include <vector>

namespace lumopet {

struct JunkCandidate {
    // The message's copy in the received Maildir; empty when it has none
    // (a part of a split message still waiting): then only the header
    // counts.
    QString copyPath;
    bool providerMarksJunk = false;
    // The record's sender, "名前 <a@b>" or "a@b".
    QString sender;
};

struct JunkSorting {
    std::vector<bool> junk;  // one per candidate
    // For the user, once: bogofilter did not run, or its damaged word list
    // was set aside.
    QString problem;
};

JunkSorting SortJunk(const ProgramPaths& paths, const std::vector<JunkCandidate>& candidates);

// The addresses of the address book's entries, in lower case; none when
// the book is missing or cannot be read (the filter then judges every
// sender alike rather than stop the check).
QSet<QString> AddressBookAddresses(const ProgramPaths& paths);

}  // namespace lumopet
