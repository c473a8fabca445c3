#pragma once
// The POP3 commands of a mail check, spoken over a connection that is
// already logged in (curl opens it, negotiates TLS and logs in, then hands
// over the raw connection).
//
// Commands may be sent ahead of their answers when the server says it
// takes that (RFC 2449 PIPELINING): a check of a thousand small messages
// then costs a few round trips instead of two thousand. The answers come
// back in the order the commands went, and are read in that order.

#include "core/result.h"
#include "mail/mail_transport.h"

#include <QByteArray>
#include <QString>

#include <deque>

namespace lumopet::mail {

// The bytes of a connection, both ways.
class Pop3Channel {
public:
    virtual ~Pop3Channel() = default;
    // Sends every byte, or fails.
    virtual Status send(QByteArrayView bytes) = 0;
    // Appends what has arrived to into, at least one byte; waits for it.
    // Fails when the server closes the connection or makes too little
    // progress for too long.
    virtual Status receive(QByteArray& into) = 0;
};

struct Pop3Answer {
    bool ok = false;     // "+OK"
    QByteArray status;   // the status line, without its CR LF
    QByteArray data;     // a multi-line answer's lines: dots unstuffed, CR LF line ends, without the final "."
};

class Pop3Conversation {
public:
    explicit Pop3Conversation(Pop3Channel& channel) : channel_(channel) {}

    // Sends the command line (without CR LF). A multi-line command's "+OK"
    // is followed by lines up to a lone ".". Refuses a command holding CR,
    // LF or NUL: it would be a second command.
    Status send(QByteArrayView command, bool multiLine);
    // The same, held back to go out with the next flush(): commands sent
    // ahead go together, one write and one TLS record for many. next()
    // flushes first, so that no answer is awaited to a command not sent.
    Status queue(QByteArrayView command, bool multiLine);
    Status flush();

    // The number of commands sent whose answers have not been read.
    qsizetype waiting() const { return static_cast<qsizetype>(expected_.size()); }

    // The answer to the oldest command still waiting.
    Result<Pop3Answer> next();
    // The same, with a multi-line answer's lines handed to sink as they
    // arrive instead of kept in data; more than largest bytes of them
    // (-1: no limit) fail, and the conversation with them.
    Result<Pop3Answer> next(const Pop3Sink& sink, qint64 largest);

    // A multi-line answer longer than this fails, and the conversation with
    // it: a server that lists a message small and then sends without end
    // must not fill the memory.
    void setLargestAnswer(qint64 bytes) { largestAnswer_ = bytes; }

    // Bytes received and not yet taken by an answer: what a pipelined
    // conversation holds ahead of its reader.
    qsizetype buffered() const { return buffer_.size() - position_; }

    // Why the conversation cannot go on (a time-out, a cut, an answer too
    // large); empty while it can. Once a read or a write has failed, what
    // comes next on the connection cannot be matched to its command: every
    // later call fails with this same text, so the user reads what really
    // went wrong, whichever call reports it.
    const QString& brokenBy() const { return brokenBy_; }

private:
    // The next line, without its line end; waits for it. The view is into
    // the buffer, good until the next read.
    Result<QByteArrayView> line();
    Failure breakWith(const QString& reason);
    void takeWholeLines(QByteArray& data);
    Failure tooLarge(qint64 largest);
    // next(), with the lines into sink when one is given.
    Result<Pop3Answer> readAnswer(const Pop3Sink* sink, qint64 largest);
    // Reads the lines after a "+OK" up to the lone "." into sink.
    Status streamLines(const Pop3Sink& sink, qint64 largest);

    Pop3Channel& channel_;
    std::deque<bool> expected_;  // multi-line or not, per command sent
    QByteArray queued_;          // command lines not flushed yet
    QByteArray buffer_;
    qsizetype position_ = 0;
    qint64 largestAnswer_ = -1;  // no limit
    QString brokenBy_;
};

// The server's error text for an answer that is not "+OK": its status line
// as the user should read it, or a sentence when it gave none.
QString Pop3ErrorText(const Pop3Answer& answer, const QString& hostAndPort);

}  // namespace lumopet::mail
