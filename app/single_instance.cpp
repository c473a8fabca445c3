#include "app/single_instance.h"

#include "core/program_paths.h"
#include "core/system_error_text.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

// What a second start says, and what the first answers once its main
// window is in front. Anything else on the socket is somebody else's.
const QByteArray kRequest = QByteArrayLiteral("lumopet show\n");
const QByteArray kAnswer = QByteArrayLiteral("shown\n");

// A stranger may open many connections; a second start needs one.
constexpr int kMaxConnections = 4;
// Between two tries to reach a first program that is still starting.
constexpr int kRetryMilliseconds = 100;

const QString kSentenceEnd =
    QStringLiteral("同じ履歴やアドレス帳、設定に二つのプログラムが同時に書き込まないよう、終了します。");

// The socket's peer runs as this user. The socket folder is the user's
// own, so this only matters when it is not (no runtime folder of the
// user's: the shared temporary folder).
bool peerIsThisUser(qintptr socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return socket >= 0 && ::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

// The socket's full path: in the user's runtime folder (only the user can
// enter it), named from the lock file's device and inode. Two starts that
// contend for one lock opened one file, whatever path led them there (a
// link to the program folder, a bind mount), so they meet at one name; and
// the name stays short, as a socket's path must be.
QString socketPathFor(int lockFd) {
    struct stat info {};
    ::fstat(lockFd, &info);
    const QByteArray identity = QByteArray::number(static_cast<qulonglong>(info.st_dev)) + ':' +
                                QByteArray::number(static_cast<qulonglong>(info.st_ino));
    const QByteArray hash = QCryptographicHash::hash(identity, QCryptographicHash::Sha256).toHex().left(32);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("lumopet-%1-%2").arg(::geteuid()).arg(QString::fromLatin1(hash)));
}

// Runs the event loop for a while: a first program in this same process
// (the tests) answers meanwhile, and the windows of this one stay drawn.
void waitFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    // Closing the server removes its socket file; the lock goes with the
    // descriptor.
    delete server_;
}

bool SingleInstance::openLockFile(const QString& file) {
    const QByteArray name = QFile::encodeName(file);
    const auto refuse = [&](int error) {
        failure_ = QStringLiteral("ロックファイルを開けません（%1）。%2\n%3").arg(SystemErrorText(error), kSentenceEnd, file);
        return false;
    };
    const auto notAFile = [&] {
        lock_ = UniqueFd(-1);
        failure_ = QStringLiteral("ロックファイルが通常のファイルではありません。%1\n%2").arg(kSentenceEnd, file);
        return false;
    };
    // A link is never followed (O_NOFOLLOW gives ELOOP), and opening a FIFO
    // or a device must neither wait nor reach a driver: anything but a
    // regular file is refused before it is opened, and once more after, in
    // case it was swapped in between.
    struct stat before {};
    if (::lstat(name.constData(), &before) == 0) {
        if (S_ISLNK(before.st_mode)) return refuse(ELOOP);
        if (S_ISDIR(before.st_mode)) return refuse(EISDIR);
        if (!S_ISREG(before.st_mode)) return notAFile();
    }
    // Nothing is ever written into it: the lock is all it is for.
    const int fd = ::open(name.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return refuse(errno);
    lock_ = UniqueFd(fd);
    struct stat after {};
    if (::fstat(fd, &after) != 0) return refuse(errno);
    return S_ISREG(after.st_mode) || notAFile();
}

bool SingleInstance::tryLock() {
    int result;
    do result = ::flock(lock_.get(), LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EWOULDBLOCK)
        failure_ = QStringLiteral("ロックファイルをロックできません（%1）。%2\n%3")
                       .arg(SystemErrorText(errno), kSentenceEnd, lockFile_);
    return false;
}

SingleInstance::Role SingleInstance::start(const ProgramPaths& paths) {
    lockFile_ = paths.path(files::ProgramLock);
    if (!openLockFile(lockFile_)) return Role::Failed;
    serverName_ = socketPathFor(lock_.get());
    const QDeadlineTimer deadline(kHandOverMilliseconds);
    for (;;) {
        // Tried again on every round: a first program that ends (or dies)
        // while a second start waits for it leaves the folder to this one.
        if (tryLock()) {
            listen();
            return Role::First;
        }
        if (!failure_.isEmpty()) return Role::Failed;
        if (askFirst(static_cast<int>(std::max<qint64>(deadline.remainingTime(), kRetryMilliseconds))) ==
            Asked::Answered) {
            lock_ = UniqueFd(-1);
            return Role::HandedOver;
        }
        if (deadline.hasExpired()) break;
        waitFor(static_cast<int>(std::min<qint64>(kRetryMilliseconds, deadline.remainingTime())));
    }
    lock_ = UniqueFd(-1);
    failure_ = QStringLiteral("このプログラムフォルダのルモペットはもう起動していますが、応答がありません。%1\n%2")
                   .arg(kSentenceEnd, paths.folder());
    return Role::Failed;
}

void SingleInstance::listen() {
    server_ = new QLocalServer(this);
    // Only this user may connect (the socket is made 0700).
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(kMaxConnections);
    // We hold the lock, so nobody listens at this name: whatever is there
    // is the socket file of a program that crashed.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_)) {
        // The program still runs safely on the lock; a second start cannot
        // reach it and says so.
        qWarning("Cannot listen for a second start at %s: %s", qUtf8Printable(serverName_),
                 qUtf8Printable(server_->errorString()));
        delete server_;
        server_ = nullptr;
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnections);
}

