#pragma once
// The one place that makes the program's windows. Each window is a single
// instance, made on first use and handed out from here, so that no window
// builds its neighbours behind the others' backs. The settings windows go
// when they are closed; the five character windows live for the whole run,
// keeping their fields across an unload.

#include "mail/draft_message.h"
#include "store/history_record.h"
#include "ui/window_directory.h"

#include <QPointer>

#include <array>
#include <memory>
#include <vector>

namespace lumopet {

class AccountLogin;
class AccountSetupForm;
class BackForm;
class CharacterWindow;
class FullScreenWatch;
class ComposeOptionsForm;
class FriendForm;
class IdPassForm;
class MainForm;
class OptionForm;
class ReceiveOptionsForm;
class SetForm;
class SignatureForm;
class TyakuForm;
class WriteForm;
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
    // The compose window, loaded hidden when not loaded.
    WriteForm& writeForm();
    bool isWriteFormLoaded() const { return !writeForm_.isNull(); }
    // The address book window, loaded hidden when not loaded.
    FriendForm& friendForm();
    // The reply window and the history viewer, loaded hidden when not loaded.
    BackForm& backForm();
    TyakuForm& tyakuForm();
    // Loading a history into the viewer, shown modeless. With HomeWhenRead,
    // 着信履歴 sends the loaded characters home.
    void ShowTyakuForm(History history);
    // Form1 to Form5. A double click on one opens 着信履歴.
    CharacterWindow& characterWindow(int number);

    void ShowOptionForm() override;
    void ShowIdPassForm() override;
    void ShowAccountSetupForm() override;
    AccountLogin& accountLogin() override;
    void ShowReceiveOptionsForm() override;
    void ReceiveOptionsChanged() override;
    void CharacterOptionsChanged() override;
    void ShowSetForm();
    void ShowEnabledMoods(const MoodFlags& enabled) override;
    void SetPreviewInterval(int milliseconds) override;
    void ShowWriteForm() override;
    void ShowFriendForm() override;
    void ShowFriendFormWithAddress(const QString& address) override;
    void ShowBackForm(const ReplySource& reply) override;
    // The compose or the reply window with a stored draft put back (the
    // question at start); the window's draft replaces that one from then on.
    // Not in WindowDirectory: a draft is a mail value, below the windows'
    // common layer.
    void ShowWriteFormWithDraft(const QString& draftId, const ComposeDraft& draft);
    void ShowBackFormWithDraft(const QString& draftId, const ComposeDraft& draft);
    void ShowSignatureForm() override;
    void ShowComposeOptionsForm() override;
    QWidget* MainWindow() override;
    void SetMainStatusLine(const QString& text) override;
    void HoldCommands(QWidget* running, bool hold) override;
    bool IsCommandRunning() const override { return commandRunning_; }
    // A settings window is on screen: its values may be half typed in.
    bool IsSettingsWindowOpen() const;

private:
    // Starts or stops the watch of full-screen windows as AwayFromFullScreen
    // says; the characters step aside while it sees one.
    void followFullScreen();
    void keepCharactersAway(bool away);

    Program& program_;
    std::unique_ptr<AccountLogin> accountLogin_;
    QPointer<MainForm> mainForm_;
    QPointer<SetForm> setForm_;
    QPointer<OptionForm> optionForm_;
    QPointer<ReceiveOptionsForm> receiveOptionsForm_;
    QPointer<IdPassForm> idPassForm_;
    QPointer<AccountSetupForm> accountSetupForm_;
    QPointer<WriteForm> writeForm_;
    QPointer<FriendForm> friendForm_;
    QPointer<BackForm> backForm_;
    QPointer<SignatureForm> signatureForm_;
    QPointer<ComposeOptionsForm> composeOptionsForm_;
    QPointer<TyakuForm> tyakuForm_;
    std::array<std::unique_ptr<CharacterWindow>, kMoodCount> characters_;
    // Only with AwayFromFullScreen on an X server.
    std::unique_ptr<FullScreenWatch> fullScreenWatch_;
    bool commandRunning_ = false;
    std::vector<QPointer<QWidget>> heldWindows_;
};

}  // namespace lumopet
