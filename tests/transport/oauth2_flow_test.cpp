// The sign-in and the token keeper against the tests' authorization server
// (scripts/oauth2_server.py), with the tests' browser as $BROWSER
// (tests/scripts/oauth_browser.py) where the desktop's browser is meant,
// and with a browser played here where a redirect must be forged.

#include "mail/transport/oauth2_network.h"
#include "mail/transport/oauth2_sign_in.h"
#include "mail/transport/oauth2_tokens.h"
#include "tests/support/memory_secret_store.h"
#include "tests/support/temp_folder.h"
#include "tests/transport/oauth2_test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <vector>

namespace lumopet::mail {
namespace {

using test::OAuthServer;
using test::WaitFor;

const OAuth2Client kClient{QStringLiteral("lumopet-test"), QString()};
const QString kAccount = QStringLiteral("alice@example.jp");

OAuth2Provider ProviderAt(const QString& authUrl, const QString& tokenUrl) {
    return {QStringLiteral("oauth.test"), QStringLiteral("mail offline_access"), authUrl, tokenUrl};
}
OAuth2Provider ProviderOf(const OAuthServer& server) {
    return ProviderAt(server.url(QStringLiteral("/authorize")), server.url(QStringLiteral("/token")));
}

// The account's refresh token in a keyring in memory.
struct Secrets {
    explicit Secrets(const QString& refreshToken = {}) {
        if (!refreshToken.isEmpty()) entries->secrets[{SecretKind::RefreshToken, kAccount}] = refreshToken;
    }
    QString refreshToken() const {
        const auto found = entries->secrets.find({SecretKind::RefreshToken, kAccount});
        return found == entries->secrets.end() ? QString() : found->second;
    }
    std::shared_ptr<test::MemorySecretStore::Entries> entries = std::make_shared<test::MemorySecretStore::Entries>();
    test::MemorySecretStore store{entries};
};

// The keeper with its answers and status texts collected.
struct Keeper {
    Keeper(const OAuth2Provider& provider, Secrets& secrets) : tokens(provider, kClient, secrets.store, kAccount) {
        QObject::connect(&tokens, &OAuth2Tokens::answered, [this](const TokenAnswer& answer) { answers.push_back(answer); });
        QObject::connect(&tokens, &OAuth2Tokens::statusText, [this](const QString& text) { statuses << text; });
    }
    TokenAnswer ask(bool userAsked) { return waitFor([&] { tokens.requestToken(userAsked); }); }
    TokenAnswer renew() { return waitFor([&] { tokens.renewAfterRefusal(); }); }
    TokenAnswer waitFor(const std::function<void()>& call) {
        const size_t before = answers.size();
        call();
        EXPECT_TRUE(WaitFor([&] { return answers.size() > before; }, 20'000));
        EXPECT_EQ(answers.size(), before + 1);
        return answers.size() > before ? answers.back() : TokenAnswer{};
    }
    OAuth2Tokens tokens;
    std::vector<TokenAnswer> answers;
    QStringList statuses;
};

// The desktop's browser is the tests' script; it notes each URL it is given.
class DesktopBrowser {
public:
    DesktopBrowser() {
        // xdg-open, where installed, takes $BROWSER only outside a known desktop.
        for (const char* desktop : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
            qunsetenv(desktop);
        qputenv("BROWSER", LUMOPET_SOURCE_DIR "/tests/scripts/oauth_browser.py");
        qputenv("OAUTH_BROWSER_LOG", folder_.path(QStringLiteral("log")).toUtf8());
    }
    ~DesktopBrowser() { qunsetenv("OAUTH_BROWSER_LOG"); }
    QStringList calls() const {
        QTest::qWait(100);  // a browser wrongly started has had its time
        return QString::fromUtf8(folder_.read(QStringLiteral("log"))).remove(QStringLiteral("<missing>")).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    test::TempFolder folder_;
};

// The server, the tests' browser as the desktop's, the keyring and the keeper.
struct Desk {
    explicit Desk(const QStringList& serverOptions = {}, const QString& refreshToken = {})
        : server(serverOptions), store(refreshToken), keeper(ProviderOf(server), store) {}
    OAuthServer server;
    DesktopBrowser browser;
    Secrets store;
    Keeper keeper;
};

TEST(OAuth2Flow, FirstSignInInTheDesktopBrowserGetsTokensWithPkceAndClosesTheListener) {
    Desk d;
    const TokenAnswer answer = d.keeper.ask(true);
    ASSERT_EQ(answer.kind, TokenAnswer::Kind::Token) << answer.text.toStdString();
    EXPECT_EQ(d.keeper.statuses, QStringList{QStringLiteral("ブラウザーでサインインしてください。")});
    // The server exchanges a code only for the verifier of its S256 challenge.
    EXPECT_EQ(d.server.tokenRequests("authorization_code"), 1);
    EXPECT_FALSE(d.store.refreshToken().isEmpty());
    const QStringList calls = d.browser.calls();
    ASSERT_EQ(calls.size(), 1);
    const QUrlQuery asked{QUrl(calls.front())};
    EXPECT_EQ(asked.queryItemValue(QStringLiteral("state")).size(), 43);
    const QUrl redirect(asked.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    EXPECT_EQ(redirect.host(), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(test::RawRequest(static_cast<quint16>(redirect.port()), "GET / HTTP/1.1\r\n\r\n").isEmpty())
        << "the listener is closed after the sign-in";
}

TEST(OAuth2Flow, AnExpiringTokenIsRefreshedWithoutTheBrowserOncePerCheck) {
    // 30 s is inside the minute a token must have left: every check refreshes.
    Desk d({QStringLiteral("--access-lifetime"), QStringLiteral("30")});
    const TokenAnswer signedIn = d.keeper.ask(true);
    ASSERT_EQ(signedIn.kind, TokenAnswer::Kind::Token) << signedIn.text.toStdString();
    const TokenAnswer refreshed = d.keeper.ask(false);
    ASSERT_EQ(refreshed.kind, TokenAnswer::Kind::Token) << refreshed.text.toStdString();
    EXPECT_NE(refreshed.accessToken, signedIn.accessToken);
    // The server refuses the new token too: this check refreshed already.
    EXPECT_EQ(d.keeper.renew().kind, TokenAnswer::Kind::Failed);
    EXPECT_EQ(d.server.tokenRequests("refresh_token"), 1);
    // A click is a new check, and opens no browser while a refresh works.
    EXPECT_EQ(d.keeper.ask(true).kind, TokenAnswer::Kind::Token);
    EXPECT_EQ(d.server.tokenRequests("refresh_token"), 2);
    EXPECT_EQ(d.browser.calls().size(), 1);
}

TEST(OAuth2Flow, AFreshTokenIsGivenAtOnceAndARefusedOneRenewedOnce) {
    Desk d;
    const TokenAnswer signedIn = d.keeper.ask(true);
    ASSERT_EQ(signedIn.kind, TokenAnswer::Kind::Token) << signedIn.text.toStdString();
    const size_t before = d.keeper.answers.size();
    d.keeper.tokens.requestToken(false);
    ASSERT_EQ(d.keeper.answers.size(), before + 1) << "a fresh token is answered before requestToken returns";
    EXPECT_EQ(d.keeper.answers.back().accessToken, signedIn.accessToken);
    const TokenAnswer renewed = d.keeper.renew();
    ASSERT_EQ(renewed.kind, TokenAnswer::Kind::Token) << renewed.text.toStdString();
    EXPECT_NE(renewed.accessToken, signedIn.accessToken);
    EXPECT_EQ(d.keeper.renew().kind, TokenAnswer::Kind::Failed);
    EXPECT_EQ(d.server.tokenRequests("refresh_token"), 1);
}

// Timed, the sign-in is left to the user; clicked, the browser opens. Either
// way the revocation is said once and the dead token leaves the keyring; the
// token of a new sign-in is tried again.
TEST(OAuth2Flow, ARevokedRefreshTokenIsSaidOnceRemovedAndNotTriedAgainUntilASignIn) {
    for (const bool click : {false, true}) {
        SCOPED_TRACE(click ? "click" : "timed");
        Desk d({}, QStringLiteral("RT-revoked"));
        const TokenAnswer first = d.keeper.ask(click);
        EXPECT_EQ(first.kind, click ? TokenAnswer::Kind::Token : TokenAnswer::Kind::SignInNeeded) << first.text.toStdString();
        EXPECT_TRUE(first.signInRevoked);
        EXPECT_FALSE(first.text.contains(QStringLiteral("RT-revoked")));
        EXPECT_NE(d.store.refreshToken(), QStringLiteral("RT-revoked"));
        EXPECT_EQ(d.store.refreshToken().isEmpty(), !click);
        if (click) {
            EXPECT_EQ(d.browser.calls().size(), 1);
            continue;
        }
        // Now without a refresh token: a timed check opens no browser.
        const TokenAnswer second = d.keeper.ask(false);
        EXPECT_EQ(second.kind, TokenAnswer::Kind::SignInNeeded);
        EXPECT_FALSE(second.signInRevoked);
        EXPECT_EQ(d.server.tokenRequests("refresh_token"), 1);
        EXPECT_TRUE(d.browser.calls().isEmpty());
        EXPECT_EQ(d.server.stats().value(QLatin1String("authorize")).toInt(), 0);
        ASSERT_EQ(d.keeper.ask(true).kind, TokenAnswer::Kind::Token);
        d.server.revokeRefreshTokens();
        EXPECT_TRUE(d.keeper.renew().signInRevoked);
        EXPECT_EQ(d.server.tokenRequests("refresh_token"), 2);
    }
}

TEST(OAuth2Flow, AClickDuringTheSignInShowsItsPageAgainAndEveryoneGetsItsOneAnswer) {
    Secrets store;
    Keeper keeper(ProviderAt(QStringLiteral("https://accounts.example.jp/auth"), QStringLiteral("https://accounts.example.jp/token")), store);
    QList<QUrl> opened;
    keeper.tokens.setBrowser([&](const QUrl& url) {
        opened << url;
        return true;
    });
    keeper.tokens.requestToken(true);
    keeper.tokens.requestToken(false);
    keeper.tokens.requestToken(true);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], opened[0]) << "the same request, its state and challenge";
    EXPECT_TRUE(keeper.answers.empty());
    keeper.tokens.cancelSignIn();
    ASSERT_EQ(keeper.answers.size(), 1u);
    EXPECT_EQ(keeper.answers.front().kind, TokenAnswer::Kind::Failed);
    EXPECT_FALSE(keeper.tokens.signInRunning());
}

TEST(OAuth2Flow, ARotatedRefreshTokenTakesThePlaceOfTheOldOne) {
    Desk d({QStringLiteral("--rotate-refresh"), QStringLiteral("--access-lifetime"), QStringLiteral("30")});
    ASSERT_EQ(d.keeper.ask(true).kind, TokenAnswer::Kind::Token);
    for (int check = 0; check < 2; ++check) {
        const QString before = d.store.refreshToken();
        const TokenAnswer answer = d.keeper.ask(false);
        ASSERT_EQ(answer.kind, TokenAnswer::Kind::Token) << check << answer.text.toStdString();
        EXPECT_NE(d.store.refreshToken(), before);
    }
}

// The sign-in with a browser played here: the test takes the authorization
// URL, lets the server approve it, and brings the redirect to the listener
// itself, whole or changed.
struct PlayedSignIn {
    explicit PlayedSignIn(const OAuth2Provider& provider) : signIn(provider, kClient) {
        signIn.setBrowser([this](const QUrl& url) { return !(authorization = url).isEmpty(); });
        QObject::connect(&signIn, &OAuth2SignIn::finished, [this](const TokenOutcome& outcome) { outcomes.push_back(outcome); });
    }
    // The server's redirect to the listener, as a request target.
    QByteArray approvedRedirect() const {
        const QUrl location(QString::fromLatin1(test::HttpGet(authorization.toString()).location));
        EXPECT_EQ(location.port(), port());
        return location.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    }
    quint16 port() const { return static_cast<quint16>(QUrl(signIn.redirectUri()).port()); }
    QByteArray visit(const QByteArray& target) const {
        return test::RawRequest(port(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    bool ended() { return WaitFor([this] { return !outcomes.empty(); }); }
    OAuth2SignIn signIn;
    QUrl authorization;
    std::vector<TokenOutcome> outcomes;
};

// The redirect with a parameter replaced (an empty value: removed), and
// extra appended.
QByteArray Changed(const QByteArray& target, const char* name, const char* value, const char* extra = "") {
    QUrl url(QStringLiteral("http://h") + QString::fromLatin1(target));
    QUrlQuery query(url);
    query.removeAllQueryItems(QString::fromLatin1(name));
    if (*value) query.addQueryItem(QString::fromLatin1(name), QString::fromLatin1(value));
    url.setQuery(query);
    return url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) + extra;
}

struct RedirectCase {
    const char* name;
    const char* parameter;  // replaced in the server's redirect
    const char* value;
    const char* extra;
    const char* page;     // the English half of the page
    const char* outcome;  // "": the sign-in goes on, and the real redirect completes it
};

class ForgedRedirect : public testing::TestWithParam<RedirectCase> {};

TEST_P(ForgedRedirect, IsRefusedWithAPageAndAsksForNoToken) {
    const RedirectCase& c = GetParam();
    OAuthServer server;
    PlayedSignIn played(ProviderOf(server));
    ASSERT_TRUE(played.signIn.start().ok());
    const QByteArray real = played.approvedRedirect();
    const QByteArray page = played.visit(Changed(real, c.parameter, c.value, c.extra));
    EXPECT_TRUE(page.startsWith("HTTP/1.1 400")) << page.toStdString();
    EXPECT_TRUE(page.contains(c.page)) << page.toStdString();
    EXPECT_FALSE(page.contains(QUrlQuery(QString::fromLatin1(real.mid(2))).queryItemValue(QStringLiteral("code")).toLatin1()));
    if (*c.outcome) {
        ASSERT_TRUE(played.ended());
        EXPECT_TRUE(played.outcomes.front().text.contains(QString::fromUtf8(c.outcome)));
        EXPECT_TRUE(played.visit(real).isEmpty()) << "the listener is closed";
    } else {
        QTest::qWait(100);
        EXPECT_TRUE(played.outcomes.empty());
        EXPECT_TRUE(played.visit(real).startsWith("HTTP/1.1 200"));
        ASSERT_TRUE(played.ended());
        EXPECT_TRUE(played.outcomes.front().granted()) << played.outcomes.front().text.toStdString();
    }
    EXPECT_EQ(server.tokenRequests("authorization_code"), *c.outcome ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ForgedRedirect,
    testing::Values(RedirectCase{"wrong_state", "state", "forged", "", "does not belong to the sign-in", ""},
                    RedirectCase{"no_code", "code", "", "", "holds no authorization code", "認可コードがありませんでした"},
                    RedirectCase{"user_said_no", "code", "", "&error=access_denied", "was not granted", "access_denied"}),
    [](const testing::TestParamInfo<RedirectCase>& info) { return std::string(info.param.name); });

TEST(OAuth2Redirect, ASecondRedirectIsRefusedAndAsksForNoSecondToken) {
    OAuthServer server;
    // A token endpoint that holds the first exchange open, so that the
    // sign-in still listens when the second redirect comes.
    test::ScriptedEndpoint silent{QByteArray()};
    PlayedSignIn played(ProviderAt(server.url(QStringLiteral("/authorize")), silent.url()));
    ASSERT_TRUE(played.signIn.start().ok());
    const QByteArray real = played.approvedRedirect();
    EXPECT_TRUE(played.visit(real).startsWith("HTTP/1.1 200"));
    const QByteArray second = played.visit(real);
    EXPECT_TRUE(second.contains("A second one is refused")) << second.toStdString();
    EXPECT_TRUE(second.contains(QStringLiteral("二度目の応答は受け付けません").toUtf8()));
    QTest::qWait(100);
    EXPECT_EQ(silent.requests, 1);
    played.signIn.cancel();
    ASSERT_EQ(played.outcomes.size(), 1u);
    EXPECT_TRUE(played.outcomes.front().text.contains(QStringLiteral("取り消しました")));
    EXPECT_TRUE(played.visit(real).isEmpty()) << "the listener is closed";
}

TEST(OAuth2Redirect, ASignInLeftInTheBrowserEndsAtItsTimeOutAndCloses) {
    OAuthServer server;
    PlayedSignIn played(ProviderOf(server));
    played.signIn.setTimeouts({std::chrono::seconds(1), std::chrono::milliseconds(300)});
    ASSERT_TRUE(played.signIn.start().ok());
    const quint16 port = played.port();
    ASSERT_TRUE(played.ended());
    EXPECT_TRUE(played.outcomes.front().text.contains(QStringLiteral("時間内に終わりませんでした")));
    EXPECT_TRUE(test::RawRequest(port, "GET / HTTP/1.1\r\n\r\n").isEmpty());
}

// Token endpoints that misbehave: the keeper says so plainly, keeps the
// refresh token, and never shows it.
struct HostileCase {
    const char* name;
    QByteArray response;  // empty: says nothing
    const char* textHas;
};

class HostileTokenEndpoint : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTokenEndpoint, FailsPlainlyAndKeepsTheTokens) {
    test::ScriptedEndpoint endpoint(GetParam().response);
    Secrets store(QStringLiteral("RT-kept-1"));
    Keeper keeper(ProviderAt(QStringLiteral("https://accounts.example.jp/auth"), endpoint.url()), store);
    keeper.tokens.setTimeouts({std::chrono::milliseconds(500), std::chrono::minutes(1)});
    QElapsedTimer clock;
    clock.start();
    const TokenAnswer answer = keeper.ask(false);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(answer.kind, TokenAnswer::Kind::Failed);
    EXPECT_TRUE(answer.text.contains(QString::fromUtf8(GetParam().textHas))) << answer.text.toStdString();
    EXPECT_FALSE(answer.text.contains(QStringLiteral("RT-kept-1"))) << answer.text.toStdString();
    EXPECT_EQ(store.refreshToken(), QStringLiteral("RT-kept-1"));
    // (Qt sends a request again when a connection closes without an answer.)
    EXPECT_GE(endpoint.requests, 1);
}

QByteArray HttpResponse(const char* status, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray(status) + "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HostileTokenEndpoint,
    // What a body says is the reply table's (oauth2_logic_test); here the
    // keeper's part: no HTTP at all, the refresh token among the secrets, no answer.
    testing::Values(HostileCase{"not_http", "SSH-2.0-OpenSSH\r\n\r\n", "トークンの発行元"},
                    HostileCase{"echoes_the_token",
                                HttpResponse("400 Bad Request", R"({"error":"invalid_request","error_description":"RT-kept-1 is bad"})"),
                                "invalid_request"},
                    HostileCase{"silent", QByteArray(), "時間内に答えがありませんでした"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

TEST(OAuth2Refusals, PlainHttpOffThisMachineOrASilentKeyringSendsAndOpensNothing) {
    const struct {
        const char* auth;
        const char* token;
        bool keyringAnswers;
        const char* textHas;
    } rows[] = {
        {"https://accounts.example.jp/auth", "http://accounts.example.jp/token", true, "https ではありません"},
        {"http://accounts.example.jp/auth", "https://accounts.example.jp/token", true, "https ではありません"},
        {"https://accounts.example.jp/auth", "https://accounts.example.jp/token", false, "キーリング"},
    };
    int browserCalls = 0;
    for (const auto& row : rows) {
        for (const bool userAsked : {false, true}) {
            // A click without a refresh token goes to the browser sign-in.
            Secrets store(userAsked ? QString() : QStringLiteral("RT-1"));
            store.entries->answers = row.keyringAnswers;
            Keeper keeper(ProviderAt(QString::fromLatin1(row.auth), QString::fromLatin1(row.token)), store);
            keeper.tokens.setBrowser([&](const QUrl&) { return ++browserCalls > 0; });
            const TokenAnswer answer = keeper.ask(userAsked);
            EXPECT_EQ(answer.kind, TokenAnswer::Kind::Failed) << row.auth;
            EXPECT_TRUE(answer.text.contains(QString::fromUtf8(row.textHas))) << answer.text.toStdString();
            store.entries->answers = true;
            EXPECT_EQ(store.refreshToken(), userAsked ? QString() : QStringLiteral("RT-1"));
        }
    }
    EXPECT_EQ(browserCalls, 0);
    // The network itself sends nothing to such a URL either.
    OAuthNetwork network(std::chrono::seconds(5));
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(QStringLiteral("http://192.0.2.1/token")))));
    ASSERT_TRUE(WaitFor([&] { return reply->isFinished(); }, 2000));
    EXPECT_EQ(reply->error(), QNetworkReply::ProtocolUnknownError);
}

TEST(OAuth2Https, TheTokenEndpointsCertificateIsCheckedAgainstLumopetCaFile) {
    test::HttpsFileServer https;
    ASSERT_TRUE(https.running());
    const QString tokenUrl = QStringLiteral("https://localhost:%1/token").arg(https.port());
    for (const bool trusted : {true, false}) {
        if (trusted) qputenv("LUMOPET_CA_FILE", https.caFile().toUtf8());
        Secrets store(QStringLiteral("RT-1"));
        Keeper keeper(ProviderAt(QStringLiteral("https://localhost/auth"), tokenUrl), store);
        const TokenAnswer answer = keeper.ask(false);
        qunsetenv("LUMOPET_CA_FILE");
        // Trusted, the handshake succeeds and the file server refuses the
        // POST; untrusted, no request is made at all.
        EXPECT_TRUE(answer.text.contains(trusted ? QStringLiteral("HTTP 501") : QStringLiteral("接続できません")))
            << trusted << answer.text.toStdString();
    }
}

TEST(OAuth2Benchmark, ARefreshOnLoopbackIsTimedAndARefusedOneFails) {
    OAuthServer server;
    PlayedSignIn played(ProviderOf(server));
    ASSERT_TRUE(played.signIn.start().ok());
    played.visit(played.approvedRedirect());
    ASSERT_TRUE(played.ended());
    const QString refreshToken = played.outcomes.front().grant.refreshToken;
    const Result<std::chrono::microseconds> timed = TimeTokenRefresh(ProviderOf(server), kClient, refreshToken);
    ASSERT_TRUE(timed.ok()) << timed.error().toStdString();
    std::printf("one refresh on loopback: %.2f ms\n", static_cast<double>(timed.value().count()) / 1000.0);
    server.revokeRefreshTokens();
    EXPECT_FALSE(TimeTokenRefresh(ProviderOf(server), kClient, refreshToken).ok());
    EXPECT_EQ(server.tokenRequests("refresh_token"), 2);
}

}  // namespace
}  // namespace lumopet::mail
