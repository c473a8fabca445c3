#include "mail/reply_context.h"

#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;
using lumopet::test::CaseName;
using lumopet::test::PrintTo;

// The ids "<1@x>" .. "<n@x>", blank separated.
QString Ids(int first, int last) {
    QStringList ids;
    for (int i = first; i <= last; ++i) ids.append(u"<%1@x>"_s.arg(i));
    return ids.join(u' ');
}

struct CopyCase {
    const char* name;
    QByteArray copy;  // the Maildir copy's bytes, LF line ends; none for a missing copy
    QString messageId, references;
    QByteArray charset;
    QString senderName, text;
    qint64 date = 0;  // seconds since the epoch; 0 for none
};

class ReplyContextOfCopy : public ::testing::TestWithParam<CopyCase> {};

// (The e2e test answers a Shift_JIS copy in a thread through the real servers.)
TEST_P(ReplyContextOfCopy, ReadsWhatTheReplyNeeds) {
    test::TempFolder folder;
    if (!GetParam().copy.isNull()) folder.write(u"copy"_s, GetParam().copy);
    const ReplyContext context = ReadReplyContext(folder.path(u"copy"_s));
    EXPECT_EQ(context.messageId, GetParam().messageId);
    EXPECT_EQ(context.references, GetParam().references);
    EXPECT_EQ(context.charset.toUpper(), GetParam().charset);
    EXPECT_EQ(context.senderName, GetParam().senderName);
    EXPECT_EQ(context.text.trimmed(), GetParam().text);
    EXPECT_EQ(context.date.isValid() ? context.date.toSecsSinceEpoch() : 0, GetParam().date);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, ReplyContextOfCopy,
    ::testing::Values(
        // 2024-01-02 10:00:05 +0900 is 01:00:05 UTC.
        CopyCase{"first_message_of_a_thread",
                 "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\nMessage-ID: <a1@example.jp>\n"
                 "Date: Tue, 02 Jan 2024 10:00:05 +0900\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
                 "\x1b$BK\\J8\x1b(B\n",
                 u"<a1@example.jp>"_s, u"<a1@example.jp>"_s, "ISO-2022-JP", u"山田"_s, u"本文"_s, 1704157205},
        // RFC 5322 3.6.4: without References, a single In-Reply-To stands for them.
        CopyCase{"in_reply_to_without_references",
                 "From: a@example.jp\nMessage-ID: <c3@example.jp>\nIn-Reply-To: <b2@example.jp>\n\nhello\n",
                 u"<c3@example.jp>"_s, u"<b2@example.jp> <c3@example.jp>"_s, {}, u"a@example.jp"_s, u"hello"_s},
        CopyCase{"long_thread_keeps_first_and_latest",
                 "From: a@example.jp\nMessage-ID: <31@x>\nReferences: " + Ids(1, 30).toLatin1() + "\n\nx\n", u"<31@x>"_s,
                 u"<1@x> "_s + Ids(13, 31), {}, u"a@example.jp"_s, u"x"_s},
        CopyCase{"junk_around_the_ids",
                 "From: a@example.jp\nMessage-ID: (id) <m@x> junk\nReferences: <r@x> (c) <bad <s@x>\n\nx\n", u"<m@x>"_s,
                 u"<r@x> <s@x> <m@x>"_s, {}, u"a@example.jp"_s, u"x"_s},
        CopyCase{"no_message_id", "From: a@example.jp\nReferences: <r@x>\n\nx\n", {}, {}, {}, u"a@example.jp"_s, u"x"_s},
        // The reply then goes as it always did, without the headers. (Links
        // and FIFOs are refused by the viewer's reading, tested with it.)
        CopyCase{"missing_copy", QByteArray(), {}, {}, {}, {}, {}}),
    CaseName);

struct QuoteCase {
    const char* name;
    QString text;
    QDateTime date;
    QString senderName, quote;
};

class Quote : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(Quote, PutsTheHeadingLineAndMarksEachLine) {
    EXPECT_EQ(QuotedReply(GetParam().text, GetParam().date, GetParam().senderName), GetParam().quote);
}

const QDateTime kWritten(QDate(2024, 1, 2), QTime(9, 5, 59));

INSTANTIATE_TEST_SUITE_P(
    Texts, Quote,
    ::testing::Values(
        QuoteCase{"crlf_empty_and_bare_cr_lines", u"一行目\r\n\r\n三行目\rb"_s, kWritten, u"山田"_s,
                  u"2024/01/02 09:05、山田 さんは書きました:\n> 一行目\n> \n> 三行目\n> b\n"_s},
        QuoteCase{"no_date", u"x\n"_s, QDateTime(), u"山田"_s, u"山田 さんは書きました:\n> x\n"_s},
        QuoteCase{"no_name", u"x"_s, kWritten, QString(), u"2024/01/02 09:05 のメール:\n> x\n"_s}),
    CaseName);

}  // namespace
}  // namespace lumopet::mail
