// 迷惑メール in the history viewer, offscreen: the junk history listed and
// read from the received Maildir's copies; 迷惑メール and 迷惑メールではない
// moving a record's very bytes between the two histories while the real
// bogofilter learns the verdict and unlearns it; a move that cannot write
// its destination leaving the source whole; and junk deletions reaching
// the UIDL file for the junk records alone.

#include "mail/junk_filter.h"
#include "mail/mail_export.h"
#include "mail/message_sources.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"
#include "tests/support/stand_in_bogofilter.h"
#include "tests/viewer/viewer_window_test.h"
#include "viewer/history_view.h"

#include <QFile>
#include <QFileInfo>
#include <QPushButton>

namespace lumopet {
namespace {

QByteArray message(int n) {
    return QStringLiteral("From: shop%1@example.com\r\nTo: bob@example.jp\r\nSubject: お知らせ%1\r\n"
                          "Date: Thu, 10 Dec 2026 09:%2:00 +0900\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                          "当選のお知らせ%1です。今すぐ受け取って下さい。言葉%1番\r\n")
        .arg(n)
        .arg(n, 2, 10, QChar(u'0'))
        .toUtf8();
}

class JunkViewTest : public test::ViewerWindowTest {
protected:
    void SetUp() override {
        ViewerWindowTest::SetUp();
        qunsetenv("LUMOPET_BOGOFILTER");
    }
    void TearDown() override {
        if (form) settle();
        ViewerWindowTest::TearDown();
        qunsetenv("LUMOPET_BOGOFILTER");
    }
    // Message n as a check stores it: its copy in the received Maildir
    // (unless withCopy is false), its record in history.
    void store(History history, int n, bool withCopy = true) {
        if (withCopy) {
            const auto maildir = MaildirFolders::Open(ReceivedMaildirPath(program.paths));
            ASSERT_TRUE(maildir.ok());
            ASSERT_TRUE(maildir.value().deliver(MaildirLocalForm(message(n)), QString(), MaildirFlush::Now).ok());
        }
        ASSERT_TRUE(AppendRecord(file(history), mail::ReceivedRecordOf(message(n)), history).ok());
    }
    QByteArray bytes(History h) const {
        QFile f(file(h));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray recordBytes(const QByteArray& history, int n) {
        return history.mid((n - 1) * kHistoryRecordSize, kHistoryRecordSize);
    }
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->ReadingPending() && !form->TrainingPending(); }, 20000));
        QCoreApplication::processEvents();
    }
    QStringList rows() const {
        QStringList list;
        for (int i = 0; i < form->listModel().rowCount(); ++i) list << form->listModel().index(i, 0).data().toString();
        return list;
    }
    // The messages bogofilter has learnt as spam and as ham.
    QByteArray learnt() const { return test::LearntMessageCounts(junk::FilterFor(program.paths).wordListFolder); }
    void writeUidls(const QByteArray& text) const {
        QFile f(StoredUidlsPath(program.paths));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray uidlsNow() const {
        QFile f(StoredUidlsPath(program.paths));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void selectAndMove(int row) {
        clickRow(row);
        settle();
        form->JunkVerdict_Click();
        settle();
    }
};

TEST_F(JunkViewTest, ListsShowsSearchesAndAnswersJunkFromTheReceivedMaildir) {
    store(History::Received, 1);
    store(History::Junk, 2);
    store(History::Junk, 3);
    open(History::Received);
    ASSERT_FALSE(form->JunkListButton->isHidden()) << "the junk history holds records";
    form->JunkList_Click();
    settle();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("迷惑メール"));
    EXPECT_EQ(rows(), QStringList({"お知らせ2", "お知らせ3"}));
    ASSERT_NE(form->shownMessage(), nullptr) << "the last junk message read whole from its copy";
    EXPECT_TRUE(form->rtfEd->toPlainText().contains(QStringLiteral("言葉3番")));
    EXPECT_TRUE(QFileInfo::exists(mail::MessageSourcesPath(file(History::Junk)))) << "a pairing of its own";

    form->SearchBox->setText(QStringLiteral("言葉2番"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !form->SearchPending(); }, 5000));
    EXPECT_EQ(form->ShownRecords(), std::vector<int>({1}));
    clickRow(0);
    settle();
    form->Command4_Click();
    EXPECT_EQ(windows.lastReply.subject, QStringLiteral("お知らせ2"));
    EXPECT_TRUE(windows.lastReply.copyPath.startsWith(ReceivedMaildirPath(program.paths)))
        << "the reply quotes the copy: " << windows.lastReply.copyPath.toStdString();

