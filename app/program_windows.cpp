#include "app/program_windows.h"

#include "app/MainForm.h"

namespace lumopet {

ProgramWindows::ProgramWindows(Program& program) : program_(program) {}

ProgramWindows::~ProgramWindows() { delete mainForm_; }

MainForm& ProgramWindows::mainForm() {
    if (!mainForm_) mainForm_ = new MainForm(*this);
    return *mainForm_;
}

}  // namespace lumopet
