#include "mail/transport/oauth2_tokens.h"

#include "mail/transport/oauth2_network.h"

#include <QElapsedTimer>
#include <QEventLoop>

namespace lumopet::mail {

namespace {

const QString kSignInInBrowser = QStringLiteral("ブラウザーでサインインしてください。");

TokenAnswer Failed(QString text) { return {TokenAnswer::Kind::Failed, {}, std::move(text), false}; }

}  // namespace

std::vector<std::pair<QString, QString>> RefreshForm(const OAuth2Provider& provider, const OAuth2Client& client,
                                                      const QString& refreshToken) {
    std::vector<std::pair<QString, QString>> form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                                  {QStringLiteral("refresh_token"), refreshToken},
                                                  {QStringLiteral("client_id"), client.clientId}};
    if (!client.clientSecret.isEmpty()) form.emplace_back(QStringLiteral("client_secret"), client.clientSecret);
    // The scope of the sign-in again: Microsoft's endpoint asks for it, and
    // RFC 6749 6 lets any endpoint take it.
    if (!provider.scope.isEmpty()) form.emplace_back(QStringLiteral("scope"), provider.scope);
    return form;
}

OAuth2Tokens::OAuth2Tokens(OAuth2Provider provider, OAuth2Client client, SecretStore& store, QString account,
                           QObject* parent)
    : QObject(parent),
      provider_(std::move(provider)),
      client_(std::move(client)),
      store_(store),
      account_(std::move(account)) {}

OAuth2Tokens::~OAuth2Tokens() = default;

void OAuth2Tokens::requestToken(bool userAsked) {
    if (work_ != Work::None) {
        if (userAsked) {
            userWaiting_ = true;
            if (work_ == Work::SigningIn && signIn_) signIn_->reopenBrowser();
        }
        return;
    }
    refreshedThisCheck_ = false;
    userWaiting_ = userAsked;
    proceed();
}

void OAuth2Tokens::renewAfterRefusal() {
    if (work_ != Work::None) return;
    // The server refused this token: it is no good whatever its expiry says.
    accessToken_.clear();
    if (refreshedThisCheck_)
        return answer(Failed(QStringLiteral("サーバーが新しいアクセストークンでもログインを拒否しました。")));
    userWaiting_ = false;
    proceed();
}

void OAuth2Tokens::cancelSignIn() {
    if (signIn_) signIn_->cancel();
}

bool OAuth2Tokens::hasFreshToken() const {
    return !accessToken_.isEmpty() && QDateTime::currentDateTimeUtc().secsTo(expiresAt_) > kTokenMarginSeconds;
}

void OAuth2Tokens::proceed() {
    if (hasFreshToken()) return answer({TokenAnswer::Kind::Token, accessToken_, {}, false});
    if (!revoked_ && !refreshedThisCheck_) {
        const Result<std::optional<QString>> kept = store_.read(SecretKind::RefreshToken, account_);
        if (!kept) return answer(Failed(kept.error()));
        if (kept.value() && !kept.value()->isEmpty()) return refresh(*kept.value());
    }
    if (userWaiting_) return startSignIn();
    TokenAnswer needed{TokenAnswer::Kind::SignInNeeded, {}, {}, false};
    needed.text = revoked_ ? kSignInAgainText : QStringLiteral("サインインが必要です。受信ボタンを押すとブラウザーが開きます。");
    answer(needed);
}

void OAuth2Tokens::refresh(const QString& refreshToken) {
    refreshedThisCheck_ = true;
    work_ = Work::Refreshing;
    if (Status urls = CheckOAuthEndpoints(provider_); !urls) {
        work_ = Work::None;
        return answer(Failed(urls.error()));
    }
    if (!network_) network_ = new OAuthNetwork(timeouts_.tokenRequest, this);
    const QStringList secrets{refreshToken, client_.clientSecret};
    PostTokenForm(*network_, provider_.tokenUrl, RefreshForm(provider_, client_, refreshToken), secrets,
                  [this, guard = QPointer<OAuth2Tokens>(this), refreshToken](const TokenOutcome& outcome) {
                      if (guard) onRefreshed(outcome, refreshToken);
                  });
}

