// The POP3 conversation and the fetching ahead, against a server played in
// memory that answers in small pieces and notes how far ahead of its
// answers the client ran.

#include "mail/pop3_conversation.h"
#include "mail/pop3_pipeline.h"
#include "tests/support/qt_printers.h"

#include <QList>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

namespace lumopet::mail {
namespace {

class PlayedServer : public Pop3Channel {
public:
    explicit PlayedServer(std::vector<QByteArray> messages) : messages_(std::move(messages)) {}

    Status send(QByteArrayView bytes) override {
        ++writes;
        pendingLine_.append(bytes.data(), bytes.size());
        qsizetype end;
        while ((end = pendingLine_.indexOf("\r\n")) >= 0) {
            const QByteArray line = pendingLine_.left(end);
            pendingLine_.remove(0, end + 2);
            commands.push_back(line);
            ++unanswered_;
            mostAhead = std::max(mostAhead, unanswered_);
            answer(line);
        }
        return success();
    }

    Status receive(QByteArray& into) override {
        if (output_.isEmpty()) {
            if (stalled_) return Failure{kTimedOut};
            if (cutAfterBytes >= 0) return Failure{QStringLiteral("接続が途中で切れました")};
            return Failure{QStringLiteral("the client waits for an answer to nothing")};
        }
        // Odd pieces, so that lines and answers are cut anywhere.
        qsizetype piece = std::min<qsizetype>(output_.size() > 65536 ? 4093 : 7, output_.size());
        if (cutAfterBytes >= 0) {
            if (sentBytes_ >= cutAfterBytes) return Failure{QStringLiteral("接続が途中で切れました")};
            piece = std::min<qsizetype>(piece, cutAfterBytes - sentBytes_);
        }
        into.append(output_.left(piece));
        output_.remove(0, piece);
        sentBytes_ += piece;
        // An answer counts as read once its last byte went to the client.
        while (!answerEnds_.empty() && answerEnds_.front() <= sentBytes_) {
            answerEnds_.erase(answerEnds_.begin());
            --unanswered_;
        }
        return success();
    }

    QStringList commandList() const {
        QStringList list;
        for (const QByteArray& c : commands) list << QString::fromLatin1(c);
        return list;
    }

    std::vector<QByteArray> commands;
    int mostAhead = 0;
    int writes = 0;
    qsizetype cutAfterBytes = -1;
    std::function<bool(int)> refuseRetr = [](int) { return false; };
    std::function<bool(int)> refuseDele = [](int) { return false; };
    // The first command that starts so gets no answer, and nothing comes
    // after it: the channel's reads end in a time-out.
    QByteArray stallOn;
    static inline const QString kTimedOut = QStringLiteral("サーバー h:110 から応答がありません（時間切れ）。");

private:
    void reply(const QByteArray& text) {
        output_ += text;
        answerEnds_.push_back(sentBytes_ + output_.size());
    }

    void answer(const QByteArray& line) {
        if (stalled_ || (!stallOn.isEmpty() && line.startsWith(stallOn))) {
            stalled_ = true;
            return;
        }
        const QList<QByteArray> words = line.split(' ');
        const int n = words.size() > 1 ? words[1].toInt() : 0;
        const bool known = n >= 1 && n <= static_cast<int>(messages_.size());
        if (words[0] == "RETR" || words[0] == "TOP") {
            if (!known || (words[0] == "RETR" && refuseRetr(n))) return reply("-ERR no such message\r\n");
            QByteArray body = messages_[n - 1];
            if (words[0] == "TOP") body = body.left(body.indexOf("\r\n\r\n") + 2);
            QByteArray stuffed;
            for (const QByteArray& l : body.split('\n')) {
                if (l.isEmpty()) continue;
                stuffed += (l.startsWith('.') ? "." : "") + l + "\n";
            }
            return reply("+OK message follows\r\n" + stuffed + ".\r\n");
        }
        if (words[0] == "DELE" && known && refuseDele(n)) return reply("-ERR message is locked\r\n");
        if (words[0] == "DELE") return reply(known ? "+OK marked\r\n" : "-ERR no such message\r\n");
        if (words[0] == "QUIT") return reply("+OK bye\r\n");
        reply("-ERR unknown command\r\n");
    }

