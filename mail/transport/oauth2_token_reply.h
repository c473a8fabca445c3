#pragma once
// The token endpoint's answer (RFC 6749 5.1 and 5.2), read into what the
// keeper needs, and the form posts that ask for it.
//
// Only the error code and the provider's description reach a text, with
// every secret of the request cut out: a token endpoint that echoes what it
// was sent must not put a refresh token in the status line.

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace lumopet::mail {

struct TokenGrant {
    QString accessToken;
    QDateTime expiresAt;  // UTC
    QString refreshToken;  // empty: none given (keep the one we have)
};

struct TokenOutcome {
    enum class Kind {
        Granted,
        // invalid_grant: the refresh token (or the code) is no good any
        // more. Only a new sign-in helps.
        InvalidGrant,
        // Anything else: the endpoint could not be reached, said something
        // we cannot read, or refused for a reason a later try may not meet.
        Failed,
    };
    Kind kind = Kind::Failed;
    TokenGrant grant;
    QString text;  // for InvalidGrant and Failed; no secret in it

    bool granted() const { return kind == Kind::Granted; }
};

// What came back from one POST.
struct TokenReplyData {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;  // the network's words for error
    int httpStatus = 0;  // 0: no HTTP answer
    QByteArray contentType;
    QByteArray body;
};

// A token endpoint that gives no lifetime is taken to give an hour, as the
// large providers do.
inline constexpr qint64 kAssumedLifetimeSeconds = 3600;

// Reads the answer. now is when the request was answered; secrets are the
// values sent (refresh token, code, verifier, client secret) that the text
// must never hold.
TokenOutcome ReadTokenReply(const TokenReplyData& reply, const QDateTime& now, const QStringList& secrets);

// application/x-www-form-urlencoded of the pairs, every byte outside the
// unreserved set percent-encoded ("+" too, which a form decoder reads as a
// blank).
QByteArray FormBody(const std::vector<std::pair<QString, QString>>& fields);

// Posts the form to the token URL through the network (oauth2_network.h)
// and calls done with what was read, once; the reply is deleted after.
// Returns the reply, to abort it with.
QNetworkReply* PostTokenForm(QNetworkAccessManager& network, const QString& tokenUrl,
                             const std::vector<std::pair<QString, QString>>& fields, const QStringList& secrets,
                             std::function<void(const TokenOutcome&)> done);

// The data of a finished reply, read once.
TokenReplyData TakeReplyData(QNetworkReply& reply);

}  // namespace lumopet::mail
