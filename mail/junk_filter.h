#pragma once
// The junk filter: bogofilter, the Bayesian filter the user trains, with
// its word list in "★MailData\bogofilter", and the provider's own verdict
// in the header. A check hands it the Maildir copies of its new messages
// as they are written, a batch at a time: one bogofilter process a check,
// in its bulk mode, not one a message.
//
// The filter may only ever move a message's record: whatever goes wrong
// with bogofilter (missing, crashing, hanging, a damaged word list), every
// message counts as not junk and is stored as it always was.

#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumopet::junk {

// Where bogofilter is and what it may take.
struct FilterProgram {
    // "★MailData\bogofilter", made when missing.
    QString wordListFolder;
    // "bogofilter" from PATH; LUMOPET_BOGOFILTER names another (the tests'
    // stand-ins that crash or hang).
    QString executable;
    // A run that has not ended by then is killed: the filter did not run.
    int timeoutMs = 60'000;
};
FilterProgram FilterFor(const ProgramPaths& paths);

struct Classification {
    // bogofilter ran and answered for every file.
    bool ran = false;
    // One per file, in the order given: bogofilter said spam. Unsure and
    // ham are false; all false when it did not run.
    std::vector<bool> spam;
    // One line for the user, empty when all went well: why the filter did
    // not run, or that a damaged word list was set aside and started anew
    // (then ran may be true).
    QString problem;
};

// One bogofilter process in bulk mode over the files (Maildir copies).
Classification ClassifyFiles(const FilterProgram& filter, const QStringList& files);

class BogofilterFeed;

// The same, with the files handed over in batches as they come: a check
// gives bogofilter the copies it has written while it fetches the next
// ones, so that bogofilter reads them on a processor the check leaves idle
// (at a low priority, giving way to the check). The word list is held
// (WordListLock) from the first file to finish(): a verdict or a training
// waits for the check, as it would for ClassifyFiles.
class BulkClassifier {
public:
    explicit BulkClassifier(FilterProgram filter);
    ~BulkClassifier();
    BulkClassifier(const BulkClassifier&) = delete;
    BulkClassifier& operator=(const BulkClassifier&) = delete;

    // Never waits for bogofilter.
    void add(const QStringList& files);
    // bogofilter's verdict on the file added at position (spam or not),
    // when it has given it already; never waits. A file left out is not
    // spam at once. After an answer that cannot be matched to its file, no
    // more come before finish().
    std::optional<bool> spamSoFar(qsizetype position);
    // Waits for bogofilter's answers: one verdict per file added, in the
    // order added.
    Classification finish();

private:
    FilterProgram filter_;
    qsizetype added_ = 0;
    std::vector<QByteArray> names_;   // the usable files, as bogofilter reads them
    std::vector<size_t> positions_;   // the place of each among the files added
    std::vector<qsizetype> nameAt_;   // for each file added, its name's index; -1 when left out
    std::vector<bool> answered_;      // the verdicts read so far, name by name
    qsizetype readUpTo_ = 0;          // in bogofilter's output
    bool garbled_ = false;            // an answer did not match its name
    QString notReady_;                // the word list folder could not be used
    bool wordListExisted_ = false;
    std::unique_lock<std::timed_mutex> hold_;
    std::unique_ptr<BogofilterFeed> feed_;
};

// The provider's verdict in the message's header (the header alone is
// read): "X-Spam-Flag: YES" or "X-Spam-Status: Yes...", as SpamAssassin
// and the providers that run it write them.
bool ProviderMarksJunk(QByteArrayView source);

enum class Verdict { Junk, NotJunk };

// The user's verdict on message files (the 迷惑メール / 迷惑メールではない
// buttons): bogofilter learns them, and a file it learnt the other way
// before is unlearnt first, so that reversing a verdict leaves no trace of
// the first. What was learnt of which file is kept beside the word list.
Status TrainVerdict(const FilterProgram& filter, const QStringList& files, Verdict verdict);

// Training in bulk when the user turns the filter on: a Maildir, a folder
// of message files, or an mbox file, learnt as verdict. progress(done,
// total) is called now and then; cancel stops between messages. Returns
// the number of messages learnt.
Result<int> TrainFromPlace(const FilterProgram& filter, const QString& place, Verdict verdict,
                           const std::function<void(int done, int total)>& progress,
                           const std::atomic<bool>& cancel);

}  // namespace lumopet::junk
