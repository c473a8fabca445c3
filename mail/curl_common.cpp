#include "mail/curl_common.h"

#include "mail/server_refusal.h"

#include <algorithm>

namespace lumopet::mail {
namespace {

size_t collectReply(char* text, size_t size, size_t count, void* userdata) {
    auto* exchange = static_cast<Exchange*>(userdata);
    exchange->replies.append(QString::fromUtf8(text, static_cast<qsizetype>(size * count)).trimmed());
    return size * count;
}

size_t collectData(char* data, size_t size, size_t count, void* userdata) {
    static_cast<Exchange*>(userdata)->data.append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

// CURLOPT_SSL_CTX_FUNCTION: called for every TLS handshake, implicit or
// after STLS / STARTTLS, before it starts.
CURLcode prepareTls(CURL*, void* sslContext, void* peer) {
    InstallCertificateCheck(sslContext, *static_cast<const TlsPeer*>(peer));
    return CURLE_OK;
}

// CURLOPT_DEBUGFUNCTION: curl shows each command line it sends as
// CURLINFO_HEADER_OUT. Only the names of the commands are kept.
int noteCommand(CURL*, curl_infotype type, char* data, size_t size, void* userdata) {
    if (type != CURLINFO_HEADER_OUT) return 0;
    static const QStringList known{QStringLiteral("EHLO"), QStringLiteral("HELO"), QStringLiteral("STARTTLS"),
                                   QStringLiteral("AUTH"),  QStringLiteral("MAIL"), QStringLiteral("RCPT"),
                                   QStringLiteral("DATA"),  QStringLiteral("QUIT"), QStringLiteral("RSET"),
                                   QStringLiteral("USER"),  QStringLiteral("PASS"), QStringLiteral("APOP"),
                                   QStringLiteral("STLS"),  QStringLiteral("CAPA")};
    QByteArray name(data, static_cast<qsizetype>(std::min<size_t>(size, 16)));
    for (const char end : {' ', '\r', '\n'})
        if (const qsizetype at = name.indexOf(end); at >= 0) name.truncate(at);
    // The lines that answer an AUTH challenge (base64) are not commands.
    const QString command = QString::fromLatin1(name).toUpper();
    if (known.contains(command)) static_cast<Exchange*>(userdata)->commands.append(command);
    return 0;
}

}  // namespace

void TrackCommands(CURL* curl, Exchange& exchange) {
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, noteCommand);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
}

QString ServerError(const QStringList& replies) {
    for (qsizetype i = replies.size() - 1; i >= 0; --i) {
        const QString& line = replies[i];
        if (line.startsWith(QStringLiteral("-ERR"))) return line;
        if (line.size() >= 3 && (line[0] == u'4' || line[0] == u'5') && line[1].isDigit() && line[2].isDigit())
            return line;
    }
    return QString();
}

Failure TransferFailure(CURLcode code, const ServerAddress& server, const Exchange& exchange) {
    const QString reply = ServerError(exchange.replies);
    if (code == CURLE_LOGIN_DENIED && server.protocol == MailProtocol::Pop3 && reply.startsWith(QStringLiteral("-ERR")))
        return Failure{DescribePop3LoginRefusal(reply)};
    if (!reply.isEmpty()) return Failure{reply};
    return CurlFailure(code, server, exchange);
}

Failure CurlFailure(CURLcode code, const ServerAddress& server, const Exchange& exchange) {
    const QString host = QStringLiteral("%1:%2").arg(server.host).arg(server.port);
    const QString detail = exchange.curlError[0] ? QString::fromUtf8(exchange.curlError)
                                                 : QString::fromUtf8(curl_easy_strerror(code));
    QString what;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: what = QStringLiteral("サーバー %1 が見つかりません。"); break;
    case CURLE_COULDNT_CONNECT: what = QStringLiteral("サーバー %1 に接続できません。"); break;
    case CURLE_OPERATION_TIMEDOUT: what = QStringLiteral("サーバー %1 から応答がありません（時間切れ）。"); break;
    case CURLE_PEER_FAILED_VERIFICATION: what = QStringLiteral("サーバー %1 のTLS証明書を信頼できません。"); break;
    case CURLE_SSL_CACERT_BADFILE:
        // Not the server's fault: this machine has no list of certificate
        // authorities to check against (a minimal system without them).
        what = QStringLiteral("このコンピューターに認証局の証明書がないため、サーバー %1 の証明書を確かめられません。"
                              "ca-certificates パッケージを入れてください。");
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

void SetCommonCurlOptions(CURL* curl, const ServerAddress& server, const TransportLimits& limits, Exchange& exchange,
                          const TlsPeer& peer) {
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectSeconds));
    // curl measures an average speed over the time: the bytes spread over it.
    const long floor = (limits.minimumBytes + limits.stalledSeconds - 1) / std::max(1, limits.stalledSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, floor));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stalledSeconds));
    // Waiting for one reply is not a transfer to curl, and its own limit for
    // that is two minutes: the answer to SMTP's final "." came under no
    // limit of ours.
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(limits.stalledSeconds));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, exchange.curlError);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectReply);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    // Plain connections are upgraded when the server offers it; implicit
    // TLS comes with the URL's scheme; smtp:// asks for STARTTLS and nothing else will do. The SMTP delivery
    // tightens this further where a password may follow.
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     static_cast<long>(server.tls == TlsMode::UpgradeWhenOffered ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    const QByteArray extraAuthority = qgetenv("LUMOPET_CA_FILE");
    if (!extraAuthority.isEmpty()) curl_easy_setopt(curl, CURLOPT_CAINFO, extraAuthority.constData());
    // Our check in the handshake verifies the certificate, the name
    // included, and accepts one the user trusted (tls_certificate_check.h);
    // curl's name check after the handshake would refuse that one again.
    // A curl that cannot hand us the handshake keeps its own checks, and
    // then no certificate can be trusted.
    if (curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, prepareTls) == CURLE_OK) {
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, const_cast<TlsPeer*>(&peer));
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

