#include "core/settings_files/receive_options.h"

#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"
#include "core/settings_files/profile_file.h"

#include <cmath>
#include <optional>
#include <vector>

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("Receive");
// Far more than any number needs; a longer value is cut as a buffer of this
// size would cut it, and is no number in range anyway.
constexpr qsizetype kBufferSize = 256;

const QString kAutoCheckMinutes = QStringLiteral("AutoCheckMinutes");
const QString kLeaveOnServer = QStringLiteral("LeaveOnServer");
const QString kDeleteAfterDays = QStringLiteral("DeleteAfterDays");
const QString kDeleteWithHistory = QStringLiteral("DeleteWithHistory");
const QString kTray = QStringLiteral("Tray");
const QString kNotify = QStringLiteral("Notify");
const QString kMaxMessageMB = QStringLiteral("MaxMessageMB");
const QString kJunkFilter = QStringLiteral("JunkFilter");

// A whole number from 0 to the highest, read as the other settings files
// read numbers (" 5", "05", "5.0" and "5x" are 5; a fraction rounds as
// the old assignment to an integer did). Anything else is the default.
int wholeNumber(QByteArrayView file, const QString& key, int highest, int fallback) {
    const QString text = ProfileString(file, kSection, key, kBufferSize);
    if (text.isEmpty()) return fallback;
    const double value = std::nearbyint(NumericValue(text));
    if (!std::isfinite(value) || value < 0 || value > highest) return fallback;
    return static_cast<int>(value);
}

bool switchedOn(QByteArrayView file, const QString& key) { return ProfileSwitch(file, kSection, key, kBufferSize); }

int inRange(int value, int highest, int fallback) { return value >= 0 && value <= highest ? value : fallback; }

QString flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

}  // namespace

ReceiveOptions ParseReceiveOptions(QByteArrayView file) {
    const ReceiveOptions defaults;
    ReceiveOptions options;
    options.AutoCheckMinutes = wholeNumber(file, kAutoCheckMinutes, kMaxAutoCheckMinutes, defaults.AutoCheckMinutes);
    options.LeaveOnServer = switchedOn(file, kLeaveOnServer);
    options.DeleteAfterDays = wholeNumber(file, kDeleteAfterDays, kMaxDeleteAfterDays, defaults.DeleteAfterDays);
    options.DeleteWithHistory = switchedOn(file, kDeleteWithHistory);
    options.Tray = switchedOn(file, kTray);
    options.Notify = switchedOn(file, kNotify);
    options.MaxMessageMB = wholeNumber(file, kMaxMessageMB, kMaxMessageMBLimit, defaults.MaxMessageMB);
    options.JunkFilter = switchedOn(file, kJunkFilter);
    return options;
}

Result<ReceiveOptions> ReadReceiveOptions(const QString& path) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (!file.value()) return ReceiveOptions{};
    return ParseReceiveOptions(*file.value());
}

Status WriteReceiveOptions(const QString& path, const ReceiveOptions& options) {
    // A number out of its range is written as the reader would take it, the
    // default, so that the file says what the next start will do.
    const ReceiveOptions defaults;
    const std::vector<ProfileEntry> entries{
        {kAutoCheckMinutes,
         QString::number(inRange(options.AutoCheckMinutes, kMaxAutoCheckMinutes, defaults.AutoCheckMinutes))},
        {kLeaveOnServer, flag(options.LeaveOnServer)},
        {kDeleteAfterDays,
         QString::number(inRange(options.DeleteAfterDays, kMaxDeleteAfterDays, defaults.DeleteAfterDays))},
        {kDeleteWithHistory, flag(options.DeleteWithHistory)},
        {kTray, flag(options.Tray)},
        {kNotify, flag(options.Notify)},
        {kMaxMessageMB, QString::number(inRange(options.MaxMessageMB, kMaxMessageMBLimit, defaults.MaxMessageMB))},
        {kJunkFilter, flag(options.JunkFilter)},
    };
    // Refuses, as every settings file does, to replace a file that is there
    // and cannot be read: it would lose whatever else the file holds.
    return WriteProfileStrings(path, kSection, entries);
}

}  // namespace lumopet
