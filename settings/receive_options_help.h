#pragma once
// What the help line of the receive options window says over each of its
// controls: what the option does and how it is set at first.

#include <QString>

namespace lumopet {

enum class ReceiveOptionsTopic {
    None,  // the bare window
    AutoCheck,
    LeaveOnServer,
    DeleteAfterDays,
    DeleteWithHistory,
    Tray,
    Notify,
    JunkFilter,
    Save,
    Cancel,
};

QString ReceiveOptionsHelpText(ReceiveOptionsTopic topic);

// What the number boxes hold while their option is off: a first tick
// starts from a sensible value, not from 1.
inline constexpr int kSuggestedAutoCheckMinutes = 10;
inline constexpr int kSuggestedDeleteAfterDays = 30;

}  // namespace lumopet
