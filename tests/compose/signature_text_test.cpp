#include "compose/signature_text.h"
#include "mail/mood_tags.h"
#include "mail/send_mail.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QString kYamada = QStringLiteral("山田 太郎\n株式会社ルモ 03-1234-5678");
const QString kShort = QStringLiteral("山田");

struct ChangeCase {
    const char* name;
    QString body;
    QString current;  // the signature the program put in before
    QString next;     // the one chosen now
    QString expected;
    bool keptEdited = false;
};

class SignatureChangeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SignatureChangeTest, PutsTheSignatureBelowTheSeparator) {
    const ChangeCase& c = GetParam();
    const SignedBody signed_ = BodyWithSignature(c.body, c.current, c.next);
    EXPECT_EQ(signed_.body, c.expected);
    EXPECT_EQ(signed_.keptEditedBlock, c.keptEdited);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, SignatureChangeTest,
    ::testing::Values(
        ChangeCase{"into_an_empty_body", {}, {}, kShort, QStringLiteral("\n-- \n山田")},
        ChangeCase{"below_typed_text", QStringLiteral("こんにちは"), {}, kShort, QStringLiteral("こんにちは\n-- \n山田")},
        ChangeCase{"below_a_last_line_break", QStringLiteral("こんにちは\n"), {}, kYamada,
                   QStringLiteral("こんにちは\n\n-- \n山田 太郎\n株式会社ルモ 03-1234-5678")},
        ChangeCase{"its_own_separator_not_doubled", QStringLiteral("本文"), {}, QStringLiteral("-- \n山田"),
                   QStringLiteral("本文\n-- \n山田")},
        ChangeCase{"another_replaces_it", QStringLiteral("本文\n-- \n山田"), kShort, kYamada,
                   QStringLiteral("本文\n-- \n山田 太郎\n株式会社ルモ 03-1234-5678")},
        ChangeCase{"none_gives_the_body_back_as_typed", QStringLiteral("本文\n\n-- \n山田"), kShort, {},
                   QStringLiteral("本文\n")},
        ChangeCase{"the_same_again_changes_nothing", QStringLiteral("本文\n-- \n山田"), kShort, kShort,
                   QStringLiteral("本文\n-- \n山田")},
        ChangeCase{"an_edited_block_stays_and_the_new_goes_below", QStringLiteral("本文\n-- \n山田（外出中）"), kShort,
                   kYamada, QStringLiteral("本文\n-- \n山田（外出中）\n-- \n山田 太郎\n株式会社ルモ 03-1234-5678"), true},
        ChangeCase{"text_below_the_block_is_an_edit", QStringLiteral("本文\n-- \n山田\n追伸"), kShort, {},
                   QStringLiteral("本文\n-- \n山田\n追伸"), true},
        // "山田" ends kYamada's last line too: a longer block must not be
        // cut at the shorter signature's length.
        ChangeCase{"a_signature_ending_like_the_old_one", QStringLiteral("本文\n-- \n株式会社 山田"), kShort, {},
                   QStringLiteral("本文\n-- \n株式会社 山田"), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SignatureText, TheBlockAtTheEndIsFoundByItsText) {
    const std::array<QString, 3> signatures{kShort, QString(), kYamada};
    struct Row {
        const char* name;
        QString body;
        int found;
    };
    const Row rows[] = {
        {"none", QStringLiteral("本文"), -1},
        {"the_third", QStringLiteral("本文") + SignatureBlock(kYamada), 2},
        {"edited", QStringLiteral("本文\n-- \n山田 太郎"), -1},
        {"not_at_the_end", QStringLiteral("\n-- \n山田\n本文"), -1},
    };
    for (const Row& row : rows) EXPECT_EQ(SignatureAtEnd(row.body, signatures), row.found) << row.name;
    // Of two that both end the body, the longer is the one put in.
    EXPECT_EQ(SignatureAtEnd(QStringLiteral("本文\n-- \n営業部\n-- \n山田"), {kShort, QStringLiteral("営業部\n-- \n山田"), {}}), 1);
}

TEST(SignatureText, TheCharacterTagStillComesLastAtSending) {
    const QString body = BodyWithSignature(QStringLiteral("本文"), {}, kYamada).body;
    for (const int mood : {1, 5}) {
        const QString sent = OutgoingBody(body, 3, mood);
        EXPECT_TRUE(sent.endsWith(MoodTag(mood))) << mood;
        EXPECT_TRUE(sent.startsWith(body));
        EXPECT_GT(sent.indexOf(kFortuneHeading), sent.indexOf(kYamada));
    }
}

}  // namespace
}  // namespace lumopet
