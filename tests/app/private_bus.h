#pragma once
// A D-Bus daemon of the test's own, on a socket in a temporary folder, with
// no services to start and a policy that lets any connection own any name:
// the test plays the notification server or logind on it.

#include "tests/support/temp_folder.h"

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace lumopet::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    // Empty once the daemon runs; else why it does not.
    QString error() const { return error_; }
    // A new connection to the bus, closed with the bus.
    QDBusConnection connect(const QString& name);
    // Returns once the bus has routed everything this connection sent
    // before (one round trip to the daemon).
    static void sync(const QDBusConnection& connection);

private:
    TempFolder folder_;
    QProcess daemon_;
    QString address_;
    QStringList connections_;
    QString error_;
};

// Runs the event loop until the condition holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int milliseconds = 5000);

}  // namespace lumopet::test
