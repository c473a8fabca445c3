// The history viewer on a real desktop: alice sends bob two messages
// through the compose window and our own local SMTP server, bob fetches them
// over POP3, and everything after that goes through bob's windows
// (offscreen): the received history, a row click, a reply that alice
// fetches in turn, registering the sender, deleting one message and all of
// them; then alice's sent history.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "compose/BackForm.h"
#include "compose/FriendForm.h"
#include "compose/WriteForm.h"
#include "core/program.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"
#include "viewer/TyakuForm.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

const QString kAlice = QStringLiteral("alice@localhost");
const QString kBob = QStringLiteral("bob@localhost");
const QString kToYourself = QStringLiteral("自分宛となっています。");
const QString kConfirmTitle = QStringLiteral("確認");

// What alice sends bob, in this order.
struct Letter {
    QString subject;
    QString body;  // as typed, one line break between the lines
};
const Letter kLetters[] = {
    {QStringLiteral("一通目の件名"), QStringLiteral("ボブへ\n一通目です。")},
    {QStringLiteral("二通目 second"), QStringLiteral("ボブへ\n二通目です。\n三行目")},
};

// Goes until the deferred deletions of closed windows have run, so that a
// QPointer to a window that went reads null.
void settle() {
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// One user's program folder and windows, pointed at the local servers.
class Desk {
public:
    explicit Desk(const QString& user) {
        EXPECT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"),
                     QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                         .arg(servers->smtp(), servers->pop3(), user)
                         .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=%1-pw\r\nNAME3=1\r\n").arg(user).toUtf8());
        windows.mainForm().Form_Load();
    }

    // Writes to a recipient in the compose window and sends.
    void send(const QString& to, const Letter& letter) {
        windows.ShowWriteForm();
        WriteForm& form = windows.writeForm();
        form.ToText->setPlainText(to);
        form.SubjectText->setText(letter.subject);
        form.BodyText->setPlainText(letter.body);
        QSignalSpy finished(&form, &WriteForm::sendFinished);
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
        settle();
    }

    // 受信 on the main window, to the end of the mail check.
    void receive() {
        MainForm& form = windows.mainForm();
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        QTest::mouseClick(form.Label8, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
    }

    // 着信履歴 or 送信履歴 on the main window: the viewer it opens.
    TyakuForm& openHistory(History which) {
        MainForm& form = windows.mainForm();
        QTest::mouseClick(which == History::Received ? form.Label7 : form.Label6, Qt::LeftButton);
        TyakuForm& viewer = windows.tyakuForm();
        EXPECT_TRUE(viewer.isVisible());
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&viewer));
        return viewer;
    }

    std::vector<HistoryRecord> history(History which) { return ReadAll(HistoryPath(program.paths, which)); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
};

// A click in the first column of list row `row` (from 0), as the user makes it.
void clickRow(TyakuForm& viewer, int row) {
    QAbstractItemModel* model = viewer.MailListView->model();
    ASSERT_LT(row, model->rowCount());
    const QRect cell = viewer.MailListView->visualRect(model->index(row, 0));
    ASSERT_FALSE(cell.isEmpty());
    QTest::mouseClick(viewer.MailListView->viewport(), Qt::LeftButton, {}, cell.center());
}

// One column of the list as the view shows it, top to bottom.
QStringList listed(const TyakuForm& viewer, int column) {
    QStringList texts;
    const QAbstractItemModel* model = viewer.MailListView->model();
    for (int row = 0; row < model->rowCount(); ++row) texts << model->index(row, column).data().toString();
    return texts;
}

// Whether a window of that kind is on the screen, of anyone's desk.
template <class Window>
bool anyShown() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<Window*>(window) && window->isVisible()) return true;
    return false;
}

// Mail left waiting by a test that stopped half-way would be fetched by the
// next one's desk: it is taken away first.
void drain(const QString& user) {
    if (servers->count(user) == 0) return;
    Desk(user).receive();
    ASSERT_EQ(servers->count(user), 0) << user.toStdString();
}

