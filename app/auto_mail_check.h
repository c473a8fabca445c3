#pragma once
// The timed mail check: one single-shot timer armed for the next moment a
// check is due, and nothing ticking in between, so that the idle program
// costs nothing. The machine's wake and the network's return arm it for a
// few seconds later. When a check falls due while the program is busy it
// is tried again shortly; when the program is free, checkDue asks the main
// window to start one.

#include "app/auto_check_schedule.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace lumopet {

class SleepWatcher;

class AutoMailCheck : public QObject {
    Q_OBJECT
public:
    // busy: whether a check now would get in the user's way.
    explicit AutoMailCheck(std::function<bool()> busy, QObject* parent = nullptr);

    // AutoCheckMinutes; 0 turns the checks off. The wake and network
    // watchers start with the first interval that is on.
    void setMinutes(int minutes);
    // For tests: an interval in seconds in place of the minutes.
    void setIntervalForTests(int seconds);

    // Every check, automatic or the user's own, as it starts and ends.
    void checkStarted();
    void checkFinished();
    // The machine woke from sleep or the network came back.
    void eventHappened();

    bool isArmed() const { return timer_.isActive(); }
    // Milliseconds until the timer fires; -1 when it is not armed.
    int remainingMilliseconds() const { return timer_.isActive() ? timer_.remainingTime() : -1; }

Q_SIGNALS:
    void checkDue();

private:
    AutoCheckSchedule::Millis now() const { return clock_.elapsed(); }
    void arm();
    void onTimeout();
    void watchDesktop();

    std::function<bool()> busy_;
    AutoCheckSchedule schedule_;
    QTimer timer_;
    QElapsedTimer clock_;  // monotonic: it stands still in sleep, as the timer does
    bool watching_ = false;
};

}  // namespace lumopet
