// The user's verdicts taught to bogofilter, and what was taught of which
// Maildir file kept in "trained.log" beside the word list, so that a
// verdict reversed later is first unlearnt (bogofilter's -S and -N undo -s
// and -n): otherwise a message once marked by mistake would count on both
// sides for ever.

#include "mail/junk_filter.h"

#include "core/safe_file.h"
#include "mail/junk_word_list.h"
#include "mail/mail_export.h"
#include "store/mail_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>

namespace lumopet::junk {
namespace {

// How many messages go to bogofilter at a time when a whole place is
// learnt: often enough to show progress and to stop soon when asked.
constexpr int kBatch = 200;

char mark(Verdict verdict) { return verdict == Verdict::Junk ? 'J' : 'N'; }
QString learn(Verdict verdict) { return verdict == Verdict::Junk ? QStringLiteral("-s") : QStringLiteral("-n"); }
// What undoes the other verdict's learning.
QString unlearnOther(Verdict verdict) { return verdict == Verdict::Junk ? QStringLiteral("-N") : QStringLiteral("-S"); }

// A Maildir file's lasting name: its flags (after ':') change when it is
// read or moved from new/ to cur/.
QByteArray keyOf(const QString& file) {
    const QString name = QFileInfo(file).fileName();
    return QFile::encodeName(name.left(name.indexOf(u':') < 0 ? name.size() : name.indexOf(u':')));
}

QString logPath(const FilterProgram& filter) { return QDir(filter.wordListFolder).filePath(QStringLiteral("trained.log")); }

// "<key> J" or "<key> N" a line, in the order learnt.
class TrainingLog {
public:
    static Result<TrainingLog> Read(const QString& file) {
        auto bytes = ReadFileIfPresent(file);
        if (!bytes) return Failure{bytes.error()};
        TrainingLog log;
        log.file_ = file;
        if (!bytes.value()) return log;
        for (const QByteArray& line : bytes.value()->split('\n')) {
            const qsizetype blank = line.lastIndexOf(' ');
            if (blank <= 0 || line.size() != blank + 2 || (line.back() != 'J' && line.back() != 'N')) continue;
            log.set(line.first(blank), line.back());
        }
        return log;
    }
    char find(const QByteArray& key) const { return marks_.value(key, 0); }
    void set(const QByteArray& key, char value) {
        if (!marks_.contains(key)) order_.append(key);
        marks_.insert(key, value);
    }
    Status write() const {
        QByteArray bytes;
        for (const QByteArray& key : order_) bytes += key + ' ' + marks_.value(key) + '\n';
        return WriteFileSafely(file_, bytes, 0600);
    }

private:
    QString file_;
    QList<QByteArray> order_;
    QHash<QByteArray, char> marks_;
};

QString trainingFailure(const FilterProgram& filter, const BogofilterRun& run) {
    return QStringLiteral("迷惑メールの学習（bogofilter）ができませんでした。") + RunFailureReason(filter, run);
}

// In bulk mode bogofilter stops at the first file it cannot read, says so,
// and still exits with 0: the files after it were not learnt.
bool succeeded(const BogofilterRun& run) {
    return run.end == BogofilterRun::End::Exited && run.exitCode == 0 && !run.err.contains("Can't stat mailstore") &&
           !run.err.contains("Can't open file");
}

// One run over the word list. True when Berkeley DB found the list
// damaged: then the run learnt nothing, and the caller sets the list aside
// and starts again.
Result<bool> runOnce(const FilterProgram& filter, const QStringList& arguments, QByteArrayView input) {
    const bool existed = QFileInfo::exists(WordListFile(filter.wordListFolder));
    const BogofilterRun run = RunBogofilter(filter, arguments, input);
    if (ReportsDamagedWordList(run, existed)) return true;
    if (!succeeded(run)) return Failure{trainingFailure(filter, run)};
    return false;
}

// The same, where a damaged list is set aside and the run made once more
// on a new one.
Status runTraining(const FilterProgram& filter, const QStringList& arguments, QByteArrayView input) {
    for (int attempt = 0;; ++attempt) {
        const Result<bool> damaged = runOnce(filter, arguments, input);
        if (!damaged) return Failure{damaged.error()};
        if (!damaged.value()) return success();
        if (attempt > 0) return Failure{QStringLiteral("迷惑メールの単語リストが作り直しても壊れていたため、学習できませんでした。")};
        if (Result<QString> moved = SetDamagedWordListAside(filter.wordListFolder); !moved) return Failure{moved.error()};
    }
}

QByteArray bulkInput(const QStringList& files) {
    QByteArray input;
    for (const QString& file : files) input += BulkName(file) + '\n';
    return input;
}

// Learns the files as verdict (bulk mode, names on standard input). With
// logged, the training log decides: learnt alike before, nothing; learnt
// the other way, unlearnt and learnt in one run (-S -n, -N -s).
Status trainFiles(const FilterProgram& filter, const QStringList& files, Verdict verdict, bool logged) {
    if (files.isEmpty()) return success();
    if (!logged) return runTraining(filter, {learn(verdict), QStringLiteral("-b")}, bulkInput(files));
    for (int attempt = 0;; ++attempt) {
        auto read = TrainingLog::Read(logPath(filter));
        if (!read) return Failure{read.error()};
        TrainingLog log = std::move(read).value();
        QStringList fresh, reversed;
        QHash<QByteArray, bool> seen;
        for (const QString& file : files) {
            const QByteArray key = keyOf(file);
            if (seen.contains(key)) continue;
            seen.insert(key, true);
            const char before = log.find(key);
            if (before == mark(verdict)) continue;
            (before == 0 ? fresh : reversed).append(file);
        }
        const std::pair<QStringList, QStringList> runs[] = {
            {fresh, {learn(verdict), QStringLiteral("-b")}},
            {reversed, {unlearnOther(verdict), learn(verdict), QStringLiteral("-b")}}};
        bool damaged = false;
        for (const auto& [group, arguments] : runs) {
            if (group.isEmpty()) continue;
            const Result<bool> ran = runOnce(filter, arguments, bulkInput(group));
            if (!ran) return Failure{ran.error()};
            if ((damaged = ran.value())) break;
            for (const QString& file : group) log.set(keyOf(file), mark(verdict));
            // Written after each run: the log never says more than was learnt.
            if (const Status written = log.write(); !written) return written;
        }
        if (!damaged) return success();
        if (attempt > 0) return Failure{QStringLiteral("迷惑メールの単語リストが作り直しても壊れていたため、学習できませんでした。")};
        // The log goes aside with the list: on the new one every file is
        // learnt afresh.
        if (Result<QString> moved = SetDamagedWordListAside(filter.wordListFolder); !moved) return Failure{moved.error()};
    }
}

// Learns files in batches; returns how many were learnt.
Result<int> trainInBatches(const FilterProgram& filter, const QStringList& files, Verdict verdict, bool logged,
                           const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel) {
    const int total = static_cast<int>(files.size());
    int done = 0;
    if (progress) progress(0, total);
    while (done < total && !cancel.load()) {
        const QStringList batch = files.mid(done, kBatch);
        {
            // The lock is held a batch at a time: a mail check that comes
            // meanwhile waits for one batch, not for the whole place.
            std::unique_lock<WordListMutex> hold;
            if (!WaitForWordList(hold, cancel)) break;
            if (const Status learnt = trainFiles(filter, batch, verdict, logged); !learnt) return Failure{learnt.error()};
        }
        done += static_cast<int>(batch.size());
        if (progress) progress(done, total);
    }
    return done;
}

Result<int> trainMbox(const FilterProgram& filter, const QString& mbox, Verdict verdict,
                      const std::function<void(int, int)>& progress, const std::atomic<bool>& cancel) {
    // A first pass counts the messages, for the progress bar.
    int total = 0;
    {
        auto reader = MboxReader::Open(mbox);
        if (!reader) return Failure{reader.error()};
        for (;;) {
            auto message = reader.value().next();
            if (!message) return Failure{message.error()};
            if (!message.value()) break;
            ++total;
        }
    }
    auto reader = MboxReader::Open(mbox);
    if (!reader) return Failure{reader.error()};
    if (progress) progress(0, total);
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    int done = 0;
    bool atEnd = false;
    while (!atEnd && !cancel.load()) {
        QByteArray batch;
        int count = 0;
        while (count < kBatch) {
            auto message = reader.value().next();
            if (!message) return Failure{message.error()};
            if (!message.value()) {
                atEnd = true;
                break;
            }
            batch += mail::MboxrdEntry(message.value()->source, QString(), epoch);
            ++count;
        }
        if (count == 0) break;
        {
            std::unique_lock<WordListMutex> hold;
            if (!WaitForWordList(hold, cancel)) break;
            // -M: standard input is an mbox, each message learnt on its own.
            if (const Status learnt = runTraining(filter, {learn(verdict), QStringLiteral("-M")}, batch); !learnt)
                return Failure{learnt.error()};
        }
        done += count;
        if (progress) progress(done, std::max(total, done));
    }
    return done;
}

// The regular files of a folder, by name; links, FIFOs, folders and names
// starting with a dot are left out.
QStringList messageFilesIn(const QString& folder) {
    QStringList files;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString file = QDir(folder).filePath(name);
        if (UsableMessageFile(file)) files.append(file);
    }
    return files;
}

bool startsAsMbox(const QString& file) {
    QFile opened(file);
    return opened.open(QIODevice::ReadOnly) && opened.read(5) == "From ";
}

}  // namespace

