#include "mail/pop3_pipeline.h"

#include <algorithm>

namespace lumopet::mail {

Pop3Pipeline::Pop3Pipeline(Pop3Conversation& conversation, std::vector<qint64> sizes, bool pipelining,
                           QString hostAndPort, Pop3Window window)
    : conversation_(conversation),
      sizes_(std::move(sizes)),
      pipelining_(pipelining),
      hostAndPort_(std::move(hostAndPort)),
      window_(window) {}

qint64 Pop3Pipeline::sizeOf(int number) const {
    return number >= 1 && number <= static_cast<int>(sizes_.size()) ? std::max<qint64>(0, sizes_[number - 1]) : 0;
}

Status Pop3Pipeline::send(const QByteArray& command, bool multiLine, Sent what) {
    const Status sent = conversation_.send(command, multiLine);
    if (sent) sent_.push_back(what);
    return sent;
}

Result<Pop3Pipeline::Sent> Pop3Pipeline::readOne(Pop3Answer& answer) {
    const Sent what = sent_.front();
    sent_.pop_front();
    Result<Pop3Answer> got = conversation_.next();
    if (!got) return Failure{got.error()};
    answer = std::move(got.value());
    return what;
}

void Pop3Pipeline::drop(int number) {
    if (fetched_.erase(number) > 0) aheadBytes_ -= sizeOf(number);
}

// Asks for the messages after the last one asked for, in order, while they
// fit the window; stops at the first that does not, so that the numbers
// asked for stay one run.
void Pop3Pipeline::askAhead() {
    if (!pipelining_) return;
    while (askedUpTo_ < static_cast<int>(sizes_.size()) && static_cast<int>(sent_.size()) < window_.aheadCommands) {
        const int next = askedUpTo_ + 1;
        if (aheadBytes_ + sizeOf(next) > window_.aheadBytes) return;
        if (!send("RETR " + QByteArray::number(next), true, {true, next})) return;
        askedUpTo_ = next;
        aheadBytes_ += sizeOf(next);
    }
}

Result<QByteArray> Pop3Pipeline::retrieve(int number) {
    // Whatever was fetched ahead for messages before this one is not
    // wanted: the caller passed them by.
    while (!fetched_.empty() && fetched_.begin()->first < number) drop(fetched_.begin()->first);
    if (askedUpTo_ < number) {
        // Not asked for yet: too large to fetch ahead, or no pipelining.
        const Status sent = send("RETR " + QByteArray::number(number), true, {true, number});
        if (!sent) return Failure{sent.error()};
        askedUpTo_ = number;
        aheadBytes_ += sizeOf(number);
    }
    askAhead();
    while (fetched_.find(number) == fetched_.end()) {
        if (sent_.empty()) return Failure{QStringLiteral("POP3 の応答がそろいません。")};
        Pop3Answer answer;
        const Result<Sent> what = readOne(answer);
        if (!what) return Failure{what.error()};
        if (!what.value().retr) continue;
        const int got = what.value().number;
        if (got < number) aheadBytes_ -= sizeOf(got);
        else fetched_[got] = std::move(answer);
    }
    Pop3Answer answer = std::move(fetched_[number]);
    drop(number);
    askAhead();
    if (!answer.ok) return Failure{Pop3ErrorText(answer, hostAndPort_)};
    return std::move(answer.data);
}

Result<QByteArray> Pop3Pipeline::top(int number) {
    const Status sent = send("TOP " + QByteArray::number(number) + " 0", true, {false, number});
    if (!sent) return Failure{sent.error()};
    for (;;) {
        Pop3Answer answer;
        const Result<Sent> what = readOne(answer);
        if (!what) return Failure{what.error()};
        if (what.value().retr) {
            fetched_[what.value().number] = std::move(answer);
            continue;
        }
        if (!answer.ok) return Failure{Pop3ErrorText(answer, hostAndPort_)};
        return std::move(answer.data);
    }
}

Status Pop3Pipeline::deleteNotedAndQuit() {
    // Answers to messages fetched ahead and never taken are read and let go.
    Pop3Answer answer;
    while (!sent_.empty()) {
        const Result<Sent> what = readOne(answer);
        if (!what) return Failure{what.error()};
    }
    fetched_.clear();
    aheadBytes_ = 0;

    const int batch = pipelining_ ? std::max(1, window_.batch) : 1;
    QString refused;
    for (size_t first = 0; first < deletions_.size(); first += static_cast<size_t>(batch)) {
        const size_t last = std::min(deletions_.size(), first + static_cast<size_t>(batch));
        for (size_t i = first; i < last; ++i) {
            const Status sent = send("DELE " + QByteArray::number(deletions_[i]), false, {false, deletions_[i]});
            if (!sent) return sent;
        }
        while (!sent_.empty()) {
            const Result<Sent> what = readOne(answer);
            if (!what) return Failure{what.error()};
            if (!answer.ok && refused.isEmpty()) refused = Pop3ErrorText(answer, hostAndPort_);
        }
    }
    deletions_.clear();
    const Status sent = send("QUIT", false, {false, 0});
    if (!sent) return sent;
    const Result<Sent> what = readOne(answer);
    if (!what) return Failure{what.error()};
    if (!answer.ok) return Failure{Pop3ErrorText(answer, hostAndPort_)};
    if (!refused.isEmpty()) return Failure{refused};
    return success();
}

}  // namespace lumopet::mail
