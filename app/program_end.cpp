#include "app/program_end.h"

#include "compose/draft_keeper.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet {
namespace {

// The classic self-pipe: a handler may only write a byte; the window
// thread reads it and does the work.
int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void writeDrafts() {
    for (const QString& failure : DraftKeeper::saveAll()) qWarning("%s", qUtf8Printable(failure));
}

}  // namespace

bool EndSignals::install() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        qWarning("Lumopet: no pipe for SIGTERM (%s); a SIGTERM loses what is typed since the last draft.", std::strerror(errno));
        return false;
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &EndSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(number, &action, nullptr);
    return true;
}

void EndSignals::readSignal() {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    Q_EMIT endRequested();
}

void KeepDraftsAtSessionEnd() {
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (application) {
        // The session manager asks before it logs out or shuts down; the
        // program does not object, it only keeps what is typed.
        QObject::connect(application, &QGuiApplication::commitDataRequest, application, [](QSessionManager&) { writeDrafts(); },
                         Qt::DirectConnection);
    }
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, QCoreApplication::instance(), writeDrafts,
                     Qt::DirectConnection);
}

}  // namespace lumopet
