#pragma once
// A server's refusal in words the user can act on: one Japanese sentence
// that says what was refused and what to do about it, then the server's own
// line, which the server's administrator (or a search) can make sense of.

#include <QString>

namespace lumopet::mail {

// Where an SMTP dialogue stood when the server said no: the last command we
// sent (nothing yet: the greeting).
enum class SmtpStep { Greeting, Hello, StartTls, Login, Sender, Recipient, Message };

struct SmtpRefusal {
    SmtpStep step = SmtpStep::Greeting;
    QString reply;      // the server's line: "550 5.1.1 <b@example.jp>: ..."
    QString sender;     // the MAIL FROM address
    QString recipient;  // the RCPT TO address
    // The server offers AUTH only over a plain connection, and we kept the
    // ID and password to ourselves.
    bool loginWithheld = false;
};

// "<sentence>\nサーバーの応答：<reply>".
QString DescribeSmtpRefusal(const SmtpRefusal& refusal);

// The same for a POP3 "-ERR" to USER, PASS, APOP or AUTH.
QString DescribePop3LoginRefusal(const QString& reply);

// smtp:// asks for STARTTLS, and the server has none (or refused it):
// nothing was sent. reply is the server's line when it refused, else empty.
QString StartTlsMissingText(const QString& hostAndPort, const QString& reply);

// A delivery broken off by 送信中止 before its message went out whole.
QString SendStoppedText();

}  // namespace lumopet::mail
