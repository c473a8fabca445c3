#include "core/clock_text.h"
#include "core/disk_space.h"
#include "core/program_paths.h"
#include "core/safe_file.h"
#include "core/text_helpers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

TEST(ProgramPaths, BothSpellingsOfTheDataFolderNameOneFolder) {
    const ProgramPaths paths(QStringLiteral("/opt/lumopet"));
    EXPECT_EQ(paths.path(QStringLiteral("\\★MAilData\\srndata2.data")), QStringLiteral("/opt/lumopet/★MailData/srndata2.data"));
    EXPECT_EQ(paths.path(QStringLiteral("\\★MailData\\CharaData.ini")), QStringLiteral("/opt/lumopet/★MailData/CharaData.ini"));
    EXPECT_EQ(paths.path(QStringLiteral("sorane.ini")), QStringLiteral("/opt/lumopet/sorane.ini"));
    EXPECT_EQ(paths.path(QStringLiteral("\\添付フォルダ\\0.txt")), QStringLiteral("/opt/lumopet/添付フォルダ/0.txt"));
}

TEST(ProgramPaths, HomeFromTheEnvironmentElseTheProgramsFolder) {
    test::TempFolder folder;
    ASSERT_EQ(::setenv("LUMOPET_HOME", folder.path().toUtf8().constData(), 1), 0);
    EXPECT_EQ(ProgramPaths::fromEnvironment().folder(), folder.path());
    ::unsetenv("LUMOPET_HOME");
    EXPECT_EQ(ProgramPaths::fromEnvironment().folder(), QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2));
}

TEST(ProgramPaths, AnInstalledCopyKeepsItsFilesInTheUsersDataFolder) {
    // Two executables' folders: an installed one (<prefix>/bin with
    // <prefix>/share/lumopet beside it) and a build or unpacked folder.
    test::TempFolder root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("usr/share/lumopet")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("build")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("opt/bin")));
    const QString installed = root.path(QStringLiteral("usr/bin"));
    const QString unpacked = root.path(QStringLiteral("build"));
    struct Case {
        const char* name;
        FolderChoice choice;
        QString expected;
    };
    const Case cases[] = {
        {"installed: XDG_DATA_HOME", {"", installed, "/data", "/home/u"}, "/data/lumopet"},
        {"installed: no XDG_DATA_HOME", {"", installed, "", "/home/u"}, "/home/u/.local/share/lumopet"},
        {"installed: a relative XDG_DATA_HOME is ignored", {"", installed, "data", "/home/u"}, "/home/u/.local/share/lumopet"},
        {"installed: LUMOPET_HOME first", {"/mine", installed, "/data", "/home/u"}, "/mine"},
        {"unpacked: the executable's folder", {"", unpacked, "/data", "/home/u"}, unpacked},
        {"unpacked: LUMOPET_HOME first", {"/mine", unpacked, "/data", "/home/u"}, "/mine"},
        {"a bin folder without the data beside it", {"", root.path(QStringLiteral("opt/bin")), "/data", "/home/u"},
         root.path(QStringLiteral("opt/bin"))},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgramPaths::ChooseFolder(c.choice), c.expected) << c.name;
    // The files shipped with the program (the provider files) are where it
    // was installed, else beside the executable.
    EXPECT_EQ(ProgramPaths::ShippedDataFolder(installed), root.path(QStringLiteral("usr/share/lumopet")));
    EXPECT_EQ(ProgramPaths::ShippedDataFolder(unpacked), unpacked);
    EXPECT_EQ(ProgramPaths::ShippedDataFolder(root.path(QStringLiteral("opt/bin"))), root.path(QStringLiteral("opt/bin")));
}

TEST(ProgramPaths, CreatesTheDataAndAttachmentFolders) {
    test::TempFolder folder;
    const ProgramPaths paths(folder.path());
    ASSERT_TRUE(paths.createFolders());
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("★MailData"))).isDir());
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("添付フォルダ"))).isDir());
    EXPECT_TRUE(paths.createFolders()) << "a second start finds them in place";
}

