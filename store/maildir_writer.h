#pragma once
// A mail check's deliveries into the received Maildir, made on a thread of
// their own. Making, writing and flushing a file took longer than fetching
// and decoding a small message; beside the check, that time goes by while
// the next messages arrive.
//
// The check goes on as if each delivery were done, and asks finish() for
// the truth before it lets the server delete anything: a message whose copy
// failed, and every later one, must stay on the server.

#include "store/maildir.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace lumopet {

struct FailedDelivery {
    int number;  // the message whose copy failed
    QString error;
};

class MaildirWriter {
public:
    explicit MaildirWriter(MaildirFolders folders);
    // Delivers what is queued, then stops the thread.
    ~MaildirWriter();
    MaildirWriter(const MaildirWriter&) = delete;
    MaildirWriter& operator=(const MaildirWriter&) = delete;

    // Queues message number for delivery with tag (see MaildirFolders).
    // Waits while the queue holds many bytes already: the check fetches
    // faster than a slow disk writes. After a failure nothing more is
    // delivered.
    void deliver(int number, QByteArray message, QString tag);

    // The first delivery that failed so far, without waiting.
    std::optional<FailedDelivery> failure() const;

    // Waits until every queued message is delivered (or dropped after a
    // failure) and returns the first failure, without flushing.
    std::optional<FailedDelivery> drain();

    // Waits until every queued message is delivered, puts them on disk
    // (MaildirFolders::flushFileSystem), and returns the first failure;
    // number 0 when the flush failed, which leaves every copy in doubt.
    // The writer stays usable.
    std::optional<FailedDelivery> finish();

    // Where message number was delivered, once drain() or finish() has
    // returned; empty when it was not (yet), or failed. The junk filter
    // reads the copies the check made.
    QString deliveredPath(int number) const;

    const QString& path() const { return folders_.path(); }
    // For the messages the check writes into tmp/ itself as they arrive
    // (MaildirFolders::createInTmp): safe beside the thread's deliveries,
    // and flushed by finish() with them.
    const MaildirFolders& folders() const { return folders_; }

private:
    struct Queued {
        int number;
        QByteArray message;
        QString tag;
    };
    void run();

    // Enough for a few dozen everyday messages, and for the largest one
    // the check takes to wait alone.
    static constexpr qsizetype kQueuedBytes = 8 * 1024 * 1024;
    static constexpr size_t kWakeAt = 8;

    const MaildirFolders folders_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    qsizetype queuedBytes_ = 0;
    bool busy_ = false;  // the thread holds a message taken from the queue
    bool stopping_ = false;
    std::optional<FailedDelivery> failure_;
    std::map<int, QString> delivered_;
    std::thread thread_;
};

}  // namespace lumopet
