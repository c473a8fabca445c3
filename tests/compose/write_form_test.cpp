// The compose window, offscreen: the option rules, the opening line, the
// sizes, the address panel, the attachments and the hidden mode; the boxes
// with a length limit (the address book window's too); sends over a
// scripted transport: a second bulk send after a partial failure, and
// 送信中止 during a send.

#include "compose/FriendForm.h"
#include "compose/SendCheckForm.h"
#include "compose/WriteForm.h"
#include "compose/write_form_rules.h"
#include "core/program.h"
#include "core/settings_files/compose_options.h"
#include "core/settings_files/receive_options.h"
#include "core/twips.h"
#include "mail/mail_library.h"
#include "mail/send_stop.h"
#include "mail/server_refusal.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/completion_in_boxes.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/limited_text_box.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QScrollBar>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QSignalSpy>
#include <QThread>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;

auto CaseName = [](const auto& info) { return std::string(info.param.name); };
template <class Case>
    requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class WriteFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        // GMime, for the drafts the windows write, as the program starts it.
        NMailInitializeWinSock();
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetOpenFileChooser({});
    }

    WriteForm& loaded() {
        form = std::make_unique<WriteForm>(windows);
        form->Form_Load();
        return *form;
    }

    QSize clientSize(int outerWidth, int outerHeight) const {
        return TwipsToPixels(Twips{0, 0, ClientWidth(outerWidth), ClientHeight(outerHeight)}, form->logicalDpiY())
            .size();
    }

    // An address starting with "-" is a record marked deleted.
    void writeBook(const QString& file, const std::vector<std::pair<QString, QString>>& entries) {
        QByteArray bytes;
        for (const auto& [name, address] : entries) {
            QByteArray record = EncodeAddressRecord(name, address.startsWith(u'-') ? address.mid(1) : address);
            if (address.startsWith(u'-')) record[62] = 0;
            bytes += record;
        }
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    FakeWindows windows{program};
    std::unique_ptr<WriteForm> form;
    QList<MessageRequest> boxes;
};

TEST_F(WriteFormTest, LoadsWithNoCharacterNoFortuneAndThePhrases) {
    WriteForm& f = loaded();
    EXPECT_TRUE(f.Option8->isChecked());
    EXPECT_EQ(f.Text2->text(), QStringLiteral("キャラは送らないが選択されています"));
    EXPECT_FALSE(f.Check1->isChecked());
    EXPECT_FALSE(f.Option2->isChecked());
    EXPECT_FALSE(f.Command9->isEnabled());
    EXPECT_FALSE(f.Command2->isEnabled());
    EXPECT_EQ(f.Combo1->count(), 8);
    EXPECT_EQ(f.Combo1->itemText(3), QStringLiteral("いつもお世話になっております。"));
    EXPECT_EQ(f.size(), clientSize(kNormalWidth, 8200 + 720)) << "taller by the CC and BCC rows";
    EXPECT_EQ(f.AddressMap, std::vector<std::int16_t>{0});
    EXPECT_TRUE(QFileInfo::exists(AddressListPath(program.paths))) << "the list file is created empty";
}

// After one tick of the rules, at most one of character, fortune and bulk
// mode is left.
struct RulesCase {
    const char* name;
    SendOptions before;
    SendOptions after;
    QString status;  // Text2 afterwards; empty: as it was
};

class WriteFormRules : public WriteFormTest, public ::testing::WithParamInterface<RulesCase> {};

