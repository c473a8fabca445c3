#include "store/maildir_writer.h"

namespace lumopet {

MaildirWriter::MaildirWriter(MaildirFolders folders) : folders_(std::move(folders)), thread_([this] { run(); }) {}

MaildirWriter::~MaildirWriter() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void MaildirWriter::deliver(int number, QByteArray message, QString tag) {
    std::unique_lock guard(lock_);
    const auto room = [&] { return failure_ || queue_.empty() || queuedBytes_ + message.size() <= kQueuedBytes; };
    if (!room()) {
        changed_.notify_all();
        changed_.wait(guard, room);
    }
    if (failure_) return;
    queuedBytes_ += message.size();
    queue_.push_back({number, std::move(message), std::move(tag)});
    // The thread is woken for a few messages at a time: waking it for each
    // cost two switches between threads a message.
    if (queue_.size() >= kWakeAt || queuedBytes_ >= kQueuedBytes / 2) changed_.notify_all();
}

std::optional<FailedDelivery> MaildirWriter::failure() const {
    std::lock_guard guard(lock_);
    return failure_;
}

std::optional<FailedDelivery> MaildirWriter::drain() {
    std::unique_lock guard(lock_);
    changed_.notify_all();
    changed_.wait(guard, [&] { return queue_.empty() && !busy_; });
    return failure_;
}

std::optional<FailedDelivery> MaildirWriter::finish() {
    drain();
    std::lock_guard guard(lock_);
    // After a failed delivery too: the messages before it leave the server,
    // and their copies must be on disk first.
    if (!failure_ || failure_->number > 0) {
        if (const Status flushed = folders_.flushFileSystem(); !flushed) {
            // Which names reached the disk is unknown: none counts.
            failure_ = FailedDelivery{0, flushed.error()};
        }
    }
    return failure_;
}

QString MaildirWriter::deliveredPath(int number) const {
    const std::lock_guard guard(lock_);
    const auto found = delivered_.find(number);
    return found == delivered_.end() ? QString() : found->second;
}

void MaildirWriter::run() {
    std::unique_lock guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Queued next = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= next.message.size();
        busy_ = true;
        guard.unlock();
        const auto delivered = folders_.deliver(next.message, next.tag, MaildirFlush::Later);
        guard.lock();
        busy_ = false;
        if (!delivered && !failure_) failure_ = FailedDelivery{next.number, delivered.error()};
        if (delivered) delivered_[next.number] = delivered.value();
        // What comes after a failed copy stays on the server; writing it
        // would only add files nobody counts on.
        if (failure_) {
            queue_.clear();
            queuedBytes_ = 0;
        }
        changed_.notify_all();
    }
}

}  // namespace lumopet
