#pragma once
// What lives for the whole run besides the windows: where the program's
// files are, and the values every part of it shares.

#include "core/disk_space.h"
#include "core/program_paths.h"
#include "core/program_values.h"
#include "core/settings_files/character_options.h"
#include "core/settings_files/receive_options.h"
#include "core/viewer_data.h"

#include <QDate>
#include <QTime>

#include <functional>
#include <optional>
#include <utility>

namespace lumopet {

struct Program {
    explicit Program(ProgramPaths programPaths) : paths(std::move(programPaths)) {}

    ProgramPaths paths;
    ProgramValues values;
    ViewerData viewer;
    // lumopet.ini's [Receive], read at start and whenever the options
    // window saves it.
    ReceiveOptions receive;
    // lumopet.ini's [Characters], read at start and whenever 設定 saves it.
    CharacterOptions characters;
    // Today, for how long a message has been kept on the server. A test
    // sets a day of its own.
    std::function<QDate()> today = [] { return QDate::currentDate(); };
    // The time of day, for the quiet hours of the characters. A test sets
    // a clock of its own.
    std::function<QTime()> timeOfDay = [] { return QTime::currentTime(); };
    // The room left on the disk of a folder, which a mail check looks at
    // before each message. A test sets a disk of its own.
    std::function<std::optional<qint64>(const QString& folder)> freeBytes = FreeBytesAt;
    // The check has said in this run that mail cannot be left on this
    // server (it gives no UIDLs): once a run, not at every check.
    bool toldNoUidlToLeave = false;
    // What the check said last of a junk filter that could not run, so
    // that the same trouble is said once a run, not at every check.
    QString toldJunkProblem;
};

}  // namespace lumopet
