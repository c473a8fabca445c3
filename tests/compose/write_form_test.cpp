// The compose window, offscreen: the option rules, the opening line, the
// sizes, the address panel, the attachments and the hidden mode.

#include "compose/WriteForm.h"
#include "compose/write_form_rules.h"
#include "core/program.h"
#include "core/twips.h"
#include "store/address_book.h"
#include "tests/support/fake_windows.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace lumopet {
namespace {

class WriteFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
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

    void writeBook(const QString& file, const std::vector<std::pair<QString, QString>>& entries) {
        QByteArray bytes;
        for (const auto& [name, address] : entries) bytes += EncodeAddressRecord(name, address);
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
    EXPECT_EQ(f.size(), clientSize(kNormalWidth, kNormalHeight));
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

}  // namespace
}  // namespace lumopet
