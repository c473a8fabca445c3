#include "core/cp932.h"
#include "core/settings_files/account_file.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace lumopet {
namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return info.st_mode & 07777;
}

class AccountFileTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    QString path = folder.path(QStringLiteral("iniIdPass.ini"));
};

TEST_F(AccountFileTest, SavedAccountReadsBackExactly) {
    struct Case {
        QString id, password;
    };
    for (const Case& c : {Case{QStringLiteral("user"), QStringLiteral("secret")},
                          Case{QStringLiteral("山田太郎"), QStringLiteral("パスワード①")},
                          Case{QStringLiteral(" spaced "), QStringLiteral("\"quoted\"")},
                          Case{QStringLiteral("a=b;c"), QStringLiteral("[x]")}}) {
        ASSERT_TRUE(WriteAccount(path, c.id, c.password, true).ok());
        const Account account = ReadAccount(path);
        EXPECT_EQ(account.UserId, c.id);
        EXPECT_EQ(account.UserPassword, c.password);
    }
    EXPECT_EQ(folder.read(QStringLiteral("iniIdPass.ini")),
              "[EXEINI]\r\nNAME=a=b;c\r\nNAME2=[x]\r\nNAME3=1\r\n");
}

TEST_F(AccountFileTest, ClearedSaveBoxKeepsTheSavedAccount) {
    ASSERT_TRUE(WriteAccount(path, QStringLiteral("user"), QStringLiteral("secret"), true).ok());
    ASSERT_TRUE(WriteAccount(path, QStringLiteral("other"), QStringLiteral("changed"), false).ok());
    EXPECT_EQ(folder.read(QStringLiteral("iniIdPass.ini")), "[EXEINI]\r\nNAME=user\r\nNAME2=secret\r\nNAME3=0\r\n");
    EXPECT_EQ(ReadAccount(path).UserId, QStringLiteral("user"));
}

TEST_F(AccountFileTest, FileIsReadableByItsOwnerOnly) {
    ASSERT_TRUE(WriteAccount(path, QStringLiteral("user"), QStringLiteral("secret"), true).ok());
    EXPECT_EQ(modeOf(path), 0600u);
    // Even an old file that others could read is closed by the next write.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    ASSERT_TRUE(WriteAccount(path, QString(), QString(), false).ok());
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(AccountFileTest, MissingFileGivesEmptyTexts) {
    const Account account = ReadAccount(path);
    EXPECT_TRUE(account.UserId.isEmpty());
    EXPECT_TRUE(account.UserPassword.isEmpty());
}

TEST_F(AccountFileTest, ReadsAFileWrittenOnWindows) {
    folder.write(QStringLiteral("iniIdPass.ini"),
                 cp932::encode(QStringLiteral("[EXEINI]\r\nNAME=ユーザー\r\nNAME2=ﾊﾟｽ\r\nNAME3=1\r\n")));
    const Account account = ReadAccount(path);
    EXPECT_EQ(account.UserId, QStringLiteral("ユーザー"));
    EXPECT_EQ(account.UserPassword, QStringLiteral("ﾊﾟｽ"));
}

TEST_F(AccountFileTest, ALinkPlantedAtTheOldRewriteNameGetsNoPassword) {
    folder.write(QStringLiteral("victim"), "untouched");
    ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("victim")), path + QStringLiteral(".lumopet-new")));
    ASSERT_TRUE(WriteAccount(path, QStringLiteral("user"), QStringLiteral("secret"), true).ok());
    EXPECT_EQ(folder.read(QStringLiteral("victim")), "untouched");
    EXPECT_EQ(ReadAccount(path).UserPassword, QStringLiteral("secret"));
    EXPECT_EQ(modeOf(path), 0600u);
}

}  // namespace
}  // namespace lumopet
