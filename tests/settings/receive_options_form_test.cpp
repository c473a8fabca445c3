#include "core/program.h"
#include "settings/JunkTrainingForm.h"
#include "settings/ReceiveOptionsForm.h"
#include "settings/SetForm.h"
#include "tests/support/settings_window_fixture.h"
#include "tests/support/qt_printers.h"
#include "tests/support/receive_options_printer.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <ostream>
#include <vector>

namespace lumopet {

namespace {

const QString kOptionsFile = QStringLiteral("★MailData/lumopet.ini");

class ReceiveOptionsFormTest : public test::SettingsWindowFixture {
protected:
    std::unique_ptr<ReceiveOptionsForm> open() {
        auto form = std::make_unique<ReceiveOptionsForm>(windows);
        form->Form_Load();
        form->show();
        return form;
    }

    void expectOneError() {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].kind, MessageKind::Error);
        EXPECT_EQ(messages[0].title, QStringLiteral("エラー"));
        EXPECT_TRUE(messages[0].text.contains(program.paths.path(files::ProgramOptions))) << messages[0].text.toStdString();
    }
};

// What the window shows for a file, and which boxes are open for input.
TEST_F(ReceiveOptionsFormTest, ShowsTheFileAndOpensOnlyTheBoxesThatCountNow) {
    struct Case {
        const char* name;
        QByteArray file;
        ReceiveOptions shown;
        int minutes, days;  // the number boxes
        bool minutesOpen, deleteOptionsOpen, daysOpen;
    };
    const Case cases[] = {
        {"no file", {}, {}, 10, 30, false, false, false},
        {"all on", "[Receive]\r\nAutoCheckMinutes=15\r\nLeaveOnServer=1\r\nDeleteAfterDays=7\r\nDeleteWithHistory=1\r\n"
                   "Tray=1\r\nNotify=1\r\nJunkFilter=1\r\n",
         {15, true, 7, true, true, true, kDefaultMaxMessageMB, true}, 15, 7, true, true, true},
        {"left on the server, never deleted", "[Receive]\r\nLeaveOnServer=1\r\n", {0, true, 0, false, false, false}, 10,
         30, false, true, false},
        // Without mail left on the server its options stay as they were,
        // greyed, and come back when it is ticked again.
        {"delete options without leaving", "[Receive]\r\nDeleteAfterDays=3650\r\nDeleteWithHistory=1\r\nTray=1\r\n",
         {0, false, 3650, true, true, false}, 10, 3650, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder.path(kOptionsFile));
        if (!c.file.isEmpty()) folder.write(kOptionsFile, c.file);
        auto form = open();
        EXPECT_EQ(form->ChosenOptions(), c.shown);
        EXPECT_EQ(form->AutoMinutes->value(), c.minutes);
        EXPECT_EQ(form->DeleteAfterDays->value(), c.days);
        EXPECT_EQ(form->AutoMinutes->isEnabled(), c.minutesOpen);
        EXPECT_EQ(form->DeleteAfterCheck->isEnabled(), c.deleteOptionsOpen);
        EXPECT_EQ(form->DeleteWithHistoryCheck->isEnabled(), c.deleteOptionsOpen);
        EXPECT_EQ(form->DeleteAfterDays->isEnabled(), c.daysOpen);
        for (QWidget* always : std::initializer_list<QWidget*>{form->AutoCheck, form->LeaveCheck, form->TrayCheck,
                                                               form->NotifyCheck, form->JunkCheck})
            EXPECT_TRUE(always->isEnabled());
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ReceiveOptionsFormTest, TickingOpensTheDependentBoxesAndUntickingGreysThemKeepingTheirTicks) {
    auto form = open();
    QTest::mouseClick(form->AutoCheck, Qt::LeftButton);
    EXPECT_TRUE(form->AutoMinutes->isEnabled());
    QTest::mouseClick(form->LeaveCheck, Qt::LeftButton);
    EXPECT_TRUE(form->DeleteAfterCheck->isEnabled());
    EXPECT_TRUE(form->DeleteWithHistoryCheck->isEnabled());
    EXPECT_FALSE(form->DeleteAfterDays->isEnabled()) << "its own box is not ticked yet";
    QTest::mouseClick(form->DeleteAfterCheck, Qt::LeftButton);
    EXPECT_TRUE(form->DeleteAfterDays->isEnabled());
    QTest::mouseClick(form->DeleteWithHistoryCheck, Qt::LeftButton);

    QTest::mouseClick(form->LeaveCheck, Qt::LeftButton);
    for (QWidget* greyed : std::initializer_list<QWidget*>{form->DeleteAfterCheck, form->DeleteAfterDays,
                                                           form->DeleteWithHistoryCheck})
        EXPECT_FALSE(greyed->isEnabled());
    EXPECT_EQ(form->ChosenOptions(), (ReceiveOptions{10, false, 30, true, false, false}));
    QTest::mouseClick(form->AutoCheck, Qt::LeftButton);
    EXPECT_FALSE(form->AutoMinutes->isEnabled());
    EXPECT_EQ(form->ChosenOptions().AutoCheckMinutes, 0);
}

TEST_F(ReceiveOptionsFormTest, SaveWritesTheFileSetsTheProgramAndTellsTheOthers) {
    folder.write(kOptionsFile, "; mine\r\n[Receive]\r\nTray=1\r\nMaxMessageMB=500\r\n");
    // As the program read it at its start: the window does not show the
    // size limit, and must not put it back to its default.
    program.receive.Tray = true;
    program.receive.MaxMessageMB = 500;
    auto form = open();
    QTest::mouseClick(form->AutoCheck, Qt::LeftButton);
    form->AutoMinutes->selectAll();
    QTest::keyClicks(form->AutoMinutes, QStringLiteral("25"));
    QTest::mouseClick(form->LeaveCheck, Qt::LeftButton);
    QTest::mouseClick(form->DeleteAfterCheck, Qt::LeftButton);
    QTest::mouseClick(form->NotifyCheck, Qt::LeftButton);
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);

    EXPECT_EQ(folder.read(kOptionsFile), "; mine\r\n[Receive]\r\nTray=1\r\nMaxMessageMB=500\r\nAutoCheckMinutes=25\r\n"
                                         "LeaveOnServer=1\r\nDeleteAfterDays=30\r\nDeleteWithHistory=0\r\nNotify=1\r\n"
                                         "JunkFilter=0\r\n");
    EXPECT_EQ(program.receive, (ReceiveOptions{25, true, 30, false, true, true, 500}));
    EXPECT_EQ(windows.calls, Calls{"ReceiveOptionsChanged"});
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST_F(ReceiveOptionsFormTest, LeftWithoutSavingChangesNothing) {
    for (const bool escape : {false, true}) {
        auto form = open();
        QTest::mouseClick(form->TrayCheck, Qt::LeftButton);
        if (escape) {
            QTest::keyClick(form.get(), Qt::Key_Escape);
        } else {
            QTest::mouseClick(form->CancelCommand, Qt::LeftButton);
        }
        EXPECT_FALSE(form->isVisible());
    }
    EXPECT_FALSE(QFile::exists(folder.path(kOptionsFile)));
    EXPECT_EQ(program.receive, ReceiveOptions{});
    EXPECT_TRUE(windows.calls.empty());
}

TEST_F(ReceiveOptionsFormTest, AFailedSaveKeepsTheWindowAndTheChoiceAndTheProgramAsItWas) {
    // Root writes anywhere; a folder that is gone cannot take the file.
    ASSERT_TRUE(QDir(folder.path(QStringLiteral("★MailData"))).removeRecursively());
    program.receive.Notify = true;
    auto form = open();
    QTest::mouseClick(form->TrayCheck, Qt::LeftButton);
    QTest::mouseClick(form->LeaveCheck, Qt::LeftButton);
    const ReceiveOptions chosen = form->ChosenOptions();
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);

    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->ChosenOptions(), chosen);
    EXPECT_EQ(program.receive, (ReceiveOptions{0, false, 0, false, false, true}));
    EXPECT_TRUE(windows.calls.empty());
    expectOneError();
}

