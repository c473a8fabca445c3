#pragma once
// One program per program folder. The histories, the address book and the
// settings files are written in place by whoever runs on the folder; two
// programs on one folder would write over each other's records. So the
// first start holds a lock on a file in the data folder for its whole run,
// and a second start (a double click in the menu while the program is up)
// asks the first to bring its main window to the front, then ends.
//
// The lock is flock(2) on "★MailData\lumopet.lock": the kernel lets go of
// it when the process ends however it ends, so a crashed program never
// stands in the way of the next start. The request travels over a local
// socket that only this user can reach, named from the lock file itself, so
// two starts that contend for the same lock always meet at the same socket.

#include "core/unique_fd.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace lumopet {

class ProgramPaths;

namespace files {
inline const QString ProgramLock = QStringLiteral("\\★MailData\\lumopet.lock");
}

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        First,       // this process runs the program; the lock is held
        HandedOver,  // another process runs it and has been asked to the front
        Failed,      // neither: failure() says why, and the program must end
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or hands over to the process that holds it. Waits a
    // few seconds at most, running the event loop meanwhile. Called once.
    Role start(const ProgramPaths& paths);

    // The sentence for the user after Failed.
    const QString& failure() const { return failure_; }
    // Where the first process listens (a full path); empty before start.
    const QString& serverName() const { return serverName_; }

    // How long a second start keeps trying to reach the first, which may
    // still be starting, and how long the first gives a connection to say
    // what it wants.
    static constexpr int kHandOverMilliseconds = 5000;
    static constexpr int kRequestMilliseconds = 2000;

Q_SIGNALS:
    // The first program: a second start asked for the main window.
    void showRequested();

private:
    enum class Asked { Answered, NoServer, NoAnswer };

    // Opens the lock file without following a link and refuses anything but
    // a regular file. False with failure_ set when it cannot.
    bool openLockFile(const QString& file);
    bool tryLock();
    void listen();
    // One try: connect, ask, wait up to the given time for the answer.
    Asked askFirst(int milliseconds);
    void takeConnections();
    void readRequest(QLocalSocket* socket);

    UniqueFd lock_{-1};
    QString lockFile_;
    QString serverName_;
    QString failure_;
    QLocalServer* server_ = nullptr;
    int openConnections_ = 0;
};

}  // namespace lumopet
