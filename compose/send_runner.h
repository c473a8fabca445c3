#pragma once
// One send from a window: the compose window and the reply window both hand
// their request to this and wait for finished().
//
// The send runs on a worker so that the window stays painted; what it shows
// (the status line, the body as it goes out, the "送信エラー" box) is put on
// the window thread. Meanwhile the program takes no other command and the
// window's own controls are disabled, all but the status line; they come
// back before finished() is emitted. When not every message went out, the
// body box gets back the text the user typed, without the fortune and tag
// the send added, so that a second try starts from what was written.
//
// The window's 送信中止 button stays usable while the messages go out
// (keepEnabled): its click asks the send to stop (RequestStop).

#include "core/result.h"
#include "core/settings_files/compose_options.h"
#include "mail/send_mail.h"
#include "mail/transport/account_login.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QThread;
class QWidget;

namespace lumopet {

class WindowDirectory;
struct Program;

// lumopet.ini's [Compose] as it is now: the options window may have changed
// it since the compose window opened. A file that is there and cannot be
// read is a failure, never taken for the defaults.
Result<ComposeOptions> CurrentComposeOptions(const Program& program);

// The looks before a send, on the window thread: the question when the
// subject or body speaks of an attachment and none is attached (always),
// then, when confirmRecipients (送信前に宛先を確認する), the window that lists
// every recipient of 宛先, CC and BCC to be ticked. A bulk send goes to the
// address book's entries, not to the boxes: it has no list to tick. False
// when the user held the send back.
bool LookBeforeSending(QWidget* window, const SendRequest& request, const QString& ownAddress,
                       bool confirmRecipients);

class SendRunner : public QObject {
    Q_OBJECT
public:
    // Reading and writing the body box, which is a plain or a rich text box
    // depending on the window.
    struct BodyBox {
        std::function<QString()> text;
        std::function<void(const QString&)> setText;
    };

    // window: whose controls are held, and the parent of the runner and of
    // the message boxes. status may be null: then progress is not shown.
    SendRunner(QWidget& window, WindowDirectory& windows, QLabel* status, BodyBox body);

    template <class TextBox>
    SendRunner(QWidget& window, WindowDirectory& windows, QLabel* status, TextBox* body)
        : SendRunner(window, windows, status, boxOf(body)) {}

    // Waits for a send still running: a worker must not outlive the
    // program's values it reads.
    ~SendRunner() override;

    bool isRunning() const { return thread_ != nullptr || preparing_; }

    // A control that stays enabled while the send runs: 送信中止.
    void keepEnabled(QWidget* control) { keptEnabled_ = control; }

    // What the status line says before the message count while the
    // messages go out; empty: "メールを送信中です。…".
    void setProgressNote(const QString& note) { progressNote_ = note; }

    // Starts the send; does nothing while one is running.
    void start(const SendRequest& request);

    // 送信中止 during a send: the message in flight is broken off unless it
    // is through, and no further one begins. True when a send was running.
    bool requestStop();

Q_SIGNALS:
    void finished(const lumopet::SendResult& result);

private:
    class Host;
    friend class Host;

    template <class TextBox>
    static BodyBox boxOf(TextBox* box) {
        QPointer<TextBox> guarded(box);
        return {[guarded] { return guarded ? guarded->toPlainText() : QString(); },
                [guarded](const QString& text) {
                    if (guarded) guarded->setPlainText(text);
                }};
    }

    // Runs f on the window thread unless the runner is being destroyed.
    template <class F>
    void onWindowThread(F f);
    void holdControls(bool hold);
    void run(const SendRequest& request, const LoginAnswer& answer);
    void done();
    void finish();

    QWidget& window_;
    WindowDirectory& windows_;
    QPointer<QLabel> status_;
    BodyBox body_;
    std::unique_ptr<Host> host_;
    QThread* thread_ = nullptr;
    // The send waits for its login (a token refresh, a browser sign-in).
    bool preparing_ = false;
    QString typedBody_;
    SendResult result_;
    std::vector<QPointer<QWidget>> heldControls_;
    QPointer<QWidget> keptEnabled_;
    QString progressNote_;
    // Set by the destructor: what the worker still shows goes nowhere.
    std::atomic<bool> abandoned_ = false;
};

}  // namespace lumopet
