#include "mail/pop3_pipeline.h"

#include "store/maildir.h"

#include <algorithm>
#include <utility>

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
    const Status queued = queue(command, multiLine, what);
    if (!queued) return queued;
    return conversation_.flush();
}

Status Pop3Pipeline::queue(const QByteArray& command, bool multiLine, Sent what) {
    const Status queued = conversation_.queue(command, multiLine);
    if (queued) sent_.push_back(what);
    return queued;
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
// asked for stay one run. Only once the window is half empty: then the
// commands go out together, not one write for each message taken.
void Pop3Pipeline::askAhead() {
    const bool halfEmpty =
        static_cast<int>(sent_.size()) <= window_.aheadCommands / 2 && aheadBytes_ <= window_.aheadBytes / 2;
    while (pipelining_ && halfEmpty && askedUpTo_ < static_cast<int>(sizes_.size()) &&
           static_cast<int>(sent_.size()) < window_.aheadCommands) {
        const int next = askedUpTo_ + 1;
        if (aheadBytes_ + sizeOf(next) > window_.aheadBytes) break;
        if (!queue("RETR " + QByteArray::number(next), true, {Command::Retr, next})) break;
        askedUpTo_ = next;
        aheadBytes_ += sizeOf(next);
    }
    // With whatever else is queued. A failed write shows at the next
    // answer read.
    conversation_.flush();
}

Result<QByteArray> Pop3Pipeline::retrieve(int number) {
    Result<Pop3Answer> answer = fetch(number, nullptr, -1);
    if (!answer) return Failure{answer.error()};
    return std::move(answer.value().data);
}

Status Pop3Pipeline::retrieveInto(int number, const Pop3Sink& sink, qint64 largest) {
    Result<Pop3Answer> answer = fetch(number, &sink, largest);
    if (!answer) return Failure{answer.error()};
    // Fetched ahead after all (the server listed it smaller than it is):
    // it is in memory already, in the wire's line ends.
    if (!answer.value().data.isEmpty()) return sink(MaildirLocalForm(answer.value().data));
    return success();
}

Result<Pop3Answer> Pop3Pipeline::fetch(int number, const Pop3Sink* sink, qint64 largest) {
    if (!conversation_.brokenBy().isEmpty()) return Failure{conversation_.brokenBy()};
    // Whatever was fetched ahead for messages before this one is not
    // wanted: the caller passed them by.
    while (!fetched_.empty() && fetched_.begin()->first < number) drop(fetched_.begin()->first);
    if (askedUpTo_ < number) {
        // Not asked for yet: too large to fetch ahead, or no pipelining.
        // It goes out with the ones asked for ahead of it.
        const Status queued = queue("RETR " + QByteArray::number(number), true, {Command::Retr, number});
        if (!queued) return Failure{queued.error()};
        askedUpTo_ = number;
        aheadBytes_ += sizeOf(number);
    }
    askAhead();
    Pop3Answer answer;
    bool streamed = false;
    while (!streamed && fetched_.find(number) == fetched_.end()) {
        if (sent_.empty()) return Failure{QStringLiteral("POP3 の応答がそろいません。")};
        const Sent next = sent_.front();
        if (sink && next.command == Command::Retr && next.number == number) {
            sent_.pop_front();
            Result<Pop3Answer> got = conversation_.next(*sink, largest);
            if (!got) return Failure{got.error()};
            answer = std::move(got.value());
            aheadBytes_ -= sizeOf(number);
            streamed = true;
            continue;
        }
        const Result<Sent> what = readOne(answer);
        if (!what) return Failure{what.error()};
        if (what.value().command != Command::Retr) continue;
        const int got = what.value().number;
        if (got < number) aheadBytes_ -= sizeOf(got);
        else fetched_[got] = std::move(answer);
    }
    if (!streamed) {
        answer = std::move(fetched_[number]);
        drop(number);
    }
    askAhead();
    if (!answer.ok) return Failure{Pop3ErrorText(answer, hostAndPort_)};
    return answer;
}

Result<QByteArray> Pop3Pipeline::top(int number) {
    if (!conversation_.brokenBy().isEmpty()) return Failure{conversation_.brokenBy()};
    const Status sent = send("TOP " + QByteArray::number(number) + " 0", true, {Command::Top, number});
    if (!sent) return Failure{sent.error()};
    for (;;) {
        Pop3Answer answer;
        const Result<Sent> what = readOne(answer);
        if (!what) return Failure{what.error()};
        if (what.value().command == Command::Retr) {
            fetched_[what.value().number] = std::move(answer);
            continue;
        }
        if (!answer.ok) return Failure{Pop3ErrorText(answer, hostAndPort_)};
        return std::move(answer.data);
    }
}

NotDeleted Pop3Pipeline::deleteNotedAndQuit() {
    const std::vector<int> noted = std::exchange(deletions_, {});
    // Until QUIT is answered, every deletion may still be undone by the
    // server: a session that ends earlier leaves them all.
    const auto allStay = [&](const QString& reason) { return NotDeleted{noted, reason}; };
    if (!conversation_.brokenBy().isEmpty()) return allStay(conversation_.brokenBy());

    // Answers to messages fetched ahead and never taken are read and let go.
    Pop3Answer answer;
    while (!sent_.empty()) {
        const Result<Sent> what = readOne(answer);
        if (!what) return allStay(what.error());
    }
    fetched_.clear();
    aheadBytes_ = 0;

    // The deletions and QUIT, in batches of one write each; QUIT goes
    // with the last deletions. Without pipelining, one at a time.
    std::vector<std::pair<QByteArray, Sent>> commands;
    for (const int number : noted) commands.push_back({"DELE " + QByteArray::number(number), {Command::Dele, number}});
    commands.push_back({"QUIT", {Command::Quit, 0}});
    const size_t batch = pipelining_ ? static_cast<size_t>(std::max(1, window_.batch)) : 1;
    NotDeleted refused;
    for (size_t first = 0; first < commands.size(); first += batch) {
        for (size_t i = first; i < std::min(commands.size(), first + batch); ++i) {
            const Status queued = queue(commands[i].first, false, commands[i].second);
            if (!queued) return allStay(queued.error());
        }
        if (const Status sent = conversation_.flush(); !sent) return allStay(sent.error());
        while (!sent_.empty()) {
            const Result<Sent> what = readOne(answer);
            if (!what) return allStay(what.error());
            if (answer.ok) continue;
            // "-ERR some deleted messages not removed" (RFC 1939 6): which
            // ones, the server does not say.
            if (what.value().command == Command::Quit) return allStay(Pop3ErrorText(answer, hostAndPort_));
            if (refused.numbers.empty()) refused.reason = Pop3ErrorText(answer, hostAndPort_);
            refused.numbers.push_back(what.value().number);
        }
    }
    return refused;
}

}  // namespace lumopet::mail
