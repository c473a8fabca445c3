#include "app/program_windows.h"

#include "app/MainForm.h"
#include "chara/CharacterWindow.h"
#include "chara/full_screen_watch.h"
#include "compose/BackForm.h"
#include "compose/draft_keeper.h"
#include "compose/ComposeOptionsForm.h"
#include "compose/FriendForm.h"
#include "compose/SignatureForm.h"
#include "compose/WriteForm.h"
#include "mail/transport/account_login.h"
#include "settings/AccountSetupForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/ReceiveOptionsForm.h"
#include "settings/SetForm.h"
#include "viewer/TyakuForm.h"

#include <QApplication>
#include <QLineEdit>
#include <QGuiApplication>
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

// The window goes on with the stored draft: its keeper replaces that file
// instead of leaving a second one beside it.
void continueDraft(QWidget& window, const QString& draftId) {
    if (auto* keeper = window.findChild<DraftKeeper*>()) keeper->continueDraft(draftId);
}

void showModeless(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

ProgramWindows::ProgramWindows(Program& program) : program_(program) {}

ProgramWindows::~ProgramWindows() {
    // First the login: a sign-in it ends must find no window to answer.
    accountLogin_.reset();
    delete tyakuForm_;
    delete backForm_;
    delete signatureForm_;
    delete composeOptionsForm_;
    delete friendForm_;
    delete writeForm_;
    delete idPassForm_;
    delete accountSetupForm_;
    delete receiveOptionsForm_;
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

WriteForm& ProgramWindows::writeForm() { return loaded(writeForm_, *this); }

FriendForm& ProgramWindows::friendForm() { return loaded(friendForm_, *this); }

BackForm& ProgramWindows::backForm() { return loaded(backForm_, *this); }

TyakuForm& ProgramWindows::tyakuForm() { return loaded(tyakuForm_, *this); }

void ProgramWindows::ShowTyakuForm(History history) {
    // The mail they came for is being read: the characters have done their
    // part and go home.
    if (history == History::Received && program_.characters.HomeWhenRead)
        for (const auto& character : characters_)
            if (character && character->isLoaded()) character->Unload();
    TyakuForm& viewer = tyakuForm();
    showModeless(viewer);
    viewer.LoadHistory(history);
    if (history == History::Received && mainForm_) mainForm_->ReceivedHistoryOpened();
}

bool ProgramWindows::IsSettingsWindowOpen() const {
    const QWidget* settings[] = {optionForm_.data(), idPassForm_.data(), setForm_.data(), receiveOptionsForm_.data(),
                                 accountSetupForm_.data()};
    for (const QWidget* window : settings)
        if (window && window->isVisible()) return true;
    return false;
}

CharacterWindow& ProgramWindows::characterWindow(int number) {
    auto& slot = characters_.at(static_cast<size_t>(number - 1));
    if (!slot) {
        slot = std::make_unique<CharacterWindow>(number);
        // A right click on a character ends the program the one way, which
        // keeps what is typed.
        QObject::connect(slot.get(), &CharacterWindow::endProgramRequested, &mainForm(), &MainForm::EndProgram,
                         Qt::QueuedConnection);
        // Queued: 着信履歴 may send the clicked character home, which is
        // better done after its own mouse handler. While a check or a send
        // runs, the program takes no other command.
        QObject::connect(
            slot.get(), &CharacterWindow::receivedHistoryRequested, &mainForm(),
            [this] {
                if (!IsCommandRunning()) ShowTyakuForm(History::Received);
            },
            Qt::QueuedConnection);
        followFullScreen();
        if (fullScreenWatch_) slot->KeepAway(fullScreenWatch_->fullScreen());
    }
    return *slot;
}

void ProgramWindows::CharacterOptionsChanged() { followFullScreen(); }

void ProgramWindows::followFullScreen() {
    const bool wanted = program_.characters.AwayFromFullScreen;
    if (wanted && !fullScreenWatch_) {
        fullScreenWatch_ = FullScreenWatch::Start();
        if (!fullScreenWatch_) return;
        QObject::connect(fullScreenWatch_.get(), &FullScreenWatch::fullScreenChanged, fullScreenWatch_.get(),
                         [this](bool fullScreen) { keepCharactersAway(fullScreen); });
        keepCharactersAway(fullScreenWatch_->fullScreen());
    } else if (!wanted && fullScreenWatch_) {
        fullScreenWatch_.reset();
        keepCharactersAway(false);
    }
}

void ProgramWindows::keepCharactersAway(bool away) {
    for (const auto& character : characters_)
        if (character) character->KeepAway(away);
}

void ProgramWindows::ShowOptionForm() { showModeless(loaded(optionForm_, *this)); }

void ProgramWindows::ShowIdPassForm() { showModeless(idPassForm()); }

void ProgramWindows::ShowAccountSetupForm() { showModeless(loaded(accountSetupForm_, *this)); }

AccountLogin& ProgramWindows::accountLogin() {
    if (!accountLogin_) accountLogin_ = std::make_unique<AccountLogin>(program_);
    return *accountLogin_;
}

void ProgramWindows::ShowReceiveOptionsForm() { showModeless(loaded(receiveOptionsForm_, *this)); }

void ProgramWindows::ReceiveOptionsChanged() {
    // The timer, the tray icon and the notifications follow the options
    // just saved. They live with the main window, which has them from the
    // file when it loads.
    if (mainForm_) mainForm_->ApplyReceiveOptions();
}

void ProgramWindows::ShowSetForm() { showModeless(setForm()); }

void ProgramWindows::ShowWriteForm() { showModeless(writeForm()); }

void ProgramWindows::ShowWriteFormWithDraft(const QString& draftId, const ComposeDraft& draft) {
    WriteForm& form = writeForm();
    continueDraft(form, draftId);
    form.loadDraft(draft);
    showModeless(form);
}

void ProgramWindows::ShowBackFormWithDraft(const QString& draftId, const ComposeDraft& draft) {
    BackForm& form = backForm();
    continueDraft(form, draftId);
    form.loadDraft(draft);
    showModeless(form);
}

void ProgramWindows::ShowFriendForm() { showModeless(friendForm()); }

void ProgramWindows::ShowFriendFormWithAddress(const QString& address) {
    FriendForm& book = friendForm();
    book.Text4->setText(address);
    showModeless(book);
}

void ProgramWindows::ShowBackForm(const ReplySource& reply) {
    BackForm& form = backForm();
    form.FillReply(reply);
    showModeless(form);
}

void ProgramWindows::ShowSignatureForm() { showModeless(loaded(signatureForm_, *this)); }

void ProgramWindows::ShowComposeOptionsForm() { showModeless(loaded(composeOptionsForm_, *this)); }

QWidget* ProgramWindows::MainWindow() { return &mainForm(); }

void ProgramWindows::SetMainStatusLine(const QString& text) {
    MainForm& form = mainForm();
    form.Text1->show();
    form.Text1->setText(text);
}

void ProgramWindows::HoldCommands(QWidget* running, bool hold) {
    if (hold == commandRunning_) return;
    commandRunning_ = hold;
    if (hold) {
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window == running || !window->isEnabled() || qobject_cast<CharacterWindow*>(window)) continue;
            window->setEnabled(false);
            heldWindows_.emplace_back(window);
        }
    } else {
        for (const QPointer<QWidget>& window : heldWindows_)
            if (window) window->setEnabled(true);
        heldWindows_.clear();
        QGuiApplication::restoreOverrideCursor();
    }
}

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
