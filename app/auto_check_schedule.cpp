#include "app/auto_check_schedule.h"

#include "core/settings_files/receive_options.h"

#include <algorithm>

namespace lumopet {

void AutoCheckSchedule::setMinutes(int minutes, Millis now) {
    minutes = std::clamp(minutes, 0, kMaxAutoCheckMinutes);
    if (minutes == minutes_) return;
    minutes_ = minutes;
    restartInterval(now);
}

void AutoCheckSchedule::setTestIntervalSeconds(int seconds, Millis now) {
    seconds = std::max(seconds, 0);
    if (seconds == testSeconds_) return;
    testSeconds_ = seconds;
    restartInterval(now);
}

AutoCheckSchedule::Millis AutoCheckSchedule::interval() const {
    if (minutes_ <= 0) return 0;
    if (testSeconds_ > 0) return Millis{testSeconds_} * 1000;
    return Millis{minutes_} * 60'000;
}

void AutoCheckSchedule::restartInterval(Millis now) {
    retryAt_.reset();
    if (!enabled()) {
        regularDue_.reset();
        eventDue_.reset();
        return;
    }
    // A check running now starts the interval when it ends.
    if (!running_) regularDue_ = now + interval();
}

void AutoCheckSchedule::eventHappened(Millis now) {
    if (!enabled()) return;
    Millis due = now + kSettleDelay;
    if (lastEventCheck_) due = std::max(due, *lastEventCheck_ + kEventCheckSpacing);
    eventDue_ = eventDue_ ? std::min(*eventDue_, due) : due;
}

std::optional<AutoCheckSchedule::Millis> AutoCheckSchedule::nextDue() const {
    if (!enabled() || running_) return std::nullopt;
    // What was postponed lies in the past; the retry is the next moment,
    // and the check it starts serves whatever else is waiting.
    if (retryAt_) return retryAt_;
    if (regularDue_ && eventDue_) return std::min(*regularDue_, *eventDue_);
    return regularDue_ ? regularDue_ : eventDue_;
}

AutoCheckSchedule::Decision AutoCheckSchedule::decide(Millis now, bool busy) {
    const std::optional<Millis> due = nextDue();
    if (!due || now < *due) return Decision::Wait;
    if (busy) {
        retryAt_ = now + kBusyRetry;
        return Decision::Postpone;
    }
    return Decision::Start;
}

void AutoCheckSchedule::checkStarted(Millis now) {
    running_ = true;
    retryAt_.reset();
    regularDue_.reset();
    // Any check after the event finds what the network brought; only one
    // started for the event counts against the once a minute.
    if (eventDue_ && *eventDue_ <= now) lastEventCheck_ = now;
    eventDue_.reset();
}

void AutoCheckSchedule::checkFinished(Millis now) {
    running_ = false;
    retryAt_.reset();
    if (enabled()) regularDue_ = now + interval();
}

}  // namespace lumopet
