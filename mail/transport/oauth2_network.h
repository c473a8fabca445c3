#pragma once
// How the sign-in and the token keeper reach the provider: the rule for its
// URLs, and the one network access both use.
//
// The authorization and token URLs must be https, checked against the
// system's certificate authorities and the file LUMOPET_CA_FILE names (the
// tests' own authority, as the mail transport trusts it). Plain http is
// taken only for a server on this machine (127.0.0.0/8, ::1, localhost),
// where nothing crosses a network: a refresh token sent over plain http to
// anywhere else could be read on the way.

#include "core/result.h"
#include "mail/transport/provider_settings.h"

#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QUrl>

#include <chrono>

namespace lumopet::mail {

// Whether the URL may carry a sign-in: https anywhere, http on loopback.
// The failure says which URL (what names it: "トークンの発行先") and why.
Status CheckEndpointUrl(const QString& url, const QString& what);

// Both URLs of the provider's OAuth2 settings.
Status CheckOAuthEndpoints(const OAuth2Provider& provider);

// The network access of a sign-in or a token keeper. Every request it
// makes trusts the system's authorities plus LUMOPET_CA_FILE, follows no
// redirect (a token endpoint has no reason to send one, and one to plain
// http would carry the form away), and gives up after the time-out. A
// request to a URL the rule above refuses never leaves: it fails at once
// with ProtocolUnknownError.
class OAuthNetwork : public QNetworkAccessManager {
    Q_OBJECT
public:
    explicit OAuthNetwork(std::chrono::milliseconds timeout, QObject* parent = nullptr);

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override;

private:
    QSslConfiguration tls_;
};

// What an HTTPS request of the program trusts (a token request, an
// autoconfig page): the system's authorities and those of extraCaFile.
QSslConfiguration TrustedTlsConfiguration(const QString& extraCaFile = qEnvironmentVariable("LUMOPET_CA_FILE"));

}  // namespace lumopet::mail
