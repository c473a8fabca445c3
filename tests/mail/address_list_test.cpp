#include "mail/address_list.h"

#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;
using lumopet::test::CaseName;
using lumopet::test::PrintTo;

struct Expected {
    QString name, address, asciiAddress;
};

struct ListCase {
    const char* name;
    QString text;
    std::vector<Expected> mailboxes;
};

class AddressListParses : public ::testing::TestWithParam<ListCase> {};

TEST_P(AddressListParses, GivesEveryMailboxInOrder) {
    const Result<QList<Mailbox>> parsed = ParseAddressList(GetParam().text, u"CC"_s);
    ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
    ASSERT_EQ(static_cast<size_t>(parsed.value().size()), GetParam().mailboxes.size());
    for (size_t i = 0; i < GetParam().mailboxes.size(); ++i) {
        const Mailbox& got = parsed.value()[static_cast<qsizetype>(i)];
        const Expected& want = GetParam().mailboxes[i];
        EXPECT_EQ(got.name, want.name) << i;
        EXPECT_EQ(got.address, want.address) << i;
        EXPECT_EQ(got.asciiAddress, want.asciiAddress.isEmpty() ? want.address : want.asciiAddress) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressListParses,
    ::testing::Values(
        ListCase{"japanese_name_unquoted", u"山田 太郎 <taro@example.jp>"_s, {{u"山田 太郎"_s, u"taro@example.jp"_s, {}}}},
        ListCase{"quoted_name_holding_separators", u"\"山田, 営業；、部\" <sales@example.jp>"_s,
                 {{u"山田, 営業；、部"_s, u"sales@example.jp"_s, {}}}},
        ListCase{"idn_domain", u"太郎 <taro@例え.jp>"_s, {{u"太郎"_s, u"taro@例え.jp"_s, u"taro@xn--r8jz45g.jp"_s}}},
        ListCase{"quoted_local_part", u"\"john doe\"@example.jp"_s, {{{}, u"\"john doe\"@example.jp"_s, {}}}},
        ListCase{"address_literal", u"a@[192.0.2.1]"_s, {{{}, u"a@[192.0.2.1]"_s, {}}}},
        ListCase{"three_separators_and_blanks", u" a@x.jp, B <b@y.jp>、c@z.jp ; ,, d@w.jp,"_s,
                 {{{}, u"a@x.jp"_s, {}}, {u"B"_s, u"b@y.jp"_s, {}}, {{}, u"c@z.jp"_s, {}}, {{}, u"d@w.jp"_s, {}}}},
        // A comment before the address is no display name (RFC 5322 3.4).
        ListCase{"separator_in_comment_and_brackets", u"(営業, 東京) a@x.jp; \"x\" <b@y.jp>"_s,
                 {{{}, u"a@x.jp"_s, {}}, {u"x"_s, u"b@y.jp"_s, {}}}},
        ListCase{"only_blanks", u" \t "_s, {}}),
    CaseName);

struct RefusalCase {
    const char* name;
    QString text;
    QString named;  // the entry the sentence names; the whole text when empty
    QString said;   // and part of what it says
};

const QString kNotAnAddress = u"メールアドレスとして正しくありません"_s;

class AddressListRefuses : public ::testing::TestWithParam<RefusalCase> {};

// (A line break in the text is refused before any entry is read: the send's
// own refusals assert that sentence.)
TEST_P(AddressListRefuses, NamesTheBadEntryAndWhy) {
    const Result<QList<Mailbox>> parsed = ParseAddressList(GetParam().text, u"BCC"_s);
    ASSERT_FALSE(parsed.ok());
    const QString named = GetParam().named.isEmpty() ? GetParam().text : GetParam().named;
    EXPECT_TRUE(parsed.error().startsWith(u"BCC「"_s + named + u"」"_s)) << parsed.error().toStdString();
    EXPECT_TRUE(parsed.error().contains(GetParam().said)) << parsed.error().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressListRefuses,
    ::testing::Values(
        RefusalCase{"no_at", u"you.example.jp"_s, {}, kNotAnAddress},
        RefusalCase{"two_at_signs", u"a@b@example.jp"_s, {}, kNotAnAddress},
        RefusalCase{"blank_in_local_part", u"you @example.jp"_s, {}, kNotAnAddress},
        RefusalCase{"empty_domain_label", u"a@example..jp"_s, {}, kNotAnAddress},
        RefusalCase{"hyphen_starts_label", u"a@-x.example.jp"_s, {}, kNotAnAddress},
        RefusalCase{"local_part_of_65", QString(65, u'a') + u"@example.jp"_s, {}, kNotAnAddress},
        RefusalCase{"bad_one_among_good", u"a@x.jp, 営業部, c@z.jp"_s, u"営業部"_s, kNotAnAddress},
        RefusalCase{"group", u"チーム: a@x.jp"_s, {}, kNotAnAddress},
        RefusalCase{"second_address_after_bracket", u"名前 <a@x.jp> b@y.jp"_s, {}, u"複数"_s},
        RefusalCase{"quote_left_open", u"a@x.jp, \"山田 <b@y.jp>"_s, u"\"山田 <b@y.jp>"_s, kNotAnAddress},
        RefusalCase{"bracket_left_open", u"山田 <b@y.jp"_s, {}, kNotAnAddress},
        RefusalCase{"japanese_local_part", u"田中@example.jp"_s, {}, u"SMTPUTF8"_s}),
    CaseName);

// The own address from the settings is read leniently: a sender is never
// refused here, and Message-ID and MAIL FROM take the ASCII form.
TEST(FirstMailboxOf, FindsTheAddressEvenWhenTheParserRefuses) {
    const struct {
        QString text, address, asciiAddress;
    } cases[] = {{u"a@例え.jp, b@y.jp"_s, u"a@例え.jp"_s, u"a@xn--r8jz45g.jp"_s},
                 {u"me"_s, u"me"_s, u"me"_s},
                 {u"名前 <a@例え.jp"_s, u"a@例え.jp"_s, u"a@xn--r8jz45g.jp"_s}};
    for (const auto& c : cases) {
        const Mailbox first = FirstMailbox(c.text);
        EXPECT_EQ(first.address, c.address) << c.text.toStdString();
        EXPECT_EQ(first.asciiAddress, c.asciiAddress) << c.text.toStdString();
    }
}

}  // namespace
}  // namespace lumopet::mail
