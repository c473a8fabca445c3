#include "settings/junk_training_run.h"

#include "mail/message_sources.h"
#include "store/history_file.h"
#include "store/history_record.h"
#include "store/mail_files.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"

#include <QFileInfo>
#include <QSet>
#include <QThread>

namespace lumopet {
namespace {

// Files a TrainVerdict call takes at a time: a stop is heard between
// batches, and the count moves on.
constexpr int kBatch = 200;

// A Maildir file's name up to its flags: it stays while the file moves
// from new/ to cur/ and its flags change.
QString lastingName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype colon = name.indexOf(u':');
    return colon < 0 ? name : name.left(colon);
}

}  // namespace

QString JunkTrainingProgressText(bool searching, int done, int total) {
    if (searching) return QStringLiteral("迷惑メールの履歴のメールを探しています... %1 / %2 通").arg(done).arg(total);
    if (total <= 0) return QStringLiteral("メールを数えています...");
    return QStringLiteral("学習しています... %1 / %2 通").arg(done).arg(total);
}

QString JunkTrainingSentence(const JunkTrainingOutcome& outcome, junk::Verdict verdict) {
    if (!outcome.problem.isEmpty()) return QStringLiteral("学習できませんでした。") + outcome.problem;
    const QString as = verdict == junk::Verdict::Junk ? QStringLiteral("迷惑メール")
                                                      : QStringLiteral("迷惑メールではないメール");
    if (outcome.cancelled)
        return QStringLiteral("中止しました。それまでの %1 通を%2として学習しました。").arg(outcome.learnt).arg(as);
    if (outcome.learnt == 0) return QStringLiteral("学習するメールがありませんでした。");
    return QStringLiteral("%1 通を%2として学習しました。").arg(outcome.learnt).arg(as);
}

bool JunkHistoryHasRecords(const ProgramPaths& paths) {
    return QFileInfo(HistoryPath(paths, History::Junk)).size() >= kHistoryRecordSize;
}

Result<QStringList> NotJunkFiles(const ProgramPaths& paths, const std::function<void(int done, int total)>& progress,
                                 const std::atomic<bool>& cancel) {
    const QString maildir = ReceivedMaildirPath(paths);
    if (!QFileInfo::exists(maildir)) return QStringList();
    auto entries = ListMaildir(maildir);
    if (!entries) return Failure{entries.error()};
    QStringList files;
    for (const MaildirEntry& entry : entries.value()) files.append(entry.path);
    if (!JunkHistoryHasRecords(paths)) return files;

    // Junk records are the check's received records in a file of their
    // own: a copy makes the same fingerprint for either history. Marked
    // records count too: what the user deleted as junk was junk.
    QSet<QByteArray> junk;
    for (const HistoryRecord& record : ReadAll(HistoryPath(paths, History::Junk))) junk.insert(RecordFingerprint(record));
    // The received history's pairing, whose kept file the viewer has most
    // likely made already: only files it does not know are decoded.
    auto sources = mail::MessageSources::Load(
        History::Received, HistoryPath(paths, History::Received), maildir, [&](qint64 done, qint64 total) {
            if (progress) progress(static_cast<int>(done), static_cast<int>(total));
            return !cancel.load();
        });
    if (!sources) return Failure{sources.error()};
    if (sources.value().cancelled() || cancel.load()) return QStringList();
    QSet<QString> junkCopies;
    for (const mail::SourceFile& file : sources.value().files())
        if (junk.contains(file.fingerprint)) junkCopies.insert(lastingName(file.path));
    files.removeIf([&](const QString& file) { return junkCopies.contains(lastingName(file)); });
    return files;
}

Result<int> LearnReceivedAsNotJunk(const ProgramPaths& paths, const junk::FilterProgram& filter,
                                   const std::function<void(bool searching, int done, int total)>& progress,
                                   const std::atomic<bool>& cancel) {
    const QString maildir = ReceivedMaildirPath(paths);
    // A user who never received mail has no Maildir yet: nothing to learn,
    // which is no fault of bogofilter's.
    if (!QFileInfo::exists(maildir)) return 0;
    if (!JunkHistoryHasRecords(paths))
        return junk::TrainFromPlace(
            filter, maildir, junk::Verdict::NotJunk, [&](int done, int total) { progress(false, done, total); }, cancel);

    auto files = NotJunkFiles(paths, [&](int done, int total) { progress(true, done, total); }, cancel);
    if (!files) return Failure{files.error()};
    const QStringList& list = files.value();
    const int total = static_cast<int>(list.size());
    int done = 0;
    progress(false, 0, total);
    while (done < total && !cancel.load()) {
        const QStringList batch = list.mid(done, kBatch);
        if (const Status learnt = junk::TrainVerdict(filter, batch, junk::Verdict::NotJunk); !learnt)
            return Failure{learnt.error()};
        done += static_cast<int>(batch.size());
        progress(false, done, total);
    }
    return done;
}

JunkTrainingRun::JunkTrainingRun(ProgramPaths paths, QObject* parent)
    : QObject(parent), paths_(std::move(paths)), verdict_(junk::Verdict::NotJunk) {}

JunkTrainingRun::JunkTrainingRun(ProgramPaths paths, QString place, junk::Verdict verdict, QObject* parent)
    : QObject(parent), paths_(std::move(paths)), place_(std::move(place)), verdict_(verdict) {}

JunkTrainingRun::~JunkTrainingRun() {
    if (thread_) {
        cancel_ = true;
        thread_->wait();
        delete thread_;
    }
}

void JunkTrainingRun::start() {
    if (thread_) return;
    thread_ = QThread::create([this] { work(); });
    // The thread's finished comes here queued, once outcome_ is written.
    connect(thread_, &QThread::finished, this, [this] {
        running_ = false;
        Q_EMIT finished();
    });
    running_ = true;
    thread_->start();
}

void JunkTrainingRun::work() {
    const junk::FilterProgram filter = junk::FilterFor(paths_);
    const auto progress = [this](bool searching, int done, int total) {
        searching_.store(searching, std::memory_order_relaxed);
        done_.store(done, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
    };
    const Result<int> learnt =
        place_.isEmpty()
            ? LearnReceivedAsNotJunk(paths_, filter, progress, cancel_)
            : junk::TrainFromPlace(
                  filter, place_, verdict_, [&](int done, int total) { progress(false, done, total); }, cancel_);
    outcome_.cancelled = cancel_.load();
    if (learnt)
        outcome_.learnt = learnt.value();
    else
        outcome_.problem = learnt.error();
}

}  // namespace lumopet
