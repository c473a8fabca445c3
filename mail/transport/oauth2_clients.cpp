#include "mail/transport/oauth2_clients.h"

#include "core/settings_files/profile_file.h"

#include <QDir>

// Given when the program is built (CMake cache variables); empty: none.
#ifndef LUMOPET_OAUTH_GOOGLE_CLIENT_ID
#define LUMOPET_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef LUMOPET_OAUTH_GOOGLE_CLIENT_SECRET
#define LUMOPET_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef LUMOPET_OAUTH_MICROSOFT_CLIENT_ID
#define LUMOPET_OAUTH_MICROSOFT_CLIENT_ID ""
#endif

namespace lumopet::mail {

namespace {

// A client ID or secret is a line of printable ASCII; a buffer this size
// holds any a provider hands out.
constexpr qsizetype kValueBuffer = 1024;

}  // namespace

std::optional<OAuth2Client> ClientFromFile(QByteArrayView file, const QString& issuer) {
    OAuth2Client client{ProfileString(file, issuer, QStringLiteral("ClientId"), kValueBuffer),
                        ProfileString(file, issuer, QStringLiteral("ClientSecret"), kValueBuffer)};
    if (client.clientId.isEmpty()) return std::nullopt;
    return client;
}

std::optional<OAuth2Client> BuiltInClient(const QString& issuer) {
    OAuth2Client client;
    if (issuer.compare(kGoogleIssuer, Qt::CaseInsensitive) == 0)
        client = {QStringLiteral(LUMOPET_OAUTH_GOOGLE_CLIENT_ID), QStringLiteral(LUMOPET_OAUTH_GOOGLE_CLIENT_SECRET)};
    else if (issuer.compare(kMicrosoftIssuer, Qt::CaseInsensitive) == 0)
        client = {QStringLiteral(LUMOPET_OAUTH_MICROSOFT_CLIENT_ID), QString()};
    if (client.clientId.isEmpty()) return std::nullopt;
    return client;
}

Result<OAuth2Client> ChooseClient(const ClientSources& sources, const QString& issuer) {
    std::optional<OAuth2Client> chosen = ClientFromFile(sources.shippedFile, issuer);
    for (const auto& [builtFor, client] : sources.builtIn) {
        if (builtFor.compare(issuer, Qt::CaseInsensitive) == 0 && !client.clientId.isEmpty()) chosen = client;
    }
    if (std::optional<OAuth2Client> own = ClientFromFile(sources.userFile, issuer)) chosen = own;
    if (chosen) return *chosen;
    return Failure{QStringLiteral("%1 に使うクライアント ID がありません。★MailData の %2 の [%1] に ClientId を書いてください。")
                       .arg(issuer, kClientsFileName)};
}

QString ShippedClientsFile() { return QDir(ProgramPaths::ShippedDataFolder()).filePath(kClientsFileName); }

Result<OAuth2Client> FindOAuth2Client(const ProgramPaths& paths, const QString& issuer) {
    ClientSources sources;
    sources.shippedFile = ReadProfileFile(ShippedClientsFile());
    for (const QString& known : {kGoogleIssuer, kMicrosoftIssuer}) {
        if (std::optional<OAuth2Client> client = BuiltInClient(known)) sources.builtIn.emplace_back(known, *client);
    }
    sources.userFile = ReadProfileFile(paths.path(QStringLiteral("\\★MailData\\") + kClientsFileName));
    return ChooseClient(sources, issuer);
}

}  // namespace lumopet::mail