    std::vector<QByteArray> messages_;
    QByteArray pendingLine_, output_;
    std::vector<qsizetype> answerEnds_;
    qsizetype sentBytes_ = 0;
    int unanswered_ = 0;
    bool stalled_ = false;
};

QByteArray message(int n, const QByteArray& body = "Hello.\r\n") {
    return "Subject: " + QByteArray::number(n) + "\r\n\r\n" + body;
}

std::vector<qint64> sizesOf(const std::vector<QByteArray>& messages) {
    std::vector<qint64> sizes;
    for (const QByteArray& m : messages) sizes.push_back(m.size());
    return sizes;
}

TEST(Pop3Conversation, DotsAreUnstuffedAndLinesJoinedAcrossPieces) {
    // While over 64 KB are waiting the server's pieces hold many lines,
    // which go whole into the answer; a bare LF line among them still gets
    // its CR.
    const QByteArray many = QByteArray("line\r\n").repeated(12000);
    const QByteArray tricky = message(1, "bare\nend\r\n\r\r\n" + many + ".starts with a dot\r\n..two dots\r\n.\r\n");
    PlayedServer server({tricky});
    Pop3Conversation conversation(server);
    ASSERT_TRUE(conversation.send("RETR 1", true));
    const Result<Pop3Answer> answer = conversation.next();
    ASSERT_TRUE(answer.ok()) << answer.error().toStdString();
    EXPECT_TRUE(answer.value().ok);
    EXPECT_EQ(answer.value().data, QByteArray(tricky).replace("bare\n", "bare\r\n"));
    EXPECT_EQ(conversation.buffered(), 0);
}

TEST(Pop3Conversation, AnAnswerPastTheLargestEndsTheConversation) {
    PlayedServer server({message(1, QByteArray(5000, 'x') + "\r\n"), message(2)});
    Pop3Conversation conversation(server);
    conversation.setLargestAnswer(4096);
    ASSERT_TRUE(conversation.send("RETR 1", true));
    ASSERT_TRUE(conversation.send("RETR 2", true));
    const Result<Pop3Answer> first = conversation.next();
    ASSERT_FALSE(first.ok());
    EXPECT_TRUE(first.error().contains(QStringLiteral("大きすぎる"))) << first.error().toStdString();
    EXPECT_FALSE(conversation.next().ok()) << "what follows cannot be told apart from the rest of the first";
}

TEST(Pop3Conversation, ACommandHoldingALineEndIsNeverSent) {
    PlayedServer server({message(1)});
    Pop3Conversation conversation(server);
    for (const QByteArray& bad : {QByteArray("RETR 1\r\nDELE 1"), QByteArray("RETR 1\nX"), QByteArray("RETR 1\0", 7)}) {
        EXPECT_FALSE(conversation.send(bad, true).ok());
    }
    EXPECT_TRUE(server.commands.empty());
}

struct FetchCase {
    const char* name;
    bool pipelining;
    std::vector<int> asked;         // retrieve() calls, in order
    int mostAheadAtLeast;
    int mostAheadAtMost;
    // Commands sent ahead go out together.
    int writesAtMost = 1000;
};

class Pop3PipelineFetch : public ::testing::TestWithParam<FetchCase> {};

TEST_P(Pop3PipelineFetch, EveryMessageComesBackWholeAndTheServerIsKeptBusy) {
    const FetchCase& c = GetParam();
    std::vector<QByteArray> messages;
    for (int n = 1; n <= 40; ++n) messages.push_back(message(n));
    PlayedServer server(messages);
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), c.pipelining, QStringLiteral("h:110"));
    for (int n : c.asked) {
        const Result<QByteArray> got = pipeline.retrieve(n);
        ASSERT_TRUE(got.ok()) << n << ": " << got.error().toStdString();
        EXPECT_EQ(got.value(), messages[n - 1]) << n;
    }
    EXPECT_TRUE(pipeline.deleteNotedAndQuit().numbers.empty());
    EXPECT_GE(server.mostAhead, c.mostAheadAtLeast);
    EXPECT_LE(server.mostAhead, c.mostAheadAtMost);
    EXPECT_LE(server.writes, c.writesAtMost);
    EXPECT_EQ(server.commands.back(), "QUIT");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pop3PipelineFetch,
    ::testing::Values(
        FetchCase{"AllInOrderPipelined", true, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 40}, 10, 32},
        // 32 RETRs, 8 more when half are answered, then QUIT.
        FetchCase{"EveryOneInWritesOfMany", true, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                                   15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28,
                                                   29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40},
                  10, 32, 3},
        FetchCase{"OneAtATimeWithoutPipelining", false, {1, 2, 3, 40}, 1, 1},
        // An earlier check stored 1 to 5; 6 and 9 are the first asked for.
        FetchCase{"PassingMessagesBy", true, {6, 9, 10, 39}, 10, 32}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Pop3Pipeline, ALargeMessageIsNeverFetchedAheadOfItsTurn) {
    const QByteArray large = message(2, QByteArray(3 << 20, 'x') + "\r\n");
    const std::vector<QByteArray> messages{message(1), large, message(3)};
    PlayedServer server(messages);
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), true, QStringLiteral("h:110"));
    ASSERT_TRUE(pipeline.retrieve(1).ok());
    EXPECT_EQ(server.commandList(), QStringList{QStringLiteral("RETR 1")});
    EXPECT_EQ(pipeline.retrieve(2).value(), large);
    EXPECT_EQ(pipeline.retrieve(3).value(), messages[2]);
}

