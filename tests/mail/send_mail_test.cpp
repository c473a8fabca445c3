// The send over a scripted transport: what goes out, what the sent history
// keeps, bulk mode, the logins, and the requests refused before anything is
// stored or sent.

#include "mail/account_values.h"
#include "mail/send_mail.h"
#include "tests/mail/recording_send_host.h"

#include "core/program.h"
#include "core/settings_files/account_file.h"
#include "mail/decoded_message.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/mood_tags.h"
#include "mail/send_stop.h"
#include "mail/server_refusal.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sys/stat.h>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;
using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

const QString& kClock = test::kSendClock;
const QString kFourBreaks = u"\r\n\r\n\r\n\r\n"_s;

using test::CaseName;
using test::PrintTo;

using test::RecordingHost;

// The header field names of a message, in order.
QStringList HeaderNames(const QByteArray& message) {
    QStringList names;
    for (const QByteArray& line : message.left(message.indexOf("\r\n\r\n")).split('\n'))
        if (!line.startsWith(' ') && !line.startsWith('\t')) names.append(QString::fromLatin1(line.left(line.indexOf(':'))));
    return names;
}

// The text a receiver reads, without the line end the builder gives the
// last line.
QString ReceivedText(const QByteArray& message) {
    QString text = mail::DecodeMessage(message).text;
    if (text.endsWith(u"\r\n"_s)) text.chop(2);
    return text;
}

// Public: the tables below prepare it from outside.
class SendMailTest : public ::testing::Test {
public:
    SendMailTest() {
        program.paths.createFolders();
        program.values.SmtpServer = u"smtp.example.jp"_s;
        program.values.Pop3Server = u"pop.example.jp"_s;
        program.values.MailAddress = u"me@example.jp"_s;
        setAccount(u"taro"_s, u"secret"_s);
    }
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }

public:
    void setAccount(const QString& id, const QString& password) {
        ASSERT_TRUE(WriteAccount(program.paths.path(files::AccountFile), id, password, true).ok());
    }
    // Address book entries, "address" or "-address" for one marked deleted.
    void writeBook(const QStringList& entries) {
        QByteArray bytes;
        for (const QString& entry : entries) {
            QByteArray record = EncodeAddressRecord(u"名前"_s, entry.startsWith(u'-') ? entry.mid(1) : entry);
            if (entry.startsWith(u'-')) record[62] = 0;
            bytes += record;
        }
        QFile file(AddressBookPath(program.paths));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    SendResult send(const SendRequest& request) { return SendMail(program, request, host, PasswordCredentials(program), PasswordCredentials(program)); }
    std::vector<HistoryRecord> history() const { return ReadAll(HistoryPath(program.paths, History::Sent)); }
    QStringList sentTo() const {
        QStringList to;
        for (const auto& delivery : box->deliveries) to.append(delivery.to);
        return to;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    RecordingHost host;
    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
};

SendRequest Request(const QString& to, const QString& subject, const QString& body, int mood = 0, bool fortune = false) {
    SendRequest request;
    request.ToText = to;
    request.SubjectText = subject;
    request.BodyText = body;
    request.Mood = mood;
    request.Fortune = fortune;
    return request;
}

// --- The body that goes out.

struct BodyCase {
    const char* name;
    QString typed;
    int fortune, mood;
    QString expected;
};

class Outgoing : public ::testing::TestWithParam<BodyCase> {};

TEST_P(Outgoing, AddsFortuneThenTag) {
    EXPECT_EQ(OutgoingBody(GetParam().typed, GetParam().fortune, GetParam().mood), GetParam().expected);
}

const QString kFortuneBlock4 = u"\r\n\r\n"_s + kFortuneHeading + u"\r\n\r\n"_s + kFortuneTexts[3];

INSTANTIATE_TEST_SUITE_P(
    Bodies, Outgoing,
    ::testing::Values(BodyCase{"as_typed", u"abc\r\n\r\n  def  "_s, 0, 0, u"abc\r\n\r\n  def  "_s},
                      BodyCase{"mood_1", u"abc"_s, 0, 1, u"abc"_s + kFourBreaks + u"Lumopet（①の選択）"_s},
                      BodyCase{"fortune_only", u"abc"_s, 4, 0, u"abc"_s + kFortuneBlock4},
                      BodyCase{"fortune_before_tag", u"abc"_s, 4, 2, u"abc"_s + kFortuneBlock4 + kFourBreaks + MoodTag(2)}),
    CaseName);

TEST(Fortune, DrawsEveryNumberFromOneToTwelveAndNothingElse) {
    std::set<int> drawn;
    for (int i = 0; i < 3000; ++i) drawn.insert(DrawFortuneNumber());
    EXPECT_EQ(*drawn.begin(), 1);
    EXPECT_EQ(*drawn.rbegin(), 12);
    EXPECT_EQ(drawn.size(), 12u);
}

// --- One message: what goes out and what the sent history keeps.

struct MessageCase {
    const char* name;
    SendRequest request;
    QString envelopeTo;
    QByteArray charset;
};

class OneMessage : public SendMailTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(OneMessage, GoesOutWithFortuneAndTagWhileTheHistoryKeepsItAsTyped) {
    const SendRequest& request = GetParam().request;
    const SendResult result = send(request);
    ASSERT_TRUE(result.allSent()) << (host.shown.empty() ? "" : host.shown[0].text.toStdString());
    ASSERT_EQ(box->deliveries.size(), 1u);
    const auto& sent = box->deliveries[0];
    EXPECT_EQ(sent.to, GetParam().envelopeTo);
    EXPECT_EQ(sent.from, u"me@example.jp"_s);

    int fortune = 0;
    for (int n = 1; n <= 12 && request.Fortune; ++n)
        if (ReceivedText(sent.message).contains(kFortuneTexts[n - 1])) fortune = n;
    EXPECT_EQ(fortune > 0, request.Fortune);
    EXPECT_EQ(ReceivedText(sent.message), OutgoingBody(request.BodyText, fortune, request.Mood));
    EXPECT_EQ(host.bodies, QStringList{OutgoingBody(request.BodyText, fortune, request.Mood)});
    // Field names are case-insensitive (RFC 5322 1.2.2); GMime writes "Message-Id".
    for (const char* field : {"\r\ndate: ", "\r\nmessage-id: <", "\r\nmime-version: 1.0\r\n"})
        EXPECT_TRUE(sent.message.toLower().contains(field)) << field;
    EXPECT_TRUE(sent.message.contains("charset=" + GetParam().charset));

    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Subject, request.SubjectText.trimmed());
    EXPECT_EQ(records[0].Column2, kClock);
    EXPECT_EQ(records[0].Column3, request.ToText.trimmed());
    EXPECT_EQ(records[0].Body, request.BodyText);
    EXPECT_EQ(host.statuses.last(), kSendDoneText);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, OneMessage,
    ::testing::Values(
        MessageCase{"plain", Request(u"you@example.jp"_s, u"会議"_s, u"明日は十時です。\r\nよろしく"_s), u"you@example.jp"_s, "ISO-2022-JP"},
        MessageCase{"tag", Request(u"山田 <taro@example.jp>"_s, u"こんにちは"_s, u"abc"_s, 1), u"taro@example.jp"_s, "UTF-8"},
        MessageCase{"fortune_and_tag", Request(u"you@example.jp"_s, u" 占い "_s, u"本文"_s, 3, true), u"you@example.jp"_s, "UTF-8"},
        // The recipient box is multi-line: a line break after the address
        // is not a second line of the address.
        MessageCase{"recipient_with_break_after_it", Request(u"  you@example.jp\r\n"_s, u"s"_s, u"b"_s), u"you@example.jp"_s,
                    "ISO-2022-JP"}),
    CaseName);

