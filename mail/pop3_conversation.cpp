#include "mail/pop3_conversation.h"

#include <cstring>

namespace lumopet::mail {

Status Pop3Conversation::send(QByteArrayView command, bool multiLine) {
    const Status queued = queue(command, multiLine);
    if (!queued) return queued;
    return flush();
}

Status Pop3Conversation::queue(QByteArrayView command, bool multiLine) {
    if (command.contains('\r') || command.contains('\n') || command.contains('\0'))
        return Failure{QStringLiteral("POP3 のコマンドに改行が含まれています。")};
    queued_.append(command.data(), command.size());
    queued_.append("\r\n");
    expected_.push_back(multiLine);
    return success();
}

Failure Pop3Conversation::breakWith(const QString& reason) {
    if (brokenBy_.isEmpty()) brokenBy_ = reason;
    return Failure{brokenBy_};
}

Status Pop3Conversation::flush() {
    if (!brokenBy_.isEmpty()) return Failure{brokenBy_};
    if (queued_.isEmpty()) return success();
    const Status sent = channel_.send(queued_);
    queued_.clear();
    if (!sent) return breakWith(sent.error());
    return sent;
}

Result<QByteArrayView> Pop3Conversation::line() {
    for (;;) {
        const qsizetype end = buffer_.indexOf('\n', position_);
        if (end >= 0) {
            qsizetype stop = end;
            if (stop > position_ && buffer_[stop - 1] == '\r') --stop;
            const QByteArrayView text(buffer_.constData() + position_, stop - position_);
            position_ = end + 1;
            return text;
        }
        // What was taken already goes before more is read, so that a long
        // answer does not make the buffer hold it twice over.
        if (position_ > 0) {
            buffer_.remove(0, position_);
            position_ = 0;
        }
        const Status received = channel_.receive(buffer_);
        if (!received) return breakWith(received.error());
    }
}

Result<Pop3Answer> Pop3Conversation::next() { return readAnswer(nullptr, -1); }

Result<Pop3Answer> Pop3Conversation::next(const Pop3Sink& sink, qint64 largest) { return readAnswer(&sink, largest); }

Result<Pop3Answer> Pop3Conversation::readAnswer(const Pop3Sink* sink, qint64 largest) {
    if (!brokenBy_.isEmpty()) return Failure{brokenBy_};
    if (expected_.empty()) return Failure{QStringLiteral("POP3 の応答を待つコマンドがありません。")};
    if (const Status flushed = flush(); !flushed) return Failure{flushed.error()};
    const bool multiLine = expected_.front();
    expected_.pop_front();
    Pop3Answer answer;
    const Result<QByteArrayView> status = line();
    if (!status) return Failure{status.error()};
    answer.status = status.value().toByteArray();
    answer.ok = answer.status.startsWith("+OK");
    if (!answer.ok || !multiLine) return answer;
    if (sink) {
        if (const Status streamed = streamLines(*sink, largest); !streamed) return Failure{streamed.error()};
        return answer;
    }
    for (;;) {
        takeWholeLines(answer.data);
        if (largestAnswer_ >= 0 && answer.data.size() > largestAnswer_) return tooLarge(largestAnswer_);
        // Each line goes from the buffer into the answer with no copy of
        // its own: a check reads sixty thousand of them.
        const Result<QByteArrayView> got = line();
        if (!got) return Failure{got.error()};
        const QByteArrayView text = got.value();
        if (text == ".") return answer;
        // RFC 1939 3: a line that starts with the termination octet has
        // another put before it.
        answer.data.append(text.startsWith('.') ? text.sliced(1) : text);
        answer.data.append("\r\n");
        if (largestAnswer_ >= 0 && answer.data.size() > largestAnswer_) return tooLarge(largestAnswer_);
    }
}

// The lines the buffer holds whole that stand in the answer as they came
// (ended by CR LF, not starting with the termination octet) go into it in
// one piece; line() takes the rest one by one.
void Pop3Conversation::takeWholeLines(QByteArray& data) {
    const char* bytes = buffer_.constData();
    const qsizetype size = buffer_.size();
    qsizetype end = position_;
    while (end < size && bytes[end] != '.') {
        const void* found = std::memchr(bytes + end, '\n', static_cast<size_t>(size - end));
        if (!found) break;
        const qsizetype lineFeed = static_cast<const char*>(found) - bytes;
        if (lineFeed == end || bytes[lineFeed - 1] != '\r') break;
        end = lineFeed + 1;
    }
    data.append(bytes + position_, end - position_);
    position_ = end;
}

Failure Pop3Conversation::tooLarge(qint64 largest) {
    return breakWith(QStringLiteral("サーバーから届いたメールが大きすぎるため、受信を中断しました（%1 MB を超えました）。")
                         .arg(largest / (1024 * 1024)));
}

// A message of a gigabyte is fourteen million lines: they are cut out of
// the buffer in place and gathered into slices, with no copy of each line
// of its own.
Status Pop3Conversation::streamLines(const Pop3Sink& sink, qint64 largest) {
    constexpr qsizetype kSlice = 1 << 20;
    QByteArray slice;
    slice.reserve(kSlice + 64 * 1024);
    qint64 total = 0;
    const auto handOver = [&]() -> Status {
        total += slice.size();
        if (largest >= 0 && total > largest) return tooLarge(largest);
        Status taken = slice.isEmpty() ? success() : sink(slice);
        slice.resize(0);
        if (!taken) return breakWith(taken.error());
        return taken;
    };
    // A line longer than a slice (a server that never ends one) goes in
    // pieces, so that the buffer never holds more than a slice of it.
    bool lineStart = true;
    for (;;) {
        const char* data = buffer_.constData();
        const qsizetype size = buffer_.size();
        qsizetype at = position_;
        for (;;) {
            const void* found = std::memchr(data + at, '\n', static_cast<size_t>(size - at));
            if (!found) break;
            const qsizetype end = static_cast<const char*>(found) - data;
            qsizetype stop = end;
            if (stop > at && data[stop - 1] == '\r') --stop;
            // RFC 1939 3: the lone "." ends the answer; a line that starts
            // with one had another put before it.
            if (lineStart && stop - at == 1 && data[at] == '.') {
                position_ = end + 1;
                return handOver();
            }
            const qsizetype from = lineStart && stop > at && data[at] == '.' ? at + 1 : at;
            slice.append(data + from, stop - from);
            slice.append('\n');
            at = end + 1;
            lineStart = true;
            if (slice.size() >= kSlice) {
                position_ = at;
                if (const Status handed = handOver(); !handed) return handed;
            }
        }
        if (size - at > kSlice) {
            const qsizetype from = lineStart && data[at] == '.' ? at + 1 : at;
            slice.append(data + from, size - from);
            at = size;
            lineStart = false;
            position_ = at;
            if (const Status handed = handOver(); !handed) return handed;
        }
        position_ = at;
        buffer_.remove(0, position_);
        position_ = 0;
        const Status received = channel_.receive(buffer_);
        if (!received) return breakWith(received.error());
    }
}

QString Pop3ErrorText(const Pop3Answer& answer, const QString& hostAndPort) {
    if (!answer.status.trimmed().isEmpty()) return QString::fromUtf8(answer.status).trimmed();
    return QStringLiteral("サーバー %1 がコマンドを受け付けませんでした。").arg(hostAndPort);
}

}  // namespace lumopet::mail