TEST(Pop3Pipeline, ARefusedMessageFailsAloneAndTheNextOneStillComes) {
    const std::vector<QByteArray> messages{message(1), message(2), message(3)};
    PlayedServer server(messages);
    server.refuseRetr = [](int n) { return n == 2; };
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), true, QStringLiteral("h:110"));
    EXPECT_TRUE(pipeline.retrieve(1).ok());
    const Result<QByteArray> refused = pipeline.retrieve(2);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), QStringLiteral("-ERR no such message"));
    EXPECT_EQ(pipeline.retrieve(3).value(), messages[2]);
}

TEST(Pop3Pipeline, TheHeaderComesBetweenMessagesFetchedAhead) {
    const std::vector<QByteArray> messages{message(1), message(2), message(3)};
    PlayedServer server(messages);
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), true, QStringLiteral("h:110"));
    ASSERT_TRUE(pipeline.retrieve(1).ok());
    EXPECT_EQ(pipeline.top(3).value(), QByteArray("Subject: 3\r\n"));
    EXPECT_EQ(pipeline.retrieve(2).value(), messages[1]);
    EXPECT_EQ(pipeline.retrieve(3).value(), messages[2]);
}

TEST(Pop3Pipeline, DeletionsGoOutOnlyAtTheEndAndOnlyThoseStillNoted) {
    std::vector<QByteArray> messages;
    for (int n = 1; n <= 300; ++n) messages.push_back(message(n));
    PlayedServer server(messages);
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), true, QStringLiteral("h:110"), {1 << 20, 32, 100});
    ASSERT_TRUE(pipeline.retrieve(1).ok());
    pipeline.noteDeletion(1);
    pipeline.forgetDeletions(1);  // what was fetched could not be made safe
    for (int n = 1; n <= 300; ++n) pipeline.noteDeletion(n);
    pipeline.forgetDeletions(201);  // the copy of message 201 failed: it and the later ones stay
    const auto isDele = [](const QByteArray& c) { return c.startsWith("DELE"); };
    EXPECT_EQ(std::count_if(server.commands.begin(), server.commands.end(), isDele), 0) << "nothing before the end";
    server.mostAhead = 0;
    ASSERT_TRUE(pipeline.deleteNotedAndQuit().numbers.empty());
    EXPECT_EQ(std::count_if(server.commands.begin(), server.commands.end(), isDele), 200);
    EXPECT_EQ(std::count(server.commands.begin(), server.commands.end(), QByteArray("DELE 200")), 1);
    EXPECT_EQ(server.commands.back(), "QUIT");
    EXPECT_LE(server.mostAhead, 100) << "sent in batches, never all at once";
}

TEST(Pop3Pipeline, ACutConnectionIsAFailureNotAShortMessage) {
    const std::vector<QByteArray> messages{message(1, QByteArray(500, 'x') + "\r\n")};
    PlayedServer server(messages);
    server.cutAfterBytes = 300;
    Pop3Conversation conversation(server);
    Pop3Pipeline pipeline(conversation, sizesOf(messages), true, QStringLiteral("h:110"));
    const Result<QByteArray> got = pipeline.retrieve(1);
    ASSERT_FALSE(got.ok());
    EXPECT_TRUE(got.error().contains(QStringLiteral("切れました"))) << got.error().toStdString();
}


