#pragma once
// A transport that plays a mailbox from a script, for the faults real
// servers will not make on request: a connection cut in the middle of a
// message, a refused delivery at a chosen moment.

#include "mail/mail_transport.h"
#include "mail/send_stop.h"
#include "mail/server_refusal.h"

#include <QStringList>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace lumopet::mail::test {

struct ScriptedMailbox {
    // What the server holds; message 1 first.
    std::vector<QByteArray> messages;
    QString connectError;         // non-empty: the server cannot be reached
    QString loginError;           // non-empty: the login fails with this reply
    bool loginRefused = false;    // ... and it is a refusal of the login itself
    std::set<int> cutRetrieves;   // these numbers fail half-way
    // DELE of these numbers is refused at the end of the session, with
    // this reply.
    std::set<int> refusedDeletes;
    QString deleteRefusal = QStringLiteral("-ERR Message is locked");
    // LIST gives these sizes for these numbers instead of the real ones:
    // a huge message without the memory it would take.
    std::map<int, qint64> listedSizes;
    bool offersTop = true;        // false: TOP is refused
    // The UIDL of each message; empty: the server has no UIDL command.
    std::vector<QString> uidls;
    QString sendError;            // non-empty: SMTP refuses
    // SMTP refuses these recipient addresses with the reply given.
    std::map<QString, QString> refusedRecipients;
    // SMTP offers AUTH; with authRequired, it refuses a delivery without a
    // login.
    bool offersAuth = false;
    bool authRequired = false;
    // Non-empty: SMTP refuses the login (an expired token) with this reply.
    QString smtpLoginRefusal;
    // SMTP offers no AUTH and relays only after a POP3 login succeeded.
    bool popBeforeSmtp = false;

    // What happened.
    QStringList log;
    std::set<int> marked;     // DELE sent, not yet committed
    std::set<int> deleted;    // committed at QUIT
    struct Delivery {
        // to: the RCPT TO addresses, separated by blanks.
        QString from, to;
        QByteArray message;
        QString loginUser, loginPassword;  // the login used; empty: none
    };
    std::vector<Delivery> deliveries;
    bool popLoggedIn = false;
    std::vector<Credentials> popLogins;   // every POP3 login, in order
    std::vector<Credentials> smtpLogins;  // what every delivery was given
};

class ScriptedSession : public Pop3Session {
public:
    explicit ScriptedSession(std::shared_ptr<ScriptedMailbox> box) : box_(std::move(box)) {}

    Pop3Login login(const Credentials& login) override {
        const bool apop = login.method == Credentials::Method::Apop;
        box_->log.append(QStringLiteral("login %1%2").arg(login.user, apop ? QStringLiteral(" apop") : QString()));
        box_->popLogins.push_back(login);
        if (!box_->loginError.isEmpty()) {
            Pop3Login refused = Failure{box_->loginError};
            refused.loginRefused = box_->loginRefused;
            return refused;
        }
        box_->popLoggedIn = true;
        std::vector<qint64> sizes;
        for (const QByteArray& message : box_->messages) sizes.push_back(message.size());
        for (const auto& [number, size] : box_->listedSizes) sizes.at(static_cast<size_t>(number - 1)) = size;
        return Pop3Login(std::move(sizes));
    }
    lumopet::Result<std::vector<QString>> uniqueIds() override {
        box_->log.append(QStringLiteral("uidl"));
        if (box_->uidls.empty()) return Failure{QStringLiteral("-ERR Unknown command: UIDL")};
        return box_->uidls;
    }
    lumopet::Result<QByteArray> retrieve(int number) override {
        box_->log.append(QStringLiteral("retr %1").arg(number));
        if (box_->cutRetrieves.count(number)) return Failure{QStringLiteral("connection cut")};
        return box_->messages.at(static_cast<size_t>(number - 1));
    }
    lumopet::Result<QByteArray> top(int number) override {
        box_->log.append(QStringLiteral("top %1").arg(number));
        if (!box_->offersTop) return Failure{QStringLiteral("-ERR Unknown command: TOP")};
        const QByteArray& message = box_->messages.at(static_cast<size_t>(number - 1));
        const qsizetype blank = message.indexOf("\r\n\r\n");
        return blank < 0 ? message : message.first(blank + 4);
    }
    lumopet::Status remove(int number) override {
        box_->log.append(QStringLiteral("dele %1").arg(number));
        box_->marked.insert(number);
        return success();
    }
    lumopet::Status undoDeletions(int fromNumber) override {
        box_->log.append(fromNumber <= 1 ? QStringLiteral("rset") : QStringLiteral("rset from %1").arg(fromNumber));
        std::erase_if(box_->marked, [&](int n) { return n >= fromNumber; });
        return success();
    }
    void quit() override {
        box_->log.append(QStringLiteral("quit"));
        for (const int n : box_->marked) {
            if (box_->refusedDeletes.count(n)) notDeleted_.numbers.push_back(n);
            else box_->deleted.insert(n);
        }
        if (!notDeleted_.numbers.empty()) notDeleted_.reason = box_->deleteRefusal;
        box_->marked.clear();
    }
    NotDeleted notDeleted() const override { return notDeleted_; }

private:
    std::shared_ptr<ScriptedMailbox> box_;
    NotDeleted notDeleted_;
};

