// The file store: the password in iniIdPass.ini NAME2 beside its ID, the
// refresh token in a 0600 file of its own that is never reached through a
// link.
#include "core/program_paths.h"
#include "store/secret_stores.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

const QString kAccountFile = QStringLiteral("★MailData/iniIdPass.ini");
const QString kTokenFile = QStringLiteral("★MailData/oauth2_token.ini");

mode_t modeOf(const QString& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

class FileSecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(paths.createFolders()); }

    test::TempFolder folder;
    ProgramPaths paths{folder.path()};
    FileSecretStore store{paths};
};

TEST_F(FileSecretStoreTest, PasswordIsNameTwoOfItsIdOnly) {
    struct Case {
        const char* name;
        QByteArray file;         // iniIdPass.ini before; empty: none
        QString account;
        std::optional<QString> read;
    };
    const QByteArray alice = "[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\nNAME3=1\r\n";
    const Case cases[] = {
        {"its ID", alice, "alice", "pw"},
        {"another ID's password is none", alice, "bob", std::nullopt},
        {"no ID is not alice", alice, "", std::nullopt},
        {"no ID, no NAME: the password as it stands", "[EXEINI]\r\nNAME2=pw\r\n", "", "pw"},
        {"an empty NAME2 is none", "[EXEINI]\r\nNAME=alice\r\nNAME2=\r\n", "alice", std::nullopt},
        {"no file", {}, "alice", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(folder.path(kAccountFile));
        if (!c.file.isEmpty()) folder.write(kAccountFile, c.file);
        const auto read = store.read(SecretKind::Password, c.account);
        ASSERT_TRUE(read.ok()) << read.error().toStdString();
        EXPECT_EQ(read.value(), c.read);
    }
}

TEST_F(FileSecretStoreTest, PasswordWriteKeepsTheFileFormatAndOwnerOnly) {
    folder.write(kAccountFile, "; saved on Windows\r\n[EXEINI]\r\nNAME=old\r\nNAME2=old-pw\r\nNAME3=0\r\n");
    ::chmod(QFile::encodeName(folder.path(kAccountFile)).constData(), 0644);
    ASSERT_TRUE(store.write(SecretKind::Password, QStringLiteral("alice"), QStringLiteral("pw")).ok());
    EXPECT_EQ(folder.read(kAccountFile), "; saved on Windows\r\n[EXEINI]\r\nNAME=alice\r\nNAME2=pw\r\nNAME3=0\r\n");
    EXPECT_EQ(modeOf(folder.path(kAccountFile)), 0600u);

    // Another ID's removal leaves alice's password.
    ASSERT_TRUE(store.remove(SecretKind::Password, QStringLiteral("bob")).ok());
    EXPECT_EQ(store.read(SecretKind::Password, QStringLiteral("alice")).value(), QStringLiteral("pw"));
    ASSERT_TRUE(store.remove(SecretKind::Password, QStringLiteral("alice")).ok());
    EXPECT_EQ(folder.read(kAccountFile), "; saved on Windows\r\n[EXEINI]\r\nNAME=alice\r\nNAME2=\r\nNAME3=0\r\n");
}

TEST_F(FileSecretStoreTest, RefreshTokenLivesInItsOwnFileOwnerOnly) {
    // One left readable by others (copied, or from before) is made the
    // owner's own by the next write.
    folder.write(kTokenFile, "[OAuth2]\r\nAccount=a@example.com\r\nRefreshToken=old\r\n");
    ::chmod(QFile::encodeName(folder.path(kTokenFile)).constData(), 0644);
    // A Microsoft refresh token runs to well over a kilobyte.
    const QString longToken = QString(3000, u'M') + QStringLiteral(".x-_~");
    ASSERT_TRUE(store.write(SecretKind::RefreshToken, QStringLiteral("a@example.com"), longToken).ok());
    EXPECT_EQ(modeOf(folder.path(kTokenFile)), 0600u);
    EXPECT_EQ(store.read(SecretKind::RefreshToken, QStringLiteral("a@example.com")).value(), longToken);
    EXPECT_EQ(store.read(SecretKind::RefreshToken, QStringLiteral("b@example.com")).value(), std::nullopt);
    EXPECT_FALSE(QFile::exists(folder.path(kAccountFile))) << "the token has nothing to do in iniIdPass.ini";

    // A new token replaces the old one, account and all.
    ASSERT_TRUE(store.write(SecretKind::RefreshToken, QStringLiteral("b@example.com"), QStringLiteral("t2")).ok());
    EXPECT_EQ(store.read(SecretKind::RefreshToken, QStringLiteral("a@example.com")).value(), std::nullopt);
    EXPECT_EQ(store.read(SecretKind::RefreshToken, QStringLiteral("b@example.com")).value(), QStringLiteral("t2"));

    // Another account's removal leaves the token; its own takes the file.
    ASSERT_TRUE(store.remove(SecretKind::RefreshToken, QStringLiteral("a@example.com")).ok());
    EXPECT_TRUE(QFile::exists(folder.path(kTokenFile)));
    ASSERT_TRUE(store.remove(SecretKind::RefreshToken, QStringLiteral("b@example.com")).ok());
    EXPECT_FALSE(QFile::exists(folder.path(kTokenFile)));
    EXPECT_TRUE(store.remove(SecretKind::RefreshToken, QStringLiteral("b@example.com")).ok()) << "none kept is no failure";
}

// Whatever stands in the token file's place that is not a regular file of
// its own: the token is neither written there nor read from there.
TEST_F(FileSecretStoreTest, SomethingElseInTheTokenFilesPlaceIsRefused) {
    enum class Thing { LinkToAFile, LinkToNowhere, Folder };
    const QString elsewhere = folder.path(QStringLiteral("elsewhere.ini"));
    const QByteArray elsewhereBytes = "[OAuth2]\r\nAccount=a\r\nRefreshToken=someone-elses\r\n";
    const QString token = folder.path(kTokenFile);
    for (Thing thing : {Thing::LinkToAFile, Thing::LinkToNowhere /* a file it would create */, Thing::Folder}) {
        SCOPED_TRACE(static_cast<int>(thing));
        QFile::remove(token);
        QDir().rmdir(token);
        QFile::remove(elsewhere);
        if (thing == Thing::LinkToAFile) folder.write(QStringLiteral("elsewhere.ini"), elsewhereBytes);
        ASSERT_TRUE(thing == Thing::Folder ? QDir().mkdir(token) : QFile::link(elsewhere, token));
        const Status written = store.write(SecretKind::RefreshToken, QStringLiteral("a"), QStringLiteral("mine"));
        ASSERT_FALSE(written.ok());
        EXPECT_FALSE(written.error().contains(QStringLiteral("mine")));
        EXPECT_FALSE(store.read(SecretKind::RefreshToken, QStringLiteral("a")).ok());
        if (thing == Thing::LinkToAFile) {
            EXPECT_EQ(folder.read(QStringLiteral("elsewhere.ini")), elsewhereBytes);
        } else {
            EXPECT_FALSE(QFile::exists(elsewhere)) << "nothing created at the link's end";
        }
    }
}

}  // namespace
}  // namespace lumopet
