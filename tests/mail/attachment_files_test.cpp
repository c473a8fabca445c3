#include "mail/attachment_files.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>

namespace lumopet::mail {
namespace {

// Failures name the case instead of dumping its bytes.
template <class Case>
requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

struct NameCase {
    const char* name;
    QString proposed;
    int index;
    QString safe;
};

class SafeAttachmentFileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeAttachmentFileNameTest, LeavesOnePlainFileName) {
    const QString safe = SafeAttachmentFileName(GetParam().proposed, GetParam().index);
    EXPECT_EQ(safe, GetParam().safe);
    EXPECT_LE(safe.toUtf8().size(), 200);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeAttachmentFileNameTest,
    ::testing::Values(
        NameCase{"parent_folders", QStringLiteral("../../evil.sh"), 1, QStringLiteral("evil.sh")},
        NameCase{"windows_path", QStringLiteral("C:\\Windows\\x.exe"), 1, QStringLiteral("x.exe")},
        NameCase{"drive_relative", QStringLiteral("C:x.exe"), 1, QStringLiteral("x.exe")},
        NameCase{"folder_only", QStringLiteral("folder/"), 2, QStringLiteral("attachment2")},
        NameCase{"hidden_file", QStringLiteral(".bashrc"), 1, QStringLiteral("attachment1.bashrc")},
        NameCase{"extension_only", QStringLiteral(" .pdf"), 4, QStringLiteral("attachment4.pdf")},
        NameCase{"dots_only", QStringLiteral("..."), 1, QStringLiteral("attachment1")},
        NameCase{"blanks_only", QStringLiteral("   "), 1, QStringLiteral("attachment1")},
        NameCase{"empty", QString(), 3, QStringLiteral("attachment3")},
        NameCase{"right_to_left_override", QStringLiteral("a\u202Etxt.exe"), 1, QStringLiteral("atxt.exe")},
        NameCase{"direction_marks", QStringLiteral("\u200Fname\u2066.txt\u2069\u200E"), 1, QStringLiteral("name.txt")},
        NameCase{"control_characters", QStringLiteral("con\x01trol\x7f\u0085.txt"), 1, QStringLiteral("control.txt")},
        NameCase{"lone_surrogate", QString(QChar(0xD800)) + QStringLiteral("x.txt"), 1, QStringLiteral("x.txt")},
        NameCase{"windows_forbidden", QStringLiteral("a<b>c:d\"e|f?g*h.txt"), 1, QStringLiteral("a_b_c_d_e_f_g_h.txt")},
        NameCase{"outer_blanks_and_dots", QStringLiteral("\u3000 .spaced name.txt. . "), 1,
                 QStringLiteral("spaced name.txt")},
        NameCase{"japanese_unchanged", QStringLiteral("資料.txt"), 1, QStringLiteral("資料.txt")},
        NameCase{"circled_digits_unchanged", QStringLiteral("見積書①.xlsx"), 1, QStringLiteral("見積書①.xlsx")},
        NameCase{"long_keeps_extension", QString(100, QChar(u'あ')) + QStringLiteral(".txt"), 1,
                 QString(65, QChar(u'あ')) + QStringLiteral(".txt")},
        NameCase{"long_emoji_not_split", QStringLiteral("😀").repeated(60) + QStringLiteral(".png"), 1,
                 QStringLiteral("😀").repeated(49) + QStringLiteral(".png")},
        NameCase{"long_without_extension", QString(300, QChar(u'a')), 1, QString(200, QChar(u'a'))}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

DecodedMessage messageWith(std::vector<MailAttachment> attachments) {
    DecodedMessage message;
    message.attachments = std::move(attachments);
    return message;
}

struct ResultCase {
    const char* name;
    bool folderExists;
    int attachmentCount;
    bool incompletePartial;
    int result;
};

class SaveAttachmentsResultTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(SaveAttachmentsResultTest, ReturnsWhatTheReceiveCodeTests) {
    const test::TempFolder temp;
    DecodedMessage message;
    // Different bytes under one name: each is a file of its own.
    for (int i = 0; i < GetParam().attachmentCount; ++i)
        message.attachments.push_back({QStringLiteral("a.txt"), QByteArray::number(i)});
    message.incompletePartial = GetParam().incompletePartial;
    const QString folder = GetParam().folderExists ? temp.path() : temp.path(QStringLiteral("missing"));
    QStringList saved;
    EXPECT_EQ(SaveAttachments(folder, message, &saved), GetParam().result);
    const int expectedFiles = GetParam().result == kAttachmentsSaved ? GetParam().attachmentCount : 0;
    EXPECT_EQ(saved.size(), expectedFiles);
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::System | QDir::Hidden).size(), expectedFiles);
}

INSTANTIATE_TEST_SUITE_P(Results, SaveAttachmentsResultTest,
                         ::testing::Values(ResultCase{"saved", true, 2, false, kAttachmentsSaved},
                                           ResultCase{"no_attachments", true, 0, false, kNoAttachments},
                                           ResultCase{"missing_folder", false, 1, false, kAttachmentCannotBeOpened},
                                           ResultCase{"incomplete_partial", true, 1, true, kSplitMessageIncomplete},
                                           ResultCase{"incomplete_partial_without_parts", true, 0, true,
                                                      kSplitMessageIncomplete}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveAttachments, WritesEveryAttachmentUnderAFreeName) {
    const test::TempFolder temp;
    temp.write(QStringLiteral("資料 (2).txt"), "already here");
    const QByteArray binary("\x00\xff\r\n\x1a", 5);
    QStringList saved;
    const int result = SaveAttachments(temp.path(),
                                       messageWith({{QStringLiteral("資料.txt"), "first"},
                                                    {QStringLiteral("資料.txt"), "second"},
                                                    {QString(), binary},
                                                    {QStringLiteral("README"), "r1"},
                                                    {QStringLiteral("README"), "r2"}}),
                                       &saved);
    EXPECT_EQ(result, kAttachmentsSaved);
    EXPECT_EQ(saved, (QStringList{temp.path(QStringLiteral("資料.txt")), temp.path(QStringLiteral("資料 (3).txt")),
                                  temp.path(QStringLiteral("attachment3")), temp.path(QStringLiteral("README")),
                                  temp.path(QStringLiteral("README (2)"))}));
    EXPECT_EQ(temp.read(QStringLiteral("資料.txt")), "first");
    EXPECT_EQ(temp.read(QStringLiteral("資料 (2).txt")), "already here");
    EXPECT_EQ(temp.read(QStringLiteral("資料 (3).txt")), "second");
    EXPECT_EQ(temp.read(QStringLiteral("attachment3")), binary);
    EXPECT_EQ(temp.read(QStringLiteral("README (2)")), "r2");
}

TEST(SaveAttachments, KeepsEveryFileInsideTheFolder) {
    const test::TempFolder temp;
    ASSERT_TRUE(QDir(temp.path()).mkdir(QStringLiteral("inbox")));
    const QString folder = temp.path(QStringLiteral("inbox"));
    EXPECT_EQ(SaveAttachments(folder, messageWith({{QStringLiteral("../evil.sh"), "1"},
                                                   {QStringLiteral("..\\..\\win.bat"), "2"},
                                                   {temp.path(QStringLiteral("absolute.txt")), "3"},
                                                   {QStringLiteral(".."), "4"}})),
              kAttachmentsSaved);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("absolute.txt"), QStringLiteral("attachment4"), QStringLiteral("evil.sh"),
                           QStringLiteral("win.bat")}));
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST(SaveAttachments, DoesNotFollowASymbolicLinkPlantedUnderTheName) {
    const test::TempFolder temp;
    ASSERT_TRUE(QDir(temp.path()).mkdir(QStringLiteral("inbox")));
    temp.write(QStringLiteral("outside.txt"), "keep me");
    ASSERT_TRUE(QFile::link(temp.path(QStringLiteral("outside.txt")), temp.path(QStringLiteral("inbox/資料.txt"))));
    ASSERT_TRUE(QFile::link(temp.path(QStringLiteral("nowhere.txt")), temp.path(QStringLiteral("inbox/dangling.txt"))));

    EXPECT_EQ(SaveAttachments(temp.path(QStringLiteral("inbox")), messageWith({{QStringLiteral("資料.txt"), "attacker"},
                                                                               {QStringLiteral("dangling.txt"), "x"}})),
              kAttachmentsSaved);
    EXPECT_EQ(temp.read(QStringLiteral("outside.txt")), "keep me");
    EXPECT_FALSE(QFileInfo::exists(temp.path(QStringLiteral("nowhere.txt"))));
    EXPECT_TRUE(QFileInfo(temp.path(QStringLiteral("inbox/資料.txt"))).isSymLink());
    EXPECT_EQ(temp.read(QStringLiteral("inbox/資料 (2).txt")), "attacker");
    EXPECT_EQ(temp.read(QStringLiteral("inbox/dangling (2).txt")), "x");
}

