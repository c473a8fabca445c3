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

void MailServersEnvironment::SetUp() {
    servers = new LocalMailServers(accounts_);
    ASSERT_TRUE(servers->running()) << servers->error().toStdString();
    qputenv("LUMOPET_CA_FILE", servers->caFile().toUtf8());
}

void MailServersEnvironment::TearDown() {
    delete servers;
    servers = nullptr;
}

}  // namespace lumopet::test
