// The history viewer's search box, offscreen, on a history file on disk:
// what the box finds, and that every button acts on the record of the row
// the user sees (a row's place in a filtered list is not its record
// number), Esc, the newest search winning over one still running, and a
// mail check's rows.

#include "core/program.h"
#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"
#include "tests/viewer/viewer_window_test.h"
#include "viewer/TyakuForm.h"
#include "viewer/editor_module.h"
#include "viewer/history_list_model.h"
#include "viewer/mail_import_window.h"
#include "viewer/viewer_editor.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumopet {
namespace {

// Six records; "会議" is in 2 (subject and body), 4 (subject) and 5 (body
// only), so that the rows of the filtered list are not their numbers.
HistoryRecord record(int n) {
    static const struct {
        const char* subject;
        const char* from;
        const char* body;
    } rows[] = {
        {"週報", "sato@example.jp", "今週の作業の報告です。"},
        {"会議の予定", "田中 <tanaka@example.jp>", "明日の会議は十時から。"},
        {"資料", "info@kana.example.jp", "かたかなで書いた資料です。"},
        {"Re:  会議", "suzuki@example.jp", "了解です。"},
        {"ａｂｃ便り", "yamada@example.jp", "会議室を予約しました。"},
        {"雑談", "kato@example.jp", "いい天気です。"},
    };
    const auto& row = rows[n - 1];
    return {QString::fromUtf8(row.subject), QString::fromUtf8(row.from),
            QStringLiteral("2026/11/%1 10:00:00").arg(n, 2, 10, QChar(u'0')),
            QString::fromUtf8(row.body) + QStringLiteral("\r\n二行目"), 1};
}
constexpr int kRecords = 6;

QStringList subjectsOf(const std::vector<int>& numbers) {
    QStringList list;
    for (int n : numbers) list << record(n).Subject;
    return list;
}

class SearchBoxTest : public test::ViewerWindowTest {
protected:
    void writeHistory(History h) const {
        for (int n = 1; n <= kRecords; ++n) ASSERT_TRUE(AppendRecord(file(h), record(n), h).ok());
    }
    // What the list shows, row by row, as the view reads it.
    QStringList listedSubjects() const {
        QStringList subjects;
        const QAbstractItemModel* model = form->MailListView->model();
        for (int i = 0; i < model->rowCount(); ++i) subjects << model->index(i, 0).data().toString();
        return subjects;
    }
    // Typed into the box as keystrokes, character by character, then the
    // pause and the search waited out.
    void type(const QString& text, bool wait = true) {
        form->SearchBox->setFocus();
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(form->SearchBox, &press);
        }
        if (wait) waitForSearch();
    }
    void waitForSearch() { ASSERT_TRUE(QTest::qWaitFor([&] { return !form->SearchPending(); }, 5000)); }
    static QStringList shownTexts(int n) { return ViewerWindowTest::shownTexts(record(n)); }
};

// ---- What the box finds --------------------------------------------------------

struct FindCase {
    const char* name;
    QString query;
    std::vector<int> shown;
};

