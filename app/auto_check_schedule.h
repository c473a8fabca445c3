#pragma once
// When the next automatic mail check is due. Plain arithmetic on a clock the
// caller passes in (milliseconds since any fixed moment, never going back),
// so that every decision can be tried without waiting for it.
//
// - Every N minutes (0: never), counted from the end of the last check of
//   either kind: a click on 受信 starts the interval afresh.
// - A few seconds after the machine wakes or the network comes back, so that
//   the connection has settled; checks started for such an event come at
//   most once a minute, however often the network flaps.
// - A check that falls due while the program is busy with something else (a
//   command running, a modal box, a settings window open) waits, and is
//   tried again shortly until the program is free.
// - Nothing of this runs while the option is off: the events are ignored and
//   nothing is ever due.

#include <cstdint>
#include <optional>

namespace lumopet {

class AutoCheckSchedule {
public:
    using Millis = std::int64_t;

    static constexpr Millis kSettleDelay = 5'000;          // after a wake or the network's return
    static constexpr Millis kEventCheckSpacing = 60'000;   // between checks started for such events
    static constexpr Millis kBusyRetry = 10'000;           // while the program is busy

    enum class Decision {
        Wait,      // nothing due yet: arm the timer for nextDue()
        Start,     // start a check now, then call checkStarted()
        Postpone,  // due, but the program is busy: nextDue() is the retry
    };

    // The user's interval; 0 turns the checks off. A changed interval counts
    // from now; the same one again leaves the next check where it was.
    void setMinutes(int minutes, Millis now);
    // For tests only: the interval in seconds instead of the user's minutes,
    // while the option is on. 0 takes the override away.
    void setTestIntervalSeconds(int seconds, Millis now);
    bool enabled() const { return interval() > 0; }
    Millis interval() const;

    // The machine woke from sleep, or the network came back.
    void eventHappened(Millis now);

    // The moment the timer should fire next; none while the option is off
    // or a check runs.
    std::optional<Millis> nextDue() const;
    // The timer fired (or anything else asks): what to do now.
    Decision decide(Millis now, bool busy);

    // A check of either kind began or ended.
    void checkStarted(Millis now);
    void checkFinished(Millis now);
    bool checkRunning() const { return running_; }

private:
    void restartInterval(Millis now);

    int minutes_ = 0;
    int testSeconds_ = 0;
    bool running_ = false;
    std::optional<Millis> regularDue_;
    std::optional<Millis> eventDue_;
    std::optional<Millis> retryAt_;
    std::optional<Millis> lastEventCheck_;
};

}  // namespace lumopet
