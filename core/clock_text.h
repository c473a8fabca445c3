#pragma once

#include <QDateTime>
#include <QString>

namespace lumopet {

// The clock text of the main window, which the sent history takes as its
// date: the short date, two blanks, the time, as a Japanese Windows
// desktop writes them ("2026/12/07  9:05:03"). The interface is Japanese
// whatever the system's locale, so the formats are fixed.
inline QString ClockText(const QDateTime& now) {
    return now.toString(QStringLiteral("yyyy/MM/dd  H:mm:ss"));
}

}  // namespace lumopet
