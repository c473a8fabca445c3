// A POP3 session: curl connects, negotiates TLS (implicit, or STLS when the
// server offers it), checks the certificate and logs in; then it hands over
// the connection, and the commands of the check go over it through our own
// conversation, several at a time where the server allows it.

#include "mail/curl_common.h"
#include "mail/curl_pop3_session.h"
#include "mail/mail_library.h"
#include "mail/pop3_conversation.h"
#include "mail/pop3_pipeline.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <openssl/ssl.h>
#include <poll.h>

namespace lumopet::mail {
namespace {

// The raw connection curl opened. Every wait is bounded: a server that
// sends less than the limits' few bytes in their time is given up, the
// same rule curl applies to its own transfers. Failures are put in the
// words curl's own transfers get (TransferFailure), which name the server.
class CurlChannel : public Pop3Channel {
public:
    CurlChannel(CURL* curl, curl_socket_t socket, const TransportLimits& limits, const ServerAddress& server)
        : curl_(curl), socket_(socket), limits_(limits), server_(server) {
        restartWindow();
    }

    Status send(QByteArrayView bytes) override {
        restartWindow();
        qsizetype done = 0;
        while (done < bytes.size()) {
            size_t sent = 0;
            const CURLcode code = curl_easy_send(curl_, bytes.data() + done, static_cast<size_t>(bytes.size() - done), &sent);
            if (code == CURLE_OK) {
                done += static_cast<qsizetype>(sent);
                continue;
            }
            if (code != CURLE_AGAIN) return failure(code);
            if (!wait(POLLOUT, limits_.stalledSeconds * 1000))
                return failure(CURLE_OPERATION_TIMEDOUT, QStringLiteral("%1 秒のあいだ送れませんでした").arg(limits_.stalledSeconds));
        }
        return success();
    }

    Status receive(QByteArray& into) override {
        char buffer[64 * 1024];
        for (;;) {
            size_t got = 0;
            const CURLcode code = curl_easy_recv(curl_, buffer, sizeof buffer, &got);
            if (code == CURLE_OK) {
                if (got == 0) return failure(CURLE_GOT_NOTHING, QStringLiteral("サーバーが接続を閉じました"));
                into.append(buffer, static_cast<qsizetype>(got));
                bytesInWindow_ += static_cast<qint64>(got);
                return success();
            }
            if (code != CURLE_AGAIN) return failure(code);
            // Nothing there: wait, but no longer than what is left of the
            // window; at its end, too few bytes in it is a time-out.
            qint64 left = qint64(limits_.stalledSeconds) * 1000 - window_.elapsed();
            if (left <= 0) {
                if (bytesInWindow_ < limits_.minimumBytes) return timedOut();
                restartWindow();
                left = qint64(limits_.stalledSeconds) * 1000;
            }
            wait(POLLIN, static_cast<int>(left));
        }
    }

private:
    bool wait(short events, int milliseconds) {
        pollfd waiting{static_cast<int>(socket_), events, 0};
        return ::poll(&waiting, 1, std::max(1, milliseconds)) > 0;
    }
    void restartWindow() {
        window_.start();
        bytesInWindow_ = 0;
    }
    // A server that trickles is as good as silent: what it sent in the
    // window is said with the time-out.
    Failure timedOut() const {
        const QString detail = bytesInWindow_ == 0
                                   ? QStringLiteral("%1 秒のあいだ何も届きませんでした").arg(limits_.stalledSeconds)
                                   : QStringLiteral("%1 秒のあいだに %2 バイトしか届きませんでした")
                                         .arg(limits_.stalledSeconds)
                                         .arg(bytesInWindow_);
        return failure(CURLE_OPERATION_TIMEDOUT, detail);
    }
    // detail in place of curl's English one, when given.
    Failure failure(CURLcode code, const QString& detail = QString()) const {
        Exchange seen;
        if (!detail.isEmpty()) qstrncpy(seen.curlError, detail.toUtf8().constData(), sizeof seen.curlError);
        return TransferFailure(code, server_, seen);
    }

    CURL* curl_;
    curl_socket_t socket_;
    TransportLimits limits_;
    ServerAddress server_;
    QElapsedTimer window_;
    qint64 bytesInWindow_ = 0;
};

// "n value" lines of a LIST or UIDL answer, numbered from 1 in order;
// nothing when they are not.
std::optional<std::vector<QByteArray>> numberedValues(const QByteArray& data) {
    std::vector<QByteArray> values;
    for (const QByteArray& line : data.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2) continue;
        bool ok = false;
        const int number = fields[0].toInt(&ok);
        if (!ok || number != static_cast<int>(values.size()) + 1) return std::nullopt;
        values.push_back(fields[1]);
    }
    return values;
}

// From here on only our reads see the connection, and they ask TLS for
// data before they wait on the socket: TLS may read whole runs of records
// at once instead of each record's header and body apart, two system calls
// a record. (Before the hand-over curl waits on the socket itself, and data
// read ahead would not wake it.)
void readTlsAhead(CURL* curl) {
    const curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &info) == CURLE_OK && info &&
        info->backend == CURLSSLBACKEND_OPENSSL && info->internals)
        SSL_set_read_ahead(static_cast<SSL*>(info->internals), 1);
}

// RFC 2449 6.6: the server takes commands ahead of their answers. curl
// asked for the capabilities before it logged in and handed us the lines.
bool offersPipelining(const QStringList& replies) {
    return std::any_of(replies.begin(), replies.end(),
                       [](const QString& line) { return line.compare(QStringLiteral("PIPELINING"), Qt::CaseInsensitive) == 0; });
}

