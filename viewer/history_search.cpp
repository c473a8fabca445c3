#include "viewer/history_search.h"

#include "core/unique_fd.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"
#include "viewer/search_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <thread>

namespace lumopet {
namespace {

namespace layout = record_layout;

constexpr qint64 S = kHistoryRecordSize;
// Records read at a time: about 3 MB, large enough for the disk to stream
// and small enough that a cancelled search stops within a millisecond or two.
constexpr qint64 kBlockRecords = 256;

// The bytes of a field as DecodeField reads them: up to the first NUL,
// without the blanks around. NUL and 0x20 are never the second byte of a
// double-byte character, so cutting the bytes cuts the text the same way.
QByteArrayView FieldBytes(const char* record, RecordField field) {
    const char* begin = record + field.offset;
    const char* end = static_cast<const char*>(std::memchr(begin, 0, static_cast<size_t>(field.size)));
    if (!end) end = begin + field.size;
    // Most of a body is the blank padding after it: eight bytes at a time.
    constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
    while (end - begin >= 8) {
        std::uint64_t word;
        std::memcpy(&word, end - 8, 8);
        if (word != kBlanks) break;
        end -= 8;
    }
    while (end > begin && end[-1] == ' ') --end;
    while (begin < end && *begin == ' ') ++begin;
    return QByteArrayView(begin, end - begin);
}

constexpr RecordField kSearched[] = {layout::Subject, layout::Column2, layout::Column3, layout::Body};

struct Part {
    qint64 first = 0;  // record index from 0
    qint64 end = 0;
    std::vector<int> found;
    bool cancelled = false;
    bool cutShort = false;  // the file ended within the part
};

void SearchPart(int fd, const QString& query, const Cp932Prefilter& prefilter, const std::atomic<bool>& cancel,
                Part& part) {
    std::unique_ptr<char[]> block(new char[static_cast<size_t>(kBlockRecords * S)]);
    QString form;
    form.reserve(layout::Body.size);
    for (qint64 at = part.first; at < part.end; at += kBlockRecords) {
        if (cancel.load(std::memory_order_relaxed)) {
            part.cancelled = true;
            return;
        }
        const qint64 count = std::min(kBlockRecords, part.end - at);
        const qint64 got = ReadAt(fd, block.get(), count * S, at * S);
        // A file cut short since its length was taken: what is left of it
        // is not a record.
        const qint64 complete = got < 0 ? 0 : got / S;
        for (qint64 i = 0; i < complete; ++i) {
            const char* record = block.get() + i * S;
            bool match = false;
            for (const RecordField field : kSearched) {
                if (match) break;
                const QByteArrayView bytes = FieldBytes(record, field);
                if (!prefilter.mayContain(bytes)) continue;
                form.clear();
                AppendSearchFormOfCp932(bytes, form);
                match = form.contains(query);
            }
            if (match) part.found.push_back(static_cast<int>(at + i + 1));
        }
        if (complete < count) {
            part.cutShort = true;
            return;
        }
    }
}

}  // namespace

HistorySearchResult SearchHistory(const QString& file, QStringView query, const std::atomic<bool>& cancel,
                                  int threads) {
    HistorySearchResult result;
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) return result;
    const qint64 count = std::max<qint64>(FileLength(fd.get()), 0) / S;
    ::posix_fadvise(fd.get(), 0, count * S, POSIX_FADV_SEQUENTIAL);
    const QString form = SearchForm(query);
    if (form.isEmpty()) {
        // Everything matches: the length alone says which records there are.
        for (qint64 n = 1; n <= count; ++n) result.records.push_back(static_cast<int>(n));
        return result;
    }

    const int parts = static_cast<int>(std::clamp<qint64>(threads, 1, std::max<qint64>(count / kBlockRecords, 1)));
    std::vector<Part> split(static_cast<size_t>(parts));
    for (int p = 0; p < parts; ++p) {
        split[p].first = count * p / parts;
        split[p].end = count * (p + 1) / parts;
    }
    const Cp932Prefilter prefilter(form);
    std::vector<std::thread> helpers;
    for (int p = 1; p < parts; ++p)
        helpers.emplace_back(SearchPart, fd.get(), std::cref(form), std::cref(prefilter), std::cref(cancel),
                             std::ref(split[p]));
    SearchPart(fd.get(), form, prefilter, cancel, split[0]);
    for (std::thread& helper : helpers) helper.join();

    for (const Part& part : split) {
        if (part.cancelled) {
            result.cancelled = true;
            result.records.clear();
            return result;
        }
        result.records.insert(result.records.end(), part.found.begin(), part.found.end());
        // Numbers stop at the first record that is not whole, as the list's do.
        if (part.cutShort) break;
    }
    return result;
}

}  // namespace lumopet
