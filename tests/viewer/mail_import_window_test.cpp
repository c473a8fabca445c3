// The メールの取り込み window, offscreen: the source chosen through the
// program's dialogs, the import off the window thread with the window
// answering meanwhile, the count, キャンセル, and the sentence at the end.

#include "core/program.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "viewer/mail_import_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

QByteArray mboxOf(int count) {
    QByteArray mbox;
    const QByteArray body = QByteArray("本文の行です。\n").repeated(20);
    for (int n = 1; n <= count; ++n)
        mbox += "From - Thu Dec 10 09:00:00 2020\nMessage-ID: <w" + QByteArray::number(n) +
                "@example.jp>\nSubject: =?UTF-8?B?" + QStringLiteral("取り込み %1").arg(n).toUtf8().toBase64() +
                "?=\nFrom: =?UTF-8?B?" + QStringLiteral("山田 太郎").toUtf8().toBase64() +
                "?= <taro@example.jp>\nContent-Type: text/plain; charset=UTF-8\n\n" + body + "\n";
    return mbox;
}

class ImportWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        NMailInitializeWinSock();
        ASSERT_TRUE(program.paths.createFolders());
    }
    void TearDown() override {
        SetOpenFileChooser(nullptr);
        SetOpenFilesChooser(nullptr);
        SetFolderChooser(nullptr);
    }
    int records() const { return static_cast<int>(ReadAll(HistoryPath(program.paths, History::Received)).size()); }
    // Waits for the import to end, the window's events going on meanwhile;
    // returns the longest the window thread went without an event.
    qint64 waitForEnd(MailImportWindow& window) {
        QElapsedTimer since;
        since.start();
        qint64 longestGap = 0;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, since.elapsed());
            since.restart();
        });
        tick.start();
        QSignalSpy done(&window, &MailImportWindow::importFinished);
        EXPECT_TRUE(done.wait(120000));
        return longestGap;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
};

// Each kind of source through its own dialog helper.
struct ChooserCase {
    const char* name;
    QRadioButton* MailImportWindow::*choice;
    MailSourceKind kind;
    int expected;
};

class ImportWindowChoosers : public ImportWindowTest, public ::testing::WithParamInterface<ChooserCase> {};

