// Not a test: prints what an OAuth2 refresh adds to a mail check on
// loopback, beside a check that logs in with a password and one that logs
// in with a token at hand, in the same run against the same Dovecot
// (scripts/benchmark_oauth2.sh). A check here is what every check does
// before the first message: connect over TLS, log in, list, quit.

#include "mail/mail_library.h"
#include "mail/transport/oauth2_tokens.h"
#include "tests/e2e/local_mail_servers.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace lumopet;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of one check with login, or -1 when it failed.
double timedCheck(const QString& server, const mail::Credentials& login) {
    QElapsedTimer clock;
    clock.start();
    QString error;
    const int handle = NMailPop3Connect(server, error);
    if (handle < 0) return -1;
    const int listed = NMailPop3Authenticate(handle, login);
    NMailPop3Close(handle);
    return listed < 0 ? -1 : static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    NMailInitializeWinSock();
    test::LocalMailServers servers({QStringLiteral("alice:alice-pw")}, test::OAuth2Options(QStringLiteral("alice")));
    if (!servers.running()) {
        std::fprintf(stderr, "servers: %s\n", qPrintable(servers.error()));
        return 1;
    }
    qputenv("LUMOPET_CA_FILE", servers.caFile().toUtf8());
    const Result<test::OAuthTokens> tokens = servers.signIn();
    if (!tokens) {
        std::fprintf(stderr, "sign-in: %s\n", qPrintable(tokens.error()));
        return 1;
    }
    const mail::OAuth2Provider provider{QStringLiteral("tests"), QStringLiteral("mail"), servers.authorizeUrl(),
                                        servers.tokenUrl()};
    const mail::OAuth2Client client{QStringLiteral("lumopet-tests"), QString()};
    const mail::Credentials password = mail::Credentials::password(QStringLiteral("alice"), QStringLiteral("alice-pw"));
    const mail::Credentials bearer = mail::Credentials::bearer(QStringLiteral("alice"), tokens.value().accessToken);

    std::vector<double> passwordChecks, tokenChecks, refreshes;
    for (int round = 0; round < rounds; ++round) {
        const double withPassword = timedCheck(servers.pop3s(), password);
        const double withToken = timedCheck(servers.pop3s(), bearer);
        const auto refreshed = mail::TimeTokenRefresh(provider, client, tokens.value().refreshToken);
        if (withPassword < 0 || withToken < 0 || !refreshed) {
            std::fprintf(stderr, "round %d failed: %s\n", round, refreshed ? "a check" : qPrintable(refreshed.error()));
            return 1;
        }
        passwordChecks.push_back(withPassword);
        tokenChecks.push_back(withToken);
        refreshes.push_back(static_cast<double>(refreshed.value().count()) / 1000.0);
    }
    std::printf("median of %d rounds, POP3 over TLS on loopback (connect, log in, list, quit)\n", rounds);
    std::printf("  check with a password:           %7.1f ms\n", median(passwordChecks));
    std::printf("  check with a token at hand:      %7.1f ms\n", median(tokenChecks));
    std::printf("  refresh of the token:            %7.1f ms\n", median(refreshes));
    std::printf("  check with a refresh before it:  %7.1f ms\n", median(tokenChecks) + median(refreshes));
    NMailEndWinSock();
    return 0;
}
