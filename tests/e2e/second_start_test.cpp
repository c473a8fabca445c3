// A second start of the built program on a folder where it already runs, as
// a double click in the menu does it: two real processes.
//  - the second start ends at once with 0 and touches none of the files,
//    while the first runs on;
//  - a first program killed with SIGKILL leaves nothing that stops the next
//    start from running, nor that one from taking later starts' requests;
//  - under a window manager (scripts/with_openbox.sh), the first program's
//    minimised main window comes back and to the front. Without one that
//    test is skipped.

#include "app/main_form_layout.h"
#include "tests/chara/x11_probe.h"
#include "tests/support/temp_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace lumopet {
namespace {

using test::X11Probe;

bool eventually(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds) return false;
        QThread::msleep(50);
    }
    return true;
}

class SecondStart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("★MailData")));
        // Servers set: no server window at the start.
        home.write(QStringLiteral("sorane.ini"), "SMTP=localhost\r\nPOP3=localhost\r\nMAIL=user@localhost\r\nAPOP=0\r\n");
    }

    void TearDown() override {
        for (const auto& program : programs) {
            if (program->state() == QProcess::NotRunning) continue;
            program->terminate();
            if (!program->waitForFinished(5000)) {
                program->kill();
                program->waitForFinished();
            }
        }
    }

    // The built program on the test's folder. platform "offscreen" needs no
    // display; "xcb" uses the test's.
    QProcess& start(const QString& platform = QStringLiteral("offscreen")) {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LUMOPET_HOME"), home.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        program->setProcessEnvironment(environment);
        program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program->start(QStringLiteral(LUMOPET_PROGRAM), {});
        EXPECT_TRUE(program->waitForStarted());
        programs.push_back(std::move(program));
        return *programs.back();
    }

    // Somebody holds the folder's lock: a program runs on it.
    bool lockHeld() const {
        const int fd = ::open(QFile::encodeName(home.path(QStringLiteral("★MailData/lumopet.lock"))).constData(),
                              O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(fd);
        return held;
    }

    // A first program, up and holding the folder.
    QProcess& startFirst(const QString& platform = QStringLiteral("offscreen")) {
        QProcess& first = start(platform);
        EXPECT_TRUE(eventually([&] { return lockHeld() || first.state() == QProcess::NotRunning; }, 10000));
        EXPECT_TRUE(lockHeld()) << "the first program does not hold the folder";
        return first;
    }

    // Starts once more and expects the start to hand over: ended by itself
    // within seconds, with 0. (A start that cannot reach the first gives up
    // after its own few seconds with an error box, which offscreen nobody
    // closes: the wait here runs out.)
    void expectHandOver(const char* which) {
        QProcess& second = start();
        ASSERT_TRUE(second.waitForFinished(10000)) << which << " start still runs (an error box?)";
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit) << which;
        EXPECT_EQ(second.exitCode(), 0) << which;
    }

    QTemporaryDir runtime;
    test::TempFolder home;
    std::vector<std::unique_ptr<QProcess>> programs;
};

TEST_F(SecondStart, EndsAtOnceAndLeavesTheFilesToTheFirst) {
    QProcess& first = startFirst();
    // The first answers only from its event loop, after its own start took
    // in whatever copies it found: from here on the copy below is no longer
    // its business. (Written sooner, a slow first start recovers it itself.)
    expectHandOver("the second");
    // What a start settles before anything else reads the histories: a
    // rewrite copy with no history. A start that ran on would take it in.
    home.write(QStringLiteral("★MailData/SRNDATA2.TMP"), QByteArray(64, 'x'));
    expectHandOver("a third");
    expectHandOver("a fourth");
    EXPECT_TRUE(QFile::exists(home.path(QStringLiteral("★MailData/SRNDATA2.TMP"))));
    EXPECT_FALSE(QFile::exists(home.path(QStringLiteral("★MailData/srndata2.data"))));
    QThread::msleep(500);
    EXPECT_EQ(first.state(), QProcess::Running) << "the first program ended";
    EXPECT_TRUE(lockHeld());
}

TEST_F(SecondStart, AKilledProgramDoesNotStandInTheWayOfTheNext) {
    QProcess& killed = startFirst();
    // Up to its event loop, so its socket is there to be left behind.
    expectHandOver("the second");
    killed.kill();  // SIGKILL: nothing is tidied up
    ASSERT_TRUE(killed.waitForFinished(5000));
    EXPECT_FALSE(lockHeld()) << "the lock outlived its program";

    QProcess& next = startFirst();
    QThread::msleep(1500);
    EXPECT_EQ(next.state(), QProcess::Running) << "the start after the crash ended";
    expectHandOver("a start after that");
    EXPECT_EQ(next.state(), QProcess::Running);
}

// The main window on a real X server with openbox, found by its title among
// the program's windows.
unsigned long mainWindowOf(const QProcess& program) {
    QProcess search;
    search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--pid"), QString::number(program.processId()),
                                             QStringLiteral("--name"), kMainCaption});
    if (!search.waitForFinished(5000) || search.exitCode() != 0) return 0;
    const QList<QByteArray> ids = search.readAllStandardOutput().trimmed().split('\n');
    return ids.size() == 1 ? ids.front().toULong() : 0;
}

TEST_F(SecondStart, BringsTheMinimisedMainWindowBack) {
    X11Probe probe;
    if (!probe.connected() || probe.windowManagerName() != QStringLiteral("Openbox"))
        GTEST_SKIP() << "needs openbox on a display (scripts/with_openbox.sh)";
    QProcess& first = startFirst(QStringLiteral("xcb"));
    unsigned long window = 0;
    ASSERT_TRUE(eventually([&] { return (window = mainWindowOf(first)) != 0; }, 10000)) << "no main window";
    ASSERT_TRUE(X11Probe::xdotool({QStringLiteral("windowminimize"), QString::number(window)}));
    ASSERT_TRUE(eventually([&] { return probe.hasState(window, "_NET_WM_STATE_HIDDEN"); }, 5000))
        << "openbox did not minimise it";
    // openbox moves the focus away a moment after it hides the window.
    ASSERT_TRUE(eventually([&] { return probe.activeWindow() != window; }, 5000))
        << "the minimised window kept the focus";

    expectHandOver("the second");
    EXPECT_TRUE(eventually([&] { return !probe.hasState(window, "_NET_WM_STATE_HIDDEN"); }, 5000))
        << "the main window stayed minimised";
    EXPECT_TRUE(eventually([&] { return probe.activeWindow() == window; }, 5000))
        << "active: " << probe.activeWindow() << ", the main window: " << window;
    // openbox restacks in its own time too.
    EXPECT_TRUE(eventually([&] { return probe.stackingIndex(window) == static_cast<int>(probe.stacking().size()) - 1; },
                           5000))
        << "not on top";
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
