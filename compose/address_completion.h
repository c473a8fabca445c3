#pragma once
// Completing addresses as the user types them into 宛先, CC and BCC. The
// people the user knows come from the address book and from the histories
// (the senders of received mail, the recipients of sent mail), each once by
// address. A query is the address being typed, the text after the last
// separator; it matches a name or an address the way the history search
// matches (width, case and katakana against hiragana make no difference),
// those that start with it first.
//
// Plain logic, no widgets: compose/address_completer.h puts it under a box.

#include "core/program_paths.h"

#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace lumopet {

// How many people the list under the box offers at most.
inline constexpr int kCompletionLimit = 12;

struct KnownPerson {
    QString name;     // empty when only the address is known
    QString address;  // as first met, its case kept

    // What goes into the box: "名前 <address>", or the address alone. A name
    // holding a separator, a quote or another of RFC 5322's specials is
    // quoted, so that the box still reads as a list afterwards.
    QString display() const;
};

// One address text as the histories and the address book hold it:
// "a@example.jp", "名前 <a@example.jp>", "\"名前\" <a@example.jp>" or
// "a@example.jp (名前)". Nothing when it is not one whole address: a column
// cut short in the middle of its address (the history keeps 90 bytes of the
// sender), a second address, blanks or brackets inside the address, no "@"
// between a local part and a domain.
std::optional<KnownPerson> ParsePerson(QStringView text);

// Where the address at cursor lies in a box's text: [start, end), without
// the blanks and line breaks around it; end is the next separator or the
// end of the text.
struct TypedSegment {
    qsizetype start = 0;
    qsizetype end = 0;
};
TypedSegment SegmentAt(QStringView text, qsizetype cursor);

// What is typed of that address: the text from the segment's start to the
// cursor (empty when the cursor stands in the blanks before it).
QString QueryAt(QStringView text, qsizetype cursor);

enum class PersonSource { AddressBook, History };

class AddressIndex {
public:
    // Adds a person. One already known by the address (its case ignored)
    // counts one more use and takes the name when it had none; a name the
    // user gave in the address book is never replaced, and a later name from
    // the histories replaces an earlier one (the histories run from the
    // oldest).
    void add(const KnownPerson& person, PersonSource source);
    // add for each address the text holds (ParsePerson); texts that are not
    // an address are left out.
    void addText(QStringView text, PersonSource source);

    // At most limit people whose name or address holds the query (in the
    // search's form): those that start with it first, then those that
    // contain it; within each, the address book's people first, then by how
    // often they were met, then in the order they were added. An empty query
    // (blanks only) finds nobody.
    std::vector<KnownPerson> complete(QStringView query, int limit = kCompletionLimit) const;

    qsizetype size() const { return static_cast<qsizetype>(entries_.size()); }

private:
    struct Entry {
        KnownPerson person;
        QString nameForm;
        QString addressForm;
        bool fromBook = false;
        int uses = 0;
    };
    void setName(Entry& entry, const QString& name);
    // Whether a comes before b among matches of the same kind.
    bool ranksBefore(size_t a, size_t b) const;

    std::vector<Entry> entries_;
    QHash<QString, size_t> byAddress_;  // the address case-folded
};

// The files the people come from.
struct AddressSources {
    QString addressBook;      // Srndata20.data
    QString receivedHistory;  // srndata2.data: Column2, the sender
    QString sentHistory;      // srndata5.data: Column3, the recipients as typed
};
AddressSources AddressSourcesOf(const ProgramPaths& paths);

// Reads the sources into an index: the live entries of the address book,
// the recipients of sent mail, the senders of received mail. A source that
// is missing or cannot be read adds nobody. Reads files: run it off the
// window thread.
AddressIndex BuildAddressIndex(const AddressSources& sources);

}  // namespace lumopet
