#include "compose/address_completion.h"

#include "mail/address_list.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/history_listing.h"
#include "viewer/search_text.h"

#include <QFileInfo>

#include <algorithm>

namespace lumopet {

namespace {

bool IsSeparator(QChar c) { return c == u',' || c == u';' || c == u'、'; }

// Blanks of both widths and line breaks: the 宛先 box has several lines.
bool IsBlank(QChar c) { return c.isSpace(); }

// The positions of the separators outside quoted strings ("山田, 太郎" is
// one name), comments and angle brackets, where mail::SplitRecipientText
// splits the box for the send (which gives the pieces, not where they
// lie). A backslash inside quotes or a comment takes the next character as
// it is.
std::vector<qsizetype> SeparatorsOf(QStringView text) {
    std::vector<qsizetype> found;
    bool quoted = false;
    bool bracketed = false;
    int comment = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((quoted || comment > 0) && c == u'\\') ++i;
        else if (quoted) quoted = c != u'"';
        else if (c == u'(') ++comment;
        else if (comment > 0) comment -= c == u')' ? 1 : 0;
        else if (c == u'"') quoted = true;
        else if (c == u'<') bracketed = true;
        else if (c == u'>') bracketed = false;
        else if (!bracketed && IsSeparator(c)) found.push_back(i);
    }
    return found;
}

// RFC 5322 3.2.3's specials, and our own separator "、": a name holding one
// is quoted when it goes into a box.
bool NeedsQuotes(QStringView name) {
    static const QString kSpecials = QStringLiteral("()<>[]:;@\\,.\"、");
    return std::any_of(name.begin(), name.end(), [](QChar c) { return kSpecials.contains(c); });
}

QString Quoted(QStringView name) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : name) {
        if (c == u'"' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

// A display name without its quotes and escapes, and without blanks around.
QString Unquoted(QStringView name) {
    name = name.trimmed();
    if (name.size() < 2 || !name.startsWith(u'"') || !name.endsWith(u'"')) return name.toString();
    QString plain;
    for (qsizetype i = 1; i + 1 < name.size(); ++i) {
        if (name[i] == u'\\' && i + 2 < name.size()) ++i;
        plain += name[i];
    }
    return plain.trimmed();
}

// local@domain with nothing in it that an address cannot hold unquoted.
bool IsPlainAddress(QStringView address) {
    static const QString kRefused = QStringLiteral("()<>[]:;,\\\"、");
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at + 1 >= address.size() || address.indexOf(u'@', at + 1) >= 0) return false;
    const QStringView domain = address.mid(at + 1);
    if (domain.startsWith(u'.') || domain.endsWith(u'.') || domain.contains(QStringLiteral(".."))) return false;
    return std::none_of(address.begin(), address.end(),
                        [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control || kRefused.contains(c); });
}

std::optional<KnownPerson> PersonOf(QStringView name, QStringView address) {
    address = address.trimmed();
    if (!IsPlainAddress(address)) return std::nullopt;
    // A tab or a line break would go into the box with the name, and the
    // send refuses a recipient that holds one.
    QString plainName = Unquoted(name);
    for (QChar& c : plainName) {
        if (c.category() == QChar::Other_Control) c = u' ';
    }
    return KnownPerson{plainName.simplified(), address.toString()};
}

}  // namespace

QString KnownPerson::display() const {
    if (name.isEmpty()) return address;
    return (NeedsQuotes(name) ? Quoted(name) : name) + QStringLiteral(" <") + address + u'>';
}

std::optional<KnownPerson> ParsePerson(QStringView text) {
    text = text.trimmed();
    if (text.isEmpty()) return std::nullopt;
    // "名前 <address>": the bracket after the name (a quoted name may hold one).
    qsizetype open = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size() && open < 0; ++i) {
        if (quoted && text[i] == u'\\') ++i;
        else if (text[i] == u'"') quoted = !quoted;
        else if (!quoted && text[i] == u'<') open = i;
    }
    if (open >= 0) {
        // A column cut short ends inside the brackets: that address is not
        // the sender's, whatever it looks like.
        if (!text.endsWith(u'>')) return std::nullopt;
        return PersonOf(text.left(open), text.mid(open + 1, text.size() - open - 2));
    }
    // "address (名前)": RFC 5322's comment, as older mailers wrote the name.
    if (text.endsWith(u')')) {
        const qsizetype comment = text.indexOf(u'(');
        if (comment <= 0) return std::nullopt;
        return PersonOf(text.mid(comment + 1, text.size() - comment - 2), text.left(comment));
    }
    return PersonOf(QStringView(), text);
}

TypedSegment SegmentAt(QStringView text, qsizetype cursor) {
    cursor = std::clamp<qsizetype>(cursor, 0, text.size());
    TypedSegment segment{0, text.size()};
    for (const qsizetype separator : SeparatorsOf(text)) {
        if (separator < cursor) segment.start = separator + 1;
        else {
            segment.end = separator;
            break;
        }
    }
    while (segment.start < segment.end && IsBlank(text[segment.start])) ++segment.start;
    while (segment.end > segment.start && IsBlank(text[segment.end - 1])) --segment.end;
    return segment;
}

