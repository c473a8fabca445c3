#include "app/auto_mail_check.h"

#include "app/sleep_watcher.h"

#include <QNetworkInformation>

#include <algorithm>
#include <limits>

namespace lumopet {

AutoMailCheck::AutoMailCheck(std::function<bool()> busy, QObject* parent)
    : QObject(parent), busy_(std::move(busy)) {
    clock_.start();
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &AutoMailCheck::onTimeout);
}

void AutoMailCheck::setMinutes(int minutes) {
    schedule_.setMinutes(minutes, now());
    if (schedule_.enabled()) watchDesktop();
    arm();
}

void AutoMailCheck::setIntervalForTests(int seconds) {
    schedule_.setTestIntervalSeconds(seconds, now());
    arm();
}

void AutoMailCheck::checkStarted() {
    schedule_.checkStarted(now());
    arm();
}

void AutoMailCheck::checkFinished() {
    schedule_.checkFinished(now());
    arm();
}

void AutoMailCheck::eventHappened() {
    schedule_.eventHappened(now());
    arm();
}

void AutoMailCheck::arm() {
    const std::optional<AutoCheckSchedule::Millis> due = schedule_.nextDue();
    if (!due) {
        timer_.stop();
        return;
    }
    const AutoCheckSchedule::Millis wait =
        std::clamp<AutoCheckSchedule::Millis>(*due - now(), 0, std::numeric_limits<int>::max());
    timer_.start(static_cast<int>(wait));
}

void AutoMailCheck::onTimeout() {
    const AutoCheckSchedule::Millis at = now();
    if (schedule_.decide(at, busy_()) == AutoCheckSchedule::Decision::Start) {
        Q_EMIT checkDue();
        // Whoever was asked could not start one after all: try again later
        // rather than at once.
        if (!schedule_.checkRunning()) schedule_.decide(at, true);
    }
    arm();
}

void AutoMailCheck::watchDesktop() {
    if (watching_) return;
    watching_ = true;
    // Both watchers sit on the buses and cost nothing until something
    // happens; without a bus or a backend there is simply no event.
    auto* sleep = new SleepWatcher(QDBusConnection::systemBus(), this);
    connect(sleep, &SleepWatcher::woke, this, &AutoMailCheck::eventHappened);
    if (QNetworkInformation::instance() || QNetworkInformation::loadDefaultBackend()) {
        QNetworkInformation* network = QNetworkInformation::instance();
        if (network->supports(QNetworkInformation::Feature::Reachability)) {
            connect(network, &QNetworkInformation::reachabilityChanged, this,
                    [this, last = network->reachability()](QNetworkInformation::Reachability reachability) mutable {
                        // Back from being away; the backend's first word
                        // after it loads (from Unknown) is no return.
                        using Reach = QNetworkInformation::Reachability;
                        const bool back = reachability == Reach::Online && last != Reach::Online && last != Reach::Unknown;
                        last = reachability;
                        if (back) eventHappened();
                    });
        }
    }
}

}  // namespace lumopet