TEST_P(ImportWindowChoosers, ChosenSourceIsTakenIn) {
    const ChooserCase& c = GetParam();
    folder.write(QStringLiteral("a.mbox"), mboxOf(3));
    folder.write(QStringLiteral("one.eml"), mboxOf(1).sliced(mboxOf(1).indexOf('\n') + 1));
    folder.write(QStringLiteral("two.eml"), "Message-ID: <two@example.jp>\nSubject: two\n\nbody\n");
    folder.write(QStringLiteral("md/new/1.x"), "Message-ID: <md1@example.jp>\nSubject: md\n\nbody\n");
    QStringList asked;
    SetOpenFileChooser([&](const OpenFileRequest& r) {
        asked << r.title;
        return folder.path(QStringLiteral("a.mbox"));
    });
    SetOpenFilesChooser([&](const OpenFileRequest& r) {
        asked << r.title;
        return QStringList{folder.path(QStringLiteral("one.eml")), folder.path(QStringLiteral("two.eml"))};
    });
    SetFolderChooser([&](const OpenFileRequest& r) {
        asked << r.title;
        return folder.path(QStringLiteral("md"));
    });
    int added = 0;
    MailImportWindow window(nullptr, program, [&] { ++added; });
    window.show();
    EXPECT_FALSE(window.startButton->isEnabled());
    QTest::mouseClick(window.*c.choice, Qt::LeftButton);
    QTest::mouseClick(window.chooseButton, Qt::LeftButton);
    ASSERT_EQ(asked.size(), 1);
    ASSERT_TRUE(window.startButton->isEnabled());
    QTest::mouseClick(window.startButton, Qt::LeftButton);
    EXPECT_EQ(window.cancelButton->text(), QStringLiteral("キャンセル"));
    waitForEnd(window);
    EXPECT_EQ(window.lastResult().taken, c.expected) << window.lastResult().error.toStdString();
    EXPECT_EQ(records(), c.expected);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(window.resultLabel->text(), MailImportSentence(window.lastResult()));
    EXPECT_EQ(window.countLabel->text(), QStringLiteral("%1 通を取り込みました。").arg(c.expected));
    EXPECT_EQ(window.cancelButton->text(), QStringLiteral("閉じる"));

    // Again: nothing new, and nobody told that records came.
    QTest::mouseClick(window.startButton, Qt::LeftButton);
    waitForEnd(window);
    EXPECT_EQ(window.lastResult().skipped, c.expected);
    EXPECT_EQ(added, 1);
    EXPECT_TRUE(window.countLabel->text().contains(QStringLiteral("既にある %1 通は飛ばしました").arg(c.expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ImportWindowChoosers,
    ::testing::Values(ChooserCase{"Mbox", &MailImportWindow::mboxChoice, MailSourceKind::Mbox, 3},
                      ChooserCase{"EmlFiles", &MailImportWindow::emlChoice, MailSourceKind::MessageFiles, 2},
                      ChooserCase{"Maildir", &MailImportWindow::maildirChoice, MailSourceKind::Maildir, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A larger import: the window keeps answering, the count climbs, and
// キャンセル stops it with what was stored kept.
TEST_F(ImportWindowTest, CancelStopsALargeImportAndTheWindowKeepsAnswering) {
    folder.write(QStringLiteral("big.mbox"), mboxOf(4000));
    MailImportWindow window(nullptr, program, {});
    window.show();
    window.setSource(MailSourceKind::Mbox, {folder.path(QStringLiteral("big.mbox"))});
    QTest::mouseClick(window.startButton, Qt::LeftButton);
    ASSERT_TRUE(window.isRunning());
    // Some messages in, then キャンセル.
    QElapsedTimer waited;
    waited.start();
    while (!window.countLabel->text().contains(QStringLiteral("通を取り込みました")) && waited.elapsed() < 60000)
        QTest::qWait(20);
    ASSERT_TRUE(window.isRunning()) << "the import ended before it could be cancelled";
    QTest::mouseClick(window.cancelButton, Qt::LeftButton);
    const qint64 gap = waitForEnd(window);
    EXPECT_LT(gap, 1000) << "the window thread was held";
    const MailImportResult& result = window.lastResult();
    EXPECT_TRUE(result.cancelled);
    EXPECT_GT(result.taken, 0);
    EXPECT_LT(result.taken, 4000);
    EXPECT_EQ(records(), result.taken);
    EXPECT_TRUE(window.resultLabel->text().contains(QStringLiteral("中止しました")));
    EXPECT_TRUE(window.isVisible()) << "the window stays to say what was taken";
    QTest::mouseClick(window.cancelButton, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

// Not run by ctest: the progress of a larger import under a real display,
// grabbed with ImageMagick into LUMOPET_SHOT (scripts: see the import's
// screenshot step in the report).
TEST_F(ImportWindowTest, DISABLED_ProgressScreenshot) {
    const QString shot = qEnvironmentVariable("LUMOPET_SHOT");
    ASSERT_FALSE(shot.isEmpty());
    folder.write(QStringLiteral("big.mbox"), mboxOf(20000));
    MailImportWindow window(nullptr, program, {});
    window.attachmentsBox->setChecked(true);
    window.show();
    window.setSource(MailSourceKind::Mbox, {folder.path(QStringLiteral("big.mbox"))});
    QTest::mouseClick(window.startButton, Qt::LeftButton);
    QTest::qWait(2500);
    ASSERT_TRUE(window.isRunning());
    EXPECT_EQ(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot}), 0);
    QTest::mouseClick(window.cancelButton, Qt::LeftButton);
    waitForEnd(window);
}

}  // namespace
}  // namespace lumopet
