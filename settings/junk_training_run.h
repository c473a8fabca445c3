#pragma once
// Teaching the junk filter what the user's mail looks like, when the filter
// is turned on: the received history's mail as not junk, and a folder or an
// mbox file the user names as junk. A run goes on a thread of its own, so
// that the window that started it stays painted and can stop it; the
// window reads its count now and then and hears when it has ended.

#include "core/program_paths.h"
#include "core/result.h"
#include "mail/junk_filter.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QThread;

namespace lumopet {

struct JunkTrainingOutcome {
    int learnt = 0;
    bool cancelled = false;
    // Why bogofilter could not learn (missing, failing), as the filter says
    // it; empty when it learnt.
    QString problem;
};

// The line under the progress bar while a run goes on. Searching is the
// look for the junk history's copies that comes first.
QString JunkTrainingProgressText(bool searching, int done, int total);
// What a run came to, for the user.
QString JunkTrainingSentence(const JunkTrainingOutcome& outcome, junk::Verdict verdict);

// The junk history holds records: their copies lie in the received Maildir
// among the others.
bool JunkHistoryHasRecords(const ProgramPaths& paths);

// The received Maildir's message files but the junk history's copies (the
// files whose message makes a junk record, found as the viewer pairs
// them). progress(done, total) goes over the files looked at; cancel stops
// the look, and then the list is empty. A missing Maildir has none.
Result<QStringList> NotJunkFiles(const ProgramPaths& paths, const std::function<void(int done, int total)>& progress,
                                 const std::atomic<bool>& cancel);

// The received history's mail learnt as not junk: the whole Maildir through
// junk::TrainFromPlace while the junk history is empty, else NotJunkFiles in
// batches, so that junk the check set aside is never learnt as mail.
// searching is set while the junk history's copies are looked for.
Result<int> LearnReceivedAsNotJunk(const ProgramPaths& paths, const junk::FilterProgram& filter,
                                   const std::function<void(bool searching, int done, int total)>& progress,
                                   const std::atomic<bool>& cancel);

// One run over a place (a Maildir, a folder of message files or an mbox
// file) as verdict, or over the received history as not junk.
class JunkTrainingRun : public QObject {
    Q_OBJECT
public:
    // The received history as not junk.
    JunkTrainingRun(ProgramPaths paths, QObject* parent = nullptr);
    // A place the user chose, as verdict.
    JunkTrainingRun(ProgramPaths paths, QString place, junk::Verdict verdict, QObject* parent = nullptr);
    // Stops a run that still goes on and waits for it: the word list is
    // never left in the middle of a write with nobody to hear of it.
    ~JunkTrainingRun() override;

    void start();
    // Stops the run between batches of messages; finished follows.
    void cancel() { cancel_ = true; }
    // Started, and its finished not yet come.
    bool isRunning() const { return running_; }

    junk::Verdict verdict() const { return verdict_; }
    bool searching() const { return searching_.load(std::memory_order_relaxed); }
    // Messages learnt (or looked at, while searching) of those found; total
    // is 0 until they are counted.
    int done() const { return done_.load(std::memory_order_relaxed); }
    int total() const { return total_.load(std::memory_order_relaxed); }
    // What the run came to; valid once finished has come.
    const JunkTrainingOutcome& outcome() const { return outcome_; }

Q_SIGNALS:
    // On the thread that started the run.
    void finished();

private:
    void work();

    ProgramPaths paths_;
    QString place_;  // empty: the received history
    junk::Verdict verdict_;
    QThread* thread_ = nullptr;
    bool running_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> searching_{false};
    std::atomic<int> done_{0};
    std::atomic<int> total_{0};
    JunkTrainingOutcome outcome_;
};

}  // namespace lumopet
