#pragma once
// "★MailData\lumopet.ini", section [Receive]: the options this program has
// beyond the Windows version's files, which keep their formats. Every option
// is off by default, so a program folder brought from Windows receives as it
// always did until the user turns one on.
//
//   AutoCheckMinutes   0 (off) or 1 to 1440: a mail check every N minutes
//   LeaveOnServer      0 or 1: stored messages stay on the server
//   DeleteAfterDays    0 (never) or 1 to 3650: with LeaveOnServer, messages
//                      stored more than N days ago are deleted from it
//   DeleteWithHistory  0 or 1: with LeaveOnServer, a message whose record
//                      the user deleted is deleted from the server too
//   Tray               0 or 1: an icon in the system tray
//   Notify             0 or 1: a desktop notification for new mail
//   MaxMessageMB       0 (no limit) or 1 to 1048576, 200 by default: a
//                      message the server lists larger stays there
//   JunkFilter         0 or 1: a check sets junk aside (bogofilter and the
//                      provider's verdict) into the junk history

#include "core/result.h"

#include <QByteArray>
#include <QString>

namespace lumopet {

namespace files {
inline const QString ProgramOptions = QStringLiteral("\\★MailData\\lumopet.ini");
}

inline constexpr int kDefaultMaxMessageMB = 200;

struct ReceiveOptions {
    int AutoCheckMinutes = 0;
    bool LeaveOnServer = false;
    int DeleteAfterDays = 0;
    bool DeleteWithHistory = false;
    bool Tray = false;
    bool Notify = false;
    int MaxMessageMB = kDefaultMaxMessageMB;
    bool JunkFilter = false;

    bool operator==(const ReceiveOptions&) const = default;
};

inline constexpr int kMaxAutoCheckMinutes = 1440;
inline constexpr int kMaxDeleteAfterDays = 3650;
inline constexpr int kMaxMessageMBLimit = 1048576;

// A missing file, section or key is the default. A value out of its range
// or not a number is the default too. A file that is there and cannot be
// read is a failure, never taken for an empty one.
Result<ReceiveOptions> ReadReceiveOptions(const QString& path);
// The same on the file's bytes.
ReceiveOptions ParseReceiveOptions(QByteArrayView file);

// Writes the eight keys in place through the INI engine; every other line of
// the file stays as it is.
Status WriteReceiveOptions(const QString& path, const ReceiveOptions& options);

}  // namespace lumopet
