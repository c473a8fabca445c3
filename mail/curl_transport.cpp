// The mail transport on libcurl: one easy handle per POP3 session, so that
// every command of a mail check goes over one connection, and one per SMTP
// delivery.

#include "mail/curl_handles.h"
#include "mail/mail_transport.h"
#include "mail/server_address.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

// What one transfer leaves behind: the server's single-line replies (curl
// hands them to the header callback, the greeting first), the data, and
// curl's own words on a failure.
struct Exchange {
    QStringList replies;
    QByteArray data;
    char curlError[CURL_ERROR_SIZE] = {};

    void clear() {
        replies.clear();
        data.clear();
        curlError[0] = '\0';
    }
};

size_t collectReply(char* text, size_t size, size_t count, void* userdata) {
    auto* exchange = static_cast<Exchange*>(userdata);
    exchange->replies.append(QString::fromUtf8(text, static_cast<qsizetype>(size * count)).trimmed());
    return size * count;
}

size_t collectData(char* data, size_t size, size_t count, void* userdata) {
    static_cast<Exchange*>(userdata)->data.append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

struct Upload {
    const QByteArray& bytes;
    qsizetype offset = 0;
};

size_t supplyUpload(char* buffer, size_t size, size_t count, void* userdata) {
    auto* upload = static_cast<Upload*>(userdata);
    const qsizetype chunk = std::min<qsizetype>(static_cast<qsizetype>(size * count), upload->bytes.size() - upload->offset);
    std::memcpy(buffer, upload->bytes.constData() + upload->offset, static_cast<size_t>(chunk));
    upload->offset += chunk;
    return static_cast<size_t>(chunk);
}

// The server's own error reply, when it gave one: "-ERR ..." from POP3, a
// 4xx or 5xx line from SMTP.
QString serverError(const QStringList& replies) {
    for (qsizetype i = replies.size() - 1; i >= 0; --i) {
        const QString& line = replies[i];
        if (line.startsWith(QStringLiteral("-ERR"))) return line;
        if (line.size() >= 3 && (line[0] == u'4' || line[0] == u'5') && line[1].isDigit() && line[2].isDigit())
            return line;
    }
    return QString();
}

// RFC 5321 4.1.1.1: the EHLO reply lists one extension a line; RFC 4954 3
// names AUTH's. curl hands us every reply line, both EHLOs' when STARTTLS
// came between.
bool offersAuth(const QStringList& replies) {
    static const QRegularExpression authLine(QStringLiteral("^250[ -]AUTH([ =]|$)"),
                                             QRegularExpression::CaseInsensitiveOption);
    return std::any_of(replies.begin(), replies.end(), [](const QString& line) { return authLine.match(line).hasMatch(); });
}

// A refusal that says "you may not send through me" rather than "no such
// mailbox": RFC 3463's class x.7 (security or policy: Postfix's "554 5.7.1
// Relay access denied", Sendmail's "550 5.7.1 Relaying denied", qmail's
// "553 ... rcpthosts (#5.7.1)"), RFC 4954's 530 "authentication required",
// or a server that just says "relay".
bool isRelayRefusal(const QString& reply) {
    static const QRegularExpression policy(QStringLiteral("(^|[^0-9.])[45]\\.7\\.[0-9]{1,3}([^0-9]|$)|relay"),
                                           QRegularExpression::CaseInsensitiveOption);
    return reply.startsWith(QStringLiteral("530")) || policy.match(reply).hasMatch();
}

Failure transferFailure(CURLcode code, const ServerAddress& server, const Exchange& exchange) {
    const QString reply = serverError(exchange.replies);
    if (!reply.isEmpty()) return Failure{reply};
    const QString host = QStringLiteral("%1:%2").arg(server.host).arg(server.port);
    const QString detail = exchange.curlError[0] ? QString::fromUtf8(exchange.curlError)
                                                 : QString::fromUtf8(curl_easy_strerror(code));
    QString what;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: what = QStringLiteral("サーバー %1 が見つかりません。"); break;
    case CURLE_COULDNT_CONNECT: what = QStringLiteral("サーバー %1 に接続できません。"); break;
    case CURLE_OPERATION_TIMEDOUT: what = QStringLiteral("サーバー %1 から応答がありません（時間切れ）。"); break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        what = QStringLiteral("サーバー %1 のTLS証明書を信頼できません。");
        break;
    case CURLE_SSL_CONNECT_ERROR: what = QStringLiteral("サーバー %1 とTLSで接続できません。"); break;
    case CURLE_LOGIN_DENIED: what = QStringLiteral("サーバー %1 へのログインが拒否されました。"); break;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        what = QStringLiteral("サーバー %1 との接続が途中で切れました。");
        break;
    default: what = QStringLiteral("サーバー %1 との通信に失敗しました。"); break;
    }
    return Failure{what.arg(host) + QStringLiteral("（") + detail + QStringLiteral("）")};
}

