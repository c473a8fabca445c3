#include "mail/junk_sorting.h"

#include "mail/address_list.h"
#include "mail/junk_filter.h"
#include "store/address_book.h"

#include "core/unique_fd.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <numeric>

namespace lumopet {
namespace {

// The start of a copy where its charset is looked for: the header, and the
// first part's header of most multipart messages.
constexpr qsizetype kCharsetLookBytes = 4096;

// The first charset the copy names, in lower case; empty when it names
// none or cannot be read (bogofilter then says what it says of it).
QByteArray charsetOf(const QString& path) {
    const UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat about {};
    if (!file.ok() || ::fstat(file.get(), &about) != 0 || !S_ISREG(about.st_mode)) return {};
    QByteArray head(kCharsetLookBytes, Qt::Uninitialized);
    const ssize_t got = ::read(file.get(), head.data(), static_cast<size_t>(head.size()));
    head.truncate(std::max<ssize_t>(got, 0));
    head = head.toLower();
    const qsizetype at = head.indexOf("charset=");
    if (at < 0) return {};
    qsizetype start = at + 8;
    if (start < head.size() && head[start] == '"') ++start;
    qsizetype end = start;
    while (end < head.size() && !QByteArrayView("\"; \t\r\n").contains(head[end])) ++end;
    return head.mid(start, end - start);
}

// The files in the order bogofilter reads them fastest: grouped by
// charset. It loads its converter again (for ISO-2022-JP, four shared
// libraries) whenever the charset changes from one message to the next; a
// thousand everyday messages, ISO-2022-JP and UTF-8 by turns, took it
// 0.4 s, the same ones grouped 0.1 s. Gives the position in files of each
// file in that order.
std::vector<size_t> readingOrder(const QStringList& files) {
    std::vector<QByteArray> charsets;
    for (const QString& file : files) charsets.push_back(charsetOf(file));
    std::vector<size_t> order(charsets.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return charsets[a] < charsets[b]; });
    return order;
}

}  // namespace

QSet<QString> AddressBookAddresses(const ProgramPaths& paths) {
    QSet<QString> addresses;
    const QString book = AddressBookPath(paths);
    // Reading makes a missing book; a check has no business making files.
    if (!QFileInfo::exists(book)) return addresses;
    const auto records = ReadAddressRecords(book);
    if (!records) return addresses;
    for (const AddressRecord& entry : records.value()) {
        if (entry.Live != 1) continue;
        const QString address = mail::AddressOf(BareEntryText(entry.EntryAddress)).toLower();
        if (!address.isEmpty()) addresses.insert(address);
    }
    return addresses;
}

JunkSorting SortJunk(const ProgramPaths& paths, const std::vector<JunkCandidate>& candidates) {
    JunkSorting sorting;
    sorting.junk.assign(candidates.size(), false);
    if (candidates.empty()) return sorting;

    QStringList files;
    std::vector<size_t> fileOf;  // the candidate of each file
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].copyPath.isEmpty()) continue;
        files << candidates[i].copyPath;
        fileOf.push_back(i);
    }
    std::vector<bool> spam(candidates.size(), false);
    if (!files.isEmpty()) {
        const std::vector<size_t> order = readingOrder(files);
        QStringList ordered;
        for (const size_t k : order) ordered << files[static_cast<qsizetype>(k)];
        const junk::Classification classified = junk::ClassifyFiles(junk::FilterFor(paths), ordered);
        sorting.problem = classified.problem;
        // Its answers come in the order given: each goes back to its file.
        if (classified.ran && classified.spam.size() == fileOf.size()) {
            for (size_t j = 0; j < order.size(); ++j) spam[fileOf[order[j]]] = classified.spam[j];
        }
    }
    const QSet<QString> known = AddressBookAddresses(paths);
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (!spam[i] && !candidates[i].providerMarksJunk) continue;
        // Someone the user keeps in the book is never junk, whatever the
        // words or the provider say: a friend's mail must not be missed.
        const QString sender = mail::AddressOf(candidates[i].sender).toLower();
        sorting.junk[i] = sender.isEmpty() || !known.contains(sender);
    }
    return sorting;
}

}  // namespace lumopet
