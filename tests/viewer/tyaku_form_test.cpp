// The history viewer, offscreen: filling the list, a row click, deleting
// one message and all of them (with either answer, in both histories, and
// with the files failing), replying and registering, the help box, the
// resize arithmetic, the load-error rule and what a mail check leaves.

#include "core/program.h"
#include "store/history_file.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"
#include "tests/viewer/viewer_window_test.h"
#include "viewer/TyakuForm.h"
#include "viewer/editor_files.h"
#include "viewer/editor_module.h"
#include "viewer/history_list_model.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lumopet {
namespace {

const QString kNoData = QStringLiteral("選択するデータがありません");
const QString kNoSelection = QStringLiteral("データが選択されていません");
const QString kToYourself = QStringLiteral("自分宛となっています。");
// The delete question's words, then the subject of the message that goes.
QString askReceived(const QString& subject) {
    return QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?\n\n件名：") + subject;
}
QString askSent(const QString& subject) {
    return QStringLiteral("選択された（行、青色）データを削除します。よろしいですか\n\n件名：") + subject;
}
const QString kAskAll = QStringLiteral("すべてのデータを削除して良いですか？");

// Record n of a test history: its fields tell which record it is.
HistoryRecord record(int n) {
    return {QStringLiteral("件名%1").arg(n), QStringLiteral("送信者%1 <s%1@x.jp>").arg(n),
            QStringLiteral("2026/12/%1").arg(n, 2, 10, QChar(u'0')), QStringLiteral("本文%1\r\n二行目").arg(n), 1};
}

class TyakuFormTest : public test::ViewerWindowTest {
protected:
    void writeHistory(History h, int count) const {
        for (int n = 1; n <= count; ++n) ASSERT_TRUE(AppendRecord(file(h), record(n), h).ok());
    }
    QStringList listedSubjects() const {
        QStringList subjects;
        for (const ViewerRow& row : form->listModel().rows()) subjects << row.subject;
        return subjects;
    }
    static QStringList subjects(std::initializer_list<int> numbers) {
        QStringList list;
        for (int n : numbers) list << record(n).Subject;
        return list;
    }
    static QStringList shownTexts(int n) { return ViewerWindowTest::shownTexts(record(n)); }
    // The subject of the one highlighted row; empty for none.
    QString highlightedSubject() const {
        const QModelIndexList rows = form->MailListView->selectionModel()->selectedRows();
        EXPECT_LE(rows.size(), 1);
        return rows.isEmpty() ? QString() : form->listModel().rows()[static_cast<size_t>(rows.first().row())].subject;
    }
};

// ---- Filling the list -------------------------------------------------------

struct FillCase {
    const char* name;
    History history;
    int records;
    QString caption;
};

class FillTest : public TyakuFormTest, public ::testing::WithParamInterface<FillCase> {};

TEST_P(FillTest, EndsOnTheLastRecordWithEveryRowListed) {
    const FillCase& c = GetParam();
    writeHistory(c.history, c.records);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    program.viewer.receivedRecordBody = QStringLiteral("untouched");
    open(c.history);

    EXPECT_EQ(form->windowTitle(), c.caption);
    EXPECT_EQ(form->Text2->text(), QString::number(c.records));
    EXPECT_EQ(form->MailListView->model()->rowCount(), c.records);
    QStringList expectedRows;
    for (int n = 1; n <= c.records; ++n) expectedRows << record(n).Subject;
    EXPECT_EQ(listedSubjects(), expectedRows);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(QFileInfo::exists(file(c.history)));
    if (c.records == 0) {
        EXPECT_EQ(texts(), QStringList({"", "", "", ""}));
        EXPECT_EQ(QFileInfo(file(c.history)).size(), 0);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        return;
    }
    EXPECT_EQ(texts(), shownTexts(c.records));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownTexts(c.records).last());
    EXPECT_EQ(program.viewer.receivedRecordBody,
              c.history == History::Received ? record(c.records).Body : QStringLiteral("untouched"));
}