void SingleInstance::takeConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (openConnections_ >= kMaxConnections || !peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++openConnections_;
        connect(socket, &QObject::destroyed, this, [this] { --openConnections_; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Qt reads no more than this much from the system for us.
        socket->setReadBufferSize(kRequest.size());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        QTimer::singleShot(kRequestMilliseconds, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        readRequest(socket);
    }
}

void SingleInstance::readRequest(QLocalSocket* socket) {
    if (socket->state() != QLocalSocket::ConnectedState) return;
    const QByteArray got = socket->peek(kRequest.size());
    if (!kRequest.startsWith(got)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (got.size() < kRequest.size()) return;
    socket->read(kRequest.size());
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    Q_EMIT showRequested();
    socket->write(kAnswer);
    socket->disconnectFromServer();
}

SingleInstance::Asked SingleInstance::askFirst(int milliseconds) {
    QLocalSocket socket;
    QEventLoop loop;
    bool connected = false;
    bool done = false;
    QByteArray answer;
    const auto finish = [&] {
        done = true;
        loop.quit();
    };
    connect(&socket, &QLocalSocket::connected, &loop, [&] {
        if (!peerIsThisUser(socket.socketDescriptor())) {
            socket.abort();
            return finish();
        }
        connected = true;
        socket.write(kRequest);
    });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        answer += socket.read(kAnswer.size() - answer.size());
        if (!kAnswer.startsWith(answer) || answer == kAnswer) finish();
    });
    connect(&socket, &QLocalSocket::errorOccurred, &loop, finish);
    connect(&socket, &QLocalSocket::disconnected, &loop, finish);
    // A first program busy starting up answers once its event loop runs:
    // it may take the rest of the wait for that.
    QTimer::singleShot(milliseconds, &loop, finish);
    socket.connectToServer(serverName_);
    if (!done && socket.state() == QLocalSocket::UnconnectedState) done = true;
    if (!done) loop.exec();
    // Whatever came with the disconnection is read too.
    if (answer != kAnswer && socket.bytesAvailable() > 0)
        answer += socket.read(kAnswer.size() - answer.size());
    socket.abort();
    if (answer == kAnswer) return Asked::Answered;
    return connected ? Asked::NoAnswer : Asked::NoServer;
}

}  // namespace lumopet
