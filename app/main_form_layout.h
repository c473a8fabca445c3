#pragma once
// What the main window shows, apart from the widgets that show it: the
// hot-spots with their captions, places and help texts, the mood
// indicators and their looks.

#include "core/twips.h"

#include <QColor>
#include <QString>

#include <array>

namespace lumopet {

enum class HotSpot { Label9, Label8, Label7, Label6, Label10, Label11, Label5, Label4, Label1 };

struct HotSpotLook {
    HotSpot id;
    const char* name;
    QString caption;
    Twips position;
    QString helpText;
};

const std::array<HotSpotLook, 9>& HotSpotLooks();

// The main window's client area and its other controls.
inline constexpr Twips kMainClientArea{0, 0, 8115, 5190};
inline constexpr Twips kLabel2Position{1800, 360, 4455, 615};   // help line
inline constexpr Twips kLabel3Position{3480, 2040, 1215, 255};  // "Your choice"
inline constexpr Twips kText1Position{2280, 4320, 3735, 270};   // status line
inline constexpr Twips kText2Position{1200, 5760, 2175, 375};   // clock, below the visible area
// Label12(0) to (4), the indicators of moods 1 to 5, in an arc.
inline constexpr std::array<Twips, 5> kLabel12Positions{{
    {2760, 2040, 135, 255},
    {3120, 1560, 135, 255},
    {3980, 1340, 135, 255},
    {4760, 1440, 135, 255},
    {5160, 2060, 135, 255},
}};

inline const QString kMainCaption = QStringLiteral("ルモペット　Ver 2.13");
inline const QString kReceivingText = QStringLiteral("メールを受信します。");

struct IndicatorLook {
    QColor color;
    bool bold;
};

// White and bold for an enabled mood, green for one that is not.
inline IndicatorLook IndicatorLookFor(bool enabled) {
    return enabled ? IndicatorLook{QColor(255, 255, 255), true} : IndicatorLook{QColor(0, 192, 0), false};
}

}  // namespace lumopet
