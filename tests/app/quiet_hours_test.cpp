// The quiet hours as the main window keeps them: a check's new mail is
// counted on the status line at any time, and walks no character while the
// program's clock is in the span.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "core/program.h"
#include "mail/receive_mail.h"
#include "settings/SetForm.h"
#include "tests/support/temp_folder.h"

#include <QCheckBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <string>

namespace lumopet {
namespace {

TEST(QuietHoursOnTheMainWindow, NewMailIsCountedButWalksNoCharacterInTheSpan) {
    struct Case {
        const char* hours;
        const char* now;
        int moodTag;        // 0: the ticked boxes' characters walk
        const char* walking;  // Form1..Form5 walking afterwards
    };
    // Box 2 is ticked in 設定. Where a span starts and ends, also past
    // midnight, is IsQuietAt's (its own table); here, that a quiet check
    // walks neither kind of character and a loud one both.
    const Case cases[] = {
        {"22:00-07:00", "23:30", 3, "00000"},
        {"22:00-07:00", "06:59", 0, "00000"},
        {"22:00-07:00", "07:00", 3, "00001"},   // mood 3 walks in Form5
        {"22:00-07:00", "21:59", 0, "01000"},
        {"abc", "03:00", 5, "01000"},           // a span nobody can read silences nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hours) + " at " + c.now);
        test::TempFolder folder;
        Program program{ProgramPaths(folder.path())};
        ASSERT_TRUE(program.paths.createFolders());
        ProgramWindows windows{program};
        MainForm& form = windows.mainForm();
        form.Form_Load();
        program.characters.QuietHours = QString::fromLatin1(c.hours);
        const QTime now = QTime::fromString(QString::fromLatin1(c.now), QStringLiteral("HH:mm"));
        program.timeOfDay = [now] { return now; };
        windows.setForm().Check[1]->setChecked(true);

        MailCheckResult result;
        result.MailCount = 2;
        result.MoodTag = c.moodTag;
        form.ReportMailCheck(result);

        EXPECT_TRUE(form.Text1->text().contains(QStringLiteral("新着メール 2 通"))) << form.Text1->text().toStdString();
        std::string walking;
        for (int k = 1; k <= kMoodCount; ++k) walking += windows.characterWindow(k).isLoaded() ? '1' : '0';
        EXPECT_EQ(walking, c.walking);
    }
}

}  // namespace
}  // namespace lumopet
