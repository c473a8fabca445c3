#include "core/cp932.h"
#include "core/settings_files/server_settings.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <functional>
#include <sys/stat.h>

namespace lumopet {
namespace {

struct ReadCase {
    const char* name;
    QByteArray file;
    QString smtp, pop3, mail;
    std::int16_t apop;
};

class ReadServerSettingsTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadServerSettingsTest, FillsTheFourValues) {
    ProgramValues values;
    ParseServerSettings(GetParam().file, values);
    EXPECT_EQ(values.SmtpServer, GetParam().smtp);
    EXPECT_EQ(values.Pop3Server, GetParam().pop3);
    EXPECT_EQ(values.MailAddress, GetParam().mail);
    EXPECT_EQ(values.ApopFlag, GetParam().apop);
}

const QString k100 = QString(100, u'x');

INSTANTIATE_TEST_SUITE_P(
    Files, ReadServerSettingsTest,
    ::testing::Values(
        ReadCase{"as_written", "SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=1\r\n",
                 "smtp.example.jp", "pop.example.jp", "me@example.jp", 1},
        ReadCase{"later_line_wins", "POP3=pop.example.jp\r\nSMTP=s\r\nPOP3=\r\n", "s", "", "", 0},
        ReadCase{"only_apop", "APOP=1\r\n", "", "", "", 1},
        ReadCase{"pop3_alone", "POP3=\r\n", "", "", "", 0},
        ReadCase{"lower_case_key_skipped", "pop3=pop.example.jp\r\nSmtp=x\r\n", "", "", "", 0},
        ReadCase{"blanks_kept", "SMTP= smtp.example.jp \r\n", " smtp.example.jp ", "", "", 0},
        ReadCase{"equals_in_value", "MAIL=a=b\r\n", "", "", "a=b", 0},
        ReadCase{"apop_blank_then_one", "APOP= 1\r\n", "", "", "", 1},
        ReadCase{"apop_one_then_letter", "APOP=1a\r\n", "", "", "", 1},
        ReadCase{"apop_empty", "APOP=\r\n", "", "", "", 0},
        ReadCase{"apop_half_to_even", "APOP=0.5\r\n", "", "", "", 0},
        ReadCase{"apop_out_of_range", "APOP=123456\r\n", "", "", "", 32767},
        ReadCase{"value_cut_at_100", QByteArray("SMTP=") + QByteArray(100, 'x') + "overflow\r\n", k100, "", "", 0},
        ReadCase{"double_byte_counts_as_one", QByteArray("MAIL=") + cp932::encode(QString(120, u'山')) + "\r\n", "", "",
                 QString(100, u'山'), 0},
        ReadCase{"lf_only_lines", "SMTP=a\nPOP3=b\n", "a", "b", "", 0},
        ReadCase{"last_line_without_break", "SMTP=a\r\nPOP3=b", "a", "b", "", 0},
        ReadCase{"fullwidth_key_skipped", cp932::encode(QStringLiteral("ＰＯＰ３=x\r\n")), "", "", "", 0},
        ReadCase{"japanese_value", cp932::encode(QStringLiteral("MAIL=山田＠例え.jp\r\n")), "", "",
                 QStringLiteral("山田＠例え.jp"), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServerSettingsFile, MissingFileKeepsTheValues) {
    test::TempFolder folder;
    ProgramValues values;
    values.Pop3Server = QStringLiteral("kept");
    EXPECT_TRUE(ReadServerSettings(folder.path(QStringLiteral("sorane.ini")), values).ok());
    EXPECT_EQ(values.Pop3Server, QStringLiteral("kept"));
    EXPECT_EQ(values.ApopFlag, 0);
}

TEST(ServerSettingsFile, WritesExactlyFourCrLfLinesEvenWithEmptyValues) {
    ProgramValues values;
    values.SmtpServer = QStringLiteral(" smtp.example.jp ");
    values.Pop3Server = QStringLiteral("pop.example.jp");
    values.ApopFlag = 1;
    EXPECT_EQ(FormatServerSettings(values),
              QByteArray("SMTP= smtp.example.jp \r\nPOP3=pop.example.jp\r\nMAIL=\r\nAPOP=1\r\n"));
    values.MailAddress = QStringLiteral("a\r\nPOP3=evil");
    EXPECT_EQ(FormatServerSettings(values).count("\r\n"), 4);
}

TEST(ServerSettingsFile, WhatIsWrittenReadsBackTheSame) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("sorane.ini"));
    ProgramValues written;
    written.SmtpServer = QStringLiteral("smtps://smtp.example.jp:465");
    written.Pop3Server = QStringLiteral(" pop.例え.jp ");
    written.MailAddress = QStringLiteral("%1 user@example.jp");
    written.ApopFlag = 1;
    ASSERT_TRUE(WriteServerSettings(path, written).ok());
    EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")).left(5), QByteArray("SMTP="));
    ProgramValues read;
    ASSERT_TRUE(ReadServerSettings(path, read).ok());
    EXPECT_EQ(read.SmtpServer, written.SmtpServer);
    EXPECT_EQ(read.Pop3Server, written.Pop3Server);
    EXPECT_EQ(read.MailAddress, written.MailAddress);
    EXPECT_EQ(read.ApopFlag, 1);
}

TEST(ServerSettingsFile, AWriteIntoAMissingFolderFailsWithAMessage) {
    test::TempFolder folder;
    const Status status = WriteServerSettings(folder.path(QStringLiteral("gone/sorane.ini")), ProgramValues{});
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.error().contains(QStringLiteral("sorane.ini")));
}

// Tests run as root, which reads a mode-000 file; a folder or a FIFO in the
// file's place is what cannot be read here.
TEST(ServerSettingsFile, SomethingThereThatCannotBeReadIsReportedAndNeverReplaced) {
    struct Case {
        const char* name;
        std::function<bool(const QString&)> prepare;
        bool stillThere;  // what the check after the refused write looks at
    };
    const Case cases[] = {
        {"a folder", [](const QString& p) { return QDir().mkdir(p); }, true},
        {"a FIFO (opening it must not wait for a writer)",
         [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }, true},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString path = folder.path(QStringLiteral("sorane.ini"));
        ASSERT_TRUE(c.prepare(path)) << c.name;
        ProgramValues values;
        values.Pop3Server = QStringLiteral("kept");
        const Status read = ReadServerSettings(path, values);
        EXPECT_FALSE(read.ok()) << c.name;
        if (!read.ok()) {
            EXPECT_TRUE(read.error().contains(path)) << c.name;
        }
        EXPECT_EQ(values.Pop3Server, QStringLiteral("kept")) << c.name;
        EXPECT_FALSE(WriteServerSettings(path, values).ok()) << c.name;
        EXPECT_FALSE(QFileInfo(path).isFile()) << c.name << ": not replaced by a save";
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                  QStringList{QStringLiteral("sorane.ini")})
            << c.name;
    }
}

TEST(ServerSettingsFile, ASavedFileIsReadableAndWritableByItsOwner) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("sorane.ini"));
    folder.write(QStringLiteral("sorane.ini"), "POP3=old\r\n");
    // Root reads this file anyway; a save must still not pass the mode on.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0040), 0);
    ASSERT_TRUE(WriteServerSettings(path, ProgramValues{}).ok());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace lumopet