// A plain TCP connection, opened and closed again, answers the one question
// a POP3 "connect" asks before the login: is the server there at all?
lumopet::Status probe(const ServerAddress& server, int timeoutSeconds) {
    const QString host = QStringLiteral("%1:%2").arg(server.host).arg(server.port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray name = server.host.toUtf8();
    const QByteArray port = QByteArray::number(server.port);
    if (getaddrinfo(name.constData(), port.constData(), &hints, &found) != 0)
        return Failure{QStringLiteral("サーバー %1 が見つかりません。").arg(host)};
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);

    int lastError = ECONNREFUSED;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int error = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd waiting{fd, POLLOUT, 0};
                const int ready = ::poll(&waiting, 1, timeoutSeconds * 1000);
                socklen_t length = sizeof error;
                if (ready <= 0) error = ETIMEDOUT;
                else ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        ::close(fd);
        if (error == 0) return success();
        lastError = error;
    }
    if (lastError == ETIMEDOUT)
        return Failure{QStringLiteral("サーバー %1 から応答がありません（時間切れ）。").arg(host)};
    return Failure{QStringLiteral("サーバー %1 に接続できません（%2）。").arg(host, QString::fromLocal8Bit(std::strerror(lastError)))};
}

// The options every handle gets: time-outs, TLS, no signals (transfers may
// run off the main thread).
void setCommonOptions(CURL* curl, const ServerAddress& server, const TransportLimits& limits, Exchange& exchange) {
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectSeconds));
    // curl measures an average speed over the time: the bytes spread over it.
    const long floor = (limits.minimumBytes + limits.stalledSeconds - 1) / std::max(1, limits.stalledSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, floor));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stalledSeconds));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, exchange.curlError);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectReply);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    // Plain connections are upgraded when the server offers it; implicit
    // TLS comes with the URL's scheme.
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(server.tls == TlsMode::Implicit ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    const QByteArray extraAuthority = qgetenv("LUMOPET_CA_FILE");
    if (!extraAuthority.isEmpty()) curl_easy_setopt(curl, CURLOPT_CAINFO, extraAuthority.constData());
}

class CurlPop3Session : public Pop3Session {
public:
    CurlPop3Session(ServerAddress server, TransportLimits limits)
        : server_(std::move(server)), limits_(limits), curl_(curl_easy_init()) {
        setCommonOptions(curl_.get(), server_, limits_, exchange_);
    }

    lumopet::Result<std::vector<qint64>> login(const QString& user, const QString& password, bool apop) override {
        user_ = user.toUtf8();
        password_ = password.toUtf8();
        curl_easy_setopt(curl_.get(), CURLOPT_USERNAME, user_.constData());
        curl_easy_setopt(curl_.get(), CURLOPT_PASSWORD, password_.constData());
        if (apop) curl_easy_setopt(curl_.get(), CURLOPT_LOGIN_OPTIONS, "AUTH=+APOP");
        // LIST without a number: the whole mailbox, one "number size" line
        // per message.
        const auto listed = perform(QString(), nullptr, false);
        if (!listed) return Failure{listed.error()};
        std::vector<qint64> sizes;
        for (const QByteArray& line : exchange_.data.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(' ');
            if (fields.size() < 2) continue;
            sizes.push_back(fields[1].toLongLong());
        }
        return sizes;
    }

