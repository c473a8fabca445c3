// A draft written as a message and read back: every field the window holds
// comes back exactly, and a damaged or foreign message is refused with a
// reason instead of opening a window half filled.

#include "mail/draft_message.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

namespace lumopet {
namespace {

ComposeDraft fullReply() {
    ComposeDraft d;
    d.window = DraftWindow::Reply;
    d.to = QStringLiteral("山田 太郎 <taro@example.jp>");
    d.cc = QStringLiteral("a@example.com、b@example.com; \"佐藤, 花子\" <hanako@example.jp>");
    d.bcc = QStringLiteral("boss@example.co.jp");
    d.subject = QStringLiteral("Re:  お見積りの件");
    d.body = QStringLiteral("いつもお世話になっております。\n\n> 元の文\n");
    d.attachments = {QStringLiteral("/home/u/見積書.pdf")};
    d.inReplyTo = QStringLiteral("<abc.123@mail.example.jp>");
    d.references = QStringLiteral("<root@example.jp> <abc.123@mail.example.jp>");
    d.replyCharset = "ISO-2022-JP";
    d.answeredPath = QStringLiteral("/home/u/lumopet/★MailData/Maildir/cur/1700000000.1_2.host,U=41:2,S");
    d.signature = 2;
    return d;
}

TEST(DraftMessage, EveryFieldComesBackExactly) {
    struct Case {
        const char* name;
        std::function<void(ComposeDraft&)> change;
    };
    const Case cases[] = {
        {"a reply with everything it answers", [](ComposeDraft&) {}},
        {"a compose window with character, fortune and bulk",
         [](ComposeDraft& d) {
             d = ComposeDraft{};
             d.to = QStringLiteral("friend@example.com");
             d.mood = 5;
             d.fortune = true;
             d.bulk = true;
             d.signature = 3;
         }},
        {"emoji and the circled digits of a character tag",
         [](ComposeDraft& d) {
             d.subject = QStringLiteral("🐱 ねこ ①");
             d.body = QStringLiteral("👍🏽 ありがとう\n①②③\n");
         }},
        {"file names with a comma, blanks, percent, quotes and colons",
         [](ComposeDraft& d) {
             d.attachments = {QStringLiteral("/tmp/a,b.txt"), QStringLiteral("/tmp/スペース あり.txt"), QStringLiteral("/tmp/%41%.txt"),
                              QStringLiteral("/tmp/\"q\";x:y=?utf-8?B?x?=.txt"), QStringLiteral("/tmp/a,b.txt")};
         }},
        {"a path longer than a header line",
         [](ComposeDraft& d) { d.attachments = {QStringLiteral("/deep/") + QString(300, u'深') + QStringLiteral("/end.txt")}; }},
        {"a body with CR LF, a lone CR, blanks at line ends and a line of 3000",
         [](ComposeDraft& d) { d.body = QStringLiteral("a\r\nb\rc  \n\t\n.\nFrom x\n") + QString(3000, u'x'); }},
        {"recipients over several lines and text that is no address",
         [](ComposeDraft& d) { d.to = QStringLiteral("a@example.com\r\nb@example.com\n<<@@>> ,,"); }},
        {"a subject with a line break and =?encoded?= look",
         [](ComposeDraft& d) { d.subject = QStringLiteral(" 前\nX-Injected: 1 =?utf-8?q?x?= "); }},
        {"a reply reference with a line break is kept, not sent on",
         [](ComposeDraft& d) { d.references = QStringLiteral("<a@b>\r\nBcc: evil@example.com"); }},
    };
    for (const Case& c : cases) {
        ComposeDraft draft = fullReply();
        c.change(draft);
        const QByteArray message = DraftToMessage(draft);
        // A message any mail program reads: 7-bit, CR LF lines of at most 998
        // octets, the fields a message must have.
        const QList<QByteArray> lines = message.split('\n');
        for (const QByteArray& line : lines) {
            EXPECT_LE(line.size(), 999) << c.name;
            EXPECT_TRUE(line.isEmpty() || line.endsWith('\r') || &line == &lines.back()) << c.name;
            for (const char byte : line) ASSERT_TRUE(static_cast<unsigned char>(byte) < 0x80) << c.name;
        }
        const QByteArray head = message.left(message.indexOf("\r\n\r\n"));
        EXPECT_TRUE(head.contains("\r\nDate: ") || head.startsWith("Date: ")) << c.name;
        EXPECT_TRUE(head.contains("Content-Type: text/plain; charset=utf-8")) << c.name;
        EXPECT_FALSE(head.contains("\r\nX-Injected") || head.contains("\r\nBcc: evil")) << c.name;
        const auto back = DraftFromMessage(message);
        ASSERT_TRUE(back) << c.name << ": " << back.error().toStdString() << "\n" << message.toStdString();
        EXPECT_EQ(back.value(), draft) << c.name << "\n" << message.toStdString();
        // As the Maildir keeps it, with LF line ends.
        QByteArray local = message;
        local.replace("\r\n", "\n");
        const auto fromDisk = DraftFromMessage(local);
        ASSERT_TRUE(fromDisk) << c.name;
        EXPECT_EQ(fromDisk.value(), draft) << c.name;
    }
}

TEST(DraftMessage, RefusesADamagedMessageWithTheReason) {
    const QByteArray good = DraftToMessage(fullReply());
    const auto replaced = [&good](const char* from, const char* to) {
        QByteArray changed = good;
        EXPECT_TRUE(changed.contains(from)) << from;
        return changed.replace(from, to);
    };
    const auto bodyOf = [&good](const QByteArray& body) { return good.left(good.indexOf("\r\n\r\n") + 4) + body.toBase64() + "\r\n"; };
    struct Case {
        const char* name;
        QByteArray message;
        const char* reason;
    };
    const Case cases[] = {
        {"an ordinary mail", "From: a@example.com\r\nSubject: hi\r\n\r\nbody\r\n", "下書きではありません"},
        {"nothing at all", "", "メールの形"},
        {"a later version", replaced("X-Lumopet-Draft: 1", "X-Lumopet-Draft: 2"), "知らない版"},
        {"an unknown window", replaced("X-Lumopet-Window: reply", "X-Lumopet-Window: viewer"), "X-Lumopet-Window"},
        {"a character beyond 5", replaced("X-Lumopet-Mood: 0", "X-Lumopet-Mood: 6"), "X-Lumopet-Mood"},
        {"a character with letters", replaced("X-Lumopet-Mood: 0", "X-Lumopet-Mood: 3x"), "X-Lumopet-Mood"},
        {"a signature beyond 3", replaced("X-Lumopet-Signature: 2", "X-Lumopet-Signature: 4"), "X-Lumopet-Signature"},
        {"fortune neither yes nor no", replaced("X-Lumopet-Fortune: no", "X-Lumopet-Fortune: maybe"), "X-Lumopet-Fortune"},
        {"the recipient missing", replaced("X-Lumopet-To:", "X-Other-To:"), "X-Lumopet-To が"},
        {"the subject twice", replaced("X-Lumopet-Bcc:", "X-Lumopet-Subject: x\r\nX-Lumopet-Bcc:"), "X-Lumopet-Subject が二つ"},
        {"a broken escape", replaced("X-Lumopet-Bcc: ", "X-Lumopet-Bcc: %G1"), "X-Lumopet-Bcc の値"},
        {"an escape cut short", replaced("X-Lumopet-Bcc: boss%40example.co.jp", "X-Lumopet-Bcc: boss%4"), "X-Lumopet-Bcc の値"},
        {"an escape that is not UTF-8", replaced("X-Lumopet-Bcc: ", "X-Lumopet-Bcc: %FF"), "X-Lumopet-Bcc の値"},
        {"a raw character outside the escapes", replaced("X-Lumopet-Bcc: ", "X-Lumopet-Bcc: a,b"), "X-Lumopet-Bcc の値"},
        {"an empty attachment", replaced("X-Lumopet-Attachment: ", "X-Lumopet-Attachment: \r\nX-Lumopet-Attachment: "), "添付"},
        {"a body that is not UTF-8", bodyOf("\xff\xfe\x82\xa0"), "UTF-8"},
        {"a multipart body", replaced("Content-Type: text/plain; charset=utf-8", "Content-Type: multipart/mixed; boundary=x"), "本文"},
    };
    for (const Case& c : cases) {
        const auto read = DraftFromMessage(c.message);
        ASSERT_FALSE(read) << c.name;
        EXPECT_TRUE(read.error().contains(QString::fromUtf8(c.reason))) << c.name << ": " << read.error().toStdString();
    }
}

TEST(DraftMessage, BlankIsNothingTyped) {
    struct Case {
        const char* name;
        std::function<void(ComposeDraft&)> change;
        bool blank;
    };
    const Case cases[] = {
        {"only blanks and line breaks", [](ComposeDraft& d) { d.body = QStringLiteral(" \n\u3000\t"); }, true},
        {"only choices", [](ComposeDraft& d) { d.mood = 3; d.fortune = true; d.signature = 1; }, true},
        {"a word in the body", [](ComposeDraft& d) { d.body = QStringLiteral("あ"); }, false},
        {"a BCC", [](ComposeDraft& d) { d.bcc = QStringLiteral("x@example.com"); }, false},
        {"an attachment", [](ComposeDraft& d) { d.attachments = {QStringLiteral("/tmp/x")}; }, false},
    };
    for (const Case& c : cases) {
        ComposeDraft draft;
        c.change(draft);
        EXPECT_EQ(IsBlankDraft(draft), c.blank) << c.name;
    }
}

}  // namespace
}  // namespace lumopet
