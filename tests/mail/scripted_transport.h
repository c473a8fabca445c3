#pragma once
// A transport that plays a mailbox from a script, for the faults real
// servers will not make on request: a connection cut in the middle of a
// message, a refused delivery at a chosen moment.

#include "mail/mail_transport.h"

#include <QStringList>

#include <memory>
#include <set>
#include <vector>

namespace lumopet::mail::test {

struct ScriptedMailbox {
    // What the server holds; message 1 first.
    std::vector<QByteArray> messages;
    QString connectError;         // non-empty: the server cannot be reached
    QString loginError;           // non-empty: the login fails with this reply
    std::set<int> cutRetrieves;   // these numbers fail half-way
    QString sendError;            // non-empty: SMTP refuses

    // What happened.
    QStringList log;
    std::set<int> marked;     // DELE sent, not yet committed
    std::set<int> deleted;    // committed at QUIT
    struct Delivery {
        QString from, to;
        QByteArray message;
    };
    std::vector<Delivery> deliveries;
};

class ScriptedSession : public Pop3Session {
public:
    explicit ScriptedSession(std::shared_ptr<ScriptedMailbox> box) : box_(std::move(box)) {}

    lumopet::Result<std::vector<qint64>> login(const QString& user, const QString&, bool apop) override {
        box_->log.append(QStringLiteral("login %1%2").arg(user, apop ? QStringLiteral(" apop") : QString()));
        if (!box_->loginError.isEmpty()) return Failure{box_->loginError};
        std::vector<qint64> sizes;
        for (const QByteArray& message : box_->messages) sizes.push_back(message.size());
        return sizes;
    }
    lumopet::Result<QByteArray> retrieve(int number) override {
        box_->log.append(QStringLiteral("retr %1").arg(number));
        if (box_->cutRetrieves.count(number)) return Failure{QStringLiteral("connection cut")};
        return box_->messages.at(static_cast<size_t>(number - 1));
    }
    lumopet::Status remove(int number) override {
        box_->log.append(QStringLiteral("dele %1").arg(number));
        box_->marked.insert(number);
        return success();
    }
    lumopet::Status undoDeletions() override {
        box_->log.append(QStringLiteral("rset"));
        box_->marked.clear();
        return success();
    }
    void quit() override {
        box_->log.append(QStringLiteral("quit"));
        box_->deleted.insert(box_->marked.begin(), box_->marked.end());
        box_->marked.clear();
    }

private:
    std::shared_ptr<ScriptedMailbox> box_;
};

class ScriptedTransport : public MailTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<ScriptedMailbox> box) : box_(std::move(box)) {}

    lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& server) override {
        box_->log.append(QStringLiteral("connect %1").arg(server));
        if (!box_->connectError.isEmpty()) return Failure{box_->connectError};
        return std::unique_ptr<Pop3Session>(new ScriptedSession(box_));
    }
    lumopet::Status sendSmtp(const QString&, const SmtpLogin&, const QString& from, const QString& to,
                             const QByteArray& message) override {
        if (!box_->sendError.isEmpty()) return Failure{box_->sendError};
        box_->deliveries.push_back({from, to, message});
        return success();
    }

private:
    std::shared_ptr<ScriptedMailbox> box_;
};

}  // namespace lumopet::mail::test
