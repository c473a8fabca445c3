#pragma once
// Which of a check's new messages are junk: bogofilter's verdict on their
// Maildir copies (one run a check) or the provider's in their header,
// unless the sender is in the address book. Unsure is not junk, and so is
// every message when the filter cannot run.

#include "core/program_paths.h"
#include "mail/junk_filter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <optional>
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
    // The first charset the message names (JunkCharsetOf), when the check
    // knows it from the source it fetched; else it is read from the copy.
    std::optional<QByteArray> charset;
};

// The first charset named in the start of a message, in lower case; empty
// when it names none.
QByteArray JunkCharsetOf(QByteArrayView start);

struct JunkSorting {
    std::vector<bool> junk;  // one per candidate
    // For the user, once: bogofilter did not run, or its damaged word list
    // was set aside.
    QString problem;
};

JunkSorting SortJunk(const ProgramPaths& paths, const std::vector<JunkCandidate>& candidates);

// The same for a check that hands bogofilter its copies while it fetches:
// read() gives it the copies of a batch of candidates written so far (not
// yet flushed), sort() the rest and the verdicts.
class JunkSorter {
public:
    explicit JunkSorter(const ProgramPaths& paths);
    void read(const std::vector<JunkCandidate>& written);
    // Whether a candidate is junk, when that is known already: its copy
    // was read and bogofilter has answered, it has no copy, or its verdict
    // needs no words. Never waits.
    std::optional<bool> junkSoFar(const JunkCandidate& candidate);
    // Copies read() was not given are read now; a copy given twice is
    // read once.
    JunkSorting sort(const std::vector<JunkCandidate>& candidates);

private:
    // The verdict on a candidate, from bogofilter's (spam) and the header's.
    bool junk(const JunkCandidate& candidate, bool spam);
    bool senderInBook(const JunkCandidate& candidate);
    // A sender in the book, or the provider's verdict: bogofilter's words
    // could not change it, and it is not asked (mail from friends is much
    // of many people's mail).
    bool decidedWithoutWords(const JunkCandidate& candidate);

    const ProgramPaths& paths_;
    junk::BulkClassifier classifier_;
    QHash<QString, size_t> given_;  // each copy's place among those given
    std::optional<QSet<QString>> book_;  // AddressBookAddresses, read once
};

// The addresses of the address book's entries, in lower case; none when
// the book is missing or cannot be read (the filter then judges every
// sender alike rather than stop the check).
QSet<QString> AddressBookAddresses(const ProgramPaths& paths);

}  // namespace lumopet
