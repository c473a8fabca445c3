#pragma once
// What the sign-in tests share: the tests' authorization server
// (scripts/oauth2_server.py) as a process, plain HTTP requests that follow no
// redirect, and a token endpoint of the test's own that answers what it is
// told (or nothing).

#include "tests/support/https_file_server.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace lumopet::test {

// Waits for the condition while the event loop runs.
bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10'000);

struct HttpAnswer {
    int status = 0;
    QByteArray location;
    QByteArray body;
};

// GET without following a redirect.
HttpAnswer HttpGet(const QString& url);
// POST of an empty form.
HttpAnswer HttpPost(const QString& url);

// One request on a connection of its own to 127.0.0.1:port, as a browser
// sends it; the whole answer.
QByteArray RawRequest(quint16 port, const QByteArray& request);

class OAuthServer {
public:
    // scripts/oauth2_server.py with --user alice and the options.
    explicit OAuthServer(const QStringList& options = {});
    ~OAuthServer();
    bool running() const { return !url_.isEmpty(); }
    QString url(const QString& path = {}) const { return url_ + path; }
    // GET /admin/stats.
    QJsonObject stats() const;
    int tokenRequests(const char* grantType) const;
    void revokeRefreshTokens() const { HttpPost(url(QStringLiteral("/admin/revoke"))); }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString url_;
};

// A token endpoint on 127.0.0.1 that answers each request with the given
// bytes (empty: holds the connection and says nothing).
class ScriptedEndpoint {
public:
    explicit ScriptedEndpoint(QByteArray response);
    QString url() const;
    int requests = 0;

private:
    QTcpServer server_;
    QByteArray response_;
};

}  // namespace lumopet::test
