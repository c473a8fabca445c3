#pragma once
// A test server of scripts/ (strict_smtp_server.py, strict_pop3_server.py)
// for one case, gone with the object: its standard input closes and it
// ends. It names the record file of what crossed, and its certificate
// authority, which LUMOPET_CA_FILE names while it runs.

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <vector>

namespace lumopet::test {

class ScriptServer {
public:
    ScriptServer(const QString& script, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       QStringList{QStringLiteral(LUMOPET_SOURCE_DIR "/scripts/") + script, QStringLiteral("--dir"), dir_.path(),
                                   QStringLiteral("--lifetime"), QStringLiteral("60")}
                           << arguments);
        QByteArray line;
        QElapsedTimer clock;
        clock.start();
        while (!line.contains('\n') && clock.elapsed() < 15000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(200);
            line += process_.readAllStandardOutput();
        }
        const QJsonObject ready = QJsonDocument::fromJson(line.trimmed()).object();
        port_ = ready.value(QStringLiteral("port")).toInt();
        record_ = ready.value(QStringLiteral("record")).toString();
        const QString ca = ready.value(QStringLiteral("ca")).toString();
        if (!ca.isEmpty()) qputenv("LUMOPET_CA_FILE", ca.toUtf8());
    }
    ~ScriptServer() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
        qunsetenv("LUMOPET_CA_FILE");
    }
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    bool running() const { return port_ > 0; }
    int port() const { return port_; }

    // What the server wrote down, in order.
    std::vector<QJsonObject> events() const {
        QFile file(record_);
        std::vector<QJsonObject> found;
        if (!file.open(QIODevice::ReadOnly)) return found;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty()) found.push_back(QJsonDocument::fromJson(line).object());
        return found;
    }
    std::vector<QJsonObject> events(const QString& kind) const {
        std::vector<QJsonObject> found;
        for (const QJsonObject& e : events())
            if (e.value(QStringLiteral("event")).toString() == kind) found.push_back(e);
        return found;
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    QString record_;
};

}  // namespace lumopet::test
