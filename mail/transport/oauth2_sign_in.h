#pragma once
// The browser sign-in: the authorization code flow with PKCE (RFC 7636,
// S256) in the desktop's browser, the redirect coming back to a listener
// on 127.0.0.1 that is open only while the sign-in runs (RFC 8252).
//
// Qt NetworkAuth's QOAuth2AuthorizationCodeFlow builds the request and
// exchanges the code. Qt 6.4 has no PKCE call: the challenge and the
// verifier go in through its parameter hook. The state is ours too, from
// the system's CSPRNG (Qt 6.4 makes it from a generator seeded with the
// clock).

#include "core/result.h"
#include "mail/transport/oauth2_clients.h"
#include "mail/transport/oauth2_pkce.h"
#include "mail/transport/oauth2_token_reply.h"
#include "mail/transport/provider_settings.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QOAuth2AuthorizationCodeFlow;

namespace lumopet::mail {

class LoopbackRedirectListener;
class OAuthNetwork;
struct RedirectVerdict;

// Opens the URL in the user's browser; false when none could be started.
using BrowserOpener = std::function<bool(const QUrl&)>;

// QDesktopServices::openUrl: the desktop's browser, through xdg-open or
// $BROWSER; where the platform plugin has no such service, xdg-open or
// $BROWSER started here.
bool OpenInDesktopBrowser(const QUrl& url);

struct SignInTimeouts {
    // For one answer of the token endpoint.
    std::chrono::milliseconds tokenRequest{15'000};
    // For the whole sign-in, the user's time in the browser included.
    std::chrono::milliseconds whole{std::chrono::minutes(10)};
};

class OAuth2SignIn : public QObject {
    Q_OBJECT
public:
    OAuth2SignIn(OAuth2Provider provider, OAuth2Client client, QObject* parent = nullptr);
    ~OAuth2SignIn() override;

    void setBrowser(BrowserOpener browser) { browser_ = std::move(browser); }
    void setTimeouts(SignInTimeouts timeouts) { timeouts_ = timeouts; }

    // Checks the provider's URLs, opens the listener and the browser. On a
    // failure nothing is left open and finished() will not come; on success
    // finished() comes once, later.
    Status start();
    // The same request in the browser again (the user closed its tab).
    bool reopenBrowser();
    // Ends a running sign-in: finished() with a failure, the listener closed.
    void cancel();
    bool running() const { return running_; }

    // The redirect URI of the running sign-in (for tests).
    QString redirectUri() const;

Q_SIGNALS:
    // The tokens, or why there are none. Comes once per start().
    void finished(const lumopet::mail::TokenOutcome& outcome);
    // A redirect the listener refused (a wrong state, a second one) while
    // the sign-in goes on: a text for a log or the status line.
    void redirectRefused(const QString& text);

private:
    void onRedirect(const RedirectVerdict& verdict);
    void finish(TokenOutcome outcome);
    void stopListening();

    OAuth2Provider provider_;
    OAuth2Client client_;
    BrowserOpener browser_ = OpenInDesktopBrowser;
    SignInTimeouts timeouts_;
    // Made by start(), in this order, so that the network (with any reply
    // in flight) goes before the listener that reads its replies.
    OAuthNetwork* network_ = nullptr;
    LoopbackRedirectListener* listener_ = nullptr;
    QOAuth2AuthorizationCodeFlow* flow_ = nullptr;
    QTimer deadline_;
    PkcePair pkce_;
    QUrl authorizationUrl_;
    bool running_ = false;
};

}  // namespace lumopet::mail
