#pragma once
// What the junk filter's parts share: the word list folder, one bogofilter
// run at a time over it, and what to do when Berkeley DB finds the word
// list damaged (set it aside, never delete it, and start a new one).

#include "core/result.h"
#include "core/unique_fd.h"
#include "mail/junk_filter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

#include <sys/types.h>

namespace lumopet::junk {

// Every run over the word list holds this: a check's classification on the
// worker thread and a verdict from the viewer never meet in the middle of
// setting a damaged list aside or rewriting the training log. A check
// holds it while it fetches: a training waiting for it can still stop
// (WaitForWordList).
using WordListMutex = std::timed_mutex;
WordListMutex& WordListLock();

// Takes the word list for a training; false when cancel was set while it
// waited.
bool WaitForWordList(std::unique_lock<WordListMutex>& hold, const std::atomic<bool>& cancel);

// The word list folder, made (mode 0700) when missing. A link or anything
// but a folder in its place is refused, never followed: the word list must
// not end up written wherever a link points.
Status PrepareWordListFolder(const QString& folder);

// "<folder>/wordlist.db", the one file bogofilter keeps there.
QString WordListFile(const QString& folder);

struct BogofilterRun {
    enum class End { Exited, NotStarted, Crashed, TimedOut };
    End end = End::NotStarted;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the filter's executable with "-C -d <folder>" and the arguments
// (never through a shell), input on its standard input. The user's own
// bogofilter configuration is left out (-C): it could change the output
// this program reads. A run that outlasts filter.timeoutMs is killed.
BogofilterRun RunBogofilter(const FilterProgram& filter, const QStringList& arguments, QByteArrayView input);

// The same run, its input handed over bit by bit while the caller goes on
// with its own work: give() never waits (what the child cannot take yet
// waits here, and goes with the next give() or end()), and what the child
// says meanwhile is gathered so that it never waits on us either. end()
// closes its input and waits for it, filter.timeoutMs at most from then.
// A feed dropped before end() kills its child.
class BogofilterFeed {
public:
    // Priority Low: the child gives way (nice 10) to whatever else wants
    // the processor, the mail check that feeds it above all.
    enum class Priority { Normal, Low };
    BogofilterFeed(const FilterProgram& filter, const QStringList& arguments, Priority priority = Priority::Normal);
    ~BogofilterFeed();
    BogofilterFeed(const BogofilterFeed&) = delete;
    BogofilterFeed& operator=(const BogofilterFeed&) = delete;

    void give(QByteArrayView input);
    // What the child has written on its standard output so far, without
    // waiting.
    const QByteArray& saidSoFar();
    BogofilterRun end();

private:
    // Writes what waits and gathers what the child said, without waiting.
    void pump();

    FilterProgram filter_;
    pid_t pid_ = -1;
    UniqueFd input_{-1};
    UniqueFd out_{-1};
    UniqueFd err_{-1};
    QByteArray waiting_;
    BogofilterRun run_;
};

// bogofilter's exit code when it could not do its work (the database).
inline constexpr int kBogofilterError = 3;

// Whether the run failed because Berkeley DB could not read the word list
// it found (garbage, a truncated file): not a missing file, not a missing
// permission.
bool ReportsDamagedWordList(const BogofilterRun& run, bool wordListExisted);

// Moves the damaged folder aside as "bogofilter.damaged-YYYYMMDD-HHMMSS"
// beside it and makes a new, empty one. Returns the sentence for the user.
Result<QString> SetDamagedWordListAside(const QString& folder);

// Why a run did not give an answer, as one sentence for the user.
QString RunFailureReason(const FilterProgram& filter, const BogofilterRun& run);

// The file name as bogofilter's bulk mode reads it (one name a line on
// standard input), and whether it can be given that way: a readable
// regular file, not a link, and no line break in its name. bogofilter stops
// at the first file it cannot read.
QByteArray BulkName(const QString& file);
bool UsableMessageFile(const QString& file);

}  // namespace lumopet::junk