void SetCurlLogin(CURL* curl, const Credentials& login, bool forPop3, CurlLogin& kept) {
    if (!login.isSet()) return;
    kept.user = login.user.toUtf8();
    kept.secret = login.secret.toUtf8();
    curl_easy_setopt(curl, CURLOPT_USERNAME, kept.user.constData());
    if (IsBearer(login)) {
        curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, kept.secret.constData());
        curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        return;
    }
    curl_easy_setopt(curl, CURLOPT_PASSWORD, kept.secret.constData());
    if (forPop3 && login.method == Credentials::Method::Apop) curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=+APOP");
}

QString TokenNeedsTlsText(const ServerAddress& server) {
    return QStringLiteral("サーバー %1:%2 は暗号化（%3）に対応していないため、ログインしませんでした。"
                          "OAuth2 のトークンは暗号化した接続でしか送りません。")
        .arg(server.host)
        .arg(server.port)
        .arg(server.protocol == MailProtocol::Pop3 ? QStringLiteral("STLS") : QStringLiteral("STARTTLS"));
}

QString WithoutSecret(QString text, const Credentials& login) {
    if (login.secret.isEmpty()) return text;
    const QByteArray user = login.user.toUtf8();
    const QByteArray secret = login.secret.toUtf8();
    const QByteArray forms[] = {
        secret.toBase64(),
        ("user=" + user + "\x01" "auth=Bearer " + secret + "\x01\x01").toBase64(),
        ('\0' + user + '\0' + secret).toBase64(),
    };
    for (const QByteArray& form : forms) text.replace(QString::fromLatin1(form), QStringLiteral("＊＊＊"));
    text.replace(login.secret, QStringLiteral("＊＊＊"));
    return text;
}

}  // namespace lumopet::mail
