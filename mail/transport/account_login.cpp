#include "mail/transport/account_login.h"

#include "core/settings_files/account_file.h"
#include "core/settings_files/account_options.h"
#include "core/settings_files/receive_options.h"
#include "mail/account_values.h"
#include "mail/transport/oauth2_clients.h"
#include "mail/transport/oauth2_tokens.h"
#include "mail/transport/provider_lookup.h"
#include "store/secret_stores.h"

namespace lumopet {

AccountLogin::AccountLogin(Program& program, QObject* parent) : QObject(parent), program_(program) {}

AccountLogin::~AccountLogin() {
    // A sign-in that ends because the program does answers nobody.
    waiting_.clear();
    if (tokens_) tokens_->disconnect(this);
}

LoginAnswer AccountLogin::passwordLogin() {
    LoginAnswer answer;
    answer.credentials = PasswordCredentials(program_);
    return answer;
}

mail::OAuth2Tokens* AccountLogin::tokensFor(const QString& issuer, const QString& id, QString& whyNot) {
    const Result<mail::MailAddressParts> address = mail::SplitMailAddress(program_.values.MailAddress.trimmed());
    if (!address) {
        whyNot = QStringLiteral("OAuth2 でサインインするには、サーバー設定のメールアドレスが必要です。\n") + address.error();
        return nullptr;
    }
    const QStringList folders = mail::ProgramProviderFolders(program_.paths);
    const std::optional<mail::ProviderFileMatch> match = mail::FindProviderFile(folders, address.value().domain, {});
    if (!match || !match->settings.oauth2 || match->settings.oauth2->issuer.compare(issuer, Qt::CaseInsensitive) != 0) {
        whyNot = QStringLiteral("%1 の設定ファイルに、OAuth2 のサインイン先「%2」が見つかりません。"
                                "アカウント設定をやり直してください。")
                     .arg(address.value().domain, issuer);
        return nullptr;
    }
    const Result<mail::OAuth2Client> client = mail::FindOAuth2Client(program_.paths, issuer);
    if (!client) {
        whyNot = client.error();
        return nullptr;
    }
    const mail::OAuth2Provider& provider = *match->settings.oauth2;
    // Tokens are the account's at this provider with this client: any of
    // them changed, the tokens in memory are no longer the ones to use.
    const QString key = QStringList{provider.issuer, provider.authUrl, provider.tokenUrl, provider.scope,
                                    client.value().clientId, id}
                            .join(QChar(0));
    if (!tokens_ || key != tokensKey_) {
        if (!store_) store_ = OpenSecretStore(program_.paths);
        tokens_ = std::make_unique<mail::OAuth2Tokens>(provider, client.value(), *store_, id);
        connect(tokens_.get(), &mail::OAuth2Tokens::answered, this, &AccountLogin::tokenAnswered);
        connect(tokens_.get(), &mail::OAuth2Tokens::statusText, this, &AccountLogin::statusText);
        tokensKey_ = key;
        tokensUser_ = id;
    }
    return tokens_.get();
}

void AccountLogin::prepare(bool userAsked, Answered done) {
    const Result<AccountOptions> options = ReadAccountOptions(program_.paths.path(files::ProgramOptions));
    // A file that cannot be read signs in as the program always did.
    if (!options || options.value().SignIn != SignInMethod::OAuth2) {
        done(passwordLogin());
        return;
    }
    LoginAnswer answer;
    answer.withToken = true;
    const QString id = ReadAccount(program_.paths.path(files::AccountFile)).UserId;
    if (id.isEmpty()) {
        answer.text = QStringLiteral("ID が設定されていません。ID/PASS にメールアドレスを入れてください。");
        done(answer);
        return;
    }
    mail::OAuth2Tokens* tokens = tokensFor(options.value().OAuthIssuer.trimmed(), id, answer.text);
    if (!tokens) {
        done(answer);
        return;
    }
    waiting_.push_back(std::move(done));
    tokens->requestToken(userAsked);
}

void AccountLogin::askedAgain() {
    if (tokens_ && !waiting_.empty()) tokens_->requestToken(true);
}

void AccountLogin::renewAfterRefusal(Answered done) {
    if (!tokens_) {
        LoginAnswer answer;
        answer.withToken = true;
        answer.text = QStringLiteral("サーバーがトークンでのログインを拒否しました。");
        done(answer);
        return;
    }
    waiting_.push_back(std::move(done));
    tokens_->renewAfterRefusal();
}

void AccountLogin::tokenAnswered(const mail::TokenAnswer& token) {
    LoginAnswer answer;
    answer.withToken = true;
    answer.text = token.text;
    answer.signInRevoked = token.signInRevoked;
    if (token.kind == mail::TokenAnswer::Kind::Token) answer.credentials = mail::Credentials::bearer(tokensUser_, token.accessToken);
    // Everyone waiting gets the one answer: a timed check and a send that
    // asked at once share the refresh.
    std::vector<Answered> waiting = std::move(waiting_);
    waiting_.clear();
    for (const Answered& done : waiting) done(answer);
}

}  // namespace lumopet
