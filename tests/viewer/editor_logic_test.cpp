// The editor's rules without a window: the line ends of the files it opens,
// the settings tidy-up, and the large file read in pieces.

#include "core/cp932.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "viewer/editor_files.h"
#include "viewer/editor_logic.h"
#include "viewer/editor_text_reader.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>

namespace lumopet {
namespace {

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

struct OpenCase {
    const char* name;
    QByteArray file;
    QString editorText;
};

class OpenedFile : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenedFile, EveryLineEndsInCrLf) { EXPECT_EQ(TextFileToEditorText(GetParam().file), GetParam().editorText); }

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenedFile,
    ::testing::Values(OpenCase{"TwoLinesWithoutFinalBreak", "a\r\nb", QStringLiteral("a\r\nb\r\n")},
                      OpenCase{"FinalBreakIsNotDoubled", "a\r\nb\r\n", QStringLiteral("a\r\nb\r\n")},
                      OpenCase{"LinuxLineEnds", "a\nb\n", QStringLiteral("a\r\nb\r\n")},
                      OpenCase{"LoneCr", "a\rb", QStringLiteral("a\r\nb\r\n")},
                      OpenCase{"EmptyLinesStay", "a\r\n\r\n\nb", QStringLiteral("a\r\n\r\n\r\nb\r\n")},
                      OpenCase{"EmptyFile", "", QString()},
                      OpenCase{"ShiftJis", "\x93\xfa\x96\x7b\r\n\x87\x40", QStringLiteral("日本\r\n①\r\n")}),
    CaseName);

// The settings file as the Windows profile functions leave it: CP932,
// CR LF, the two sections that go, and a user's section with a Japanese
// value and a comment, which must come back byte for byte.
QByteArray windowsSettings(const QString& autoSave) {
    return cp932::encode(QStringLiteral("[HIST]\r\n0=EMPTY\r\n1=C:\\メモ\\a.txt\r\n[FLAG]\r\nAUTOSAVE=%1\r\n\r\n"
                                        "[USER]\r\nNAME=山田　太郎\r\n; 表示の設定\r\n[OKINI]\r\n0=b.txt\r\n")
                             .arg(autoSave));
}

// What QSettings (Qt 6) wrote for this file in earlier versions: UTF-8, LF,
// a blank line between sections, a quoted value.
const QByteArray kEarlierFile = "[FLAG]\nAUTOSAVE=\n\n[HIST]\n0=EMPTY\n\n[KEEP]\nw=\"a;b\"\nx=\xe5\x80\xa4\n";

struct SettingsCase {
    const char* name;
    std::optional<QByteArray> before;  // nothing: no file yet
    QString autoSave;
    QByteArray after;
};

class SettingsTidyUp : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsTidyUp, RemovesTheTwoSectionsStoresTheChoiceKeepsTheRest) {
    const SettingsCase& c = GetParam();
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("pirabeno.ini"));
    if (c.before) folder.write(QStringLiteral("pirabeno.ini"), *c.before);
    const Status done = ClearEditorSettingsFile(path, c.autoSave);
    ASSERT_TRUE(done.ok()) << done.error().toStdString();
    EXPECT_EQ(folder.read(QStringLiteral("pirabeno.ini")), c.after);
    // The next close finds nothing more to do.
    ASSERT_TRUE(ClearEditorSettingsFile(path, c.autoSave).ok());
    EXPECT_EQ(folder.read(QStringLiteral("pirabeno.ini")), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsTidyUp,
    ::testing::Values(
        SettingsCase{"NoFileYet", std::nullopt, QString(), "[FLAG]\r\nAUTOSAVE=\r\n"},
        SettingsCase{"WindowsFileKeepsItsOtherSectionsByteForByte", windowsSettings(QStringLiteral("しない")), QString(),
                     cp932::encode(QStringLiteral("[FLAG]\r\nAUTOSAVE=\r\n\r\n[USER]\r\nNAME=山田　太郎\r\n; 表示の設定\r\n"))},
        SettingsCase{"ChoiceIsStoredInCp932", windowsSettings(QString()), QStringLiteral("しない"),
                     cp932::encode(
                         QStringLiteral("[FLAG]\r\nAUTOSAVE=しない\r\n\r\n[USER]\r\nNAME=山田　太郎\r\n; 表示の設定\r\n"))},
        SettingsCase{"MissingKeyGoesAfterTheSectionsLastEntry", "[FLAG]\r\nOTHER=1\r\n\r\n[B]\r\nK=v\r\n", QString(),
                     "[FLAG]\r\nOTHER=1\r\nAUTOSAVE=\r\n\r\n[B]\r\nK=v\r\n"},
        SettingsCase{"SectionsGoWhateverTheirCaseAndHowOften", "[hist]\r\n0=a\r\n[X]\r\ny=1\r\n[HIST]\r\n1=b\r\n", QString(),
                     "[X]\r\ny=1\r\n[FLAG]\r\nAUTOSAVE=\r\n"},
        SettingsCase{"EarlierUtf8LfFileBecomesCp932CrLf", kEarlierFile, QString(),
                     "[FLAG]\r\nAUTOSAVE=\r\n\r\n[KEEP]\r\nw=\"a;b\"\r\nx=\x92\x6c\r\n"},
        // What an earlier rewrite made of a CP932 value cannot be brought
        // back: its bytes stay, in lines of the profile layout.
        SettingsCase{"EarlierReplacementCharactersKeepTheirBytes", "[USER]\nNAME=\xef\xbf\xbd\xef\xbf\xbd\n", QString(),
                     "[USER]\r\nNAME=\xef\xbf\xbd\xef\xbf\xbd\r\n[FLAG]\r\nAUTOSAVE=\r\n"}),
    CaseName);