// --- Whether the sent history keeps the message: the compose window's
// messages it keeps, sent or not; a reply it never keeps.

struct KeepCase {
    const char* name;
    bool keep;
    QString sendError;  // non-empty: SMTP refuses the message
    size_t records;
};

class SentHistory : public SendMailTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(SentHistory, KeepsTheMessageOnlyWhenAsked) {
    box->sendError = GetParam().sendError;
    SendRequest request = Request(u"you@example.jp"_s, u"Re:  会議"_s, u"了解です"_s);
    request.KeepInSentHistory = GetParam().keep;
    const SendResult result = send(request);
    const bool fails = !GetParam().sendError.isEmpty();
    EXPECT_EQ(result.Failed, fails ? 1 : 0);
    EXPECT_EQ(box->deliveries.size(), fails ? 0u : 1u);
    if (!fails) {
        EXPECT_EQ(ReceivedText(box->deliveries[0].message), u"了解です"_s);
    }
    ASSERT_EQ(host.shown.size(), fails ? 1u : 0u) << "nothing but the failure is shown";
    if (fails) {
        EXPECT_EQ(host.shown[0].title, kSendErrorTitle);
    }
    EXPECT_EQ(history().size(), GetParam().records);
}

const QString kRefused = u"550 5.1.1 <you@example.jp>: Recipient address rejected"_s;

INSTANTIATE_TEST_SUITE_P(Keeping, SentHistory,
                         ::testing::Values(KeepCase{"kept", true, QString(), 1},
                                           KeepCase{"kept_though_it_failed", true, kRefused, 1},
                                           KeepCase{"reply_not_kept", false, QString(), 0},
                                           KeepCase{"failed_reply_not_kept", false, kRefused, 0}),
                         CaseName);

// --- The sent Maildir: every message the server took, whole, as it went
// out; a copy that cannot be kept never stops a send.

