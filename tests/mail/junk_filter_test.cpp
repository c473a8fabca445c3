// The junk filter against the real bogofilter in a fresh data folder, and
// against stand-ins that go wrong the ways a real one can (missing,
// crashing, hanging, talking nonsense).

#include "mail/junk_filter.h"
#include "mail/junk_sorting.h"
#include "store/address_book.h"

#include "tests/e2e/junk_mail.h"
#include "tests/support/stand_in_bogofilter.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <sys/stat.h>

namespace lumopet::junk {
namespace {

using test::LearntMessageCounts;
using test::TempFolder;
using test::WordListCounts;

QByteArray message(const QByteArray& subject, const QByteArray& body) {
    return "From: someone@example.com\nSubject: " + subject +
           "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n" + body + "\n";
}

// A program folder of its own, with the filter FilterFor makes for it.
struct DataFolder {
    TempFolder temp;
    FilterProgram filter;
    DataFolder() {
        QDir(temp.path()).mkpath(QStringLiteral("★MailData"));
        filter = FilterFor(ProgramPaths(temp.path()));
    }
    QString file(const QString& name, const QByteArray& bytes) const {
        temp.write(name, bytes);
        return temp.path(name);
    }
};

// A word list trained on the end-to-end tests' spam and mail, in English
// and Japanese; the messages sorted here are alike but never the same.
void trainBasics(DataFolder& data) {
    ASSERT_TRUE(test::TrainJunkTestWordList(data.filter, data.temp.path("training")).ok());
}

TEST(JunkFilter, AnEmptyWordListCallsEverythingUnsure) {
    DataFolder data;
    const QString file = data.file("new/1", message("hello", "cheap pills viagra"));
    const Classification result = ClassifyFiles(data.filter, {file});
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.spam, std::vector<bool>{false});
    EXPECT_EQ(result.problem, QString());
}

TEST(JunkFilter, TrainedSpamIsSpamInTheOrderGiven) {
    DataFolder data;
    trainBasics(data);
    struct Row {
        QByteArray subject, body;
        bool spam;
    } const rows[] = {
        {"Claim your prize", "casino winner viagra cheap pills free money click here", true},
        {"Re: agenda", "please review the meeting agenda for tomorrow with the project team", false},
        {"【当選】", "おめでとうございます 無料 高収入 副業 出会い系サイト 登録 クリック", true},
        {"会議の件", "明日の会議の資料と議事録の確認をお願いします プロジェクト", false},
    };
    QStringList files;
    for (const Row& row : rows) files << data.file(QStringLiteral("new/%1").arg(files.size()), message(row.subject, row.body));
    // Gone, and a FIFO where a message should be: not junk, and never waited on.
    files.insert(1, data.temp.path("new/gone"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(data.temp.path("new/fifo")).constData(), 0600), 0);
    files.insert(3, data.temp.path("new/fifo"));

    const Classification result = ClassifyFiles(data.filter, files);
    EXPECT_TRUE(result.ran) << result.problem.toStdString();
    EXPECT_EQ(result.problem, QString());
    EXPECT_EQ(result.spam, (std::vector<bool>{true, false, false, false, true, false}));
}

TEST(JunkFilter, ThousandsOfFilesInOneRun) {
    DataFolder data;
    trainBasics(data);
    // More names than a pipe or socket holds at once, and more answers:
    // writing the one while reading the other must not stall.
    const QString folder = QStringLiteral("Maildir/new/%1").arg(QString(120, u'x'));
    QStringList files;
    for (int i = 0; i < 3000; ++i)
        files << data.file(folder + QString::number(i), message("x", i % 3 == 0 ? "casino winner viagra prize" : "meeting agenda"));
    QElapsedTimer clock;
    clock.start();
    const Classification result = ClassifyFiles(data.filter, files);
    std::printf("3,000 files classified in %lld ms\n", static_cast<long long>(clock.elapsed()));
    ASSERT_TRUE(result.ran) << result.problem.toStdString();
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(result.spam[static_cast<size_t>(i)], i % 3 == 0) << i;
}

TEST(JunkFilter, CopiesHandedOverInBatchesKeepTheirOwnVerdicts) {
    DataFolder data;
    trainBasics(data);
    const ProgramPaths paths(data.temp.path());
    // Charsets by turns, so that each batch is read in an order of its own.
    const auto copy = [&](int i) {
        QByteArray source = message("x", i % 3 == 0 ? "casino winner viagra prize" : "meeting agenda notes");
        if (i % 2) source.replace("charset=UTF-8", "charset=ISO-2022-JP");
        return data.file(QStringLiteral("Maildir/new/%1").arg(i), source);
    };
    std::vector<JunkCandidate> candidates;
    // The check knows the charset of most from their source; the others'
    // are read from the copy.
    for (int i = 0; i < 250; ++i)
        candidates.push_back({copy(i), false, QStringLiteral("x%1@example.com").arg(i),
                              i % 4 == 1 ? std::optional<QByteArray>("iso-2022-jp") : std::nullopt});
    candidates.push_back({QString(), true, QStringLiteral("waiting@example.com"), {}});  // no copy: the header alone
    candidates.push_back({data.temp.path("Maildir/new/gone"), false, QStringLiteral("gone@example.com"), {}});

    JunkSorter sorter(paths);
    const auto batch = [&](int from, int to) {
        sorter.read({candidates.begin() + from, candidates.begin() + to});
    };
    batch(100, 200);  // handed over out of server order,
    batch(0, 100);
    batch(150, 160);  // some twice,
    // and the last ones only when the verdicts are asked for.
    const JunkSorting sorting = sorter.sort(candidates);
    EXPECT_EQ(sorting.problem, QString());
    ASSERT_EQ(sorting.junk.size(), candidates.size());
    for (int i = 0; i < 250; ++i) EXPECT_EQ(sorting.junk[static_cast<size_t>(i)], i % 3 == 0) << i;
    EXPECT_TRUE(sorting.junk[250]);
    EXPECT_FALSE(sorting.junk[251]);
}

// A sender in the address book, or the provider's verdict, decides without
// bogofilter: it is not given those copies, and the verdicts stay the
// same.
TEST(JunkFilter, CopiesWhoseVerdictNeedsNoWordsAreNotRead) {
    DataFolder data;
    const ProgramPaths paths(data.temp.path());
    ASSERT_TRUE(AppendAddressEntry(AddressBookPath(paths), QStringLiteral("友"), QStringLiteral("friend@example.com")).ok());
    const QString log = data.temp.path("read.log");
    // Says spam of every copy it reads, and notes which.
    const QString standIn = test::WriteStandInBogofilter(
        data.temp.path("bogofilter-stand-in"), "tee -a '" + QFile::encodeName(log) + "' | sed 's/$/ S 1.000000/'");
    struct Row {
        const char* file;
        bool providerMarksJunk;
        const char* sender;
        bool read;
        bool junk;
    } const rows[] = {
        {"stranger", false, "someone@example.com", true, true},
        {"friend", false, "友 <Friend@Example.com>", false, false},
        {"friend-marked", true, "friend@example.com", false, false},
        {"stranger-marked", true, "someone@example.com", false, true},
    };
    std::vector<JunkCandidate> candidates;
    for (const Row& row : rows)
        candidates.push_back({data.file(QStringLiteral("Maildir/new/") + QLatin1String(row.file), message("x", "y")),
                              row.providerMarksJunk, QString::fromUtf8(row.sender), {}});
    qputenv("LUMOPET_BOGOFILTER", QFile::encodeName(standIn));
    JunkSorter sorter(paths);
    qunsetenv("LUMOPET_BOGOFILTER");
    sorter.read(candidates);
    const JunkSorting sorting = sorter.sort(candidates);
    QFile readLog(log);
    const QByteArray read = readLog.open(QIODevice::ReadOnly) ? readLog.readAll() : QByteArray();
    ASSERT_EQ(sorting.junk.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(read.contains(QFile::encodeName(candidates[i].copyPath) + '\n'), rows[i].read) << rows[i].file;
        EXPECT_EQ(sorting.junk[i], rows[i].junk) << rows[i].file;
    }
}

// The check hands bogofilter its copies while it fetches: however slow or
// gone the filter, handing over must never hold up the check.
TEST(JunkFilter, HandingOverNeverWaitsForTheFilter) {
    struct Row {
        const char* name;
        QByteArray script;
    } const rows[] = {
        {"reads nothing", "exec sleep 600"},
        {"is gone at once", "exit 0"},
    };
    for (const Row& row : rows) {
        DataFolder data;
        FilterProgram filter = data.filter;
        filter.executable = test::WriteStandInBogofilter(data.temp.path("bogofilter-stand-in"), row.script);
        filter.timeoutMs = 700;
        // More names than the socket to the filter holds.
        const QString folder = QStringLiteral("Maildir/new/%1").arg(QString(120, u'x'));
        std::vector<QStringList> batches(30);
        for (int i = 0; i < 3000; ++i) batches[static_cast<size_t>(i / 100)] << data.file(folder + QString::number(i), "x");

        BulkClassifier classifier(filter);
        QElapsedTimer clock;
        clock.start();
        for (const QStringList& batch : batches) classifier.add(batch);
        EXPECT_LT(clock.elapsed(), 500) << row.name;
        const Classification result = classifier.finish();
        EXPECT_LT(clock.elapsed(), filter.timeoutMs + 1500) << row.name;
        EXPECT_FALSE(result.ran) << row.name;
        EXPECT_EQ(result.spam, std::vector<bool>(3000, false)) << row.name;
    }
}

// The check stores a record as soon as its verdict is in: an answer counts
// only once it is whole and matches its file, in order.
TEST(JunkFilter, AnswersCountAsTheyComeWhileTheyMatchTheirFiles) {
    struct Row {
        const char* name;
        QByteArray script;  // reads the three names first
        std::vector<std::optional<bool>> soFar;
    } const rows[] = {
        {"all answered", R"(while read n; do echo "$n S 1.0"; done)", {true, true, true}},
        {"unsure and ham are not spam", R"(read a; read b; read c; echo "$a U 0.5"; echo "$b H 0.0"; echo "$c S 1.0")",
         {false, false, true}},
        {"garbage after the first", R"(read a; read b; read c; echo "$a S 1.0"; echo "garbage"; echo "$c S 1.0"; sleep 600)",
         {true, std::nullopt, std::nullopt}},
        {"out of order", R"(read a; read b; read c; echo "$b S 1.0"; echo "$a S 1.0"; sleep 600)",
         {std::nullopt, std::nullopt, std::nullopt}},
        {"half a line", R"(read a; read b; read c; echo "$a S 1.0"; printf '%s S' "$b"; sleep 600)",
         {true, std::nullopt, std::nullopt}},
    };
    for (const Row& row : rows) {
        DataFolder data;
        FilterProgram filter = data.filter;
        filter.executable = test::WriteStandInBogofilter(data.temp.path("bogofilter-stand-in"), row.script);
        filter.timeoutMs = 700;
        BulkClassifier classifier(filter);
        classifier.add({data.file("new/1", "x"), data.file("new/2", "y")});
        classifier.add({data.file("new/3", "z")});
        // The stand-in has had its time to say all it says.
        QElapsedTimer clock;
        clock.start();
        while (!classifier.spamSoFar(2) && clock.elapsed() < 1000) QThread::msleep(10);
        for (qsizetype i = 0; i < 3; ++i)
            EXPECT_EQ(classifier.spamSoFar(i), row.soFar[static_cast<size_t>(i)]) << row.name << " " << i;
        EXPECT_EQ(classifier.finish().ran, row.soFar[2].has_value()) << row.name;
    }
}

TEST(JunkFilter, AReversedVerdictLeavesNoTraceOfTheFirst) {
    DataFolder reversed, direct;
    trainBasics(reversed);
    trainBasics(direct);
    const QByteArray source = message("Quarterly report", "the quarterly report casino numbers attached");
    // The flags after ':' change when the message is read: still the same file.
    const QString unread = reversed.file("md/new/77.host", source);
    const QString read = reversed.file("md/cur/77.host:2,S", source);
    ASSERT_TRUE(TrainVerdict(reversed.filter, {unread}, Verdict::Junk).ok());
    ASSERT_TRUE(TrainVerdict(reversed.filter, {read}, Verdict::NotJunk).ok());
    ASSERT_TRUE(TrainVerdict(direct.filter, {direct.file("md/new/77.host", source)}, Verdict::NotJunk).ok());
    const auto expected = WordListCounts(direct.filter.wordListFolder);
    ASSERT_TRUE(expected.contains("quarterly"));
    EXPECT_EQ(WordListCounts(reversed.filter.wordListFolder), expected);
    // The same verdict again is not learnt twice.
    ASSERT_TRUE(TrainVerdict(reversed.filter, {read}, Verdict::NotJunk).ok());
    EXPECT_EQ(WordListCounts(reversed.filter.wordListFolder), expected);
}

struct StandIn {
    const char* name;
    // The script's body; empty: no executable at all.
    QByteArray script;
    int timeoutMs;
    bool trainingFails;
    // What the training's failure tells the user, beside the failure itself.
    const char* trainingSays = "";
};

class JunkFilterStandIn : public testing::TestWithParam<StandIn> {};

TEST_P(JunkFilterStandIn, DidNotRunAndNothingIsJunk) {
    const StandIn& row = GetParam();
    DataFolder data;
    const QString executable = data.temp.path("bogofilter-stand-in");
    if (!row.script.isEmpty()) test::WriteStandInBogofilter(executable, row.script);
    qputenv("LUMOPET_BOGOFILTER", QFile::encodeName(executable));
    FilterProgram filter = FilterFor(ProgramPaths(data.temp.path()));
    qunsetenv("LUMOPET_BOGOFILTER");
    ASSERT_EQ(filter.executable, executable);
    filter.timeoutMs = row.timeoutMs;
    const QStringList files{data.file("new/1", message("a", "b")), data.file("new/2", message("c", "d"))};

    QElapsedTimer clock;
    clock.start();
    const Classification result = ClassifyFiles(filter, files);
    EXPECT_LT(clock.elapsed(), row.timeoutMs + 1000);
    EXPECT_FALSE(result.ran);
    EXPECT_EQ(result.spam, (std::vector<bool>{false, false}));
    EXPECT_TRUE(result.problem.startsWith(QStringLiteral("迷惑メールの振り分け（bogofilter）を実行できませんでした。")))
        << result.problem.toStdString();
    const Status trained = TrainVerdict(filter, files, Verdict::Junk);
    EXPECT_EQ(trained.ok(), !row.trainingFails);
    if (!trained) {
        EXPECT_TRUE(trained.error().contains(QString::fromUtf8(row.trainingSays))) << trained.error().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JunkFilterStandIn,
    testing::Values(StandIn{"Missing", "", 5000, true, "bogofilter が入っているか確かめてください"}, StandIn{"Crashes", "kill -SEGV $$", 5000, true},
                    StandIn{"Hangs", "exec sleep 600", 700, true},
                    // Its children hold the output open after it is gone.
                    StandIn{"HangsInAChild", "sleep 600 & sleep 600", 700, true},
                    StandIn{"TalksNonsense", "cat >/dev/null; echo 'Segmentation fault, core dumped'", 5000, false},
                    StandIn{"AnswersTooFew", "read name; echo \"$name S 1.000000\"", 5000, false},
                    StandIn{"AnswersOutOfOrder", "read a; read b; echo \"$b S 1.0\"; echo \"$a S 1.0\"", 5000, false},
                    StandIn{"FailsWithCode3", "echo 'Can not open file' >&2; exit 3", 5000, true, "Can not open file"},
                    // What bogofilter does at a file it cannot read: it stops there, and exits with 0.
                    StandIn{"StopsAtAFileItCannotRead",
                            "cat >/dev/null; echo \"Can't stat mailstore 'x': No such file or directory\" >&2", 5000, true}),
    [](const testing::TestParamInfo<StandIn>& info) { return std::string(info.param.name); });

struct Damage {
    const char* name;
    void (*apply)(const QString& wordList);
    bool byTraining;
};

class JunkFilterDamagedWordList : public testing::TestWithParam<Damage> {};

TEST_P(JunkFilterDamagedWordList, IsSetAsideAndStartedAnew) {
    const Damage& row = GetParam();
    DataFolder data;
    trainBasics(data);
    const QString wordList = data.filter.wordListFolder + QStringLiteral("/wordlist.db");
    row.apply(wordList);
    QFile damaged(wordList);
    ASSERT_TRUE(damaged.open(QIODevice::ReadOnly));
    const QByteArray damagedBytes = damaged.readAll();

    const QString spam = data.file("new/x", message("Claim your prize", "casino winner viagra cheap pills free money"));
    if (row.byTraining) {
        ASSERT_TRUE(TrainVerdict(data.filter, {spam}, Verdict::Junk).ok());
    } else {
        const Classification result = ClassifyFiles(data.filter, {spam});
        EXPECT_TRUE(result.ran);
        EXPECT_EQ(result.spam, std::vector<bool>{false});  // the new list knows nothing yet
        EXPECT_TRUE(result.problem.startsWith(QStringLiteral("迷惑メールの単語リストが壊れていたため、"))) << result.problem.toStdString();
    }
    const QStringList aside =
        QDir(data.temp.path("★MailData")).entryList({QStringLiteral("bogofilter.damaged-*")}, QDir::Dirs);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(data.temp.path("★MailData/" + aside.front() + "/wordlist.db"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), damagedBytes);
    // The new list works, and is told nothing more.
    trainBasics(data);
    const Classification again = ClassifyFiles(data.filter, {spam});
    EXPECT_EQ(again.problem, QString());
    EXPECT_EQ(again.spam, std::vector<bool>{true});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JunkFilterDamagedWordList,
    testing::Values(Damage{"Garbage",
                           [](const QString& file) {
                               QFile out(file);
                               ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                               out.write(QByteArray(3000, '\x5a'));
                           },
                           false},
                    Damage{"Truncated", [](const QString& file) { ASSERT_TRUE(QFile::resize(file, 4000)); }, false},
                    Damage{"FoundByTraining", [](const QString& file) { ASSERT_TRUE(QFile::resize(file, 100)); }, true}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(JunkFilter, AWordListFolderThatIsALinkOrAFileIsRefused) {
    for (const bool link : {true, false}) {
        DataFolder data;
        const QString elsewhere = data.temp.path("elsewhere");
        QDir().mkpath(elsewhere);
        if (link)
            ASSERT_TRUE(QFile::link(elsewhere, data.filter.wordListFolder));
        else
            data.temp.write("★MailData/bogofilter", "not a folder");
        const QString file = data.file("new/1", message("a", "cheap pills"));
        const Classification result = ClassifyFiles(data.filter, {file});
        EXPECT_FALSE(result.ran) << link;
        EXPECT_TRUE(result.problem.contains(QStringLiteral("使いません"))) << result.problem.toStdString();
        EXPECT_FALSE(TrainVerdict(data.filter, {file}, Verdict::Junk).ok());
        EXPECT_TRUE(QDir(elsewhere).isEmpty());
    }
}

TEST(JunkFilter, TrainingFromAPlaceGoesInBatchesAndStopsWhenAsked) {
    DataFolder data;
    for (int i = 0; i < 450; ++i)
        data.temp.write(QStringLiteral("box/new/%1.host").arg(1000 + i), message("Offer", "casino winner prize " + QByteArray::number(i)));
    data.temp.write("box/cur/.hidden", message("x", "y"));
    std::atomic<bool> cancel = false;
    std::vector<std::pair<int, int>> seen;
    const auto record = [&](int done, int total) { seen.emplace_back(done, total); };
    Result<int> learnt = TrainFromPlace(data.filter, data.temp.path("box"), Verdict::Junk, record, cancel);
    ASSERT_TRUE(learnt.ok()) << learnt.error().toStdString();
    EXPECT_EQ(learnt.value(), 450);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 450}, {200, 450}, {400, 450}, {450, 450}}));
    EXPECT_EQ(LearntMessageCounts(data.filter.wordListFolder), "450 0");
    // Logged like a verdict: learning the same Maildir again adds nothing.
    ASSERT_TRUE(TrainFromPlace(data.filter, data.temp.path("box"), Verdict::Junk, {}, cancel).ok());
    EXPECT_EQ(LearntMessageCounts(data.filter.wordListFolder), "450 0");

