#include "core/settings_files/character_options.h"
#include "tests/support/temp_folder.h"

#include <QDir>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QString kFile = QStringLiteral("lumopet.ini");

TEST(QuietHours, ReadsTheSpansUsersWriteAndRefusesTheRest) {
    struct Case {
        const char* text;
        const char* from;  // nullptr: unreadable
        const char* to;
    };
    const Case cases[] = {
        {"22:00-07:00", "22:00", "07:00"},
        {"9:30-12:00", "09:30", "12:00"},
        {"  23:15 - 6:45  ", "23:15", "06:45"},
        {"０:００－７：３０", "00:00", "07:30"},   // full-width, as an input method types it
        {"22:00～07:00", "22:00", "07:00"},          // full-width tilde
        {"22:00\u301c07:00", "22:00", "07:00"},      // wave dash
        {"22:00-22:00", nullptr, nullptr},           // an empty span
        {"25:00-07:00", nullptr, nullptr},
        {"22:60-07:00", nullptr, nullptr},
        {"25:00-", nullptr, nullptr},
        {"22:00", nullptr, nullptr},
        {"22:0-07:00", nullptr, nullptr},
        {"022:00-07:00", nullptr, nullptr},
        {"22:00-07:00-09:00", nullptr, nullptr},
        {"abc", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<QuietHoursSpan> span = ParseQuietHours(QString::fromUtf8(c.text));
        if (!c.from) {
            EXPECT_FALSE(span.has_value());
            continue;
        }
        ASSERT_TRUE(span.has_value());
        EXPECT_EQ(span->from.toString(QStringLiteral("HH:mm")), QString::fromLatin1(c.from));
        EXPECT_EQ(span->to.toString(QStringLiteral("HH:mm")), QString::fromLatin1(c.to));
    }
}

TEST(QuietHours, AreQuietFromTheirFirstMinuteUpToTheirEndAlsoPastMidnight) {
    struct Case {
        const char* hours;
        const char* now;
        bool quiet;
    };
    const Case cases[] = {
        {"22:00-07:00", "21:59:59", false}, {"22:00-07:00", "22:00:00", true},
        {"22:00-07:00", "00:00:00", true},
        {"22:00-07:00", "06:59:59", true},  {"22:00-07:00", "07:00:00", false},
        {"22:00-07:00", "12:00:00", false}, {"9:30-12:00", "09:29:59", false},
        {"9:30-12:00", "09:30:00", true},
        {"9:30-12:00", "12:00:00", false},
        {"", "03:00:00", false},
        {"03:00-03:00", "03:00:00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hours) + " at " + c.now);
        CharacterOptions options;
        options.QuietHours = QString::fromLatin1(c.hours);
        EXPECT_EQ(IsQuietAt(options, QTime::fromString(QString::fromLatin1(c.now), QStringLiteral("HH:mm:ss"))),
                  c.quiet);
    }
}

TEST(CharacterOptionsFile, ReadsTheSectionAsWindowsWouldHaveWrittenIt) {
    struct Case {
        const char* name;
        QByteArray file;
        CharacterOptions expected;
    };
    const Case cases[] = {
        {"no section", "[Receive]\r\nHomeWhenRead=1\r\n", {}},
        {"all on", "[Characters]\r\nHomeWhenRead=1\r\nAwayFromFullScreen=1\r\nQuietHours=22:00-07:00\r\n",
         {true, true, QStringLiteral("22:00-07:00")}},
        {"any case, blanks, bare LF", "[characters]\nawayfromfullscreen = 1 \nQUIETHOURS =  abc \n",
         {false, true, QStringLiteral("abc")}},
        {"neither 0 nor 1 is off", "[Characters]\r\nHomeWhenRead=yes\r\nAwayFromFullScreen=2\r\n", {}},
        {"full-width span kept as written", "[Characters]\r\nQuietHours=\x82\x51\x82\x51:00-07:00\r\n",
         {false, false, QStringLiteral("２２:00-07:00")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder folder;
        folder.write(kFile, c.file);
        const Result<CharacterOptions> read = ReadCharacterOptions(folder.path(kFile));
        ASSERT_TRUE(read.ok()) << read.error().toStdString();
        EXPECT_EQ(read.value(), c.expected);
    }
}

TEST(CharacterOptionsFile, MissingIsTheDefaultsAndUnreadableIsAFailureThatStays) {
    test::TempFolder folder;
    const Result<CharacterOptions> missing = ReadCharacterOptions(folder.path(kFile));
    ASSERT_TRUE(missing.ok());
    EXPECT_EQ(missing.value(), CharacterOptions{});

    // A folder where the file should be cannot be read; neither is it replaced.
    ASSERT_TRUE(QDir(folder.path()).mkdir(kFile));
    EXPECT_FALSE(ReadCharacterOptions(folder.path(kFile)).ok());
    EXPECT_FALSE(WriteCharacterOptions(folder.path(kFile), {true, true, QStringLiteral("22:00-07:00")}).ok());
    EXPECT_TRUE(QFileInfo(folder.path(kFile)).isDir());
}

TEST(CharacterOptionsFile, WritesItsKeysInPlaceKeepingEveryOtherLine) {
    test::TempFolder folder;
    folder.write(kFile,
                 "; mine\r\n[Receive]\r\nTray=1\r\n[Characters]\r\nHomeWhenRead=0\r\nOther=x\r\n[Compose]\r\n"
                 "QuoteOnReply=1\r\n");
    const CharacterOptions options{true, false, QStringLiteral("23:00-6:30")};
    ASSERT_TRUE(WriteCharacterOptions(folder.path(kFile), options).ok());
    EXPECT_EQ(folder.read(kFile),
              "; mine\r\n[Receive]\r\nTray=1\r\n[Characters]\r\nHomeWhenRead=1\r\nOther=x\r\n"
              "AwayFromFullScreen=0\r\nQuietHours=23:00-6:30\r\n[Compose]\r\nQuoteOnReply=1\r\n");
    EXPECT_EQ(ReadCharacterOptions(folder.path(kFile)).value(), options);

    // A line break typed into the value cannot start a key of its own.
    ASSERT_TRUE(WriteCharacterOptions(folder.path(kFile), {false, true, QStringLiteral("1:00\r\n[x]\nHomeWhenRead=1")}).ok());
    const CharacterOptions read = ReadCharacterOptions(folder.path(kFile)).value();
    EXPECT_FALSE(read.HomeWhenRead);
    EXPECT_TRUE(read.AwayFromFullScreen);
    EXPECT_EQ(read.QuietHours, QStringLiteral("1:00  [x] HomeWhenRead=1"));
}

}  // namespace
}  // namespace lumopet
