// Not a test: prints what address completion costs at the largest books: a
// full address book (32,767 entries) and a full received history (32,766
// records), every sender a different person, so that the index holds
// 65,533 people. It times reading them into the index (as the compose
// window does on a worker when it opens), with and without the listing
// beside the history, and each keystroke of a few addresses typed letter
// by letter, which is what the user waits for.
//
//   address_completion_benchmark [rounds]   (default 5)

#include "compose/address_completion.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/history_listing.h"
#include "tests/support/history_bench.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lumopet;

namespace {

constexpr int kBookEntries = kMaxAddressEntries;

const QStringList kFamilyNames{QStringLiteral("山田"), QStringLiteral("田中"), QStringLiteral("佐藤"),
                               QStringLiteral("ヤマモト"), QStringLiteral("ｽｽﾞｷ"), QStringLiteral("Tanaka"),
                               QStringLiteral("Suzuki"), QStringLiteral("たかはし")};

void writeBook(const QString& file) {
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly)) bench::fail("cannot create the address book");
    QByteArray bytes;
    for (int n = 0; n < kBookEntries; ++n) {
        const QString name = kFamilyNames[n % kFamilyNames.size()] + QStringLiteral(" 社員%1").arg(n);
        bytes += EncodeAddressRecord(name, QStringLiteral("staff%1@company%2.co.jp").arg(n).arg(n % 50));
    }
    if (out.write(bytes) != bytes.size()) bench::fail("cannot write the address book");
}

struct Times {
    std::vector<double> seconds;
    double median() {
        std::sort(seconds.begin(), seconds.end());
        return seconds[seconds.size() / 2];
    }
    double worst() const { return *std::max_element(seconds.begin(), seconds.end()); }
};

// `rounds` runs of building the index, each after `before`.
Times TimeIndex(int rounds, const AddressSources& sources, const std::function<void()>& before, AddressIndex* kept) {
    Times times;
    for (int round = 0; round < rounds; ++round) {
        before();
        const double start = bench::now();
        AddressIndex index = BuildAddressIndex(sources);
        times.seconds.push_back(bench::now() - start);
        if (kept) *kept = std::move(index);
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    bench::programName = "address_completion_benchmark";
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir scratch;
    if (!scratch.isValid()) bench::fail("no temporary folder");
    bench::scratchFolder = scratch.path();
    const AddressSources sources{scratch.filePath(QStringLiteral("Srndata20.data")),
                                 scratch.filePath(QStringLiteral("srndata2.data")),
                                 scratch.filePath(QStringLiteral("srndata5.data"))};
    writeBook(sources.addressBook);
    // Every sender a different person.
    bench::writeHistory(sources.receivedHistory, [](int n) {
        return QStringLiteral("%1 様 <customer%2@mail%3.example.com>").arg(kFamilyNames[n % kFamilyNames.size()]).arg(n).arg(n % 300);
    });
    std::printf("address book: %d entries; received history: %d records (%.1f MB)\n", kBookEntries, bench::kRecords,
                static_cast<double>(QFile(sources.receivedHistory).size()) / 1e6);

    // From the disk, as at the first compose window after a start: the
    // files dropped from the page cache (only these: the machine is shared).
    const QString listing = HistoryListingPath(sources.receivedHistory);
    const auto dropCaches = [&] {
        for (const QString& file : {sources.addressBook, sources.receivedHistory, listing})
            if (QFile::exists(file)) bench::evict(file);
    };
    RefreshHistoryListing(sources.receivedHistory);
    AddressIndex index;
    Times cached = TimeIndex(rounds, sources, [] {}, &index);
    Times coldListing = TimeIndex(rounds, sources, dropCaches, nullptr);
    QFile::rename(listing, listing + QStringLiteral(".kept"));
    Times coldRecords = TimeIndex(rounds, sources, dropCaches, nullptr);
    QFile::rename(listing + QStringLiteral(".kept"), listing);
    std::printf("index: %lld people\n", static_cast<long long>(index.size()));
    std::printf("index built from the disk, through the listing:           median %.3f s, worst %.3f s\n",
                coldListing.median(), coldListing.worst());
    std::printf("index built from the disk, columns read from the records: median %.3f s, worst %.3f s\n",
                coldRecords.median(), coldRecords.worst());
    std::printf("index built through the listing, files in the page cache: median %.3f s, worst %.3f s\n",
                cached.median(), cached.worst());

    // Typed letter by letter: the first letters match the most people.
    const QStringList typed{QStringLiteral("tanaka"), QStringLiteral("customer12345"), QStringLiteral("やまだ"),
                            QStringLiteral("ｽｽﾞｷ"), QStringLiteral("company7"), QStringLiteral("zzzz")};
    Times keys;
    QString worstText;
    for (int round = 0; round < rounds; ++round) {
        for (const QString& text : typed) {
            for (qsizetype length = 1; length <= text.size(); ++length) {
                const double start = bench::now();
                const auto found = index.complete(text.left(length));
                keys.seconds.push_back(bench::now() - start);
                if (keys.seconds.back() >= keys.worst()) worstText = text.left(length);
                if (found.size() > static_cast<size_t>(kCompletionLimit)) bench::fail("more than the limit");
            }
        }
    }
    const double worst = keys.worst();
    std::printf("one keystroke (%zu queries): median %.1f ms, worst %.1f ms (\"%s\"); target under 50 ms\n",
                keys.seconds.size(), keys.median() * 1e3, worst * 1e3, worstText.toUtf8().constData());
    QDir(scratch.path()).removeRecursively();
    return 0;
}