// ---- A large file, piece by piece ---------------------------------------

struct PieceEndCase {
    const char* name;
    QByteArray bytes;
    qsizetype limit;
    qsizetype end;
};

class TextPieceEndTest : public ::testing::TestWithParam<PieceEndCase> {};

TEST_P(TextPieceEndTest, CutsAfterALineOrACharacter) {
    EXPECT_EQ(TextPieceEnd(GetParam().bytes, GetParam().limit), GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextPieceEndTest,
    ::testing::Values(PieceEndCase{"AllWhenItFits", "ab\r\ncd", 6, 6},
                      PieceEndCase{"AfterTheLastLineBreak", "ab\r\ncd\nef", 8, 7},
                      PieceEndCase{"CrLfStaysTogether", "abc\r\nd", 4, 5},
                      PieceEndCase{"LoneCrEndsALine", "ab\rcdef", 5, 3},
                      // "表" is 0x95 0x5C: its second byte is the one of "\".
                      PieceEndCase{"LongLineBetweenCharacters", "a\x95\x5c\x95\x5c", 4, 3},
                      PieceEndCase{"LongLineAfterAWholeCharacter", "\x95\x5c\x95\x5c", 3, 2}),
    CaseName);

// The editor's text without the difference of its two kinds of break.
QString asPlainText(QString text) { return text.replace(QChar(QChar::LineSeparator), u'\n'); }

// Pieces of a file of lines of all kinds, its last line without a break,
// and a line of double-byte characters longer than a piece: together the
// text of the file opened whole.
TEST(TextFileReader, PiecesTogetherAreTheWholeText) {
    test::TempFolder folder;
    QByteArray file;
    for (int n = 0; file.size() < 3 * kTextPieceBytes; ++n)
        file += cp932::encode(QStringLiteral("%1 行目 ログ①").arg(n)) + (n % 3 == 0 ? "\n" : n % 3 == 1 ? "\r" : "\r\n");
    file += "a" + cp932::encode(QString(kTextPieceBytes, u'表')) + "\r\nlast";
    folder.write(QStringLiteral("big.log"), file);
    auto reader = TextFileReader::Open(folder.path(QStringLiteral("big.log")));
    ASSERT_TRUE(reader.ok()) << reader.error().toStdString();
    QString whole;
    int pieces = 0;
    for (;;) {
        auto piece = reader.value()->NextPiece();
        ASSERT_TRUE(piece.ok()) << piece.error().toStdString();
        if (!piece.value()) break;
        EXPECT_LE(piece.value()->size(), kTextPieceBytes + 1);
        whole += *piece.value();
        ++pieces;
    }
    EXPECT_GE(pieces, 5);
    EXPECT_EQ(asPlainText(whole), TextFileToEditorText(file).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    EXPECT_FALSE(TextFileReader::Open(folder.path()).ok()) << "a folder is not read";
}

// Where the file cannot be written, the user is told (never a silent
// pretence that the settings were stored).
TEST(SettingsTidyUp, AFileThatCannotBeWrittenIsReported) {
    test::TempFolder folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("pirabeno.ini")));
    folder.write(QStringLiteral("data"), "a file where the data folder should be");
    for (const QString& path :
         {folder.path(QStringLiteral("pirabeno.ini")), folder.path(QStringLiteral("data/pirabeno.ini"))}) {
        const Status done = ClearEditorSettingsFile(path, QString());
        ASSERT_FALSE(done.ok()) << path.toStdString();
        EXPECT_TRUE(done.error().contains(path)) << done.error().toStdString();
    }
    EXPECT_TRUE(QFileInfo(folder.path(QStringLiteral("pirabeno.ini"))).isDir());
}

}  // namespace
}  // namespace lumopet
