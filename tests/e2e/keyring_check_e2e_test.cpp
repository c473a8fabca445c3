// A mail check whose password only the desktop's keyring keeps, against the
// real Dovecot and a gnome-keyring of the test's own (run through
// tests/scripts/keyring_store_test.sh): the check logs in with it, leaves it
// in no file, and once the account window's box is cleared asks for it again.

#include "core/program.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/files_holding.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
#include "tests/support/temp_folder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

const QString kUser = QStringLiteral("keyring");
const QString kPassword = QStringLiteral("Lumopet-keyring-pw-5c1e");
const QString kPrivateHome = qEnvironmentVariable("LUMOPET_TEST_PRIVATE_KEYRING");

class AskingHost : public test::RecordingCheckHost {
public:
    void setAccountTexts(const QString& id, const QString& password) override { accountTexts = {id, password}; }
    void showIdPassForm() override { asked = true; }
    QStringList accountTexts;
    bool asked = false;
};

TEST(KeyringCheck, TheCheckLogsInWithThePasswordOnlyTheKeyringKeeps) {
    if (kPrivateHome.isEmpty()) GTEST_SKIP() << "runs only on a keyring of its own: tests/scripts/keyring_store_test.sh";
    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ASSERT_TRUE(program.paths.createFolders());
    program.values.Pop3Server = servers->pop3();

    // What the account window's OK does with the box ticked.
    const std::unique_ptr<SecretStore> store = OpenSecretStore(program.paths);
    ASSERT_TRUE(store->inKeyring()) << "the private Secret Service is on the bus";
    AccountSecrets secrets(*store, program.paths.path(files::AccountFile));
    ASSERT_TRUE(secrets.keep(kUser, kPassword).ok());
    for (const QString& subject : {QStringLiteral("first"), QStringLiteral("second")})
        ASSERT_TRUE(servers->deliver(kUser, test::TextMessage(subject, QStringLiteral("body"))));
    AskingHost host;
    const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
    EXPECT_EQ(host.messages, QStringList());
    EXPECT_EQ(result.MailCount, 2);
    EXPECT_FALSE(host.asked);
    // The account window is filled as before: the ID and the password.
    EXPECT_EQ(host.accountTexts, (QStringList{kUser, kPassword}));
    // Nothing kept or written (the account file, history, Maildir, UIDLs, settings) holds it.
    EXPECT_EQ(test::FilesHolding(folder.path(), kPassword), QStringList());
    EXPECT_EQ(test::FilesHolding(kPrivateHome, kPassword), QStringList());

    // The box cleared at OK: no password is kept, and the next check asks.
    ASSERT_TRUE(secrets.forget(kUser).ok());
    ASSERT_TRUE(servers->deliver(kUser, test::TextMessage(QStringLiteral("third"), QStringLiteral("body"))));
    AskingHost next;
    ReceiveMail(program, next, PasswordCredentials(program));
    EXPECT_TRUE(next.asked);
    EXPECT_EQ(next.accountTexts, (QStringList{kUser, QString()}));
    EXPECT_EQ(servers->count(kUser), 1) << "nothing fetched without a password";
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // The servers only where the keyring is the test's own: elsewhere the
    // test skips, and starting Dovecot would be for nothing.
    if (!lumopet::kPrivateHome.isEmpty())
        ::testing::AddGlobalTestEnvironment(
            new lumopet::test::MailServersEnvironment({lumopet::kUser + u':' + lumopet::kPassword}));
    lumopet::NMailInitializeWinSock();
    const int result = RUN_ALL_TESTS();
    lumopet::NMailEndWinSock();
    return result;
}
