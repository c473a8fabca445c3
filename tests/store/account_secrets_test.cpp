// The account's password over the store: which copy counts, the move out
// of iniIdPass.ini (never emptied before the keyring holds it), and the
// save box's keep and forget, against a keyring in memory and the files.
#include "core/program_paths.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"
#include "tests/support/memory_secret_store.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <map>

namespace lumopet {
namespace {

using Keyring = std::map<QString, QString>;  // ID -> password

const QString kAccountFile = QStringLiteral("★MailData/iniIdPass.ini");

// iniIdPass.ini as Windows writes it; saved < 0 leaves NAME3 out.
QByteArray ini(const char* id, const char* password, int saved = 1) {
    QByteArray file = QByteArray("[EXEINI]\r\nNAME=") + id + "\r\nNAME2=" + password + "\r\n";
    return saved < 0 ? file : file + "NAME3=" + QByteArray::number(saved) + "\r\n";
}
const QByteArray kWindowsFile = ini("alice", "win-pw");
const QByteArray kKeyringFile = ini("alice", "");

enum class Store { Keyring, SilentKeyring, ForgetfulKeyring, Files };

class AccountSecretsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(paths.createFolders());
        entries->accountFile = paths.path(files::AccountFile);
    }

    // The store of the row, with the keyring's entries and the file before.
    AccountSecrets secretsOver(Store kind, const Keyring& before, const QByteArray& file) {
        folder.write(kAccountFile, file);
        entries->secrets.clear();
        entries->name2AtWrite.clear();
        for (const auto& [id, password] : before) entries->secrets[{SecretKind::Password, id}] = password;
        entries->answers = kind != Store::SilentKeyring;
        entries->keepsWrites = kind != Store::ForgetfulKeyring;
        store = kind == Store::Files ? std::unique_ptr<SecretStore>(std::make_unique<FileSecretStore>(paths))
                                     : std::make_unique<test::MemorySecretStore>(entries);
        return AccountSecrets(*store, paths.path(files::AccountFile));
    }

    Keyring keyring() const {
        Keyring found;
        for (const auto& [key, secret] : entries->secrets)
            if (key.first == SecretKind::Password) found[key.second] = secret;
        return found;
    }

    test::TempFolder folder;
    ProgramPaths paths{folder.path()};
    std::shared_ptr<test::MemorySecretStore::Entries> entries = std::make_shared<test::MemorySecretStore::Entries>();
    std::unique_ptr<SecretStore> store;
};

