#pragma once
// What one window may ask of the others. The windows of the settings, the
// characters and the main window live in different libraries; each reaches
// its neighbours through this one interface, which ProgramWindows
// implements, so no window builds another behind the others' backs.

#include "core/moods.h"

class QWidget;

namespace lumopet {

struct Program;

class WindowDirectory {
public:
    virtual ~WindowDirectory() = default;

    virtual Program& program() = 0;

    // The server and account windows, made on first use, shown modeless.
    virtual void ShowOptionForm() = 0;
    virtual void ShowIdPassForm() = 0;

    // The main window's mood indicators: white and bold for the enabled
    // moods, green for the others.
    virtual void ShowEnabledMoods(const MoodFlags& enabled) = 0;

    // The compose window (loaded when it is not) and the address book,
    // shown modeless.
    virtual void ShowWriteForm() = 0;
    virtual void ShowFriendForm() = 0;

    // While a mail check or a send runs, the program takes no other command:
    // every window but the one running it (and the walking characters) is
    // disabled, and the main window's hot-spots do nothing.
    virtual void HoldCommands(QWidget* running, bool hold) = 0;
    virtual bool IsCommandRunning() const = 0;

    // The main window's preview timer: 500 starts the preview, 0 stops it.
    virtual void SetPreviewInterval(int milliseconds) = 0;
};

}  // namespace lumopet
