#pragma once
// What one window may ask of the others. The windows of the settings, the
// characters and the main window live in different libraries; each reaches
// its neighbours through this one interface, which ProgramWindows
// implements, so no window builds another behind the others' backs.

#include "core/moods.h"

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

    // The main window's preview timer: 500 starts the preview, 0 stops it.
    virtual void SetPreviewInterval(int milliseconds) = 0;
};

}  // namespace lumopet
