// The keyring store against a Secret Service of the test's own:
// tests/scripts/keyring_store_test.sh starts a private session bus with
// gnome-keyring-daemon in a temporary home (LUMOPET_TEST_PRIVATE_KEYRING
// names it), so that the user's keyring is never touched.
#include "core/cp932.h"
#include "core/program_paths.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"
#include "tests/support/files_holding.h"
#include "tests/support/temp_folder.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>
#include <signal.h>

#include <map>

namespace lumopet {
namespace {

using namespace std::chrono_literals;

const QString kPrivateHome = qEnvironmentVariable("LUMOPET_TEST_PRIVATE_KEYRING");

class KeyringStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (kPrivateHome.isEmpty())
            GTEST_SKIP() << "runs only on a keyring of its own: tests/scripts/keyring_store_test.sh <this program>";
        ASSERT_TRUE(paths.createFolders());
    }

    test::TempFolder folder;
    ProgramPaths paths{folder.path()};
    KeyringSecretStore store{10s};
};

// The Secret Service's own search (org.freedesktop.Secret.Service
// SearchItems) for the program's entry: QtKeychain files it under the
// attributes "server" (the service name) and "user" (the key).
int itemsInTheSecretService(const QString& key) {
    QDBusMessage search = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
                                                         QStringLiteral("/org/freedesktop/secrets"),
                                                         QStringLiteral("org.freedesktop.Secret.Service"),
                                                         QStringLiteral("SearchItems"));
    qDBusRegisterMetaType<QMap<QString, QString>>();  // a{ss}
    const QMap<QString, QString> attributes{{QStringLiteral("server"), kKeyringService}, {QStringLiteral("user"), key}};
    search << QVariant::fromValue(attributes);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(search);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) return -1;
    int count = 0;
    for (const QVariant& paths : reply.arguments())
        count += static_cast<int>(qdbus_cast<QList<QDBusObjectPath>>(paths).size());
    return count;
}

TEST_F(KeyringStoreTest, TheChoiceFindsThePrivateSecretService) {
    EXPECT_TRUE(SecretServiceOnSessionBus());
    EXPECT_TRUE(ChooseSecretStore(paths)->inKeyring());
}

TEST_F(KeyringStoreTest, SecretsGoInAndComeBackOutByKindAndAccount) {
    struct Entry {
        SecretKind kind;
        QString account;
        QString secret;
    };
    const Entry entries[] = {
        {SecretKind::Password, QStringLiteral("alice"), QStringLiteral("pw-1")},
        // The same account's token is an entry of its own.
        {SecretKind::RefreshToken, QStringLiteral("alice"), QStringLiteral("token-1")},
        {SecretKind::Password, QStringLiteral("山田太郎"), QStringLiteral("パスワード①")},
        {SecretKind::RefreshToken, QStringLiteral("a@example.com"), QString(4000, u'T') + QStringLiteral("/+=")},
    };
    for (const Entry& e : entries) ASSERT_TRUE(store.write(e.kind, e.account, e.secret).ok());
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.account.toStdString());
        const auto read = KeyringSecretStore(10s).read(e.kind, e.account);
        ASSERT_TRUE(read.ok()) << read.error().toStdString();
        EXPECT_EQ(read.value(), std::optional<QString>(e.secret));
        EXPECT_EQ(itemsInTheSecretService(KeyringSecretStore::key(e.kind, e.account)), 1);
    }
    EXPECT_EQ(store.read(SecretKind::Password, QStringLiteral("bob")).value(), std::nullopt);
    ASSERT_TRUE(store.write(SecretKind::Password, QStringLiteral("alice"), QStringLiteral("pw-2")).ok());
    EXPECT_EQ(store.read(SecretKind::Password, QStringLiteral("alice")).value(), std::optional<QString>(QStringLiteral("pw-2")));
    for (const Entry& e : entries) {
        ASSERT_TRUE(store.remove(e.kind, e.account).ok());
        EXPECT_EQ(store.read(e.kind, e.account).value(), std::nullopt);
        EXPECT_TRUE(store.remove(e.kind, e.account).ok()) << "nothing kept is no failure";
    }
}

// A password moved out of a Windows folder's iniIdPass.ini is in the
// keyring and in no file of the program folder (nor of the home, where a
// plain-text fallback would write). The file's side of the move is
// account_secrets_test's; keyring_check_e2e_tests look for the one the
// account window kept, after a mail check.
TEST_F(KeyringStoreTest, NoFileHoldsAPasswordMovedIntoTheKeyring) {
    const QString moved = QStringLiteral("Lumopet-moved-ﾊﾟｽ①");
    folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                 "[EXEINI]\r\nNAME=bob\r\nNAME2=" + cp932::encode(moved) + "\r\nNAME3=1\r\n");
    ASSERT_EQ(test::FilesHolding(folder.path(), moved).size(), 1);
    ASSERT_TRUE(AccountSecrets(store, paths.path(files::AccountFile)).movePasswordToKeyring().ok());
    EXPECT_EQ(store.read(SecretKind::Password, QStringLiteral("bob")).value(), std::optional<QString>(moved));
    EXPECT_EQ(test::FilesHolding(folder.path(), moved), QStringList());
    EXPECT_EQ(test::FilesHolding(kPrivateHome, moved), QStringList());
    EXPECT_TRUE(store.remove(SecretKind::Password, QStringLiteral("bob")).ok());
}

// A keyring that is there and stops answering (its process stopped) is a
// failure within the time given, not "no password"; once it answers again,
// the store works on.
TEST_F(KeyringStoreTest, ASilentKeyringIsAFailureInTime) {
    ASSERT_TRUE(store.write(SecretKind::Password, QStringLiteral("carol"), QStringLiteral("pw")).ok());
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.secrets"));
    ASSERT_TRUE(pid.isValid());
    ASSERT_EQ(::kill(static_cast<pid_t>(pid.value()), SIGSTOP), 0);
    QElapsedTimer clock;
    clock.start();
    const auto read = KeyringSecretStore(1s).read(SecretKind::Password, QStringLiteral("carol"));
    const qint64 waited = clock.elapsed();
    ::kill(static_cast<pid_t>(pid.value()), SIGCONT);
    ASSERT_FALSE(read.ok());
    EXPECT_TRUE(read.error().contains(QStringLiteral("応答しません"))) << read.error().toStdString();
    EXPECT_LT(waited, 5000);
    // The job given up on answers later into nothing; the next ones go on.
    const auto again = store.read(SecretKind::Password, QStringLiteral("carol"));
    ASSERT_TRUE(again.ok()) << again.error().toStdString();
    EXPECT_EQ(again.value(), std::optional<QString>(QStringLiteral("pw")));
    EXPECT_TRUE(store.remove(SecretKind::Password, QStringLiteral("carol")).ok());
}

}  // namespace
}  // namespace lumopet