// The folder a mail check asks about is one statvfs answers for: else the
// free-space rule would be silently off.
TEST(DiskSpace, TheDataFolderHasAnAnswerAMissingFolderNone) {
    test::TempFolder folder;
    const ProgramPaths paths(folder.path());
    ASSERT_TRUE(paths.createFolders());
    EXPECT_GT(FreeBytesAt(paths.path(files::DataFolder)).value_or(0), 0);
    EXPECT_FALSE(FreeBytesAt(folder.path(QStringLiteral("missing/folder"))).has_value());
}

TEST(SafeFile, ReplacesTheFileAndKeepsItsMode) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("f"));
    folder.write(QStringLiteral("f"), "old");
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(WriteFileSafely(path, "new").ok());
    EXPECT_EQ(folder.read(QStringLiteral("f")), "new");
    EXPECT_EQ(QFile::permissions(path),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("f")}) << "no copy left beside it";
}

TEST(SafeFile, FailureLeavesTheOldFileAlone) {
    test::TempFolder folder;
    EXPECT_FALSE(WriteFileSafely(folder.path(QStringLiteral("missing/f")), "x").ok());
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("dir")));
    EXPECT_FALSE(WriteFileSafely(folder.path(QStringLiteral("dir")), "x").ok()) << "a folder is not replaced by a file";
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("dir"))).isDir());
    EXPECT_EQ(QDir(folder.path()).entryList({QStringLiteral("*lumopet-new*")}, QDir::AllEntries | QDir::System | QDir::Hidden),
              QStringList{});
}

// Whatever an attacker leaves at the names a rewrite might use is neither
// written through nor removed; the target gets the new bytes all the same.
TEST(SafeFile, ThingsPlantedBesideTheTargetAreNotWrittenThrough) {
    struct Case {
        const char* name;
        const char* planted;
    };
    const Case cases[] = {
        {"a link at the old fixed name", "f.lumopet-new"},
        {"a link at a name with the new pattern", "f.AAAAAA.lumopet-new"},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        folder.write(QStringLiteral("victim"), "untouched");
        folder.write(QStringLiteral("f"), "old");
        const QString planted = folder.path(QString::fromUtf8(c.planted));
        ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("victim")), planted)) << c.name;
        ASSERT_TRUE(WriteFileSafely(folder.path(QStringLiteral("f")), "secret").ok()) << c.name;
        EXPECT_EQ(folder.read(QStringLiteral("f")), "secret") << c.name;
        EXPECT_EQ(folder.read(QStringLiteral("victim")), "untouched") << c.name;
        EXPECT_TRUE(QFileInfo(planted).isSymLink()) << c.name;
    }
}

TEST(SafeFile, ANewFileGetsTheUsualModeAndAnOldOneStaysUsableByItsOwner) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("f"));
    const mode_t old = ::umask(027);
    const Status written = WriteFileSafely(path, "x");
    ::umask(old);
    ASSERT_TRUE(written.ok());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "0666 under the umask";
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0004), 0);
    ASSERT_TRUE(WriteFileSafely(path, "y").ok());
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u) << "the owner's read and write added, the rest kept";
}

