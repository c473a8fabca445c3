#include "tests/transport/oauth2_test_support.h"

#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

namespace lumopet::test {

namespace {

void Stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5000)) process.kill();
}

HttpAnswer Send(const QString& url, bool post) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = post ? network.post(request, QByteArray()) : network.get(request);
    WaitFor([reply] { return reply->isFinished(); });
    HttpAnswer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->rawHeader("Location"),
                      reply->readAll()};
    delete reply;
    return answer;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
    return QTest::qWaitFor(condition, milliseconds);
}

HttpAnswer HttpGet(const QString& url) { return Send(url, false); }
HttpAnswer HttpPost(const QString& url) { return Send(url, true); }

QByteArray RawRequest(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState ||
                              socket.state() == QAbstractSocket::UnconnectedState; }))
        return {};
    if (socket.state() != QAbstractSocket::ConnectedState) return {};
    socket.write(request);
    QByteArray answer;
    WaitFor([&] {
        answer += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    });
    return answer + socket.readAll();
}

OAuthServer::OAuthServer(const QStringList& options) {
    const QString ready = dir_.filePath(QStringLiteral("ready"));
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(LUMOPET_SOURCE_DIR "/scripts/oauth2_server.py"), QStringLiteral("--port"),
                               QStringLiteral("0"), QStringLiteral("--ready-file"), ready, QStringLiteral("--user"),
                               QStringLiteral("alice")} +
                       options);
    const bool started = WaitFor([&] { return QFile::exists(ready) || process_.state() == QProcess::NotRunning; });
    QFile port(ready);
    if (started && port.open(QIODevice::ReadOnly))
        url_ = QStringLiteral("http://127.0.0.1:%1").arg(port.readAll().trimmed().toInt());
    EXPECT_FALSE(url_.isEmpty()) << "scripts/oauth2_server.py did not start";
}

OAuthServer::~OAuthServer() { Stop(process_); }

QJsonObject OAuthServer::stats() const {
    return QJsonDocument::fromJson(HttpGet(url(QStringLiteral("/admin/stats"))).body).object();
}

int OAuthServer::tokenRequests(const char* grantType) const {
    return stats().value(QLatin1String("token")).toObject().value(QLatin1String(grantType)).toInt();
}

ScriptedEndpoint::ScriptedEndpoint(QByteArray response) : response_(std::move(response)) {
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                // Answered once the request's headers are in (a token
                // request's small body comes with them).
                if (!socket->peek(64 * 1024).contains("\r\n\r\n") || socket->property("answered").toBool()) return;
                socket->setProperty("answered", true);
                ++requests;
                if (response_.isEmpty()) return;
                socket->write(response_);
                socket->disconnectFromHost();
            });
        }
    });
}

QString ScriptedEndpoint::url() const { return QStringLiteral("http://127.0.0.1:%1/token").arg(server_.serverPort()); }

}  // namespace lumopet::test
