// One program per program folder, inside one process: a lock held by
// another open of the lock file conflicts just as another process's would
// (flock locks belong to the open file), so a second SingleInstance here is
// a second start.

#include "app/single_instance.h"
#include "core/program_paths.h"
#include "tests/support/temp_folder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumopet {
namespace {

using Role = SingleInstance::Role;

class Folder {
public:
    Folder() : paths(home.path()) { EXPECT_TRUE(paths.createFolders()); }
    QString lockFile() const { return paths.path(files::ProgramLock); }
    test::TempFolder home;
    ProgramPaths paths;
};

// A program on a folder, counting the second starts that asked for it.
struct Started {
    explicit Started(const ProgramPaths& paths) {
        QObject::connect(&instance, &SingleInstance::showRequested, [this] { ++shown; });
        role = instance.start(paths);
    }
    SingleInstance instance;
    Role role;
    int shown = 0;
};

struct stat statOf(const QString& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(QFile::encodeName(file).constData(), &info), 0) << file.toStdString();
    return info;
}

TEST(SingleInstance, TheFirstStartHoldsTheFolderAndLaterStartsHandOverToIt) {
    Folder folder;
    Started first(folder.paths);
    ASSERT_EQ(first.role, Role::First) << first.instance.failure().toStdString();
    // The lock file is a plain file of the user's alone; the socket is
    // reachable by the user alone.
    const struct stat lock = statOf(folder.lockFile());
    EXPECT_TRUE(S_ISREG(lock.st_mode));
    EXPECT_EQ(lock.st_mode & 0777, 0600u);
    const struct stat socket = statOf(first.instance.serverName());
    EXPECT_TRUE(S_ISSOCK(socket.st_mode));
    EXPECT_EQ(socket.st_mode & 0077, 0u) << std::oct << socket.st_mode;

    for (int start = 1; start <= 2; ++start) {
        Started second(folder.paths);
        EXPECT_EQ(second.role, Role::HandedOver) << second.instance.failure().toStdString();
        EXPECT_EQ(first.shown, start);
        EXPECT_EQ(second.instance.serverName(), first.instance.serverName());
    }
}

TEST(SingleInstance, AnotherFolderIsAFirstStartOfItsOwn) {
    Folder one, other;
    Started first(one.paths);
    Started second(other.paths);
    EXPECT_EQ(first.role, Role::First);
    EXPECT_EQ(second.role, Role::First) << second.instance.failure().toStdString();
    EXPECT_NE(first.instance.serverName(), second.instance.serverName());
    EXPECT_EQ(first.shown, 0);
}

TEST(SingleInstance, AFolderReachedThroughALinkIsTheSameFolder) {
    Folder folder;
    QTemporaryDir elsewhere;
    const QString link = elsewhere.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(folder.home.path(), link));
    Started first(folder.paths);
    Started second{ProgramPaths(link)};
    EXPECT_EQ(second.role, Role::HandedOver) << second.instance.failure().toStdString();
    EXPECT_EQ(first.shown, 1);
}

// What a program that died left at its socket's place: the next start on
// the folder listens there all the same.
enum class Leftover { Nothing, DeadSocket, PlainFile };

class LeftBehind : public ::testing::TestWithParam<Leftover> {};