Status TrainVerdict(const FilterProgram& filter, const QStringList& files, Verdict verdict) {
    if (const Status ready = PrepareWordListFolder(filter.wordListFolder); !ready) return ready;
    QStringList usable;
    QString skipped;
    for (const QString& file : files) {
        if (UsableMessageFile(file))
            usable.append(file);
        else if (skipped.isEmpty())
            skipped = file;
    }
    const std::lock_guard<WordListMutex> hold(WordListLock());
    if (const Status learnt = trainFiles(filter, usable, verdict, true); !learnt) return learnt;
    if (!skipped.isEmpty())
        return Failure{QStringLiteral("「%1」は通常のファイルではないか見つからないため、学習しませんでした。")
                           .arg(QDir::toNativeSeparators(skipped))};
    return success();
}

Result<int> TrainFromPlace(const FilterProgram& filter, const QString& place, Verdict verdict,
                           const std::function<void(int done, int total)>& progress, const std::atomic<bool>& cancel) {
    if (const Status ready = PrepareWordListFolder(filter.wordListFolder); !ready) return Failure{ready.error()};
    const QString shown = QDir::toNativeSeparators(place);
    struct stat info {};
    if (::lstat(QFile::encodeName(place).constData(), &info) != 0)
        return Failure{QStringLiteral("「%1」が見つかりません。").arg(shown)};
    if (S_ISLNK(info.st_mode))
        return Failure{QStringLiteral("「%1」はリンクのため開きません。リンク先を直接選んでください。").arg(shown)};

    if (S_ISDIR(info.st_mode)) {
        const QDir folder(place);
        if (folder.exists(QStringLiteral("cur")) || folder.exists(QStringLiteral("new"))) {
            auto entries = ListMaildir(place);
            if (!entries) return Failure{entries.error()};
            QStringList files;
            for (const MaildirEntry& entry : entries.value()) files.append(entry.path);
            return trainInBatches(filter, files, verdict, true, progress, cancel);
        }
        return trainInBatches(filter, messageFilesIn(place), verdict, false, progress, cancel);
    }
    if (!S_ISREG(info.st_mode)) return Failure{QStringLiteral("「%1」は通常のファイルではないため開きません。").arg(shown)};
    if (startsAsMbox(place)) return trainMbox(filter, place, verdict, progress, cancel);
    return trainInBatches(filter, {place}, verdict, false, progress, cancel);
}

}  // namespace lumopet::junk
