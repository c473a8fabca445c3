// When an automatic check is due, and which of its failures are said: each
// case a day of the program told step by step, with its own clock.

#include "app/auto_check_report.h"
#include "app/auto_check_schedule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace lumopet {
namespace {

using Decision = AutoCheckSchedule::Decision;
using Millis = AutoCheckSchedule::Millis;

enum class Act { Minutes, TestSeconds, Event, Decide, DecideBusy, Started, Finished, Next };

struct Step {
    Millis at;
    Act act;
    int value = 0;                             // Minutes, TestSeconds
    std::optional<Decision> decision = {};     // Decide, DecideBusy
    std::optional<Millis> next = {};          // Next: the moment expected, none for nothing due
};

Step minutes(Millis at, int n) { return {at, Act::Minutes, n}; }
Step testSeconds(Millis at, int n) { return {at, Act::TestSeconds, n}; }
Step event(Millis at) { return {at, Act::Event}; }
Step decide(Millis at, Decision d) { return {at, Act::Decide, 0, d}; }
Step decideBusy(Millis at, Decision d) { return {at, Act::DecideBusy, 0, d}; }
Step started(Millis at) { return {at, Act::Started}; }
Step finished(Millis at) { return {at, Act::Finished}; }
Step next(std::optional<Millis> due) { return {0, Act::Next, 0, {}, due}; }

constexpr std::optional<Millis> kNothing = std::nullopt;
constexpr Millis kMinute = 60'000;

struct ScheduleCase {
    const char* name;
    std::vector<Step> steps;
};

class Schedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(Schedule, DecidesAsTold) {
    AutoCheckSchedule schedule;
    int number = 0;
    for (const Step& step : GetParam().steps) {
        ++number;
        switch (step.act) {
        case Act::Minutes: schedule.setMinutes(step.value, step.at); break;
        case Act::TestSeconds: schedule.setTestIntervalSeconds(step.value, step.at); break;
        case Act::Event: schedule.eventHappened(step.at); break;
        case Act::Decide:
        case Act::DecideBusy:
            EXPECT_EQ(schedule.decide(step.at, step.act == Act::DecideBusy), *step.decision)
                << "step " << number << " at " << step.at;
            break;
        case Act::Started: schedule.checkStarted(step.at); break;
        case Act::Finished: schedule.checkFinished(step.at); break;
        case Act::Next: EXPECT_EQ(schedule.nextDue(), step.next) << "step " << number; break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Days, Schedule,
    ::testing::Values(
        ScheduleCase{"off_nothing_is_ever_due",
                     {minutes(0, 0), next(kNothing), event(1000), next(kNothing), decide(10 * kMinute, Decision::Wait)}},
        ScheduleCase{"every_minute_counted_from_the_end_of_the_last_check",
                     {minutes(0, 1), next(kMinute), decide(kMinute - 1, Decision::Wait),
                      decide(kMinute, Decision::Start), started(kMinute), next(kNothing),
                      decide(kMinute + 500, Decision::Wait), finished(kMinute + 2000), next(2 * kMinute + 2000)}},
        ScheduleCase{"a_click_on_receive_starts_the_interval_afresh",
                     {minutes(0, 5), next(5 * kMinute), started(100'000), finished(101'000),
                      next(101'000 + 5 * kMinute), decide(5 * kMinute, Decision::Wait)}},
        ScheduleCase{"busy_postpones_and_retries_until_free",
                     {minutes(0, 1), decideBusy(kMinute, Decision::Postpone), next(kMinute + 10'000),
                      decide(kMinute + 9'999, Decision::Wait), decideBusy(kMinute + 10'000, Decision::Postpone),
                      next(kMinute + 20'000), decide(kMinute + 20'000, Decision::Start), started(kMinute + 20'000),
                      finished(kMinute + 21'000), next(2 * kMinute + 21'000)}},
        ScheduleCase{"a_wake_checks_a_few_seconds_later",
                     {minutes(0, 10), event(1000), next(6000), decide(5999, Decision::Wait), decide(6000, Decision::Start),
                      started(6000), finished(7000), next(7000 + 10 * kMinute)}},
        ScheduleCase{"checks_for_events_at_most_once_a_minute",
                     {minutes(0, 10), event(1000), decide(6000, Decision::Start), started(6000), finished(7000),
                      event(20'000), next(6000 + kMinute), decide(25'000, Decision::Wait),
                      decide(6000 + kMinute, Decision::Start), started(6000 + kMinute), finished(7000 + kMinute),
                      event(7000 + kMinute), next(6000 + 2 * kMinute)}},
        ScheduleCase{"events_close_together_make_one_check",
                     {minutes(0, 10), event(1000), event(3000), next(6000), decide(6000, Decision::Start),
                      started(6000), finished(6500), next(6500 + 10 * kMinute)}},
        ScheduleCase{"the_interval_due_first_serves_the_event_too",
                     {minutes(0, 1), event(kMinute - 1000), next(kMinute), decide(kMinute, Decision::Start),
                      started(kMinute), finished(kMinute + 1000), next(2 * kMinute + 1000)}},
        ScheduleCase{"a_click_serves_a_waiting_event_and_does_not_count_as_one",
                     {minutes(0, 10), event(1000), started(3000), finished(4000), next(4000 + 10 * kMinute),
                      event(10'000), next(15'000)}},
        ScheduleCase{"an_event_during_a_check_comes_after_it",
                     {minutes(0, 1), decide(kMinute, Decision::Start), started(kMinute), event(kMinute + 1000),
                      next(kNothing), finished(kMinute + 2000), next(kMinute + 6000)}},
        ScheduleCase{"events_while_off_are_forgotten",
                     {minutes(0, 0), event(1000), minutes(2000, 1), next(2000 + kMinute)}},
        ScheduleCase{"turned_off_while_waiting",
                     {minutes(0, 1), event(1000), decideBusy(kMinute, Decision::Postpone), minutes(kMinute + 1, 0),
                      next(kNothing), decide(10 * kMinute, Decision::Wait)}},
        ScheduleCase{"the_same_interval_again_keeps_the_next_check",
                     {minutes(0, 5), minutes(100'000, 5), next(5 * kMinute), minutes(100'000, 10),
                      next(100'000 + 10 * kMinute)}},
        ScheduleCase{"a_new_interval_during_a_check_counts_from_its_end",
                     {minutes(0, 1), started(kMinute), minutes(kMinute + 100, 3), next(kNothing),
                      finished(kMinute + 1000), next(4 * kMinute + 1000)}},
        ScheduleCase{"the_test_interval_in_seconds_only_while_the_option_is_on",
                     {minutes(0, 1), testSeconds(0, 2), next(2000), decide(2000, Decision::Start), started(2000),
                      finished(2100), next(4100), minutes(5000, 0), next(kNothing), minutes(6000, 3), next(8000),
                      testSeconds(6000, 0), next(6000 + 3 * kMinute)}},
        ScheduleCase{"more_than_a_day_is_a_day",
                     {minutes(0, 5000), next(1440 * kMinute), minutes(0, -3), next(kNothing)}}),
    [](const auto& info) { return std::string(info.param.name); });

// The same failure is said once; a success or a click on 受信 makes the
// next one news.
TEST(AutoCheckReport, SaysEachFailureOnceUntilASuccessOrAClick) {
    const QString refused = QStringLiteral("POP3 サーバーがログインを拒否しました。\nサーバーの応答：-ERR [AUTH] failed (id 1)");
    const QString refusedAgain = QStringLiteral("POP3 サーバーがログインを拒否しました。\nサーバーの応答：-ERR [AUTH] failed (id 2)");
    const QString unreachable = QStringLiteral("サーバー 127.0.0.1:1 に接続できません。");
    struct Step {
        const char* what;
        QStringList collected;
        bool clickFirst;
        bool said;
    };
    const Step steps[] = {
        {"a first failure", {refused}, false, true},
        {"the same again", {refused}, false, false},
        {"the same in the server's other words", {refusedAgain}, false, false},
        {"another failure", {unreachable}, false, true},
        {"the first again, after the other", {refused}, false, true},
        {"a success", {}, false, false},
        {"after a success", {refused}, false, true},
        {"the same once more", {refused}, false, false},
        {"after a click on 受信", {refused}, true, true},
        {"two texts in one check", {refused, unreachable}, false, true},
        {"the same two", {refusedAgain, unreachable}, false, false},
        {"one of them alone", {unreachable}, false, true},
    };
    AutoCheckReport report;
    for (const Step& step : steps) {
        if (step.clickFirst) report.manualCheck();
        EXPECT_EQ(report.shouldSay(step.collected), step.said) << step.what;
    }
}

}  // namespace
}  // namespace lumopet
