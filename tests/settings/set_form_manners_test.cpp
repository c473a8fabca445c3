// 設定's group of the characters' manners: saved with the ticks by
// キャラ設定 into lumopet.ini's [Characters], refused when the quiet hours
// cannot be read.

#include "core/settings_files/character_flags.h"
#include "settings/SetForm.h"
#include "tests/support/settings_window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <memory>

namespace lumopet {
namespace {

class SetFormManners : public test::SettingsWindowFixture {
protected:
    std::unique_ptr<SetForm> open() {
        auto form = std::make_unique<SetForm>(windows);
        form->Form_Load();
        form->show();
        return form;
    }
    QString optionsFile() const { return program.paths.path(files::ProgramOptions); }
};

TEST_F(SetFormManners, SavedWithTheTicksIntoTheFileAndTheProgram) {
    struct Case {
        const char* name;
        CharacterOptions before;  // what the program has when the window opens
        int clickHome, clickAway;  // clicks on each box
        const char* typed;         // nullptr: the box left as it was
        CharacterOptions saved;
    };
    const QString night = QStringLiteral("22:00-07:00");
    const Case cases[] = {
        {"all off, untouched", {}, 0, 0, nullptr, {}},
        {"all turned on", {}, 1, 1, "22:00-07:00", {true, true, night}},
        {"what the program had is kept", {true, true, night}, 0, 0, nullptr, {true, true, night}},
        {"turned off, the span cleared", {true, true, night}, 1, 1, "", {}},
        {"blanks around the span dropped", {}, 0, 1, "  9:30 - 12:00 ", {false, true, QStringLiteral("9:30 - 12:00")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // As at start: the program has what the file holds.
        ASSERT_TRUE(WriteCharacterOptions(optionsFile(), c.before).ok());
        windows.calls.clear();
        program.characters = c.before;
        auto form = open();
        if (c.clickHome) QTest::mouseClick(form->HomeWhenReadCheck, Qt::LeftButton, {}, QPoint(5, 5));
        if (c.clickAway) QTest::mouseClick(form->AwayFromFullScreenCheck, Qt::LeftButton, {}, QPoint(5, 5));
        if (c.typed) {
            form->QuietHoursEdit->clear();
            QTest::keyClicks(form->QuietHoursEdit, QString::fromUtf8(c.typed));
        }
        QTest::mouseClick(form->Check[0], Qt::LeftButton);
        QTest::mouseClick(form->Command3, Qt::LeftButton);

        EXPECT_EQ(ReadCharacterOptions(optionsFile()).value(), c.saved);
        EXPECT_EQ(program.characters, c.saved);
        EXPECT_TRUE(ReadCharacterFlags(program.paths.path(files::CharacterFile))[LinkOfWindow(1).mood - 1])
            << "the ticks saved as before";
        // The windows follow a change; nothing else is theirs to follow.
        EXPECT_EQ(std::count(windows.calls.begin(), windows.calls.end(), "CharacterOptionsChanged"),
                  c.saved == c.before ? 0 : 1);
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(SetFormManners, QuietHoursThatCannotBeReadRefuseTheSaveNamingTheFormat) {
    // Which spans cannot be read is ParseQuietHours' (its own table); here,
    // that the window refuses one.
    const QString typed = QStringLiteral("22:00-22:00");
    auto form = open();
    QTest::mouseClick(form->HomeWhenReadCheck, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(form->Check[0], Qt::LeftButton);
    QTest::keyClicks(form->QuietHoursEdit, typed);
    QTest::mouseClick(form->Command3, Qt::LeftButton);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Warning);
    EXPECT_TRUE(messages[0].text.contains(typed));
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("22:00-07:00"))) << "the format named";
    EXPECT_FALSE(QFileInfo::exists(optionsFile()));
    EXPECT_FALSE(QFileInfo::exists(program.paths.path(files::CharacterFile))) << "nothing saved";
    EXPECT_EQ(program.characters, CharacterOptions{});
    EXPECT_TRUE(windows.calls.empty());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->QuietHoursEdit->text(), typed) << "what was typed stays to be mended";
}

TEST_F(SetFormManners, AnOptionsFileThatCannotBeWrittenIsSaidAndTheProgramGoesOnAsBefore) {
    ASSERT_TRUE(QDir().mkdir(optionsFile()));
    auto form = open();
    QTest::mouseClick(form->AwayFromFullScreenCheck, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    EXPECT_EQ(program.characters, CharacterOptions{});
    EXPECT_EQ(std::count(windows.calls.begin(), windows.calls.end(), "CharacterOptionsChanged"), 0);
    EXPECT_TRUE(form->AwayFromFullScreenCheck->isChecked()) << "the choice kept to try again";
}

}  // namespace
}  // namespace lumopet
