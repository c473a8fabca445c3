#include "core/settings_files/receive_options.h"
#include "tests/support/qt_printers.h"
#include "tests/support/receive_options_printer.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <ostream>

namespace lumopet {

namespace {

const QString kFile = QStringLiteral("lumopet.ini");

ReceiveOptions allOn(int minutes, int days) { return {minutes, true, days, true, true, true}; }

struct ReadCase {
    const char* name;
    QByteArray file;
    ReceiveOptions expected;
};

class ReceiveOptionsReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReceiveOptionsReadTest, ReadsTheFileAsWindowsWouldHaveWrittenIt) {
    test::TempFolder folder;
    folder.write(kFile, GetParam().file);
    const Result<ReceiveOptions> read = ReadReceiveOptions(folder.path(kFile));
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(read.value(), GetParam().expected);
}

ReceiveOptions only(std::function<void(ReceiveOptions&)> set) {
    ReceiveOptions o;
    set(o);
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReceiveOptionsReadTest,
    ::testing::Values(
        ReadCase{"empty_file", "", {}},
        ReadCase{"no_receive_section", "[Other]\r\nAutoCheckMinutes=5\r\nTray=1\r\n", {}},
        ReadCase{"windows_crlf",
                 "[Receive]\r\nAutoCheckMinutes=15\r\nLeaveOnServer=1\r\nDeleteAfterDays=30\r\n"
                 "DeleteWithHistory=1\r\nTray=1\r\nNotify=1\r\n",
                 allOn(15, 30)},
        ReadCase{"bare_lf_and_no_last_break",
                 "[Receive]\nAutoCheckMinutes=15\nLeaveOnServer=1\nDeleteAfterDays=30\nDeleteWithHistory=1\nTray=1\n"
                 "Notify=1",
                 allOn(15, 30)},
        ReadCase{"names_in_any_case",
                 "[RECEIVE]\r\nautocheckminutes=5\r\nLEAVEONSERVER=1\r\ndeleteafterdays=7\r\nDeleteWITHHistory=1\r\n"
                 "tRAY=1\r\nnotify=1\r\n",
                 allOn(5, 7)},
        ReadCase{"blanks_quotes_and_tabs",
                 "[ Receive ]\r\n  AutoCheckMinutes = 10 \r\nLeaveOnServer=\t1\t\r\nDeleteAfterDays=\"30\"\r\n"
                 "DeleteWithHistory = \" 1\"\r\nTray  =  1\r\nNotify=1   \r\n",
                 allOn(10, 30)},
        ReadCase{"the_edges_of_the_ranges",
                 "[Receive]\r\nAutoCheckMinutes=1440\r\nDeleteAfterDays=3650\r\nMaxMessageMB=1048576\r\n",
                 only([](auto& o) { o.AutoCheckMinutes = 1440, o.DeleteAfterDays = 3650, o.MaxMessageMB = 1048576; })},
        ReadCase{"the_lowest_on", "[Receive]\r\nAutoCheckMinutes=1\r\nDeleteAfterDays=1\r\nMaxMessageMB=0\r\n",
                 only([](auto& o) { o.AutoCheckMinutes = 1, o.DeleteAfterDays = 1, o.MaxMessageMB = 0; })},
        ReadCase{"beyond_the_ranges",
                 "[Receive]\r\nAutoCheckMinutes=1441\r\nLeaveOnServer=2\r\nDeleteAfterDays=3651\r\n"
                 "DeleteWithHistory=-1\r\nTray=11\r\nNotify=1.5\r\nMaxMessageMB=1048577\r\n",
                 {}},
        ReadCase{"negative_and_huge", "[Receive]\r\nAutoCheckMinutes=-5\r\nDeleteAfterDays=99999999999999999999\r\n", {}},
        ReadCase{"garbage",
                 "[Receive]\r\nAutoCheckMinutes=abc\r\nLeaveOnServer=yes\r\nDeleteAfterDays=\r\nDeleteWithHistory=on\r\n"
                 "Tray=true\r\nNotify=\x82\xa0\r\n",
                 {}},
        // The settings files always read numbers this way: what starts as a
        // number is that number.
        ReadCase{"numbers_as_the_settings_files_read_them",
                 "[Receive]\r\nAutoCheckMinutes=5x\r\nLeaveOnServer=01\r\nDeleteAfterDays=&H1E\r\n"
                 "DeleteWithHistory=1.0\r\nTray=\" 1 \"\r\nNotify=1e0\r\n",
                 allOn(5, 30)},
        ReadCase{"a_fraction_rounds_halves_to_even", "[Receive]\r\nAutoCheckMinutes=2.5\r\nDeleteAfterDays=7.6\r\n",
                 only([](auto& o) { o.AutoCheckMinutes = 2, o.DeleteAfterDays = 8; })},
        ReadCase{"zero_is_off", "[Receive]\r\nAutoCheckMinutes=0\r\nLeaveOnServer=0\r\nTray=0\r\n", {}},
        ReadCase{"first_section_and_first_key_count",
                 "[Receive]\r\nTray=1\r\nTray=0\r\n[Receive]\r\nNotify=1\r\n",
                 only([](auto& o) { o.Tray = true; })},
        ReadCase{"comments_and_other_sections_ignored",
                 ";Tray=1\r\n[Receive]\r\n;Notify=1\r\nAutoCheckMinutes=3\r\n[Other]\r\nTray=1\r\n",
                 only([](auto& o) { o.AutoCheckMinutes = 3; })}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReceiveOptionsFile, AMissingFileIsTheDefaults) {
    test::TempFolder folder;
    const Result<ReceiveOptions> read = ReadReceiveOptions(folder.path(kFile));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), ReceiveOptions{});
}