// Start-up told the user about a file it could not read; the window says it
// again, shows the defaults and leaves the file alone: closing it, and even
// saving, never replaces it.
TEST_F(ReceiveOptionsFormTest, AnUnreadableFileShowsTheDefaultsAndIsNeverReplaced) {
    const QString path = program.paths.path(files::ProgramOptions);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    program.receive = {5, true, 0, false, true, false};  // what the program runs with
    auto form = open();
    expectOneError();
    EXPECT_EQ(form->ChosenOptions(), ReceiveOptions{});

    messages.clear();
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);
    expectOneError();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(program.receive, (ReceiveOptions{5, true, 0, false, true, false}));
    form->close();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// Training is offered by the user's tick alone: a window that shows the
// file's tick, or a box cleared, offers nothing.
TEST_F(ReceiveOptionsFormTest, TickingTheJunkBoxOffersTrainingAndShowingItTickedDoesNot) {
    struct Case {
        const char* name;
        QByteArray file;
        int clicks;  // on the box after the window opened
        bool ticked, offered;
        bool checkRunning = false;  // training would write the word list the check reads
    };
    const Case cases[] = {
        {"off, ticked", "[Receive]\r\nJunkFilter=0\r\n", 1, true, true},
        {"on, shown", "[Receive]\r\nJunkFilter=1\r\n", 0, true, false},
        {"on, cleared", "[Receive]\r\nJunkFilter=1\r\n", 1, false, false},
        {"on, cleared and ticked again", "[Receive]\r\nJunkFilter=1\r\n", 2, true, true},
        {"off, ticked during a check", "[Receive]\r\nJunkFilter=0\r\n", 1, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windows.commandRunning = c.checkRunning;
        folder.write(kOptionsFile, c.file);
        auto form = open();
        for (int i = 0; i < c.clicks; ++i) QTest::mouseClick(form->JunkCheck, Qt::LeftButton);
        EXPECT_EQ(form->JunkCheck->isChecked(), c.ticked);
        EXPECT_EQ(form->ChosenOptions().JunkFilter, c.ticked);
        EXPECT_EQ(form->TrainingForm && form->TrainingForm->isVisible(), c.offered);
        // The offer is the one window, whose 閉じる skips it.
        if (c.offered) {
            EXPECT_EQ(form->TrainingForm->windowTitle(), QStringLiteral("迷惑メールの学習"));
            QTest::mouseClick(form->TrainingForm->CloseCommand, Qt::LeftButton);
            EXPECT_FALSE(form->TrainingForm && form->TrainingForm->isVisible());
        }
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(ReceiveOptionsFormTest, TheJunkFilterIsSavedWithTheOtherLinesKept) {
    folder.write(kOptionsFile, "; mine\r\n[Receive]\r\nTray=1\r\nMaxMessageMB=500\r\n[Characters]\r\nQuietHours=22:00-07:00\r\n");
    program.receive.Tray = true;
    program.receive.MaxMessageMB = 500;
    auto form = open();
    QTest::mouseClick(form->JunkCheck, Qt::LeftButton);
    ASSERT_TRUE(form->TrainingForm);
    QTest::mouseClick(form->TrainingForm->CloseCommand, Qt::LeftButton);
    QTest::mouseClick(form->SaveCommand, Qt::LeftButton);

    EXPECT_EQ(folder.read(kOptionsFile), "; mine\r\n[Receive]\r\nTray=1\r\nMaxMessageMB=500\r\nAutoCheckMinutes=0\r\n"
                                         "LeaveOnServer=0\r\nDeleteAfterDays=0\r\nDeleteWithHistory=0\r\nNotify=0\r\n"
                                         "JunkFilter=1\r\n[Characters]\r\nQuietHours=22:00-07:00\r\n");
    EXPECT_TRUE(program.receive.JunkFilter);
    EXPECT_EQ(windows.calls, Calls{"ReceiveOptionsChanged"});
}

// A move of the mouse over a widget, as the window system delivers it.
void moveOver(QWidget* widget, QPoint at = QPoint(3, 3)) {
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

TEST_F(ReceiveOptionsFormTest, TheHelpLineSaysWhatTheControlUnderTheMouseDoes) {
    auto form = open();  // the options of mail left on the server are greyed
    const QString general = ReceiveOptionsHelpText(ReceiveOptionsTopic::None);
    EXPECT_EQ(form->HelpLabel->text(), general);
    const std::pair<QWidget*, ReceiveOptionsTopic> cases[] = {
        {form->AutoCheck, ReceiveOptionsTopic::AutoCheck},
        {form->AutoMinutes, ReceiveOptionsTopic::AutoCheck},  // greyed
        {form->AutoMinutesLabel, ReceiveOptionsTopic::AutoCheck},
        {form->LeaveCheck, ReceiveOptionsTopic::LeaveOnServer},
        {form->DeleteAfterDays, ReceiveOptionsTopic::DeleteAfterDays},
        {form->DeleteAfterLabel, ReceiveOptionsTopic::DeleteAfterDays},
        {form->DeleteWithHistoryCheck, ReceiveOptionsTopic::DeleteWithHistory},
        {form->TrayCheck, ReceiveOptionsTopic::Tray},
        {form->NotifyCheck, ReceiveOptionsTopic::Notify},
        {form->JunkCheck, ReceiveOptionsTopic::JunkFilter},
        {form->SaveCommand, ReceiveOptionsTopic::Save},
        {form->CancelCommand, ReceiveOptionsTopic::Cancel},
    };
    for (const auto& [control, topic] : cases) {
        SCOPED_TRACE(control->metaObject()->className());
        moveOver(control);
        const QString text = ReceiveOptionsHelpText(topic);
        EXPECT_EQ(form->HelpLabel->text(), text);
        // Every option says how it starts.
        if (topic != ReceiveOptionsTopic::Save && topic != ReceiveOptionsTopic::Cancel) {
            EXPECT_TRUE(text.contains(QStringLiteral("初期設定"))) << text.toStdString();
        }
        moveOver(form.get(), QPoint(1, 1));
        EXPECT_EQ(form->HelpLabel->text(), general) << "the bare window";
    }
    // The edit line inside a number box is the number box's.
    moveOver(form->DeleteAfterDays->findChild<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
    EXPECT_EQ(form->HelpLabel->text(), ReceiveOptionsHelpText(ReceiveOptionsTopic::DeleteAfterDays));
    // The bare part of a frame takes the text away too.
    moveOver(form->Frame2, QPoint(form->Frame2->width() - 3, form->Frame2->height() - 3));
    EXPECT_EQ(form->HelpLabel->text(), general);
}

TEST_F(ReceiveOptionsFormTest, TheCharacterSettingsWindowOpensIt) {
    SetForm settings(windows);
    settings.Form_Load();
    settings.show();
    QTest::mouseClick(settings.Command5, Qt::LeftButton);
    EXPECT_EQ(windows.calls, Calls{"ShowReceiveOptionsForm"});
    EXPECT_EQ(settings.Command5->text(), QStringLiteral("受信の設定"));
}

}  // namespace
}  // namespace lumopet
