#include "core/settings_files/compose_options.h"
#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <ostream>

namespace lumopet {

inline void PrintTo(const ComposeOptions& o, std::ostream* out) {
    *out << "{Confirm " << o.ConfirmRecipients << ", Quote " << o.QuoteOnReply << ", Keep " << o.KeepReplies
         << ", Widen " << o.WidenKana << ", Wrap " << o.WrapLines << ", Default " << o.DefaultSignature;
    for (const QString& s : o.Signatures) *out << ", \"" << s.toStdString() << '"';
    *out << "}";
}

namespace {

const QString kFile = QStringLiteral("lumopet.ini");

ComposeOptions with(const std::function<void(ComposeOptions&)>& set) {
    ComposeOptions o;
    set(o);
    return o;
}

struct ReadCase {
    const char* name;
    QByteArray file;  // none: no file at all
    ComposeOptions expected;
};

class ComposeOptionsReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ComposeOptionsReadTest, ReadsTheSection) {
    test::TempFolder folder;
    if (!GetParam().file.isNull()) folder.write(kFile, GetParam().file);
    const Result<ComposeOptions> read = ReadComposeOptions(folder.path(kFile));
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(read.value(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ComposeOptionsReadTest,
    ::testing::Values(
        ReadCase{"no_file", QByteArray(), {}},
        ReadCase{"other_section_only", "[Receive]\r\nConfirmRecipients=1\r\nSignature1=x\r\n", {}},
        ReadCase{"every_key",
                 // 山田 in CP932, an escaped break, an escaped backslash, an
                 // emoji by its units.
                 "[Compose]\r\nConfirmRecipients=1\r\nQuoteOnReply=1\r\nKeepReplies=1\r\nWidenKana=1\r\nWrapLines=1\r\n"
                 "Signature1=\x8e\x52\x93\x63\\nC:\\\\mail\r\nSignature2=\" two \"\r\nSignature3=\\uD83D\\uDE00\r\n"
                 "DefaultSignature=3\r\n",
                 with([](ComposeOptions& o) {
                     o.ConfirmRecipients = o.QuoteOnReply = o.KeepReplies = o.WidenKana = o.WrapLines = true;
                     o.Signatures = {QStringLiteral("山田\nC:\\mail"), QStringLiteral(" two "),
                                     QStringLiteral("\U0001F600")};
                     o.DefaultSignature = 3;
                 })},
        ReadCase{"bad_switches_and_defaults_are_off",
                 "[Compose]\r\nConfirmRecipients=2\r\nQuoteOnReply=yes\r\nKeepReplies=-1\r\nWidenKana=\r\n"
                 "WrapLines=0\r\nDefaultSignature=4\r\n",
                 {}},
        ReadCase{"huge_default", "[Compose]\r\nDefaultSignature=1e300\r\n", {}},
        // A hand-written value: escapes that are not ours are its text.
        ReadCase{"unknown_and_unfinished_escapes",
                 // \u with full-width digits (\x82\x4f is ０) is not one either.
                 "[Compose]\r\nSignature1=a\\tb\\u12 \\uZZZZ \\u\x82\x4f\x82\x4f\x82\x4f\x82\x50 end\\\r\n",
                 with([](ComposeOptions& o) { o.Signatures[0] = QStringLiteral("a\\tb\\u12 \\uZZZZ \\u０００１ end\\"); })},
        // (An escaped NUL is unescaped and then cut as KeptSignature cuts.)
        ReadCase{"a_nul_byte_ends_the_value", QByteArrayLiteral("[Compose]\r\nSignature2=kept\0lost\r\n"),
                 with([](ComposeOptions& o) { o.Signatures[1] = QStringLiteral("kept"); })}),
    test::CaseName);

struct RoundTripCase {
    const char* name;
    QString text;
};

class SignatureRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

// Through the file and back, with every slot holding the text: what was
// typed is what the next start shows, and each value stays on its line.
TEST_P(SignatureRoundTripTest, ComesBackAsWritten) {
    test::TempFolder folder;
    const QString path = folder.path(kFile);
    ComposeOptions written;
    written.Signatures = {GetParam().text, GetParam().text, GetParam().text};
    ASSERT_TRUE(WriteComposeOptions(path, written).ok());
    const QByteArray file = folder.read(kFile);
    EXPECT_EQ(file.count("\r\n"), 10) << "a line break escaped the value:\n" << file.toStdString();
    const Result<ComposeOptions> read = ReadComposeOptions(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), written);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SignatureRoundTripTest,
    ::testing::Values(
        RoundTripCase{"breaks_and_backslashes", QStringLiteral("C:\\mail\\new\n\\\\server\\n\n\\")},
        RoundTripCase{"what_looks_like_an_escape", QStringLiteral("\\n \\u0041 \\uD83D \\\\n")},
        RoundTripCase{"blanks_at_the_ends", QStringLiteral("  --\t\n\n  山田 太郎  \n\n  ")},
        RoundTripCase{"quotes_around_it", QStringLiteral("\"株式会社ルモ\"")},
        RoundTripCase{"what_cp932_cannot_hold", QStringLiteral("😀 café ¥100 〜 ㈱ ① ｶﾅ 髙 \u00A0x")}),
    test::CaseName);

struct CutCase {
    const char* name;
    QString text;
    QString kept;
};

class KeptSignatureTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(KeptSignatureTest, CutsSensibly) { EXPECT_EQ(KeptSignature(GetParam().text), GetParam().kept); }

const QString kLine = QString(99, u'a') + u'\n';  // 100 characters with its break

INSTANTIATE_TEST_SUITE_P(
    Texts, KeptSignatureTest,
    ::testing::Values(
        CutCase{"crlf_and_cr_as_lf", QStringLiteral("a\r\nb\rc"), QStringLiteral("a\nb\nc")},
        CutCase{"at_the_first_nul", QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"), QStringLiteral("ab")},
        CutCase{"exactly_the_limit", kLine.repeated(20), kLine.repeated(20)},
        CutCase{"whole_lines_that_fit", kLine.repeated(25), kLine.repeated(19) + kLine.chopped(1)},
        CutCase{"a_break_right_at_the_limit", kLine.repeated(19) + QString(100, u'y') + QStringLiteral("\nmore"),
                kLine.repeated(19) + QString(100, u'y')},
        CutCase{"one_long_line", QString(2500, u'x'), QString(2000, u'x')},
        CutCase{"never_half_a_pair", QString(1999, u'x') + QStringLiteral("😀😀"), QString(1999, u'x')}),
    test::CaseName);

// Files are shared with the Windows profile functions: line breaks,
// backslashes and characters outside CP932 go in the form they read back.
TEST(ComposeOptionsFile, WritingKeepsEveryOtherLineAndTheKeysInPlace) {
    test::TempFolder folder;
    const QString path = folder.path(kFile);
    folder.write(kFile, "; \x92\x6c\r\n[Receive]\r\nTray=1\r\n\r\n[compose]\r\nwraplines=1\r\nLater=keep me\r\n"
                        "[Viewer]\r\nShowHtml=1\r\n");
    const ComposeOptions written = with([](ComposeOptions& o) {
        o.QuoteOnReply = true;
        o.Signatures[0] = QStringLiteral("a\\b\nc😀");
        o.Signatures[1] = QStringLiteral("二\n行");
        o.DefaultSignature = 2;
    });
    ASSERT_TRUE(WriteComposeOptions(path, written).ok());
    EXPECT_EQ(folder.read(kFile),
              "; \x92\x6c\r\n[Receive]\r\nTray=1\r\n\r\n[compose]\r\nwraplines=0\r\nLater=keep me\r\n"
              "ConfirmRecipients=0\r\nQuoteOnReply=1\r\nKeepReplies=0\r\nWidenKana=0\r\nSignature1=a\\\\b\\nc\\uD83D\\uDE00\r\n"
              "Signature2=\x93\xf1\\n\x8d\x73\r\nSignature3=\r\nDefaultSignature=2\r\n"
              "[Viewer]\r\nShowHtml=1\r\n");
    const Result<ComposeOptions> read = ReadComposeOptions(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.value(), written);
}

// Tests run as root, which reads a mode-000 file; what cannot be read here
// is a folder or a FIFO in the file's place.
TEST(ComposeOptionsFile, SomethingThereThatCannotBeReadIsAFailureAndNeverReplaced) {
    const std::function<bool(const QString&)> prepares[] = {
        [](const QString& p) { return QDir().mkdir(p); },
        [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; },
    };
    for (const auto& prepare : prepares) {
        test::TempFolder folder;
        const QString path = folder.path(kFile);
        ASSERT_TRUE(prepare(path));
        EXPECT_FALSE(ReadComposeOptions(path).ok());
        EXPECT_FALSE(WriteComposeOptions(path, with([](ComposeOptions& o) { o.WrapLines = true; })).ok());
        EXPECT_FALSE(UpdateComposeOptions(path, [](ComposeOptions& o) { o.WrapLines = true; }).ok());
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode)) << "replaced by a save";
    }
}

}  // namespace
}  // namespace lumopet
