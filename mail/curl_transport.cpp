// The mail transport on libcurl: one easy handle per SMTP delivery, and one
// per POP3 session (curl_pop3_session.cpp), so that every command of a mail
// check goes over one connection.

#include "mail/curl_common.h"
#include "mail/curl_handles.h"
#include "mail/curl_pop3_session.h"
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

class CurlTransport : public MailTransport {
public:
    explicit CurlTransport(TransportLimits limits) : limits_(limits) {}

    lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& serverText) override {
        const auto server = ParseServerAddress(serverText, MailProtocol::Pop3);
        if (!server) return Failure{server.error()};
        const auto reachable = probe(server.value(), limits_.connectSeconds);
        if (!reachable) return Failure{reachable.error()};
        return MakeCurlPop3Session(server.value(), limits_);
    }

    SmtpStatus sendSmtp(const QString& serverText, const SmtpLogin& login, const QString& fromAddress,
                        const QString& toAddress, const QByteArray& message) override {
        const auto server = ParseServerAddress(serverText, MailProtocol::Smtp);
        if (!server) return Failure{server.error()};
        const TlsPeer peer{server.value().host, server.value().port};
        CurlEasy curl(curl_easy_init());
        Exchange exchange;
        SetCommonCurlOptions(curl.get(), server.value(), limits_, exchange, peer);
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
        SmtpStatus failed = TransferFailure(code, server.value(), exchange);
        // curl gives CURLE_SEND_ERROR when MAIL, RCPT or DATA is refused.
        failed.relayRefused = code == CURLE_SEND_ERROR && !offersAuth(exchange.replies) &&
                              isRelayRefusal(ServerError(exchange.replies));
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
