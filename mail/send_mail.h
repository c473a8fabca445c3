#pragma once
// Sending what the compose window holds: one message, or one to every
// entry of the address book. Each message is first appended to the sent
// history as typed; then the fortune and the character tag are added and
// the message goes out over SMTP. A failed message is reported and the
// next one goes on.
//
// The send runs off the window thread; whatever it shows goes through the
// host, which the windows implement.

#include <QString>

namespace lumopet {

struct Program;

// What the compose window holds when Send is clicked, read once.
struct SendRequest {
    QString ToText;       // the recipient box, as typed (may hold line breaks)
    QString SubjectText;
    QString BodyText;     // as typed
    QString AttachText;   // attachment paths separated by ","; empty for none
    bool Fortune = false; // Check1
    int Mood = 0;         // Option3..Option7: 1..5; Option8: 0
    bool Bulk = false;    // Option2: to every entry of the address book
};

class SendHost {
public:
    virtual ~SendHost() = default;
    // Label7 of the compose window.
    virtual void setStatus(const QString& text) = 0;
    // Message number of count is going out.
    virtual void showProgress(int number, int count) = 0;
    // The main window's clock text, which the sent history takes as the date.
    virtual QString clockText() = 0;
    // The body as the message that goes out now has it (fortune and tag).
    virtual void setBodyText(const QString& body) = 0;
    // A message box with an OK button ("送信エラー" for a failed message);
    // returns when it is answered.
    virtual void showMessage(const QString& text, const QString& title) = 0;
};

struct SendResult {
    int Count = 0;   // messages attempted
    int Failed = 0;  // of them, not sent
    // The request was refused before anything was sent or stored (a
    // recipient that is not one address, an empty address book in bulk
    // mode); the reason has been shown.
    bool Refused = false;
    bool allSent() const { return !Refused && Failed == 0 && Count > 0; }
};

inline const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
inline const QString kSendDoneText = QStringLiteral("送信完了です。");
inline const QString kSendErrorTitle = QStringLiteral("送信エラー");

// The body that goes out: the typed body, then (when asked) two CR LF, the
// fortune heading, two CR LF and fortune number fortuneNumber (1..12), then
// (for mood 1..5) four CR LF and the tag of the mood.
QString OutgoingBody(const QString& typedBody, int fortuneNumber, int mood);

// 1..12, drawn from a generator seeded from the clock.
int DrawFortuneNumber();

// The whole send. Logs in to SMTP with the account's ID and password when
// the server offers AUTH; when it offers none and refuses to relay, logs in
// to the POP3 server once (POP before SMTP) and tries that message again.
SendResult SendMail(Program& program, const SendRequest& request, SendHost& host);

}  // namespace lumopet
