#include "core/settings_files/account_options.h"
#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QString kFile = QStringLiteral("lumopet.ini");

struct ReadCase {
    const char* name;
    QByteArray file;
    SignInMethod signIn;
    const char* issuer;
    bool keepPasswordInFile = false;
};

class AccountOptionsReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(AccountOptionsReadTest, OnlyOAuth2SignsInWithATokenAndAnythingElseAsItAlwaysDid) {
    const AccountOptions options = ParseAccountOptions(GetParam().file);
    EXPECT_EQ(options.SignIn, GetParam().signIn);
    EXPECT_EQ(options.OAuthIssuer, QString::fromUtf8(GetParam().issuer));
    EXPECT_EQ(options.KeepPasswordInFile, GetParam().keepPasswordInFile);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AccountOptionsReadTest,
    ::testing::Values(
        ReadCase{"NoFile", "", SignInMethod::Password, ""},
        ReadCase{"OtherSectionsOnly", "[Receive]\r\nSignIn=oauth2\r\n", SignInMethod::Password, ""},
        ReadCase{"OAuth2WithIssuer", "[Account]\r\nSignIn=oauth2\r\nOAuthIssuer=accounts.google.com\r\n",
                 SignInMethod::OAuth2, "accounts.google.com"},
        ReadCase{"CaseAndBlanksAsWindowsReadsThem", "[account]\r\n signin = OAuth2 \r\n", SignInMethod::OAuth2, ""},
        ReadCase{"PasswordSaidAloud", "[Account]\r\nSignIn=password\r\n", SignInMethod::Password, ""},
        ReadCase{"AnUnknownMethodIsAPassword", "[Account]\r\nSignIn=kerberos\r\n", SignInMethod::Password, ""},
        ReadCase{"ANoToTheMoveKept", "[Account]\r\nKeepPasswordInFile=01\r\n", SignInMethod::Password, "", true},
        ReadCase{"OnlyOneIsOn", "[Account]\r\nKeepPasswordInFile=2\r\n", SignInMethod::Password, "", false}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(AccountOptionsFile, WritingKeepsTheOtherSectionsAndReadsBack) {
    test::TempFolder folder;
    const QByteArray before = "[Receive]\r\nAutoCheckMinutes=10\r\n; a note\r\n[Viewer]\r\nShowHtml=1\r\n";
    folder.write(kFile, before);
    const AccountOptions options{SignInMethod::OAuth2, QStringLiteral("login.microsoftonline.com"), true};
    ASSERT_TRUE(WriteAccountOptions(folder.path(kFile), options).ok());
    QFile file(folder.path(kFile));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    EXPECT_TRUE(after.startsWith(before)) << after.toStdString();
    const Result<AccountOptions> read = ReadAccountOptions(folder.path(kFile));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), options);
}

}  // namespace
}  // namespace lumopet