TEST_P(WriteFormRules, OneTickPutsTheChoicesInOrder) {
    const RulesCase& c = GetParam();
    WriteForm& f = loaded();
    f.moodOption(c.before.mood)->setChecked(true);
    f.Check1->setChecked(c.before.fortune);
    f.Option2->setChecked(c.before.bulk);
    const QString statusBefore = f.Text2->text();
    f.Timer1_Timer();
    EXPECT_EQ(f.chosenMood(), c.after.mood);
    EXPECT_EQ(f.Check1->isChecked(), c.after.fortune);
    EXPECT_EQ(f.Option2->isChecked(), c.after.bulk);
    EXPECT_EQ(f.Text2->text(), c.status.isEmpty() ? statusBefore : c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFormRules,
    ::testing::Values(
        RulesCase{"FortuneWithCharacterLosesTheFortune", {false, 2, true}, {false, 2, false}, {}},
        RulesCase{"BulkWithCharacterFallsBackToNone",
                  {true, 4, false},
                  {true, 0, false},
                  QStringLiteral("キャラは送らないが選択されました")},
        RulesCase{"BulkWithFortuneLosesTheFortune", {true, 0, true}, {true, 0, false}, {}},
        RulesCase{"FortuneAloneStays", {false, 0, true}, {false, 0, true}, {}},
        RulesCase{"CharacterAloneStays", {false, 5, false}, {false, 5, false}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriteFormTest, ClearEmptiesTheFieldsButKeepsTheCharacter) {
    WriteForm& f = loaded();
    f.Option5->setChecked(true);
    f.ToText->setPlainText(QStringLiteral("bob@localhost"));
    f.SubjectText->setText(QStringLiteral("件名"));
    f.BodyText->setPlainText(QStringLiteral("本文"));
    f.AttachText->setText(QStringLiteral("/tmp/a.txt"));
    f.Check1->setChecked(true);
    f.Command11_Click();
    EXPECT_TRUE(f.ToText->toPlainText().isEmpty());
    EXPECT_TRUE(f.SubjectText->text().isEmpty());
    EXPECT_TRUE(f.BodyText->toPlainText().isEmpty());
    EXPECT_TRUE(f.AttachText->text().isEmpty());
    EXPECT_FALSE(f.Check1->isChecked());
    EXPECT_EQ(f.chosenMood(), 3);
    EXPECT_EQ(f.Text2->text(), QStringLiteral("キャラ送信、③が選択されました"));
}

// The CC and BCC rows come between 宛先 and 件名; what is above them keeps
// its place, what is below moves down by both rows (720 twips), in the
// window and in the address panel, and all of it stays inside its parent.
TEST_F(WriteFormTest, RowsStandWhereTheWindowPutsThem) {
    WriteForm& f = loaded();
    f.Command4_Click();
    const std::pair<QWidget*, int> tops[] = {
        {f.Command1, 120},     {f.Frame1, 1320},        {f.Label12, 2085},    {f.ToText, 2400},
        {f.CcText, 2760},      {f.BccText, 3120},       {f.SubjectText, 3480}, {f.Combo1, 3840},
        {f.AttachCommand, 4200}, {f.AttachText, 4200},  {f.List2, 4200},      {f.Check1, 4515},
        {f.BodyText, 4800},    {f.Text14, 6000},        {f.StatusStrip, 7920}, {f.AddressPanel, 1200},
        {f.List1, 600},        {f.Text1, 6450},         {f.Option2->parentWidget(), 6720}};
    for (const auto& [control, top] : tops) {
        EXPECT_EQ(control->y(), TwipsToPixels(top, f.logicalDpiY())) << top;
        EXPECT_LE(control->geometry().bottom(), control->parentWidget()->height()) << top;
    }
}

struct HiddenModeCase {
    const char* name;
    QString recipient;
    bool opens;
};

class WriteFormHiddenMode : public WriteFormTest, public ::testing::WithParamInterface<HiddenModeCase> {};

TEST_P(WriteFormHiddenMode, OnlyKobuOpensTheBottomRow) {
    WriteForm& f = loaded();
    f.show();
    f.ToText->setPlainText(GetParam().recipient);
    QTest::mouseDClick(f.Label7, Qt::LeftButton);
    EXPECT_EQ(f.size(), clientSize(kNormalWidth, GetParam().opens ? kHiddenModeHeight : kNormalHeight));
    EXPECT_EQ(f.Command2->y(), TwipsToPixels(7995 + 720, f.logicalDpiY())) << "below the rows, as is the status strip";
    EXPECT_LE(f.Command2->geometry().bottom(), TwipsToPixels(ClientHeight(kHiddenModeHeight), f.logicalDpiY()));
    EXPECT_EQ(f.Command2->isVisible(), GetParam().opens);
    EXPECT_EQ(f.Command2->isEnabled(), GetParam().opens);
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteFormHiddenMode,
                         ::testing::Values(HiddenModeCase{"Kobu", QStringLiteral("kobu"), true},
                                           HiddenModeCase{"Capitalised", QStringLiteral("Kobu"), false},
                                           HiddenModeCase{"TrailingBlank", QStringLiteral("kobu "), false},
                                           HiddenModeCase{"Address", QStringLiteral("bob@localhost"), false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct OpeningLineCase {
    const char* name;
    QString body;
    QString line;
    QString lastLine;
    bool changed;
    QString expected;
};

class OpeningLine : public ::testing::TestWithParam<OpeningLineCase> {};

TEST_P(OpeningLine, NeverThrowsAwayTypedText) {
    const OpeningLineCase& c = GetParam();
    EXPECT_EQ(BodyAfterOpeningLine(c.body, c.line, c.lastLine, c.changed), c.expected);
}

const QString kPhrase = QStringLiteral("いつもお世話になっております。");
const QString kOtherPhrase = QStringLiteral("はじめまして、突然のメールで恐縮です。");

INSTANTIATE_TEST_SUITE_P(
    Cases, OpeningLine,
    ::testing::Values(
        OpeningLineCase{"UnchangedLeavesTypedText", QStringLiteral("本文"), kPhrase, {}, false, QStringLiteral("本文")},
        OpeningLineCase{"UnchangedEmptyBoxLeavesTheBody", QStringLiteral("本文"), {}, {}, false, QStringLiteral("本文")},
        OpeningLineCase{"ClearedBoxLeavesTheBody", QStringLiteral("本文"), {}, kPhrase, true, QStringLiteral("本文")},
        OpeningLineCase{"EmptyBodyTakesThePhrase", {}, kPhrase, {}, true, kPhrase},
        OpeningLineCase{"EarlierPhraseIsReplaced", kOtherPhrase, kPhrase, {}, true, kPhrase},
        OpeningLineCase{"OwnLineIsReplaced", QStringLiteral("拝啓"), kPhrase, QStringLiteral("拝啓"), true, kPhrase},
        OpeningLineCase{"TypedTextGetsAFirstLine", QStringLiteral("本文\n二行目"), kPhrase, {}, true,
                        kPhrase + QStringLiteral("\n本文\n二行目")},
        OpeningLineCase{"SameLineIsNotAddedTwice", kPhrase + QStringLiteral("\n本文"), kPhrase, kOtherPhrase, true,
                        kPhrase + QStringLiteral("\n本文")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriteFormTest, LeavingTheOpeningLineBoxPutsTheChosenPhraseInFront) {
    WriteForm& f = loaded();
    f.BodyText->setPlainText(QStringLiteral("本文"));
    f.show();
    f.Combo1->setFocus();
    QApplication::processEvents();
    f.Combo1->setCurrentIndex(3);
    f.BodyText->setFocus();
    QApplication::processEvents();
    // Offscreen windows may not get focus events; by hand, once more, it
    // must change nothing further.
    f.Combo1_LostFocus();
    EXPECT_EQ(f.BodyText->toPlainText(), kPhrase + QStringLiteral("\n本文"));
}

TEST_F(WriteFormTest, AddressPanelListsTheBookAndFillsTheRecipient) {
    writeBook(AddressListPath(program.paths), {{QStringLiteral("リスト"), QStringLiteral("list@localhost")}});
    writeBook(AddressBookPath(program.paths), {{QStringLiteral("アリス"), QStringLiteral("alice@localhost")},
                                               {QStringLiteral("ボブ"), QStringLiteral("bob@localhost")}});
    WriteForm& f = loaded();
    EXPECT_EQ(f.List1->count(), 1) << "at load the list file is shown";
    EXPECT_EQ(f.Text1->text(), QStringLiteral("1"));

    f.Command4_Click();
    f.Command4_Click();  // a second opening rebuilds from the start
    EXPECT_EQ(f.size(), clientSize(kPanelWidth, kNormalHeight));
    ASSERT_EQ(f.List1->count(), 2);
    EXPECT_EQ(f.Text1->text(), QStringLiteral("2"));
    EXPECT_EQ(f.AddressMap, (std::vector<std::int16_t>{1, 2, 0}));
    EXPECT_TRUE(f.List1->item(1)->text().startsWith(QStringLiteral("ボブ")));

    f.show();
    QTest::mouseClick(f.List1->viewport(), Qt::LeftButton, {}, f.List1->visualItemRect(f.List1->item(1)).center());
    EXPECT_EQ(f.ToText->toPlainText(), QStringLiteral("bob@localhost"));
    EXPECT_TRUE(boxes.isEmpty());

    f.Command6_Click();
    EXPECT_EQ(f.size(), clientSize(kNormalWidth, kNormalHeight));
}

TEST_F(WriteFormTest, ClickIntoTheListWithNothingSelectedOnlyWarns) {
    WriteForm& f = loaded();
    f.Command4_Click();
    f.show();
    QTest::mouseClick(f.List1->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].text, QStringLiteral("データが選択されていません"));
    EXPECT_EQ(boxes[0].kind, MessageKind::Warning);
    EXPECT_TRUE(f.ToText->toPlainText().isEmpty());
}

TEST_F(WriteFormTest, AttachmentsAddUpAndCancelResets) {
    QStringList answers{folder.path(QStringLiteral("a.txt")), folder.path(QStringLiteral("b.txt")), QString()};
    QStringList openedIn;
    SetOpenFileChooser([&](const OpenFileRequest& request) {
        openedIn.append(request.folder);
        return answers.takeFirst();
    });
    WriteForm& f = loaded();
    f.AttachCommand_Click();
    EXPECT_FALSE(f.AttachCommand->isEnabled());
    EXPECT_TRUE(f.Command9->isEnabled());
    f.Command9_Click();
    f.Command9_Click();  // cancelled: nothing added
    EXPECT_EQ(f.AttachText->text(), folder.path(QStringLiteral("a.txt")) + u',' + folder.path(QStringLiteral("b.txt")));
    EXPECT_EQ(f.List2->count(), 2);
    ASSERT_EQ(openedIn.size(), 3);
    EXPECT_EQ(QDir(openedIn[1]), QDir(folder.path())) << "the dialog opens where the last file came from";

    f.Command10_Click();
    EXPECT_TRUE(f.AttachText->text().isEmpty());
    EXPECT_EQ(f.List2->count(), 0);
    EXPECT_FALSE(f.Command9->isEnabled());
    EXPECT_FALSE(f.Command10->isEnabled());
    EXPECT_TRUE(f.AttachCommand->isEnabled());
}

// --- What a draft keeps.

TEST_F(WriteFormTest, EachEditTellsTheDraftKeeper) {
    WriteForm& f = loaded();
    QSignalSpy changed(&f, &WriteForm::contentChanged);
    const auto told = [&](const char* what, const std::function<void()>& edit) {
        changed.clear();
        edit();
        EXPECT_GE(changed.count(), 1) << what;
    };
    for (QWidget* box : std::initializer_list<QWidget*>{f.ToText, f.CcText, f.BccText, f.SubjectText, f.BodyText})
        told("a box", [&] { QTest::keyClicks(box, u"a"_s); });
    SetOpenFileChooser([&](const OpenFileRequest&) { return folder.path(u"a.txt"_s); });
    told("an attachment", [&] { f.AttachCommand_Click(); });
    told("a character", [&] { f.Option4->click(); });
    told("back to no character", [&] { f.Option8->click(); });
    told("the fortune", [&] { f.Check1->click(); });
}

TEST_F(WriteFormTest, ADraftComesBackAsItWasKept) {
    ComposeDraft kept;
    kept.to = u"bob@localhost\nalice@localhost"_s;
    kept.subject = u"件名"_s;
    kept.body = u"一行目\n二行目"_s;
    kept.attachments = {folder.path(u"a,b.txt"_s), folder.path(u"c.txt"_s)};
    kept.mood = 3;
    WriteForm& f = loaded();
    f.loadDraft(kept);
    EXPECT_EQ(f.currentDraft(), kept);
    EXPECT_EQ(f.List2->count(), 2);
    EXPECT_FALSE(f.AttachCommand->isEnabled()) << "as after choosing the files";
    EXPECT_TRUE(f.Command9->isEnabled() && f.Command10->isEnabled());
    f.Timer1_Timer();
    EXPECT_EQ(f.currentDraft(), kept) << "the choices are in order already";
}

// Completion under 宛先, CC and BCC, from the address book.
TEST_F(WriteFormTest, CompletesInEachRecipientBox) {
    writeBook(AddressBookPath(program.paths), {{u"アリス"_s, u"alice@example.jp"_s}, {u"ボブ"_s, u"bob@example.jp"_s}});
    WriteForm& f = loaded();
    test::ExpectCompletionInEachBox(f, *f.completer(), {f.ToText, f.CcText, f.BccText}, u"ali"_s, u"alice@example.jp"_s);
}

TEST_F(WriteFormTest, TheDefaultSignatureAloneIsNoDraft) {
    ComposeOptions options;
    options.Signatures = {u"山田\n営業部"_s, u"Taro"_s, QString()};
    options.DefaultSignature = 1;
    ASSERT_TRUE(WriteComposeOptions(program.paths.path(files::ProgramOptions), options));
    const QString drafts = DraftsMaildirPath(program.paths);
    WriteForm& f = loaded();
    EXPECT_EQ(f.BodyText->toPlainText(), u"\n-- \n山田\n営業部"_s);
    EXPECT_EQ(f.SignatureCombo->currentIndex(), 1);
    f.SignatureCombo->setCurrentIndex(2);
    EXPECT_EQ(f.BodyText->toPlainText(), u"\n-- \nTaro"_s) << "the one chosen in place of the other";
    f.DraftCommand->click();
    EXPECT_TRUE(ReadDrafts(drafts).value().drafts.empty()) << "nothing typed";

    f.BodyText->moveCursor(QTextCursor::Start);
    f.BodyText->insertPlainText(u"本文"_s);
    f.DraftCommand->click();
    EXPECT_EQ(f.Label7->text(), u"下書きを保存しました。"_s);
    const auto kept = ReadDrafts(drafts);
    ASSERT_EQ(kept.value().drafts.size(), 1u);
    EXPECT_EQ(kept.value().drafts[0].draft.body, u"本文\n-- \nTaro"_s);
    EXPECT_EQ(kept.value().drafts[0].draft.signature, 2);

    // Opened again from the draft, the window knows the signature it holds.
    WriteForm again(windows);
    again.Form_Load();
    again.loadDraft(kept.value().drafts[0].draft);
    EXPECT_EQ(again.BodyText->toPlainText(), u"本文\n-- \nTaro"_s);
    again.SignatureCombo->setCurrentIndex(0);
    EXPECT_EQ(again.BodyText->toPlainText(), u"本文"_s);
}

// A move of the mouse over a widget, as the window system delivers it.
void moveOver(QWidget* widget) {
    const QPointF at(5, 5);
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

TEST_F(WriteFormTest, HelpTextFollowsTheMouse) {
    WriteForm& f = loaded();
    f.show();
    moveOver(f.Command3);
    EXPECT_TRUE(f.Text14->isVisible());
    EXPECT_EQ(f.Text14->toPlainText(), QStringLiteral("送信を中止します。"));
    moveOver(f.Frame1);
    EXPECT_TRUE(f.Text14->toPlainText().endsWith(QStringLiteral("\n仲の良い人とのシグナルに使用してみては？")));
    moveOver(f.BodyText->viewport());
    EXPECT_FALSE(f.Text14->isVisible());
    moveOver(f.Command1);
    moveOver(&f);
    EXPECT_FALSE(f.Text14->isVisible()) << "the bare window hides it too";
}

TEST_F(WriteFormTest, ThePanelListsAndCountsOnlyWhatABulkSendGoesTo) {
    writeBook(AddressBookPath(program.paths), {{u"アリス"_s, u"alice@localhost"_s},
                                               {u"消した人"_s, u"-gone@localhost"_s},
                                               {u"ボブ"_s, u"bob@localhost"_s},
                                               {u"消した人２"_s, u"-gone2@localhost"_s}});
    writeBook(AddressListPath(program.paths), {{u"消した人"_s, u"-gone@localhost"_s}, {u"リスト"_s, u"list@localhost"_s}});
    WriteForm& f = loaded();
    ASSERT_EQ(f.List1->count(), 1) << "the list file at load: its deleted record is not listed either";
    EXPECT_EQ(f.Text1->text(), u"1"_s);
    EXPECT_EQ(f.AddressMap, (std::vector<std::int16_t>{2, 0}));

    f.Command4_Click();
    ASSERT_EQ(f.List1->count(), 2);
    EXPECT_EQ(f.Text1->text(), u"2"_s);
    EXPECT_TRUE(f.List1->item(0)->text().startsWith(u"アリス"_s));
    EXPECT_TRUE(f.List1->item(1)->text().startsWith(u"ボブ"_s));
    EXPECT_EQ(f.AddressMap, (std::vector<std::int16_t>{1, 3, 0})) << "rows keep their record numbers";
    f.show();
    QTest::mouseClick(f.List1->viewport(), Qt::LeftButton, {}, f.List1->visualItemRect(f.List1->item(1)).center());
    EXPECT_EQ(f.ToText->toPlainText(), u"bob@localhost"_s);
}

// The recipient box is one line high: an address typed over a long text
// that had scrolled it must still be seen, not hidden a line down.
TEST_F(WriteFormTest, AnAddressTypedOverALongRecipientIsShown) {
    WriteForm& f = loaded();
    f.show();
    f.ToText->setFocus();
    QTest::keyClicks(f.ToText, u"fe"_s + QString(58, u'a'));
    QTest::keyClick(f.ToText, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(f.ToText, u"bob@localhost"_s);
    ASSERT_EQ(f.ToText->toPlainText(), u"bob@localhost"_s) << "Ctrl+A is select all, also in a full box";
    EXPECT_EQ(f.ToText->verticalScrollBar()->value(), 0);
    const QImage shown = f.ToText->viewport()->grab().toImage();
    int ink = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) ink += qGray(shown.pixel(x, y)) < 128;
    EXPECT_GT(ink, 20) << "the address is drawn";
}

// --- Boxes that take at most so many characters.

QString TextOf(QWidget* box) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->text();
    return qobject_cast<QPlainTextEdit*>(box)->toPlainText();
}
int CaretOf(QWidget* box) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->cursorPosition();
    return qobject_cast<QPlainTextEdit*>(box)->textCursor().position();
}
void SetCaret(QWidget* box, int position) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->setCursorPosition(position);
    auto* edit = qobject_cast<QPlainTextEdit*>(box);
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(position);
    edit->setTextCursor(cursor);
}
void Empty(QWidget* box) {
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->clear();
    qobject_cast<QPlainTextEdit*>(box)->clear();
}
// What an input method hands over when a word is confirmed.
void CommitText(QWidget* box, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(box, &commit);
}

struct LimitedBoxCase {
    const char* name;
    int limit;
    // Opens the window into window and gives the box, and the button that
    // pastes into it (null for none).
    std::function<std::pair<QWidget*, QPushButton*>(FakeWindows&, std::unique_ptr<QWidget>&)> open;
};

class LimitedBox : public WriteFormTest, public ::testing::WithParamInterface<LimitedBoxCase> {};

TEST_P(LimitedBox, TakesNothingMoreOnceFullAndLeavesTextAndCaret) {
    const LimitedBoxCase& c = GetParam();
    std::unique_ptr<QWidget> window;
    const auto [box, pasteButton] = c.open(windows, window);
    window->show();
    box->setFocus();
    const QString full = u"fe"_s + QString(c.limit - 2, u'a');
    QTest::keyClicks(box, full);
    ASSERT_EQ(TextOf(box), full);
    ASSERT_EQ(CaretOf(box), c.limit);

    QTest::keyClicks(box, u"a"_s);
    EXPECT_EQ(TextOf(box), full) << "the key after the last one that fits";
    EXPECT_EQ(CaretOf(box), c.limit);
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(TextOf(box), full);

    SetCaret(box, 1);
    QTest::keyClicks(box, u"xyz"_s);
    EXPECT_EQ(TextOf(box), full) << "nor in the middle";
    EXPECT_EQ(CaretOf(box), 1);
    CommitText(box, u"山田"_s);
    EXPECT_EQ(TextOf(box), full) << "nor from the input method";
    EXPECT_EQ(CaretOf(box), 1);

    // Room for one: one goes in.
    SetCaret(box, c.limit);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, u"xy"_s);
    EXPECT_EQ(TextOf(box), full.chopped(1) + u"x"_s);
    EXPECT_EQ(CaretOf(box), c.limit);

    // A paste keeps what fits, the input method's word too.
    Empty(box);
    const QString most(c.limit - 3, u'b');
    QTest::keyClicks(box, most);
    QGuiApplication::clipboard()->setText(u"12345"_s);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(TextOf(box), most + u"123"_s);
    EXPECT_EQ(CaretOf(box), c.limit);
    Empty(box);
    QTest::keyClicks(box, most);
    CommitText(box, u"山田太郎"_s);
    EXPECT_EQ(TextOf(box), most + u"山田太"_s);

    if (pasteButton) {
        QGuiApplication::clipboard()->setText(QString(c.limit + 40, u'c'));
        pasteButton->click();
        EXPECT_EQ(TextOf(box), QString(c.limit, u'c')) << "the window's own paste button";
    }
}

std::pair<QWidget*, QPushButton*> OpenWriteForm(FakeWindows& windows, std::unique_ptr<QWidget>& window) {
    auto* form = new WriteForm(windows);
    window.reset(form);
    form->Form_Load();
    return {form->ToText, form->Command7};
}

FriendForm* OpenFriendForm(FakeWindows& windows, std::unique_ptr<QWidget>& window) {
    auto* form = new FriendForm(windows);
    window.reset(form);
    form->Form_Load();
    return form;
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, LimitedBox,
    ::testing::Values(LimitedBoxCase{"compose_recipient", 60, OpenWriteForm},
                      LimitedBoxCase{"address_book_address", 60,
                                     [](FakeWindows& w, std::unique_ptr<QWidget>& window) {
                                         FriendForm* form = OpenFriendForm(w, window);
                                         return std::pair<QWidget*, QPushButton*>{form->Text4, form->Command1};
                                     }},
                      LimitedBoxCase{"address_book_name", 30,
                                     [](FakeWindows& w, std::unique_ptr<QWidget>& window) {
                                         FriendForm* form = OpenFriendForm(w, window);
                                         return std::pair<QWidget*, QPushButton*>{form->Text2, nullptr};
                                     }}),
    CaseName);

struct FittingCase {
    const char* name;
    QString inserted;
    qsizetype kept, limit;
    QString fits;
};

class Fitting : public ::testing::TestWithParam<FittingCase> {};

TEST_P(Fitting, KeepsWhatFitsAndNeverHalfACharacter) {
    EXPECT_EQ(FittingPart(GetParam().inserted, GetParam().kept, GetParam().limit), GetParam().fits);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, Fitting,
    ::testing::Values(FittingCase{"all", u"abc"_s, 2, 5, u"abc"_s}, FittingCase{"some", u"abcdef"_s, 2, 5, u"abc"_s},
                      FittingCase{"none", u"abc"_s, 5, 5, QString()},
                      FittingCase{"over_full_box", u"abc"_s, 7, 5, QString()},
                      FittingCase{"not_half_an_emoji", u"a😀"_s, 3, 5, u"a"_s},
                      FittingCase{"a_whole_emoji", u"a😀"_s, 2, 5, u"a😀"_s}),
    CaseName);

// --- Sending from the window, over a scripted transport.

using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

class WriteFormSend : public WriteFormTest {
public:
    // A fourth entry registered meanwhile.
    void addFourthEntry() {
        writeBook(AddressBookPath(program.paths), {{u"A"_s, u"a@example.jp"_s},
                                                   {u"B"_s, u"b@example.jp"_s},
                                                   {u"C"_s, u"c@example.jp"_s},
                                                   {u"D"_s, u"d@example.jp"_s}});
    }

protected:
    void SetUp() override {
        WriteFormTest::SetUp();
        NMailInitializeWinSock();
        program.values.SmtpServer = u"smtp.example.jp"_s;
        program.values.MailAddress = u"me@example.jp"_s;
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
        writeBook(AddressBookPath(program.paths),
                  {{u"A"_s, u"a@example.jp"_s}, {u"B"_s, u"b@example.jp"_s}, {u"C"_s, u"c@example.jp"_s}});
    }
    void TearDown() override {
        SetMailTransport(nullptr);
        WriteFormTest::TearDown();
    }

    // The window in bulk mode with a message written.
    WriteForm& bulk() {
        WriteForm& f = loaded();
        f.show();
        f.Command4_Click();
        QTest::mouseClick(f.Option2, Qt::LeftButton);
        EXPECT_TRUE(f.Option2->isChecked());
        f.SubjectText->setText(u"お知らせ"_s);
        f.BodyText->setPlainText(u"皆さんへ"_s);
        return f;
    }
    void send(WriteForm& f) {
        QSignalSpy finished(&f, &WriteForm::sendFinished);
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        ASSERT_TRUE(finished.wait(10000));
    }
    QStringList sentTo() const {
        QStringList to;
        for (const auto& delivery : box->deliveries) to.append(delivery.to);
        return to;
    }

    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
};

struct SecondSendCase {
    const char* name;
    // What the user does between the two sends.
    std::function<void(WriteFormSend&, WriteForm&)> between;
    QStringList secondTo;
};

class SecondSend : public WriteFormSend, public ::testing::WithParamInterface<SecondSendCase> {};

TEST_P(SecondSend, AfterAPartialFailureGoesOnlyToTheFailedUntilTheMessageChanges) {
    box->refusedRecipients[u"b@example.jp"_s] = u"451 4.3.0 try again later"_s;
    WriteForm& f = bulk();
    send(f);
    EXPECT_EQ(sentTo(), QStringList({u"a@example.jp"_s, u"c@example.jp"_s}));
    ASSERT_TRUE(f.isVisible());
    EXPECT_EQ(f.Label7->text(), u"3通中1通が送信できませんでした。次の送信はその 1 件だけです。"_s);
    EXPECT_TRUE(f.Label7->toolTip().contains(u"b@example.jp"_s));
    EXPECT_TRUE(f.Option2->isChecked());

    box->refusedRecipients.clear();
    box->deliveries.clear();
    GetParam().between(*this, f);
    send(f);
    EXPECT_EQ(sentTo(), GetParam().secondTo);
    EXPECT_FALSE(f.isVisible()) << "everything went out";
    EXPECT_EQ(ReadAll(HistoryPath(program.paths, History::Sent)).size(), 3u + GetParam().secondTo.size());
}

const QStringList kEveryone{u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s};

INSTANTIATE_TEST_SUITE_P(
    Changes, SecondSend,
    ::testing::Values(
        SecondSendCase{"nothing", [](auto&, WriteForm&) {}, {u"b@example.jp"_s}},
        SecondSendCase{"the_panel_opened_again_on_the_same_book", [](auto&, WriteForm& f) { f.Command4_Click(); },
                       {u"b@example.jp"_s}},
        SecondSendCase{"the_subject", [](auto&, WriteForm& f) { f.SubjectText->setText(u"お知らせ（訂正）"_s); }, kEveryone},
        SecondSendCase{"the_body", [](auto&, WriteForm& f) { QTest::keyClicks(f.BodyText, u"!"_s); }, kEveryone},
        SecondSendCase{"bulk_mode_off_and_on",
                       [](auto&, WriteForm& f) {
                           QTest::mouseClick(f.Option1, Qt::LeftButton);
                           QTest::mouseClick(f.Option2, Qt::LeftButton);
                       },
                       kEveryone},
        SecondSendCase{"the_address_list",
                       [](WriteFormSend& t, WriteForm& f) {
                           t.addFourthEntry();
                           f.Command4_Click();
                       },
                       kEveryone + QStringList{u"d@example.jp"_s}}),
    CaseName);

// --- What the window hands to the send, and the looks before it goes.

struct LookCase {
    const char* name;
    bool confirmRecipients;  // 送信前に宛先を確認する
    QString body;
    // In the check window (when it opens): the rows to tick; then 送信 is
    // pressed, and キャンセル when the window is still open.
    std::vector<int> ticked;
    MessageAnswer attachmentAnswer;  // to the question about a missing attachment
    bool delivered;
    int questions;  // how many times the attachment question was asked
};

class Look : public WriteFormSend, public ::testing::WithParamInterface<LookCase> {};

TEST_P(Look, OnlyWhatTheUserLetGoReachesTheServer) {
    const LookCase& c = GetParam();
    ComposeOptions options;
    options.ConfirmRecipients = c.confirmRecipients;
    ASSERT_TRUE(WriteComposeOptions(program.paths.path(files::ProgramOptions), options));
    int questions = 0;
    SetMessageAnswerer([&](const MessageRequest& request) {
        if (request.kind != MessageKind::CautiousQuestion) {
            boxes.append(request);
            return MessageAnswer::Ok;
        }
        ++questions;
        return c.attachmentAnswer;
    });
    WriteForm& f = loaded();
    f.show();
    f.ToText->setPlainText(u"a@example.jp"_s);
    f.CcText->setText(u"b@other.example, 次郎 <c@example.jp>"_s);
    f.BccText->setText(u"d@example.jp"_s);
    f.SubjectText->setText(u"ご連絡"_s);
    f.BodyText->setPlainText(c.body);

    bool checkShown = false;
    bool sendEnabled = false;
    if (c.confirmRecipients) QTimer::singleShot(0, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 2000)) return;
        auto* check = qobject_cast<SendCheckForm*>(QApplication::activeModalWidget());
        if (!check) return;
        checkShown = true;
        EXPECT_EQ(check->RecipientList->rowCount(), 4) << "宛先, two CC and the BCC";
        for (int row : c.ticked) check->RecipientList->item(row, 0)->setCheckState(Qt::Checked);
        sendEnabled = check->SendButton->isEnabled();
        check->SendButton->click();
        if (check->isVisible()) check->CancelButton->click();
    });
    QSignalSpy finished(&f, &WriteForm::sendFinished);
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    if (c.delivered) {
        ASSERT_TRUE(finished.wait(10000));
    }

    EXPECT_EQ(checkShown, c.confirmRecipients && (c.questions == 0 || c.attachmentAnswer == MessageAnswer::Yes));
    if (checkShown) {
        EXPECT_EQ(sendEnabled, c.ticked.size() == 4u) << "送信 waits for every tick";
    }
    EXPECT_EQ(questions, c.questions);
    EXPECT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
    if (!c.delivered) {
        EXPECT_FALSE(f.isSending());
        EXPECT_TRUE(box->deliveries.empty());
        EXPECT_TRUE(ReadAll(HistoryPath(program.paths, History::Sent)).empty()) << "nothing recorded either";
        EXPECT_EQ(f.CcText->text(), u"b@other.example, 次郎 <c@example.jp>"_s) << "the window stays as written";
        return;
    }
    ASSERT_EQ(box->deliveries.size(), 1u);
    EXPECT_EQ(box->deliveries[0].to, u"a@example.jp b@other.example c@example.jp d@example.jp"_s);
    const QByteArray& sent = box->deliveries[0].message;
    const QByteArray head = sent.left(sent.indexOf("\r\n\r\n"));
    EXPECT_TRUE(head.contains("b@other.example")) << "CC in the header";
    EXPECT_TRUE(head.contains("c@example.jp"));
    EXPECT_FALSE(head.contains("d@example.jp")) << "BCC never in the header";
}

INSTANTIATE_TEST_SUITE_P(
    Sends, Look,
    ::testing::Values(
        LookCase{"cc_and_bcc_go_along", false, u"本文"_s, {}, MessageAnswer::No, true, 0},
        LookCase{"every_recipient_ticked", true, u"本文"_s, {0, 1, 2, 3}, MessageAnswer::No, true, 0},
        // The BCC row left unticked: 送信 does nothing; キャンセル sends nothing.
        LookCase{"a_recipient_not_ticked", true, u"本文"_s, {0, 1, 2}, MessageAnswer::No, false, 0},
        LookCase{"attachment_spoken_of_held_back", false, u"資料を添付します。"_s, {}, MessageAnswer::No, false, 1},
        LookCase{"attachment_spoken_of_sent_anyway", false, u"資料を添付します。"_s, {}, MessageAnswer::Yes, true, 1},
        // Asked first; held back there, the check window never opens.
        LookCase{"attachment_question_before_the_check", true, u"see attached"_s, {}, MessageAnswer::No, false, 1}),
    CaseName);

TEST_F(WriteFormSend, StopDuringASendBreaksItOffAndTheWindowStays) {
    auto transport = std::make_unique<mail::test::NeverAnsweringTransport>(box);
    mail::test::NeverAnsweringTransport* server = transport.get();
    SetMailTransport(std::move(transport));
    WriteForm& f = bulk();
    QSignalSpy finished(&f, &WriteForm::sendFinished);
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->waiting.load(); }, 5000));
    EXPECT_TRUE(f.isSending());
    EXPECT_TRUE(f.Command3->isEnabled()) << "送信中止 stays usable";
    EXPECT_FALSE(f.Command1->isEnabled());
    EXPECT_FALSE(f.BodyText->isEnabled());

    QTest::mouseClick(f.Command3, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(10000)) << "the stop ends the send long before any time-out";
    EXPECT_TRUE(box->deliveries.empty());
    EXPECT_TRUE(boxes.isEmpty()) << "a stop is no 送信エラー: " << boxes[0].text.toStdString();
    EXPECT_TRUE(ReadAll(HistoryPath(program.paths, History::Sent)).empty()) << "nothing went out, nothing is recorded";
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.Label7->text(), u"送信を中止しました。0 通を送信し、3 通は送信していません。"_s);
    EXPECT_EQ(f.BodyText->toPlainText(), u"皆さんへ"_s);
    EXPECT_TRUE(f.Command1->isEnabled() && f.BodyText->isEnabled());

    // Outside a send it closes the window, as ever.
    QTest::mouseClick(f.Command3, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
}

}  // namespace
}  // namespace lumopet
