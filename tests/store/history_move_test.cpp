// A move between histories in the order that keeps the record somewhere:
// nothing is appended for a record that is no longer the one the user saw,
// and a removal that fails (as a kill after the append would leave it)
// leaves the record in both histories, said so.

#include "store/history_file.h"
#include "store/history_move.h"
#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

HistoryRecord record(int n) {
    return {QStringLiteral("件名%1").arg(n), QStringLiteral("s%1@example.jp").arg(n), QStringLiteral("2026/12/10"),
            QStringLiteral("本文%1").arg(n), 1};
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct MoveCase {
    const char* name;
    int shownAs;        // the record whose columns the user saw at number 2
    bool removalFails;
    bool appended;
    const char* failure;  // how the failure begins; empty for none
};

class HistoryMoveOrder : public ::testing::TestWithParam<MoveCase> {};

TEST_P(HistoryMoveOrder, KeepsTheRecordInOneHistoryAtLeast) {
    const MoveCase& c = GetParam();
    const test::TempFolder folder;
    const QString from = folder.path("from.data"), to = folder.path("to.data");
    for (int n = 1; n <= 2; ++n) ASSERT_TRUE(AppendRecord(from, record(n), History::Received));
    const QByteArray before = bytesOf(from);
    int removals = 0;
    const HistoryMove move = MoveHistoryRecord(
        {from, folder.path("from.tmp")}, 2, record(c.shownAs), to,
        [&](const QString&, const QString&, int, const HistoryRecord&) -> Status {
            ++removals;
            if (c.removalFails) return Failure{QStringLiteral("killed")};
            return success();
        });
    EXPECT_EQ(move.appended, c.appended);
    EXPECT_EQ(removals, c.appended ? 1 : 0) << "the source is touched only once the record is safe";
    EXPECT_EQ(bytesOf(from), before);
    EXPECT_EQ(bytesOf(to), c.appended ? before.mid(kHistoryRecordSize) : QByteArray());
    ASSERT_FALSE(move.status.ok());
    EXPECT_TRUE(move.status.error().startsWith(QString::fromUtf8(c.failure))) << move.status.error().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Moves, HistoryMoveOrder,
    ::testing::Values(MoveCase{"SourceChangedSinceListed", 1, false, false, "履歴ファイル「"},
                      MoveCase{"RemovalFails", 2, true, true, "メールは「"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
