#include "viewer/remote_images.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace lumopet {

RemoteImageFetcher::RemoteImageFetcher(QObject* parent) : QObject(parent) {}

RemoteImageFetcher::~RemoteImageFetcher() { stop(); }

void RemoteImageFetcher::stop() {
    const QList<QNetworkReply*> replies = std::exchange(replies_, {});
    for (QNetworkReply* reply : replies) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void RemoteImageFetcher::fetch(const QStringList& urls) {
    stop();
    failed_ = 0;
    // Made on the first click only: a program that never fetches a picture
    // never has a network manager.
    if (!network_) network_ = new QNetworkAccessManager(this);
    for (int i = 0; i < urls.size() && i < kMostRemoteImages; ++i) {
        QUrl url(urls[i]);
        if (url.scheme().isEmpty() && urls[i].startsWith(QStringLiteral("//"))) url = QUrl(QStringLiteral("https:") + urls[i]);
        const QString scheme = url.scheme().toLower();
        if (!url.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
            ++failed_;
            continue;
        }
        QNetworkRequest request(url);
        request.setTransferTimeout(kRemoteImageTimeoutMs);
        // No cookies go with a picture, and a redirect may not leave the web.
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply* reply = network_->get(request);
        replies_.append(reply);
        connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
            if (received > kLargestRemoteImageBytes || total > kLargestRemoteImageBytes) reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply, i] { take(reply, i); });
    }
    if (replies_.isEmpty()) Q_EMIT finished(failed_);
}

void RemoteImageFetcher::take(QNetworkReply* reply, int index) {
    replies_.removeOne(reply);
    reply->deleteLater();
    QImage image;
    if (reply->error() == QNetworkReply::NoError && image.loadFromData(reply->readAll()))
        Q_EMIT imageArrived(index, image);
    else
        ++failed_;
    if (replies_.isEmpty()) Q_EMIT finished(failed_);
}

}  // namespace lumopet
