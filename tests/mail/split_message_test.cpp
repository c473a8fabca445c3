#include "mail/split_message.h"

#include <gtest/gtest.h>

namespace lumopet::mail {
namespace {

// Every received message is asked whether it is a part, the word
// "partial" looked for first: in whatever letters it comes.
TEST(SplitPartOfTest, AContentTypeInCapitalsStillMakesAPart) {
    const std::optional<SplitPart> part =
        SplitPartOf("From: a@example.jp\r\nContent-Type: Message/PARTIAL; ID=\"x@y\"; Number=1; Total=2\r\n\r\nbody");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->id, QStringLiteral("x@y"));
    EXPECT_EQ(part->number, 1);
    EXPECT_EQ(part->total, 2);
}

}  // namespace
}  // namespace lumopet::mail
