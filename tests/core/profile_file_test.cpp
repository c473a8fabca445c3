#include "core/cp932.h"
#include "core/settings_files/profile_file.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

// A file as Notepad and the Windows profile functions leave it: CP932,
// CR LF, a comment, another section, blanks and quotes around values, a
// section name in other letter case.
const QByteArray kWindowsFile = QByteArray("; written on Windows\r\n") + "[Other]\r\n" + "NAME=other value\r\n" +
                                "\r\n" + "[exeini]\r\n" + cp932::encode(QStringLiteral("  name  =  山田　太郎 \r\n")) +
                                "NAME2=\"  pass word \"\r\n" + ";NAME3=commented out\r\n" + "Name3 = 1\r\n" +
                                "NAME=second one is ignored\r\n" + "\r\n" + "; the end\r\n";

struct ReadCase {
    const char* name;
    const char* section;
    const char* key;
    std::optional<QString> value;
};

class FindProfileValueTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(FindProfileValueTest, ReadsWhatWindowsWrote) {
    const auto found = FindProfileValue(kWindowsFile, QString::fromUtf8(GetParam().section), QString::fromUtf8(GetParam().key));
    ASSERT_EQ(found.has_value(), GetParam().value.has_value());
    if (found) {
        EXPECT_EQ(cp932::decode(*found), *GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FindProfileValueTest,
    ::testing::Values(ReadCase{"names_ignore_case_and_blanks", "EXEINI", "NAME", QStringLiteral("山田　太郎")},
                      ReadCase{"one_pair_of_quotes_dropped", "EXEINI", "NAME2", QStringLiteral("  pass word ")},
                      ReadCase{"comment_is_not_a_key", "EXEINI", "name3", QStringLiteral("1")},
                      ReadCase{"other_section", "OTHER", "NAME", QStringLiteral("other value")},
                      ReadCase{"missing_key", "EXEINI", "NAME4", std::nullopt},
                      ReadCase{"missing_section", "NOPE", "NAME", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    QByteArray before;
    const char* key;
    QString value;
    QByteArray after;
};

class SetProfileValueTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(SetProfileValueTest, ChangesOnlyTheOneValue) {
    EXPECT_EQ(SetProfileValue(GetParam().before, QStringLiteral("EXEINI"), QString::fromUtf8(GetParam().key), GetParam().value),
              GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SetProfileValueTest,
    ::testing::Values(
        WriteCase{"new_file", "", "NAME1", "1", "[EXEINI]\r\nNAME1=1\r\n"},
        WriteCase{"replaced_in_place_keeping_its_spelling", "[Exeini]\r\n name1 = 0 \r\nNAME2=0\r\n", "NAME1", "1",
                  "[Exeini]\r\nname1=1\r\nNAME2=0\r\n"},
        WriteCase{"new_key_after_the_last_entry", "[EXEINI]\r\nNAME1=0\r\n\r\n; next\r\n[B]\r\nNAME9=9\r\n", "NAME9", "1",
                  "[EXEINI]\r\nNAME1=0\r\nNAME9=1\r\n\r\n; next\r\n[B]\r\nNAME9=9\r\n"},
        WriteCase{"new_section_at_the_end", "; c\r\n[A]\r\nX=1", "NAME", "v", "; c\r\n[A]\r\nX=1\r\n[EXEINI]\r\nNAME=v\r\n"},
        WriteCase{"lf_lines_kept_as_they_are", "[EXEINI]\nNAME=a\nOTHER=b\n", "NAME", "c", "[EXEINI]\nNAME=c\nOTHER=b\n"},
        WriteCase{"blanks_at_the_ends_are_quoted", "", "NAME2", " pw ", "[EXEINI]\r\nNAME2=\" pw \"\r\n"},
        WriteCase{"quoted_value_keeps_its_quotes", "", "NAME2", "\"q\"", "[EXEINI]\r\nNAME2=\"\"q\"\"\r\n"},
        WriteCase{"double_byte_value", "", "NAME", QStringLiteral("ソ表"), "[EXEINI]\r\nNAME=\x83\x5c\x95\x5c\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, RewritingKeepsEveryOtherLineByteForByte) {
    const QByteArray after = SetProfileValue(kWindowsFile, QStringLiteral("EXEINI"), QStringLiteral("NAME"), QStringLiteral("新"));
    QByteArray expected = kWindowsFile;
    expected.replace(cp932::encode(QStringLiteral("  name  =  山田　太郎 ")), cp932::encode(QStringLiteral("name=新")));
    EXPECT_EQ(after, expected);
}

TEST(ProfileFile, ReadingCutsAtTheBufferWithoutSplittingACharacter) {
    // 'a' then 200 double-byte characters: a 256-byte buffer holds 255
    // bytes, which would end in the middle of the 128th character.
    const QByteArray file = "[EXEINI]\r\nNAME=a" + cp932::encode(QString(200, u'字')) + "\r\n";
    const QString value = ProfileString(file, QStringLiteral("EXEINI"), QStringLiteral("NAME"), 256);
    EXPECT_EQ(value, QStringLiteral("a") + QString(127, u'字'));
}

TEST(ProfileFile, WritesAreAppliedInOrderAndRoundTrip) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("x.ini"));
    ASSERT_TRUE(WriteProfileStrings(path, QStringLiteral("EXEINI"),
                                    {{QStringLiteral("A"), QStringLiteral("0")}, {QStringLiteral("B"), QStringLiteral("0")},
                                     {QStringLiteral("a"), QStringLiteral(" 値 ")}})
                    .ok());
    EXPECT_EQ(folder.read(QStringLiteral("x.ini")), cp932::encode(QStringLiteral("[EXEINI]\r\nA=\" 値 \"\r\nB=0\r\n")));
    EXPECT_EQ(ProfileString(ReadProfileFile(path), QStringLiteral("exeini"), QStringLiteral("a"), 256), QStringLiteral(" 値 "));
}

TEST(ProfileFile, ABareCrEndsALineForReadingAndWritingAlike) {
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray after;  // once NAME=id and NAME2=pw are set
    };
    const Case cases[] = {
        {"last line ends in a bare CR", "[EXEINI]\r\nNAME=id\r", "[EXEINI]\r\nNAME=id\rNAME2=pw\r\n"},
        {"bare CR lines throughout", "[EXEINI]\rNAME=old\rNAME2=x\r", "[EXEINI]\rNAME=id\rNAME2=pw\r"},
        {"CR LF, then a bare CR before the next key", "[EXEINI]\r\nNAME=old\rNAME2=x\r\n",
         "[EXEINI]\r\nNAME=id\rNAME2=pw\r\n"},
        {"blank line of a bare CR before the section's end", "[EXEINI]\rNAME=id\r\r[B]\rK=v\r",
         "[EXEINI]\rNAME=id\rNAME2=pw\r\n\r[B]\rK=v\r"},
    };
    for (const Case& c : cases) {
        QByteArray file = SetProfileValue(c.before, QStringLiteral("EXEINI"), QStringLiteral("NAME"), QStringLiteral("id"));
        file = SetProfileValue(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QStringLiteral("pw"));
        EXPECT_EQ(file, c.after) << c.name;
        EXPECT_EQ(ProfileString(file, QStringLiteral("EXEINI"), QStringLiteral("NAME"), 256), QStringLiteral("id")) << c.name;
        EXPECT_EQ(ProfileString(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2"), 256), QStringLiteral("pw")) << c.name;
    }
}

struct RemoveCase {
    const char* name;
    QByteArray before;
    QByteArray after;  // without section "HIST"
};

class RemoveProfileSectionTest : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveProfileSectionTest, TakesTheSectionAndLeavesEveryOtherLine) {
    EXPECT_EQ(RemoveProfileSection(GetParam().before, QStringLiteral("HIST")), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RemoveProfileSectionTest,
    ::testing::Values(
        RemoveCase{"between_two_sections", "[A]\r\nx=1\r\n[Hist]\r\n0=a\r\n; c\r\n\r\n[B]\n y = 2 \n",
                   "[A]\r\nx=1\r\n[B]\n y = 2 \n"},
        RemoveCase{"last_without_a_final_break", "[A]\r\nx=1\r\n[ HIST ]\r\n0=a", "[A]\r\nx=1\r\n"},
        RemoveCase{"every_one_of_the_name", "[HIST]\r\n[A]\r\n[hist]\r\n1=b\r\n", "[A]\r\n"},
        RemoveCase{"absent_section_changes_nothing", "; [HIST]\r\nHIST=1\r\n[HISTORY]\r\n",
                   "; [HIST]\r\nHIST=1\r\n[HISTORY]\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, AnUpdateThatChangesNothingLeavesTheFileAlone) {
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("x.ini"));
    folder.write(QStringLiteral("x.ini"), "[A]\r\nx=1\r\n");
    // A replaced file is a new one, with an inode of its own.
    const auto inode = [&] {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : ino_t{0};
    };
    const auto before = inode();
    ASSERT_TRUE(UpdateProfileFile(path, [](QByteArray file) { return file; }).ok());
    EXPECT_EQ(inode(), before) << "not replaced";
    ASSERT_TRUE(UpdateProfileFile(path, [](QByteArray file) { return RemoveProfileSection(file, QStringLiteral("A")); }).ok());
    EXPECT_EQ(folder.read(QStringLiteral("x.ini")), QByteArray());
    EXPECT_NE(inode(), before);
}

TEST(ProfileFile, SomethingThatCannotBeReadIsNotReplaced) {
    test::TempFolder folder;
    // A folder where the file should be: there, but not readable as a file.
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("x.ini")));
    const Status status = WriteProfileStrings(folder.path(QStringLiteral("x.ini")), QStringLiteral("EXEINI"),
                                              {{QStringLiteral("A"), QStringLiteral("1")}});
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.error().contains(folder.path(QStringLiteral("x.ini"))));
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("x.ini"))).isDir());
}

}  // namespace
}  // namespace lumopet
