#include "mail/transport/oauth2_redirect_listener.h"

#include <QHostAddress>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVariantMap>

namespace lumopet::mail {

namespace {

// A redirect's request line and headers fit in a few KB; a browser sends
// its cookies for 127.0.0.1 too, so leave room for them.
constexpr qsizetype kLargestRequest = 32 * 1024;
// A connection that sends no whole request in this long is dropped: a
// program on this machine must not hold the listener's sockets open.
constexpr int kRequestMilliseconds = 10'000;

QString Printable(const QString& text) {
    QString kept;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f) kept += c;
    }
    return kept.left(64);
}

struct Page {
    int status;
    const char* reason;
    QString japanese;
    QString english;
};

Page PageFor(RedirectKind kind) {
    switch (kind) {
    case RedirectKind::Accepted:
        return {200, "OK", QStringLiteral("サインインの応答を受け取りました。このページを閉じて Lumopet に戻ってください。"),
                QStringLiteral("Lumopet received the sign-in. You may close this page and return to Lumopet.")};
    case RedirectKind::ProviderRefused:
        return {400, "Bad Request", QStringLiteral("サインインは許可されませんでした。Lumopet に戻ってください。"),
                QStringLiteral("The sign-in was not granted. Please return to Lumopet.")};
    case RedirectKind::WrongState:
        return {400, "Bad Request",
                QStringLiteral("この応答は Lumopet が始めたサインインのものではありません。受け付けませんでした。"),
                QStringLiteral("This answer does not belong to the sign-in Lumopet started. It was refused.")};
    case RedirectKind::NoCode:
        return {400, "Bad Request", QStringLiteral("応答に認可コードがありません。受け付けませんでした。"),
                QStringLiteral("The answer holds no authorization code. It was refused.")};
    case RedirectKind::Repeated:
        return {400, "Bad Request",
                QStringLiteral("このサインインの応答は受け取り済みです。二度目の応答は受け付けません。"),
                QStringLiteral("The answer to this sign-in was received already. A second one is refused.")};
    case RedirectKind::NotOurs:
        break;
    }
    return {404, "Not Found", QStringLiteral("ここには何もありません。"), QStringLiteral("Nothing here.")};
}

}  // namespace

RedirectVerdict JudgeRedirect(QByteArrayView method, QByteArrayView target, QByteArrayView expectedState,
                              bool answeredBefore) {
    if (method != "GET") return {};
    const qsizetype mark = target.indexOf('?');
    if (target.first(mark < 0 ? target.size() : mark) != "/") return {};
    if (answeredBefore) return {RedirectKind::Repeated, {}, {}};
    // RFC 6749 4.1.2: the parameters come form-encoded, where "+" is a blank.
    QByteArray query = mark < 0 ? QByteArray() : target.sliced(mark + 1).toByteArray();
    query.replace('+', "%20");
    const QUrlQuery items(QString::fromLatin1(query));
    const QStringList states = items.allQueryItemValues(QStringLiteral("state"), QUrl::FullyDecoded);
    // A parameter given twice is no answer of a provider (RFC 6749 3.1).
    if (expectedState.isEmpty() || states.size() != 1 || states.front().toUtf8() != expectedState)
        return {RedirectKind::WrongState, {}, {}};
    const QStringList errors = items.allQueryItemValues(QStringLiteral("error"), QUrl::FullyDecoded);
    if (!errors.isEmpty()) return {RedirectKind::ProviderRefused, {}, Printable(errors.front())};
    const QStringList codes = items.allQueryItemValues(QStringLiteral("code"), QUrl::FullyDecoded);
    if (codes.size() != 1 || codes.front().isEmpty()) return {RedirectKind::NoCode, {}, {}};
    return {RedirectKind::Accepted, codes.front(), {}};
}

QByteArray RedirectResponse(RedirectKind kind) {
    const Page page = PageFor(kind);
    const QByteArray body = QStringLiteral(
                                "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\"><title>Lumopet</title></head>"
                                "<body><p>%1</p><p lang=\"en\">%2</p></body></html>\n")
                                .arg(page.japanese, page.english)
                                .toUtf8();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(page.status) + ' ' + page.reason + "\r\n";
    response += "Content-Type: text/html; charset=utf-8\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    // The page's address holds the code: keep it out of caches and of the
    // Referer of anything the page might load.
    response += "Cache-Control: no-store\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
    return response + body;
}

LoopbackRedirectListener::LoopbackRedirectListener(QObject* parent) : QOAuthOobReplyHandler(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &LoopbackRedirectListener::takeConnections);
}

LoopbackRedirectListener::~LoopbackRedirectListener() = default;

Status LoopbackRedirectListener::listen() {
    if (server_.isListening() || server_.listen(QHostAddress::LocalHost, 0)) return success();
    return Failure{QStringLiteral("サインインの応答を受け取る口を開けませんでした: %1").arg(server_.errorString())};
}

void LoopbackRedirectListener::close() { server_.close(); }

QString LoopbackRedirectListener::callback() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort());
}

void LoopbackRedirectListener::takeConnections() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        // A socket outlives the listener long enough to send its page: the
        // sign-in may end, and the listener go, on the request it answers.
        // Its own time-out below, or the peer's close, removes it.
        socket->setParent(nullptr);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        QTimer::singleShot(kRequestMilliseconds, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void LoopbackRedirectListener::answer(QTcpSocket* socket) {
    // The request stays in the socket's buffer until its headers are whole.
    const QByteArray seen = socket->peek(kLargestRequest + 1);
    const bool whole = seen.contains("\r\n\r\n") || seen.contains("\n\n");
    if (!whole && seen.size() <= kLargestRequest) return;
    socket->readAll();
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QList<QByteArray> words = seen.left(seen.indexOf('\n')).trimmed().split(' ');
    RedirectVerdict verdict;
    if (whole && words.size() == 3) verdict = JudgeRedirect(words[0], words[1], expectedState_, answered_);
    socket->write(RedirectResponse(verdict.kind));
    socket->disconnectFromHost();
    if (verdict.kind == RedirectKind::NotOurs) return;
    if (verdict.kind == RedirectKind::Accepted) {
        answered_ = true;
        // An endpoint that echoes the code in its error must not put it in a text.
        secrets_ << verdict.code;
    }
    Q_EMIT redirectJudged(verdict);
    if (verdict.kind == RedirectKind::Accepted) {
        // The flow takes the values percent-encoded, as they came in a URL.
        QVariantMap values;
        values.insert(QStringLiteral("code"), QString::fromLatin1(QUrl::toPercentEncoding(verdict.code)));
        values.insert(QStringLiteral("state"), QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(expectedState_))));
        Q_EMIT callbackReceived(values);
    }
}

void LoopbackRedirectListener::networkReplyFinished(QNetworkReply* reply) {
    const TokenOutcome outcome = ReadTokenReply(TakeReplyData(*reply), QDateTime::currentDateTimeUtc(), secrets_);
    reply->deleteLater();
    Q_EMIT tokenReplyRead(outcome);
}

}  // namespace lumopet::mail
