#pragma once
// The machine waking from sleep, as logind announces it on the system bus
// (org.freedesktop.login1.Manager's PrepareForSleep(false)): a mail check
// is due then, since the timer slept too. No system bus (a container, a
// build machine): nothing happens.

#include <QDBusConnection>
#include <QObject>

namespace lumopet {

class SleepWatcher : public QObject {
    Q_OBJECT
public:
    explicit SleepWatcher(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);

Q_SIGNALS:
    void woke();

private Q_SLOTS:
    void onPrepareForSleep(bool goingToSleep);

private:
    QDBusConnection bus_;
};

}  // namespace lumopet
