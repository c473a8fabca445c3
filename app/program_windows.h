#pragma once
// The one place that makes the program's windows. Each window is a single
// instance, made on first use and handed out from here, so that no window
// builds its neighbours behind the others' backs.

#include <QPointer>

namespace lumopet {

class MainForm;
struct Program;

class ProgramWindows {
public:
    explicit ProgramWindows(Program& program);
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    Program& program() { return program_; }

    // The main window lives for the whole run.
    MainForm& mainForm();

private:
    Program& program_;
    QPointer<MainForm> mainForm_;
};

}  // namespace lumopet
