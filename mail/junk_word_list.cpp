#include "mail/junk_word_list.h"

#include "core/system_error_text.h"
#include "core/unique_fd.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace lumopet::junk {
namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The child's environment: ours, with the C locale, so that bogofilter's
// messages (which ReportsDamagedWordList reads) are always worded alike.
std::vector<std::string> childEnvironment() {
    std::vector<std::string> list;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        if (text.rfind("LC_ALL=", 0) == 0 || text.rfind("LANGUAGE=", 0) == 0) continue;
        list.push_back(text);
    }
    list.emplace_back("LC_ALL=C");
    return list;
}

struct Child {
    pid_t pid = -1;
    UniqueFd input{-1};
    UniqueFd out{-1};
    UniqueFd err{-1};
};

// posix_spawnp with the three standard streams on our ends, in a process
// group of its own (a hung run is killed whole). Standard input is a
// socket: writing to a child that has already gone then fails with EPIPE
// (MSG_NOSIGNAL) instead of killing this program with SIGPIPE.
std::optional<Child> spawn(const QString& executable, const QStringList& arguments) {
    int in[2], out[2], err[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) return std::nullopt;
    UniqueFd inChild(in[0]), inOurs(in[1]);
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    UniqueFd outOurs(out[0]), outChild(out[1]);
    if (::pipe2(err, O_CLOEXEC) != 0) return std::nullopt;
    UniqueFd errOurs(err[0]), errChild(err[1]);
    // The child writes nothing into its standard input: only we do.
    ::shutdown(inChild.get(), SHUT_WR);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inChild.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outChild.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errChild.get(), STDERR_FILENO);
    // Nothing else of ours goes with it (a socket of a mail check, a file
    // being written).
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray program = QFile::encodeName(executable);
    std::vector<QByteArray> words{program};
    for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = childEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    Child child;
    const int failed = ::posix_spawnp(&child.pid, program.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        errno = failed;
        return std::nullopt;
    }
    if (!setNonBlocking(inOurs.get()) || !setNonBlocking(outOurs.get()) || !setNonBlocking(errOurs.get())) {
        ::kill(-child.pid, SIGKILL);
        ::waitpid(child.pid, nullptr, 0);
        return std::nullopt;
    }
    child.input = std::move(inOurs);
    child.out = std::move(outOurs);
    child.err = std::move(errOurs);
    return child;
}

// Reads what is there; false at the end of the stream or on an error.
bool drain(int fd, QByteArray& into) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

int remainingMs(const QElapsedTimer& clock, int timeoutMs) {
    return static_cast<int>(std::max<qint64>(0, timeoutMs - clock.elapsed()));
}

}  // namespace

WordListMutex& WordListLock() {
    static WordListMutex lock;
    return lock;
}

bool WaitForWordList(std::unique_lock<WordListMutex>& hold, const std::atomic<bool>& cancel) {
    hold = std::unique_lock<WordListMutex>(WordListLock(), std::defer_lock);
    while (!hold.try_lock_for(std::chrono::milliseconds(100)))
        if (cancel.load()) return false;
    return true;
}

QString WordListFile(const QString& folder) { return QDir(folder).filePath(QStringLiteral("wordlist.db")); }

Status PrepareWordListFolder(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode))
            return Failure{QStringLiteral("迷惑メールの単語リストのフォルダ「%1」がリンクのため使いません。").arg(native(folder))};
        if (!S_ISDIR(info.st_mode))
            return Failure{QStringLiteral("迷惑メールの単語リストのフォルダ「%1」がフォルダではないため使いません。").arg(native(folder))};
        return success();
    }
    if (errno != ENOENT || !QDir().mkpath(QFileInfo(folder).absolutePath()) || ::mkdir(name.constData(), 0700) != 0)
        return Failure{QStringLiteral("迷惑メールの単語リストのフォルダ「%1」を作れません（%2）。").arg(native(folder), SystemErrorText(errno))};
    return success();
}

BogofilterRun RunBogofilter(const FilterProgram& filter, const QStringList& arguments, QByteArrayView input) {
    BogofilterFeed feed(filter, arguments);
    feed.give(input);
    return feed.end();
}

BogofilterFeed::BogofilterFeed(const FilterProgram& filter, const QStringList& arguments, Priority priority)
    : filter_(filter) {
    // Without Berkeley DB's transactions bogofilter read a check's
    // thousand copies in 0.18 s instead of 0.32 s. What they would guard is
    // the word list itself during a training cut short, and a word list
    // found damaged is set aside and started anew: no mail depends on it.
    QStringList words{QStringLiteral("-C"), QStringLiteral("--db-transaction=no"), QStringLiteral("-d"),
                      filter.wordListFolder};
    words += arguments;
    std::optional<Child> child = spawn(filter.executable, words);
    if (!child) return;
    // A lower priority only: a refusal leaves the child as it is.
    if (priority == Priority::Low) ::setpriority(PRIO_PROCESS, static_cast<id_t>(child->pid), 10);
    pid_ = child->pid;
    input_ = std::move(child->input);
    out_ = std::move(child->out);
    err_ = std::move(child->err);
}

