#include "tests/e2e/local_mail_servers.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace lumopet::test {
namespace {

const QString kScript = QStringLiteral(LUMOPET_SOURCE_DIR "/scripts/mail_servers.py");
// The Debian aiosmtpd works with the system's Python only.
const QString kPython = QStringLiteral("/usr/bin/python3");

}  // namespace

LocalMailServers::LocalMailServers(const QStringList& accounts, const QStringList& startOptions) {
    QStringList arguments{QStringLiteral("start"), QStringLiteral("--dir"), dir_.path()};
    for (const QString& account : accounts) arguments << QStringLiteral("--account") << account;
    arguments << startOptions;
    bool ok = false;
    const QByteArray output = runScript(arguments, {}, &ok);
    const QJsonObject ports = QJsonDocument::fromJson(output.trimmed().split('\n').last()).object();
    if (!ok || ports.isEmpty()) {
        error_ = QStringLiteral("the mail servers did not start: ") + QString::fromUtf8(output);
        return;
    }
    pop3Port_ = ports.value(QStringLiteral("pop3")).toInt();
    pop3sPort_ = ports.value(QStringLiteral("pop3s")).toInt();
    smtpPort_ = ports.value(QStringLiteral("smtp")).toInt();
    smtpsPort_ = ports.value(QStringLiteral("smtps")).toInt();
    caFile_ = ports.value(QStringLiteral("ca")).toString();
    submissionPort_ = ports.value(QStringLiteral("submission")).toInt();
    submissionsPort_ = ports.value(QStringLiteral("submissions")).toInt();
    oauth2Url_ = ports.value(QStringLiteral("oauth2")).toString();
}

QStringList OAuth2Options(const QString& user, int lifetimeSeconds, bool rotate) {
    QStringList options{QStringLiteral("--oauth2"), user, QStringLiteral("--oauth2-access-lifetime"),
                        QString::number(lifetimeSeconds)};
    if (rotate) options << QStringLiteral("--oauth2-rotate-refresh");
    return options;
}

LocalMailServers::~LocalMailServers() { runScript({QStringLiteral("stop"), QStringLiteral("--dir"), dir_.path()}); }

QByteArray LocalMailServers::runScript(const QStringList& arguments, const QByteArray& input, bool* ok) const {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kPython, QStringList{kScript} + arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(30000);
    if (ok) *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return process.readAll();
}

bool LocalMailServers::deliver(const QString& account, const QByteArray& message) const {
    bool ok = false;
    runScript({QStringLiteral("deliver"), QStringLiteral("--dir"), dir_.path(), QStringLiteral("--account"), account,
               QStringLiteral("-")},
              message, &ok);
    return ok;
}

bool LocalMailServers::deliverFile(const QString& account, const QString& path) const {
    bool ok = false;
    runScript({QStringLiteral("deliver"), QStringLiteral("--dir"), dir_.path(), QStringLiteral("--account"), account, path},
              {}, &ok);
    return ok;
}

int LocalMailServers::count(const QString& account) const {
    bool ok = false;
    const QByteArray output =
        runScript({QStringLiteral("count"), QStringLiteral("--dir"), dir_.path(), QStringLiteral("--account"), account}, {}, &ok);
    bool number = false;
    const int value = output.trimmed().toInt(&number);
    return ok && number ? value : -1;
}

lumopet::Result<QJsonObject> LocalMailServers::askOAuth2(const QString& action, const QByteArray& input) const {
    bool ok = false;
    const QByteArray output =
        runScript({QStringLiteral("oauth2"), QStringLiteral("--dir"), dir_.path(), action}, input, &ok);
    const QJsonObject answer = QJsonDocument::fromJson(output.trimmed().split('\n').last()).object();
    if (!ok || answer.isEmpty()) {
        // The error answer names no token; the script's own complaint is
        // about the server, never a secret.
        return lumopet::Failure{QStringLiteral("oauth2 %1: %2").arg(action, QString::fromUtf8(output.trimmed()))};
    }
    return answer;
}

namespace {

lumopet::Result<OAuthTokens> TokensOf(const lumopet::Result<QJsonObject>& answer) {
    if (!answer) return lumopet::Failure{answer.error()};
    const QJsonObject& json = answer.value();
    OAuthTokens tokens{json.value(QStringLiteral("access_token")).toString(),
                       json.value(QStringLiteral("refresh_token")).toString(),
                       json.value(QStringLiteral("expires_in")).toInt()};
    if (tokens.accessToken.isEmpty()) return lumopet::Failure{QStringLiteral("no access_token in the answer")};
    return tokens;
}

}  // namespace

lumopet::Result<OAuthTokens> LocalMailServers::signIn() const { return TokensOf(askOAuth2(QStringLiteral("sign-in"))); }

lumopet::Result<OAuthTokens> LocalMailServers::refresh(const QString& refreshToken) const {
    // On stdin: a token on the command line would show in ps.
    return TokensOf(askOAuth2(QStringLiteral("refresh"), refreshToken.toUtf8() + '\n'));
}

bool LocalMailServers::expireAccessTokens() const { return bool(askOAuth2(QStringLiteral("expire"))); }

bool LocalMailServers::revokeRefreshTokens() const { return bool(askOAuth2(QStringLiteral("revoke"))); }

QJsonObject LocalMailServers::oauth2Stats() const {
    const lumopet::Result<QJsonObject> answer = askOAuth2(QStringLiteral("stats"));
    return answer ? answer.value() : QJsonObject{};
}

void MailServersEnvironment::SetUp() {
    servers = new LocalMailServers(accounts_, startOptions_);
    ASSERT_TRUE(servers->running()) << servers->error().toStdString();
    qputenv("LUMOPET_CA_FILE", servers->caFile().toUtf8());
}

void MailServersEnvironment::TearDown() {
    delete servers;
    servers = nullptr;
}

}  // namespace lumopet::test
