// The look before a send: the recipients of the three boxes with their kind
// and domain, the attachments, the words that speak of an attachment, and
// the check window offscreen (送信 only once every recipient is ticked).

#include "compose/SendCheckForm.h"
#include "compose/send_check.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

// The two rules of two texts: a recipient's domain against the own
// address's (IsOutsideDomain(address, own)), and the user's own words of an
// attachment (MentionsAttachment(subject, body)).
struct RuleCase {
    const char* name;
    bool (*rule)(const QString&, const QString&);
    const char16_t* first;
    const char16_t* second;
    bool holds;
};

class RuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, Holds) {
    const RuleCase& c = GetParam();
    EXPECT_EQ(c.rule(QString::fromUtf16(c.first), QString::fromUtf16(c.second)), c.holds);
}

constexpr auto Outside = &IsOutsideDomain;
constexpr auto Mentions = &MentionsAttachment;

INSTANTIATE_TEST_SUITE_P(
    Cases, RuleTest,
    ::testing::Values(RuleCase{"SameDomain", Outside, u"hanako@example.co.jp", u"taro@example.co.jp", false},
                      RuleCase{"CaseIgnored", Outside, u"hanako@Example.CO.JP", u"taro@example.co.jp", false},
                      RuleCase{"OtherDomain", Outside, u"hanako@example.com", u"taro@example.co.jp", true},
                      RuleCase{"SubdomainIsOutside", Outside, u"hanako@tokyo.example.co.jp", u"taro@example.co.jp", true},
                      RuleCase{"SuffixIsNotTheDomain", Outside, u"hanako@badexample.co.jp", u"taro@example.co.jp", true},
                      RuleCase{"OwnWithName", Outside, u"hanako@example.jp", u"山田 <taro@example.jp>", false},
                      RuleCase{"JapaneseDomainAgainstItsAsciiForm", Outside, u"hanako@xn--r8jz45g.jp", u"taro@例え.jp",
                               false},
                      RuleCase{"NoOwnAddress", Outside, u"hanako@example.jp", u"", true},
                      RuleCase{"SubjectJapanese", Mentions, u"資料を添付します", u"よろしくお願いします。", true},
                      RuleCase{"EnglishAnyCase", Mentions, u"", u"Please find the report ATTACHED.", true},
                      RuleCase{"Attachment", Mentions, u"", u"See the attachment.", true},
                      RuleCase{"FullWidthLetters", Mentions, u"", u"ａｔｔａｃｈｅｄ", true},
                      RuleCase{"Nothing", Mentions, u"打合せ", u"明日は十時からです。", false},
                      RuleCase{"OnlyInQuote", Mentions, u"Re: 打合せ", u"了解です。\n> 資料を添付します\n>> attached", false},
                      RuleCase{"IndentedFullWidthQuoteMark", Mentions, u"", u"はい。\n  ＞添付ファイル", false},
                      RuleCase{"OnlyInSignature", Mentions, u"", u"よろしく。\r\n-- \r\n山田\r\n添付は社外秘です", false},
                      // "--" without its blank is no signature delimiter.
                      RuleCase{"DashesWithoutBlank", Mentions, u"", u"よろしく。\n--\n添付します", true},
                      RuleCase{"BeforeSignature", Mentions, u"", u"添付します\n-- \n山田", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MakeSendCheck, ListsEveryBoxInOrderWithKindAndDomain) {
    const SendCheck check =
        MakeSendCheck({QStringLiteral("山田 <yamada@own.jp>, \"Sato, Jiro\" <jiro@other.jp>"),
                       QStringLiteral("boss@own.jp、"), QStringLiteral(" ; partner@other.com ; not an address")},
                      QStringLiteral("me@own.jp"), {});
    struct Row {
        RecipientKind kind;
        const char16_t* text;
        const char16_t* address;
        bool outside;
    };
    const std::vector<Row> expected{
        {RecipientKind::To, u"山田 <yamada@own.jp>", u"yamada@own.jp", false},
        {RecipientKind::To, u"\"Sato, Jiro\" <jiro@other.jp>", u"jiro@other.jp", true},
        {RecipientKind::Cc, u"boss@own.jp", u"boss@own.jp", false},
        {RecipientKind::Bcc, u"partner@other.com", u"partner@other.com", true},
        // Refused by the send later, but shown: the look hides nothing typed.
        {RecipientKind::Bcc, u"not an address", u"not an address", true},
    };
    ASSERT_EQ(check.recipients.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(check.recipients[i].kind, expected[i].kind);
        EXPECT_EQ(check.recipients[i].text, QString::fromUtf16(expected[i].text));
        EXPECT_EQ(check.recipients[i].address, QString::fromUtf16(expected[i].address));
        EXPECT_EQ(check.recipients[i].outside, expected[i].outside);
    }
}

TEST(MakeSendCheck, GivesAttachmentSizesAndMarksMissingFiles) {
    test::TempFolder folder;
    folder.write(QStringLiteral("a,b.txt"), QByteArray(1500, 'x'));
    const SendCheck check = MakeSendCheck({}, QStringLiteral("me@own.jp"),
                                          {folder.path(QStringLiteral("a,b.txt")), folder.path(QStringLiteral("gone.txt")),
                                           folder.path()});
    ASSERT_EQ(check.attachments.size(), 3u);
    EXPECT_EQ(check.attachments[0].size, 1500);
    EXPECT_EQ(check.attachments[1].size, -1);
    EXPECT_EQ(check.attachments[2].size, -1);  // a folder is not a file to attach
}

SendCheck ThreeRecipients() {
    SendCheck check;
    check.recipients = {{RecipientKind::To, QStringLiteral("a@own.jp"), QStringLiteral("a@own.jp"), false},
                        {RecipientKind::Cc, QStringLiteral("b@other.jp"), QStringLiteral("b@other.jp"), true},
                        {RecipientKind::Bcc, QStringLiteral("c@own.jp"), QStringLiteral("c@own.jp"), false}};
    check.attachments = {{QStringLiteral("/tmp/見積書.pdf"), 2048}, {QStringLiteral("/tmp/gone.txt"), -1}};
    return check;
}

TEST(SendCheckForm, ShowsEveryRecipientAndSendsOnlyOnceEachIsTicked) {
    SendCheckForm form(ThreeRecipients());
    ASSERT_EQ(form.RecipientList->rowCount(), 3);
    const QStringList kinds{QStringLiteral("宛先"), QStringLiteral("CC"), QStringLiteral("BCC")};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(form.RecipientList->item(row, 1)->text(), kinds[row]);
        EXPECT_EQ(form.RecipientList->item(row, 2)->text(), row == 1 ? QStringLiteral("社外") : QString());
        EXPECT_FALSE(form.SendButton->isEnabled()) << row;
        form.RecipientList->item(row, 0)->setCheckState(Qt::Checked);
    }
    EXPECT_TRUE(form.SendButton->isEnabled());
    form.RecipientList->item(1, 0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(form.SendButton->isEnabled());
    ASSERT_EQ(form.AttachmentList->rowCount(), 2);
    EXPECT_EQ(form.AttachmentList->item(0, 0)->text(), QStringLiteral("見積書.pdf"));
    EXPECT_EQ(form.AttachmentList->item(0, 1)->text(), QStringLiteral("2.0 KB"));  // 2048 bytes
    EXPECT_EQ(form.AttachmentList->item(1, 1)->text(), QStringLiteral("見つかりません"));
}

// The window as a send opens it (modal, answered by clicks) and the question
// about a missing attachment are driven through the compose window's send
// (write_form_test.cpp, Look).

}  // namespace
}  // namespace lumopet