// The server stops answering after one command of a check. The call that
// meets the silence and every call after it give the same text, the one
// that names the server and the time-out: the answers that would come
// next can no longer be told apart, and the user must read what really
// happened, whichever call reports it. Nothing noted for deletion is
// taken for deleted.
TEST(Pop3Pipeline, AfterATimeOutEveryCallSaysSoAndNothingIsTakenForDeleted) {
    struct Case {
        const char* name;
        QByteArray stallOn;
        bool pipelining;
        int firstOk;  // messages fetched before the silence
    };
    const Case cases[] = {
        {"RETR, fetched ahead", "RETR 2", true, 1},
        {"RETR, one at a time", "RETR 2", false, 1},
        {"the first RETR", "RETR 1", false, 0},
        {"TOP", "TOP", false, 1},
        {"DELE", "DELE", true, 3},
        {"QUIT", "QUIT", false, 3},
    };
    for (const Case& c : cases) {
        const std::vector<QByteArray> messages{message(1), message(2), message(3)};
        PlayedServer server(messages);
        server.stallOn = c.stallOn;
        Pop3Conversation conversation(server);
        Pop3Pipeline pipeline(conversation, sizesOf(messages), c.pipelining, QStringLiteral("h:110"));
        for (int n = 1; n <= c.firstOk; ++n) {
            ASSERT_EQ(pipeline.retrieve(n).value(), messages[n - 1]) << c.name;
            pipeline.noteDeletion(n);
        }
        if (c.stallOn == "TOP") {
            EXPECT_EQ(pipeline.top(3).error(), PlayedServer::kTimedOut) << c.name;
        }
        if (c.firstOk < 3) {
            for (int n = c.firstOk + 1; n <= 3; ++n)
                EXPECT_EQ(pipeline.retrieve(n).error(), PlayedServer::kTimedOut) << c.name << ": message " << n;
            EXPECT_EQ(pipeline.retrieve(c.firstOk + 1).error(), PlayedServer::kTimedOut) << c.name << ": asked again";
            EXPECT_EQ(pipeline.top(1).error(), PlayedServer::kTimedOut) << c.name;
        }
        const NotDeleted left = pipeline.deleteNotedAndQuit();
        std::vector<int> noted;
        for (int n = 1; n <= c.firstOk; ++n) noted.push_back(n);
        EXPECT_EQ(left.numbers, noted) << c.name;
        EXPECT_EQ(left.reason, PlayedServer::kTimedOut) << c.name;
    }
}

// DELEs the server refuses: those messages stay, the rest are deleted at
// QUIT, which still goes.
TEST(Pop3Pipeline, ARefusedDeleteNamesItsMessage) {
    struct Case {
        const char* name;
        std::set<int> refused;
        bool pipelining;
    };
    const Case cases[] = {
        {"the second of three, pipelined", {2}, true},
        {"the second of three, one at a time", {2}, false},
        {"every one", {1, 2, 3}, true},
        {"none", {}, true},
    };
    for (const Case& c : cases) {
        const std::vector<QByteArray> messages{message(1), message(2), message(3)};
        PlayedServer server(messages);
        server.refuseDele = [&](int n) { return c.refused.count(n) > 0; };
        Pop3Conversation conversation(server);
        Pop3Pipeline pipeline(conversation, sizesOf(messages), c.pipelining, QStringLiteral("h:110"));
        for (int n = 1; n <= 3; ++n) {
            ASSERT_TRUE(pipeline.retrieve(n).ok()) << c.name;
            pipeline.noteDeletion(n);
        }
        const NotDeleted left = pipeline.deleteNotedAndQuit();
        EXPECT_EQ(left.numbers, std::vector<int>(c.refused.begin(), c.refused.end())) << c.name;
        EXPECT_EQ(left.reason, c.refused.empty() ? QString() : QStringLiteral("-ERR message is locked")) << c.name;
        EXPECT_EQ(server.commands.back(), "QUIT") << c.name;
    }
}

}  // namespace
}  // namespace lumopet::mail
