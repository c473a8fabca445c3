// Delivery into a Maildir: the bytes arrive as they should, every file gets
// its own name, and nothing is written through a link.

#include "store/maildir.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

QStringList newFiles(const QString& maildir) { return QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files); }

TEST(Maildir, DeliversTheBytesInTheLocalForm) {
    struct Case {
        const char* name;
        QByteArray message;
        QByteArray onDisk;
    };
    const Case cases[] = {
        {"CR LF lines become LF lines", "Subject: a\r\n\r\nbody\r\n", "Subject: a\n\nbody\n"},
        {"a lone CR and 8-bit bytes stay", "Subject: b\r\n\r\n\x82\xa0\rx\r\n", "Subject: b\n\n\x82\xa0\rx\n"},
        {"LF lines stay", "Subject: c\n\nbody\n", "Subject: c\n\nbody\n"},
        {"a NUL stays", QByteArray("x\0y\r\n", 5), QByteArray("x\0y\n", 4)},
        {"a CR before CR LF stays", "Subject: d\r\r\n\r\nx\r\r\n", "Subject: d\r\n\nx\r\n"},
        {"a CR at the very end stays", "Subject: e\r\n\r\nx\r", "Subject: e\n\nx\r"},
        {"an empty message", "", ""},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString maildir = folder.path(QStringLiteral("Maildir"));
        const auto delivered = DeliverToMaildir(maildir, c.message);
        ASSERT_TRUE(delivered) << c.name << ": " << delivered.error().toStdString();
        EXPECT_TRUE(delivered.value().startsWith(maildir + QStringLiteral("/new/"))) << c.name;
        QFile file(delivered.value());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.name;
        EXPECT_EQ(file.readAll(), c.onDisk) << c.name;
        EXPECT_EQ(QDir(maildir + QStringLiteral("/tmp")).entryList(QDir::Files), QStringList{}) << c.name;
    }
}

TEST(Maildir, CreatesItsFoldersPrivate) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir"));
    ASSERT_TRUE(DeliverToMaildir(maildir, "x"));
    for (const QString& sub : {QString(), QStringLiteral("/cur"), QStringLiteral("/new"), QStringLiteral("/tmp")}) {
        const QFileInfo info(maildir + sub);
        EXPECT_TRUE(info.isDir() && !info.isSymLink()) << sub.toStdString();
        EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther |
                                        QFile::ExeGroup | QFile::ExeOther),
                  QFile::Permissions{})
            << sub.toStdString();
    }
}

TEST(Maildir, EveryDeliveryGetsItsOwnName) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir"));
    QSet<QString> paths;
    for (int i = 0; i < 200; ++i) {
        const auto delivered = DeliverToMaildir(maildir, QByteArray::number(i), i % 2 ? QStringLiteral("u/1:x") : QString());
        ASSERT_TRUE(delivered);
        paths.insert(delivered.value());
        // "/" would be a folder, ":" starts the flags other programs add.
        EXPECT_FALSE(QFileInfo(delivered.value()).fileName().contains(u':'));
    }
    EXPECT_EQ(paths.size(), 200);
    EXPECT_EQ(newFiles(maildir).size(), 200);
}

// The tags a check reads once, also from files another program has moved
// to cur/ and flagged.
TEST(Maildir, TagsAreReadBackFromNewAndCur) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir"));
    EXPECT_TRUE(ReadMaildirTags(maildir).value().isEmpty()) << "a missing Maildir holds none";
    const QStringList tags = {QStringLiteral("u1"), QStringLiteral("u/1:x"), QStringLiteral("UID,U=7"), QStringLiteral("名前")};
    for (const QString& tag : tags) ASSERT_TRUE(DeliverToMaildir(maildir, "x", tag));
    ASSERT_TRUE(DeliverToMaildir(maildir, "untagged"));
    // A reader moves the first one to cur/ and marks it seen.
    const QString first = newFiles(maildir).filter(QString::fromLatin1(QByteArray("u1").toHex())).value(0);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_TRUE(QFile::rename(maildir + QStringLiteral("/new/") + first, maildir + QStringLiteral("/cur/") + first + QStringLiteral(":2,S")));
    const auto read = ReadMaildirTags(maildir);
    ASSERT_TRUE(read) << read.error().toStdString();
    EXPECT_EQ(read.value(), QSet<QString>(tags.begin(), tags.end()));
}

