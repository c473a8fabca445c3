#include "app/program_windows.h"

#include "app/MainForm.h"
#include "chara/CharacterWindow.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"

#include <QTimer>

namespace lumopet {
namespace {

// Makes a settings window on first use; it is destroyed when closed, so
// the next use starts it afresh from the program's values.
template <class Form>
Form& loaded(QPointer<Form>& slot, WindowDirectory& windows) {
    if (!slot) {
        slot = new Form(windows);
        slot->setAttribute(Qt::WA_DeleteOnClose);
        slot->Form_Load();
    }
    return *slot;
}

void showModeless(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

ProgramWindows::ProgramWindows(Program& program) : program_(program) {}

ProgramWindows::~ProgramWindows() {
    delete idPassForm_;
    delete optionForm_;
    delete setForm_;
    delete mainForm_;
}

MainForm& ProgramWindows::mainForm() {
    if (!mainForm_) mainForm_ = new MainForm(*this);
    return *mainForm_;
}

SetForm& ProgramWindows::setForm() { return loaded(setForm_, *this); }

IdPassForm& ProgramWindows::idPassForm() { return loaded(idPassForm_, *this); }

CharacterWindow& ProgramWindows::characterWindow(int number) {
    auto& slot = characters_.at(static_cast<size_t>(number - 1));
    if (!slot) slot = std::make_unique<CharacterWindow>(number);
    return *slot;
}

void ProgramWindows::ShowOptionForm() { showModeless(loaded(optionForm_, *this)); }

void ProgramWindows::ShowIdPassForm() { showModeless(idPassForm()); }

void ProgramWindows::ShowSetForm() { showModeless(setForm()); }

void ProgramWindows::ShowEnabledMoods(const MoodFlags& enabled) { mainForm().ShowEnabledMoods(enabled); }

void ProgramWindows::SetPreviewInterval(int milliseconds) {
    QTimer* preview = mainForm().Timer2;
    if (milliseconds <= 0) {
        preview->stop();
    } else {
        preview->setInterval(milliseconds);
        preview->start();
    }
}

}  // namespace lumopet