struct SentMaildirCase {
    const char* name;
    bool keepInHistory;   // false: a reply
    QString sendError;    // non-empty: SMTP refuses
    bool blocked;         // a file where the Maildir should be
    size_t kept;          // files in the Maildir afterwards
    size_t warnings;      // messages shown
};

class SentMaildir : public SendMailTest, public ::testing::WithParamInterface<SentMaildirCase> {};

TEST_P(SentMaildir, KeepsWhatTheServerTook) {
    const SentMaildirCase& c = GetParam();
    folder.write(u"添付.txt"_s, "attached bytes");
    writeBook({u"a@example.jp"_s, u"b@example.jp"_s});
    if (c.blocked) folder.write(u"★MailData/Maildir.sent"_s, "not a folder");
    box->sendError = c.sendError;
    SendRequest request = Request(QString(), u"件名"_s, u"本文"_s, 3, true);
    request.Bulk = true;
    request.Attachments = {folder.path(u"添付.txt"_s)};
    request.KeepInSentHistory = c.keepInHistory;
    const SendResult result = send(request);

    EXPECT_EQ(result.Failed, c.sendError.isEmpty() ? 0 : 2);
    EXPECT_EQ(box->deliveries.size(), c.sendError.isEmpty() ? 2u : 0u);
    EXPECT_EQ(host.shown.size(), c.warnings);
    const QDir fresh(SentMaildirPath(program.paths) + u"/new"_s);
    const QStringList names = fresh.entryList(QDir::Files);
    ASSERT_EQ(static_cast<size_t>(names.size()), c.kept);
    QList<QByteArray> kept;
    for (const QString& name : names) {
        QFile file(fresh.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        kept << file.readAll();
    }
    for (const auto& delivery : box->deliveries) {
        EXPECT_EQ(kept.count(MaildirLocalForm(delivery.message)), c.blocked ? 0 : 1) << "to " << delivery.to.toStdString();
        const mail::DecodedMessage decoded = mail::DecodeMessage(MaildirLocalForm(delivery.message));
        EXPECT_TRUE(decoded.text.contains(MoodTag(3)));
        EXPECT_TRUE(decoded.text.contains(kFortuneHeading));
        ASSERT_EQ(decoded.attachments.size(), 1u);
        EXPECT_EQ(decoded.attachments[0].fileName, u"添付.txt"_s);
        EXPECT_EQ(decoded.attachments[0].content, "attached bytes");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keeping, SentMaildir,
    ::testing::Values(SentMaildirCase{"each_message_with_fortune_tag_and_attachment", true, QString(), false, 2, 0},
                      SentMaildirCase{"a_reply_too", false, QString(), false, 2, 0},
                      SentMaildirCase{"nothing_the_server_refused", true, kRefused, false, 0, 2},
                      SentMaildirCase{"cannot_keep_it_warns_once_and_sends", true, QString(), true, 0, 1}),
    CaseName);

// --- Bulk mode.

TEST_F(SendMailTest, BulkSendsOneMessageToEachLiveEntryWithTheTagOnce) {
    writeBook({u"a@example.jp"_s, u"-gone@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s});
    SendRequest request = Request(u"メモ"_s, u"お知らせ"_s, u"皆さんへ"_s, 2);
    request.Bulk = true;
    const SendResult result = send(request);
    EXPECT_TRUE(result.allSent());
    EXPECT_EQ(result.Count, 3);
    EXPECT_EQ(sentTo(), QStringList({u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s}));
    for (const auto& delivery : box->deliveries)
        EXPECT_EQ(ReceivedText(delivery.message), u"皆さんへ"_s + kFourBreaks + MoodTag(2));
    EXPECT_EQ(host.progress, QStringList({u"1/3"_s, u"2/3"_s, u"3/3"_s}));
    const auto records = history();
    ASSERT_EQ(records.size(), 3u);
    for (const HistoryRecord& record : records) {
        EXPECT_EQ(record.Column3, u"メモ"_s) << "the recipient box, not the entry";
        EXPECT_EQ(record.Body, u"皆さんへ"_s);
    }
}

TEST_F(SendMailTest, AFailedMessageIsShownAndTheNextGoesOn) {
    writeBook({u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s});
    box->refusedRecipients[u"b@example.jp"_s] = u"550 5.1.1 <b@example.jp>: Recipient address rejected"_s;
    SendRequest request = Request(QString(), u"s"_s, u"b"_s);
    request.Bulk = true;
    const SendResult result = send(request);
    EXPECT_EQ(result.Count, 3);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(sentTo(), QStringList({u"a@example.jp"_s, u"c@example.jp"_s}));
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0].title, kSendErrorTitle);
    EXPECT_EQ(host.shown[0].text, box->refusedRecipients[u"b@example.jp"_s]);
    EXPECT_EQ(history().size(), 3u) << "the failed message keeps its record";
}

// --- A second try after a bulk send that left messages unsent goes only to
// those: who got the message does not get it twice.

struct RetryCase {
    const char* name;
    QStringList book;             // "-address": marked deleted
    QStringList refusedFirst;     // refused by the server in the first send
    QStringList bookForRetry;     // the book when the second send starts; empty: unchanged
    QStringList unsent;           // SendResult::Unsent of the first
    QStringList retried;          // delivered by the second
};

class BulkRetry : public SendMailTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(BulkRetry, SendsOnlyToWhatTheFirstLeftUnsent) {
    const RetryCase& c = GetParam();
    writeBook(c.book);
    for (const QString& address : c.refusedFirst) box->refusedRecipients[address] = u"451 4.3.0 try again later"_s;
    SendRequest request = Request(QString(), u"お知らせ"_s, u"皆さんへ"_s);
    request.Bulk = true;
    const SendResult first = send(request);
    EXPECT_FALSE(first.allSent());
    EXPECT_EQ(first.Failed, c.unsent.size());
    EXPECT_EQ(QStringList(first.Unsent.begin(), first.Unsent.end()), c.unsent);
    EXPECT_EQ(SendSummary(first),
              u"%1通中%2通が送信できませんでした。"_s.arg(first.Count).arg(c.unsent.size()));

    const QStringList deliveredFirst = sentTo();
    box->deliveries.clear();
    box->refusedRecipients.clear();
    if (!c.bookForRetry.isEmpty()) writeBook(c.bookForRetry);
    const size_t recordsBefore = history().size();
    request.BulkRetry = first.Unsent;
    const SendResult second = send(request);
    EXPECT_TRUE(second.allSent());
    EXPECT_EQ(sentTo(), c.retried);
    for (const QString& address : deliveredFirst)
        EXPECT_FALSE(sentTo().contains(address)) << address.toStdString() << " would get it twice";
    EXPECT_EQ(history().size(), recordsBefore + static_cast<size_t>(c.retried.size())) << "one record per message";
    EXPECT_EQ(host.progress.last(), u"%1/%1"_s.arg(c.retried.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Retries, BulkRetry,
    ::testing::Values(
        RetryCase{"the_one_refused", {u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s}, {u"b@example.jp"_s}, {},
                  {u"b@example.jp"_s}, {u"b@example.jp"_s}},
        RetryCase{"two_refused_in_order",
                  {u"a@example.jp"_s, u"-x@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s},
                  {u"c@example.jp"_s, u"a@example.jp"_s}, {}, {u"a@example.jp"_s, u"c@example.jp"_s},
                  {u"a@example.jp"_s, u"c@example.jp"_s}},
        // Entries registered twice got it twice; the refused one gets it again
        // as often as it was refused.
        RetryCase{"an_address_twice_in_the_book", {u"a@example.jp"_s, u"b@example.jp"_s, u"b@example.jp"_s},
                  {u"b@example.jp"_s}, {}, {u"b@example.jp"_s, u"b@example.jp"_s}, {u"b@example.jp"_s, u"b@example.jp"_s}},
        // Taken out of the book since: no mail; a new entry is not the
        // second try's business either.
        RetryCase{"an_entry_deleted_since",
                  {u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s},
                  {u"b@example.jp"_s, u"c@example.jp"_s},
                  {u"a@example.jp"_s, u"-b@example.jp"_s, u"c@example.jp"_s, u"new@example.jp"_s},
                  {u"b@example.jp"_s, u"c@example.jp"_s}, {u"c@example.jp"_s}}),
    CaseName);

// --- 送信中止 during a send: nothing more begins, a message broken off is
// not sent and leaves no record, the history keeps those that went out.

// A server that takes messages until the user clicks 送信中止 while message
// stopAt goes out: that one still goes through, or is broken off.
class StoppingTransport : public ScriptedTransport {
public:
    StoppingTransport(std::shared_ptr<ScriptedMailbox> box, int stopAt, bool brokenOff)
        : ScriptedTransport(box), box_(std::move(box)), stopAt_(stopAt), brokenOff_(brokenOff) {}
    mail::SmtpStatus sendSmtp(const QString& server, const mail::Credentials& login, const QString& from,
                              const QStringList& to, const QByteArray& message) override {
        if (++calls_ == stopAt_) {
            mail::RequestSendStop();
            if (brokenOff_) {
                box_->log.append(u"smtp %1 %2 broken off"_s.arg(server, to.join(u' ')));
                mail::SmtpStatus stopped = Failure{mail::SendStoppedText()};
                stopped.stopped = true;
                return stopped;
            }
        }
        return ScriptedTransport::sendSmtp(server, login, from, to, message);
    }

private:
    std::shared_ptr<ScriptedMailbox> box_;
    int stopAt_;
    bool brokenOff_;
    int calls_ = 0;
};

struct StopCase {
    const char* name;
    bool bulk;          // to a, b, c; else to a alone
    int stopAt;         // the message during which 送信中止 is clicked; 0: before the send
    bool brokenOff;     // that message is broken off, else it goes through
    int earlierRecords; // in the sent history before the send
    QStringList delivered;
    QStringList unsent;
    size_t records;     // in the sent history afterwards
    QString status;     // the last status line; empty: 送信完了です。
};

class StopSending : public SendMailTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopSending, LeavesTheRestUnsentAndTheHistoryRight) {
    const StopCase& c = GetParam();
    SetMailTransport(std::make_unique<StoppingTransport>(box, c.stopAt, c.brokenOff));
    writeBook({u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s});
    for (int i = 0; i < c.earlierRecords; ++i) {
        ASSERT_TRUE(AppendRecord(HistoryPath(program.paths, History::Sent), {u"前の件"_s, kClock, u"old@example.jp"_s, u"前"_s},
                                 History::Sent)
                        .ok());
    }
    // A stop asked for before this send is none of this send's business.
    if (c.stopAt == 0) mail::RequestSendStop();
    SendRequest request = Request(u"a@example.jp"_s, u"お知らせ"_s, u"本文"_s);
    request.Bulk = c.bulk;
    const SendResult result = send(request);

    EXPECT_EQ(sentTo(), c.delivered);
    EXPECT_EQ(QStringList(result.Unsent.begin(), result.Unsent.end()), c.unsent);
    EXPECT_EQ(result.Stopped, !c.unsent.isEmpty());
    EXPECT_EQ(result.allSent(), c.unsent.isEmpty());
    EXPECT_EQ(result.sent(), c.delivered.size());
    EXPECT_TRUE(host.shown.empty()) << "a stop is no 送信エラー: " << host.shown[0].text.toStdString();
    const auto records = history();
    ASSERT_EQ(records.size(), c.records);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].Subject, i < static_cast<size_t>(c.earlierRecords) ? u"前の件"_s : u"お知らせ"_s);
    // Every delivered message is kept in the sent Maildir, nothing else.
    EXPECT_EQ(QDir(SentMaildirPath(program.paths) + u"/new"_s).entryList(QDir::Files).size(), c.delivered.size());
    EXPECT_EQ(host.statuses.last(), c.status.isEmpty() ? kSendDoneText : c.status);
    if (!c.status.isEmpty()) {
        EXPECT_EQ(SendSummary(result), c.status);
    }
    EXPECT_TRUE(QFileInfo(RewriteCopyPath(program.paths, History::Sent)).exists() == false);
}

const QString kStoppedTwoOfThree = u"送信を中止しました。2 通を送信し、1 通は送信していません。"_s;
const QString kStoppedOneOfThree = u"送信を中止しました。1 通を送信し、2 通は送信していません。"_s;
const QStringList kAB{u"a@example.jp"_s, u"b@example.jp"_s};
const QStringList kABC{u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s};

INSTANTIATE_TEST_SUITE_P(
    Stops, StopSending,
    ::testing::Values(
        StopCase{"during_the_second_which_goes_through", true, 2, false, 0, kAB, {u"c@example.jp"_s}, 2, kStoppedTwoOfThree},
        StopCase{"breaking_the_second_off", true, 2, true, 0, {u"a@example.jp"_s}, {u"b@example.jp"_s, u"c@example.jp"_s}, 1,
                 kStoppedOneOfThree},
        StopCase{"during_the_last_which_goes_through", true, 3, false, 0, kABC, {}, 3, QString()},
        StopCase{"breaking_one_message_off_keeps_the_older_records", false, 1, true, 2, {}, {u"a@example.jp"_s}, 2,
                 u"送信を中止しました。0 通を送信し、1 通は送信していません。"_s},
        StopCase{"asked_before_the_send_began", true, 0, false, 0, kABC, {}, 3, QString()}),
    CaseName);

// --- Requests refused before anything is stored or sent.

struct RefusalCase {
    const char* name;
    std::function<void(SendMailTest&, SendRequest&)> prepare;
    QString said;  // part of the message shown
};

class RefusedRequest : public SendMailTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedRequest, StoresAndSendsNothingAndSaysWhy) {
    SendRequest request = Request(u"you@example.jp"_s, u"件名"_s, u"本文"_s, 1);
    GetParam().prepare(*this, request);
    const SendResult result = send(request);
    EXPECT_TRUE(result.Refused);
    EXPECT_TRUE(box->log.filter(u"smtp"_s).isEmpty()) << box->log.join(u", "_s).toStdString();
    EXPECT_TRUE(history().empty());
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_TRUE(host.shown[0].text.contains(GetParam().said)) << host.shown[0].text.toStdString();
    EXPECT_EQ(host.shown[0].title, QString());
    // Past the send's own check, the layer refuses such a recipient too.
    if (!request.Bulk && !mail::CheckRecipient(request.ToText).ok()) {
        EXPECT_EQ(NMailSmtpSendMail({u"smtp.example.jp"_s, request.ToText, u"me@example.jp"_s, u"s"_s, u"b"_s, {}},
                                    mail::Credentials::password(u"taro"_s, u"secret"_s))
                      .code,
                  kNoConnection);
        EXPECT_TRUE(box->log.filter(u"smtp"_s).isEmpty());
    }
}

void Recipient(SendRequest& request, const QString& to) { request.ToText = to; }
// A bulk send to a book of the one entry.
SendRequest& BulkTo(SendMailTest& test, SendRequest& request, const QString& entry) {
    test.writeBook({entry});
    request.Bulk = true;
    return request;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RefusedRequest,
    ::testing::Values(
        RefusalCase{"empty_recipient", [](auto&, auto& r) { Recipient(r, u" \r\n"_s); }, u"宛先"_s},
        RefusalCase{"header_after_crlf", [](auto&, auto& r) { Recipient(r, u"you@example.jp\r\nBcc: evil@example.jp"_s); }, u"改行"_s},
        RefusalCase{"two_lines", [](auto&, auto& r) { Recipient(r, u"you@example.jp\nevil@example.jp"_s); }, u"改行"_s},
        RefusalCase{"bare_cr", [](auto&, auto& r) { Recipient(r, u"you@example.jp\rRCPT TO:<evil@example.jp>"_s); }, u"改行"_s},
        RefusalCase{"bad_cc_named", [](auto&, auto& r) { r.CcText = u"ok@example.jp, 営業部"_s; }, u"CC「営業部」"_s},
        RefusalCase{"bad_bcc_named", [](auto&, auto& r) { r.BccText = u"a@@example.jp"_s; }, u"BCC「a@@example.jp」"_s},
        RefusalCase{"line_break_in_bcc", [](auto&, auto& r) { r.BccText = u"a@example.jp\r\nX: y"_s; }, u"BCC に改行"_s},
        // Every entry of the book would get the same CC and BCC.
        RefusalCase{"bulk_with_cc", [](auto& t, auto& r) { BulkTo(t, r, u"a@example.jp"_s).CcText = u"boss@example.jp"_s; },
                    u"一括送信では CC と BCC は使えません"_s},
        RefusalCase{"bulk_with_bcc", [](auto& t, auto& r) { BulkTo(t, r, u"a@example.jp"_s).BccText = u"boss@example.jp"_s; },
                    u"一括送信では CC と BCC は使えません"_s},
        RefusalCase{"bulk_entry_of_two_addresses", [](auto& t, auto& r) { BulkTo(t, r, u"a@example.jp, b@example.jp"_s); },
                    u"一つではありません"_s},
        RefusalCase{"after_the_bracket", [](auto&, auto& r) { Recipient(r, u"名前 <you@example.jp> evil@example.jp"_s); }, u"複数"_s},
        RefusalCase{"no_at", [](auto&, auto& r) { Recipient(r, u"you.example.jp"_s); }, u"正しくありません"_s},
        RefusalCase{"blank_inside", [](auto&, auto& r) { Recipient(r, u"you @example.jp"_s); }, u"正しくありません"_s},
        RefusalCase{"no_smtp_server", [](auto& t, auto&) { t.program.values.SmtpServer.clear(); }, u"SMTP"_s},
        // A message from nobody ("MAIL FROM:<>") cannot be answered.
        RefusalCase{"no_own_address", [](auto& t, auto&) { t.program.values.MailAddress.clear(); }, kNoOwnAddressText},
        RefusalCase{"blank_own_address", [](auto& t, auto&) { t.program.values.MailAddress = u" \u3000 "_s; },
                    kNoOwnAddressText},
        RefusalCase{"no_own_address_in_bulk",
                    [](auto& t, auto& r) {
                        t.program.values.MailAddress.clear();
                        t.writeBook({u"a@example.jp"_s});
                        r.Bulk = true;
                    },
                    u"サーバーの設定"_s},
        RefusalCase{"retry_whose_entries_left_the_book",
                    [](auto& t, auto& r) {
                        t.writeBook({u"a@example.jp"_s, u"-b@example.jp"_s});
                        r.Bulk = true;
                        r.BulkRetry = {u"b@example.jp"_s, u"c@example.jp"_s};
                    },
                    u"もうアドレス帳にありません"_s},
        RefusalCase{"bulk_with_empty_book",
                    [](auto& t, auto& r) {
                        t.writeBook({u"-gone@example.jp"_s});
                        r.Bulk = true;
                    },
                    u"アドレス帳"_s},
        RefusalCase{"bulk_with_a_bad_entry",
                    [](auto& t, auto& r) {
                        t.writeBook({u"a@example.jp"_s, u"b@example.jp c@example.jp"_s});
                        r.Bulk = true;
                    },
                    u"2 件目"_s},
        RefusalCase{"missing_attachment", [](auto& t, auto& r) { r.Attachments = {t.folder.path(u"無い.txt"_s)}; }, u"無い.txt"_s},
        // Reading a FIFO would wait for a writer for ever.
        RefusalCase{"attachment_is_a_fifo",
                    [](auto& t, auto& r) {
                        t.folder.write(u"ok.txt"_s, "fine");
                        ASSERT_EQ(::mkfifo(QFile::encodeName(t.folder.path(u"fifo"_s)).constData(), 0600), 0);
                        r.Attachments = {t.folder.path(u"ok.txt"_s), t.folder.path(u"fifo"_s)};
                    },
                    u"fifo"_s}),
    CaseName);

// --- CC and BCC: one message to everyone of 宛先, CC and BCC

struct EveryoneCase {
    const char* name;
    qint64 attachmentBytes;  // over kStreamedAttachmentBytes: sent from a file
};

class OneMessageToEveryone : public SendMailTest, public ::testing::WithParamInterface<EveryoneCase> {};

TEST_P(OneMessageToEveryone, BccOnlyInTheEnvelopeAndTheSentCopy) {
    SendRequest request = Request(u"a@example.jp、山田 <b@例え.jp>\r\n"_s, u"件名"_s, u"本文"_s);
    request.CcText = u"c@example.jp"_s;
    request.BccText = u"秘書 <hidden@example.jp>"_s;
    folder.write(u"a,b.bin"_s, QByteArray(GetParam().attachmentBytes, 'x'));
    request.Attachments = {folder.path(u"a,b.bin"_s)};
    ASSERT_TRUE(send(request).allSent()) << (host.shown.empty() ? std::string() : host.shown[0].text.toStdString());
    ASSERT_EQ(box->deliveries.size(), 1u);
    const QByteArray& wire = box->deliveries[0].message;
    EXPECT_EQ(box->deliveries[0].to, u"a@example.jp b@xn--r8jz45g.jp c@example.jp hidden@example.jp"_s);
    EXPECT_FALSE(wire.contains("hidden@example.jp"));
    EXPECT_TRUE(HeaderNames(wire).contains(u"Cc"_s));
    EXPECT_EQ(mail::DecodeMessage(wire).attachments.size(), 1u);

    const QDir kept(SentMaildirPath(program.paths) + u"/new"_s);
    const QStringList files = kept.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile copyFile(kept.filePath(files[0]));
    ASSERT_TRUE(copyFile.open(QIODevice::ReadOnly));
    const QByteArray copy = copyFile.readAll();
    EXPECT_TRUE(copy.startsWith("Bcc: ")) << copy.left(80).toStdString();
    EXPECT_TRUE(copy.endsWith(MaildirLocalForm(wire)));
    EXPECT_TRUE(mail::DecodeMessage(copy).headerText.contains(u"秘書 <hidden@example.jp>"_s));

    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Column3, u"a@example.jp、山田 <b@例え.jp>"_s);
}