INSTANTIATE_TEST_SUITE_P(Histories, FillTest,
                         ::testing::Values(FillCase{"MissingReceived", History::Received, 0, "着信履歴"},
                                           FillCase{"ThreeReceived", History::Received, 3, "着信履歴"},
                                           FillCase{"TwoSent", History::Sent, 2, "送信履歴"},
                                           FillCase{"MissingSent", History::Sent, 0, "送信履歴"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TyakuFormTest, MarkedRecordsAndAPartialTailKeepRowsAndRecordNumbersTogether) {
    writeHistory(History::Received, 3);
    ASSERT_TRUE(MarkDeleted(file(History::Received), 2, record(2)).ok());
    QFile tail(file(History::Received));
    ASSERT_TRUE(tail.open(QIODevice::Append));
    tail.write(QByteArray(100, ' '));
    tail.close();
    open(History::Received);
    EXPECT_EQ(listedSubjects(), subjects({1, 2, 3}));
    clickRow(2);
    EXPECT_EQ(texts(), shownTexts(3));
}

TEST_F(TyakuFormTest, ABodyIsShownWithoutItsBlanksAndUpToItsFirstNul) {
    HistoryRecord r = record(1);
    r.Body = QStringLiteral("  上\r\n下\r\n  ");
    r.Body += QChar(u'\0') + QStringLiteral("隠れた部分");
    ASSERT_TRUE(AppendRecord(file(History::Received), r, History::Received).ok());
    open(History::Received);
    EXPECT_EQ(form->rtfEd->toPlainText(), QStringLiteral("上\n下\n"));
}

// ---- A row click -------------------------------------------------------------

struct ClickCase {
    const char* name;
    History history;
    int records;
    int row;  // from 0; -1 clicks beside the rows
    QString marker;
    QStringList messages;
};

class ClickTest : public TyakuFormTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ClickTest, ShowsTheRecordOfTheRow) {
    const ClickCase& c = GetParam();
    writeHistory(c.history, c.records);
    open(c.history);
    const QStringList before = texts();
    if (c.row < 0) {
        QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    } else {
        clickRow(c.row);
    }
    EXPECT_EQ(messageTexts(), c.messages);
    EXPECT_EQ(form->Text5->text(), c.marker);
    if (c.row < 0) {
        EXPECT_EQ(texts(), before);
        return;
    }
    EXPECT_EQ(texts(), shownTexts(c.row + 1));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownTexts(c.row + 1).last());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ClickTest,
    ::testing::Values(ClickCase{"FirstOfThree", History::Received, 3, 0, "2026/12/01", {}},
                      ClickCase{"MiddleOfThree", History::Received, 3, 1, "2026/12/02", {}},
                      ClickCase{"SentSecond", History::Sent, 2, 1, "2026/12/02", {}},
                      ClickCase{"EmptyList", History::Received, 0, -1, "", {kNoData}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TyakuFormTest, AMessageWithoutADateCanStillBeChosen) {
    HistoryRecord r = record(1);
    r.Column3.clear();
    ASSERT_TRUE(AppendRecord(file(History::Received), r, History::Received).ok());
    open(History::Received);
    clickRow(0);
    EXPECT_FALSE(form->Text5->text().isEmpty());
    form->Command4_Click();
    EXPECT_EQ(windows.calls, Calls({"ShowBackForm 件名1 | 送信者1 <s1@x.jp>"}));
}

// ---- Deleting one message ------------------------------------------------------

struct DeleteOneCase {
    const char* name;
    History history;
    int records;
    int row;  // from 0; -1 chooses none
    MessageAnswer answer;
    QStringList messages;
    QStringList left;  // subjects of the file afterwards
    Calls calls;
};

class DeleteOneTest : public TyakuFormTest, public ::testing::WithParamInterface<DeleteOneCase> {};

TEST_P(DeleteOneTest, AsksAndRemovesTheRow) {
    const DeleteOneCase& c = GetParam();
    writeHistory(c.history, c.records);
    open(c.history);
    if (c.row >= 0) clickRow(c.row);
    answer = c.answer;
    form->Command1_Click();

    EXPECT_EQ(messageTexts(), c.messages);
    for (const MessageRequest& m : messages) {
        if (m.kind == MessageKind::Question) {
            EXPECT_EQ(m.title, QStringLiteral("確認"));
        }
    }
    EXPECT_EQ(subjectsInFile(c.history), c.left);
    EXPECT_EQ(listedSubjects(), c.left);
    EXPECT_EQ(form->Text2->text(), QString::number(c.left.size()));
    EXPECT_EQ(QFileInfo(file(c.history)).size(), c.left.size() * kHistoryRecordSize);
    if (c.left.isEmpty()) {
        EXPECT_EQ(texts(), QStringList({"", "", "", ""}));
    }
    EXPECT_EQ(form->Text5->text(), QString());
    EXPECT_EQ(windows.calls, c.calls);
    EXPECT_FALSE(QFileInfo::exists(RewriteCopyPath(program.paths, c.history)));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DeleteOneTest,
    ::testing::Values(
        DeleteOneCase{"ReceivedYes", History::Received, 3, 1, MessageAnswer::Yes, {askReceived("件名2")}, {"件名1", "件名3"}, {}},
        DeleteOneCase{"ReceivedNo", History::Received, 3, 1, MessageAnswer::No, {askReceived("件名2")}, {"件名1", "件名2", "件名3"}, {}},
        DeleteOneCase{"SentYes", History::Sent, 3, 0, MessageAnswer::Yes, {askSent("件名1")}, {"件名2", "件名3"},
                      {"SetMainStatusLine 2"}},
        DeleteOneCase{"SentNo", History::Sent, 2, 0, MessageAnswer::No, {askSent("件名1")}, {"件名1", "件名2"}, {}},
        DeleteOneCase{"TheOnlyOne", History::Received, 1, 0, MessageAnswer::Yes, {askReceived("件名1")}, {}, {}},
        DeleteOneCase{"NoRowChosen", History::Received, 2, -1, MessageAnswer::Yes, {kNoSelection}, {"件名1", "件名2"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// After a deletion the fields show the last record: its row is the one
// highlighted, and with nothing left nothing is.
struct HighlightCase {
    const char* name;
    int records;
    int row;  // from 0
    int shown;  // the record the fields show afterwards, 0 for none
};

class HighlightTest : public TyakuFormTest, public ::testing::WithParamInterface<HighlightCase> {};

TEST_P(HighlightTest, FollowsTheRecordShown) {
    const HighlightCase& c = GetParam();
    writeHistory(History::Received, c.records);
    open(History::Received);
    EXPECT_EQ(highlightedSubject(), form->Text7->text()) << "after the load";
    clickRow(c.row);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    ASSERT_EQ(form->listModel().rowCount(), c.records - 1);
    if (c.shown == 0) {
        EXPECT_EQ(texts(), QStringList({"", "", "", ""}));
        EXPECT_FALSE(form->MailListView->selectionModel()->hasSelection());
        return;
    }
    EXPECT_EQ(texts(), shownTexts(c.shown));
    EXPECT_EQ(highlightedSubject(), record(c.shown).Subject);
    EXPECT_EQ(form->MailListView->currentIndex().row(), c.records - 2) << "the keys go on from there";
}

INSTANTIATE_TEST_SUITE_P(Rows, HighlightTest,
                         ::testing::Values(HighlightCase{"First", 5, 0, 5}, HighlightCase{"Middle", 5, 2, 5},
                                           HighlightCase{"Last", 5, 4, 4}, HighlightCase{"TheOnlyOne", 1, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// 件数 shows every count of a history whole, up to a full one. The
// histories are sparse files: a count's worth of records without the
// 400 MB.
class CountFitTest : public TyakuFormTest, public ::testing::WithParamInterface<int> {};

TEST_P(CountFitTest, ShowsEveryDigit) {
    const int count = GetParam();
    QFile history(file(History::Received));
    ASSERT_TRUE(history.open(QIODevice::WriteOnly));
    ASSERT_TRUE(history.resize(static_cast<qint64>(count) * kHistoryRecordSize));
    history.close();
    open(History::Received);
    QLineEdit* box = form->Text2;
    ASSERT_EQ(box->text(), QString::number(count));

    // Where QLineEdit draws its text: inside the style's frame and the text
    // margins, 2 pixels in from each side, with a pixel for the cursor.
    QStyleOptionFrame option;
    option.initFrom(box);
    option.rect = box->rect();
    option.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    const QRect contents = box->style()->subElementRect(QStyle::SE_LineEditContents, &option, box) -
                           box->textMargins();
    EXPECT_LE(QFontMetrics(box->font()).horizontalAdvance(box->text()) + 1, contents.width() - 2 * 2);
    // A text that does not fit is scrolled to the cursor at its end, and
    // its first digits go: drawn from its start, it would look different.
    const QImage asShown = box->grab().toImage();
    box->setCursorPosition(0);
    EXPECT_EQ(box->grab().toImage(), asShown);

    // Grown to the right only (the design's place is 520, 45, 33 pixels
    // wide), over nothing else.
    EXPECT_EQ(box->pos(), QPoint(520, 45));
    ASSERT_GE(box->width(), 33);
    const QRect grown(553, 45, box->width() - 33, box->height());
    EXPECT_LE(grown.right(), form->clientArea()->width());
    for (QWidget* other : form->clientArea()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other != box && other->isVisible()) {
            EXPECT_FALSE(other->geometry().intersects(grown)) << other->metaObject()->className();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, CountFitTest, ::testing::Values(0, 999, 1000, 32766));

TEST_F(TyakuFormTest, NoToTheQuestionClearsTheMarkerForTheReplyToo) {
    writeHistory(History::Received, 2);
    open(History::Received);
    clickRow(0);
    answer = MessageAnswer::No;
    form->Command1_Click();
    form->Command4_Click();
    EXPECT_EQ(messageTexts(), QStringList({askReceived("件名1"), kNoSelection}));
    EXPECT_TRUE(windows.calls.empty());
}

// After a removal the list is the file again, row for record, whether only
// the chosen record went, the compaction took more with it, or the list
// showed a mail check (whose row 2 still stands for record 2).
struct RebuildCase {
    const char* name;
    bool staleMarkOnRecord1;
    bool mailCheckRows;
    int row;  // from 0
    QStringList left;
};

class RebuildTest : public TyakuFormTest, public ::testing::WithParamInterface<RebuildCase> {};

TEST_P(RebuildTest, TheListIsTheFileAgain) {
    const RebuildCase& c = GetParam();
    writeHistory(History::Received, 3);
    if (c.staleMarkOnRecord1) {
        ASSERT_TRUE(MarkDeleted(file(History::Received), 1, record(1)).ok());
    }
    open(History::Received);
    if (c.mailCheckRows) {
        form->setEnabled(false);
        program.viewer.rows = {{"新1", "a", "d1"}, {"新2", "b", "d2"}, {"新3", "c", "d3"}};
        form->setEnabled(true);
    }
    clickRow(c.row);
    form->Command1_Click();
    EXPECT_EQ(subjectsInFile(History::Received), c.left);
    EXPECT_EQ(listedSubjects(), c.left);
    EXPECT_EQ(texts(), shownTexts(3));
    EXPECT_EQ(form->Text2->text(), QString::number(c.left.size()));
}

INSTANTIATE_TEST_SUITE_P(Removals, RebuildTest,
                         ::testing::Values(RebuildCase{"OnlyTheChosen", false, false, 0, {"件名2", "件名3"}},
                                           RebuildCase{"AStaleMarkGoesToo", true, false, 1, {"件名3"}},
                                           RebuildCase{"AfterAMailCheck", false, true, 1, {"件名1", "件名3"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Deleting all ---------------------------------------------------------------

struct DeleteAllCase {
    const char* name;
    History history;
    int records;
    MessageAnswer answer;
    int left;
};

class DeleteAllTest : public TyakuFormTest, public ::testing::WithParamInterface<DeleteAllCase> {};

TEST_P(DeleteAllTest, AsksOnceAndEmptiesTheFile) {
    const DeleteAllCase& c = GetParam();
    writeHistory(c.history, c.records);
    open(c.history);
    answer = c.answer;
    form->Command5_Click();

    EXPECT_EQ(messageTexts(), QStringList{kAskAll});
    EXPECT_EQ(subjectsInFile(c.history).size(), c.left);
    EXPECT_EQ(QFileInfo(file(c.history)).size(), c.left * kHistoryRecordSize);
    EXPECT_EQ(form->MailListView->model()->rowCount(), c.left);
    EXPECT_EQ(form->Text2->text(), QString::number(c.left));
    if (c.left == 0) {
        EXPECT_EQ(texts(), QStringList({"", "", "", ""}));
    }
    // The received history is there afterwards in either mode; the sent one
    // only when it is the one shown.
    EXPECT_TRUE(QFileInfo::exists(file(History::Received)));
    EXPECT_EQ(QFileInfo::exists(file(History::Sent)), c.history == History::Sent);
}

INSTANTIATE_TEST_SUITE_P(Answers, DeleteAllTest,
                         ::testing::Values(DeleteAllCase{"FiveReceivedYes", History::Received, 5, MessageAnswer::Yes, 0},
                                           DeleteAllCase{"ThreeReceivedNo", History::Received, 3, MessageAnswer::No, 3},
                                           DeleteAllCase{"ThreeSentYes", History::Sent, 3, MessageAnswer::Yes, 0},
                                           DeleteAllCase{"EmptySentYes", History::Sent, 0, MessageAnswer::Yes, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- File errors during a deletion -------------------------------------------

enum class Fault { RewriteCopyIsAFolder, RecordChangedSinceTheClick };

struct FaultCase {
    const char* name;
    Fault fault;
    bool all;
    QStringList inFile;
};

class DeleteFaultTest : public TyakuFormTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DeleteFaultTest, TellsTheUserAndLosesNoLiveRecord) {
    const FaultCase& c = GetParam();
    writeHistory(History::Received, 3);
    open(History::Received);
    clickRow(1);
    if (c.fault == Fault::RewriteCopyIsAFolder) {
        ASSERT_TRUE(QDir().mkpath(RewriteCopyPath(program.paths, History::Received)));
    } else {
        // Record 2 is no longer the message the user clicked.
        QFile history(file(History::Received));
        ASSERT_TRUE(history.open(QIODevice::ReadWrite));
        history.seek(kHistoryRecordSize);
        history.write(EncodeRecord(record(9), History::Received));
    }
    if (c.all) {
        form->Command5_Click();
    } else {
        form->Command1_Click();
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].kind, MessageKind::Error);
    EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral("メールを削除できませんでした。"))) << messages[1].text.toStdString();
    EXPECT_EQ(subjectsInFile(History::Received), c.inFile);
    // The list is the file again, row for record.
    EXPECT_EQ(form->MailListView->model()->rowCount(), c.inFile.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeleteFaultTest,
    ::testing::Values(FaultCase{"OneCopyBlocked", Fault::RewriteCopyIsAFolder, false, {"件名1", "件名2(marked)", "件名3"}},
                      FaultCase{"OneChanged", Fault::RecordChangedSinceTheClick, false, {"件名1", "件名9", "件名3"}},
                      FaultCase{"AllCopyBlocked", Fault::RewriteCopyIsAFolder, true,
                                {"件名1(marked)", "件名2(marked)", "件名3(marked)"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Reply and register -------------------------------------------------------

struct AnswerCase {
    const char* name;
    History history;
    bool choose;
    bool reply;  // else register
    QStringList messages;
    Calls calls;
};

class AnswerTest : public TyakuFormTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, HandsTheMessageToTheOtherWindow) {
    const AnswerCase& c = GetParam();
    writeHistory(c.history, 2);
    open(c.history);
    if (c.choose) clickRow(0);
    // What is on display goes, as the user may have edited it.
    form->Text7->setText(QStringLiteral("  abc  "));
    form->rtfEd->setPlainText(QStringLiteral("  本文\n  "));
    if (c.reply) {
        form->Command4_Click();
    } else {
        form->Command3_Click();
    }
    EXPECT_EQ(messageTexts(), c.messages);
    EXPECT_EQ(windows.calls, c.calls);
    if (c.reply && !c.calls.empty()) {
        EXPECT_EQ(windows.lastReply.body, QStringLiteral("本文\n"));
    }
    // Acting, and only acting, uses up the choice.
    const bool acted = !c.calls.empty();
    EXPECT_EQ(form->Text5->text().isEmpty(), acted || !c.choose);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, AnswerTest,
    ::testing::Values(AnswerCase{"Reply", History::Received, true, true, {}, {"ShowBackForm abc | 送信者1 <s1@x.jp>"}},
                      AnswerCase{"ReplyUnchosen", History::Received, false, true, {kNoSelection}, {}},
                      AnswerCase{"ReplySent", History::Sent, true, true, {kToYourself}, {}},
                      AnswerCase{"Register", History::Received, true, false, {}, {"ShowFriendForm 送信者1 <s1@x.jp>"}},
                      AnswerCase{"RegisterUnchosen", History::Received, false, false, {kNoSelection}, {}},
                      AnswerCase{"RegisterSent", History::Sent, true, false, {kToYourself}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Layout ---------------------------------------------------------------------

struct ResizeCase {
    const char* name;
    QSize window;  // pixels, the menu bar included
    // Expected pixels: list width, height; fields top; editor top, width,
    // height; From left, Date left; Subject, From, Date widths; band width.
    std::array<int, 12> expected;
};

class ResizeTest : public TyakuFormTest, public ::testing::WithParamInterface<ResizeCase> {};

// Worked by hand at 96 dpi (15 twips a pixel), with the outer size the
// window plus 120 twips across and 480 down: e.g. 700 x 560 pixels is
// W = 10620, H = 8880; the list 0.99 W = 10513.8 twips = 700.9 pixels.
// The search row (420 twips, 28 pixels) lies above the list: the shares of
// the height are those of the window without it, and every top from the
// list down is 28 pixels lower. So a window 28 pixels higher than one of
// the hand-worked sizes gives that size's heights and its tops plus 28.
TEST_P(ResizeTest, PlacesTheControlsByTheOuterSize) {
    const ResizeCase& c = GetParam();
    open(History::Received);
    ASSERT_EQ(form->logicalDpiY(), 96);
    form->resize(c.window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->size() == c.window; }));
    const QRect list = form->MailListView->geometry();
    const QRect editor = form->rtfEd->geometry();
    const std::array<int, 12> got{list.width(),           list.height(),          form->Text7->y(),
                                  editor.y(),             editor.width(),         editor.height(),
                                  form->Text8->x(),       form->Text9->x(),       form->Text7->width(),
                                  form->Text8->width(),   form->Text9->width(),   form->Picture1->width()};
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(list.y(), 100);    // the top as laid out, 1080 twips, below the 28-pixel search row
    EXPECT_EQ(editor.x(), 1);    // 20 twips since the load
    EXPECT_EQ(form->Text7->x(), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeTest,
                         ::testing::Values(ResizeCase{"W700H588", {700, 588}, {701, 207, 305, 329, 701, 225, 357, 571, 354, 212, 142, 708}},
                                           ResizeCase{"W1000H828", {1000, 828}, {998, 291, 389, 413, 998, 316, 509, 813, 504, 302, 202, 1008}},
                                           ResizeCase{"W400H328", {400, 328}, {404, 116, 214, 238, 404, 126, 206, 329, 204, 122, 82, 408}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TyakuFormTest, TheLoadSharesTheListWidthAmongTheColumns) {
    form = std::make_unique<TyakuForm>(windows);
    ASSERT_EQ(form->logicalDpiY(), 96);
    form->Form_Load();
    const QHeaderView* header = form->MailListView->header();
    // 10515 twips: a half is 350.5 pixels, a quarter 175.25.
    EXPECT_EQ(header->sectionSize(0), 351);
    EXPECT_EQ(header->sectionSize(1), 175);
    EXPECT_EQ(header->sectionSize(2), 175);
    EXPECT_TRUE(form->rtfEd->isVisibleTo(form.get()));
}

// ---- The help box ----------------------------------------------------------------

TEST_F(TyakuFormTest, TheHelpBoxFollowsTheMouse) {
    open(History::Sent);
    const auto moveOver = [](QWidget* widget, QPoint at = QPoint(3, 3)) {
        QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
    };
    const struct {
        QPushButton* button;
        QString help;
    } rows[] = {{form->Command1, "メールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"},
                {form->Command3, "メールアドレスをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。"},
                {form->Command4, "受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。"},
                {form->Command5, "受信したメール全件削除します。"}};
    for (const auto& row : rows) {
        moveOver(form->rtfEd->viewport());
        moveOver(row.button);
        EXPECT_TRUE(form->Text4->isVisible());
        EXPECT_EQ(form->Text4->toPlainText(), row.help);
    }
    moveOver(form->rtfEd->viewport());
    EXPECT_FALSE(form->Text4->isVisible());
    EXPECT_FALSE(form->Text4->toPlainText().isEmpty());
    moveOver(form->Command1);
    // A bare spot: right of the count field, below the band.
    moveOver(form->clientArea(), QPoint(form->Text2->geometry().right() + 20, form->Text2->y()));
    EXPECT_FALSE(form->Text4->isVisible());
    EXPECT_TRUE(form->Text4->toPlainText().isEmpty());
}

TEST_F(TyakuFormTest, TheHelpBoxLeavesWithTheMouse) {
    open(History::Received);
    for (QPushButton* button : {form->Command1, form->Command3, form->Command4, form->Command5}) {
        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), button->mapToGlobal(QPointF(3, 3)));
        QCoreApplication::sendEvent(button, &enter);
        ASSERT_TRUE(form->Text4->isVisible());
        // Out of the button, to another window or the list: nothing passes
        // over the bare window or the text on the way.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(button, &leave);
        EXPECT_FALSE(form->Text4->isVisible());
    }
}

// ---- The keys move the message shown with the highlight -------------------------

struct KeyCase {
    const char* name;
    int clicked;  // row clicked first, from 0
    Qt::Key key;
    int shown;  // record shown after the key
};

class KeyTest : public TyakuFormTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTest, TheMessageShownIsTheOneHighlightedAndTheOneDeleted) {
    const KeyCase& c = GetParam();
    writeHistory(History::Received, 4);
    open(History::Received);
    clickRow(c.clicked);
    QTest::keyClick(form->MailListView, c.key);
    QCoreApplication::processEvents();

    EXPECT_EQ(highlightedSubject(), record(c.shown).Subject);
    EXPECT_EQ(texts(), shownTexts(c.shown));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownTexts(c.shown).last());
    answer = MessageAnswer::Yes;
    form->Command1_Click();
    EXPECT_EQ(messageTexts(), QStringList{askReceived(record(c.shown).Subject)});
    QStringList left;
    for (int n = 1; n <= 4; ++n) {
        if (n != c.shown) left << record(n).Subject;
    }
    EXPECT_EQ(subjectsInFile(History::Received), left);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTest,
                         ::testing::Values(KeyCase{"Down", 0, Qt::Key_Down, 2}, KeyCase{"Up", 2, Qt::Key_Up, 2},
                                           KeyCase{"Home", 2, Qt::Key_Home, 1}, KeyCase{"End", 0, Qt::Key_End, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The load-error rule and the close box ------------------------------------------

TEST_F(TyakuFormTest, AFailingLoadStepIsOfferedAgainUntilCancelled) {
    EditorModule::Instance().CurrentDocument = folder.path(QStringLiteral("消えた.TXT"));
    int asked = 0;
    SetMessageAnswerer([&](const MessageRequest& request) {
        messages.push_back(request);
        return ++asked < 3 ? MessageAnswer::Ok : MessageAnswer::Cancel;
    });
    form = std::make_unique<TyakuForm>(windows);
    form->Form_Load();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].title, QStringLiteral("ルモペット  Form_LoadError"));
    EXPECT_EQ(messages[0].kind, MessageKind::RetryWarning);
    // The steps after it still ran.
    EXPECT_TRUE(form->rtfEd->isVisibleTo(form.get()));
    EXPECT_FALSE(EditorModule::Instance().DocumentDirty);
}

TEST_F(TyakuFormTest, TheCloseBoxTidiesTheEditorSettings) {
    open(History::Received);
    const QString settings = EditorSettingsPath(program.paths);
    QFile::remove(settings);
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(QFileInfo::exists(settings));
}

// ---- What a mail check leaves ------------------------------------------------------

TEST_F(TyakuFormTest, AMailCheckShowsItsRowsWhenTheWindowComesBack) {
    writeHistory(History::Received, 3);
    open(History::Received);
    const struct {
        const char* name;
        std::vector<ViewerRow> rows;
        bool texts;  // the check showed a message
        QStringList listed;
        QString subject;
    } checks[] = {
        {"TwoFetched", {{"新1", "a@x.jp", "d1"}, {"新2", "b@x.jp", "d2"}}, true, {"新1", "新2"}, "新2"},
        // Cleared at the start of the check; the boxes keep their message.
        {"NoneFetched", {}, false, {}, "新2"},
    };
    for (const auto& check : checks) {
        SCOPED_TRACE(check.name);
        form->setEnabled(false);
        program.viewer.rows = check.rows;
        if (check.texts) {
            program.viewer.subject = check.rows.back().subject;
            program.viewer.from = check.rows.back().from;
            program.viewer.date = check.rows.back().date;
            program.viewer.body = QStringLiteral("届いた本文");
        }
        form->setEnabled(true);
        EXPECT_EQ(listedSubjects(), check.listed);
        EXPECT_EQ(form->Text7->text(), check.subject);
        EXPECT_EQ(form->rtfEd->toPlainText(), QStringLiteral("届いた本文"));
        // The count is the check's business no more than the file is.
        EXPECT_EQ(form->Text2->text(), QStringLiteral("3"));
    }
    // A send holds the window too, and changes nothing of the check's: the
    // history loaded since stays.
    form->LoadHistory(History::Received);
    form->setEnabled(false);
    form->setEnabled(true);
    EXPECT_EQ(listedSubjects(), subjects({1, 2, 3}));
    // A second check that finds nothing empties the list again, though its
    // rows look the same as the first one's.
    form->setEnabled(false);
    program.viewer.rows.clear();
    ++program.viewer.listedChecks;
    form->setEnabled(true);
    EXPECT_EQ(listedSubjects(), QStringList{});
}

TEST_F(TyakuFormTest, AWindowMadeAfterACheckStartsAsTheCheckLeftIt) {
    program.viewer.rows = {{"新1", "a@x.jp", "d1"}};
    program.viewer.subject = QStringLiteral("新1");
    program.viewer.body = QStringLiteral("届いた\r\n本文");
    form = std::make_unique<TyakuForm>(windows);
    form->Form_Load();
    EXPECT_EQ(listedSubjects(), QStringList{"新1"});
    EXPECT_EQ(texts(), QStringList({"新1", "", "", "届いた\n本文"}));
}

}  // namespace
}  // namespace lumopet
