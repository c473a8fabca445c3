// Taking mail out of a history: the Maildir's sources byte for byte, messages
// made from records that have none, mboxrd quoting, .eml names, the target's
// safety, and a history exported and imported again.
#include "mail/mail_export.h"

#include "core/clock_text.h"
#include "core/program_paths.h"
#include "mail/decoded_message.h"
#include "mail/mail_import.h"
#include "mail/message_builder.h"
#include "mail/send_mail.h"
#include "store/history_file.h"
#include "store/mail_files.h"
#include "store/maildir.h"
#include "tests/support/temp_folder.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

using test::TempFolder;

// A program folder with its data folder, as the program makes it.
struct ProgramFolder {
    TempFolder folder;
    ProgramPaths paths{folder.path()};
    ProgramFolder() {
        QDir().mkpath(paths.path(QStringLiteral("\\★MailData")));
        QDir().mkpath(paths.path(QStringLiteral("\\添付フォルダ")));
    }
    QString history(History kind) const { return HistoryPath(paths, kind); }
    QString maildir(History kind) const {
        return kind == History::Received ? ReceivedMaildirPath(paths) : SentMaildirPath(paths);
    }
    // What the mail check does with a message: its source into the
    // Maildir, its record into the history.
    void receive(const QByteArray& wire) const {
        ASSERT_TRUE(DeliverToMaildir(maildir(History::Received), MaildirLocalForm(wire)));
        ASSERT_TRUE(AppendRecord(history(History::Received), ReceivedRecordOf(wire), History::Received));
    }
    void appendRecord(const HistoryRecord& record, History kind) const {
        ASSERT_TRUE(AppendRecord(history(kind), record, kind));
    }
    std::vector<int> allRecords(History kind) const {
        std::vector<int> numbers;
        for (size_t i = 0; i < ReadListing(history(kind)).size(); ++i) numbers.push_back(static_cast<int>(i) + 1);
        return numbers;
    }
};

QByteArray receivedWire(const QByteArray& subjectField, const QByteArray& body, const QByteArray& messageId) {
    return "From: =?UTF-8?B?" + QStringLiteral("山田 太郎").toUtf8().toBase64() + "?= <taro@example.jp>\r\n"
           "To: hanako@example.jp\r\n"
           "Subject: " + subjectField + "\r\n"
           "Date: Mon, 07 Dec 2026 09:05:03 +0900\r\n"
           "Message-ID: <" + messageId + "@example.jp>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n"
           "\r\n" + body;
}

// The To field's text from a decoded header block.
QString toFieldForTest(const QString& headerText) {
    for (const QString& line : headerText.split(QStringLiteral("\r\n")))
        if (line.startsWith(QStringLiteral("To: "))) return line.sliced(4);
    return {};
}