INSTANTIATE_TEST_SUITE_P(Sends, OneMessageToEveryone,
                         ::testing::Values(EveryoneCase{"in_memory", 100},
                                           EveryoneCase{"from_a_file", mail::kStreamedAttachmentBytes + 1}),
                         CaseName);

struct OptionsCase {
    const char* name;
    bool widenKana, wrapLines;
    QString subject, body;  // as they go out
};

class SendingOptions : public SendMailTest, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(SendingOptions, ChangeWhatGoesOutNotWhatTheHistoryKeeps) {
    const QString typedSubject = u"ｶﾞｲﾄﾞ"_s, typedBody = u"ﾃｽﾄ "_s + QString(80, u'a');
    SendRequest request = Request(u"you@example.jp"_s, typedSubject, typedBody);
    request.WidenKana = GetParam().widenKana;
    request.WrapLines = GetParam().wrapLines;
    ASSERT_TRUE(send(request).allSent());
    ASSERT_EQ(box->deliveries.size(), 1u);
    EXPECT_EQ(mail::DecodeMessage(box->deliveries[0].message).subject, GetParam().subject);
    EXPECT_EQ(ReceivedText(box->deliveries[0].message), GetParam().body);
    const auto records = history();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Subject, typedSubject);
    EXPECT_EQ(records[0].Body, typedBody);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SendingOptions,
    ::testing::Values(OptionsCase{"both_off", false, false, u"ｶﾞｲﾄﾞ"_s, u"ﾃｽﾄ "_s + QString(80, u'a')},
                      OptionsCase{"both_on", true, true, u"ガイド"_s, u"テスト \r\n"_s + QString(80, u'a').replace(72, 0, u"\r\n"_s)}),
    CaseName);

