#include "app/sleep_watcher.h"

#include <QString>

namespace lumopet {

SleepWatcher::SleepWatcher(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    // Only logind's own signal: the service name makes the bus drop the same
    // signal sent by anyone else.
    bus_.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                 QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                 SLOT(onPrepareForSleep(bool)));
}

void SleepWatcher::onPrepareForSleep(bool goingToSleep) {
    if (!goingToSleep) Q_EMIT woke();
}

}  // namespace lumopet