void OAuth2Tokens::onRefreshed(const TokenOutcome& outcome, const QString& sentToken) {
    work_ = Work::None;
    switch (outcome.kind) {
    case TokenOutcome::Kind::Granted: {
        accessToken_ = outcome.grant.accessToken;
        expiresAt_ = outcome.grant.expiresAt;
        TokenAnswer granted{TokenAnswer::Kind::Token, accessToken_, {}, false};
        // A provider that rotates refresh tokens (Microsoft) has just made
        // the old one useless: the new one must be kept.
        const QString& rotated = outcome.grant.refreshToken;
        if (!rotated.isEmpty() && rotated != sentToken) {
            if (Status kept = store_.write(SecretKind::RefreshToken, account_, rotated); !kept)
                granted.text = QStringLiteral("新しいリフレッシュトークンを保存できませんでした: %1").arg(kept.error());
        }
        return answer(granted);
    }
    case TokenOutcome::Kind::InvalidGrant: {
        revoked_ = true;
        revokedNews_ = true;
        accessToken_.clear();
        // A token the provider refuses is of no use to anyone; a store that
        // cannot remove it is still never asked for it again in this run.
        store_.remove(SecretKind::RefreshToken, account_);
        if (userWaiting_) return startSignIn();
        // The words the later timed checks say too: what is news is said
        // once, and the later ones add nothing to it.
        return answer({TokenAnswer::Kind::SignInNeeded, {}, kSignInAgainText, false});
    }
    case TokenOutcome::Kind::Failed:
        return answer(Failed(outcome.text));
    }
}

void OAuth2Tokens::startSignIn() {
    auto* signIn = new OAuth2SignIn(provider_, client_, this);
    signIn->setBrowser(browser_);
    signIn->setTimeouts(timeouts_);
    connect(signIn, &OAuth2SignIn::finished, this, &OAuth2Tokens::onSignedIn);
    if (Status started = signIn->start(); !started) {
        signIn->deleteLater();
        return answer(Failed(started.error()));
    }
    signIn_ = signIn;
    work_ = Work::SigningIn;
    Q_EMIT statusText(kSignInInBrowser);
}

void OAuth2Tokens::onSignedIn(const TokenOutcome& outcome) {
    work_ = Work::None;
    if (signIn_) signIn_->deleteLater();
    signIn_ = nullptr;
    if (!outcome.granted()) return answer(Failed(outcome.text));
    accessToken_ = outcome.grant.accessToken;
    expiresAt_ = outcome.grant.expiresAt;
    revoked_ = false;
    TokenAnswer granted{TokenAnswer::Kind::Token, accessToken_, {}, false};
    if (!outcome.grant.refreshToken.isEmpty()) {
        if (Status kept = store_.write(SecretKind::RefreshToken, account_, outcome.grant.refreshToken); !kept)
            granted.text = QStringLiteral("リフレッシュトークンを保存できませんでした。次の受信でもサインインが必要です: %1")
                               .arg(kept.error());
    }
    answer(granted);
}

void OAuth2Tokens::answer(TokenAnswer answer) {
    answer.signInRevoked = std::exchange(revokedNews_, false);
    userWaiting_ = false;
    Q_EMIT answered(answer);
}

Result<std::chrono::microseconds> TimeTokenRefresh(const OAuth2Provider& provider, const OAuth2Client& client,
                                                   const QString& refreshToken, std::chrono::milliseconds timeout) {
    if (Status urls = CheckOAuthEndpoints(provider); !urls) return Failure{urls.error()};
    OAuthNetwork network(timeout);
    QEventLoop loop;
    std::optional<TokenOutcome> outcome;
    QElapsedTimer clock;
    clock.start();
    PostTokenForm(network, provider.tokenUrl, RefreshForm(provider, client, refreshToken),
                  {refreshToken, client.clientSecret}, [&](const TokenOutcome& read) {
                      outcome = read;
                      loop.quit();
                  });
    if (!outcome) loop.exec();
    const auto elapsed = std::chrono::microseconds(clock.nsecsElapsed() / 1000);
    if (!outcome->granted()) return Failure{outcome->text};
    return elapsed;
}

}  // namespace lumopet::mail
