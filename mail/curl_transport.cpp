// The mail transport on libcurl: one easy handle per SMTP delivery, and one
// per POP3 session (curl_pop3_session.cpp), so that every command of a mail
// check goes over one connection.

#include "core/system_error_text.h"
#include "mail/crlf_file_reader.h"
#include "mail/curl_common.h"
#include "mail/curl_handles.h"
#include "mail/curl_pop3_session.h"
#include "mail/ehlo_name.h"
#include "mail/mail_transport.h"
#include "mail/send_stop.h"
#include "mail/server_address.h"
#include "mail/server_refusal.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

// The message as it goes out: bytes in memory, or a file with LF line
// ends, each LF sent as CR LF.
struct Message {
    QByteArrayView bytes;
    int lfFile = -1;
    qint64 wireSize = 0;
};

struct Upload {
    Message message;
    qint64 offset = 0;  // on the wire
    bool stopped = false;
    std::optional<CrLfFileReader> file = message.lfFile < 0 ? std::nullopt : std::optional<CrLfFileReader>(message.lfFile);

    qint64 size() const { return message.lfFile < 0 ? message.bytes.size() : message.wireSize; }
    bool whole() const { return offset >= size(); }
};

size_t supplyUpload(char* buffer, size_t size, size_t count, void* userdata) {
    auto* upload = static_cast<Upload*>(userdata);
    const qint64 room = static_cast<qint64>(size * count);
    if (upload->message.lfFile < 0) {
        const qint64 chunk = std::min(room, upload->size() - upload->offset);
        std::memcpy(buffer, upload->message.bytes.data() + upload->offset, static_cast<size_t>(chunk));
        upload->offset += chunk;
        return static_cast<size_t>(chunk);
    }
    const ssize_t got = upload->file->read(buffer, static_cast<size_t>(room));
    if (got < 0) return CURL_READFUNC_ABORT;
    upload->offset += got;
    return static_cast<size_t>(got);
}