// alice has sent bob the two letters and bob has fetched them.
class ViewerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servers && servers->running());
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            // Only the deletion questions are ours to say Yes to. A load
            // step that fails is not offered again: OK there would retry it
            // for ever.
            switch (request.kind) {
            case MessageKind::Question:
                return request.title == kConfirmTitle ? MessageAnswer::Yes : MessageAnswer::No;
            case MessageKind::RetryWarning:
                return MessageAnswer::Cancel;
            default:
                return MessageAnswer::Ok;
            }
        });
        drain(QStringLiteral("alice"));
        drain(QStringLiteral("bob"));
        alice = std::make_unique<Desk>(QStringLiteral("alice"));
        bob = std::make_unique<Desk>(QStringLiteral("bob"));
        for (const Letter& letter : kLetters) alice->send(kBob, letter);
        bob->receive();
        ASSERT_EQ(bob->history(History::Received).size(), 2u);
        ASSERT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
    }
    void TearDown() override {
        bob.reset();
        alice.reset();
        SetMessageAnswerer({});
    }

    QStringList boxTexts() const {
        QStringList texts;
        for (const MessageRequest& box : boxes) texts << box.text;
        return texts;
    }

    // The typed body as bob's viewer holds it: a message on the wire ends
    // its last line, so the text comes back with a line break after it.
    static QString shownBody(const Letter& letter) { return letter.body + u'\n'; }
    // The same as a history record holds it.
    static QString storedBody(const Letter& letter) {
        return QString(shownBody(letter)).replace(u'\n', QStringLiteral("\r\n"));
    }

    std::unique_ptr<Desk> alice, bob;
    QList<MessageRequest> boxes;
};

TEST_F(ViewerEndToEnd, ReceivedHistoryListsBothMessagesAndShowsTheLast) {
    TyakuForm& viewer = bob->openHistory(History::Received);
    EXPECT_EQ(viewer.windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(viewer.Text2->text(), QStringLiteral("2"));
    EXPECT_EQ(listed(viewer, 0), (QStringList{kLetters[0].subject, kLetters[1].subject}));
    EXPECT_EQ(listed(viewer, 1), (QStringList{kAlice, kAlice}));
    for (const QString& date : listed(viewer, 2)) EXPECT_FALSE(date.isEmpty()) << "each message has its date";
    // Before any click the boxes hold the last message of the file.
    EXPECT_EQ(viewer.Text7->text(), kLetters[1].subject);
    EXPECT_EQ(viewer.Text8->text(), kAlice);
    EXPECT_EQ(viewer.rtfEd->toPlainText(), shownBody(kLetters[1]));
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
}

TEST_F(ViewerEndToEnd, ARowClickShowsThatMessageAndPutsItsTextOnTheClipboard) {
    TyakuForm& viewer = bob->openHistory(History::Received);
    const std::vector<HistoryRecord> stored = bob->history(History::Received);
    // The first row first: the boxes start on the last message, so a click
    // on it alone would prove nothing.
    for (int row : {0, 1, 0}) {
        SCOPED_TRACE(row);
        QGuiApplication::clipboard()->setText(QStringLiteral("クリック前"));
        clickRow(viewer, row);
        EXPECT_EQ(viewer.Text7->text(), kLetters[row].subject);
        EXPECT_EQ(viewer.Text8->text(), kAlice);
        EXPECT_EQ(viewer.Text9->text(), stored[static_cast<size_t>(row)].Column3);
        EXPECT_EQ(viewer.rtfEd->toPlainText(), shownBody(kLetters[row]));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), shownBody(kLetters[row]));
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
}

