#include "core/settings_files/character_flags.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace lumopet {
namespace {

struct ValueCase {
    const char* name;
    QByteArray value;
    bool enabled;
};

class CharacterKeyValueTest : public ::testing::TestWithParam<ValueCase> {};

// NAME1 is the key of mood 5.
TEST_P(CharacterKeyValueTest, OnlyTheNumberOneEnables) {
    test::TempFolder folder;
    folder.write(QStringLiteral("CharaData.ini"), "[EXEINI]\r\nNAME1=" + GetParam().value + "\r\n");
    const MoodFlags flags = ReadCharacterFlags(folder.path(QStringLiteral("CharaData.ini")));
    EXPECT_EQ(flags, (MoodFlags{false, false, false, false, GetParam().enabled}));
}

INSTANTIATE_TEST_SUITE_P(
    Values, CharacterKeyValueTest,
    ::testing::Values(ValueCase{"one", "1", true}, ValueCase{"leading_zero", "01", true},
                      ValueCase{"decimal", "1.0", true}, ValueCase{"quoted", "\"1\"", true},
                      ValueCase{"two", "2", false}, ValueCase{"zero", "0", false}, ValueCase{"letters", "yes", false},
                      ValueCase{"empty", "", false}, ValueCase{"one_and_a_half", "1.5", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct KeyCase {
    const char* key;
    int mood;
};

class CharacterKeyMoodTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(CharacterKeyMoodTest, EachKeyEnablesItsOwnMood) {
    test::TempFolder folder;
    folder.write(QStringLiteral("c.ini"), QByteArray("[EXEINI]\r\n") + GetParam().key + "=1\r\n");
    MoodFlags expected{};
    expected[GetParam().mood - 1] = true;
    EXPECT_EQ(ReadCharacterFlags(folder.path(QStringLiteral("c.ini"))), expected);
}

INSTANTIATE_TEST_SUITE_P(Keys, CharacterKeyMoodTest,
                         ::testing::Values(KeyCase{"NAME1", 5}, KeyCase{"NAME2", 3}, KeyCase{"NAME3", 1},
                                           KeyCase{"NAME4", 2}, KeyCase{"NAME5", 4}),
                         [](const auto& info) { return std::string(info.param.key); });

struct SaveCase {
    const char* name;
    MoodFlags enabled;
    QByteArray file;
};

class WriteCharacterFlagsTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(WriteCharacterFlagsTest, WritesEveryKeyAndReadsBack) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("CharaData.ini"));
    ASSERT_TRUE(WriteCharacterFlags(path, GetParam().enabled).ok());
    EXPECT_EQ(folder.read(QStringLiteral("CharaData.ini")), GetParam().file);
    EXPECT_EQ(ReadCharacterFlags(path), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Saves, WriteCharacterFlagsTest,
    ::testing::Values(
        SaveCase{"none", {false, false, false, false, false},
                 "[EXEINI]\r\nNAME1=0\r\nNAME2=0\r\nNAME3=0\r\nNAME4=0\r\nNAME5=0\r\n"},
        SaveCase{"only_mood_one", {true, false, false, false, false},
                 "[EXEINI]\r\nNAME1=0\r\nNAME2=0\r\nNAME3=1\r\nNAME4=0\r\nNAME5=0\r\n"},
        SaveCase{"moods_one_and_five", {true, false, false, false, true},
                 "[EXEINI]\r\nNAME1=1\r\nNAME2=0\r\nNAME3=1\r\nNAME4=0\r\nNAME5=0\r\n"},
        SaveCase{"all", {true, true, true, true, true},
                 "[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\nNAME3=1\r\nNAME4=1\r\nNAME5=1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CharacterFile, SavingOverAnOldFileKeepsItsOtherLines) {
    test::TempFolder folder;
    folder.write(QStringLiteral("c.ini"), "; mine\r\n[EXEINI]\r\nNAME2=1\r\nNAME1=1\r\n[KEEP]\r\nX=1\r\n");
    ASSERT_TRUE(WriteCharacterFlags(folder.path(QStringLiteral("c.ini")), {false, true, false, false, false}).ok());
    EXPECT_EQ(folder.read(QStringLiteral("c.ini")),
              "; mine\r\n[EXEINI]\r\nNAME2=0\r\nNAME1=0\r\nNAME3=0\r\nNAME4=1\r\nNAME5=0\r\n[KEEP]\r\nX=1\r\n");
}

TEST(CharacterFile, MissingFileEnablesNothing) {
    test::TempFolder folder;
    EXPECT_EQ(ReadCharacterFlags(folder.path(QStringLiteral("none.ini"))), MoodFlags{});
}

}  // namespace
}  // namespace lumopet