// CURLOPT_XFERINFOFUNCTION: curl calls it often while bytes move and about
// once a second while it waits. 送信中止 breaks the delivery off as long as
// part of the message is still ours: a server keeps no message whose DATA
// did not end with "." (RFC 5321 4.1.1.4). Once the message is out whole
// the server's answer decides, so we wait for it.
int watchForStop(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* upload = static_cast<Upload*>(userdata);
    if (!SendStopRequested() || upload->whole()) return 0;
    upload->stopped = true;
    return 1;
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

// The server's final reply when it is a refusal (4xx, 5xx). curl sends one
// command at a time and stops at the first refusal, so that reply answers
// the last command sent; after a refused MAIL, RCPT or DATA curl still
// says QUIT, whose "221" is not the answer.
QString finalRefusal(const Exchange& exchange) {
    QStringList replies = exchange.replies;
    if (!exchange.commands.isEmpty() && exchange.commands.last() == u"QUIT" && !replies.isEmpty() &&
        replies.last().startsWith(u'2'))
        replies.removeLast();
    if (replies.isEmpty()) return QString();
    const QString& line = replies.last();
    const bool refusal = line.size() >= 3 && (line[0] == u'4' || line[0] == u'5') && line[1].isDigit() && line[2].isDigit();
    return refusal ? line : QString();
}

SmtpStep stepOf(const QStringList& commands) {
    for (qsizetype i = commands.size() - 1; i >= 0; --i) {
        const QString& c = commands[i];
        if (c == u"EHLO" || c == u"HELO") return SmtpStep::Hello;
        if (c == u"STARTTLS") return SmtpStep::StartTls;
        if (c == u"AUTH") return SmtpStep::Login;
        if (c == u"MAIL") return SmtpStep::Sender;
        if (c == u"RCPT") return SmtpStep::Recipient;
        if (c == u"DATA") return SmtpStep::Message;
    }
    return SmtpStep::Greeting;
}

// Where a connection to the server goes, found by one of our own: our end's
// address, and the server's address that answered (curl is then sent to
// that one, so that our end is the one we name).
struct Connected {
    sockaddr_storage local{};
    sockaddr_storage remote{};
    socklen_t remoteLength = 0;
};

// A plain TCP connection, opened and closed again. The addresses of the
// name are tried in order, the next one started when the one before has not
// answered within a quarter of a second (as curl does, RFC 8305), so that a
// dead IPv6 route does not cost the whole time-out. stoppable: 送信中止
// ends the wait.
Result<Connected> probe(const ServerAddress& server, int timeoutSeconds, bool stoppable, bool* stopped = nullptr) {
    using Clock = std::chrono::steady_clock;
    const QString host = QStringLiteral("%1:%2").arg(server.host).arg(server.port);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray name = server.host.toUtf8();
    const QByteArray port = QByteArray::number(server.port);
    if (getaddrinfo(name.constData(), port.constData(), &hints, &found) != 0)
        return Failure{QStringLiteral("サーバー %1 が見つかりません。").arg(host)};
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);

    struct Attempt {
        int fd;
        const addrinfo* address;
    };
    std::vector<Attempt> attempts;
    auto closeAll = [&attempts] {
        for (const Attempt& a : attempts) ::close(a.fd);
        attempts.clear();
    };
    const addrinfo* next = found;
    int lastError = ECONNREFUSED;
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    auto nextStart = Clock::now();
    for (;;) {
        const auto now = Clock::now();
        if (next && (now >= nextStart || attempts.empty())) {
            const addrinfo* a = next;
            next = next->ai_next;
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) continue;
            if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
                attempts.push_back({fd, a});
                nextStart = now + std::chrono::milliseconds(250);
            } else {
                lastError = errno;
                ::close(fd);
            }
            continue;
        }
        if (attempts.empty()) break;  // every address tried and refused
        if (now >= deadline) {
            lastError = ETIMEDOUT;
            break;
        }
        if (stoppable && SendStopRequested()) {
            closeAll();
            if (stopped) *stopped = true;
            return Failure{SendStoppedText()};
        }
        auto wait = std::min(deadline, next ? nextStart : deadline) - now;
        wait = std::min<Clock::duration>(wait, std::chrono::milliseconds(200));
        std::vector<pollfd> waiting;
        for (const Attempt& a : attempts) waiting.push_back({a.fd, POLLOUT, 0});
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
        ::poll(waiting.data(), waiting.size(), static_cast<int>(std::max<long long>(1, ms)));
        for (size_t i = waiting.size(); i-- > 0;) {
            if (!waiting[i].revents) continue;
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(waiting[i].fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0) {
                Connected connected;
                socklen_t localLength = sizeof connected.local;
                ::getsockname(waiting[i].fd, reinterpret_cast<sockaddr*>(&connected.local), &localLength);
                std::memcpy(&connected.remote, attempts[i].address->ai_addr, attempts[i].address->ai_addrlen);
                connected.remoteLength = attempts[i].address->ai_addrlen;
                closeAll();
                return connected;
            }
            lastError = error;
            ::close(attempts[i].fd);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i));
            nextStart = Clock::now();
        }
    }
    closeAll();
    // Said as curl's own failures are, with the system's reason as detail.
    Exchange exchange;
    const QByteArray reason = SystemErrorText(lastError).toUtf8();
    std::strncpy(exchange.curlError, reason.constData(), sizeof exchange.curlError - 1);
    return CurlFailure(lastError == ETIMEDOUT ? CURLE_OPERATION_TIMEDOUT : CURLE_COULDNT_CONNECT, server, exchange);
}

bool isAddressLiteral(const QString& host) {
    const QByteArray text = host.toLatin1();
    in6_addr any{};
    return inet_pton(AF_INET, text.constData(), &any) == 1 || inet_pton(AF_INET6, text.constData(), &any) == 1;
}

// The name we greet with, and where curl connects so that the name holds.
struct Greeting {
    QString ehloName;
    // A CURLOPT_RESOLVE entry ("host:port:address") that sends curl to the
    // address our literal was taken from; empty: curl looks the name up.
    QByteArray pinnedAddress;
};

Result<Greeting> chooseGreeting(const ServerAddress& server, int timeoutSeconds, bool* stopped) {
    const QString machine = MachineCanonicalName();
    if (IsFullyQualifiedHostName(machine)) return Greeting{ChooseEhloName(machine, QString()), {}};
    // No name of our own: the address of our end of the connection, which
    // only a connection tells.
    const auto connected = probe(server, timeoutSeconds, true, stopped);
    if (!connected) return Failure{connected.error()};
    Greeting greeting{ChooseEhloName(machine, AddressLiteral(reinterpret_cast<const sockaddr*>(&connected.value().local))), {}};
    if (greeting.ehloName.isEmpty()) return Failure{QStringLiteral("このコンピューターのアドレスが分かりません。")};
    if (!isAddressLiteral(server.host)) {
        char text[INET6_ADDRSTRLEN] = {};
        const auto* remote = reinterpret_cast<const sockaddr*>(&connected.value().remote);
        const void* raw = remote->sa_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(remote)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(remote)->sin_addr);
        if (inet_ntop(remote->sa_family, raw, text, sizeof text)) {
            const QByteArray address = remote->sa_family == AF_INET6 ? '[' + QByteArray(text) + ']' : QByteArray(text);
            greeting.pinnedAddress = server.host.toUtf8() + ':' + QByteArray::number(server.port) + ':' + address;
        }
    }
    return greeting;
}

