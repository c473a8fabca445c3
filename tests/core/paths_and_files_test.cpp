#include "core/clock_text.h"
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
}

TEST(ProgramPaths, CreatesTheDataAndAttachmentFolders) {
    test::TempFolder folder;
    const ProgramPaths paths(folder.path());
    ASSERT_TRUE(paths.createFolders());
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("★MailData"))).isDir());
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("添付フォルダ"))).isDir());
    EXPECT_TRUE(paths.createFolders()) << "a second start finds them in place";
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
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral("dir.lumopet-new"))));
}

TEST(CutAtNul, KeepsTheTextBeforeTheFirstNul) {
    const QChar nul(u'\0');
    EXPECT_EQ(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
    EXPECT_EQ(CutAtNul(QStringLiteral("件名") + nul + QStringLiteral("garbage") + nul), QStringLiteral("件名"));
    EXPECT_EQ(CutAtNul(QString(nul) + QStringLiteral("x")), QString());
    EXPECT_EQ(CutAtNul(QString()), QString());
}

TEST(ClockText, ShortDateTwoBlanksAndTime) {
    EXPECT_EQ(ClockText(QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56))), QStringLiteral("2026/12/07  12:34:56"));
    EXPECT_EQ(ClockText(QDateTime(QDate(2027, 1, 2), QTime(9, 5, 3))), QStringLiteral("2027/01/02  9:05:03"));
    EXPECT_EQ(ClockText(QDateTime(QDate(2027, 1, 2), QTime(0, 0, 0))), QStringLiteral("2027/01/02  0:00:00"));
}

}  // namespace
}  // namespace lumopet
