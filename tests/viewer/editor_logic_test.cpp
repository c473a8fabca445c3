// The editor's rules without a window: the line ends of the files it opens
// and the settings tidy-up.

#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "viewer/editor_files.h"
#include "viewer/editor_logic.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

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

struct SettingsCase {
    const char* name;
    std::optional<QByteArray> before;  // nothing: no file yet
    QString autoSave;
    QStringList groups;                // afterwards
    QString keptValue;                 // KEEP/x afterwards
};

class SettingsTidyUp : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsTidyUp, RemovesTheTwoSectionsAndStoresTheChoice) {
    const SettingsCase& c = GetParam();
    test::TempFolder folder;
    const QString path = folder.path(QStringLiteral("pirabeno.ini"));
    if (c.before) folder.write(QStringLiteral("pirabeno.ini"), *c.before);
    const Status done = ClearEditorSettingsFile(path, c.autoSave);
    ASSERT_TRUE(done.ok()) << done.error().toStdString();
    QSettings store(path, QSettings::IniFormat);
    QStringList groups = store.childGroups();
    groups.sort();
    EXPECT_EQ(groups, c.groups);
    EXPECT_TRUE(store.contains(QStringLiteral("FLAG/AUTOSAVE")));
    EXPECT_EQ(store.value(QStringLiteral("FLAG/AUTOSAVE")).toString(), c.autoSave);
    EXPECT_EQ(store.value(QStringLiteral("KEEP/x")).toString(), c.keptValue);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsTidyUp,
    ::testing::Values(
        SettingsCase{"NoFileYet", std::nullopt, QString(), {QStringLiteral("FLAG")}, QString()},
        SettingsCase{"BothSectionsGoOthersStay",
                     "[HIST]\n0=EMPTY\n1=a.txt\n[OKINI]\n0=b.txt\n[FLAG]\nAUTOSAVE=old\n[KEEP]\nx=1\n", QString(),
                     {QStringLiteral("FLAG"), QStringLiteral("KEEP")}, QStringLiteral("1")},
        SettingsCase{"ChoiceIsStoredAsItIs", "[FLAG]\nAUTOSAVE=\n", QStringLiteral("しない"), {QStringLiteral("FLAG")},
                     QString()}),
    CaseName);

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