// A file size limit makes the second write fail half-way, as a full disk
// would.
TEST(SaveAttachments, RemovesAHalfWrittenFileAndKeepsTheOnesBefore) {
    const test::TempFolder temp;
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = original;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    AttachmentFailure failure;
    const int result = SaveAttachments(temp.path(),
                                       messageWith({{QStringLiteral("small.txt"), "fits"},
                                                    {QStringLiteral("big.bin"), QByteArray(10000, 'x')}}),
                                       nullptr, &failure);
    setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, kAttachmentCannotBeOpened);
    EXPECT_EQ(failure.name, QStringLiteral("big.bin"));
    EXPECT_EQ(failure.reason, qt_error_string(EFBIG));
    EXPECT_EQ(temp.read(QStringLiteral("small.txt")), "fits");
    EXPECT_FALSE(QFileInfo::exists(temp.path(QStringLiteral("big.bin"))));
}

// The receive code shows which attachment was not saved and why; none of
// these setups depends on permission bits, so they fail for root as well.
TEST(SaveAttachments, AFailureNamesTheAttachmentAndTheReason) {
    enum class Folder { Missing, FileInTheWay, DanglingLink };
    struct Case {
        const char* name;
        Folder folder;
        QString proposed;
        QString failedName;
        int error;
    };
    const Case cases[] = {
        {"missing folder", Folder::Missing, QStringLiteral("見積書.pdf"), QStringLiteral("見積書.pdf"), ENOENT},
        {"a file where the folder should be", Folder::FileInTheWay, QStringLiteral("a.txt"), QStringLiteral("a.txt"),
         ENOTDIR},
        {"a link to nowhere, and the name is the safe one", Folder::DanglingLink, QStringLiteral("../x/evil.sh"),
         QStringLiteral("evil.sh"), ENOENT},
    };
    for (const Case& c : cases) {
        const test::TempFolder temp;
        const QString folder = temp.path(QStringLiteral("inbox"));
        if (c.folder == Folder::FileInTheWay) temp.write(QStringLiteral("inbox"), "not a folder");
        if (c.folder == Folder::DanglingLink) {
            ASSERT_TRUE(QFile::link(temp.path(QStringLiteral("nowhere")), folder));
        }
        AttachmentFailure failure;
        EXPECT_EQ(SaveAttachments(folder, messageWith({{c.proposed, "1"}, {QStringLiteral("second.txt"), "2"}}), nullptr,
                                  &failure),
                  kAttachmentCannotBeOpened)
            << c.name;
        EXPECT_EQ(failure.name, c.failedName) << c.name;
        EXPECT_EQ(failure.reason, qt_error_string(c.error)) << c.name;
    }
}