QString QueryAt(QStringView text, qsizetype cursor) {
    cursor = std::clamp<qsizetype>(cursor, 0, text.size());
    const TypedSegment segment = SegmentAt(text, cursor);
    if (cursor <= segment.start) return QString();
    return text.mid(segment.start, std::min(cursor, segment.end) - segment.start).toString();
}

void AddressIndex::setName(Entry& entry, const QString& name) {
    entry.person.name = name;
    entry.nameForm = SearchForm(name);
}

void AddressIndex::add(const KnownPerson& person, PersonSource source) {
    const bool fromBook = source == PersonSource::AddressBook;
    const QString key = person.address.toCaseFolded();
    const auto known = byAddress_.constFind(key);
    if (known == byAddress_.constEnd()) {
        Entry entry{person, QString(), SearchForm(person.address), fromBook, fromBook ? 0 : 1};
        setName(entry, person.name);
        byAddress_.insert(key, entries_.size());
        entries_.push_back(std::move(entry));
        return;
    }
    Entry& entry = entries_[*known];
    if (!fromBook) ++entry.uses;
    if (!person.name.isEmpty() && (entry.person.name.isEmpty() || !entry.fromBook)) setName(entry, person.name);
    entry.fromBook = entry.fromBook || fromBook;
}

void AddressIndex::addText(QStringView text, PersonSource source) {
    for (const QString& piece : mail::SplitRecipientText(text.toString())) {
        if (const auto person = ParsePerson(piece)) add(*person, source);
    }
}

bool AddressIndex::ranksBefore(size_t a, size_t b) const {
    const Entry& x = entries_[a];
    const Entry& y = entries_[b];
    if (x.fromBook != y.fromBook) return x.fromBook;
    if (x.uses != y.uses) return x.uses > y.uses;
    return a < b;
}

std::vector<KnownPerson> AddressIndex::complete(QStringView query, int limit) const {
    const QString form = SearchForm(query.trimmed());
    if (form.isEmpty() || limit <= 0) return {};
    std::vector<size_t> starting;
    std::vector<size_t> containing;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        if (entry.nameForm.startsWith(form) || entry.addressForm.startsWith(form)) starting.push_back(i);
        else if (entry.nameForm.contains(form) || entry.addressForm.contains(form)) containing.push_back(i);
    }
    const auto byRank = [this](size_t a, size_t b) { return ranksBefore(a, b); };
    std::vector<KnownPerson> found;
    for (std::vector<size_t>* group : {&starting, &containing}) {
        const size_t room = static_cast<size_t>(limit) - found.size();
        const size_t taken = std::min(room, group->size());
        std::partial_sort(group->begin(), group->begin() + static_cast<std::ptrdiff_t>(taken), group->end(), byRank);
        for (size_t k = 0; k < taken; ++k) found.push_back(entries_[(*group)[k]].person);
    }
    return found;
}

AddressSources AddressSourcesOf(const ProgramPaths& paths) {
    return {AddressBookPath(paths), HistoryPath(paths, History::Received), HistoryPath(paths, History::Sent)};
}

namespace {

// The listing kept beside a history is one read of about a megabyte; when
// there is none yet, its columns are read from the records (making the
// listing would read every record whole for its fingerprints, 400 MB for a
// full history, which is the viewer's business, not the compose window's).
std::vector<HistoryListEntry> ListingOf(const QString& history) {
    if (!QFileInfo(history).isFile()) return {};
    if (QFileInfo::exists(HistoryListingPath(history))) return ReadListingThroughCache(history);
    return ReadListing(history);
}

}  // namespace

AddressIndex BuildAddressIndex(const AddressSources& sources) {
    AddressIndex index;
    // Reading the book creates it when it is missing: that is the address
    // book window's business.
    if (QFileInfo(sources.addressBook).isFile()) {
        if (const auto records = ReadAddressRecords(sources.addressBook)) {
            for (const AddressRecord& record : records.value()) {
                if (record.Live == 0) continue;
                const auto person = ParsePerson(BareEntryText(record.EntryAddress).trimmed());
                if (!person) continue;
                const QString name = BareEntryText(record.EntryName).trimmed();
                index.add({name.isEmpty() ? person->name : name, person->address}, PersonSource::AddressBook);
            }
        }
    }
    for (const HistoryListEntry& entry : ListingOf(sources.sentHistory)) index.addText(entry.Column3, PersonSource::History);
    // The sender is one address, its name as the From header had it (a name
    // may hold a separator there).
    for (const HistoryListEntry& entry : ListingOf(sources.receivedHistory)) {
        if (const auto person = ParsePerson(entry.Column2)) index.add(*person, PersonSource::History);
    }
    return index;
}

}  // namespace lumopet
