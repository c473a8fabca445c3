// A message too large to hold is decoded from its file: it must read as the
// same message decoded in memory, and a text too long to hold keeps its
// start and the sender's tag at its end.

#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "mail/attachment_files.h"
#include "mail/decoded_message.h"
#include "store/maildir.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>

namespace lumopet::mail {
namespace {

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(LUMOPET_MAIL_SAMPLES "/%1.eml").arg(QLatin1String(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The message as the check leaves it: in the Maildir's form, in a file,
// decoded through the descriptor it was written with (which stands at the
// file's end).
DecodedMessage decodedFromFile(const test::TempFolder& folder, const QByteArray& message) {
    const QString path = folder.path(QStringLiteral("message"));
    QFile::remove(path);
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL, 0600));
    EXPECT_TRUE(WriteAll(fd.get(), MaildirLocalForm(message)));
    return DecodeMessageFile(fd.get());
}

// What an attachment's streamed content writes.
QByteArray writtenContent(const test::TempFolder& folder, const MailAttachment& attachment) {
    // A whole message/partial is read from its start in memory.
    if (!attachment.streamed) return attachment.content;
    const QString path = folder.path(QStringLiteral("content"));
    QFile::remove(path);
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (const Status written = attachment.streamed->writeTo(fd.get()); !written) return written.error().toUtf8();
    return folder.read(QStringLiteral("content"));
}

// The well-formed samples: the damaged ones are mended by the in-memory
// decoder's leniency, which a file of a gigabyte does without.
class FromFileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FromFileTest, ReadsAsTheSameMessageInMemory) {
    const test::TempFolder folder;
    const QByteArray source = sample(GetParam());
    const DecodedMessage held = DecodeMessage(source);
    const DecodedMessage read = decodedFromFile(folder, source);
    EXPECT_EQ(read.subject, held.subject);
    EXPECT_EQ(read.from, held.from);
    EXPECT_EQ(read.date, held.date);
    EXPECT_EQ(read.headerText, held.headerText);
    EXPECT_EQ(read.text, held.text);
    EXPECT_EQ(read.incompletePartial, held.incompletePartial);
    ASSERT_EQ(read.attachments.size(), held.attachments.size());
    for (size_t i = 0; i < held.attachments.size(); ++i) {
        EXPECT_EQ(read.attachments[i].fileName, held.attachments[i].fileName) << i;
        EXPECT_EQ(writtenContent(folder, read.attachments[i]), held.attachments[i].content) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, FromFileTest,
                         ::testing::Values("windows_iso2022jp", "windows_sjis_attachments", "phone_sjis_base64",
                                           "phone_utf8_emoji", "webmail_alternative", "forwarded_and_related",
                                           "html_only", "inline_named_text", "eucjp", "latin1", "partial_first_of_two",
                                           "partial_whole", "no_content_type_cp932", "header_only", "empty"));

// Beyond what is held, the start and the end are kept, whole lines each:
// the record shows the start, the tag search reads the end.
TEST(FromFileLongText, KeepsTheStartAndTheTagAtTheEnd) {
    const test::TempFolder folder;
    QByteArray body;
    for (int line = 0; body.size() < 3 * kHeldTextBytes; ++line) body += "line " + QByteArray::number(line) + " of the text\r\n";
    const QByteArray tag = QStringLiteral("Lumopet（③の選択）").toUtf8();
    const QByteArray message =
        "Subject: long\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body + tag + "\r\n";
    const DecodedMessage read = decodedFromFile(folder, message);
    EXPECT_TRUE(read.text.startsWith(QStringLiteral("line 0 of the text\r\nline 1 of the text\r\n")));
    EXPECT_TRUE(read.text.endsWith(QString::fromUtf8(tag) + QStringLiteral("\r\n")));
    EXPECT_TRUE(read.text.contains(QStringLiteral(" of the text\r\n…\r\nline ")));
    EXPECT_LT(read.text.size(), 2 * kHeldTextBytes);
}

// A text of one long line (minified HTML) keeps its start: nothing of it
// was left before.
TEST(FromFileLongText, OneLongLineKeepsItsStart) {
    const test::TempFolder folder;
    const QByteArray html = "<p>" + QByteArray("始まりの段落。").repeated(kHeldTextBytes / 6) + "</p><p>end</p>";
    const QByteArray message =
        "Subject: long\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + html + "\r\n";
    const DecodedMessage read = decodedFromFile(folder, message);
    EXPECT_TRUE(read.text.startsWith(QStringLiteral("始まりの段落。始まりの段落。"))) << read.text.left(40).toStdString();
}

// Saved from the file: written once, found again when the message comes a
// second time, and another file of the same name beside it.
TEST(FromFileAttachments, AreSavedOnceAndBesideAnotherOfTheSameName) {
    const test::TempFolder folder;
    const auto message = [](const QByteArray& content) {
        return "Subject: files\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
               "Content-Type: text/plain\r\n\r\ntext\r\n--b\r\nContent-Type: application/octet-stream\r\n"
               "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n\r\n" +
               content.toBase64() + "\r\n--b--\r\n";
    };
    const QString saved = folder.path(QStringLiteral("saved"));
    ASSERT_TRUE(QDir().mkpath(saved));
    const struct {
        QByteArray content;
        QStringList files;
    } steps[] = {
        {"first content", {QStringLiteral("a.bin")}},
        {"first content", {QStringLiteral("a.bin")}},
        {"other content", {QStringLiteral("a (2).bin"), QStringLiteral("a.bin")}},
    };
    for (const auto& step : steps) {
        const DecodedMessage read = decodedFromFile(folder, message(step.content));
        ASSERT_EQ(read.attachments.size(), 1u);
        ASSERT_TRUE(read.attachments[0].streamed);
        EXPECT_EQ(SaveAttachments(saved, read), kAttachmentsSaved) << step.content.constData();
        EXPECT_EQ(QDir(saved).entryList(QDir::Files, QDir::Name), step.files) << step.content.constData();
    }
    QFile first(saved + QStringLiteral("/a.bin")), second(saved + QStringLiteral("/a (2).bin"));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), "first content");
    EXPECT_EQ(second.readAll(), "other content");
}

}  // namespace
}  // namespace lumopet::mail
