#pragma once
// What one window may ask of the others. The windows of the settings, the
// characters and the main window live in different libraries; each reaches
// its neighbours through this one interface, which ProgramWindows
// implements, so no window builds another behind the others' backs.

#include "core/moods.h"

#include <QString>

class QWidget;

namespace lumopet {

struct Program;
class AccountLogin;

// A received message to answer: what the reply window starts from.
struct ReplySource {
    QString subject;
    QString from;
    QString body;
    // The answered message's copy in the received Maildir, from which the
    // reply takes what threads it, its charset and its quote; empty when
    // the message has none.
    QString copyPath = QString();
};

class WindowDirectory {
public:
    virtual ~WindowDirectory() = default;

    virtual Program& program() = 0;

    // The server and account windows, made on first use, shown modeless.
    virtual void ShowOptionForm() = 0;
    virtual void ShowIdPassForm() = 0;
    // The account set up from the mail address, made on first use, shown
    // modeless.
    virtual void ShowAccountSetupForm() = 0;
    // What the account logs in with for a mail check or a send: one for the
    // program, so that the token it holds serves both.
    virtual AccountLogin& accountLogin() = 0;
    // The receive options window, made on first use, shown modeless.
    virtual void ShowReceiveOptionsForm() = 0;
    // Called after that window has saved program().receive, so that the
    // timed check and the tray follow the options.
    virtual void ReceiveOptionsChanged() = 0;
    // Called after 設定 has saved program().characters, so that the walking
    // characters follow their manners.
    virtual void CharacterOptionsChanged() = 0;

    // The main window's mood indicators: white and bold for the enabled
    // moods, green for the others.
    virtual void ShowEnabledMoods(const MoodFlags& enabled) = 0;

    // The compose window (loaded when it is not) and the address book,
    // shown modeless.
    virtual void ShowWriteForm() = 0;
    virtual void ShowFriendForm() = 0;
    // The address book with an address already in its address box.
    virtual void ShowFriendFormWithAddress(const QString& address) = 0;
    // The reply window, filled as an answer to the message.
    virtual void ShowBackForm(const ReplySource& reply) = 0;
    // 署名の編集 and 送信の設定 (lumopet.ini's [Compose]), made on first use,
    // shown modeless.
    virtual void ShowSignatureForm() = 0;
    virtual void ShowComposeOptionsForm() = 0;

    // The main window, for the windows that step back to it, and its
    // status line.
    virtual QWidget* MainWindow() = 0;
    virtual void SetMainStatusLine(const QString& text) = 0;

    // While a mail check or a send runs, the program takes no other command:
    // every window but the one running it (and the walking characters) is
    // disabled, and the main window's hot-spots do nothing.
    virtual void HoldCommands(QWidget* running, bool hold) = 0;
    virtual bool IsCommandRunning() const = 0;

    // The main window's preview timer: 500 starts the preview, 0 stops it.
    virtual void SetPreviewInterval(int milliseconds) = 0;
};

}  // namespace lumopet