TEST_F(ViewerEndToEnd, AReplyReachesAliceUnderReAndTheOriginalSubject) {
    TyakuForm& viewer = bob->openHistory(History::Received);
    clickRow(viewer, 0);
    QTest::mouseClick(viewer.Command4, Qt::LeftButton);

    ASSERT_TRUE(anyShown<BackForm>()) << boxTexts().join(u'|').toStdString();
    BackForm& reply = bob->windows.backForm();
    EXPECT_EQ(reply.ToText->text(), kAlice);
    EXPECT_EQ(reply.SubjectText->text(), QStringLiteral("Re:  ") + kLetters[0].subject);
    EXPECT_EQ(reply.BodyText->toPlainText(), shownBody(kLetters[0])) << "the message as shown, not quoted";
    EXPECT_TRUE(viewer.isVisible()) << "the viewer stays open";

    // bob writes his answer above the message and sends.
    reply.BodyText->setPlainText(QStringLiteral("アリスへ\n受け取りました。\n\n") + reply.BodyText->toPlainText());
    const QPointer<BackForm> kept(&reply);
    QSignalSpy finished(&reply, &BackForm::sendFinished);
    QTest::mouseClick(reply.Command2, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(30000));
    settle();
    EXPECT_TRUE(kept.isNull()) << "a reply that went out closes its window";
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
    EXPECT_TRUE(bob->history(History::Sent).empty()) << "the sent history keeps no copy of a reply";

    alice->receive();
    const std::vector<HistoryRecord> received = alice->history(History::Received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Subject, QStringLiteral("Re:  ") + kLetters[0].subject);
    EXPECT_EQ(received[0].Column2, kBob);
    EXPECT_EQ(received[0].Body, QStringLiteral("アリスへ\r\n受け取りました。\r\n\r\n") + storedBody(kLetters[0]));

    // And alice sees it in her own viewer as it came.
    TyakuForm& hers = alice->openHistory(History::Received);
    EXPECT_EQ(listed(hers, 0), QStringList{QStringLiteral("Re:  ") + kLetters[0].subject});
    EXPECT_EQ(listed(hers, 1), QStringList{kBob});
}

TEST_F(ViewerEndToEnd, RegisterPutsTheSenderIntoTheAddressBook) {
    TyakuForm& viewer = bob->openHistory(History::Received);
    clickRow(viewer, 1);
    QTest::mouseClick(viewer.Command3, Qt::LeftButton);

    ASSERT_TRUE(anyShown<FriendForm>()) << boxTexts().join(u'|').toStdString();
    FriendForm& book = bob->windows.friendForm();
    EXPECT_EQ(book.Text4->text(), kAlice);

    // Saving is the address book's own step: bob names her and registers.
    book.Text2->setText(QStringLiteral("アリス"));
    QTest::mouseClick(book.Command4, Qt::LeftButton);
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
    const auto entries = ReadAddressRecords(AddressBookPath(bob->program.paths));
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries.value().size(), 1u);
    EXPECT_EQ(BareEntryText(entries.value()[0].EntryAddress), kAlice);
    EXPECT_EQ(BareEntryText(entries.value()[0].EntryName), QStringLiteral("アリス"));
    EXPECT_EQ(book.List1->count(), 1);
}

struct DeleteOneCase {
    const char* name;
    int row;   // the row deleted, from 0
    int kept;  // the letter left
};
void PrintTo(const DeleteOneCase& c, std::ostream* out) { *out << c.name; }

class DeleteOne : public ViewerEndToEnd, public ::testing::WithParamInterface<DeleteOneCase> {};

