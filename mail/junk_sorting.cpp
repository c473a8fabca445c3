#include "mail/junk_sorting.h"

#include "mail/address_list.h"
#include "mail/junk_filter.h"
#include "store/address_book.h"

#include <QFileInfo>

namespace lumopet {

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
        const junk::Classification classified = junk::ClassifyFiles(junk::FilterFor(paths), files);
        sorting.problem = classified.problem;
        if (classified.ran && classified.spam.size() == fileOf.size()) {
            for (size_t k = 0; k < fileOf.size(); ++k) spam[fileOf[k]] = classified.spam[k];
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
