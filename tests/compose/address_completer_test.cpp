// Completion under a box, offscreen: typing opens the list, the keys and a
// click take an entry, which replaces only the address being typed.

#include "compose/address_completer.h"
#include "tests/support/qt_printers.h"
#include "ui/limited_text_box.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace lumopet {
namespace {

std::shared_ptr<const AddressIndex> People() {
    auto index = std::make_shared<AddressIndex>();
    index->add({QStringLiteral("田中 一郎"), QStringLiteral("tanaka@example.jp")}, PersonSource::AddressBook);
    index->add({QStringLiteral("田村 花子"), QStringLiteral("tamura@example.jp")}, PersonSource::AddressBook);
    index->add({QStringLiteral("山田 太郎"), QStringLiteral("yamada@example.jp")}, PersonSource::History);
    return index;
}

// Shown, active and typed into, as a window's box is.
void Focus(QWidget* box) {
    box->show();
    box->activateWindow();
    box->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(box));
}

QStringList Shown(const QAbstractItemView* list) {
    QStringList rows;
    for (int row = 0; row < list->model()->rowCount(); ++row) rows << list->model()->index(row, 0).data().toString();
    return rows;
}

// Enter, Tab, ↓ then Enter, a click on the second entry, Escape; and ↓ then
// Enter as the window system delivers them to the window with the focus
// (with the list open, Qt hands them to the list).
enum class Take { Enter, Tab, DownEnter, Click, Escape, WindowDownEnter };

struct AcceptCase {
    const char* name;
    bool plainBox;           // the 宛先 box is a QPlainTextEdit, CC and BCC QLineEdits
    int limit;               // the plain box's most characters; 0: none
    const char16_t* before;  // already in the box; the cursor at its end, or at "|"
    const char* typed;
    Take take;
    const char16_t* after;
};

class CompleterTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(CompleterTest, TakingAnEntryReplacesOnlyTheAddressTyped) {
    const AcceptCase& c = GetParam();
    AddressCompleter completer;
    completer.setIndex(People());
    QLineEdit line;
    LimitedTextEdit plain(c.limit > 0 ? c.limit : 1000);
    QWidget* box = c.plainBox ? static_cast<QWidget*>(&plain) : &line;
    QString before = QString::fromUtf16(c.before);
    const qsizetype bar = before.indexOf(u'|');
    before.remove(u'|');
    const int cursor = static_cast<int>(bar < 0 ? before.size() : bar);
    if (c.plainBox) {
        completer.attach(&plain);
        plain.setPlainText(before);
        QTextCursor at = plain.textCursor();
        at.setPosition(cursor);
        plain.setTextCursor(at);
    } else {
        completer.attach(&line);
        line.setText(before);
        line.setCursorPosition(cursor);
    }
    Focus(box);
    EXPECT_FALSE(completer.popup()->isVisible()) << "a text put in by the window opens nothing";

    QTest::keyClicks(box, QString::fromLatin1(c.typed));
    QAbstractItemView* list = completer.popup();
    ASSERT_TRUE(list->isVisible());
    switch (c.take) {
    case Take::Enter: QTest::keyClick(list, Qt::Key_Return); break;
    case Take::Tab: QTest::keyClick(list, Qt::Key_Tab); break;
    case Take::DownEnter:
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Enter);
        break;
    case Take::Click:
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
        break;
    case Take::Escape: QTest::keyClick(list, Qt::Key_Escape); break;
    case Take::WindowDownEnter:
        QTest::keyClick(box->windowHandle(), Qt::Key_Down);
        QTest::keyClick(box->windowHandle(), Qt::Key_Return);
        break;
    }
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(c.plainBox ? plain.toPlainText() : line.text(), QString::fromUtf16(c.after));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompleterTest,
    ::testing::Values(
        AcceptCase{"LineEnter", false, 0, u"", "ta", Take::Enter, u"田中 一郎 <tanaka@example.jp>"},
        AcceptCase{"LineDownEnterAfterOthers", false, 0, u"a@x.jp、", "ta", Take::DownEnter,
                   u"a@x.jp、田村 花子 <tamura@example.jp>"},
        AcceptCase{"LineMiddleKeepsTheRest", false, 0, u"a@x.jp, |, b@y.jp", "ta", Take::Tab,
                   u"a@x.jp, 田中 一郎 <tanaka@example.jp>, b@y.jp"},
        AcceptCase{"PlainTab", true, 0, u"a@x.jp; ", "ta", Take::Tab, u"a@x.jp; 田中 一郎 <tanaka@example.jp>"},
        AcceptCase{"PlainClick", true, 0, u"", "ta", Take::Click, u"田村 花子 <tamura@example.jp>"},
        AcceptCase{"PlainEscapeKeepsTyping", true, 0, u"a@x.jp, ", "ta", Take::Escape, u"a@x.jp, ta"},
        AcceptCase{"KeysFromTheWindowSystem", true, 0, u"", "ta", Take::WindowDownEnter,
                   u"田村 花子 <tamura@example.jp>"},
        // 30 characters: "田中 一郎 <tanaka@example.jp>" is 26, with "a@x.jp, " 34.
        AcceptCase{"FullBoxTakesTheBareAddress", true, 30, u"a@x.jp, ", "ta", Take::Enter,
                   u"a@x.jp, tanaka@example.jp"},
        // tanaka@example.jp would make 40: what was typed stays, never a cut address.
        AcceptCase{"FullBoxKeepsWhatWasTyped", true, 30, u"abcdefghij@example.jp, ", "tan", Take::Enter,
                   u"abcdefghij@example.jp, tan"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddressCompleter, TheListFollowsTheTyping) {
    AddressCompleter completer;
    QPlainTextEdit box;
    completer.attach(&box);
    Focus(&box);
    QTest::keyClicks(&box, QStringLiteral("t"));
    EXPECT_FALSE(completer.popup()->isVisible()) << "the index is still being read";
    completer.setIndex(People());
    QTest::keyClicks(&box, QStringLiteral("a"));
    EXPECT_EQ(Shown(completer.popup()).size(), 2);
    // With the list open, the input method still writes into the box.
    ASSERT_TRUE(completer.popup()->isVisible());
    ASSERT_EQ(QGuiApplication::focusObject(), &box);
    QInputMethodEvent committed;
    committed.setCommitString(QStringLiteral("n"));
    QApplication::sendEvent(QGuiApplication::focusObject(), &committed);
    EXPECT_EQ(box.toPlainText(), QStringLiteral("tan"));
    EXPECT_EQ(Shown(completer.popup()), QStringList{QStringLiteral("田中 一郎 <tanaka@example.jp>")});
    QTest::keyClicks(&box, QStringLiteral("zz"));
    EXPECT_FALSE(completer.popup()->isVisible());
}

}  // namespace
}  // namespace lumopet
