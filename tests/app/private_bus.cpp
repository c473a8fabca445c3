#include "tests/app/private_bus.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTest>

namespace lumopet::test {

PrivateBus::PrivateBus() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon is missing: run scripts/install-deps.sh");
        return;
    }
    folder_.write(QStringLiteral("bus.conf"),
                  QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig>\n"
                                 "  <type>session</type>\n"
                                 "  <listen>unix:dir=%1</listen>\n"
                                 "  <auth>EXTERNAL</auth>\n"
                                 "  <policy context=\"default\">\n"
                                 "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                 "    <allow eavesdrop=\"true\"/>\n"
                                 "    <allow own=\"*\"/>\n"
                                 "  </policy>\n"
                                 "</busconfig>\n")
                      .arg(folder_.path())
                      .toUtf8());
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    daemon_.start(program, {QStringLiteral("--config-file=") + folder_.path(QStringLiteral("bus.conf")),
                            QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(5000)) {
        error_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString();
        return;
    }
    QDeadlineTimer deadline(10000);
    while (!daemon_.canReadLine() && !deadline.hasExpired() && daemon_.state() == QProcess::Running)
        daemon_.waitForReadyRead(100);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    if (address_.isEmpty())
        error_ = QStringLiteral("dbus-daemon gave no address: ") + QString::fromUtf8(daemon_.readAllStandardError());
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) daemon_.kill();
        daemon_.waitForFinished(1000);
    }
}

QDBusConnection PrivateBus::connect(const QString& name) {
    connections_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

void PrivateBus::sync(const QDBusConnection& connection) {
    connection.interface()->isServiceRegistered(connection.baseService());
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace lumopet::test