BogofilterFeed::~BogofilterFeed() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

void BogofilterFeed::give(QByteArrayView input) {
    if (!input_.ok()) return;
    waiting_.append(input);
    pump();
}

const QByteArray& BogofilterFeed::saidSoFar() {
    pump();
    return run_.out;
}

void BogofilterFeed::pump() {
    while (input_.ok() && !waiting_.isEmpty()) {
        const ssize_t sent = ::send(input_.get(), waiting_.constData(), static_cast<size_t>(waiting_.size()), MSG_NOSIGNAL);
        if (sent > 0) {
            waiting_.remove(0, sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        // A child that stopped reading (EPIPE) has said what it will say.
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            input_ = UniqueFd(-1);
            waiting_.clear();
        }
        break;
    }
    if (out_.ok() && !drain(out_.get(), run_.out)) out_ = UniqueFd(-1);
    if (err_.ok() && !drain(err_.get(), run_.err)) err_ = UniqueFd(-1);
}

BogofilterRun BogofilterFeed::end() {
    if (pid_ <= 0) return std::move(run_);
    QElapsedTimer clock;
    clock.start();
    if (waiting_.isEmpty()) input_ = UniqueFd(-1);
    while ((out_.ok() || err_.ok()) && remainingMs(clock, filter_.timeoutMs) > 0) {
        pollfd watched[3];
        nfds_t count = 0;
        if (input_.ok()) watched[count++] = {input_.get(), POLLOUT, 0};
        if (out_.ok()) watched[count++] = {out_.get(), POLLIN, 0};
        if (err_.ok()) watched[count++] = {err_.get(), POLLIN, 0};
        if (::poll(watched, count, remainingMs(clock, filter_.timeoutMs)) < 0 && errno != EINTR) break;
        pump();
        if (waiting_.isEmpty()) input_ = UniqueFd(-1);
    }
    input_ = UniqueFd(-1);

    const pid_t pid = std::exchange(pid_, -1);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && remainingMs(clock, filter_.timeoutMs) > 0)
        ::usleep(5000);
    if (ended == 0) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        run_.end = BogofilterRun::End::TimedOut;
    } else if (ended < 0 || WIFSIGNALED(status)) {
        run_.end = BogofilterRun::End::Crashed;
    } else {
        run_.end = BogofilterRun::End::Exited;
        run_.exitCode = WEXITSTATUS(status);
    }
    return std::move(run_);
}

bool ReportsDamagedWordList(const BogofilterRun& run, bool wordListExisted) {
    // Berkeley DB numbers its own complaints "BDBnnnn"; a missing
    // permission is the user's to fix, not a reason to start anew.
    return wordListExisted && run.end == BogofilterRun::End::Exited && run.exitCode == kBogofilterError &&
           run.err.contains("BDB") && !run.err.contains("Permission denied");
}

Result<QString> SetDamagedWordListAside(const QString& folder) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = QStringLiteral("%1.damaged-%2").arg(QDir::cleanPath(folder), stamp);
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = QStringLiteral("%1.damaged-%2-%3").arg(QDir::cleanPath(folder), stamp).arg(n);
    if (::rename(QFile::encodeName(folder).constData(), QFile::encodeName(aside).constData()) != 0)
        return Failure{QStringLiteral("壊れた迷惑メールの単語リスト「%1」を移せません（%2）。").arg(native(folder), SystemErrorText(errno))};
    if (const Status made = PrepareWordListFolder(folder); !made) return Failure{made.error()};
    return QStringLiteral("迷惑メールの単語リストが壊れていたため、「%1」に移して新しく作り直しました。").arg(native(aside));
}

QString RunFailureReason(const FilterProgram& filter, const BogofilterRun& run) {
    switch (run.end) {
    case BogofilterRun::End::NotStarted:
        return QStringLiteral("「%1」を起動できません。bogofilter が入っているか確かめてください。").arg(filter.executable);
    case BogofilterRun::End::Crashed:
        return QStringLiteral("bogofilter が異常終了しました。");
    case BogofilterRun::End::TimedOut:
        return QStringLiteral("bogofilter が %1 秒たっても終わらなかったため止めました。").arg((filter.timeoutMs + 999) / 1000);
    case BogofilterRun::End::Exited:
        break;
    }
    // Its first line of complaint says most (the later ones are advice).
    for (const QByteArray& line : run.err.split('\n')) {
        const QByteArray text = line.trimmed();
        if (!text.isEmpty())
            return QStringLiteral("bogofilter がエラーを返しました（%1）。").arg(QString::fromLocal8Bit(text.left(200)));
    }
    return QStringLiteral("bogofilter が終了コード %1 で終わりました。").arg(run.exitCode);
}

QByteArray BulkName(const QString& file) { return QFile::encodeName(file); }

bool UsableMessageFile(const QString& file) {
    const QByteArray name = BulkName(file);
    struct stat info {};
    return !name.contains('\n') && !name.contains('\r') && ::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(name.constData(), R_OK) == 0;
}

}  // namespace lumopet::junk
