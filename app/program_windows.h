#pragma once
// The one place that makes the program's windows. Each window is a single
// instance, made on first use and handed out from here, so that no window
// builds its neighbours behind the others' backs. The settings windows go
// when they are closed; the five character windows live for the whole run,
// keeping their fields across an unload.

#include "ui/window_directory.h"

#include <QPointer>

#include <array>
#include <memory>

namespace lumopet {

class CharacterWindow;
class IdPassForm;
class MainForm;
class OptionForm;
class SetForm;
struct Program;

class ProgramWindows : public WindowDirectory {
public:
    explicit ProgramWindows(Program& program);
    ~ProgramWindows() override;
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    Program& program() override { return program_; }

    // The main window lives for the whole run.
    MainForm& mainForm();
    // The character settings, loaded hidden when not loaded.
    SetForm& setForm();
    bool isSetFormLoaded() const { return !setForm_.isNull(); }
    // The account window, loaded hidden when not loaded.
    IdPassForm& idPassForm();
    // Form1 to Form5.
    CharacterWindow& characterWindow(int number);

    void ShowOptionForm() override;
    void ShowIdPassForm() override;
    void ShowSetForm();
    void ShowEnabledMoods(const MoodFlags& enabled) override;
    void SetPreviewInterval(int milliseconds) override;

private:
    Program& program_;
    QPointer<MainForm> mainForm_;
    QPointer<SetForm> setForm_;
    QPointer<OptionForm> optionForm_;
    QPointer<IdPassForm> idPassForm_;
    std::array<std::unique_ptr<CharacterWindow>, kMoodCount> characters_;
};

}  // namespace lumopet
