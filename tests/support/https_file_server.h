#pragma once
// scripts/autoconfig_server.py: an HTTPS file server on loopback with a
// certificate for the names given, from a throwaway CA. Test programs that
// use it define LUMOPET_SOURCE_DIR.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace lumopet::test {

class HttpsFileServer {
public:
    explicit HttpsFileServer(const QStringList& names = {QStringLiteral("localhost")}) {
        QStringList arguments{QStringLiteral(LUMOPET_SOURCE_DIR "/scripts/autoconfig_server.py"), QStringLiteral("--dir"),
                              dir_.path()};
        for (const QString& name : names) arguments << QStringLiteral("--name") << name;
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"), arguments);
        if (!process_.waitForReadyRead(20'000)) return;
        const QJsonObject started = QJsonDocument::fromJson(process_.readLine()).object();
        port_ = static_cast<quint16>(started.value(QLatin1String("port")).toInt());
        caFile_ = started.value(QLatin1String("ca")).toString();
    }
    ~HttpsFileServer() {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    HttpsFileServer(const HttpsFileServer&) = delete;
    HttpsFileServer& operator=(const HttpsFileServer&) = delete;

    bool running() const { return port_ != 0; }
    quint16 port() const { return port_; }
    const QString& caFile() const { return caFile_; }
    // Serves bytes at https://host/path.
    bool serve(const QString& host, const QString& path, const QByteArray& bytes) const {
        const QString file = dir_.filePath(QStringLiteral("www/%1/%2").arg(host, path));
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString caFile_;
};

}  // namespace lumopet::test
