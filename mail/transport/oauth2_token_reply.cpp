#include "mail/transport/oauth2_token_reply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkRequest>
#include <QUrl>

#include <algorithm>

namespace lumopet::mail {

namespace {

// A provider's words, fit for a status line: printable, short, and with
// every secret of the request cut out.
QString ProviderWords(QString text, const QStringList& secrets, qsizetype longest) {
    for (const QString& secret : secrets) {
        if (!secret.isEmpty()) text.replace(secret, QStringLiteral("…"));
    }
    // Line breaks and tabs become blanks; any other control character goes.
    text = text.simplified();
    text.erase(std::remove_if(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; }),
               text.end());
    if (text.size() > longest) text = text.left(longest) + u'…';
    return text;
}

// expires_in as a count of seconds: a JSON number, or a number in a string
// (Microsoft's endpoints sent strings for years).
std::optional<qint64> Lifetime(const QJsonValue& value) {
    if (value.isDouble()) return static_cast<qint64>(value.toDouble());
    bool ok = false;
    const qint64 seconds = value.toString().toLongLong(&ok);
    return ok ? std::optional<qint64>(seconds) : std::nullopt;
}

TokenOutcome Failed(QString text) { return {TokenOutcome::Kind::Failed, {}, std::move(text)}; }

TokenOutcome ReadGrant(const QJsonObject& object, const QDateTime& now) {
    const QString access = object.value(QLatin1String("access_token")).toString();
    const QJsonValue type = object.value(QLatin1String("token_type"));
    // A token of another type (mac, DPoP) would be sent as a bearer token
    // the server refuses; say so instead.
    if (access.isEmpty() || (!type.isUndefined() && type.toString().compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0))
        return Failed(QStringLiteral("トークンの発行元の答えにアクセストークンがありません。"));
    const QJsonValue lifetime = object.value(QLatin1String("expires_in"));
    qint64 seconds = kAssumedLifetimeSeconds;
    if (!lifetime.isUndefined()) {
        const std::optional<qint64> given = Lifetime(lifetime);
        if (!given) return Failed(QStringLiteral("トークンの発行元の答えを読めません (expires_in)。"));
        seconds = std::max<qint64>(0, *given);
    }
    TokenGrant grant{access, now.toUTC().addSecs(seconds), object.value(QLatin1String("refresh_token")).toString()};
    return {TokenOutcome::Kind::Granted, std::move(grant), {}};
}

}  // namespace

TokenOutcome ReadTokenReply(const TokenReplyData& reply, const QDateTime& now, const QStringList& secrets) {
    if (reply.httpStatus == 0) {
        if (reply.error == QNetworkReply::OperationCanceledError || reply.error == QNetworkReply::TimeoutError)
            return Failed(QStringLiteral("トークンの発行元から時間内に答えがありませんでした。"));
        return Failed(QStringLiteral("トークンの発行元に接続できません: %1").arg(ProviderWords(reply.errorText, secrets, 300)));
    }
    const QJsonDocument document = QJsonDocument::fromJson(reply.body);
    const QJsonObject object = document.object();
    if (reply.httpStatus >= 200 && reply.httpStatus < 300) {
        if (!document.isObject()) return Failed(QStringLiteral("トークンの発行元の答えを読めません。"));
        return ReadGrant(object, now);
    }
    const QString code = ProviderWords(object.value(QLatin1String("error")).toString(), secrets, 64);
    const QString description =
        ProviderWords(object.value(QLatin1String("error_description")).toString(), secrets, 200);
    // RFC 6749 5.2: invalid_grant is the refresh token (or the code)
    // itself refused, expired or revoked; nothing but a new sign-in helps.
    if (code == QLatin1String("invalid_grant")) {
        QString text = QStringLiteral("サインインが無効になりました。ブラウザーでサインインし直してください。");
        if (!description.isEmpty()) text += QStringLiteral(" (%1)").arg(description);
        return {TokenOutcome::Kind::InvalidGrant, {}, text};
    }
    QString detail = QStringLiteral("HTTP %1").arg(reply.httpStatus);
    if (!code.isEmpty()) detail += u' ' + code;
    if (!description.isEmpty()) detail += QStringLiteral(": ") + description;
    return Failed(QStringLiteral("トークンの発行元がエラーを返しました (%1)。").arg(detail));
}

QByteArray FormBody(const std::vector<std::pair<QString, QString>>& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty()) body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return body;
}

TokenReplyData TakeReplyData(QNetworkReply& reply) {
    TokenReplyData data;
    data.error = reply.error();
    data.errorText = reply.errorString();
    data.httpStatus = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    data.contentType = reply.header(QNetworkRequest::ContentTypeHeader).toByteArray();
    // A token answer is a few KB; a server that sends more is not one.
    if (reply.isOpen()) data.body = reply.read(256 * 1024);
    return data;
}

QNetworkReply* PostTokenForm(QNetworkAccessManager& network, const QString& tokenUrl,
                             const std::vector<std::pair<QString, QString>>& fields, const QStringList& secrets,
                             std::function<void(const TokenOutcome&)> done) {
    QNetworkRequest request{QUrl(tokenUrl)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = network.post(request, FormBody(fields));
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, secrets, done = std::move(done)] {
        const TokenOutcome outcome = ReadTokenReply(TakeReplyData(*reply), QDateTime::currentDateTimeUtc(), secrets);
        reply->deleteLater();
        done(outcome);
    });
    return reply;
}

}  // namespace lumopet::mail