QByteArray utf8Subject(const QString& text) { return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?="; }

std::vector<QByteArray> readMbox(const QString& path) {
    std::vector<QByteArray> sources;
    auto reader = MboxReader::Open(path);
    EXPECT_TRUE(reader) << reader.error().toStdString();
    if (!reader) return sources;
    for (;;) {
        auto next = reader.value().next();
        EXPECT_TRUE(next);
        if (!next || !next.value()) break;
        sources.push_back(next.value()->source);
    }
    return sources;
}

MailExportRequest requestFor(const ProgramFolder& program, History kind, ExportForm form, const QString& target) {
    MailExportRequest request;
    request.history = kind;
    request.historyFile = program.history(kind);
    request.maildir = program.maildir(kind);
    request.records = program.allRecords(kind);
    request.form = form;
    request.target = target;
    request.ownAddress = QStringLiteral("hanako@example.jp");
    return request;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

// The Maildir's one file.
QByteArray onlyMaildirFile(const QString& maildir) {
    const auto entries = ListMaildir(maildir);
    EXPECT_TRUE(entries);
    EXPECT_EQ(entries.value().size(), 1);
    return entries.value().isEmpty() ? QByteArray() : fileBytes(entries.value().front().path);
}

// --- mboxrd quoting -----------------------------------------------------------

struct QuotingCase {
    const char* name;
    QByteArray message;
    QByteArray quotedBody;  // what the mbox holds after the "From " line
};

class MboxrdQuoting : public testing::TestWithParam<QuotingCase> {};

TEST_P(MboxrdQuoting, QuotesEveryFromLineAndReadsBackAsWritten) {
    const QuotingCase& c = GetParam();
    const QByteArray entry = MboxrdEntry(c.message, QStringLiteral("taro@example.jp"),
                                         QDateTime(QDate(2026, 12, 7), QTime(0, 5, 3), Qt::UTC));
    EXPECT_EQ(entry.first(entry.indexOf('\n') + 1), "From taro@example.jp Mon Dec  7 00:05:03 2026\n");
    EXPECT_EQ(entry.sliced(entry.indexOf('\n') + 1), c.quotedBody);

    // Two of them in one file, read by the program's own mbox reader.
    TempFolder folder;
    folder.write(QStringLiteral("out.mbox"), entry + entry);
    const std::vector<QByteArray> read = readMbox(folder.path(QStringLiteral("out.mbox")));
    ASSERT_EQ(read.size(), 2u);
    const QByteArray expected = c.message.endsWith('\n') ? c.message : c.message + '\n';
    EXPECT_EQ(read[0], expected);
    EXPECT_EQ(read[1], expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MboxrdQuoting,
    testing::Values(
        QuotingCase{"FromLine", "Subject: a\n\nhello\nFrom here on\nbye\n",
                    "Subject: a\n\nhello\n>From here on\nbye\n\n"},
        QuotingCase{"QuotedFromLines", "Subject: a\n\n>From x\n>>From y\n",
                    "Subject: a\n\n>>From x\n>>>From y\n\n"},
        QuotingCase{"NotSeparators", "Subject: a\n\nFromage\n From x\n>Fro\nfrom x\n",
                    "Subject: a\n\nFromage\n From x\n>Fro\nfrom x\n\n"},
        QuotingCase{"FromAfterEmptyLine", "Subject: a\n\nfirst\n\nFrom me\n", "Subject: a\n\nfirst\n\n>From me\n\n"},
        QuotingCase{"NoFinalLineEnd", "Subject: a\n\nFrom x", "Subject: a\n\n>From x\n\n"}),
    [](const testing::TestParamInfo<QuotingCase>& info) { return std::string(info.param.name); });

TEST(MboxrdEnvelope, AddressUnfitForTheLineIsMailerDaemon) {
    const QDateTime date(QDate(2026, 1, 15), QTime(12, 0, 0), Qt::UTC);
    for (const QString& address : {QString(), QStringLiteral("two words"), QStringLiteral("山田@example.jp")}) {
        const QByteArray entry = MboxrdEntry("x\n", address, date);
        EXPECT_TRUE(entry.startsWith("From MAILER-DAEMON Thu Jan 15 12:00:00 2026\n")) << entry.constData();
    }
}

// --- .eml names ----------------------------------------------------------------

struct NameCase {
    const char* name;
    QString subject;
    QString expected;
};

class EmlNames : public testing::TestWithParam<NameCase> {};

TEST_P(EmlNames, SafeNameInTheFolder) {
    const QString name = EmlFileName(7, GetParam().subject);
    EXPECT_EQ(name, GetParam().expected);
    EXPECT_FALSE(name.contains(u'/'));
    EXPECT_FALSE(name.startsWith(u'.'));
    EXPECT_LE(name.toUtf8().size(), 255);
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, EmlNames,
    testing::Values(NameCase{"Japanese", QStringLiteral("お知らせ（①の選択）"), QStringLiteral("00007-お知らせ（①の選択）.eml")},
                    NameCase{"ParentFolder", QStringLiteral("../../etc/passwd"), QStringLiteral("00007-_.._etc_passwd.eml")},
                    NameCase{"LeadingDots", QStringLiteral("...hidden"), QStringLiteral("00007-hidden.eml")},
                    NameCase{"Separators", QStringLiteral("a/b\\c:d*e?f\"g<h>i|j"), QStringLiteral("00007-a_b_c_d_e_f_g_h_i_j.eml")},
                    NameCase{"ControlCharacters", QStringLiteral("a\tb\r\nc\x7f"), QStringLiteral("00007-a_b__c_.eml")},
                    NameCase{"Empty", QString(), QStringLiteral("00007-件名なし.eml")},
                    NameCase{"OnlyDots", QStringLiteral(".."), QStringLiteral("00007-件名なし.eml")},
                    NameCase{"VeryLong", QString(300, u'長'), QStringLiteral("00007-") + QString(40, u'長') + QStringLiteral(".eml")},
                    NameCase{"LongWide", QString::fromUcs4(U"😀").repeated(100),
                             QStringLiteral("00007-") + QString::fromUcs4(U"😀").repeated(40) + QStringLiteral(".eml")}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST(EmlFolder, HostileAndRepeatedSubjectsStayInsideAndApart) {
    ProgramFolder program;
    const QList<QString> subjects{QStringLiteral("../escape"), QStringLiteral("/etc/passwd"), QStringLiteral("同じ件名"),
                                  QStringLiteral("同じ件名"), QString(500, u'x')};
    for (const QString& subject : subjects)
        program.appendRecord(HistoryRecord{subject, QStringLiteral("a@example.jp"), QString(), QStringLiteral("本文")},
                             History::Received);
    const QString target = program.folder.path(QStringLiteral("out"));
    MailExportRequest request = requestFor(program, History::Received, ExportForm::EmlFolder, target);
    // The same record twice: the name is taken, the second gets a number.
    request.records.push_back(3);
    const MailExportResult result = ExportMail(request);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.written, 6);
    const QStringList written = QDir(target).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(written.size(), 6);
    EXPECT_EQ(QSet<QString>(result.files.begin(), result.files.end()).size(), 6);
    for (const QString& file : result.files) EXPECT_EQ(QFileInfo(file).absolutePath(), QFileInfo(target).absoluteFilePath());
    EXPECT_FALSE(QFileInfo::exists(program.folder.path(QStringLiteral("escape"))));
    // Nothing in the program folder but the data folders and the export.
    EXPECT_EQ(QDir(program.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 3);
}

TEST(EmlFolder, ExistingFolderKeepsItsFiles) {
    ProgramFolder program;
    program.appendRecord(HistoryRecord{QStringLiteral("件名"), QStringLiteral("a@example.jp"), QString(), QStringLiteral("本文")},
                         History::Received);
    const QString target = program.folder.path(QStringLiteral("out"));
    QDir().mkpath(target);
    program.folder.write(QStringLiteral("out/00001-件名.eml"), "mine");
    const MailExportResult result = ExportMail(requestFor(program, History::Received, ExportForm::EmlFolder, target));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(program.folder.read(QStringLiteral("out/00001-件名.eml")), "mine");
    ASSERT_EQ(result.files.size(), 1);
    EXPECT_EQ(QFileInfo(result.files[0]).fileName(), QStringLiteral("00001-件名-2.eml"));
}

// --- the Maildir's sources ----------------------------------------------------------

TEST(Sources, ReceivedSourceGoesOutByteForByte) {
    ProgramFolder program;
    // With a long line and a body far over the record's 12,000 bytes: the
    // record holds its start, the source all of it.
    const QByteArray body = QByteArray("本文の始まり\r\nFrom the start\r\n") + QByteArray(30000, 'x') + "\r\nおわり\r\n";
    program.receive(receivedWire(utf8Subject(QStringLiteral("長いメール")), body, "long"));
    program.appendRecord(HistoryRecord{QStringLiteral("元のないメール"), QStringLiteral("b@example.jp"),
                                       QStringLiteral("2026/12/08  10:00:00"), QStringLiteral("記録だけ")},
                         History::Received);
    const QByteArray stored = onlyMaildirFile(program.maildir(History::Received));
    ASSERT_TRUE(stored.contains("おわり"));

    const QString mbox = program.folder.path(QStringLiteral("out.mbox"));
    const MailExportResult result = ExportMail(requestFor(program, History::Received, ExportForm::Mboxrd, mbox));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.fromSource, 1);
    EXPECT_EQ(result.made, 1);
    const std::vector<QByteArray> read = readMbox(mbox);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0], stored);
    EXPECT_EQ(DecodeMessage(read[1]).subject, QStringLiteral("元のないメール"));

    const QString folder = program.folder.path(QStringLiteral("eml"));
    const MailExportResult eml = ExportMail(requestFor(program, History::Received, ExportForm::EmlFolder, folder));
    ASSERT_TRUE(eml.ok()) << eml.error.toStdString();
    ASSERT_EQ(eml.files.size(), 2);
    EXPECT_EQ(fileBytes(eml.files[0]), WithCrLf(stored));
    EXPECT_FALSE(fileBytes(eml.files[1]).contains("\n\n"));  // CR LF throughout
}

// Two messages that make the same record, the record kept twice: which
// file is whose cannot be told, so neither record takes a source.
TEST(Sources, RecordsThatCouldBeEitherSourceAreMadeFromTheirFields) {
    ProgramFolder program;
    program.receive(receivedWire(utf8Subject(QStringLiteral("同じ")), "同じ本文\r\n", "one"));
    program.receive(receivedWire(utf8Subject(QStringLiteral("同じ")), "同じ本文\r\n", "two"));
    program.receive(receivedWire(utf8Subject(QStringLiteral("ひとつ")), "別の本文\r\n", "three"));
    QString error;
    const auto index = FindSources(History::Received, program.history(History::Received),
                                   program.maildir(History::Received), {}, &error);
    ASSERT_TRUE(index) << error.toStdString();
    ASSERT_EQ(index->files.size(), 1u);
    ASSERT_TRUE(index->files.count(3));
    EXPECT_TRUE(fileBytes(index->files.at(3).path).contains("<three@"));
}

// The source of a message whose record the user deleted is no one's.
TEST(Sources, SourceOfADeletedRecordIsNotTaken) {
    ProgramFolder program;
    program.receive(receivedWire(utf8Subject(QStringLiteral("消した")), "本文\r\n", "gone"));
    program.appendRecord(HistoryRecord{QStringLiteral("消した"), QStringLiteral("taro@example.jp"),
                                       QStringLiteral("2026/12/07  9:05:03"), QStringLiteral("違う本文")},
                         History::Received);
    ASSERT_TRUE(MarkDeleted(program.history(History::Received), 1,
                            ReadRecord(program.history(History::Received), 1).value()));
    ASSERT_TRUE(Compact(program.history(History::Received), RewriteCopyPath(program.paths, History::Received)));
    QString error;
    const auto index = FindSources(History::Received, program.history(History::Received),
                                   program.maildir(History::Received), {}, &error);
    ASSERT_TRUE(index) << error.toStdString();
    EXPECT_TRUE(index->files.empty());
}

// Sent mail: the record holds the body as typed, the message has the
// fortune and the tag after it, and the record's date is the clock's.
struct SentCase {
    const char* name;
    QString recordTo;
    QString messageTo;
    int fortune;
    int mood;
    int secondsAfter;  // the message's Date after the record's clock
    bool found;
};

class SentSources : public testing::TestWithParam<SentCase> {};

TEST_P(SentSources, PairedOnlyWhenEverythingAgrees) {
    const SentCase& c = GetParam();
    ProgramFolder program;
    const QDateTime clock(QDate(2026, 12, 7), QTime(9, 5, 3));
    const QString typed = QStringLiteral("こんにちは。\r\n明日の件です。");
    program.appendRecord(HistoryRecord{QStringLiteral("明日の件"), ClockText(clock), c.recordTo, typed}, History::Sent);
    OutgoingMessage message{QStringLiteral("hanako@example.jp"), c.messageTo, QStringLiteral("明日の件"),
                            OutgoingBody(typed, c.fortune, c.mood), {}, clock.addSecs(c.secondsAfter)};
    const auto built = BuildMessage(message);
    ASSERT_TRUE(built) << built.error().toStdString();
    ASSERT_TRUE(DeliverToMaildir(program.maildir(History::Sent), MaildirLocalForm(built.value())));

    QString error;
    const auto index = FindSources(History::Sent, program.history(History::Sent), program.maildir(History::Sent), {}, &error);
    ASSERT_TRUE(index) << error.toStdString();
    EXPECT_EQ(index->files.count(1) == 1, c.found);
}

INSTANTIATE_TEST_SUITE_P(
    Sends, SentSources,
    testing::Values(SentCase{"Plain", QStringLiteral("taro@example.jp"), QStringLiteral("taro@example.jp"), 0, 0, 0, true},
                    SentCase{"FortuneAndTag", QStringLiteral("taro@example.jp"), QStringLiteral("taro@example.jp"), 5, 2, 1, true},
                    SentCase{"TagOnly", QStringLiteral("太郎 <taro@example.jp>"), QStringLiteral("taro@example.jp"), 0, 1, 0, true},
                    SentCase{"OtherRecipient", QStringLiteral("taro@example.jp"), QStringLiteral("jiro@example.jp"), 0, 0, 0, false},
                    SentCase{"BulkSendAnyRecipient", QString(), QStringLiteral("jiro@example.jp"), 0, 0, 0, true},
                    SentCase{"MadeBeforeTheRecord", QStringLiteral("taro@example.jp"), QStringLiteral("taro@example.jp"), 0, 0, -60, false}),
    [](const testing::TestParamInfo<SentCase>& info) { return std::string(info.param.name); });

TEST(SentSourcesBody, AMessageWithMoreTextIsNotTheRecords) {
    ProgramFolder program;
    const QDateTime clock(QDate(2026, 12, 7), QTime(9, 5, 3));
    program.appendRecord(HistoryRecord{QStringLiteral("件"), ClockText(clock), QStringLiteral("taro@example.jp"),
                                       QStringLiteral("はい")},
                         History::Sent);
    const auto built = BuildMessage(OutgoingMessage{QStringLiteral("hanako@example.jp"), QStringLiteral("taro@example.jp"),
                                                    QStringLiteral("件"), QStringLiteral("はい、わかりました"), {}, clock});
    ASSERT_TRUE(built);
    ASSERT_TRUE(DeliverToMaildir(program.maildir(History::Sent), MaildirLocalForm(built.value())));
    QString error;
    const auto index = FindSources(History::Sent, program.history(History::Sent), program.maildir(History::Sent), {}, &error);
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->files.empty());
}

// --- messages made from records ----------------------------------------------------

struct MadeCase {
    const char* name;
    History history;
    HistoryRecord record;
    QString expectedFrom;
    QString expectedTo;
    bool hasDate;
};

class MadeMessages : public testing::TestWithParam<MadeCase> {};

TEST_P(MadeMessages, GMimeReadsBackTheRecord) {
    const MadeCase& c = GetParam();
    const QByteArray made = MessageFromRecord(c.record, c.history, QStringLiteral("hanako@example.jp"));
    for (const QByteArray& line : made.split('\n')) EXPECT_LE(line.size(), 78) << line.constData();
    for (const char byte : made) EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << "7-bit on the wire";

    // GMime itself.
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(made.constData(), static_cast<size_t>(made.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(QString::fromUtf8(g_mime_message_get_subject(message)), c.record.Subject);
    GMimeObject* body = g_mime_message_get_body(message);
    ASSERT_TRUE(GMIME_IS_TEXT_PART(body));
    char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(body));
    EXPECT_EQ(QString::fromUtf8(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
              QString(c.record.Body).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    EXPECT_STREQ(g_mime_object_get_content_type_parameter(body, "charset"), "UTF-8");
    g_free(text);
    EXPECT_EQ(g_mime_message_get_date(message) != nullptr, c.hasDate);
    g_object_unref(message);
    g_object_unref(parser);
    g_object_unref(stream);

    // And the program's own decoding, as an import reads it.
    const DecodedMessage decoded = DecodeMessage(WithCrLf(made));
    EXPECT_EQ(decoded.subject, c.record.Subject);
    EXPECT_EQ(decoded.from, c.expectedFrom);
    EXPECT_EQ(toFieldForTest(decoded.headerText), c.expectedTo);
    EXPECT_EQ(decoded.text, c.record.Body);
    const QString dateText = c.history == History::Received ? c.record.Column3 : c.record.Column2;
    if (c.hasDate) {
        EXPECT_EQ(decoded.date, dateText);
    } else if (!dateText.isEmpty()) {
        EXPECT_TRUE(decoded.headerText.contains(QStringLiteral("Comments: 日付: ") + dateText)) << decoded.headerText.toStdString();
    }
}

const QString kLongLine = QStringLiteral("長い行").repeated(60);

INSTANTIATE_TEST_SUITE_P(
    Records, MadeMessages,
    testing::Values(
        MadeCase{"Received", History::Received,
                 HistoryRecord{QStringLiteral("お知らせ（②の選択）"), QStringLiteral("山田 太郎 <taro@example.jp>"),
                               QStringLiteral("2026/12/07  9:05:03"),
                               QStringLiteral("こんにちは。\r\nFrom the desk of 山田\r\n>From quoted\r\n行末の空白   \r\n") + kLongLine +
                                   QStringLiteral("\r\nLumopet（②の選択）")},
                 QStringLiteral("山田 太郎 <taro@example.jp>"), QStringLiteral("hanako@example.jp"), true},
        MadeCase{"ReceivedUnparsableDate", History::Received,
                 HistoryRecord{QStringLiteral("日付なし"), QStringLiteral("taro@example.jp"), QStringLiteral("きのうの夜"),
                               QStringLiteral("本文=等号\tタブ")},
                 QStringLiteral("taro@example.jp"), QStringLiteral("hanako@example.jp"), false},
        MadeCase{"ReceivedQuotedName", History::Received,
                 HistoryRecord{QStringLiteral("ASCII"), QStringLiteral("Yamada, Taro <taro@example.jp>"), QString(),
                               QStringLiteral("plain")},
                 QStringLiteral("\"Yamada, Taro\" <taro@example.jp>"), QStringLiteral("hanako@example.jp"), false},
        MadeCase{"Sent", History::Sent,
                 HistoryRecord{QStringLiteral("明日の件"), QStringLiteral("2026/01/02  23:59:59"),
                               QStringLiteral("佐藤 <sato@example.jp>"), QStringLiteral("送った本文\r\n\r\n以上")},
                 QStringLiteral("hanako@example.jp"), QStringLiteral("佐藤 <sato@example.jp>"), true}),
    [](const testing::TestParamInfo<MadeCase>& info) { return std::string(info.param.name); });

// --- the target -----------------------------------------------------------------------

class Target : public testing::Test {
protected:
    void SetUp() override {
        program.appendRecord(HistoryRecord{QStringLiteral("件名"), QStringLiteral("a@example.jp"), QString(),
                                           QStringLiteral("本文")},
                             History::Received);
    }
    // The folder's entries but the data folders: nothing half-written.
    QStringList leftovers() const {
        QStringList names = QDir(program.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        names.removeAll(QStringLiteral("★MailData"));
        names.removeAll(QStringLiteral("添付フォルダ"));
        return names;
    }
    ProgramFolder program;
    QString mbox = program.folder.path(QStringLiteral("out.mbox"));
};

TEST_F(Target, ExistingFileIsReplacedOnlyWhenAsked) {
    program.folder.write(QStringLiteral("out.mbox"), "old");
    MailExportRequest request = requestFor(program, History::Received, ExportForm::Mboxrd, mbox);
    const MailExportResult refused = ExportMail(request);
    EXPECT_TRUE(refused.targetExists);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(program.folder.read(QStringLiteral("out.mbox")), "old");
    request.replaceExisting = true;
    const MailExportResult replaced = ExportMail(request);
    ASSERT_TRUE(replaced.ok()) << replaced.error.toStdString();
    EXPECT_EQ(readMbox(mbox).size(), 1u);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("out.mbox")});
}

TEST_F(Target, FifoIsRefusedAndLeftAlone) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(mbox).constData(), 0600), 0);
    for (const bool replace : {false, true}) {
        MailExportRequest request = requestFor(program, History::Received, ExportForm::Mboxrd, mbox);
        request.replaceExisting = replace;
        const MailExportResult result = ExportMail(request);
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.error.isEmpty() && !result.targetExists);
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(mbox).constData(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode));
    }
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("out.mbox")});
}

