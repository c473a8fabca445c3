#include "mail/transport/oauth2_sign_in.h"

#include "mail/transport/oauth2_network.h"
#include "mail/transport/oauth2_redirect_listener.h"

#include <QDesktopServices>
#include <QOAuth2AuthorizationCodeFlow>
#include <QProcess>
#include <QStandardPaths>

namespace lumopet::mail {

namespace {

// What the desktop's own services start (Qt's generic Unix services do the
// same): xdg-open, else the entries of $BROWSER, separated by colons, "%s"
// standing for the URL where an entry has it.
bool StartBrowserCommand(const QUrl& url) {
    const QString address = QString::fromLatin1(url.toEncoded());
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!xdgOpen.isEmpty()) return QProcess::startDetached(xdgOpen, {address});
    for (const QString& entry : qEnvironmentVariable("BROWSER").split(u':', Qt::SkipEmptyParts)) {
        QStringList words = QProcess::splitCommand(entry);
        if (words.isEmpty()) continue;
        const QString program = QStandardPaths::findExecutable(words.takeFirst());
        if (program.isEmpty()) continue;
        bool placed = false;
        for (QString& word : words) {
            if (word.contains(QLatin1String("%s"))) {
                word.replace(QLatin1String("%s"), address);
                placed = true;
            }
        }
        if (!placed) words << address;
        if (QProcess::startDetached(program, words)) return true;
    }
    return false;
}

}  // namespace

bool OpenInDesktopBrowser(const QUrl& url) {
    // A platform plugin without the desktop's services (offscreen, and
    // some minimal ones) answers false at once: the same programs are
    // started here then.
    return QDesktopServices::openUrl(url) || StartBrowserCommand(url);
}

OAuth2SignIn::OAuth2SignIn(OAuth2Provider provider, OAuth2Client client, QObject* parent)
    : QObject(parent), provider_(std::move(provider)), client_(std::move(client)) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish({TokenOutcome::Kind::Failed, {},
                QStringLiteral("サインインが時間内に終わりませんでした。もう一度お試しください。")});
    });
}

OAuth2SignIn::~OAuth2SignIn() { stopListening(); }

Status OAuth2SignIn::start() {
    if (running_) return Failure{QStringLiteral("サインインはすでに始まっています。")};
    if (Status urls = CheckOAuthEndpoints(provider_); !urls) return urls;
    if (client_.clientId.isEmpty()) return Failure{QStringLiteral("クライアント ID がありません。")};
    stopListening();
    network_ = new OAuthNetwork(timeouts_.tokenRequest, this);
    listener_ = new LoopbackRedirectListener(this);
    if (Status listening = listener_->listen(); !listening) {
        stopListening();
        return listening;
    }
    pkce_ = MakePkcePair();
    const QByteArray state = RandomUrlSafeText(32);
    listener_->setExpectedState(state);
    listener_->setSecrets({QString::fromLatin1(pkce_.verifier), client_.clientSecret});

    flow_ = new QOAuth2AuthorizationCodeFlow(network_, this);
    flow_->setAuthorizationUrl(QUrl(provider_.authUrl));
    flow_->setAccessTokenUrl(QUrl(provider_.tokenUrl));
    flow_->setClientIdentifier(client_.clientId);
    flow_->setClientIdentifierSharedKey(client_.clientSecret);
    flow_->setScope(provider_.scope);
    flow_->setState(QString::fromLatin1(state));
    flow_->setReplyHandler(listener_);
    const PkcePair pkce = pkce_;
    flow_->setModifyParametersFunction([pkce](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->insert(QStringLiteral("code_challenge"), QString::fromLatin1(pkce.challenge));
            parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->insert(QStringLiteral("code_verifier"), QString::fromLatin1(pkce.verifier));
        }
    });
    connect(flow_, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) { authorizationUrl_ = url; });
    connect(listener_, &LoopbackRedirectListener::redirectJudged, this, &OAuth2SignIn::onRedirect);
    connect(listener_, &LoopbackRedirectListener::tokenReplyRead, this, [this](const TokenOutcome& outcome) {
        if (outcome.kind != TokenOutcome::Kind::InvalidGrant) return finish(outcome);
        // At the code exchange invalid_grant is the code refused (used,
        // expired, or the verifier did not match): a new sign-in helps.
        finish({TokenOutcome::Kind::Failed, {},
                QStringLiteral("認可コードが受け付けられませんでした。もう一度サインインしてください。")});
    });

    authorizationUrl_.clear();
    flow_->grant();
    running_ = true;
    if (authorizationUrl_.isEmpty() || !browser_(authorizationUrl_)) {
        running_ = false;
        stopListening();
        return Failure{QStringLiteral("ブラウザーを開けませんでした。")};
    }
    deadline_.start(timeouts_.whole);
    return success();
}

bool OAuth2SignIn::reopenBrowser() { return running_ && browser_(authorizationUrl_); }

void OAuth2SignIn::cancel() {
    if (running_) finish({TokenOutcome::Kind::Failed, {}, QStringLiteral("サインインを取り消しました。")});
}

QString OAuth2SignIn::redirectUri() const { return listener_ ? listener_->callback() : QString(); }

void OAuth2SignIn::onRedirect(const RedirectVerdict& verdict) {
    switch (verdict.kind) {
    case RedirectKind::Accepted:
    case RedirectKind::NotOurs:
        return;  // the flow asks for the token; its answer ends the sign-in
    case RedirectKind::ProviderRefused:
        return finish({TokenOutcome::Kind::Failed, {},
                       QStringLiteral("サインインは許可されませんでした (%1)。").arg(verdict.providerError)});
    case RedirectKind::NoCode:
        return finish({TokenOutcome::Kind::Failed, {},
                       QStringLiteral("サインインの応答に認可コードがありませんでした。")});
    case RedirectKind::WrongState:
        // Not the answer to our request: another tab's, or forged by a
        // program on this machine. The real one may still come.
        Q_EMIT redirectRefused(QStringLiteral("このサインインのものではない応答を受け付けませんでした。"));
        return;
    case RedirectKind::Repeated:
        Q_EMIT redirectRefused(QStringLiteral("サインインの二度目の応答を受け付けませんでした。"));
        return;
    }
}

void OAuth2SignIn::finish(TokenOutcome outcome) {
    if (!running_) return;
    running_ = false;
    deadline_.stop();
    stopListening();
    Q_EMIT finished(outcome);
}

void OAuth2SignIn::stopListening() {
    // Deleted later: this may run inside one of their signals.
    for (QObject* part : std::initializer_list<QObject*>{network_, listener_, flow_}) {
        if (part) part->deleteLater();
    }
    if (listener_) listener_->close();
    network_ = nullptr;
    listener_ = nullptr;
    flow_ = nullptr;
}

}  // namespace lumopet::mail
