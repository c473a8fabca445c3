#pragma once
// What a mail check asks of a POP3 session, on top of a conversation:
// which messages to fetch ahead, and the deletions held back until the end.
//
// - RETR for the next few messages goes out before their answers are read
//   (when the server takes pipelined commands), so that the server is
//   sending the next message while this one is stored. Only small messages
//   are asked for ahead, and only so many bytes: a large one is fetched
//   when its turn comes, and never held in memory beside others.
// - DELE is only noted. The deletions go to the server together, right
//   before QUIT, which the caller sends only once what it fetched is safe
//   on disk; taking them back is forgetting the notes.

#include "mail/mail_transport.h"
#include "mail/pop3_conversation.h"

#include <QString>

#include <deque>
#include <map>
#include <vector>

namespace lumopet::mail {

// How far ahead to fetch: small enough that the answers waiting in memory
// stay small, large enough to keep the connection busy.
struct Pop3Window {
    qint64 aheadBytes = 1 << 20;
    int aheadCommands = 32;
    // Commands sent in one go before their answers are read: bounded, so
    // that neither side can fill the other's buffers and wait for ever.
    int batch = 512;
};

class Pop3Pipeline {
public:
    // sizes: the listed size of each message, message 1 first.
    // pipelining: the server said it takes commands ahead of answers.
    Pop3Pipeline(Pop3Conversation& conversation, std::vector<qint64> sizes, bool pipelining, QString hostAndPort,
                 Pop3Window window = {});

    Result<QByteArray> retrieve(int number);
    // The same for a message too large to hold: its lines go to sink as
    // they arrive (see Pop3Sink); more than largest bytes (-1: no limit)
    // fail.
    Status retrieveInto(int number, const Pop3Sink& sink, qint64 largest);
    // The header of the message, from TOP n 0.
    Result<QByteArray> top(int number);

    void noteDeletion(int number) { deletions_.push_back(number); }
    // Forgets the deletions of message fromNumber and every later one.
    void forgetDeletions(int fromNumber) { std::erase_if(deletions_, [&](int n) { return n >= fromNumber; }); }
    // Sends the noted deletions and QUIT, and reads every answer. Returns
    // the messages the server still holds: those whose DELE it refused, or
    // all of them when the session ends before QUIT is answered (RFC 1939
    // 6: only QUIT makes deletions take effect). They are there for the
    // next check.
    NotDeleted deleteNotedAndQuit();

private:
    enum class Command { Retr, Top, Dele, Quit };
    struct Sent {
        Command command;
        int number;
    };
    Status send(const QByteArray& command, bool multiLine, Sent what);
    // The same, going out with the conversation's next flush.
    Status queue(const QByteArray& command, bool multiLine, Sent what);
    // Reads the oldest answer; a RETR's is kept among those fetched ahead.
    Result<Sent> readOne(Pop3Answer& answer);
    // The answer to RETR number, into sink when one is given.
    Result<Pop3Answer> fetch(int number, const Pop3Sink* sink, qint64 largest);
    void askAhead();
    qint64 sizeOf(int number) const;
    void drop(int number);

    Pop3Conversation& conversation_;
    std::vector<qint64> sizes_;
    bool pipelining_;
    QString hostAndPort_;
    Pop3Window window_;
    std::deque<Sent> sent_;                 // answers not yet read, oldest first
    std::map<int, Pop3Answer> fetched_;     // RETR answers read, not yet taken
    int askedUpTo_ = 0;                     // the highest number RETR went out for
    qint64 aheadBytes_ = 0;                 // listed sizes of the RETRs not yet taken
    std::vector<int> deletions_;
};

}  // namespace lumopet::mail