TEST_F(Target, LinkIsRefusedAndItsFileKept) {
    program.folder.write(QStringLiteral("elsewhere"), "precious");
    ASSERT_EQ(::symlink(QFile::encodeName(program.folder.path(QStringLiteral("elsewhere"))).constData(),
                        QFile::encodeName(mbox).constData()),
              0);
    for (const ExportForm form : {ExportForm::Mboxrd, ExportForm::EmlFolder}) {
        MailExportRequest request = requestFor(program, History::Received, form, mbox);
        request.replaceExisting = true;
        const MailExportResult result = ExportMail(request);
        EXPECT_FALSE(result.error.isEmpty());
    }
    EXPECT_EQ(program.folder.read(QStringLiteral("elsewhere")), "precious");
    EXPECT_TRUE(QFileInfo(mbox).isSymLink());
}

TEST_F(Target, CancelLeavesNothing) {
    for (int i = 0; i < 4; ++i)
        program.appendRecord(HistoryRecord{QStringLiteral("件名%1").arg(i), QStringLiteral("a@example.jp"), QString(),
                                           QStringLiteral("本文")},
                             History::Received);
    for (const ExportForm form : {ExportForm::Mboxrd, ExportForm::EmlFolder}) {
        const QString target = program.folder.path(form == ExportForm::Mboxrd ? QStringLiteral("out.mbox") : QStringLiteral("eml"));
        const MailExportResult result =
            ExportMail(requestFor(program, History::Received, form, target),
                       [](ExportStage stage, qint64 done, qint64) { return !(stage == ExportStage::Writing && done == 3); });
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(result.written, 0);
        EXPECT_EQ(leftovers(), QStringList());
    }
}