// A subject is one header line, whatever it holds.
struct SubjectCase {
    const char* name;
    QString subject;
};

class HostileSubject : public SendMailTest, public ::testing::WithParamInterface<SubjectCase> {};

TEST_P(HostileSubject, NeverAddsAHeaderLine) {
    ASSERT_TRUE(send(Request(u"名前 <you@example.jp>\r\n"_s, u"clean"_s, u"b"_s)).allSent());
    ASSERT_TRUE(send(Request(u"名前 <you@example.jp>\r\n"_s, GetParam().subject, u"b"_s)).allSent());
    ASSERT_EQ(box->deliveries.size(), 2u);
    EXPECT_EQ(HeaderNames(box->deliveries[1].message), HeaderNames(box->deliveries[0].message));
    EXPECT_FALSE(box->deliveries[1].message.contains("\nBcc:"));
}

INSTANTIATE_TEST_SUITE_P(Subjects, HostileSubject,
                         ::testing::Values(SubjectCase{"crlf_header", u"hi\r\nBcc: evil@example.jp"_s},
                                           SubjectCase{"lf_header", u"hi\nBcc: evil@example.jp"_s},
                                           SubjectCase{"cr_header", u"hi\rBcc: evil@example.jp"_s},
                                           SubjectCase{"crlf_then_body", u"hi\r\n\r\nfake body"_s}),
                         CaseName);