TEST(Maildir, RefusesWhatIsNotItsFolder) {
    enum class Planted { LinkAsMaildir, LinkAsNew, FileAsMaildir };
    struct Case {
        const char* name;
        Planted planted;
    };
    const Case cases[] = {
        {"a link where the Maildir should be", Planted::LinkAsMaildir},
        {"a link where new/ should be", Planted::LinkAsNew},
        {"a file where the Maildir should be", Planted::FileAsMaildir},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString maildir = folder.path(QStringLiteral("Maildir"));
        const QString elsewhere = folder.path(QStringLiteral("elsewhere"));
        ASSERT_TRUE(QDir().mkpath(elsewhere));
        if (c.planted == Planted::LinkAsMaildir) {
            ASSERT_TRUE(QFile::link(elsewhere, maildir));
        }
        if (c.planted == Planted::LinkAsNew) {
            ASSERT_TRUE(QDir().mkpath(maildir));
            ASSERT_TRUE(QFile::link(elsewhere, maildir + QStringLiteral("/new")));
        }
        if (c.planted == Planted::FileAsMaildir) folder.write(QStringLiteral("Maildir"), "mine");

        const auto delivered = DeliverToMaildir(maildir, "Subject: x\r\n\r\n");
        EXPECT_FALSE(delivered) << c.name;
        if (!delivered) {
            EXPECT_TRUE(delivered.error().contains(maildir)) << c.name;
        }
        EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{}) << c.name;
        const auto held = MaildirHeldCopy(maildir, "Subject: x\r\n\r\n", QStringLiteral("t"));
        EXPECT_TRUE(!held || !held.value()) << c.name;
    }
}

// A message fetched again after a check died is found by its tag and its
// content, wherever another program has moved it.
TEST(Maildir, FindsATaggedMessageWithTheSameContent) {
    struct Case {
        const char* name;
        QString tag;
        QByteArray asked;
        bool movedToCur;
        bool held;
    };
    const QByteArray kept = "Subject: kept\r\n\r\nbody\r\n";
    const Case cases[] = {
        {"same tag, same content", QStringLiteral("u1"), kept, false, true},
        {"moved to cur/ with flags", QStringLiteral("u1"), kept, true, true},
        {"same tag, other content (a reused UIDL)", QStringLiteral("u1"), "Subject: other\r\n\r\n", false, false},
        {"other tag", QStringLiteral("u2"), kept, false, false},
        {"a tag that ends the same", QStringLiteral("xu1"), kept, false, false},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString maildir = folder.path(QStringLiteral("Maildir"));
        EXPECT_FALSE(MaildirHeldCopy(maildir, kept, QStringLiteral("u1")).value()) << c.name << ": none yet";
        const auto delivered = DeliverToMaildir(maildir, kept, QStringLiteral("u1"));
        ASSERT_TRUE(delivered);
        if (c.movedToCur) {
            const QString name = QFileInfo(delivered.value()).fileName();
            ASSERT_TRUE(QFile::rename(delivered.value(), maildir + QStringLiteral("/cur/") + name + QStringLiteral(":2,S")));
        }
        const auto held = MaildirHeldCopy(maildir, c.asked, c.tag);
        ASSERT_TRUE(held) << c.name;
        EXPECT_EQ(held.value().has_value(), c.held) << c.name;
        // The path given is the copy, wherever it was moved to.
        if (held.value()) {
            QFile copy(*held.value());
            ASSERT_TRUE(copy.open(QIODevice::ReadOnly)) << c.name;
            EXPECT_EQ(copy.readAll(), MaildirLocalForm(kept)) << c.name;
        }
    }
}

}  // namespace
}  // namespace lumopet
