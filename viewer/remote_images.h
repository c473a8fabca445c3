#pragma once
// The remote pictures of one message, fetched only because the user clicked
// 画像を表示 for it: over http and https alone, each at most a few
// megabytes, each given up after a while, and never remembered for the
// next message or the next showing.

#include <QImage>
#include <QObject>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumopet {

class RemoteImageFetcher : public QObject {
    Q_OBJECT
public:
    explicit RemoteImageFetcher(QObject* parent = nullptr);
    ~RemoteImageFetcher() override;

    // Fetches picture i of urls as resource i; what an earlier fetch still
    // had on its way is dropped.
    void fetch(const QStringList& urls);
    void stop();
    int pending() const { return static_cast<int>(replies_.size()); }

Q_SIGNALS:
    void imageArrived(int index, const QImage& image);
    // Every picture came or failed; failed of them could not be had.
    void finished(int failed);

private:
    void take(QNetworkReply* reply, int index);

    QNetworkAccessManager* network_ = nullptr;
    QList<QNetworkReply*> replies_;
    int failed_ = 0;
};

inline constexpr qint64 kLargestRemoteImageBytes = 8 * 1024 * 1024;
inline constexpr int kRemoteImageTimeoutMs = 20000;
// A newsletter holds a few dozen; a message of thousands is no newsletter.
inline constexpr int kMostRemoteImages = 200;

}  // namespace lumopet
