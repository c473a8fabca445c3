#include "mail/junk_filter.h"

#include "mail/junk_word_list.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace lumopet::junk {
namespace {

const QString kNotRun = QStringLiteral(
    "迷惑メールの振り分け（bogofilter）を実行できませんでした。振り分けられなかったメールは着信履歴に保存しました。");

// One answer of "-b -t -v" on the file it names: "<name> <S|H|U>
// <spamicity>"; whether it says spam, or nothing when the line is not that.
std::optional<bool> answerOn(QByteArrayView line, const QByteArray& name) {
    if (!line.startsWith(name) || line.size() <= name.size() || line[name.size()] != ' ') return std::nullopt;
    const QList<QByteArray> words = line.sliced(name.size() + 1).toByteArray().split(' ');
    bool number = false;
    if (words.size() != 2 || (words[0] != "S" && words[0] != "H" && words[0] != "U")) return std::nullopt;
    words[1].toDouble(&number);
    if (!number) return std::nullopt;
    return words[0] == "S";
}

// The answers, one line a file in the order given. Nothing unless there is
// exactly one well-formed answer for each name, in order: an answer that
// cannot be matched to its file must not move any message.
std::optional<std::vector<bool>> readAnswers(const QByteArray& out, const std::vector<QByteArray>& names) {
    QList<QByteArray> lines = out.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    if (lines.size() != static_cast<qsizetype>(names.size())) return std::nullopt;
    std::vector<bool> spam;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::optional<bool> answer = answerOn(lines[static_cast<qsizetype>(i)], names[i]);
        if (!answer) return std::nullopt;
        spam.push_back(*answer);
    }
    return spam;
}

struct Attempt {
    BogofilterRun run;
    bool wordListExisted = false;
};

Attempt classify(const FilterProgram& filter, const std::vector<QByteArray>& names) {
    QByteArray input;
    for (const QByteArray& name : names) input += name + '\n';
    Attempt attempt;
    attempt.wordListExisted = QFileInfo::exists(WordListFile(filter.wordListFolder));
    attempt.run = RunBogofilter(filter, {QStringLiteral("-b"), QStringLiteral("-t"), QStringLiteral("-v")}, input);
    return attempt;
}

// Before the first training there is no word list yet, and bogofilter says
// it cannot open one: every message is unsure, which is no fault.
bool firstUse(const Attempt& attempt) {
    return !attempt.wordListExisted && attempt.run.end == BogofilterRun::End::Exited &&
           attempt.run.exitCode == kBogofilterError && attempt.run.out.isEmpty() && attempt.run.err.contains("wordlist.db");
}

QString joined(const QString& first, const QString& second) {
    return first.isEmpty() ? second : second.isEmpty() ? first : first + second;
}

}  // namespace

FilterProgram FilterFor(const ProgramPaths& paths) {
    FilterProgram filter;
    filter.wordListFolder = paths.path(QStringLiteral("\\★MAilData\\bogofilter"));
    const QString chosen = qEnvironmentVariable("LUMOPET_BOGOFILTER");
    if (!chosen.isEmpty()) {
        filter.executable = chosen;
    } else {
        const QString found = QStandardPaths::findExecutable(QStringLiteral("bogofilter"));
        filter.executable = found.isEmpty() ? QStringLiteral("bogofilter") : found;
    }
    return filter;
}

Classification ClassifyFiles(const FilterProgram& filter, const QStringList& files) {
    BulkClassifier classifier(filter);
    classifier.add(files);
    return classifier.finish();
}

BulkClassifier::BulkClassifier(FilterProgram filter) : filter_(std::move(filter)) {}

BulkClassifier::~BulkClassifier() = default;

void BulkClassifier::add(const QStringList& files) {
    const qsizetype first = added_;
    added_ += files.size();
    if (!notReady_.isEmpty()) {
        nameAt_.resize(static_cast<size_t>(added_), -1);
        return;
    }
    // A file that is gone, or a link or FIFO in a file's place, is left out
    // (not junk): in bulk mode bogofilter stops at the first it cannot read.
    QByteArray input;
    for (qsizetype i = 0; i < files.size(); ++i) {
        nameAt_.push_back(-1);
        if (!UsableMessageFile(files[i])) continue;
        nameAt_.back() = static_cast<qsizetype>(names_.size());
        names_.push_back(BulkName(files[i]));
        positions_.push_back(static_cast<size_t>(first + i));
        input += names_.back() + '\n';
    }
    if (input.isEmpty()) return;
    if (!feed_) {
        if (const Status ready = PrepareWordListFolder(filter_.wordListFolder); !ready) {
            notReady_ = ready.error();
            return;
        }
        hold_ = std::unique_lock<std::timed_mutex>(WordListLock());
        wordListExisted_ = QFileInfo::exists(WordListFile(filter_.wordListFolder));
        feed_ = std::make_unique<BogofilterFeed>(
            filter_, QStringList{QStringLiteral("-b"), QStringLiteral("-t"), QStringLiteral("-v")},
            BogofilterFeed::Priority::Low);
    }
    feed_->give(input);
}

