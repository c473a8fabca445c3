#pragma once
// What the mail operations need from the network: a POP3 session and an
// SMTP delivery. The real one runs on libcurl; tests put a scripted one in
// its place to make the faults real servers cannot (a cut in the middle of
// a message, a server that stops answering).

#include "core/result.h"
#include "store/maildir.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lumopet::mail {

struct TransportLimits {
    int connectSeconds = 15;
    // A transfer that moves less than minimumBytes in this long is given up:
    // a silent server, or one that trickles a few bytes a second, must
    // never hang the program.
    int stalledSeconds = 60;
    int minimumBytes = 1024;
    // A login may go to a server on this machine (localhost, 127.0.0.0/8,
    // ::1) without TLS: nothing of it crosses a network. The tests turn it
    // off to play a server elsewhere with one on loopback.
    bool clearLoginToLoopback = true;
};

// The messages a POP3 session marked for deletion that the server still
// holds after its end: it refused their DELE, or the session ended before
// QUIT made the deletions take effect.
struct NotDeleted {
    std::vector<int> numbers;
    QString reason;  // the server's reply, or why the session ended
};

// Where a message goes when it is too large to hold: slices of its lines
// in order, dots unstuffed, each line ended by LF alone (the form a Maildir
// keeps). A failure (the disk is full) ends the message, and the session.
using Pop3Sink = std::function<lumopet::Status(QByteArrayView)>;

// How a session logs in: an ID with its password (USER/PASS, or the SASL
// mechanism the server offers), APOP, or an OAuth2 access token (SASL
// XOAUTH2, TLS only). A value, given to each session: a mail check and a
// send never share one.
struct Credentials {
    enum class Method { None, Password, Apop, Bearer };
    Method method = Method::None;
    QString user;
    QString secret;  // the password, or the access token

    static Credentials password(QString user, QString password) {
        return {Method::Password, std::move(user), std::move(password)};
    }
    static Credentials apop(QString user, QString password) { return {Method::Apop, std::move(user), std::move(password)}; }
    static Credentials bearer(QString user, QString token) { return {Method::Bearer, std::move(user), std::move(token)}; }
    // Half an account is none: a server would only refuse the login.
    bool isSet() const { return method != Method::None && !user.isEmpty() && !secret.isEmpty(); }
};

// The mailbox's listing after a login, or why there is none. loginRefused:
// the server said no to the login itself (curl's CURLE_LOGIN_DENIED: a
// wrong password, or an access token that has expired), so a caller with a
// token may refresh it and try once more.
struct Pop3Login : lumopet::Result<std::vector<qint64>> {
    using lumopet::Result<std::vector<qint64>>::Result;
    Pop3Login(lumopet::Result<std::vector<qint64>> listed) : lumopet::Result<std::vector<qint64>>(std::move(listed)) {}
    bool loginRefused = false;
};

class Pop3Session {
public:
    virtual ~Pop3Session() = default;
    // Logs in as login says (APOP, an access token over TLS, else what the
    // server offers for an ID and password) and lists the mailbox: the size
    // in bytes of each message, message 1 first.
    virtual Pop3Login login(const Credentials& login) = 0;
    // The UIDL of each message, message 1 first (RFC 1939 UIDL). Fails when
    // the server has no UIDL command; nothing else in the session depends
    // on it.
    virtual lumopet::Result<std::vector<QString>> uniqueIds() = 0;
    // The whole message as the server holds it.
    virtual lumopet::Result<QByteArray> retrieve(int number) = 0;
    // The same, into sink as it arrives; more than largest bytes (-1: no
    // limit) fail. This one holds it whole first: the scripted transports
    // of the tests only send small messages.
    virtual lumopet::Status retrieveInto(int number, const Pop3Sink& sink, qint64 largest) {
        lumopet::Result<QByteArray> whole = retrieve(number);
        if (!whole) return Failure{whole.error()};
        if (largest >= 0 && whole.value().size() > largest) return Failure{QStringLiteral("メールが大きすぎます。")};
        return sink(MaildirLocalForm(whole.value()));
    }
    // A message larger than this (-1: no limit) fails while it arrives.
    virtual void setLargestMessage(qint64) {}
    // The header of the message alone (TOP number 0): what can be told of
    // a message too large to fetch. A transport without it fails.
    virtual lumopet::Result<QByteArray> top(int number) {
        return Failure{QStringLiteral("メッセージ %1 のヘッダーだけを受信することはできません。").arg(number)};
    }
    // Marks the message for deletion; the server deletes it at quit().
    virtual lumopet::Status remove(int number) = 0;
    // Takes back the deletions marked in this session of message
    // fromNumber and every later one (from 1: all, as RSET).
    virtual lumopet::Status undoDeletions(int fromNumber) = 0;
    // Ends the session (QUIT), which commits the deletions.
    virtual void quit() = 0;
    // After quit(): what of the deletions did not take effect.
    virtual NotDeleted notDeleted() const { return {}; }
};