TEST(SafeFile, OnlyARegularFileIsRead) {
    struct Case {
        const char* name;
        std::function<bool(const QString&, const test::TempFolder&)> prepare;  // empty: nothing there
        bool ok;
        std::optional<QByteArray> bytes;
    };
    const Case cases[] = {
        {"missing", {}, true, std::nullopt},
        {"a regular file", [](const QString&, const test::TempFolder& f) { f.write(QStringLiteral("s"), "abc"); return true; },
         true, QByteArray("abc")},
        {"a link to a regular file",
         [](const QString& p, const test::TempFolder& f) {
             f.write(QStringLiteral("real"), "via link");
             return QFile::link(f.path(QStringLiteral("real")), p);
         },
         true, QByteArray("via link")},
        {"a folder", [](const QString& p, const test::TempFolder&) { return QDir().mkdir(p); }, false, std::nullopt},
        {"a FIFO, which must not make the read wait",
         [](const QString& p, const test::TempFolder&) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; },
         false, std::nullopt},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString path = folder.path(QStringLiteral("s"));
        if (c.prepare) {
            ASSERT_TRUE(c.prepare(path, folder)) << c.name;
        }
        const Result<std::optional<QByteArray>> read = ReadFileIfPresent(path);
        ASSERT_EQ(read.ok(), c.ok) << c.name;
        if (read.ok()) {
            EXPECT_EQ(read.value(), c.bytes) << c.name;
        } else {
            EXPECT_TRUE(read.error().contains(path)) << c.name;
        }
    }
}

TEST(WithCrLf, EndsEveryLineWithCrLf) {
    const struct {
        const char* name;
        QString text;
        QString expected;
    } cases[] = {
        {"already CR LF", QStringLiteral("a\r\nb\r\n"), QStringLiteral("a\r\nb\r\n")},
        {"LF", QStringLiteral("a\nb"), QStringLiteral("a\r\nb")},
        {"lone CR", QStringLiteral("a\rb"), QStringLiteral("a\r\nb")},
        {"CR at the end", QStringLiteral("a\r"), QStringLiteral("a\r\n")},
        {"CR before CR LF", QStringLiteral("a\r\r\nb"), QStringLiteral("a\r\n\r\nb")},
        {"LF after CR LF", QStringLiteral("a\r\n\nb"), QStringLiteral("a\r\n\r\nb")},
    };
    for (const auto& c : cases) EXPECT_EQ(WithCrLf(c.text), c.expected) << c.name;
}

TEST(CutAtNul, KeepsTheTextBeforeTheFirstNul) {
    const QChar nul(u'\0');
    EXPECT_EQ(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(CutAtNul(QStringLiteral("件名") + nul + QStringLiteral("garbage") + nul), QStringLiteral("件名"));
    EXPECT_EQ(CutAtNul(QString(nul) + QStringLiteral("x")), QString());
    EXPECT_EQ(CutAtNul(QString()), QString());
}

TEST(WithCrLf, EveryLineEndBecomesOneCrLf) {
    const struct {
        QString in, out;
    } cases[] = {
        {QString(), QString()},
        {QStringLiteral("no line end"), QStringLiteral("no line end")},
        {QStringLiteral("a\nb"), QStringLiteral("a\r\nb")},
        {QStringLiteral("a\rb"), QStringLiteral("a\r\nb")},
        {QStringLiteral("a\r\nb"), QStringLiteral("a\r\nb")},
        {QStringLiteral("\n\r\r\n\n\r"), QStringLiteral("\r\n\r\n\r\n\r\n\r\n")},
        {QStringLiteral("本文①\n"), QStringLiteral("本文①\r\n")},
        {QStringLiteral("end\r"), QStringLiteral("end\r\n")},
    };
    for (const auto& c : cases) EXPECT_EQ(WithCrLf(c.in), c.out) << c.in.toStdString();
}

TEST(ClockText, ShortDateTwoBlanksAndTime) {
    EXPECT_EQ(ClockText(QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56))), QStringLiteral("2026/12/07  12:34:56"));
    EXPECT_EQ(ClockText(QDateTime(QDate(2027, 1, 2), QTime(9, 5, 3))), QStringLiteral("2027/01/02  9:05:03"));
    EXPECT_EQ(ClockText(QDateTime(QDate(2027, 1, 2), QTime(0, 0, 0))), QStringLiteral("2027/01/02  0:00:00"));
}

}  // namespace
}  // namespace lumopet
