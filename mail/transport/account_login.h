#pragma once
// What the account logs in with, made on the window thread before a mail
// check or a send starts and handed to its worker as a value:
//  - SignIn=password (lumopet.ini [Account], the default): the ID of
//    iniIdPass.ini with the password the secret store keeps for it, APOP
//    when the server settings ask;
//  - SignIn=oauth2: the ID with an access token of the issuer named in
//    OAuthIssuer, from the URLs of the provider file of the own address's
//    domain. The token keeper refreshes it, or on a click signs in through
//    the browser.

#include "core/program.h"
#include "mail/mail_transport.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace lumopet {

class SecretStore;
namespace mail {
class OAuth2Tokens;
struct TokenAnswer;
}  // namespace mail

struct LoginAnswer {
    // Not set: there is no login to make (for a password, the check asks
    // for it as it always did; for a token, text says why).
    mail::Credentials credentials;
    // Why there is no token, for a box (a click) or the status line.
    QString text;
    // The provider refused the refresh token: said once, in the status
    // line, the tray and a notification.
    bool signInRevoked = false;
    // The account signs in with a token (lumopet.ini says so).
    bool withToken = false;
    // No token to log in with: text says why, and the check or send ends.
    bool tokenMissing() const { return withToken && !credentials.isSet(); }
};

class AccountLogin : public QObject {
    Q_OBJECT
public:
    using Answered = std::function<void(const LoginAnswer&)>;

    explicit AccountLogin(Program& program, QObject* parent = nullptr);
    ~AccountLogin() override;

    // The login for a check or a send that starts now. userAsked: a click
    // (the browser may open), not a timed check. done comes once, maybe
    // before this returns.
    void prepare(bool userAsked, Answered done);
    // The server refused the token: one refresh, unless this check made
    // one already; never the browser.
    void renewAfterRefusal(Answered done);
    // A click while the login is being had: the browser's sign-in page
    // opens again (the user may have closed it). Nothing else changes.
    void askedAgain();

Q_SIGNALS:
    // "ブラウザーでサインインしてください。" while the browser sign-in runs.
    void statusText(const QString& text);

private:
    LoginAnswer passwordLogin();
    // The token keeper for the account as the files now describe it, made
    // anew when they changed; a text says why there can be none.
    mail::OAuth2Tokens* tokensFor(const QString& issuer, const QString& id, QString& whyNot);
    void tokenAnswered(const mail::TokenAnswer& answer);

    Program& program_;
    std::unique_ptr<SecretStore> store_;
    std::unique_ptr<mail::OAuth2Tokens> tokens_;
    QString tokensKey_;
    QString tokensUser_;
    std::vector<Answered> waiting_;
};

}  // namespace lumopet
