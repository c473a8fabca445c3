#pragma once
// The account's OAuth2 tokens, kept for the mail checks and sends: the
// access token and its expiry in memory, the refresh token in the secret
// store (store/secret_store.h). Lives on the window thread and answers
// through a signal; nothing here waits in a nested event loop.
//
// What a request gets:
//  - an access token with more than a minute left: at once;
//  - one expiring or missing: a refresh with the refresh token, no browser,
//    at most once per check (requestToken starts a check);
//  - no refresh token: when the user asked (a click), the browser sign-in
//    starts at once and statusText() says so; a timed check never opens
//    the browser and is answered "sign-in needed";
//  - a refresh refused with invalid_grant: answered once with
//    signInRevoked set, the refresh token removed from the store, and no
//    refresh tried again until the user signs in anew (the browser opens on
//    a click only);
//  - a token endpoint that answers garbage, another error or nothing in
//    time: a failure text, the tokens kept.
// A secret never appears in a text.

#include "core/result.h"
#include "mail/transport/oauth2_clients.h"
#include "mail/transport/oauth2_sign_in.h"
#include "mail/transport/oauth2_token_reply.h"
#include "mail/transport/provider_settings.h"
#include "store/secret_store.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <utility>
#include <vector>

namespace lumopet::mail {

class OAuthNetwork;

struct TokenAnswer {
    enum class Kind {
        Token,         // accessToken is good to log in with
        SignInNeeded,  // no refresh token, and no browser was opened
        Failed,        // text says why; the tokens were kept
    };
    Kind kind = Kind::Failed;
    QString accessToken;
    // For the status line: why there is no token, or with a token a
    // warning (a new refresh token that could not be stored).
    QString text;
    // This answer learnt that the provider refused the refresh token: say
    // so once, in the status line, the tray and a notification.
    bool signInRevoked = false;
};

// The provider refused the refresh token (invalid_grant): the sign-in is
// over until the user signs in anew.
inline const QString kSignInAgainText =
    QStringLiteral("サインインの期限が切れたか、取り消されました。サインインし直してください。受信ボタンを押すとブラウザーが開きます。");

// An access token with less than this left is refreshed before use: a
// check takes a while, and the clocks may differ.
inline constexpr qint64 kTokenMarginSeconds = 60;

class OAuth2Tokens : public QObject {
    Q_OBJECT
public:
    // account: the key of the refresh token in the store (the account's ID).
    OAuth2Tokens(OAuth2Provider provider, OAuth2Client client, SecretStore& store, QString account,
                 QObject* parent = nullptr);
    ~OAuth2Tokens() override;

    void setTimeouts(SignInTimeouts timeouts) { timeouts_ = timeouts; }
    void setBrowser(BrowserOpener browser) { browser_ = std::move(browser); }

    // Starts a check's request for a token: answered() comes once, at once
    // when a good token is at hand (before this returns), else when the
    // refresh or the sign-in ends. A request while one is under way is
    // answered with it; a click then opens the running sign-in's page again.
    void requestToken(bool userAsked);
    // The server refused the login with the token it got: refreshes once,
    // unless this check refreshed already. Never opens the browser.
    void renewAfterRefusal();
    // Ends a running sign-in (answered() with a failure).
    void cancelSignIn();
    bool signInRunning() const { return work_ == Work::SigningIn; }

Q_SIGNALS:
    void answered(const lumopet::mail::TokenAnswer& answer);
    // "ブラウザーでサインインしてください。" while the browser sign-in runs.
    void statusText(const QString& text);

private:
    enum class Work { None, Refreshing, SigningIn };

    bool hasFreshToken() const;
    void proceed();
    void refresh(const QString& refreshToken);
    void onRefreshed(const TokenOutcome& outcome, const QString& sentToken);
    void startSignIn();
    void onSignedIn(const TokenOutcome& outcome);
    void answer(TokenAnswer answer);

    OAuth2Provider provider_;
    OAuth2Client client_;
    SecretStore& store_;
    QString account_;
    SignInTimeouts timeouts_;
    BrowserOpener browser_ = OpenInDesktopBrowser;

    QString accessToken_;
    QDateTime expiresAt_;
    Work work_ = Work::None;
    bool userWaiting_ = false;
    bool refreshedThisCheck_ = false;
    // invalid_grant was answered: no refresh until a new sign-in.
    bool revoked_ = false;
    // The work under way learnt it; its answer says so.
    bool revokedNews_ = false;
    QPointer<OAuth2SignIn> signIn_;
    QPointer<OAuthNetwork> network_;
};

// The form of a refresh (RFC 6749 6).
std::vector<std::pair<QString, QString>> RefreshForm(const OAuth2Provider& provider, const OAuth2Client& client,
                                                      const QString& refreshToken);

// One refresh against the provider, timed from the request to the read
// answer, on a network made for it (a new connection, as a check's first
// refresh has). Runs an event loop of its own: for benchmarks, never on the
// window thread of the program. Fails with the refresh's failure text.
Result<std::chrono::microseconds> TimeTokenRefresh(const OAuth2Provider& provider, const OAuth2Client& client,
                                                   const QString& refreshToken,
                                                   std::chrono::milliseconds timeout = std::chrono::seconds(15));

}  // namespace lumopet::mail
