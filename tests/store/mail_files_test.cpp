#include "store/mail_files.h"

#include "tests/support/temp_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumopet {
namespace {

QString sample(const char* name) { return QStringLiteral(LUMOPET_STORE_SAMPLES "/") + QLatin1String(name); }

std::vector<MboxMessage> readAll(const QString& file) {
    auto reader = MboxReader::Open(file);
    EXPECT_TRUE(reader.ok()) << reader.error().toStdString();
    std::vector<MboxMessage> messages;
    if (!reader) return messages;
    while (true) {
        auto next = reader.value().next();
        EXPECT_TRUE(next.ok());
        if (!next || !next.value()) break;
        messages.push_back(std::move(*next.value()));
    }
    EXPECT_EQ(reader.value().bytesRead(), reader.value().fileSize());
    return messages;
}

QByteArray lf(QByteArray text) { return text.replace("\r\n", "\n"); }

struct MboxCase {
    const char* file;
    qsizetype count;
    // For one message of the file: how it starts, how it ends (LF line ends
    // in both, the file's own are compared after turning CR LF into LF), a
    // line its body must hold and what its "From " line said.
    qsizetype index;
    const char* starts;
    const char* ends;
    const char* holds;
    const char* sender;
    const char* date;
    bool crlf;
};

void PrintTo(const MboxCase& c, std::ostream* out) { *out << c.file << " message " << c.index; }

class MboxSamples : public testing::TestWithParam<MboxCase> {};

TEST_P(MboxSamples, MessagesBoundariesAndQuoting) {
    const MboxCase& c = GetParam();
    const auto messages = readAll(sample(c.file));
    ASSERT_EQ(qsizetype(messages.size()), c.count);
    const MboxMessage& m = messages[c.index];
    EXPECT_EQ(m.source.contains("\r\n"), c.crlf);
    const QByteArray source = lf(m.source);
    EXPECT_TRUE(source.startsWith(c.starts)) << source.toStdString();
    EXPECT_TRUE(source.endsWith(c.ends)) << source.toStdString();
    EXPECT_TRUE(source.contains(c.holds)) << source.toStdString();
    EXPECT_FALSE(source.contains("\nFrom - ")) << "a separator left inside";
    EXPECT_EQ(m.envelopeSender, QByteArray(c.sender));
    EXPECT_EQ(m.envelopeDate, QByteArray(c.date));
}

INSTANTIATE_TEST_SUITE_P(
    Files, MboxSamples,
    testing::Values(
        // Thunderbird: "From - date", only "From " quoted (mboxo).
        MboxCase{"thunderbird_mboxo.mbox", 3, 0, "X-Mozilla-Status: 0001\n", "\nHanako\n",
                 "\n\nFrom the minutes of the last meeting:\n From here it is only indented.\n>From this line on",
                 "-", "Wed Dec 09 08:12:33 2020", false},
        MboxCase{"thunderbird_mboxo.mbox", 3, 1, "X-Mozilla-Status: 0000\n", "\nFrom again, quoted.\n",
                 "Subject: Re: plans\n\nFrom the start of a line", "-", "Thu Dec 10 09:00:00 2020", false},
        MboxCase{"thunderbird_mboxo.mbox", 3, 2, "Date: Fri", "has no Message-ID.\n", "Subject: no message id",
                 "-", "Fri Dec 11 10:00:00 2020", false},
        // mboxrd with CR LF: every run of '>' before "From " loses one.
        MboxCase{"mboxrd_crlf.mbox", 2, 0, "Message-ID: <rd1@example.org>\n", ">not From at all, kept.\n",
                 "\n\nFrom the body, once quoted.\n>From the body, quoted twice: was \">From\" before.\n"
                 ">>From three times.\n> From is not a From line (space after >), kept.\n",
                 "MAILER-DAEMON", "Fri Jul  8 12:08:34 2011", true},
        MboxCase{"mboxrd_crlf.mbox", 2, 1, "Message-ID: <rd2@example.org>\n", "\n\nLast line without an end.",
                 "Subject: second", "MAILER-DAEMON", "Fri Jul  8 12:08:35 2011", true},
        // Google Takeout: the thread and the labels in headers of their own.
        MboxCase{"takeout.mbox", 2, 0, "X-GM-THRID: 1684412345678901234\nX-Gmail-Labels: ",
                 "Takeout body one.\nFrom a quoted line.\n", "Subject: takeout one\n", "1684412345678901234@xxx",
                 "Wed Dec 09 08:00:00 +0000 2020", true},
        // Its last message ends in the empty line Takeout writes after
        // each: that line goes, the message's own line end stays.
        MboxCase{"takeout.mbox", 2, 1, "X-GM-THRID: 1684412345678901234\nX-Gmail-Labels: Sent\n",
                 "\n\nTakeout body two.\n", "Message-Id: <CAFoo+reply@mail.gmail.com>", "1684412345678901299@xxx",
                 "Wed Dec 09 09:30:00 +0000 2020", true}));

TEST(MboxReader, TextBeforeTheFirstFromLineAndFromWithoutEmptyLine) {
    struct Case {
        QByteArray file;
        std::vector<QByteArray> sources;
    };
    const std::vector<Case> cases = {
        // Empty lines before the first message are nothing.
        {"\n\nFrom a@b Mon Jan  1 00:00:00 2001\nSubject: x\n\nbody\n", {"Subject: x\n\nbody\n"}},
        // Other text there is kept: it may be mail without a "From " line.
        {"Subject: lost\n\ntext\n\nFrom a@b Mon Jan  1 00:00:00 2001\nSubject: x\n\nbody\n",
         {"Subject: lost\n\ntext\n", "Subject: x\n\nbody\n"}},
        // "From " not after an empty line is the body's own.
        {"From a@b Mon\nSubject: x\n\nline\nFrom me, not a separator\n", {"Subject: x\n\nline\nFrom me, not a separator\n"}},
        // Two messages, the second with an empty body.
        {"From a Mon\nSubject: 1\n\n1\n\nFrom b Tue\nSubject: 2\n\n", {"Subject: 1\n\n1\n", "Subject: 2\n"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        test::TempFolder folder;
        folder.write("m.mbox", c.file);
        const auto messages = readAll(folder.path("m.mbox"));
        ASSERT_EQ(messages.size(), c.sources.size()) << c.file.toStdString();
        for (size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(messages[i].source, c.sources[i]) << c.file.toStdString();
    }
}

// What is not a regular file is refused, for the mbox and the message files.
TEST(MailFiles, LinksFifosAndFoldersAreRefused) {
    test::TempFolder folder;
    folder.write("real.mbox", "From a Mon\nSubject: x\n\nbody\n");
    ASSERT_EQ(::symlink(QFile::encodeName(folder.path("real.mbox")).constData(),
                        QFile::encodeName(folder.path("link.mbox")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.path("fifo.mbox")).constData(), 0600), 0);
    for (const char* name : {"link.mbox", "fifo.mbox", "", "missing.mbox"}) {
        const QString path = folder.path(QLatin1String(name));
        const auto reader = MboxReader::Open(path);
        EXPECT_FALSE(reader.ok()) << name;
        if (!reader) {
            EXPECT_TRUE(reader.error().contains(QStringLiteral("読めません"))) << reader.error().toStdString();
        }
        EXPECT_FALSE(ReadMessageFile(path).ok()) << name;
    }
    EXPECT_TRUE(MboxReader::Open(folder.path("real.mbox")).ok());
    EXPECT_TRUE(ReadMessageFile(folder.path("real.mbox")).ok());
}

TEST(MailFiles, EmlFilesAreReadAsTheyAre) {
    struct Case {
        const char* file;
        bool crlf;
        const char* id;
    };
    for (const Case& c : {Case{"saved_crlf.eml", true, "<eml-1@example.com>"}, Case{"saved_lf.eml", false, "<eml-2@example.com>"}}) {
        const auto source = ReadMessageFile(sample(c.file));
        ASSERT_TRUE(source.ok()) << source.error().toStdString();
        QFile file(sample(c.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(source.value(), file.readAll());
        EXPECT_EQ(source.value().contains("\r\n"), c.crlf);
        // A "From " line in an .eml is the body's own and stays as it is.
        EXPECT_TRUE(source.value().contains("\nFrom the first line of the body")) << c.file;
        EXPECT_EQ(MessageDuplicateKey(source.value()), QByteArray(c.id));
    }
}

TEST(MailFiles, MaildirInDeliveryOrderWithFlags) {
    const auto entries = ListMaildir(sample("maildir"));
    ASSERT_TRUE(entries.ok()) << entries.error().toStdString();
    struct Expected {
        const char* tail;
        const char* flags;
        qint64 time;
        const char* id;
    };
    const std::vector<Expected> expected = {
        {"cur/1607400000.M9P100Q9.host:2,RS", "RS", 1607400000, "<md-a@example.com>"},
        {"cur/1607500000.M0P100Q0.host!2,FS", "FS", 1607500000, "<md-b0@example.com>"},
        {"cur/1607500000.M1P100Q1.host:2,S", "S", 1607500000, "<md-b@example.com>"},
        {"new/1607600000.M2P200Q2.host", "", 1607600000, "<md-c@example.com>"},
    };
    ASSERT_EQ(size_t(entries.value().size()), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const MaildirEntry& e = entries.value()[qsizetype(i)];
        EXPECT_TRUE(e.path.endsWith(QLatin1String(expected[i].tail))) << e.path.toStdString();
        EXPECT_EQ(e.flags, QByteArray(expected[i].flags));
        EXPECT_EQ(e.deliveryTime, expected[i].time);
        const auto source = ReadMessageFile(e.path);
        ASSERT_TRUE(source.ok());
        EXPECT_EQ(MessageDuplicateKey(source.value()), QByteArray(expected[i].id));
    }
}

TEST(MailFiles, MaildirRefusals) {
    test::TempFolder folder;
    // Neither cur/ nor new/: not a Maildir.
    EXPECT_FALSE(ListMaildir(folder.path()).ok());
    // cur/ a link to another folder: refused, not followed.
    ASSERT_TRUE(QDir(folder.path()).mkpath("elsewhere"));
    folder.write("elsewhere/1.x:2,S", "Subject: x\n\nx\n");
    ASSERT_EQ(::symlink("elsewhere", QFile::encodeName(folder.path("cur")).constData()), 0);
    EXPECT_FALSE(ListMaildir(folder.path()).ok());
    // A link or a FIFO among the messages is not a message.
    test::TempFolder other;
    ASSERT_TRUE(QDir(other.path()).mkpath("new"));
    other.write("new/2.y", "Subject: y\n\ny\n");
    ASSERT_EQ(::symlink("2.y", QFile::encodeName(other.path("new/3.link")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(other.path("new/4.fifo")).constData(), 0600), 0);
    const auto entries = ListMaildir(other.path());
    ASSERT_TRUE(entries.ok());
    ASSERT_EQ(entries.value().size(), 1);
    EXPECT_TRUE(entries.value()[0].path.endsWith(QLatin1String("new/2.y")));
}

TEST(MailFiles, DuplicateKeys) {
    struct Case {
        QByteArray source;
        QByteArray key;  // empty: the hash, of 64 hex digits
    };
    const std::vector<Case> cases = {
        {"Message-ID: <a@b>\n\nx\n", "<a@b>"},
        {"message-id:   <Case@Kept>  \r\n\r\nx\r\n", "<Case@Kept>"},
        {"Subject: s\nMessage-ID:\n <folded@x>\nTo: t\n\n", "<folded@x>"},
        {"Message-ID: <one\n\t@two>\n\n", "<one\t@two>"},
        // Only the header part counts.
        {"Subject: s\n\nMessage-ID: <in-body@x>\n", ""},
        {"X-Message-ID: <not@this>\n\nx\n", ""},
        {"Message-ID:   \n\nx\n", ""},
    };
    for (const Case& c : cases) {
        const QByteArray key = MessageDuplicateKey(c.source);
        if (c.key.isEmpty()) {
            EXPECT_EQ(key.size(), 64) << c.source.toStdString();
            EXPECT_FALSE(key.contains('<'));
        } else {
            EXPECT_EQ(key, c.key) << c.source.toStdString();
        }
    }
    // Without a Message-ID: the same message with LF or CR LF, the same key;
    // another text, another key.
    const auto lfSource = ReadMessageFile(sample("no_id_lf.eml"));
    const auto crlfSource = ReadMessageFile(sample("no_id_crlf.eml"));
    ASSERT_TRUE(lfSource.ok() && crlfSource.ok());
    ASSERT_NE(lfSource.value(), crlfSource.value());
    EXPECT_EQ(MessageDuplicateKey(lfSource.value()), MessageDuplicateKey(crlfSource.value()));
    // The key is the SHA-256 of the CR LF form.
    EXPECT_EQ(MessageDuplicateKey(lfSource.value()),
              QCryptographicHash::hash(crlfSource.value(), QCryptographicHash::Sha256).toHex());
    EXPECT_NE(MessageDuplicateKey(lfSource.value()), MessageDuplicateKey(lfSource.value() + "more\n"));
    // The same Message-ID in the mbox and in an .eml: the same key.
    const auto messages = readAll(sample("thunderbird_mboxo.mbox"));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(MessageDuplicateKey(messages[0].source), "<first.1607501553@example.jp>");
    EXPECT_EQ(MessageDuplicateKey(messages[1].source), "<second.1607590800@example.jp>");
    EXPECT_EQ(MessageDuplicateKey(messages[2].source).size(), 64);
}

// Writes an mbox of count messages, message i with a body of about
// bodyBytes(i) bytes, and a quoted "From " line in each.
template <class Size>
qint64 writeMbox(const QString& path, int count, Size bodyBytes, qsizetype* largest) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray line(76, 'x');
    *largest = 0;
    for (int i = 0; i < count; ++i) {
        QByteArray message = "From sender@example.com Wed Dec 09 08:00:00 2020\nMessage-ID: <gen-" +
                             QByteArray::number(i) + "@example.com>\nSubject: generated\n\n>From a quoted line\n";
        const qsizetype body = bodyBytes(i);
        while (message.size() < body) message += line + '\n';
        *largest = std::max(*largest, message.size());
        message += '\n';
        file.write(message);
    }
    return file.size();
}

TEST(MboxReader, LargeFileIsReadWithBoundedMemory) {
    test::TempFolder folder;
    const QString path = folder.path("large.mbox");
    qsizetype largest = 0;
    // About 50 MB: mostly small messages, every 500th of 3 MB, so that
    // messages cross many block ends.
    const int count = 6000;
    const qint64 size =
        writeMbox(path, count, [](int i) { return i % 500 == 7 ? qsizetype(3) << 20 : qsizetype(1000 + (i * 37) % 4000); },
                  &largest);
    ASSERT_GT(size, 40 << 20);
    auto reader = MboxReader::Open(path);
    ASSERT_TRUE(reader.ok());
    int read = 0;
    qint64 lastProgress = 0;
    while (true) {
        auto next = reader.value().next();
        ASSERT_TRUE(next.ok());
        if (!next.value()) break;
        EXPECT_TRUE(next.value()->source.startsWith("Message-ID: <gen-" + QByteArray::number(read) + "@"));
        EXPECT_TRUE(next.value()->source.contains("\n\nFrom a quoted line\n"));
        EXPECT_GE(reader.value().bytesRead(), lastProgress);
        lastProgress = reader.value().bytesRead();
        ++read;
    }
    EXPECT_EQ(read, count);
    EXPECT_EQ(reader.value().bytesRead(), size);
    EXPECT_EQ(reader.value().fileSize(), size);
    // The largest message and two blocks at most, never the file.
    EXPECT_LE(reader.value().peakHeldBytes(), largest + 2 * kMboxBlock);
    EXPECT_GE(reader.value().peakHeldBytes(), largest - 100);
}

TEST(MboxReader, Throughput) {
    test::TempFolder folder;
    const QString path = folder.path("small.mbox");
    qsizetype largest = 0;
    const int count = 40000;
    writeMbox(path, count, [](int i) { return qsizetype(1500 + (i * 53) % 2000); }, &largest);
    auto countMessages = [&path] {
        auto reader = MboxReader::Open(path);
        int read = 0;
        while (reader.ok()) {
            auto next = reader.value().next();
            if (!next || !next.value()) break;
            read += next.value()->source.startsWith("Message-ID: <gen-") ? 1 : 0;
        }
        return read;
    };
    countMessages();  // into the page cache
    QElapsedTimer timer;
    timer.start();
    const int read = countMessages();
    const double seconds = std::max<qint64>(1, timer.nsecsElapsed()) / 1e9;
    ASSERT_EQ(read, count);
    std::printf("mbox reader: %d messages in %.3f s, %.0f messages a second\n", count, seconds, count / seconds);
    // What the whole import must reach; the reader alone is far above it.
    EXPECT_GT(count / seconds, 2000.0);
}

}  // namespace
}  // namespace lumopet