// A check that saved the attachments and then could not store the message
// fetches it again: the attachments it already wrote must not come twice,
// while anything that is not exactly that file gets a name of its own.
TEST(SaveAttachments, DoesNotWriteAgainWhatTheFolderHoldsByteForByte) {
    enum class Entry { File, LinkToSameBytes, Fifo };
    struct Present {
        QString name;
        QByteArray bytes;
        Entry kind = Entry::File;
    };
    struct Case {
        const char* name;
        std::vector<Present> before;
        QString savedAs;
        int filesAfter;  // entries in the folder
    };
    const QByteArray content = "添付の本文\r\n";
    const Case cases[] = {
        {"same bytes under the name", {{QStringLiteral("資料.txt"), content}}, QStringLiteral("資料.txt"), 1},
        {"same bytes under a numbered name",
         {{QStringLiteral("資料.txt"), "other"}, {QStringLiteral("資料 (2).txt"), content}},
         QStringLiteral("資料 (2).txt"),
         2},
        {"other bytes", {{QStringLiteral("資料.txt"), "other"}}, QStringLiteral("資料 (2).txt"), 2},
        {"same start, longer", {{QStringLiteral("資料.txt"), content + "more"}}, QStringLiteral("資料 (2).txt"), 2},
        {"same start, shorter", {{QStringLiteral("資料.txt"), content.left(4)}}, QStringLiteral("資料 (2).txt"), 2},
        {"a link to a file with the same bytes",
         {{QStringLiteral("資料.txt"), content, Entry::LinkToSameBytes}},
         QStringLiteral("資料 (2).txt"),
         2},
        {"a FIFO under the name", {{QStringLiteral("資料.txt"), {}, Entry::Fifo}}, QStringLiteral("資料 (2).txt"), 2},
    };
    for (const Case& c : cases) {
        const test::TempFolder temp;
        ASSERT_TRUE(QDir(temp.path()).mkdir(QStringLiteral("inbox")));
        const QString folder = temp.path(QStringLiteral("inbox"));
        for (const Present& present : c.before) {
            const QString path = folder + u'/' + present.name;
            if (present.kind == Entry::File) temp.write(QStringLiteral("inbox/") + present.name, present.bytes);
            if (present.kind == Entry::LinkToSameBytes) {
                temp.write(QStringLiteral("outside.txt"), present.bytes);
                ASSERT_TRUE(QFile::link(temp.path(QStringLiteral("outside.txt")), path));
            }
            if (present.kind == Entry::Fifo) {
                ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            }
        }
        QStringList saved;
        EXPECT_EQ(SaveAttachments(folder, messageWith({{QStringLiteral("資料.txt"), content}}), &saved), kAttachmentsSaved)
            << c.name;
        EXPECT_EQ(saved, QStringList{folder + u'/' + c.savedAs}) << c.name;
        EXPECT_EQ(temp.read(QStringLiteral("inbox/") + c.savedAs), content) << c.name;
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).size(),
                  c.filesAfter)
            << c.name;
    }
}


