// The program killed a few seconds after the user typed into the compose or
// the reply window: at the next start the text is in a draft (which 開く
// puts back into its window: tests/app/draft_question_test.cpp). SIGKILL
// leaves whatever the keeper wrote on its own (within 5 s of typing);
// SIGTERM goes the program's way out, which writes every draft at once,
// however soon after typing it comes.

#include "mail/draft_message.h"
#include "store/draft_folder.h"
#include "tests/support/temp_folder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace lumopet {
namespace {

TEST(DraftKill, TheTypedTextIsInTheDraftAtTheNextStart) {
    struct Case {
        const char* name;
        const char* window;
        int signal;
        int waitMilliseconds;  // after the last key
    };
    const Case cases[] = {
        {"compose, SIGKILL 6 s after typing", "compose", SIGKILL, 6000},
        {"reply, SIGKILL 6 s after typing", "reply", SIGKILL, 6000},
        // Sooner than the keeper's own wait: only the way out can have
        // written it.
        {"compose, SIGTERM at once", "compose", SIGTERM, 100},
        {"reply, SIGTERM at once", "reply", SIGTERM, 100},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString text = QStringLiteral("お世話になっております。%1 の下書き 🐱").arg(QString::fromLatin1(c.name));
        QProcess driver;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        driver.setProcessEnvironment(environment);
        driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        driver.start(QStringLiteral(LUMOPET_DRAFT_DRIVER), {folder.path(), QString::fromLatin1(c.window), text});
        ASSERT_TRUE(driver.waitForStarted(10000)) << c.name;
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (!said.contains("typed\n") && clock.elapsed() < 30000 && driver.state() == QProcess::Running) {
            driver.waitForReadyRead(500);
            said += driver.readAllStandardOutput();
        }
        ASSERT_TRUE(said.contains("typed\n")) << c.name << ": " << said.toStdString();
        QThread::msleep(c.waitMilliseconds);
        ASSERT_EQ(::kill(static_cast<pid_t>(driver.processId()), c.signal), 0) << c.name;
        ASSERT_TRUE(driver.waitForFinished(15000)) << c.name;
        if (c.signal == SIGTERM) {
            // Ended by itself, the normal way, not by the signal.
            EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit) << c.name;
            EXPECT_EQ(driver.exitCode(), 0) << c.name;
        }

        const auto listing = ReadDrafts(DraftsMaildirPath(ProgramPaths(folder.path())));
        ASSERT_TRUE(listing) << c.name << ": " << listing.error().toStdString();
        EXPECT_TRUE(listing.value().skipped.isEmpty()) << c.name;
        ASSERT_EQ(listing.value().drafts.size(), 1u) << c.name;
        const ComposeDraft& draft = listing.value().drafts.front().draft;
        EXPECT_EQ(draft.window, std::string_view(c.window) == "reply" ? DraftWindow::Reply : DraftWindow::Compose) << c.name;
        EXPECT_TRUE(draft.body.contains(text)) << c.name << ": " << draft.body.toStdString();
    }
}

}  // namespace
}  // namespace lumopet
