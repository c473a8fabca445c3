#pragma once
// Every message box of the program goes through here: fixed Japanese texts,
// an OK button (Yes and No for a question). Tests put an answerer in place
// of the dialog and look at what was asked.

#include <QString>

#include <functional>

class QWidget;

namespace lumopet {

// RetryWarning: the exclamation icon with OK (try again) and Cancel.
// CautiousQuestion: Yes and No with No as the default, for a question whose
// Yes goes on with something that cannot be taken back.
enum class MessageKind { Notice, Warning, RetryWarning, Question, CautiousQuestion, Error };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
    MessageKind kind;
    QString text;
    QString title;
};

using MessageAnswerer = std::function<MessageAnswer(const MessageRequest&)>;

// An empty answerer brings back the real dialogs.
void SetMessageAnswerer(MessageAnswerer answerer);

MessageAnswer ShowMessage(QWidget* parent, const MessageRequest& request);

// A simple notice carries the program's name as its title, nothing of its own.
inline void ShowNotice(QWidget* parent, const QString& text) {
    ShowMessage(parent, {MessageKind::Notice, text, QString()});
}

// A deletion question: Yes and No, a question icon, the title "確認".
inline bool AskToConfirm(QWidget* parent, const QString& text) {
    return ShowMessage(parent, {MessageKind::Question, text, QStringLiteral("確認")}) == MessageAnswer::Yes;
}

// A notice with the exclamation icon.
inline void ShowWarning(QWidget* parent, const QString& text) {
    ShowMessage(parent, {MessageKind::Warning, text, QString()});
}

inline void ShowError(QWidget* parent, const QString& title, const QString& text) {
    ShowMessage(parent, {MessageKind::Error, text, title});
}

}  // namespace lumopet