// How a delivery ended. A server that offers no AUTH and refuses the
// recipient as a relay may be one that lets a machine relay only for a while
// after it logged in to the POP3 server (POP before SMTP): relayRefused says
// so, and the caller may log in there and try again.
struct SmtpStatus : lumopet::Status {
    using lumopet::Status::Status;
    SmtpStatus(lumopet::Status status) : lumopet::Status(std::move(status)) {}
    bool relayRefused = false;
    // 送信中止 broke the delivery off before the message went out whole:
    // the server has not taken it. The text is SendStoppedText().
    bool stopped = false;
    // The server refused the login (CURLE_LOGIN_DENIED), as Pop3Login says.
    bool loginRefused = false;
};

class MailTransport {
public:
    virtual ~MailTransport() = default;
    // Fails when no connection can be made to the server.
    virtual lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& server) = 0;
    // Delivers the message to the recipient addresses (bare, ASCII: one
    // RCPT TO each; a refused one fails the whole delivery, so nobody gets
    // a message some of its recipients were denied),
    // logging in with login when it is set and the server offers AUTH over
    // TLS (a password also on this machine; a server that offers AUTH only
    // in the clear gets the message without a login). An access token goes
    // over TLS only, whatever the server. APOP is POP3's: SMTP logs in with
    // the same ID and password. smtp:// sends nothing without STARTTLS. Broken off while SendStopRequested() (send_stop.h) and the
    // message is not out whole.
    virtual SmtpStatus sendSmtp(const QString& server, const Credentials& login, const QString& fromAddress,
                                const QStringList& toAddresses, const QByteArray& message) = 0;
    // The same for one recipient.
    SmtpStatus sendSmtp(const QString& server, const Credentials& login, const QString& fromAddress,
                        const QString& toAddress, const QByteArray& message) {
        return sendSmtp(server, login, fromAddress, QStringList{toAddress}, message);
    }
    // The same for a message too large to hold: the file lfFile holds it
    // with LF line ends, and it goes out with CR LF, wireSize bytes. This
    // one reads it whole: the test transports only send small messages.
    virtual SmtpStatus sendSmtpFile(const QString& server, const Credentials& login, const QString& fromAddress,
                                    const QStringList& toAddresses, int lfFile, qint64 wireSize) {
        QFile file;
        if (!file.open(lfFile, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !file.seek(0))
            return lumopet::Status(Failure{QStringLiteral("送信するメールを読めません。")});
        QByteArray message = file.readAll().replace("\n", "\r\n");
        if (message.size() != wireSize) return lumopet::Status(Failure{QStringLiteral("送信するメールの大きさが合いません。")});
        return sendSmtp(server, login, fromAddress, toAddresses, message);
    }
};

// The libcurl transport. Trusts the system's certificate authorities and,
// when LUMOPET_CA_FILE names one, that file too (the local test servers).
std::unique_ptr<MailTransport> MakeCurlTransport(TransportLimits limits = {});

}  // namespace lumopet::mail