// ---------------------------------------------------------------------------
// Attachments as damaged mail brings them, decoded and saved: the file on
// disk holds the sender's bytes, never the base64 text.

QByteArray payload(int size) {
    QByteArray bytes;
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    return bytes;
}

// bytes in base64, in lines of 76 characters ended by eol.
QByteArray encodedLines(const QByteArray& bytes, const QByteArray& eol = "\r\n") {
    const QByteArray encoded = bytes.toBase64();
    QByteArray lines;
    for (qsizetype at = 0; at < encoded.size(); at += 76) lines += encoded.mid(at, 76) + eol;
    return lines;
}

// A message with a text and the file "data.bin", whose part holds encoded;
// without closed, the multipart's end never comes.
QByteArray messageWithFile(const QByteArray& encoded, bool closed = true) {
    return "From: a@example.jp\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
           "--B\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n\xe6\x9c\xac\xe6\x96\x87\r\n"
           "--B\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           encoded + (closed ? "--B--\r\n" : "");
}

QByteArray withInserted(QByteArray text, qsizetype at, const QByteArray& stray) { return text.insert(at, stray); }

const QByteArray kFooter =
    "_______________________________________________\r\nML mailing list\r\nml@example.com\r\nhttps://example.com/ml\r\n";
// Its last line reads as base64, one stray "@" aside.
const QByteArray kShortFooter = "_______________________________________________\r\nml@localhost\r\n";
const QByteArray kJapaneseNote = "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe3\x83\xa1\xe3\x83\xa2\xe3\x81\xa7\xe3\x81\x99"
                                 "\xe3\x80\x82\r\n\xe6\x98\x8e\xe6\x97\xa5 10 \xe6\x99\x82\xe3\x81\x8b\xe3\x82\x89\r\n";