    form->JunkList_Click();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("着信履歴"));
    EXPECT_EQ(rows(), QStringList({"お知らせ1"}));
}

TEST_F(JunkViewTest, ACheckWhileJunkIsShownListsTheJunkHistoryNotTheChecksRows) {
    store(History::Junk, 1, false);
    open(History::Junk);
    // The check stored message 2 in 着信履歴 and set message 3 aside.
    store(History::Received, 2, false);
    store(History::Junk, 3, false);
    program.viewer.rows = {{QStringLiteral("お知らせ2"), QStringLiteral("shop2@example.com"), QString()}};
    program.viewer.subject = QStringLiteral("お知らせ2");
    ++program.viewer.listedChecks;
    form->ShowCheckedMail();
    EXPECT_EQ(rows(), QStringList({"お知らせ1", "お知らせ3"}));
    EXPECT_EQ(form->Text7->text(), QStringLiteral("お知らせ3"));
    form->JunkList_Click();
    EXPECT_EQ(rows(), QStringList({"お知らせ2"}));
}

enum class JunkFile { Missing, Empty, Holding };

struct ButtonsCase {
    const char* name;
    History view;
    bool filterOn;
    JunkFile junk;
    bool listShown, verdictShown;
};

class JunkButtons : public JunkViewTest, public ::testing::WithParamInterface<ButtonsCase> {};

TEST_P(JunkButtons, ShownOnlyWhereTheyMeanSomething) {
    const ButtonsCase& c = GetParam();
    if (c.junk == JunkFile::Empty) {
        ASSERT_TRUE(CreateHistoryIfMissing(file(History::Junk)));
    }
    if (c.junk == JunkFile::Holding) store(History::Junk, 1, false);
    program.receive.JunkFilter = c.filterOn;
    open(c.view);
    EXPECT_EQ(!form->JunkListButton->isHidden(), c.listShown);
    EXPECT_EQ(!form->JunkVerdictButton->isHidden(), c.verdictShown);
    // Without them the search row is the one the window always had.
    const int designWidth = qRound(6495 * form->logicalDpiY() / 1440.0);
    EXPECT_EQ(form->SearchBox->width() == designWidth, !c.listShown && !c.verdictShown);
}

