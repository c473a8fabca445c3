#include "mail/transport/oauth2_network.h"

// The one rule for a host that names this machine (IsLoopbackHost): a
// second definition here clashed with it once both libraries were linked.
#include "mail/server_address.h"

#include <QHostAddress>
#include <QNetworkRequest>
#include <QSslCertificate>

namespace lumopet::mail {

Status CheckEndpointUrl(const QString& text, const QString& what) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return Failure{QStringLiteral("%1のアドレスが正しくありません: %2").arg(what, text)};
    if (url.scheme() == QLatin1String("https")) return success();
    if (url.scheme() == QLatin1String("http") && IsLoopbackHost(url.host())) return success();
    return Failure{QStringLiteral("%1のアドレスが https ではありません。暗号化されない接続ではサインインしません: %2")
                       .arg(what, url.toDisplayString(QUrl::RemoveQuery | QUrl::RemoveFragment))};
}

Status CheckOAuthEndpoints(const OAuth2Provider& provider) {
    if (Status status = CheckEndpointUrl(provider.authUrl, QStringLiteral("サインインのページ")); !status) return status;
    return CheckEndpointUrl(provider.tokenUrl, QStringLiteral("トークンの発行元"));
}

QSslConfiguration TrustedTlsConfiguration(const QString& extraCaFile) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    // Setting the authorities by hand ends Qt's loading of the system's on
    // demand: they are named here, with the extra file's after.
    QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
    if (!extraCaFile.isEmpty()) authorities += QSslCertificate::fromPath(extraCaFile, QSsl::Pem);
    tls.setCaCertificates(authorities);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return tls;
}

OAuthNetwork::OAuthNetwork(std::chrono::milliseconds timeout, QObject* parent)
    : QNetworkAccessManager(parent), tls_(TrustedTlsConfiguration()) {
    setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    setTransferTimeout(static_cast<int>(timeout.count()));
}

QNetworkReply* OAuthNetwork::createRequest(Operation operation, const QNetworkRequest& request,
                                           QIODevice* outgoingData) {
    QNetworkRequest checked(request);
    checked.setSslConfiguration(tls_);
    checked.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Nothing of a sign-in is worth keeping in a cache or a cookie jar.
    checked.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    checked.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // Token answers are read as JSON (RFC 6749 5.1); Qt's code exchange
    // asks for nothing in particular, and some endpoints then answer a form.
    checked.setRawHeader("Accept", "application/json");
    if (!CheckEndpointUrl(request.url().toString(), QString())) checked.setUrl(QUrl(QStringLiteral("refused:")));
    return QNetworkAccessManager::createRequest(operation, checked, outgoingData);
}

}  // namespace lumopet::mail