// --- Logins.

TEST_F(SendMailTest, LogsInWithTheSavedAccountWhenTheServerOffersAuth) {
    box->offersAuth = true;
    box->authRequired = true;
    ASSERT_TRUE(send(Request(u"you@example.jp"_s, u"s"_s, u"b"_s)).allSent());
    setAccount(u"hanako"_s, u"new secret"_s);
    ASSERT_TRUE(send(Request(u"you@example.jp"_s, u"s"_s, u"b"_s)).allSent());
    ASSERT_EQ(box->deliveries.size(), 2u);
    EXPECT_EQ(box->deliveries[0].loginUser, u"taro"_s);
    EXPECT_EQ(box->deliveries[0].loginPassword, u"secret"_s);
    EXPECT_EQ(box->deliveries[1].loginUser, u"hanako"_s) << "the account file is read at each send";
    EXPECT_EQ(box->deliveries[1].loginPassword, u"new secret"_s);
    EXPECT_TRUE(box->log.filter(u"connect"_s).isEmpty()) << "no POP3 login where AUTH is offered";
}

struct PopCase {
    const char* name;
    QString loginError;  // of the POP3 server
    bool bulk;
    QStringList log;
    int failed;
};

class PopBeforeSmtp : public SendMailTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(PopBeforeSmtp, LogsInToPop3OnceAndTriesTheMessageAgain) {
    box->popBeforeSmtp = true;
    box->loginError = GetParam().loginError;
    program.values.ApopFlag = 1;
    writeBook({u"a@example.jp"_s, u"b@example.jp"_s});
    SendRequest request = Request(u"a@example.jp"_s, u"s"_s, u"b"_s);
    request.Bulk = GetParam().bulk;
    const SendResult result = send(request);
    EXPECT_EQ(box->log, GetParam().log);
    EXPECT_EQ(result.Failed, GetParam().failed);
    EXPECT_EQ(static_cast<int>(host.shown.size()), GetParam().failed);
    for (const auto& shown : host.shown) {
        EXPECT_EQ(shown.title, kSendErrorTitle);
        EXPECT_TRUE(shown.text.startsWith(u"554 5.7.1"_s)) << shown.text.toStdString();
    }
    if (GetParam().failed > 0) {
        EXPECT_TRUE(host.shown[0].text.contains(GetParam().loginError));
    }
}

const QString kSmtpA = u"smtp smtp.example.jp a@example.jp"_s;
const QString kSmtpB = u"smtp smtp.example.jp b@example.jp"_s;
const QStringList kPopLogin{u"connect pop.example.jp"_s, u"login taro apop"_s, u"quit"_s};

INSTANTIATE_TEST_SUITE_P(
    Logins, PopBeforeSmtp,
    ::testing::Values(PopCase{"login_works", QString(), false, QStringList{kSmtpA} + kPopLogin + QStringList{kSmtpA}, 0},
                      PopCase{"login_fails", u"-ERR [AUTH] Authentication failed."_s, false,
                              QStringList{kSmtpA} + kPopLogin, 1},
                      PopCase{"bulk_tries_pop3_once", u"-ERR [AUTH] Authentication failed."_s, true,
                              QStringList{kSmtpA} + kPopLogin + QStringList{kSmtpB}, 2}),
    CaseName);

}  // namespace
}  // namespace lumopet