// One SMTP dialogue, as curl runs it.
struct Delivery {
    CURLcode code = CURLE_OK;
    bool stopped = false;
    Exchange exchange;
};

class CurlTransport : public MailTransport {
public:
    explicit CurlTransport(TransportLimits limits) : limits_(limits) {}

    lumopet::Result<std::unique_ptr<Pop3Session>> connectPop3(const QString& serverText) override {
        const auto server = ParseServerAddress(serverText, MailProtocol::Pop3);
        if (!server) return Failure{server.error()};
        const auto reachable = probe(server.value(), limits_.connectSeconds, false);
        if (!reachable) return Failure{reachable.error()};
        return MakeCurlPop3Session(server.value(), limits_);
    }

    SmtpStatus sendSmtp(const QString& serverText, const Credentials& login, const QString& fromAddress,
                        const QStringList& toAddresses, const QByteArray& message) override {
        return send(serverText, login, fromAddress, toAddresses, Message{message});
    }

    SmtpStatus sendSmtpFile(const QString& serverText, const Credentials& login, const QString& fromAddress,
                            const QStringList& toAddresses, int lfFile, qint64 wireSize) override {
        return send(serverText, login, fromAddress, toAddresses, Message{{}, lfFile, wireSize});
    }

private:
    SmtpStatus send(const QString& serverText, const Credentials& login, const QString& fromAddress,
                    const QStringList& toAddresses, const Message& message) {
        if (toAddresses.isEmpty()) return Failure{QStringLiteral("宛先がありません。")};
        const auto parsed = ParseServerAddress(serverText, MailProtocol::Smtp);
        if (!parsed) return Failure{parsed.error()};
        const ServerAddress& server = parsed.value();
        bool stoppedEarly = SendStopRequested();
        if (stoppedEarly) return stoppedStatus();
        const auto greeting = chooseGreeting(server, limits_.connectSeconds, &stoppedEarly);
        if (stoppedEarly) return stoppedStatus();
        if (!greeting) return Failure{greeting.error()};

        // The ID and password go only where nobody can read them on the
        // way: over TLS, or to this machine itself. With the plain form the
        // first try asks for STARTTLS; a server without it gets the message
        // again over the plain connection, without the login (and may still
        // take it: a POP before SMTP server, or one that knows our network).
        // An access token never goes in the clear, not even here.
        const bool loginGiven = login.isSet();
        const bool clearLoginFine = limits_.clearLoginToLoopback && IsLoopbackHost(server.host) && !IsBearer(login);
        const bool tlsFirst = server.tls != TlsMode::UpgradeWhenOffered || (loginGiven && !clearLoginFine);
        Delivery delivery;
        deliver(delivery, server, greeting.value(), tlsFirst ? CURLUSESSL_ALL : CURLUSESSL_TRY, loginGiven ? &login : nullptr,
                fromAddress, toAddresses, message);
        bool loginWithheld = false;
        if (delivery.code == CURLE_USE_SSL_FAILED && server.tls == TlsMode::UpgradeWhenOffered && !delivery.stopped) {
            loginWithheld = true;
            delivery = Delivery{};
            deliver(delivery, server, greeting.value(), CURLUSESSL_TRY, nullptr, fromAddress, toAddresses, message);
        }
        if (delivery.code == CURLE_OK) return success();
        if (delivery.stopped) return stoppedStatus();

        const QString refusal = finalRefusal(delivery.exchange);
        SmtpStatus failed = Failure{};
        if (delivery.code == CURLE_USE_SSL_FAILED) {
            failed = Failure{StartTlsMissingText(QStringLiteral("%1:%2").arg(server.host).arg(server.port), refusal)};
        } else if (!refusal.isEmpty()) {
            failed = Failure{DescribeSmtpRefusal({stepOf(delivery.exchange.commands), refusal, fromAddress,
                                                  refusedRecipient(delivery.exchange.commands, toAddresses),
                                                  loginWithheld && offersAuth(delivery.exchange.replies)})};
        } else {
            failed = CurlFailure(delivery.code, server, delivery.exchange);
        }
        // curl gives CURLE_SEND_ERROR when MAIL, RCPT or DATA is refused. A
        // login we kept back leaves POP before SMTP as the way in.
        failed.relayRefused = delivery.code == CURLE_SEND_ERROR &&
                              (!offersAuth(delivery.exchange.replies) || loginWithheld) && isRelayRefusal(refusal);
        failed.loginRefused = delivery.code == CURLE_LOGIN_DENIED;
        SmtpStatus said = Failure{WithoutSecret(failed.error(), login)};
        said.relayRefused = failed.relayRefused;
        said.loginRefused = failed.loginRefused;
        return said;
    }