TEST(ReceiveOptionsFile, WritingKeepsEveryOtherLineAndReadsBack) {
    test::TempFolder folder;
    const QString path = folder.path(kFile);
    // 値 in CP932, a comment, another section and a key of a later version.
    folder.write(kFile, "; \x92\x6c\r\n[Other]\r\nName=\x92\x6c\r\n\r\n[receive]\r\nTray=1\r\nLater=keep me\r\n");
    const ReceiveOptions written{60, true, 14, false, false, true, kDefaultMaxMessageMB, true};
    ASSERT_TRUE(WriteReceiveOptions(path, written).ok());
    EXPECT_EQ(folder.read(kFile),
              "; \x92\x6c\r\n[Other]\r\nName=\x92\x6c\r\n\r\n[receive]\r\nTray=0\r\nLater=keep me\r\n"
              "AutoCheckMinutes=60\r\nLeaveOnServer=1\r\nDeleteAfterDays=14\r\nDeleteWithHistory=0\r\nNotify=1\r\n"
              "MaxMessageMB=200\r\nJunkFilter=1\r\n");
    const Result<ReceiveOptions> read = ReadReceiveOptions(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), written);
}

TEST(ReceiveOptionsFile, WritesANewFileInCrLfAndOutOfRangeValuesAsTheirDefaults) {
    test::TempFolder folder;
    const QString path = folder.path(kFile);
    ASSERT_TRUE(WriteReceiveOptions(path, {1441, true, -1, true, true, false, -1}).ok());
    EXPECT_EQ(folder.read(kFile), "[Receive]\r\nAutoCheckMinutes=0\r\nLeaveOnServer=1\r\nDeleteAfterDays=0\r\n"
                                  "DeleteWithHistory=1\r\nTray=1\r\nNotify=0\r\nMaxMessageMB=200\r\nJunkFilter=0\r\n");
    const Result<ReceiveOptions> read = ReadReceiveOptions(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), (ReceiveOptions{0, true, 0, true, true, false}));
}

TEST(ReceiveOptionsFile, AWriteIntoAMissingFolderFailsNamingTheFile) {
    test::TempFolder folder;
    const Status status = WriteReceiveOptions(folder.path(QStringLiteral("gone/lumopet.ini")), allOn(5, 5));
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().contains(QStringLiteral("lumopet.ini"))) << status.error().toStdString();
}

// Tests run as root, which reads a mode-000 file; what cannot be read here
// is something else in the file's place.
TEST(ReceiveOptionsFile, SomethingThereThatCannotBeReadIsAFailureAndNeverReplaced) {
    struct Case {
        const char* name;
        std::function<bool(const QString& path, const QString& folder)> prepare;
    };
    const Case cases[] = {
        {"a folder", [](const QString& p, const QString&) { return QDir().mkdir(p); }},
        {"a FIFO (opening it must not wait for a writer)",
         [](const QString& p, const QString&) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }},
        {"a link to a folder",
         [](const QString& p, const QString& f) { return QDir().mkdir(f + QStringLiteral("/sub")) && QFile::link(f + QStringLiteral("/sub"), p); }},
        {"a link to itself", [](const QString& p, const QString&) { return QFile::link(p, p); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        const QString path = folder.path(kFile);
        ASSERT_TRUE(c.prepare(path, folder.path()));
        const Result<ReceiveOptions> read = ReadReceiveOptions(path);
        ASSERT_FALSE(read.ok());
        EXPECT_TRUE(read.error().startsWith(QStringLiteral("ファイル「%1」を読み込めません（").arg(path)))
            << read.error().toStdString();

        const Status written = WriteReceiveOptions(path, allOn(5, 5));
        EXPECT_FALSE(written.ok());
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode)) << "replaced by a save";
    }
}

}  // namespace
}  // namespace lumopet