// Which copy counts; the plain cases are the account window's tests.
TEST_F(AccountSecretsTest, LoadTakesTheKeptPassword) {
    struct Case {
        const char* name;
        Store store;
        Keyring keyring;
        QByteArray file;
        bool ok;
        QString password;  // of the file's ID
    };
    const Case cases[] = {
        // The file's is the newer: keeping one in the keyring empties NAME2.
        {"the file's not moved yet over the keyring's", Store::Keyring, {{"alice", "key-pw"}}, kWindowsFile, true, "win-pw"},
        {"another ID's entry is not this one's", Store::Keyring, {{"bob", "bob-pw"}}, kKeyringFile, true, ""},
        {"a silent keyring with the file's copy", Store::SilentKeyring, {}, kWindowsFile, true, "win-pw"},
        {"a silent keyring and nothing else is a failure", Store::SilentKeyring, {}, kKeyringFile, false, ""},
        {"no ID, files: the password as it stands", Store::Files, {}, ini("", "pw", -1), true, "pw"},
        {"no ID, keyring: the file's password", Store::Keyring, {{"", "key-pw"}}, ini("", "pw", -1), true, "pw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<Account> loaded = secretsOver(c.store, c.keyring, c.file).load();
        ASSERT_EQ(loaded.ok(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(loaded.value().UserId, ReadAccount(paths.path(files::AccountFile)).UserId);
        EXPECT_EQ(loaded.value().UserPassword, c.password);
    }
}

TEST_F(AccountSecretsTest, PasswordMovesOnlyOnceTheKeyringHoldsIt) {
    struct Case {
        const char* name;
        Store store;
        QByteArray file;
        bool toMove;
        bool moved;
        QByteArray fileAfter;
        Keyring keyringAfter;
    };
    const Case cases[] = {
        {"moved", Store::Keyring, kWindowsFile, true, true, kKeyringFile, {{"alice", "win-pw"}}},
        {"a silent keyring keeps the file's copy", Store::SilentKeyring, kWindowsFile, true, false, kWindowsFile, {}},
        {"a keyring that kept nothing keeps the file's copy", Store::ForgetfulKeyring, kWindowsFile, true, false,
         kWindowsFile, {}},
        {"no keyring: nothing to move", Store::Files, kWindowsFile, false, true, kWindowsFile, {}},
        {"no ID to keep it under", Store::Keyring, ini("", "pw", -1), false, true, ini("", "pw", -1), {}},
        {"already moved", Store::Keyring, kKeyringFile, false, true, kKeyringFile, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountSecrets secrets = secretsOver(c.store, {}, c.file);
        EXPECT_EQ(secrets.hasPasswordToMove(), c.toMove);
        const Status moved = secrets.movePasswordToKeyring();
        EXPECT_EQ(moved.ok(), c.moved);
        if (!moved.ok()) {
            EXPECT_FALSE(moved.error().contains(QStringLiteral("win-pw")));
        }
        EXPECT_EQ(folder.read(kAccountFile), c.fileAfter);
        EXPECT_EQ(keyring(), c.keyringAfter);
        // The file still held the password whenever the keyring was written.
        for (const QString& name2 : entries->name2AtWrite) EXPECT_EQ(name2, QStringLiteral("win-pw"));
    }
}

// OK with the save box: ticked keeps the password in one place (the keyring
// when there), cleared keeps it nowhere. The plain cases (a new ID's
// password in the keyring, the old ID's gone) are the account window's tests
// (settings_windows_test.cpp); these are the ones around them.
TEST_F(AccountSecretsTest, SaveBoxKeepsOrForgets) {
    struct Case {
        const char* name;
        Store store;
        Keyring keyring;
        QByteArray file;
        bool ticked;
        QString password;  // typed for alice
        bool ok;
        QByteArray fileAfter;
        Keyring keyringAfter;
    };
    const QByteArray old = ini("old", "");
    const Case cases[] = {
        {"ticked over a Windows file: its copy goes", Store::Keyring, {}, kWindowsFile, true, "pw", true, kKeyringFile,
         {{"alice", "pw"}}},
        {"ticked with no password: none kept", Store::Keyring, {{"alice", "pw"}}, kKeyringFile, true, "", true,
         kKeyringFile, {}},
        {"ticked, silent keyring: nothing changes", Store::SilentKeyring, {}, kWindowsFile, true, "pw", false,
         kWindowsFile, {}},
        {"cleared: the keyring's entries of both IDs go", Store::Keyring, {{"old", "o"}, {"alice", "a"}, {"x", "y"}},
         old, false, "pw", true, ini("old", "", 0), {{"x", "y"}}},
        {"cleared over a Windows file: its copy goes too", Store::Keyring, {{"alice", "a"}}, kWindowsFile, false, "pw",
         true, ini("alice", "", 0), {}},
        {"cleared, silent keyring: the file's copy goes all the same", Store::SilentKeyring, {}, kWindowsFile, false,
         "pw", false, ini("alice", "", 0), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountSecrets secrets = secretsOver(c.store, c.keyring, c.file);
        const QString alice = QStringLiteral("alice");
        const Status saved = c.ticked ? secrets.keep(alice, c.password) : secrets.forget(alice);
        EXPECT_EQ(saved.ok(), c.ok);
        EXPECT_EQ(folder.read(kAccountFile), c.fileAfter);
        EXPECT_EQ(keyring(), c.keyringAfter);
        // Whatever happened, what load() says next is what the box shows.
        if (c.ok) {
            EXPECT_EQ(secrets.load().value().UserPassword.isEmpty(), !c.ticked || c.password.isEmpty());
        }
    }
}

}  // namespace
}  // namespace lumopet