    // curl says RCPT TO for one recipient after the other and stops at the
    // first refusal: the last one it named is the one refused.
    static QString refusedRecipient(const QStringList& commands, const QStringList& toAddresses) {
        const qsizetype named = commands.count(QStringLiteral("RCPT"));
        return toAddresses.value(std::clamp<qsizetype>(named, 1, toAddresses.size()) - 1);
    }

    static SmtpStatus stoppedStatus() {
        SmtpStatus status = Failure{SendStoppedText()};
        status.stopped = true;
        return status;
    }

    void deliver(Delivery& delivery, const ServerAddress& server, const Greeting& greeting, curl_usessl useSsl,
                 const Credentials* login, const QString& fromAddress, const QStringList& toAddresses,
                 const Message& message) {
        const TlsPeer peer{server.host, server.port};
        Exchange& exchange = delivery.exchange;
        CurlList pinned(greeting.pinnedAddress.isEmpty() ? nullptr
                                                         : curl_slist_append(nullptr, greeting.pinnedAddress.constData()));
        const QByteArray from = '<' + fromAddress.toUtf8() + '>';
        // One RCPT TO each. Without CURLOPT_MAIL_RCPT_ALLOWFAILS a refused
        // one ends the delivery before DATA: nobody gets the message.
        curl_slist* list = nullptr;
        for (const QString& address : toAddresses) {
            curl_slist* longer = curl_slist_append(list, ('<' + address.toUtf8() + '>').constData());
            if (!longer) {
                curl_slist_free_all(list);
                delivery.code = CURLE_OUT_OF_MEMORY;
                return;
            }
            list = longer;
        }
        CurlList recipients(list);
        Upload upload{message};
        CurlLogin kept;
        // Declared last: the handle's cleanup (which may still send QUIT and
        // hand us its reply) runs while everything above is alive.
        CurlEasy curl(curl_easy_init());
        SetCommonCurlOptions(curl.get(), server, limits_, exchange, peer);
        TrackCommands(curl.get(), exchange);
        curl_easy_setopt(curl.get(), CURLOPT_USE_SSL, static_cast<long>(useSsl));
        // curl takes the URL's path, percent-decoded, as the name it greets
        // the server with (an address literal has brackets and colons).
        const QByteArray url = server.url().toUtf8() + '/' + QUrl::toPercentEncoding(greeting.ehloName);
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
        if (pinned) curl_easy_setopt(curl.get(), CURLOPT_RESOLVE, pinned.get());
        // Used only when the server offers AUTH.
        if (login) SetCurlLogin(curl.get(), *login, false, kept);
        curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, from.constData());
        curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
        curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, supplyUpload);
        curl_easy_setopt(curl.get(), CURLOPT_READDATA, &upload);
        curl_easy_setopt(curl.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(upload.size()));
        curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, watchForStop);
        curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &upload);
        delivery.code = curl_easy_perform(curl.get());
        delivery.stopped = upload.stopped && delivery.code == CURLE_ABORTED_BY_CALLBACK;
        // What a QUIT at cleanup adds is not part of the answer. After a
        // failure curl may keep the connection and say QUIT at cleanup,
        // waiting for its reply as long as for any other: a server that has
        // just gone silent would cost the whole time again. Such a
        // connection is shut first.
        const Exchange answered = exchange;
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (delivery.code != CURLE_OK && curl_easy_getinfo(curl.get(), CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
            socket != CURL_SOCKET_BAD)
            ::shutdown(socket, SHUT_RDWR);
        curl.reset();
        exchange = answered;
    }

    TransportLimits limits_;
};

}  // namespace

std::unique_ptr<MailTransport> MakeCurlTransport(TransportLimits limits) {
    return std::make_unique<CurlTransport>(limits);
}

}  // namespace lumopet::mail