class FindTest : public SearchBoxTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindTest, ListsTheMatchingRecordsAndCountsThem) {
    const FindCase& c = GetParam();
    writeHistory(History::Received);
    open(History::Received);
    type(c.query);
    EXPECT_EQ(listedSubjects(), subjectsOf(c.shown));
    EXPECT_EQ(form->ShownRecords(), c.shown);
    EXPECT_EQ(form->SearchCount->text(), QStringLiteral("%1 / %2").arg(c.shown.size()).arg(kRecords));
    // 件数 stays the history's count.
    EXPECT_EQ(form->Text2->text(), QString::number(kRecords));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, FindTest,
    ::testing::Values(FindCase{"SubjectAndBody", "会議", {2, 4, 5}},
                      // Half-width katakana finds hiragana; ASCII finds full width.
                      FindCase{"HalfWidthKatakanaFindsHiragana", "ｶﾀｶﾅ", {3}},
                      FindCase{"AsciiFindsFullWidth", "ABC", {5}},
                      FindCase{"SenderInAnyCase", "TANAKA", {2}},
                      FindCase{"DateText", "2026/11/06", {6}},
                      FindCase{"Nothing", "存在しない", {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The buttons act on the record seen ----------------------------------------------

enum class Act { Click, DeleteOne, Reply, Register };

struct ActCase {
    const char* name;
    History history;
    int row;  // of the list filtered by "会議": records 2, 4, 5
    Act act;
    int record;  // the record the row shows
    QStringList inFile;  // subjects afterwards
    std::vector<int> listed;  // records of the old file still listed
    Calls calls;
};

class ActTest : public SearchBoxTest, public ::testing::WithParamInterface<ActCase> {};

TEST_P(ActTest, OnTheRecordOfTheRowSeen) {
    const ActCase& c = GetParam();
    writeHistory(c.history);
    open(c.history);
    type(QStringLiteral("会議"));
    clickRow(c.row);
    EXPECT_EQ(texts(), shownTexts(c.record));
    EXPECT_EQ(form->ChosenRecord(), c.record);
    switch (c.act) {
    case Act::Click: break;
    case Act::DeleteOne: form->Command1_Click(); break;
    case Act::Reply: form->Command4_Click(); break;
    case Act::Register: form->Command3_Click(); break;
    }
    EXPECT_EQ(subjectsInFile(c.history), c.inFile);
    // Still filtered, by the search run again on the file as it is now.
    EXPECT_EQ(listedSubjects(), subjectsOf(c.listed));
    EXPECT_EQ(form->SearchCount->text(),
              QStringLiteral("%1 / %2").arg(c.listed.size()).arg(c.inFile.size()));
    EXPECT_EQ(windows.calls, c.calls);
    if (c.act == Act::DeleteOne) {
        // The fields end on the last row shown, which is highlighted.
        EXPECT_EQ(texts(), shownTexts(c.listed.back()));
        EXPECT_EQ(form->ChosenRecord(), form->ShownRecords().back());
        EXPECT_EQ(form->Text2->text(), QString::number(c.inFile.size()));
        EXPECT_FALSE(QFileInfo::exists(RewriteCopyPath(program.paths, c.history)));
    }
}

const QStringList kAll = subjectsOf({1, 2, 3, 4, 5, 6});

INSTANTIATE_TEST_SUITE_P(
    Buttons, ActTest,
    ::testing::Values(
        ActCase{"ClickShowsRecord4", History::Received, 1, Act::Click, 4, kAll, {2, 4, 5}, {}},
        // Row 2 is record 4: record 2, its neighbour by number, stays.
        ActCase{"DeleteSecondRow", History::Received, 1, Act::DeleteOne, 4, subjectsOf({1, 2, 3, 5, 6}), {2, 5}, {}},
        ActCase{"DeleteFirstRow", History::Received, 0, Act::DeleteOne, 2, subjectsOf({1, 3, 4, 5, 6}), {4, 5}, {}},
        ActCase{"DeleteLastRow", History::Received, 2, Act::DeleteOne, 5, subjectsOf({1, 2, 3, 4, 6}), {2, 4}, {}},
        ActCase{"DeleteSentSecondRow", History::Sent, 1, Act::DeleteOne, 4, subjectsOf({1, 2, 3, 5, 6}), {2, 5},
                {"SetMainStatusLine 5"}},
        ActCase{"ReplyToThirdRow", History::Received, 2, Act::Reply, 5, kAll, {2, 4, 5},
                {"ShowBackForm ａｂｃ便り | yamada@example.jp"}},
        ActCase{"RegisterSecondRow", History::Received, 1, Act::Register, 4, kAll, {2, 4, 5},
                {"ShowFriendForm suzuki@example.jp"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- 全件削除 while filtered ---------------------------------------------------

// The UIDL file as a check leaves it after storing the six records.
QByteArray uidlFile(const std::vector<int>& deleted = {}) {
    QByteArray bytes;
    for (int n = 1; n <= kRecords; ++n) {
        bytes += "u" + QByteArray::number(n) + " stored=2026-11-01 record=" + RecordFingerprint(record(n));
        if (std::find(deleted.begin(), deleted.end(), n) != deleted.end()) bytes += " deleted";
        bytes += '\n';
    }
    return bytes;
}

struct DeleteShownCase {
    const char* name;
    History history;
    QString query;
    MessageAnswer answer;
    QStringList messages;
    std::vector<int> left;
    QByteArray uidls;  // afterwards
};

class DeleteShownTest : public SearchBoxTest, public ::testing::WithParamInterface<DeleteShownCase> {};

TEST_P(DeleteShownTest, AsksForTheShownAndRemovesOnlyThem) {
    const DeleteShownCase& c = GetParam();
    writeHistory(c.history);
    {
        QFile uidls(StoredUidlsPath(program.paths));
        ASSERT_TRUE(uidls.open(QIODevice::WriteOnly));
        uidls.write(uidlFile());
    }
    open(c.history);
    type(c.query);
    answer = c.answer;
    form->Command5_Click();

    EXPECT_EQ(messageTexts(), c.messages);
    if (!messages.empty() && messages[0].kind == MessageKind::Question) {
        EXPECT_EQ(messages[0].title, QStringLiteral("確認"));
    }
    EXPECT_EQ(subjectsInFile(c.history), subjectsOf(c.left));
    QFile uidls(StoredUidlsPath(program.paths));
    ASSERT_TRUE(uidls.open(QIODevice::ReadOnly));
    EXPECT_EQ(uidls.readAll(), c.uidls);
    // The list stays filtered: what the search finds in what is left.
    EXPECT_FALSE(form->SearchBox->text().isEmpty());
    EXPECT_TRUE(form->listModel().filtered());
    EXPECT_EQ(form->Text2->text(), QString::number(c.left.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DeleteShownTest,
    ::testing::Values(
        DeleteShownCase{"ReceivedYes", History::Received, "会議", MessageAnswer::Yes,
                        {"表示中の 3 件を削除しますか"}, {1, 3, 6}, uidlFile({2, 4, 5})},
        DeleteShownCase{"ReceivedNo", History::Received, "会議", MessageAnswer::No,
                        {"表示中の 3 件を削除しますか"}, {1, 2, 3, 4, 5, 6}, uidlFile()},
        DeleteShownCase{"SentYes", History::Sent, "会議", MessageAnswer::Yes, {"表示中の 3 件を削除しますか"},
                        {1, 3, 6}, uidlFile()},
        DeleteShownCase{"NothingShown", History::Received, "存在しない", MessageAnswer::Yes,
                        {"表示中のデータがありません"}, {1, 2, 3, 4, 5, 6}, uidlFile()}),
    [](const auto& info) { return std::string(info.param.name); });

// Typed and deleted before the pause is over: the question is about what
// the box says, not about the whole list still on display.
TEST_F(SearchBoxTest, DeleteAllRightAfterTypingAsksAboutWhatTheBoxSays) {
    writeHistory(History::Received);
    open(History::Received);
    type(QStringLiteral("会議"), false);
    ASSERT_TRUE(form->SearchPending());
    form->Command5_Click();
    EXPECT_EQ(messageTexts(), QStringList{"表示中の 3 件を削除しますか"});
    EXPECT_EQ(subjectsInFile(History::Received), subjectsOf({1, 3, 6}));
    EXPECT_EQ(listedSubjects(), QStringList{});
    EXPECT_EQ(form->SearchCount->text(), QStringLiteral("0 / 3"));
}

// ---- Esc, and the newest search ------------------------------------------------

TEST_F(SearchBoxTest, EscShowsEveryRecordAgainWithTheOneShownStillChosen) {
    writeHistory(History::Received);
    open(History::Received);
    type(QStringLiteral("会議"));
    clickRow(1);
    ASSERT_EQ(form->ChosenRecord(), 4);
    QTest::keyClick(form->SearchBox, Qt::Key_Escape);
    EXPECT_TRUE(form->SearchBox->text().isEmpty());
    EXPECT_FALSE(form->SearchPending());
    EXPECT_EQ(listedSubjects(), kAll);
    EXPECT_TRUE(form->SearchCount->text().isEmpty());
    EXPECT_EQ(form->ChosenRecord(), 4);
    EXPECT_EQ(texts(), shownTexts(4));
    // And the buttons act on it as ever.
    form->Command1_Click();
    EXPECT_EQ(subjectsInFile(History::Received), subjectsOf({1, 2, 3, 5, 6}));
}

// The first search is held until the second has answered, and then answers
// wrongly: the keystroke cancelled it, and its answer never reaches the list.
TEST_F(SearchBoxTest, ANewKeystrokeCancelsTheSearchInFlightAndTheNewestAnswerWins) {
    writeHistory(History::Received);
    open(History::Received);
    // Room for the held search and the next one side by side.
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(4, QThreadPool::globalInstance()->maxThreadCount()));
    std::atomic<bool> firstStarted{false}, release{false}, firstSawCancel{false}, firstDone{false};
    form->setSearchFunction([&](const QString& file, const QString& query, const std::atomic<bool>& cancel) {
        if (query != QStringLiteral("会議")) return SearchHistory(file, query, cancel);
        firstStarted = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        firstSawCancel = cancel.load();
        firstDone = true;
        return HistorySearchResult{false, {2, 4, 5}};
    });
    type(QStringLiteral("会議"), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstStarted.load(); }, 5000));
    form->SearchBox->selectAll();
    type(QStringLiteral("雑談"));
    EXPECT_EQ(listedSubjects(), subjectsOf({6}));
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone.load(); }, 5000));
    // Let its answer come back to the window, if it were to.
    QTest::qWait(50);
    EXPECT_TRUE(firstSawCancel);
    EXPECT_EQ(listedSubjects(), subjectsOf({6}));
    EXPECT_EQ(form->SearchCount->text(), QStringLiteral("1 / 6"));
}

// ---- A mail check's rows ---------------------------------------------------------

TEST_F(SearchBoxTest, AMailCheckClearsTheSearchAndTheNextSearchIsOfTheHistory) {
    writeHistory(History::Received);
    open(History::Received);
    type(QStringLiteral("会議"));
    form->setEnabled(false);
    program.viewer.rows = {{"新1", "a@x.jp", "d1"}, {"新2", "b@x.jp", "d2"}};
    form->setEnabled(true);
    EXPECT_TRUE(form->SearchBox->text().isEmpty());
    EXPECT_TRUE(form->SearchCount->text().isEmpty());
    EXPECT_EQ(listedSubjects(), QStringList({"新1", "新2"}));
    // The check's rows are not records: the history stands for them.
    EXPECT_EQ(form->ShownRecords(), std::vector<int>({1, 2, 3, 4, 5, 6}));
    clickRow(1);
    EXPECT_EQ(form->ChosenRecord(), 0);

    type(QStringLiteral("雑談"));
    EXPECT_EQ(listedSubjects(), subjectsOf({6}));
    clickRow(0);
    EXPECT_EQ(form->ChosenRecord(), 6);
    EXPECT_EQ(texts(), shownTexts(6));
}

// ---- The File menu's import and export -------------------------------------------

// Runs work on the modal window the next step opens, once it is up.
void onModalWindow(const std::function<void(QWidget*)>& work) {
    QTimer::singleShot(0, [work] {
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000));
        work(QApplication::activeModalWidget());
    });
}

TEST_F(SearchBoxTest, ExportWritesTheRecordsShownAndImportListsWhatCameIn) {
    // The main window starts the mail layer, which decodes what comes in.
    NMailInitializeWinSock();
    writeHistory(History::Received);
    open(History::Received);
    EXPECT_TRUE(form->editor().mimport->isEnabled());
    type(QStringLiteral("会議"));
    const QString mbox = folder.path(QStringLiteral("out.mbox"));
    SetSaveFileChooser([&](const SaveFileRequest&) { return mbox; });
    onModalWindow([](QWidget* window) {
        auto* start = window->findChild<QPushButton*>(QStringLiteral("StartExport"));
        ASSERT_NE(start, nullptr);
        QTest::mouseClick(start, Qt::LeftButton);
    });
    form->editor().mexport->trigger();
    SetSaveFileChooser({});
    // No Maildir here: each made from its record.
    ASSERT_EQ(messageTexts(), QStringList{QStringLiteral("3 件のメールを mboxrd ファイルに書き出しました。\n"
                                                         "うち 3 件は元のメールが保存されていないため、履歴の内容から作りました。")});

    // That file into this history: nothing new, it has them all. Another
    // history's mail: listed at once, the search cleared.
    const QString otherMbox = folder.path(QStringLiteral("in.mbox"));
    folder.write(QStringLiteral("in.mbox"),
                 "From a@x Mon Nov 30 10:00:00 2026\nMessage-ID: <in1@x>\nSubject: imported\n\nbody\n");
    for (const QString& source : {mbox, otherMbox}) {
        SCOPED_TRACE(source.toStdString());
        onModalWindow([&](QWidget* window) {
            auto* importer = qobject_cast<MailImportWindow*>(window);
            ASSERT_NE(importer, nullptr);
            importer->setSource(MailSourceKind::Mbox, {source});
            QSignalSpy done(importer, &MailImportWindow::importFinished);
            QTest::mouseClick(importer->startButton, Qt::LeftButton);
            ASSERT_TRUE(done.wait(10000));
            QTest::mouseClick(importer->cancelButton, Qt::LeftButton);
        });
        form->editor().mimport->trigger();
    }
    EXPECT_EQ(subjectsInFile(History::Received).size(), kRecords + 1);
    EXPECT_TRUE(form->SearchBox->text().isEmpty());
    EXPECT_EQ(listedSubjects().size(), kRecords + 1);
    EXPECT_EQ(listedSubjects().last(), QStringLiteral("imported"));
    // Mail from elsewhere comes in as received mail only.
    form->LoadHistory(History::Sent);
    EXPECT_FALSE(form->editor().mimport->isEnabled());
}

}  // namespace
}  // namespace lumopet