class ScriptedTransport : public MailTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<ScriptedMailbox> box) : box_(std::move(box)) {}

    lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& server) override {
        box_->log.append(QStringLiteral("connect %1").arg(server));
        if (!box_->connectError.isEmpty()) return Failure{box_->connectError};
        return std::unique_ptr<Pop3Session>(new ScriptedSession(box_));
    }
    SmtpStatus sendSmtp(const QString& server, const Credentials& login, const QString& from,
                        const QStringList& recipients, const QByteArray& message) override {
        const QString to = recipients.join(u' ');
        box_->log.append(QStringLiteral("smtp %1 %2").arg(server, to));
        // curl logs in only when the server offers AUTH.
        const bool loggedIn = box_->offersAuth && login.isSet();
        box_->smtpLogins.push_back(login);
        if (loggedIn && !box_->smtpLoginRefusal.isEmpty()) {
            SmtpStatus refused = Failure{box_->smtpLoginRefusal};
            refused.loginRefused = true;
            return refused;
        }
        if (!box_->sendError.isEmpty()) return Failure{box_->sendError};
        if (box_->authRequired && !loggedIn) return Failure{QStringLiteral("530 5.7.0 Authentication required")};
        if (box_->popBeforeSmtp && !box_->offersAuth && !box_->popLoggedIn) {
            SmtpStatus refused = Failure{QStringLiteral("554 5.7.1 <%1>: Relay access denied").arg(to)};
            refused.relayRefused = true;
            return refused;
        }
        // As curl does: a refused RCPT TO ends the delivery, nobody gets it.
        for (const QString& recipient : recipients)
            if (const auto refused = box_->refusedRecipients.find(recipient); refused != box_->refusedRecipients.end())
                return Failure{refused->second};
        box_->deliveries.push_back({from, to, message, loggedIn ? login.user : QString(), loggedIn ? login.secret : QString()});
        return success();
    }

private:
    std::shared_ptr<ScriptedMailbox> box_;
};

// A server that never answers: the transfer waits until 送信中止 (at most
// ten seconds) and is then broken off, as the curl transport does.
class NeverAnsweringTransport : public ScriptedTransport {
public:
    using ScriptedTransport::ScriptedTransport;
    SmtpStatus sendSmtp(const QString&, const Credentials&, const QString&, const QStringList&, const QByteArray&) override {
        waiting = true;
        for (int i = 0; i < 1000 && !SendStopRequested(); ++i) QThread::msleep(10);
        SmtpStatus stopped = Failure{SendStoppedText()};
        stopped.stopped = true;
        return stopped;
    }
    std::atomic<bool> waiting = false;
};

}  // namespace lumopet::mail::test
