// The wake from sleep, with the test playing logind on a private bus.

#include "app/sleep_watcher.h"
#include "tests/app/private_bus.h"

#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

void EmitPrepareForSleep(const QDBusConnection& connection, bool goingToSleep) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << goingToSleep;
    EXPECT_TRUE(connection.send(signal));
}

TEST(SleepWatcherTest, WokeOnlyWhenLogindSaysTheSleepIsOver) {
    test::PrivateBus bus;
    ASSERT_TRUE(bus.error().isEmpty()) << bus.error().toStdString();
    QDBusConnection logind = bus.connect(QStringLiteral("logind"));
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    const QDBusConnection stranger = bus.connect(QStringLiteral("stranger"));
    SleepWatcher watcher(bus.connect(QStringLiteral("program")));
    QSignalSpy woke(&watcher, &SleepWatcher::woke);

    // Someone else's signal of the same name comes first and is ignored.
    EmitPrepareForSleep(stranger, false);
    test::PrivateBus::sync(stranger);
    EmitPrepareForSleep(logind, true);
    EmitPrepareForSleep(logind, false);
    ASSERT_TRUE(test::WaitFor([&] { return woke.count() >= 1; }));
    QTest::qWait(50);
    EXPECT_EQ(woke.count(), 1);
}

int g_warnings = 0;
void CountWarning(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtDebugMsg && type != QtInfoMsg) ++g_warnings;
}

TEST(SleepWatcherTest, WithoutSystemBusNothingIsSaid) {
    g_warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(CountWarning);
    { SleepWatcher unconnected{QDBusConnection(QStringLiteral("never connected"))}; }
    { SleepWatcher system; }  // this machine's system bus, when it has one
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_warnings, 0);
}

}  // namespace
}  // namespace lumopet
