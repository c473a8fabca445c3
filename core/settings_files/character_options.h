#pragma once
// "★MailData\lumopet.ini", section [Characters]: the characters' manners,
// beside the receive options in the same file. Every option is off by
// default, so the characters come and go as they always did until the user
// turns one on.
//
//   HomeWhenRead        0 or 1: opening 着信履歴 sends the walking characters home
//   AwayFromFullScreen  0 or 1: the characters step aside while the active
//                       window covers its whole screen
//   QuietHours          "22:00-07:00" (from-to, may pass midnight): no
//                       character and no notification for new mail then;
//                       empty for none. Kept as the user wrote it.

#include "core/result.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QTime>

#include <optional>

namespace lumopet {

struct CharacterOptions {
    bool HomeWhenRead = false;
    bool AwayFromFullScreen = false;
    // As written; "" is none. A value ParseQuietHours cannot read is kept
    // too (the file says what the user wrote) but silences nothing.
    QString QuietHours;

    bool operator==(const CharacterOptions&) const = default;
};

// A missing file, section or key is the default. A file that is there and
// cannot be read is a failure, never taken for an empty one.
Result<CharacterOptions> ReadCharacterOptions(const QString& path);
// The same on the file's bytes.
CharacterOptions ParseCharacterOptions(QByteArrayView file);

// Writes the section's keys in place through the INI engine; every other
// line of the file stays as it is. A file that is there and cannot be read
// is a failure and stays as it is.
Status WriteCharacterOptions(const QString& path, const CharacterOptions& options);

// From the first minute to the minute the quiet ends (not itself quiet).
struct QuietHoursSpan {
    QTime from;
    QTime to;
};

// "22:00-07:00", "9:30-12:00": hours 0 to 23, minutes of two digits, blanks
// around either time; full-width digits, colon and dash (as a Japanese input
// method types them) and "～" between the times read the same. Nothing for
// an empty span (from == to) or anything else.
std::optional<QuietHoursSpan> ParseQuietHours(QStringView text);

// Whether the time falls in the quiet hours; never when they are empty or
// cannot be read.
bool IsQuietAt(const CharacterOptions& options, QTime now);

// The sentence for the settings box when QuietHours cannot be read at
// start: the value is not used.
QString UnreadableQuietHoursText(const QString& value);
// The sentence for 設定 refusing to save a value it cannot read.
QString RefusedQuietHoursText(const QString& value);

}  // namespace lumopet