    DataFolder stopped;
    const auto stopAfterFirst = [&](int done, int) { cancel = done > 0; };
    cancel = false;
    learnt = TrainFromPlace(stopped.filter, data.temp.path("box"), Verdict::NotJunk, stopAfterFirst, cancel);
    ASSERT_TRUE(learnt.ok());
    EXPECT_EQ(learnt.value(), 200);
    EXPECT_EQ(LearntMessageCounts(stopped.filter.wordListFolder), "0 200");
}

// A check holds the word list while it fetches; a training that waits for
// it still stops when asked, and learns nothing.
TEST(JunkFilter, ATrainingWaitingForACheckStopsWhenAsked) {
    DataFolder data;
    FilterProgram busy = data.filter;
    busy.executable = test::WriteStandInBogofilter(data.temp.path("bogofilter-stand-in"), "exec sleep 600");
    busy.timeoutMs = 500;
    BulkClassifier check(busy);
    check.add({data.file("new/1", message("a", "b"))});
    data.file("place/1.eml", message("c", "d"));

    std::atomic<bool> cancel{false};
    auto training = std::async(std::launch::async, [&] {
        return TrainFromPlace(data.filter, data.temp.path("place"), Verdict::Junk, {}, cancel);
    });
    EXPECT_EQ(training.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "it did not wait";
    cancel = true;
    const bool stopped = training.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    check.finish();
    ASSERT_TRUE(stopped);
    const auto learnt = training.get();
    ASSERT_TRUE(learnt.ok()) << learnt.error().toStdString();
    EXPECT_EQ(learnt.value(), 0);
}

TEST(JunkFilter, TrainingFromAnMboxOrAFolderOfFiles) {
    DataFolder data;
    const std::atomic<bool> cancel = false;
    data.temp.write("all.mbox", "From a@b Thu Jan  1 00:00:00 2026\n" + message("one", "casino\n>From the start") +
                                    "\nFrom c@d Thu Jan  1 00:00:00 2026\n" + message("two", "winner") +
                                    "\nFrom e@f Thu Jan  1 00:00:00 2026\n" + message("three", "prize"));
    Result<int> learnt = TrainFromPlace(data.filter, data.temp.path("all.mbox"), Verdict::Junk, {}, cancel);
    ASSERT_TRUE(learnt.ok()) << learnt.error().toStdString();
    EXPECT_EQ(learnt.value(), 3);
    EXPECT_EQ(LearntMessageCounts(data.filter.wordListFolder), "3 0");

    // A folder of files: a FIFO and a link among them are passed over.
    data.temp.write("eml/1.eml", message("a", "meeting"));
    data.temp.write("eml/2.eml", message("b", "agenda"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(data.temp.path("eml/3.eml")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(data.temp.path("all.mbox"), data.temp.path("eml/4.eml")));
    learnt = TrainFromPlace(data.filter, data.temp.path("eml"), Verdict::NotJunk, {}, cancel);
    ASSERT_TRUE(learnt.ok()) << learnt.error().toStdString();
    EXPECT_EQ(learnt.value(), 2);
    EXPECT_EQ(LearntMessageCounts(data.filter.wordListFolder), "3 2");
    EXPECT_FALSE(TrainFromPlace(data.filter, data.temp.path("eml/3.eml"), Verdict::NotJunk, {}, cancel).ok());
}

TEST(JunkFilter, ProviderVerdictInTheHeaderOnly) {
    struct Row {
        const char* source;
        bool junk;
    } const rows[] = {
        {"X-Spam-Flag: YES\n\nbody", true},
        {"Subject: x\nx-spam-flag:   yes  \r\n\r\nbody", true},
        {"X-Spam-Flag: NO\n\nbody", false},
        {"X-Spam-Flag: YESS\n\nbody", false},
        {"X-Spam-Status: Yes, score=7.1 required=5.0\n\n", true},
        {"X-Spam-Status: Yes\n\n", true},
        {"X-Spam-Status: Yes\tscore=7.1\n\n", true},
        {"X-SPAM-STATUS: yes,\n\n", true},
        {"X-Spam-Status: No, score=-1.0 required=5.0\n\n", false},
        {"X-Spam-Status: Yesterday\n\n", false},
        {"X-Spam-Status:\n Yes, score=9\n\n", true},  // folded
        {"Subject: x\n\nX-Spam-Flag: YES\n", false},  // in the body
        {"Subject: x\r\n\r\nX-Spam-Status: Yes\r\n", false},
        {"Subject: the X-Spam-Flag: YES\n\n", false},
        {"Subject: x\n X-Spam-Flag: YES\n\n", false},  // a continuation, not a field
        {"", false},
    };
    for (const Row& row : rows) EXPECT_EQ(ProviderMarksJunk(QByteArrayView(row.source)), row.junk) << row.source;
}

}  // namespace
}  // namespace lumopet::junk
