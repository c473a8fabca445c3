#pragma once
// The program's end of the browser sign-in's redirect: an HTTP listener on
// 127.0.0.1 and a free port (RFC 8252 7.3), open only while a sign-in runs.
//
// Qt's QOAuthHttpServerReplyHandler answers every request with one page and
// hands whatever came to the flow. This one judges each redirect first:
// only the first one to the callback path with our state and a code goes on
// to the flow; a wrong state, a missing code or a second redirect gets a
// page that says so (Japanese and English), and nothing is asked of the
// token endpoint. It is also the flow's reader of the token endpoint's
// answer (oauth2_token_reply.h), where Qt's own reader says nothing of an
// HTTP error.

#include "core/result.h"
#include "mail/transport/oauth2_token_reply.h"

#include <QByteArray>
#include <QOAuthOobReplyHandler>
#include <QPointer>
#include <QTcpServer>

namespace lumopet::mail {

// What became of one request to the listener.
enum class RedirectKind {
    Accepted,         // our state and a code: the code goes to the flow
    ProviderRefused,  // our state and an error (the user said no)
    WrongState,       // not the answer to our request
    NoCode,           // our state, neither code nor error
    Repeated,         // the redirect came once already
    NotOurs,          // another path (a browser's favicon) or method
};

struct RedirectVerdict {
    RedirectKind kind = RedirectKind::NotOurs;
    QString code;           // Accepted: decoded
    QString providerError;  // ProviderRefused: the error code, printable
};

// Judges one request line's method and target ("GET /?code=...&state=...")
// for the sign-in whose state is expectedState. Pure: the listener's rules
// in one place.
RedirectVerdict JudgeRedirect(QByteArrayView method, QByteArrayView target, QByteArrayView expectedState,
                              bool answeredBefore);

// The whole HTTP response the browser gets for the verdict.
QByteArray RedirectResponse(RedirectKind kind);

class LoopbackRedirectListener : public QOAuthOobReplyHandler {
    Q_OBJECT
public:
    explicit LoopbackRedirectListener(QObject* parent = nullptr);
    ~LoopbackRedirectListener() override;

    // Listens on 127.0.0.1, on a port the system picks.
    Status listen();
    // Stops listening. A page already written still reaches the browser.
    void close();
    bool isListening() const { return server_.isListening(); }

    // "http://127.0.0.1:<port>/": the redirect_uri.
    QString callback() const override;

    void setExpectedState(const QByteArray& state) { expectedState_ = state; }
    // The values of the token request the text of a failure must not hold.
    void setSecrets(const QStringList& secrets) { secrets_ = secrets; }

protected:
    // The token endpoint's answer to the flow's code exchange.
    void networkReplyFinished(QNetworkReply* reply) override;

Q_SIGNALS:
    // Every request to the callback path, with its verdict; Accepted also
    // goes to the flow as callbackReceived.
    void redirectJudged(const lumopet::mail::RedirectVerdict& verdict);
    void tokenReplyRead(const lumopet::mail::TokenOutcome& outcome);

private:
    void takeConnections();
    void answer(class QTcpSocket* socket);

    QTcpServer server_;
    QByteArray expectedState_;
    QStringList secrets_;
    bool answered_ = false;
};

}  // namespace lumopet::mail