TEST_F(Target, RecordNumberOutsideTheHistoryIsRefused) {
    MailExportRequest request = requestFor(program, History::Received, ExportForm::Mboxrd, mbox);
    request.records = {1, 2};
    const MailExportResult result = ExportMail(request);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(leftovers(), QStringList());
}

// --- the round trip ------------------------------------------------------------------

// A history exported as mboxrd and imported into an empty program folder:
// the same subjects, senders and bodies, in the same order.
TEST(RoundTrip, ExportedHistoryImportsAsItWas) {
    ProgramFolder program;
    program.receive(receivedWire(utf8Subject(QStringLiteral("元のあるメール")),
                                 QStringLiteral("本文です。\r\nFrom 行もあります。\r\n>From も。\r\n").toUtf8(), "a"));
    program.appendRecord(HistoryRecord{QStringLiteral("記録だけのメール（③の選択）"), QStringLiteral("佐藤 花子 <hanako@example.jp>"),
                                       QStringLiteral("2026/11/30  18:00:00"),
                                       QStringLiteral("記録の本文。\r\nFrom here\r\n\r\n>>From there\r\nLumopet（③の選択）")},
                         History::Received);
    program.appendRecord(HistoryRecord{QStringLiteral("ASCII only"), QStringLiteral("bob@example.com"),
                                       QStringLiteral("not a date"), QStringLiteral("short")},
                         History::Received);
    program.receive(receivedWire(utf8Subject(QStringLiteral("二通目")), "二通目の本文\r\n", "b"));

    const QString mbox = program.folder.path(QStringLiteral("out.mbox"));
    const MailExportResult exported = ExportMail(requestFor(program, History::Received, ExportForm::Mboxrd, mbox));
    ASSERT_TRUE(exported.ok()) << exported.error.toStdString();
    EXPECT_EQ(exported.fromSource, 2);
    EXPECT_EQ(exported.made, 2);

    ProgramFolder empty;
    MailImportRequest request;
    request.kind = MailSourceKind::Mbox;
    request.paths = {mbox};
    const MailImportResult imported = ImportMail(empty.paths, request);
    ASSERT_TRUE(imported.error.isEmpty()) << imported.error.toStdString();
    EXPECT_EQ(imported.taken, 4);

    const std::vector<HistoryRecord> before = ReadAll(program.history(History::Received));
    const std::vector<HistoryRecord> after = ReadAll(empty.history(History::Received));
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(after[i].Subject, before[i].Subject);
        EXPECT_EQ(after[i].Column2, before[i].Column2);
        EXPECT_EQ(after[i].Body, before[i].Body);
    }
    // A date the program wrote comes back the same.
    EXPECT_EQ(after[1].Column3, before[1].Column3);

    // Back into the history it came from, as a backup brought back: only
    // the record deleted since comes in again, made or not.
    ASSERT_TRUE(MarkDeleted(program.history(History::Received), 2,
                            ReadRecord(program.history(History::Received), 2).value()));
    ASSERT_TRUE(Compact(program.history(History::Received), RewriteCopyPath(program.paths, History::Received)));
    const MailImportResult restored = ImportMail(program.paths, request);
    EXPECT_EQ(restored.taken, 1) << restored.error.toStdString();
    EXPECT_EQ(restored.skipped, 3);
    const std::vector<HistoryRecord> back = ReadAll(program.history(History::Received));
    ASSERT_EQ(back.size(), before.size());
    EXPECT_EQ(back.back().Subject, before[1].Subject);
}

}  // namespace
}  // namespace lumopet::mail