void leave(Leftover leftover, const QString& place) {
    const QByteArray name = QFile::encodeName(place);
    if (leftover == Leftover::DeadSocket) {
        // Bound and closed without removal: a connection to it is refused.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(name.size(), static_cast<qsizetype>(sizeof address.sun_path));
        std::copy(name.begin(), name.end(), address.sun_path);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        ::close(fd);
    } else if (leftover == Leftover::PlainFile) {
        QFile file(place);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
}

TEST_P(LeftBehind, DoesNotStopTheNextStart) {
    Folder folder;
    QString place;
    {
        Started crashed(folder.paths);
        ASSERT_EQ(crashed.role, Role::First);
        place = crashed.instance.serverName();
    }
    leave(GetParam(), place);
    Started next(folder.paths);
    ASSERT_EQ(next.role, Role::First) << next.instance.failure().toStdString();
    EXPECT_EQ(next.instance.serverName(), place);
    Started second(folder.paths);
    EXPECT_EQ(second.role, Role::HandedOver) << second.instance.failure().toStdString();
    EXPECT_EQ(next.shown, 1);
}

INSTANTIATE_TEST_SUITE_P(Crashes, LeftBehind,
                         ::testing::Values(Leftover::Nothing, Leftover::DeadSocket, Leftover::PlainFile));

// A lock held by a program that does not answer (hung, or its socket
// gone): the start waits its few seconds and then refuses to run.
TEST(SingleInstance, AFirstThatNeverAnswersIsSaidAndNotRunTwice) {
    Folder folder;
    ASSERT_TRUE(QFile(folder.lockFile()).open(QIODevice::WriteOnly));
    const int held = ::open(QFile::encodeName(folder.lockFile()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    QElapsedTimer clock;
    clock.start();
    Started second(folder.paths);
    EXPECT_EQ(second.role, Role::Failed);
    EXPECT_GE(clock.elapsed(), SingleInstance::kHandOverMilliseconds - 100);
    EXPECT_LT(clock.elapsed(), SingleInstance::kHandOverMilliseconds + 2000);
    EXPECT_TRUE(second.instance.failure().contains(QStringLiteral("応答がありません")))
        << second.instance.failure().toStdString();
    EXPECT_TRUE(second.instance.failure().contains(folder.home.path()));
    ::close(held);
}

// The first ends while a second start waits for its answer: the second
// takes the folder over.
TEST(SingleInstance, AFirstThatEndsWhileASecondWaitsLeavesTheFolderToIt) {
    Folder folder;
    ASSERT_TRUE(QFile(folder.lockFile()).open(QIODevice::WriteOnly));
    const int held = ::open(QFile::encodeName(folder.lockFile()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    QTimer::singleShot(500, [held] { ::close(held); });
    QElapsedTimer clock;
    clock.start();
    Started second(folder.paths);
    EXPECT_EQ(second.role, Role::First) << second.instance.failure().toStdString();
    EXPECT_LT(clock.elapsed(), 2000);
}

// Whatever stands at the lock file's place that is not a plain file is
// refused, and a link is never followed: its target is neither made nor
// touched.
enum class Intruder { LinkToFile, DanglingLink, Fifo, Folder };

class LockFilePlace : public ::testing::TestWithParam<Intruder> {};

TEST_P(LockFilePlace, IsRefusedWithASentence) {
    Folder folder;
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("target"));
    const QByteArray lock = QFile::encodeName(folder.lockFile());
    switch (GetParam()) {
    case Intruder::LinkToFile:
        ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::link(target, folder.lockFile()));
        break;
    case Intruder::DanglingLink:
        ASSERT_TRUE(QFile::link(target, folder.lockFile()));
        break;
    case Intruder::Fifo:
        ASSERT_EQ(::mkfifo(lock.constData(), 0600), 0);
        break;
    case Intruder::Folder:
        ASSERT_EQ(::mkdir(lock.constData(), 0700), 0);
        break;
    }
    const bool targetWas = QFile::exists(target);
    const mode_t targetMode = targetWas ? statOf(target).st_mode : 0;
    QElapsedTimer clock;
    clock.start();
    Started start(folder.paths);
    EXPECT_EQ(start.role, Role::Failed);
    EXPECT_LT(clock.elapsed(), 1000) << "waited at the lock file";
    EXPECT_TRUE(start.instance.failure().contains(QStringLiteral("ロックファイル")))
        << start.instance.failure().toStdString();
    EXPECT_TRUE(start.instance.failure().contains(folder.lockFile())) << start.instance.failure().toStdString();
    EXPECT_EQ(QFile::exists(target), targetWas);
    if (targetWas) {
        EXPECT_EQ(statOf(target).st_mode, targetMode);
        EXPECT_EQ(QFileInfo(target).size(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Places, LockFilePlace,
                         ::testing::Values(Intruder::LinkToFile, Intruder::DanglingLink, Intruder::Fifo,
                                           Intruder::Folder));

// Somebody else's bytes on the socket: never taken for the request, and
// the connection is let go within the first's patience.
struct Stranger {
    const char* name;
    QByteArray bytes;
};

class StrangerOnTheSocket : public ::testing::TestWithParam<Stranger> {};

TEST_P(StrangerOnTheSocket, IsIgnoredAndLetGo) {
    Folder folder;
    Started first(folder.paths);
    ASSERT_EQ(first.role, Role::First);
    QLocalSocket stranger;
    stranger.connectToServer(first.instance.serverName());
    ASSERT_TRUE(QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::ConnectedState; }, 2000));
    stranger.write(GetParam().bytes);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; },
                                SingleInstance::kRequestMilliseconds + 2000))
        << "the connection was kept";
    EXPECT_EQ(first.shown, 0);
    EXPECT_EQ(stranger.readAll(), QByteArray());
    // The real request still gets through afterwards.
    Started second(folder.paths);
    EXPECT_EQ(second.role, Role::HandedOver);
    EXPECT_EQ(first.shown, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, StrangerOnTheSocket,
    ::testing::Values(Stranger{"Silence", {}}, Stranger{"Greeting", "hello\n"},
                      Stranger{"Http", "GET / HTTP/1.0\r\n\r\n"},
                      Stranger{"RequestCutShort", "lumopet sh"},
                      Stranger{"RequestInCapitals", "LUMOPET SHOW\n"},
                      Stranger{"PrefixThenRequest", "xlumopet show\n"},
                      Stranger{"Flood", QByteArray(1 << 20, 'x')}),
    [](const ::testing::TestParamInfo<Stranger>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    // The sockets go into a runtime folder of the test's own.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