    lumopet::Result<std::vector<QString>> uniqueIds() override {
        // UIDL without a number: one "number uidl" line per message, read
        // like LIST's. A server without the command answers -ERR.
        const auto listed = perform(QString(), "UIDL", false);
        if (!listed) return Failure{listed.error()};
        std::vector<QString> uidls;
        for (const QByteArray& line : exchange_.data.split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(' ');
            if (fields.size() < 2) continue;
            bool ok = false;
            const int number = fields[0].toInt(&ok);
            // Numbers come in order from 1; anything else is not a listing
            // we can trust to name the right message.
            if (!ok || number != static_cast<int>(uidls.size()) + 1)
                return Failure{QStringLiteral("UIDL の応答を解釈できません。")};
            uidls.push_back(QString::fromLatin1(fields[1]));
        }
        return uidls;
    }

    lumopet::Result<QByteArray> retrieve(int number) override {
        const auto done = perform(QString::number(number), nullptr, false);
        if (!done) return Failure{done.error()};
        return exchange_.data;
    }

    lumopet::Status remove(int number) override {
        // Without NOBODY curl waits for a multi-line answer that never comes.
        return perform(QString::number(number), "DELE", true);
    }

    lumopet::Status undoDeletions() override { return perform(QString(), "RSET", true); }

    void quit() override {
        // curl sends QUIT when the handle goes, which commits the deletions.
        curl_.reset();
    }

private:
    lumopet::Status perform(const QString& path, const char* command, bool noBody) {
        if (!curl_) return Failure{QStringLiteral("POP3 の接続は終わっています。")};
        exchange_.clear();
        const QByteArray url = (server_.url() + u'/' + path).toUtf8();
        curl_easy_setopt(curl_.get(), CURLOPT_URL, url.constData());
        curl_easy_setopt(curl_.get(), CURLOPT_CUSTOMREQUEST, command);
        curl_easy_setopt(curl_.get(), CURLOPT_NOBODY, noBody ? 1L : 0L);
        const CURLcode code = curl_easy_perform(curl_.get());
        if (code != CURLE_OK) return transferFailure(code, server_, exchange_);
        return success();
    }

    ServerAddress server_;
    TransportLimits limits_;
    Exchange exchange_;
    QByteArray user_, password_;
    CurlEasy curl_;
};

class CurlTransport : public MailTransport {
public:
    explicit CurlTransport(TransportLimits limits) : limits_(limits) {}

    lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& serverText) override {
        const auto server = ParseServerAddress(serverText, MailProtocol::Pop3);
        if (!server) return Failure{server.error()};
        const auto reachable = probe(server.value(), limits_.connectSeconds);
        if (!reachable) return Failure{reachable.error()};
        return std::unique_ptr<Pop3Session>(new CurlPop3Session(server.value(), limits_));
    }

    SmtpStatus sendSmtp(const QString& serverText, const SmtpLogin& login, const QString& fromAddress,
                        const QString& toAddress, const QByteArray& message) override {
        const auto server = ParseServerAddress(serverText, MailProtocol::Smtp);
        if (!server) return Failure{server.error()};
        CurlEasy curl(curl_easy_init());
        Exchange exchange;
        setCommonOptions(curl.get(), server.value(), limits_, exchange);
        // curl takes the URL's path as the name it greets the server with.
        const QByteArray url = (server.value().url() + QStringLiteral("/localhost")).toUtf8();
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
        const QByteArray user = login.user.toUtf8(), password = login.password.toUtf8();
        if (!login.user.isEmpty()) {
            // Used only when the server offers AUTH.
            curl_easy_setopt(curl.get(), CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, password.constData());
        }
        const QByteArray from = '<' + fromAddress.toUtf8() + '>';
        curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, from.constData());
        CurlList recipients(curl_slist_append(nullptr, ('<' + toAddress.toUtf8() + '>').constData()));
        curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
        Upload upload{message};
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, supplyUpload);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, &upload);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
        const CURLcode code = curl_easy_perform(curl.get());
        if (code == CURLE_OK) return success();
        SmtpStatus failed = transferFailure(code, server.value(), exchange);
        // curl gives CURLE_SEND_ERROR when MAIL, RCPT or DATA is refused.
        failed.relayRefused = code == CURLE_SEND_ERROR && !offersAuth(exchange.replies) &&
                              isRelayRefusal(serverError(exchange.replies));
        return failed;
    }

private:
    TransportLimits limits_;
};

}  // namespace

std::unique_ptr<MailTransport> MakeCurlTransport(TransportLimits limits) {
    return std::make_unique<CurlTransport>(limits);
}

}  // namespace lumopet::mail