std::optional<bool> BulkClassifier::spamSoFar(qsizetype position) {
    if (position < 0 || position >= added_) return std::nullopt;
    const qsizetype name = nameAt_[static_cast<size_t>(position)];
    if (name < 0) return false;
    if (name < static_cast<qsizetype>(answered_.size())) return answered_[static_cast<size_t>(name)];
    if (!feed_ || garbled_) return std::nullopt;
    const QByteArray& said = feed_->saidSoFar();
    for (qsizetype end = said.indexOf('\n', readUpTo_); end >= 0 && answered_.size() < names_.size();
         end = said.indexOf('\n', readUpTo_)) {
        const std::optional<bool> answer =
            answerOn(QByteArrayView(said).sliced(readUpTo_, end - readUpTo_), names_[answered_.size()]);
        if (!answer) {
            garbled_ = true;
            break;
        }
        answered_.push_back(*answer);
        readUpTo_ = end + 1;
    }
    if (name < static_cast<qsizetype>(answered_.size())) return answered_[static_cast<size_t>(name)];
    return std::nullopt;
}

Classification BulkClassifier::finish() {
    Classification result;
    result.spam.assign(static_cast<size_t>(added_), false);
    if (!notReady_.isEmpty()) {
        result.problem = kNotRun + notReady_;
        return result;
    }
    if (!feed_) {
        result.ran = true;
        return result;
    }
    Attempt attempt{feed_->end(), wordListExisted_};
    feed_.reset();
    QString setAside;
    if (ReportsDamagedWordList(attempt.run, attempt.wordListExisted)) {
        Result<QString> moved = SetDamagedWordListAside(filter_.wordListFolder);
        if (!moved) {
            result.problem = kNotRun + moved.error();
            return result;
        }
        setAside = moved.value();
        attempt = classify(filter_, names_);
    }
    hold_ = {};
    if (firstUse(attempt)) {
        result.ran = true;
        result.problem = setAside;
        return result;
    }
    if (attempt.run.end != BogofilterRun::End::Exited || attempt.run.exitCode >= kBogofilterError) {
        result.problem = joined(setAside, kNotRun + RunFailureReason(filter_, attempt.run));
        return result;
    }
    const std::optional<std::vector<bool>> answers = readAnswers(attempt.run.out, names_);
    if (!answers) {
        result.problem = joined(setAside, kNotRun + QStringLiteral("bogofilter の答えが読めませんでした。"));
        return result;
    }
    for (size_t i = 0; i < positions_.size(); ++i) result.spam[positions_[i]] = (*answers)[i];
    result.ran = true;
    result.problem = setAside;
    return result;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The header's fields, each unfolded (continuation lines joined), up to the
// first empty line; a line without a colon is skipped.
QList<std::pair<QByteArray, QByteArray>> headerFields(QByteArrayView source) {
    QList<std::pair<QByteArray, QByteArray>> fields;
    qsizetype at = 0;
    while (at < source.size()) {
        qsizetype end = source.indexOf('\n', at);
        if (end < 0) end = source.size();
        QByteArrayView line = source.sliced(at, end - at);
        if (line.endsWith('\r')) line.chop(1);
        at = end + 1;
        if (line.isEmpty()) break;
        if (isBlank(line.front())) {
            if (fields.isEmpty()) continue;
            QByteArray& value = fields.back().second;
            if (!value.isEmpty()) value.append(' ');
            value.append(line.trimmed());
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            fields.emplaceBack();
            continue;
        }
        fields.append({line.first(colon).trimmed().toByteArray().toLower(), line.sliced(colon + 1).trimmed().toByteArray()});
    }
    return fields;
}

}  // namespace

bool ProviderMarksJunk(QByteArrayView source) {
    for (const auto& [name, value] : headerFields(source)) {
        if (name == "x-spam-flag" && value.compare("YES", Qt::CaseInsensitive) == 0) return true;
        if (name == "x-spam-status" && value.size() >= 3 && value.first(3).compare("yes", Qt::CaseInsensitive) == 0 &&
            (value.size() == 3 || value[3] == ',' || isBlank(value[3])))
            return true;
    }
    return false;
}

}  // namespace lumopet::junk