struct DamagedCase {
    const char* name;
    QByteArray message;
    QByteArray saved;  // the bytes of data.bin
};

class DamagedBase64Test : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedBase64Test, TheFileHoldsTheSendersBytes) {
    const test::TempFolder temp;
    const DecodedMessage message = DecodeMessage(GetParam().message);
    EXPECT_EQ(message.text, QStringLiteral("本文"));
    ASSERT_EQ(message.attachments.size(), 1u);
    ASSERT_EQ(SaveAttachments(temp.path(), message), kAttachmentsSaved);
    EXPECT_EQ(temp.read(QStringLiteral("data.bin")), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedBase64Test,
    ::testing::Values(
        DamagedCase{"intact", messageWithFile(encodedLines(payload(200))), payload(200)},
        DamagedCase{"stray_bang_in_a_line", messageWithFile(withInserted(encodedLines(payload(200)), 90, "!")),
                    payload(200)},
        DamagedCase{"stray_star_opening_the_first_line", messageWithFile("*" + encodedLines(payload(200))),
                    payload(200)},
        DamagedCase{"stray_in_a_one_line_file", messageWithFile(withInserted(encodedLines(payload(10)), 5, "!")),
                    payload(10)},
        DamagedCase{"stray_cr_inside_a_line", messageWithFile(withInserted(encodedLines(payload(200)), 30, "\r")),
                    payload(200)},
        DamagedCase{"junk_after_the_padded_last_line",
                    messageWithFile(encodedLines(payload(200)) + "this line is no part of it\r\n+++\r\n"), payload(200)},
        // 114 bytes make two whole lines and no padding: the footer alone
        // says where the data ends.
        DamagedCase{"footer_after_an_unterminated_multipart",
                    messageWithFile(encodedLines(payload(114)) + kFooter, false), payload(114)},
        DamagedCase{"footer_ending_in_an_address", messageWithFile(encodedLines(payload(114)) + kShortFooter, false),
                    payload(114)},
        DamagedCase{"unterminated_multipart", messageWithFile(encodedLines(payload(200)), false), payload(200)},
        DamagedCase{"cut_in_the_last_line", messageWithFile(encodedLines(payload(200)).chopped(6), false),
                    payload(200).left(198)},
        DamagedCase{"cr_only_lines", messageWithFile(encodedLines(payload(200), "\r"), false), payload(200)},
        DamagedCase{"lf_only_lines", messageWithFile(encodedLines(payload(200), "\n")), payload(200)},
        DamagedCase{"padding_left_out", messageWithFile(encodedLines(payload(200)).replace("=", "")), payload(200)},
        // Plain text that its mailer labelled base64 is saved as it came
        // (the line end before the boundary belongs to the boundary).
        DamagedCase{"japanese_text_labelled_base64", messageWithFile(kJapaneseNote), kJapaneseNote.chopped(2)},
        DamagedCase{"words_labelled_base64", messageWithFile("Meeting at ten, room 3.\r\nBring the slides.\r\n"),
                    "Meeting at ten, room 3.\r\nBring the slides."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet::mail