class CurlPop3Session : public Pop3Session {
public:
    CurlPop3Session(ServerAddress server, TransportLimits limits)
        : server_(std::move(server)), limits_(limits), peer_{server_.host, server_.port}, curl_(curl_easy_init()) {
        SetCommonCurlOptions(curl_.get(), server_, limits_, exchange_, peer_);
    }

    Pop3Login login(const Credentials& login) override {
        SetCurlLogin(curl_.get(), login, true, login_);
        const QByteArray url = (server_.url() + u'/').toUtf8();
        curl_easy_setopt(curl_.get(), CURLOPT_URL, url.constData());
        // Connect, TLS and the login, then stop: the rest is ours.
        curl_easy_setopt(curl_.get(), CURLOPT_CONNECT_ONLY, 1L);
        const CURLcode code = curl_easy_perform(curl_.get());
        if (code != CURLE_OK) {
            const bool noTls = code == CURLE_USE_SSL_FAILED && IsBearer(login) && server_.tls == TlsMode::UpgradeWhenOffered;
            Pop3Login failed = Failure{WithoutSecret(
                noTls ? TokenNeedsTlsText(server_) : TransferFailure(code, server_, exchange_).message, login)};
            failed.loginRefused = code == CURLE_LOGIN_DENIED;
            return failed;
        }
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(curl_.get(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD)
            return Failure{QStringLiteral("サーバー %1 との接続が途中で切れました。").arg(hostAndPort())};
        readTlsAhead(curl_.get());
        channel_.emplace(curl_.get(), socket, limits_, server_);
        conversation_.emplace(*channel_);
        setLargestMessage(largestMessage_);

        // LIST without a number: the whole mailbox, one "number size" line
        // per message.
        const Result<Pop3Answer> listed = ask("LIST");
        if (!listed) return Failure{listed.error()};
        const auto values = numberedValues(listed.value().data);
        if (!values) return Failure{QStringLiteral("LIST の応答を解釈できません。")};
        std::vector<qint64> sizes;
        for (const QByteArray& value : *values) sizes.push_back(value.toLongLong());
        pipeline_.emplace(*conversation_, sizes, offersPipelining(exchange_.replies), hostAndPort());
        return Pop3Login(std::move(sizes));
    }

    Result<std::vector<QString>> uniqueIds() override {
        // A server without the command answers -ERR.
        const Result<Pop3Answer> listed = ask("UIDL");
        if (!listed) return Failure{listed.error()};
        const auto values = numberedValues(listed.value().data);
        // Numbers come in order from 1; anything else is not a listing we
        // can trust to name the right message.
        if (!values) return Failure{QStringLiteral("UIDL の応答を解釈できません。")};
        std::vector<QString> uidls;
        for (const QByteArray& value : *values) uidls.push_back(QString::fromLatin1(value));
        return uidls;
    }

    Result<QByteArray> retrieve(int number) override {
        if (!pipeline_) return ended();
        return pipeline_->retrieve(number);
    }

    Status retrieveInto(int number, const Pop3Sink& sink, qint64 largest) override {
        if (!pipeline_) return ended();
        return pipeline_->retrieveInto(number, sink, largest);
    }

    // Checked against the listed size before a message is fetched; this
    // holds a server to it while it sends.
    void setLargestMessage(qint64 bytes) override {
        largestMessage_ = bytes;
        if (conversation_) conversation_->setLargestAnswer(bytes < 0 ? -1 : bytes + bytes / 8);
    }

    Result<QByteArray> top(int number) override {
        if (!pipeline_) return ended();
        return pipeline_->top(number);
    }

    Status remove(int number) override {
        if (!pipeline_) return ended();
        pipeline_->noteDeletion(number);
        return success();
    }

    Status undoDeletions(int fromNumber) override {
        if (!pipeline_) return ended();
        pipeline_->forgetDeletions(fromNumber);
        return success();
    }

    void quit() override {
        // The deletions go now, then QUIT, which makes them take effect. A
        // refused one stays on the server: the check tells the user, and
        // the next check deletes it by its UIDL without storing it again.
        if (pipeline_) notDeleted_ = pipeline_->deleteNotedAndQuit();
        pipeline_.reset();
        conversation_.reset();
        channel_.reset();
        curl_.reset();
    }

    NotDeleted notDeleted() const override { return notDeleted_; }

private:
    QString hostAndPort() const { return QStringLiteral("%1:%2").arg(server_.host).arg(server_.port); }
    Failure ended() const { return Failure{QStringLiteral("POP3 の接続は終わっています。")}; }

    // One command and its multi-line answer, alone on the connection.
    Result<Pop3Answer> ask(const QByteArray& command) {
        if (!conversation_) return ended();
        const Status sent = conversation_->send(command, true);
        if (!sent) return Failure{sent.error()};
        Result<Pop3Answer> answer = conversation_->next();
        if (answer && !answer.value().ok) return Failure{Pop3ErrorText(answer.value(), hostAndPort())};
        return answer;
    }

    ServerAddress server_;
    TransportLimits limits_;
    Exchange exchange_;
    CurlLogin login_;
    TlsPeer peer_;
    CurlEasy curl_;
    std::optional<CurlChannel> channel_;
    std::optional<Pop3Conversation> conversation_;
    std::optional<Pop3Pipeline> pipeline_;
    NotDeleted notDeleted_;
    qint64 largestMessage_ = -1;
};

}  // namespace

std::unique_ptr<Pop3Session> MakeCurlPop3Session(const ServerAddress& server, const TransportLimits& limits) {
    return std::make_unique<CurlPop3Session>(server, limits);
}

}  // namespace lumopet::mail