TEST_P(DeleteOne, LeavesTheOtherMessageInTheListAndTheFile) {
    const DeleteOneCase& c = GetParam();
    TyakuForm& viewer = bob->openHistory(History::Received);
    clickRow(viewer, c.row);
    QTest::mouseClick(viewer.Command1, Qt::LeftButton);

    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?\n\n件名：") +
                                 kLetters[c.row].subject);
    EXPECT_EQ(viewer.Text2->text(), QStringLiteral("1"));
    EXPECT_EQ(listed(viewer, 0), QStringList{kLetters[c.kept].subject});
    const std::vector<HistoryRecord> left = bob->history(History::Received);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Subject, kLetters[c.kept].subject);
    EXPECT_EQ(left[0].Body, storedBody(kLetters[c.kept]));
    EXPECT_EQ(viewer.Text7->text(), kLetters[c.kept].subject) << "the boxes show what is left";

    // The one left is the one a click now shows.
    boxes.clear();
    clickRow(viewer, 0);
    EXPECT_EQ(viewer.rtfEd->toPlainText(), shownBody(kLetters[c.kept]));
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Rows, DeleteOne,
                         ::testing::Values(DeleteOneCase{"First", 0, 1}, DeleteOneCase{"Second", 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ViewerEndToEnd, DeleteAllEmptiesTheListAndTheFile) {
    TyakuForm& viewer = bob->openHistory(History::Received);
    QTest::mouseClick(viewer.Command5, Qt::LeftButton);

    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("すべてのデータを削除して良いですか？"));
    EXPECT_EQ(viewer.Text2->text(), QStringLiteral("0"));
    EXPECT_EQ(viewer.MailListView->model()->rowCount(), 0);
    const QFileInfo file(HistoryPath(bob->program.paths, History::Received));
    EXPECT_TRUE(file.exists());
    EXPECT_EQ(file.size(), 0);
    for (const QLineEdit* field : {viewer.Text7, viewer.Text8, viewer.Text9}) EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(viewer.rtfEd->toPlainText().isEmpty());
}

TEST_F(ViewerEndToEnd, SentHistoryListsWhatAliceSent) {
    TyakuForm& viewer = alice->openHistory(History::Sent);
    EXPECT_EQ(viewer.windowTitle(), QStringLiteral("送信履歴"));
    EXPECT_EQ(viewer.Text2->text(), QStringLiteral("2"));
    EXPECT_EQ(listed(viewer, 0), (QStringList{kLetters[0].subject, kLetters[1].subject}));
    for (const QString& sentAt : listed(viewer, 1)) EXPECT_FALSE(sentAt.isEmpty()) << "when it was sent";
    EXPECT_EQ(listed(viewer, 2), (QStringList{kBob, kBob})) << "the recipient";

    clickRow(viewer, 0);
    EXPECT_EQ(viewer.Text7->text(), kLetters[0].subject);
    EXPECT_EQ(viewer.Text9->text(), kBob);
    EXPECT_EQ(viewer.rtfEd->toPlainText(), kLetters[0].body) << "the body as typed";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kLetters[0].body);
    EXPECT_TRUE(boxes.isEmpty()) << boxTexts().join(u'|').toStdString();
}

// Reply and register make no sense for mail one sent oneself: the sent
// history says so and opens nothing.
struct SentButtonCase {
    const char* name;
    QPushButton* TyakuForm::*button;
};
void PrintTo(const SentButtonCase& c, std::ostream* out) { *out << c.name; }

class SentHistoryButton : public ViewerEndToEnd, public ::testing::WithParamInterface<SentButtonCase> {};

TEST_P(SentHistoryButton, SaysItIsAddressedToYourself) {
    TyakuForm& viewer = alice->openHistory(History::Sent);
    clickRow(viewer, 1);
    QTest::mouseClick(viewer.*GetParam().button, Qt::LeftButton);

    ASSERT_EQ(boxes.size(), 1) << boxTexts().join(u'|').toStdString();
    EXPECT_EQ(boxes[0].kind, MessageKind::Notice);
    EXPECT_EQ(boxes[0].text, kToYourself);
    EXPECT_FALSE(anyShown<BackForm>());
    EXPECT_FALSE(anyShown<FriendForm>());
    EXPECT_EQ(alice->history(History::Sent).size(), 2u);
    EXPECT_EQ(viewer.Text2->text(), QStringLiteral("2"));
}

INSTANTIATE_TEST_SUITE_P(Buttons, SentHistoryButton,
                         ::testing::Values(SentButtonCase{"Reply", &TyakuForm::Command4},
                                           SentButtonCase{"Register", &TyakuForm::Command3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(
        new lumopet::test::MailServersEnvironment({QStringLiteral("alice:alice-pw"), QStringLiteral("bob:bob-pw")}));
    return RUN_ALL_TESTS();
}
