// The mail check's deliveries on their own thread: everything queued
// arrives, in full and once; a failed copy is reported with the number of
// its message, and nothing after it is written.

#include "store/maildir_writer.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

QByteArray messageNumber(int n) { return "Subject: " + QByteArray::number(n) + "\r\n\r\n" + QByteArray(n * 100, 'x') + "\r\n"; }

QSet<QByteArray> contents(const QString& maildir) {
    QSet<QByteArray> found;
    const QDir folder(maildir + QStringLiteral("/new"));
    for (const QString& name : folder.entryList(QDir::Files)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly)) found.insert(file.readAll());
    }
    return found;
}

TEST(MaildirWriter, DeliversEveryQueuedMessageOrStopsAtTheFirstFailedOne) {
    struct Case {
        const char* name;
        int messages;
        int failFrom;  // 0: no failure; n: tmp/ is gone before message n is queued
        std::optional<int> failedNumber;
    };
    const Case cases[] = {
        {"three hundred, more than the queue holds at once in small pieces", 300, 0, std::nullopt},
        {"tmp/ gone before message 5: 5 fails, 6 to 9 are not written", 9, 5, 5},
        {"tmp/ gone before the first", 3, 1, 1},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        const QString maildir = folder.path(QStringLiteral("Maildir"));
        auto folders = MaildirFolders::Open(maildir);
        ASSERT_TRUE(folders) << c.name;
        std::optional<FailedDelivery> failed;
        {
            MaildirWriter writer(std::move(folders.value()));
            for (int n = 1; n <= c.messages; ++n) {
                if (n == c.failFrom) {
                    // What was queued is delivered first: tmp/ is empty then.
                    EXPECT_FALSE(writer.drain()) << c.name;
                    ASSERT_TRUE(QDir(maildir).rmdir(QStringLiteral("tmp"))) << c.name;
                }
                writer.deliver(n, messageNumber(n), QStringLiteral("u%1").arg(n));
            }
            failed = writer.finish();
        }
        ASSERT_EQ(failed.has_value(), c.failedNumber.has_value()) << c.name;
        if (failed) {
            EXPECT_EQ(failed->number, *c.failedNumber) << c.name;
            EXPECT_FALSE(failed->error.isEmpty()) << c.name;
        }
        const int delivered = c.failFrom > 0 ? c.failFrom - 1 : c.messages;
        QSet<QByteArray> expected;
        for (int n = 1; n <= delivered; ++n) expected.insert(MaildirLocalForm(messageNumber(n)));
        EXPECT_EQ(contents(maildir), expected) << c.name;
        if (!failed) {
            EXPECT_EQ(ReadMaildirTags(maildir).value().size(), c.messages) << c.name;
        }
    }
}

}  // namespace
}  // namespace lumopet
