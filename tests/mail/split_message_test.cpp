#include "mail/split_message.h"

#include <gtest/gtest.h>

#include <optional>

namespace lumopet::mail {
namespace {

// Every received message is asked whether it is a part; only the
// Content-Type decides, in whatever letters and lines it comes.
TEST(SplitPartOfTest, OnlyAMessagePartialContentTypeMakesAPart) {
    struct Case {
        const char* name;
        QByteArray source;
        std::optional<SplitPart> part;
    };
    const Case cases[] = {
        {"capitals", "From: a@example.jp\r\nContent-Type: Message/PARTIAL; ID=\"x@y\"; Number=1; Total=2\r\n\r\nbody",
         SplitPart{QStringLiteral("x@y"), 1, 2}},
        {"folded after a parameter", "Content-Type: message/partial;\r\n\tid=\"x@y\";\r\n number=2\r\n\r\n",
         SplitPart{QStringLiteral("x@y"), 2, 0}},
        {"the word in another field", "Subject: partial payment\r\nContent-Type: text/plain\r\n\r\n", std::nullopt},
        {"the word in the body only", "Content-Type: text/plain\r\n\r\nmessage/partial; id=\"x\"; number=1\r\n",
         std::nullopt},
        {"no blank line after the header", "Content-Type: message/partial; id=\"x\"; number=1\r\n", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<SplitPart> part = SplitPartOf(c.source);
        ASSERT_EQ(part.has_value(), c.part.has_value());
        if (!part) continue;
        EXPECT_EQ(part->id, c.part->id);
        EXPECT_EQ(part->number, c.part->number);
        EXPECT_EQ(part->total, c.part->total);
    }
}

}  // namespace
}  // namespace lumopet::mail