INSTANTIATE_TEST_SUITE_P(
    Views, JunkButtons,
    ::testing::Values(ButtonsCase{"ReceivedNothingOn", History::Received, false, JunkFile::Missing, false, false},
                      ButtonsCase{"ReceivedEmptyJunk", History::Received, false, JunkFile::Empty, false, false},
                      ButtonsCase{"ReceivedJunkLeftOver", History::Received, false, JunkFile::Holding, true, false},
                      ButtonsCase{"ReceivedFilterOn", History::Received, true, JunkFile::Missing, true, true},
                      ButtonsCase{"JunkFilterOff", History::Junk, false, JunkFile::Holding, true, true},
                      ButtonsCase{"Sent", History::Sent, true, JunkFile::Holding, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JunkViewTest, MovesTheSameBytesBothWaysAndTheFilterLearnsThenUnlearns) {
    for (int n = 1; n <= 3; ++n) store(History::Received, n);
    program.receive.JunkFilter = true;
    const QByteArray received = bytes(History::Received);
    // A move is no deletion: the UIDL lines stay as they are.
    QByteArray uidls;
    for (int n = 1; n <= 3; ++n)
        uidls += "u" + QByteArray::number(n) + " stored=2026-12-10 record=" +
                 RecordBytesFingerprint(recordBytes(received, n)) + '\n';
    writeUidls(uidls);

    open(History::Received);
    settle();
    selectAndMove(1);
    EXPECT_EQ(bytes(History::Received), recordBytes(received, 1) + recordBytes(received, 3));
    EXPECT_EQ(bytes(History::Junk), recordBytes(received, 2));
    EXPECT_EQ(rows(), QStringList({"お知らせ1", "お知らせ3"}));
    EXPECT_EQ(learnt(), "1 0");
    // The mouse leaving the button leaves what the click said.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form->JunkVerdictButton, &leave);
    EXPECT_TRUE(form->Text4->isVisible());
    EXPECT_EQ(form->Text4->toPlainText(), QStringLiteral("迷惑メールに移しました。\n迷惑メールフィルタが学習しました。"));

    form->JunkList_Click();
    settle();
    selectAndMove(0);
    EXPECT_EQ(bytes(History::Received), recordBytes(received, 1) + recordBytes(received, 3) + recordBytes(received, 2));
    EXPECT_EQ(bytes(History::Junk), QByteArray());
    EXPECT_EQ(learnt(), "0 1") << "the junk lesson undone, the message learnt as ham";
    EXPECT_EQ(uidlsNow(), uidls);
    EXPECT_TRUE(messages.empty()) << messageTexts().join('|').toStdString();
}

enum class Trouble { JunkIsALink, NoCopy, NoBogofilter };

struct MoveCase {
    const char* name;
    Trouble trouble;
    bool moved;
    const char* note;  // the help line's second line, or the error's start
};

class TroubledMove : public JunkViewTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(TroubledMove, NeverLosesTheRecordAndSaysWhatTheFilterDid) {
    const MoveCase& c = GetParam();
    store(History::Received, 1, c.trouble != Trouble::NoCopy);
    const QByteArray received = bytes(History::Received);
    program.receive.JunkFilter = true;
    const QString elsewhere = folder.path(QStringLiteral("elsewhere"));
    if (c.trouble == Trouble::JunkIsALink) {
        folder.write(QStringLiteral("elsewhere"), QByteArray());
        ASSERT_TRUE(QFile::link(elsewhere, file(History::Junk)));
    }
    if (c.trouble == Trouble::NoBogofilter) qputenv("LUMOPET_BOGOFILTER", folder.path(QStringLiteral("none")).toUtf8());

    open(History::Received);
    settle();
    selectAndMove(0);
    EXPECT_EQ(bytes(History::Received), c.moved ? QByteArray() : received);
    if (c.moved) {
        EXPECT_EQ(bytes(History::Junk), received);
        EXPECT_EQ(form->Text4->toPlainText().section(u'\n', 1, 1), QString::fromUtf8(c.note));
        EXPECT_EQ(learnt(), "0 0");
        EXPECT_TRUE(messages.empty());
    } else {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].text.startsWith(QString::fromUtf8(c.note))) << messages[0].text.toStdString();
        EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), QByteArray()) << "nothing written through a link";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Moves, TroubledMove,
    ::testing::Values(MoveCase{"JunkIsALink", Trouble::JunkIsALink, false, "メールを移せませんでした。元の履歴はそのままです。"},
                      MoveCase{"NoCopy", Trouble::NoCopy, true,
                               "元のメールが保存されていないため、迷惑メールフィルタは学習していません。"},
                      MoveCase{"NoBogofilter", Trouble::NoBogofilter, true, "迷惑メールフィルタは学習できませんでした。"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DeleteCase {
    const char* name;
    History view;
    bool all;
    QList<int> marked;  // the UIDL lines marked deleted: 1-2 received, 3-4 junk
};

class JunkDeletion : public JunkViewTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(JunkDeletion, NotesTheDeletedRecordsAloneInTheUidlFile) {
    const DeleteCase& c = GetParam();
    for (int n = 1; n <= 4; ++n) store(n <= 2 ? History::Received : History::Junk, n, false);
    program.receive.LeaveOnServer = true;
    program.receive.DeleteWithHistory = true;
    const auto uidlFile = [](const QList<int>& marked) {
        QByteArray text;
        for (int n = 1; n <= 4; ++n)
            text += "u" + QByteArray::number(n) + " stored=2026-12-10 record=" +
                    RecordFingerprint(mail::ReceivedRecordOf(message(n))) + (marked.contains(n) ? " deleted\n" : "\n");
        return text;
    };
    writeUidls(uidlFile({}));
    open(c.view);
    if (c.all) {
        form->Command5_Click();
    } else {
        clickRow(0);
        form->Command1_Click();
    }
    EXPECT_EQ(uidlsNow(), uidlFile(c.marked));
}

INSTANTIATE_TEST_SUITE_P(
    Deletions, JunkDeletion,
    ::testing::Values(DeleteCase{"OneJunk", History::Junk, false, {3}},
                      DeleteCase{"AllJunk", History::Junk, true, {3, 4}},
                      DeleteCase{"AllReceivedBesideJunk", History::Received, true, {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
