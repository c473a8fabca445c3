// Removing the records a search showed, together: only they go, only when
// every one of them is still what the list showed, with one compaction; the
// received history's fingerprints are those of the records that went.

#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "viewer/history_view.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumopet {
namespace {

HistoryRecord record(int n) {
    return {QStringLiteral("件名%1").arg(n), QStringLiteral("送信者%1 <s%1@x.jp>").arg(n),
            QStringLiteral("2026/12/%1").arg(n, 2, 10, QChar(u'0')), QStringLiteral("本文%1\r\n二行目").arg(n), 1};
}

enum class Fault { None, OneChanged, CopyBlocked };

struct RemovalCase {
    const char* name;
    History history;
    std::vector<int> listed;  // as the list showed them, from a file of five
    Fault fault;
    bool ok;
    QStringList left;  // subjects of the file afterwards, "(marked)" for a marked one
    int removed;
    std::vector<int> fingerprinted;
};

class DeleteHistoryRecordsTest : public ::testing::TestWithParam<RemovalCase> {};

TEST_P(DeleteHistoryRecordsTest, RemovesExactlyTheListedRecords) {
    const RemovalCase& c = GetParam();
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("srndata2.data"));
    const QString copy = folder.path(QStringLiteral("SRNDATA2.TMP"));
    for (int n = 1; n <= 5; ++n) ASSERT_TRUE(AppendRecord(file, record(n), c.history).ok());

    std::vector<ListedRecord> listed;
    for (int n : c.listed) {
        const HistoryRecord r = record(n);
        listed.push_back({n, {r.Subject, r.Column2, r.Column3}});
    }
    if (c.fault == Fault::OneChanged) {
        // Record 4 is another message since the list was read.
        QFile history(file);
        ASSERT_TRUE(history.open(QIODevice::ReadWrite));
        history.seek(3 * kHistoryRecordSize);
        history.write(EncodeRecord(record(9), c.history));
    }
    if (c.fault == Fault::CopyBlocked) {
        ASSERT_TRUE(QDir().mkpath(copy));
    }

    const RecordsRemoval removal = DeleteHistoryRecords(file, copy, c.history, listed);
    EXPECT_EQ(removal.status.ok(), c.ok) << (removal.status ? std::string() : removal.status.error().toStdString());
    QStringList left;
    for (const HistoryRecord& r : ReadAll(file)) left << r.Subject + (r.Live ? "" : "(marked)");
    EXPECT_EQ(left, c.left);
    QList<QByteArray> fingerprints;
    for (int n : c.fingerprinted) fingerprints << RecordFingerprint(record(n));
    EXPECT_EQ(removal.fingerprints, fingerprints);
    EXPECT_EQ(removal.removed, c.removed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteHistoryRecordsTest,
    ::testing::Values(
        RemovalCase{"TwoApart", History::Received, {2, 4}, Fault::None, true, {"件名1", "件名3", "件名5"}, 2, {2, 4}},
        RemovalCase{"UnsortedAndTwice", History::Received, {4, 2, 4}, Fault::None, true, {"件名1", "件名3", "件名5"}, 2, {2, 4}},
        RemovalCase{"SentHasNoFingerprints", History::Sent, {1, 5}, Fault::None, true, {"件名2", "件名3", "件名4"}, 2, {}},
        // One record out of date: the list is not the file, none goes.
        RemovalCase{"OneChangedNoneGoes", History::Received, {2, 4}, Fault::OneChanged, false,
                    {"件名1", "件名2", "件名3", "件名9", "件名5"}, 0, {}},
        RemovalCase{"PastTheEndNoneGoes", History::Received, {2, 7}, Fault::None, false,
                    {"件名1", "件名2", "件名3", "件名4", "件名5"}, 0, {}},
        // Marked and kept: they go at the next compaction that works.
        RemovalCase{"CompactionBlocked", History::Received, {2, 4}, Fault::CopyBlocked, false,
                    {"件名1", "件名2(marked)", "件名3", "件名4(marked)", "件名5"}, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
